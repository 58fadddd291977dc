#include "net/LineNetSocket.h"
#include <algorithm>
#include <cstring>

namespace krv {

void TCustomLineNetSocket::SetLineMode(bool value) {
    if (value == lineMode_) return;
    lineMode_ = value;
    if ((rcvdCnt_ > 0 || lineReceived_) && Handle())
        ::PostMessageA(Handle(), WM_TRIGGER_DATA_AVAILABLE, 0, 0);
}

int TCustomLineNetSocket::RcvdCount() {
    if (lineMode_) return lineLength_;
    // Bytes left from line mode are read first, so they count too (and
    // are still there to read once the connection has closed).
    if (rcvdCnt_ > 0 && HSocket() == INVALID_SOCKET) return rcvdCnt_;
    int waiting = TCustomSocksNetSocket::RcvdCount();
    return rcvdCnt_ > 0 ? rcvdCnt_ + std::max(waiting, 0) : waiting;
}

bool TCustomLineNetSocket::DispatchSocketMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_TRIGGER_DATA_AVAILABLE) return TCustomSocksNetSocket::DispatchSocketMessage(msg, wParam, lParam);
    if (lineMode_) {
        DeliverLines(0);
        CheckLineLimit();
    } else {
        int previous = -1;
        while (rcvdCnt_ > 0 && rcvdCnt_ != previous) {
            previous = rcvdCnt_;
            if (!TCustomSocksNetSocket::DoDataAvailable(0)) break;
        }
    }
    return true;
}

void TCustomLineNetSocket::DoLineLimitExceeded(int rcvdLength, bool& clearData) {
    if (OnLineLimitExceeded) OnLineLimitExceeded(this, rcvdLength, clearData);
}

bool TCustomLineNetSocket::DoDataAvailable(WORD error) {
    if (!lineMode_ || LineEnd.empty() || SocksNegotiating()) return TCustomSocksNetSocket::DoDataAvailable(error);
    LineDataAvailable();
    return true;
}

bool TCustomLineNetSocket::LineDataAvailable() {
    int n = TCustomSocksNetSocket::WaitingCount();
    if (n < 0) return false;
    if (n == 0) n = 255;
    if (rcvBuf_.size() < static_cast<size_t>(rcvdCnt_) + n + 1) rcvBuf_.resize(static_cast<size_t>(rcvdCnt_) + n + 1);
    int got = TCustomSocksNetSocket::DoRecv(rcvBuf_.data() + rcvdCnt_, n, 0);
    if (got <= 0) return false;
    int oldCount = rcvdCnt_;
    if (LineEdit)
        got = EditNewBytes(oldCount, got);
    else if (LineEcho)
        Send(rcvBuf_.data() + oldCount, got);
    rcvdCnt_ = oldCount + got;
    rcvBuf_[static_cast<size_t>(rcvdCnt_)] = 0;
    // Start early enough to find a line end split across two receives.
    DeliverLines(std::max(0, oldCount - static_cast<int>(LineEnd.size())));
    CheckLineLimit();
    return true;
}

void TCustomLineNetSocket::DeliverLine() {
    lineReceived_ = true;
    while (lineMode_ && lineLength_ > 0) {
        int before = lineLength_;
        if (!TCustomSocksNetSocket::DoDataAvailable(0)) break;
        if (lineLength_ == before) break;   // a handler that does not read drops the rest
    }
    if (lineMode_ && lineLength_ > 0) RemoveFront(std::min(lineLength_, rcvdCnt_));
    lineLength_ = 0;
    lineReceived_ = false;
}

void TCustomLineNetSocket::DeliverLines(int searchFrom) {
    while (lineMode_ && !LineEnd.empty() && rcvdCnt_ > 0) {
        const char* begin = rcvBuf_.data();
        const char* end = begin + rcvdCnt_;
        const char* found = std::search(begin + std::min(searchFrom, rcvdCnt_), end, LineEnd.begin(), LineEnd.end());
        if (found == end) break;
        lineLength_ = static_cast<int>(found - begin) + static_cast<int>(LineEnd.size());
        DeliverLine();
        searchFrom = 0;
    }
}

void TCustomLineNetSocket::CheckLineLimit() {
    if (!lineMode_ || LineLimit <= 0 || rcvdCnt_ <= LineLimit) return;
    bool clearData = true;
    DoLineLimitExceeded(rcvdCnt_, clearData);
    if (clearData) rcvdCnt_ = 0;
}

void TCustomLineNetSocket::RemoveFront(int count) {
    count = std::min(count, rcvdCnt_);
    std::memmove(rcvBuf_.data(), rcvBuf_.data() + count, static_cast<size_t>(rcvdCnt_ - count));
    rcvdCnt_ -= count;
}

int TCustomLineNetSocket::DoRecv(char* buffer, int len, int flags) {
    int available = lineMode_ ? lineLength_ : rcvdCnt_;
    if (available > 0 && len > 0) {
        int n = std::min({len, available, rcvdCnt_});
        std::memcpy(buffer, rcvBuf_.data(), static_cast<size_t>(n));
        RemoveFront(n);
        if (lineMode_) lineLength_ -= n;
        return n;
    }
    return TCustomSocksNetSocket::DoRecv(buffer, len, flags);
}

void TCustomLineNetSocket::DoSessionClosed(WORD error) {
    // What came without a final line end is still a line.
    if (lineMode_ && rcvdCnt_ > 0) {
        lineLength_ = rcvdCnt_;
        DeliverLine();
    }
    rcvBuf_.clear();
    rcvBuf_.shrink_to_fit();
    rcvdCnt_ = 0;
    lineLength_ = 0;
    lineReceived_ = false;
    TCustomSocksNetSocket::DoSessionClosed(error);
}

int TCustomLineNetSocket::EditNewBytes(int oldCount, int newCount) {
    const char* fresh = rcvBuf_.data() + oldCount;
    bool needsEdit = std::any_of(fresh, fresh + newCount, [](char c) { return c == 8 || c == 9; });
    if (!needsEdit) {
        if (LineEcho) Send(fresh, newCount);
        return newCount;
    }
    std::string text(rcvBuf_.data(), static_cast<size_t>(oldCount));
    std::string echo;
    for (int i = 0; i < newCount; ++i) {
        char c = fresh[i];
        if (c == 8) {
            if (!text.empty()) {
                text.pop_back();
                echo += "\b \b";
            }
        } else if (c == 9) {
            size_t spaces = 8 - text.size() % 8;
            text.append(spaces, ' ');
            echo.append(spaces, ' ');
        } else {
            text += c;
            echo += c;
        }
    }
    if (LineEcho && !echo.empty()) SendStr(echo);
    if (rcvBuf_.size() < text.size() + 1) rcvBuf_.resize(text.size() + 1);
    std::memcpy(rcvBuf_.data(), text.data(), text.size());
    // A backspace may eat into bytes buffered earlier: the count is relative to oldCount.
    return static_cast<int>(text.size()) - oldCount;
}

int TCustomSyncNetSocket::WaitUntilReady(bool& done) {
    DWORD start = ::GetTickCount();
    for (;;) {
        if (done) return 0;
        if (terminated_) return kSyncWaitFailed;
        DWORD wait = 100;
        if (Timeout > 0) {
            DWORD elapsed = ::GetTickCount() - start;
            if (elapsed >= static_cast<DWORD>(Timeout)) return kSyncWaitFailed;
            wait = std::min<DWORD>(wait, static_cast<DWORD>(Timeout) - elapsed);
        }
        MessagePump();
        if (done) return 0;
        if (terminated_) return kSyncWaitFailed;
        WaitForMessage(wait);
    }
}

int TCustomSyncNetSocket::RunAndWait(const std::function<void()>& proc, bool& done) {
    done = false;
    if (proc) proc();
    return WaitUntilReady(done);
}

} // namespace krv
