#include "net/NetSockBuf.h"
#include <algorithm>
#include <cstring>

namespace krv {

TBuffer::TBuffer(int size) : data_(static_cast<size_t>(size < 1 ? 1514 : size)) {}

void TBuffer::SetSize(int size) {
    if (size < 1) size = 1514;
    std::vector<char> block(static_cast<size_t>(size));
    if (DataCount() > 0) {
        // The unread part moves to the front of the new block; what does not fit is lost.
        int keep = std::min(DataCount(), size);
        std::memcpy(block.data(), data_.data() + rdCount_, static_cast<size_t>(keep));
        wrCount_ = keep;
    } else {
        wrCount_ = 0;
    }
    rdCount_ = 0;
    data_.swap(block);
}

int TBuffer::Write(const void* data, int len) {
    int n = std::min(len, Size() - wrCount_);
    if (n <= 0) return 0;
    std::memcpy(data_.data() + wrCount_, data, static_cast<size_t>(n));
    wrCount_ += n;
    return n;
}

const char* TBuffer::Peek(int& len) const {
    len = DataCount();
    return len > 0 ? data_.data() + rdCount_ : nullptr;
}

int TBuffer::Remove(int len) {
    int n = std::max(0, std::min(len, DataCount()));
    rdCount_ += n;
    if (rdCount_ >= wrCount_) rdCount_ = wrCount_ = 0;
    return n;
}

} // namespace krv
