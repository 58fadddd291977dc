// One block of a socket's send queue: bytes are written behind what is
// there and read from the front; once all is read the block starts over.
#pragma once
#include <vector>

namespace krv {

class TBuffer {
public:
    // A size below 1 gives a block of 1514 bytes.
    explicit TBuffer(int size);

    int Size() const { return static_cast<int>(data_.size()); }
    // Keeps the written bytes when unread data is present.
    void SetSize(int size);
    // Copies as much as fits; answers the count (0 when full).
    int Write(const void* data, int len);
    // The unread bytes and their count (null and 0 when none).
    const char* Peek(int& len) const;
    // Consumes up to len unread bytes; answers the count consumed.
    int Remove(int len);
    int DataCount() const { return wrCount_ - rdCount_; }

private:
    std::vector<char> data_;
    int wrCount_ = 0;
    int rdCount_ = 0;
};

} // namespace krv
