// Line mode: OnDataAvailable fires once per complete line (the line ends
// with LineEnd, which the line includes), with optional echo and simple
// line editing for terminal-like peers. And a wait that lets a caller start
// an asynchronous operation and wait for its completion flag while the
// message loop keeps running.
#pragma once
#include "net/SocksNetSocket.h"
#include <vector>

namespace krv {

// What a synchronous wait answers when it gives up.
constexpr int kSyncWaitFailed = 12001;

class TCustomLineNetSocket : public TCustomSocksNetSocket {
public:
    explicit TCustomLineNetSocket(TComponent* owner = nullptr) : TCustomSocksNetSocket(owner) {}

    bool LineMode() const { return lineMode_; }
    // Buffered bytes or a line are handed out again from the message loop.
    void SetLineMode(bool value);
    int LineLimit = 0x10000;
    std::string LineEnd = "\r\n";
    bool LineEcho = false;
    bool LineEdit = false;
    std::function<void(TObject* sender, int rcvdLength, bool& clearData)> OnLineLimitExceeded;

    // In line mode: what is left of the line being delivered.
    int RcvdCount() override;

protected:
    bool DispatchSocketMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool DoDataAvailable(WORD error) override;
    int DoRecv(char* buffer, int len, int flags) override;
    void DoSessionClosed(WORD error) override;
    virtual void DoLineLimitExceeded(int rcvdLength, bool& clearData);

private:
    bool LineDataAvailable();
    // Hands out every complete line, searching from the given offset first.
    void DeliverLines(int searchFrom);
    // Fires the plain data-available event while the current line lasts.
    void DeliverLine();
    void CheckLineLimit();
    // Applies backspace and tab to the new bytes; answers their new count.
    int EditNewBytes(int oldCount, int newCount);
    void RemoveFront(int count);

    bool lineMode_ = false;
    std::vector<char> rcvBuf_;
    int rcvdCnt_ = 0;
    int lineLength_ = 0;
    bool lineReceived_ = false;
};

class TCustomSyncNetSocket : public TCustomLineNetSocket {
public:
    explicit TCustomSyncNetSocket(TComponent* owner = nullptr) : TCustomLineNetSocket(owner) {}

    // Milliseconds a wait may last; 0 waits for ever.
    int Timeout = 0;

    // Pumps messages until done is set: 0 then, or 12001 when the timeout
    // passed, the application is ending, or the own loop met WM_QUIT.
    int WaitUntilReady(bool& done);
    // Clears done, runs proc (when given) and waits as above.
    int RunAndWait(const std::function<void()>& proc, bool& done);
};

// The socket component with everything published.
class TNetSocket : public TCustomSyncNetSocket {
public:
    explicit TNetSocket(TComponent* owner = nullptr) : TCustomSyncNetSocket(owner) {}
};

} // namespace krv
