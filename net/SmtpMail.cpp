#include "net/SmtpMail.h"
#include "framework/Stream.h"
#include "net/Base64.h"
#include "net/Md5.h"
#include <algorithm>
#include <cstring>
#include <exception>

namespace krv {

namespace {

constexpr UINT_PTR kTimeoutTimer = 1;
// The body goes out in rounds of about this many bytes; the next round starts
// when the socket has sent everything queued.
constexpr size_t kDataRoundBytes = 8192;
constexpr int kBodyLineBufferSize = 1024;

constexpr TSmtpSteps Bit(TSmtpStep s) { return 1u << s; }

// Steps in the order a sequence runs them.
constexpr TSmtpStep kStepOrder[] = {stepConnect, stepHelo, stepEhlo, stepAuth, stepVrfy,
                                    stepMailFrom, stepRcptTo, stepData, stepQuit};

std::string Address(const std::string& cmd, const std::string& name) {
    std::string t = Trim(name);
    if (t.find('<') != std::string::npos && t.find('>') != std::string::npos) return cmd + t;
    return cmd + "<" + t + ">";
}

std::string WinsockErrorLine(int error) {
    return "500 " + NetSocketErrorDesc(error) + " (Winsock error #" + IntToStr(error) + ")";
}

} // namespace

// ---- helpers ---------------------------------------------------------------

std::string SmtpDateText(const SYSTEMTIME& utc) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return Format("%s, %d %s %4d %02d:%02d:%02d GMT", days[utc.wDayOfWeek % 7], utc.wDay,
                  months[(utc.wMonth + 11) % 12], utc.wYear, utc.wHour, utc.wMinute, utc.wSecond);
}

SYSTEMTIME SmtpNowUtc() {
    TIME_ZONE_INFORMATION tz{};
    long bias = 0;
    switch (::GetTimeZoneInformation(&tz)) {
    case TIME_ZONE_ID_STANDARD: bias = tz.Bias + tz.StandardBias; break;
    case TIME_ZONE_ID_DAYLIGHT: bias = tz.Bias + tz.DaylightBias; break;
    case TIME_ZONE_ID_UNKNOWN: bias = tz.Bias; break;
    default: bias = 0; break;
    }
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    FILETIME ft;
    ::SystemTimeToFileTime(&local, &ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    t.QuadPart += static_cast<int64_t>(bias) * 60 * 10000000LL;
    ft.dwLowDateTime = t.LowPart;
    ft.dwHighDateTime = t.HighPart;
    SYSTEMTIME utc;
    ::FileTimeToSystemTime(&ft, &utc);
    return utc;
}

int ParseSmtpReplyCode(const std::string& line, bool& continued) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
    int code = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        if (code < 100000) code = code * 10 + (line[i] - '0');
        ++i;
    }
    continued = i < line.size() && line[i] == '-';
    return code;
}

std::vector<std::string> SplitMailLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(cur));
            cur.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            cur += c;
        }
    }
    lines.push_back(std::move(cur));
    return lines;
}

std::vector<std::string> StuffMailLine(const std::string& line) {
    std::vector<std::string> out;
    size_t pos = 0;
    do {
        // A piece that starts with a dot gets one more in front, so it takes one less.
        size_t room = (pos < line.size() && line[pos] == '.') ? kSmtpMaxLineLength - 1 : kSmtpMaxLineLength;
        std::string piece = line.substr(pos, room);
        pos += piece.size();
        if (!piece.empty() && piece[0] == '.') piece.insert(piece.begin(), '.');
        out.push_back(std::move(piece));
    } while (pos < line.size());
    return out;
}

std::string FoldHeaderLine(const std::string& line) {
    std::string out;
    size_t start = 0;
    while (line.size() - start > kSmtpMaxLineLength) {
        size_t cut = std::string::npos;
        for (size_t i = start + kSmtpMaxLineLength; i > start; --i)
            if (line[i] == ' ' || line[i] == '\t') {
                cut = i;
                break;
            }
        if (cut == std::string::npos) cut = line.find_first_of(" \t", start + kSmtpMaxLineLength + 1);
        if (cut == std::string::npos) break;
        out.append(line, start, cut - start);
        out += "\r\n";
        start = cut;
    }
    out.append(line, start, std::string::npos);
    return out;
}

std::string CleanHeaderValue(const std::string& value) {
    std::string s;
    s.reserve(value.size());
    for (char c : value)
        if (c != '\r' && c != '\n') s += c;
    return s;
}

// ---- client ------------------------------------------------------------------

TCustomSmtpClient::TCustomSmtpClient(TComponent* owner) : TComponent(owner) {
    window_ = std::make_unique<TMessageWindow>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) { return WndProc(msg, wParam, lParam, result); });
    socket_ = std::make_unique<TNetSocket>();
    socket_->OnSessionClosed = [this](TObject*, WORD error) { SocketSessionClosed(error); };
}

TCustomSmtpClient::~TCustomSmtpClient() {
    StopTimer();
    attachment_.reset();
    if (socket_) {
        socket_->OnSessionClosed = nullptr;
        socket_->OnDataAvailable = nullptr;
        socket_->OnSessionConnected = nullptr;
        socket_->OnDnsLookupDone = nullptr;
        socket_->OnDataSent = nullptr;
    }
    socket_.reset();
    hdrLines_.reset();
    mailMessage_.reset();
    rcptName_.reset();
    window_.reset();
}

void TCustomSmtpClient::SetRcptName(const TStringList& value) {
    rcptName_->Clear();
    rcptName_->AddStrings(value);
}

void TCustomSmtpClient::SetMailMessage(const TStringList& value) {
    mailMessage_->Clear();
    mailMessage_->AddStrings(value);
}

void TCustomSmtpClient::SetContentType(TSmtpContentType value) {
    contentType_ = value;
    contentTypeText_ = value == smtpPlainText ? "text/plain" : "text/html";
}

void TCustomSmtpClient::SetState(TSmtpState value) {
    if (state_ == value) return;
    state_ = value;
    DoStateChange();
}

void TCustomSmtpClient::DoDisplay(const std::string& msg) { if (OnDisplay) OnDisplay(this, msg); }
void TCustomSmtpClient::DoCommand(const std::string& msg) { if (OnCommand) OnCommand(this, msg); }
void TCustomSmtpClient::DoResponse(const std::string& msg) { if (OnResponse) OnResponse(this, msg); }
void TCustomSmtpClient::DoStateChange() { if (OnStateChange) OnStateChange(this); }
void TCustomSmtpClient::DoHeaderLine(char* msg, int size) { if (OnHeaderLine) OnHeaderLine(this, msg, size); }
void TCustomSmtpClient::DoProcessHeader(TStringList& hdrLines) { if (OnProcessHeader) OnProcessHeader(this, hdrLines); }
void TCustomSmtpClient::DoSessionConnected(WORD error) { if (OnSessionConnected) OnSessionConnected(this, error); }
void TCustomSmtpClient::DoSessionClosed(WORD error) { if (OnSessionClosed) OnSessionClosed(this, error); }

void TCustomSmtpClient::DoGetData(int lineNum, std::string& line, bool& more) {
    if (!OnGetData) {
        more = false;
        return;
    }
    char buffer[kBodyLineBufferSize + 1] = {};
    OnGetData(this, lineNum, buffer, kBodyLineBufferSize - 1, more);
    buffer[kBodyLineBufferSize] = 0;
    line = buffer;
}

void TCustomSmtpClient::SetErrorMessage() {
    if (errorMessage_.empty()) errorMessage_ = lastResponse_;
}

// ---- request start and end ---------------------------------------------------

void TCustomSmtpClient::CheckReady() {
    if (state_ != smtpReady && state_ != smtpInternalReady) throw SmtpException("SMTP component not ready");
}

void TCustomSmtpClient::SendCommand(const std::string& cmd) {
    DoCommand(cmd);
    DoDisplay("> " + cmd);
    if (socket_->State() == wsConnected) socket_->SendStr(cmd + "\r\n");
}

void TCustomSmtpClient::StartRequest(TSmtpRequest rqType, const std::string& cmd, std::initializer_list<int> okResponses,
                                     Proc continuation) {
    CheckReady();
    if (!connected_) throw SmtpException("SMTP component not connected");
    if (!highLevelFlag_) requestType_ = rqType;
    okResponses_.assign(okResponses.begin(), okResponses.end());
    requestDone_ = false;
    waitingReply_ = true;
    doneAsync_ = continuation;
    SetState(smtpWaitingResponse);
    ArmTimer();
    // A line break inside an argument would start a command of its own.
    SendCommand(CleanHeaderValue(cmd));
}


void TCustomSmtpClient::DoRequestDone(WORD error) {
    if (requestDone_) return;
    requestDone_ = true;
    waitingReply_ = false;
    if (whenDone_) {
        if (state_ != smtpAbort) SetState(smtpInternalReady);
        (this->*whenDone_)();
        return;
    }
    StopTimer();
    SetState(smtpReady);
    highLevelFlag_ = false;
    ::PostMessageA(window_->Handle(), WM_SMTP_REQUEST_DONE, 0, static_cast<LPARAM>(error));
}

bool TCustomSmtpClient::WndProc(UINT msg, WPARAM, LPARAM lParam, LRESULT& result) {
    result = 0;
    if (msg == WM_SMTP_REQUEST_DONE) {
        if (OnRequestDone) OnRequestDone(this, requestType_, static_cast<WORD>(lParam & 0xFFFF));
        return true;
    }
    if (msg == WM_TIMER) {
        TimedOut();
        return true;
    }
    return false;
}

// ---- timeout ---------------------------------------------------------------------

void TCustomSmtpClient::ArmTimer() {
    if (Timeout <= 0) return;
    ::SetTimer(window_->Handle(), kTimeoutTimer, static_cast<UINT>(Timeout) * 1000, nullptr);
    timerArmed_ = true;
}

void TCustomSmtpClient::StopTimer() {
    if (!timerArmed_) return;
    if (window_) ::KillTimer(window_->Handle(), kTimeoutTimer);
    timerArmed_ = false;
}

void TCustomSmtpClient::TimedOut() {
    StopTimer();
    if (requestDone_) return;
    lastResponse_ = WinsockErrorLine(kSmtpTimeoutError);
    statusCode_ = 500;
    requestResult_ = kSmtpTimeoutError;
    SetErrorMessage();
    DoDisplay("< " + lastResponse_);
    // The close ends the request; before a connection there is nothing to close.
    // A lookup still running is cancelled quietly: the request ends with the
    // time limit's code, not the cancel's.
    socket_->OnDataSent = nullptr;
    socket_->OnDnsLookupDone = nullptr;
    socket_->Abort();
    connected_ = false;
    if (!requestDone_) DoRequestDone(kSmtpTimeoutError);
}

// ---- sequences -----------------------------------------------------------------

void TCustomSmtpClient::StartSequence(TSmtpRequest rqType, TSmtpSteps steps) {
    if ((steps & Bit(stepConnect)) && connected_) throw SmtpException("SMTP component already connected");
    CheckReady();
    requestType_ = rqType;
    requestResult_ = 0;
    todo_ = steps;
    prevStep_ = stepNone;
    fctResult_ = 0;
    highLevelFlag_ = true;
    lastResponse_.clear();
    errorMessage_.clear();
    try {
        NextStep();
    } catch (...) {
        // A step that cannot start leaves the client ready for the next try.
        whenDone_ = nullptr;
        highLevelFlag_ = false;
        requestDone_ = true;
        SetState(smtpReady);
        throw;
    }
}

void TCustomSmtpClient::Open() {
    StartSequence(smtpOpen, AuthType == smtpAuthNone ? Bit(stepConnect) | Bit(stepHelo)
                                                     : Bit(stepConnect) | Bit(stepEhlo) | Bit(stepAuth));
}

void TCustomSmtpClient::Mail() {
    // Refused here: found later, inside the sequence, it could not be reported.
    if (rcptName_->Count() == 0) throw SmtpException("RcptName list is empty");
    StartSequence(smtpMail, Bit(stepMailFrom) | Bit(stepRcptTo) | Bit(stepData));
}

void TCustomSmtpClient::NextStep() {
    if (state_ == smtpAbort) {
        todo_ = 0;
        fctResult_ = 426;
        requestResult_ = 426;
        errorMessage_ = "426 Operation aborted.";
    }
    whenDone_ = &TCustomSmtpClient::NextStep;
    if (requestResult_ != 0) {
        if (prevStep_ == stepEhlo) {
            todo_ = Bit(stepHelo);   // an old server: greet plainly, without login
            requestResult_ = 0;
        } else {
            fctResult_ = static_cast<WORD>(requestResult_);
            todo_ = ((todo_ & Bit(stepQuit)) && prevStep_ != stepQuit) ? Bit(stepQuit) : 0;
        }
    }
    for (TSmtpStep step : kStepOrder) {
        if (!(todo_ & Bit(step))) continue;
        todo_ &= ~Bit(step);
        // A connection lost between steps ends the sequence instead of
        // failing inside the socket's event handling.
        if (step != stepConnect && !connected_) {
            if (step == stepQuit) continue;
            if (fctResult_ == 0) fctResult_ = kSmtpConnectionLost;
            break;
        }
        prevStep_ = step;
        switch (step) {
        case stepConnect: Connect(); break;
        case stepHelo: Helo(); break;
        case stepEhlo: Ehlo(); break;
        case stepAuth: Auth(); break;
        case stepVrfy: Vrfy(); break;
        case stepMailFrom: MailFrom(); break;
        case stepRcptTo: RcptTo(); break;
        case stepData: Data(); break;
        case stepQuit: Quit(); break;
        default: break;
        }
        return;
    }
    whenDone_ = nullptr;
    requestDone_ = false;
    DoRequestDone(fctResult_);
}

// ---- connect -------------------------------------------------------------------------

void TCustomSmtpClient::Connect() {
    CheckReady();
    if (connected_) throw SmtpException("SMTP component already connected");
    if (!highLevelFlag_) requestType_ = smtpConnect;
    requestDone_ = false;
    rcvCnt_ = 0;
    requestResult_ = 0;
    waitingReply_ = false;
    esmtpSupported_ = false;
    SetState(smtpDnsLookup);
    socket_->OnDataSent = nullptr;
    socket_->OnDnsLookupDone = [this](TObject*, WORD error) { SocketDnsLookupDone(error); };
    ArmTimer();
    try {
        socket_->DnsLookup(Host);
    } catch (...) {
        StopTimer();
        requestDone_ = true;
        SetState(smtpReady);
        throw;
    }
}

void TCustomSmtpClient::SocketDnsLookupDone(WORD error) {
    // An abort cancels the lookup, which ends the request with 10004.
    if (state_ != smtpDnsLookup && !(state_ == smtpAbort && error == WSAEINTR)) return;
    if (error) {
        lastResponse_ = WinsockErrorLine(error);
        statusCode_ = 500;
        SetErrorMessage();
        requestResult_ = error;
        DoRequestDone(error);
        return;
    }
    socket_->SetAddr(socket_->DnsResult());
    socket_->SetLocalAddr(LocalAddr);
    socket_->SetProto("tcp");
    socket_->SetPort(Port);
    socket_->OnSessionConnected = [this](TObject*, WORD e) { SocketSessionConnected(e); };
    socket_->OnDataAvailable = [this](TObject*, WORD e) { SocketDataAvailable(e); };
    SetState(smtpConnecting);
    try {
        socket_->Connect();
    } catch (const std::exception& e) {
        const char* cls = dynamic_cast<const ESocketException*>(&e) ? "ESocketException" : "Exception";
        lastResponse_ = std::string("500 ") + cls + ": " + e.what();
        statusCode_ = 500;
        requestResult_ = 500;
        SetErrorMessage();
        // A failure whose last error is 0 must not end the request as a success.
        int last = socket_->LastError();
        DoRequestDone(static_cast<WORD>(last ? last : 500));
    }
}

void TCustomSmtpClient::SocketSessionConnected(WORD error) {
    if (error) {
        lastResponse_ = WinsockErrorLine(error);
        statusCode_ = 500;
        connected_ = false;
        // The socket's own error (refused, unreachable...) says what went
        // wrong; a bare 500 would hide it behind "Not a WinSock error".
        requestResult_ = error;
        SetErrorMessage();
        DoRequestDone(error);
        socket_->Close();
        SetState(smtpReady);
        return;
    }
    connected_ = true;
    SetState(smtpWaitingBanner);
    ArmTimer();
}

void TCustomSmtpClient::SocketSessionClosed(WORD error) {
    connected_ = false;
    DoSessionClosed(error);
    if (requestDone_) return;
    if (requestType_ == smtpQuit && !highLevelFlag_) {
        DoRequestDone(0);
        return;
    }
    // A reply that never came: the request failed, and says so.
    if (requestResult_ == 0) requestResult_ = kSmtpConnectionLost;
    SetErrorMessage();
    DoRequestDone(static_cast<WORD>(requestResult_));
}

// ---- replies -------------------------------------------------------------------------

void TCustomSmtpClient::SocketDataAvailable(WORD) {
    int room = kSmtpRcvBufSize - rcvCnt_;
    if (room <= 0) {
        ReplyTooLong();
        return;
    }
    int n = socket_->Receive(rcvBuf_ + rcvCnt_, room);
    if (n <= 0) return;
    rcvCnt_ += n;
    rcvBuf_[rcvCnt_] = 0;
    if (!requestDone_ || state_ == smtpWaitingBanner) ArmTimer();
    for (;;) {
        char* end = static_cast<char*>(std::memchr(rcvBuf_, '\n', static_cast<size_t>(rcvCnt_)));
        while (end && (end == rcvBuf_ || end[-1] != '\r'))
            end = static_cast<char*>(std::memchr(end + 1, '\n', static_cast<size_t>(rcvBuf_ + rcvCnt_ - end - 1)));
        if (!end) break;
        int lineLen = static_cast<int>(end - rcvBuf_) - 1;
        lastResponse_.assign(rcvBuf_, static_cast<size_t>(lineLen));
        int used = lineLen + 2;
        std::memmove(rcvBuf_, rcvBuf_ + used, static_cast<size_t>(rcvCnt_ - used));
        rcvCnt_ -= used;
        rcvBuf_[rcvCnt_] = 0;
        DoResponse(lastResponse_);
        HandleReplyLine();
        if (!connected_) {
            rcvCnt_ = 0;
            break;
        }
    }
    if (rcvCnt_ >= kSmtpRcvBufSize) ReplyTooLong();
}

void TCustomSmtpClient::ReplyTooLong() {
    std::string head(rcvBuf_, static_cast<size_t>(std::min(rcvCnt_, 60)));
    rcvCnt_ = 0;
    lastResponse_ = "500 Reply line too long: " + head;
    statusCode_ = 500;
    if (!requestDone_) requestResult_ = 500;
    SetErrorMessage();
    DoDisplay("< " + lastResponse_);
    socket_->OnDataSent = nullptr;
    socket_->Abort();   // the close ends the request with the result above
}

void TCustomSmtpClient::HandleReplyLine() {
    switch (state_) {
    case smtpWaitingBanner: {
        DoDisplay("< " + lastResponse_);
        bool continued = false;
        statusCode_ = ParseSmtpReplyCode(lastResponse_, continued);
        if (continued) return;
        if (statusCode_ != 220) {
            SetErrorMessage();
            requestResult_ = statusCode_ ? statusCode_ : 500;
            socket_->Close();   // the close ends the request
            rcvCnt_ = 0;
            return;
        }
        SetState(smtpConnected);
        DoSessionConnected(0);
        DoRequestDone(0);
        return;
    }
    case smtpWaitingResponse:
        if (!waitingReply_) throw SmtpException("Program error: FNext is nil");
        CheckReply();
        return;
    default:
        DoDisplay("< " + lastResponse_);
        return;
    }
}

void TCustomSmtpClient::CheckReply() {
    DoDisplay("< " + lastResponse_);
    bool continued = false;
    statusCode_ = ParseSmtpReplyCode(lastResponse_, continued);
    if (continued) return;
    if (statusCode_ == 0) {
        requestResult_ = 500;   // no status code: not an answer we can take as success
    } else if (!okResponses_.empty()) {
        bool ok = std::find(okResponses_.begin(), okResponses_.end(), statusCode_) != okResponses_.end();
        requestResult_ = ok ? 0 : statusCode_;
    } else {
        requestResult_ = statusCode_ >= 500 ? statusCode_ : 0;
    }
    if (requestResult_ != 0) SetErrorMessage();
    waitingReply_ = false;
    if (doneAsync_) {
        Proc next = doneAsync_;
        doneAsync_ = nullptr;
        (this->*next)();
        return;
    }
    if (requestType_ == smtpQuit && connected_) {
        // The answer is in: close our side too, so a server that keeps the
        // line open cannot hold the end of an unattended run. The close ends QUIT.
        socket_->CloseDelayed();
        return;
    }
    DoRequestDone(static_cast<WORD>(requestResult_));
}

// ---- commands ----------------------------------------------------------------------

namespace {
std::string HeloName(const std::string& signOn) { return signOn.empty() ? ws::LocalHostName() : signOn; }
} // namespace

void TCustomSmtpClient::Helo() { StartRequest(smtpHelo, "HELO " + HeloName(SignOn), {250}, nullptr); }

void TCustomSmtpClient::Ehlo() {
    StartRequest(smtpEhlo, "EHLO " + HeloName(SignOn), {250}, &TCustomSmtpClient::EhloDone);
}

void TCustomSmtpClient::EhloDone() {
    if (requestResult_ == 0) esmtpSupported_ = true;
    DoRequestDone(static_cast<WORD>(requestResult_));
}

void TCustomSmtpClient::Vrfy() { StartRequest(smtpVrfy, "VRFY " + HdrTo, {250}, nullptr); }
void TCustomSmtpClient::Rset() { StartRequest(smtpRset, "RSET", {250}, nullptr); }
void TCustomSmtpClient::MailFrom() { StartRequest(smtpMailFrom, Address("MAIL FROM:", FromName), {250}, nullptr); }

void TCustomSmtpClient::Quit() {
    CheckReady();
    if (!connected_) {
        if (!highLevelFlag_) requestType_ = smtpQuit;
        requestDone_ = false;
        DoRequestDone(0);
        return;
    }
    StartRequest(smtpQuit, "QUIT", {221}, nullptr);
}

void TCustomSmtpClient::Auth() {
    CheckReady();
    if (!connected_) throw SmtpException("SMTP component not connected");
    auto fail = [this](const std::string& line) {
        if (!highLevelFlag_) requestType_ = smtpAuth;
        requestDone_ = false;
        lastResponse_ = line;
        statusCode_ = 500;
        requestResult_ = 500;
        SetErrorMessage();
        DoRequestDone(500);
    };
    if (!esmtpSupported_) return fail("500 ESMTP not supported.");
    switch (AuthType) {
    case smtpAuthNone: return fail("500 No Authorization Type Selected.");
    case smtpAuthPlain: {
        // Authorization identity, then the login name itself, then the password.
        std::string token = Username + '\0' + Username + '\0' + Password;
        StartRequest(smtpAuth, "AUTH PLAIN " + Base64Encode(token), {235}, nullptr);
        return;
    }
    case smtpAuthLogin: StartRequest(smtpAuth, "AUTH LOGIN", {334}, &TCustomSmtpClient::AuthLoginUser); return;
    case smtpAuthCramMD5:
        StartRequest(smtpAuth, "AUTH CRAM-MD5", {334}, &TCustomSmtpClient::AuthCramMD5Reply);
        return;
    }
}

void TCustomSmtpClient::AuthLoginUser() {
    if (requestResult_ != 0) return DoRequestDone(static_cast<WORD>(requestResult_));
    SetState(smtpInternalReady);
    StartRequest(smtpAuth, Base64Encode(Username), {334}, &TCustomSmtpClient::AuthLoginPass);
}

void TCustomSmtpClient::AuthLoginPass() {
    if (requestResult_ != 0) return DoRequestDone(static_cast<WORD>(requestResult_));
    SetState(smtpInternalReady);
    StartRequest(smtpAuth, Base64Encode(Password), {235}, nullptr);
}

void TCustomSmtpClient::AuthCramMD5Reply() {
    if (requestResult_ != 0) return DoRequestDone(static_cast<WORD>(requestResult_));
    if (lastResponse_.size() < 5) {
        lastResponse_ = "500 Malformed MD5 Challege: " + lastResponse_;
        statusCode_ = 500;
        requestResult_ = 500;
        SetErrorMessage();
        return DoRequestDone(500);
    }
    std::string challenge = Base64Decode(lastResponse_.substr(4));
    std::string reply = Username + " " + HexDigest(HMAC_MD5(challenge, Password));
    SetState(smtpInternalReady);
    StartRequest(smtpAuth, Base64Encode(reply), {235}, nullptr);
}

void TCustomSmtpClient::RcptTo() {
    CheckReady();
    if (rcptName_->Count() == 0) throw SmtpException("RcptName list is empty");
    itemCount_ = -1;
    RcptToNext();
}

void TCustomSmtpClient::RcptToNext() {
    ++itemCount_;
    if (itemCount_ > 0) SetState(smtpInternalReady);
    Proc next = itemCount_ < rcptName_->Count() - 1 ? &TCustomSmtpClient::RcptToNext : nullptr;
    StartRequest(smtpRcptTo, Address("RCPT TO:", (*rcptName_)[itemCount_]), {250, 251}, next);
}

// ---- DATA --------------------------------------------------------------------------------

void TCustomSmtpClient::Data() {
    CheckReady();
    if (!connected_) throw SmtpException("SMTP component not connected");
    lineNum_ = 0;
    moreLines_ = true;
    itemCount_ = -1;
    wirePieces_.clear();
    if (!hdrLines_) hdrLines_ = std::make_unique<TStringList>();
    hdrLines_->Clear();
    if (!OwnHeaders) {
        auto add = [this](const std::string& name, const std::string& value) {
            hdrLines_->Add(name + CleanHeaderValue(value));
        };
        if (!Trim(HdrReplyTo).empty()) add("Reply-To: ", HdrReplyTo);
        if (!Trim(HdrReturnPath).empty()) add("Return-Path: ", HdrReturnPath);
        if (!HdrFrom.empty()) add("From: ", HdrFrom);
        if (!HdrTo.empty()) add("To: ", HdrTo);
        if (!HdrCc.empty()) add("Cc: ", HdrCc);
        add("Subject: ", HdrSubject);
        if (!Trim(HdrSender).empty())
            add("Sender: ", HdrSender);
        else if (!Trim(HdrFrom).empty())
            add("Sender: ", HdrFrom);
        hdrLines_->Add("Mime-Version: 1.0");
        hdrLines_->Add("Content-Type: " + contentTypeText_ + "; charset=\"" + CleanHeaderValue(CharSet) + "\"");
        hdrLines_->Add("Date: " + SmtpDateText(SmtpNowUtc()));
        hdrLines_->Add("X-Mailer: Tervel SMTP Component V" + Format("%d.%d", 2, 32));
        DoProcessHeader(*hdrLines_);
        hdrLines_->Add("");
    }
    StartRequest(smtpData, "DATA", {354}, &TCustomSmtpClient::DataStart);
}

void TCustomSmtpClient::DataStart() {
    if (requestResult_ != 0) return DoRequestDone(static_cast<WORD>(requestResult_));
    socket_->OnDataSent = [this](TObject*, WORD) { DataNext(); };
    DataNext();
}

void TCustomSmtpClient::SendDataLine(const std::string& line) {
    DoDisplay("> " + line);
    socket_->SendStr(line + "\r\n");
}

void TCustomSmtpClient::DataNext() {
    SetState(smtpInternalReady);
    if (!connected_) {
        socket_->OnDataSent = nullptr;
        return;
    }
    ArmTimer();
    size_t queued = 0;
    while (queued < kDataRoundBytes) {
        if (itemCount_ + 1 < hdrLines_->Count()) {
            ++itemCount_;
            std::string line = (*hdrLines_)[itemCount_];
            std::vector<char> buffer(std::max<size_t>(kBodyLineBufferSize, line.size() + 1), 0);
            std::memcpy(buffer.data(), line.data(), line.size());
            DoHeaderLine(buffer.data(), static_cast<int>(buffer.size()));
            buffer.back() = 0;
            line = FoldHeaderLine(buffer.data());
            SendDataLine(line);
            queued += line.size() + 2;
            continue;
        }
        if (wirePieces_.empty()) {
            if (!moreLines_) break;
            std::string line;
            DoGetData(++lineNum_, line, moreLines_);
            if (!moreLines_) break;
            for (const std::string& piece : SplitMailLines(line))
                for (std::string& wire : StuffMailLine(piece)) wirePieces_.push_back(std::move(wire));
        }
        SendDataLine(wirePieces_.front());
        queued += wirePieces_.front().size() + 2;
        wirePieces_.pop_front();
        if (!connected_) return;
    }
    if (!connected_) return;
    if (queued >= kDataRoundBytes) return;   // the next round starts when these are sent
    socket_->OnDataSent = nullptr;
    StartRequest(smtpData, ".", {250}, nullptr);
}

// ---- attachments (used by TSmtpSender) -------------------------------------------------

void TCustomSmtpClient::OpenAttachmentFile(const std::string& fileName) {
    attachment_ = std::make_unique<TFileStream>(fileName, fmOpenRead | fmShareDenyNone);
}

bool TCustomSmtpClient::EncodeAttachmentLine(std::string& line) {
    char buffer[45];
    size_t got = 0;
    while (got < sizeof buffer) {
        size_t n = attachment_->Read(buffer + got, sizeof buffer - got);
        if (n == 0) break;
        got += n;
    }
    line = Base64Encode(std::string(buffer, got));
    return got < sizeof buffer || attachment_->Position() >= attachment_->Size();
}

void TCustomSmtpClient::CloseAttachmentFile() { attachment_.reset(); }

// ---- Abort --------------------------------------------------------------------------------

void TCustomSmtpClient::Abort() {
    SetState(smtpAbort);
    // A cancel the system refuses (the answer is already on its way) drops
    // the lookup all the same: the abort goes on and the client ends ready;
    // the caller hears of the failure afterwards.
    std::exception_ptr cancelFailed;
    try {
        socket_->CancelDnsLookup();
    } catch (...) {
        cancelFailed = std::current_exception();
    }
    socket_->OnDataSent = nullptr;
    socket_->Abort();
    connected_ = false;
    // Nothing to close while the name was still being looked up: end it here.
    if (!requestDone_) {
        if (requestResult_ == 0) requestResult_ = 426;
        DoRequestDone(426);
    }
    StopTimer();
    SetState(smtpReady);
    if (cancelFailed) std::rethrow_exception(cancelFailed);
}

} // namespace krv
