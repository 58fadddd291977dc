// The mail client. It never blocks: every operation is a request that starts
// at once and ends with OnRequestDone, always delivered later from the
// client's own hidden window (so a handler may start the next request).
// Open and Mail chain several commands and report once.
//
// TCustomSmtpClient speaks the protocol; TSmtpSender adds the body lines of
// MailMessage and file attachments (a MIME multipart message).
#pragma once
#include "framework/Classes.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "framework/Window.h"
#include "net/LineNetSocket.h"
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krv {

enum TSmtpState {
    smtpReady, smtpDnsLookup, smtpConnecting, smtpConnected, smtpInternalReady, smtpWaitingBanner,
    smtpWaitingResponse, smtpAbort
};
enum TSmtpRequest {
    smtpConnect, smtpHelo, smtpMailFrom, smtpVrfy, smtpRcptTo, smtpData, smtpQuit, smtpRset, smtpOpen,
    smtpMail, smtpEhlo, smtpAuth, smtpCustom
};
enum TSmtpAuthType { smtpAuthNone, smtpAuthPlain, smtpAuthLogin, smtpAuthCramMD5 };
enum TSmtpContentType { smtpHTML, smtpPlainText };
enum TSmtpStep {
    stepNone, stepHelo, stepConnect, stepMailFrom, stepRcptTo, stepData, stepVrfy, stepQuit, stepRset, stepEhlo,
    stepAuth
};
using TSmtpSteps = unsigned;   // one bit per TSmtpStep

class SmtpException : public Exception {
public:
    using Exception::Exception;
};

// Posted to the client's own window when a request ends (lParam = error code).
constexpr UINT WM_SMTP_REQUEST_DONE = WM_USER + 1;
// Size of the reply buffer; a reply line must fit it with its CR LF.
constexpr int kSmtpRcvBufSize = 4096;
// Longest line sent on the wire, CR LF not counted.
constexpr size_t kSmtpMaxLineLength = 998;
// What a request ends with when the server stays silent for Timeout seconds.
constexpr int kSmtpTimeoutError = 10060;   // WSAETIMEDOUT
// What a request ends with when the connection drops before its reply.
constexpr int kSmtpConnectionLost = 10004;

// "Tue, 5 Mar 2024 09:07:02 GMT" for a UTC time.
std::string SmtpDateText(const SYSTEMTIME& utc);
// Now as UTC: the local time plus the time-zone bias of the system.
SYSTEMTIME SmtpNowUtc();
// The reply code at the start of a line (0 when it has none) and whether a
// dash after it marks more lines to come.
int ParseSmtpReplyCode(const std::string& line, bool& continued);
// Cuts a text at every CR, LF or CR LF into the lines it holds.
std::vector<std::string> SplitMailLines(const std::string& text);
// One body line as it goes on the wire: a leading dot doubled, and pieces of
// at most kSmtpMaxLineLength characters (a long line is wrapped, nothing lost).
std::vector<std::string> StuffMailLine(const std::string& line);
// A header line longer than kSmtpMaxLineLength folded (CR LF put before a
// blank or tab) so that unfolding gives it back; a stretch without blanks
// cannot be folded and stays long.
std::string FoldHeaderLine(const std::string& line);
// A header value with CR and LF taken out.
std::string CleanHeaderValue(const std::string& value);

class TCustomSmtpClient : public TComponent {
public:
    explicit TCustomSmtpClient(TComponent* owner = nullptr);
    ~TCustomSmtpClient() override;

    std::string Host;
    std::string LocalAddr = "0.0.0.0";
    std::string Port = "smtp";
    std::string SignOn;                 // HELO/EHLO argument; the local host name when empty
    std::string Username, Password;
    TSmtpAuthType AuthType = smtpAuthNone;
    std::string FromName;               // envelope sender
    TStringList& RcptName() { return *rcptName_; }
    void SetRcptName(const TStringList& value);
    TStringList& MailMessage() { return *mailMessage_; }
    void SetMailMessage(const TStringList& value);
    std::string HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrReturnPath, HdrSubject, HdrSender;
    TSmtpState State() const { return state_; }
    std::string CharSet = "iso-8859-1";
    TSmtpContentType ContentType() const { return contentType_; }
    void SetContentType(TSmtpContentType value);
    const std::string& ErrorMessage() const { return errorMessage_; }
    const std::string& LastResponse() const { return lastResponse_; }
    int Tag = 0;
    bool OwnHeaders = false;
    // Seconds a request waits for the server (connect, each reply, each sent
    // piece of the message) before it ends with kSmtpTimeoutError; 0 = no limit.
    int Timeout = 120;
    bool Connected() const { return connected_; }
    bool ESmtpSupported() const { return esmtpSupported_; }

    std::function<void(TObject* sender, const std::string& msg)> OnDisplay, OnCommand, OnResponse;
    std::function<void(TObject* sender, int lineNum, char* msgLine, int maxLen, bool& more)> OnGetData;
    std::function<void(TObject* sender, char* msg, int size)> OnHeaderLine;
    std::function<void(TObject* sender, TStringList& hdrLines)> OnProcessHeader;
    std::function<void(TObject* sender, TSmtpRequest rqType, WORD errorCode)> OnRequestDone;
    std::function<void(TObject* sender, WORD error)> OnSessionConnected, OnSessionClosed;
    std::function<void(TObject* sender)> OnStateChange;

    virtual void Connect();
    virtual void Helo();
    virtual void Ehlo();
    virtual void Auth();
    virtual void Vrfy();
    virtual void MailFrom();
    virtual void RcptTo();
    virtual void Data();
    virtual void Quit();
    virtual void Rset();
    virtual void Abort();
    virtual void Open();
    virtual void Mail();

protected:
    virtual void DoDisplay(const std::string& msg);
    virtual void DoCommand(const std::string& msg);
    virtual void DoResponse(const std::string& msg);
    virtual void DoRequestDone(WORD error);
    virtual void DoStateChange();
    // Asks for body line lineNum; more := false ends the body.
    virtual void DoGetData(int lineNum, std::string& line, bool& more);
    virtual void DoHeaderLine(char* msg, int size);
    virtual void DoProcessHeader(TStringList& hdrLines);
    virtual void DoSessionConnected(WORD error);
    virtual void DoSessionClosed(WORD error);
    virtual void SendCommand(const std::string& cmd);
    // Attachments: open the file, give its next Base64 line (true at its
    // end), close it.
    virtual void OpenAttachmentFile(const std::string& fileName);
    virtual bool EncodeAttachmentLine(std::string& line);
    virtual void CloseAttachmentFile();
    virtual bool WndProc(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // The content-type text: "text/plain" or "text/html".
    const std::string& ContentTypeText() const { return contentTypeText_; }
    bool AttachmentOpen() const { return attachment_ != nullptr; }

private:
    using Proc = void (TCustomSmtpClient::*)();

    void SetState(TSmtpState value);
    void CheckReady();
    void StartRequest(TSmtpRequest rqType, const std::string& cmd, std::initializer_list<int> okResponses,
                      Proc continuation);
    void CheckReply();
    void SetErrorMessage();
    void ArmTimer();
    void StopTimer();
    void TimedOut();

    // Socket events.
    void SocketDnsLookupDone(WORD error);
    void SocketSessionConnected(WORD error);
    void SocketDataAvailable(WORD error);
    void SocketSessionClosed(WORD error);
    void HandleReplyLine();
    void ReplyTooLong();

    // Sequences.
    void StartSequence(TSmtpRequest rqType, TSmtpSteps steps);
    void NextStep();

    // Continuations.
    void EhloDone();
    void AuthLoginUser();
    void AuthLoginPass();
    void AuthLoginDone();
    void AuthCramMD5Reply();
    void RcptToNext();
    void DataStart();
    void DataNext();
    void SendDataLine(const std::string& line);

    std::unique_ptr<TNetSocket> socket_;
    std::unique_ptr<TStringList> rcptName_ = std::make_unique<TStringList>();
    std::unique_ptr<TStringList> mailMessage_ = std::make_unique<TStringList>();
    std::unique_ptr<TStringList> hdrLines_;
    std::unique_ptr<TMessageWindow> window_;
    std::unique_ptr<class TFileStream> attachment_;

    TSmtpState state_ = smtpReady;
    TSmtpContentType contentType_ = smtpPlainText;
    std::string contentTypeText_ = "text/plain";
    std::string errorMessage_, lastResponse_;
    bool connected_ = false;
    bool esmtpSupported_ = false;
    TSmtpRequest requestType_ = smtpConnect;
    bool requestDone_ = true;
    int statusCode_ = 0;
    int requestResult_ = 0;
    char rcvBuf_[kSmtpRcvBufSize + 1] = {};
    int rcvCnt_ = 0;
    std::vector<int> okResponses_;
    Proc doneAsync_ = nullptr;
    bool waitingReply_ = false;   // a reply checker is set

    TSmtpSteps todo_ = 0;
    TSmtpStep prevStep_ = stepNone;
    WORD fctResult_ = 0;
    bool highLevelFlag_ = false;
    Proc whenDone_ = nullptr;

    int lineNum_ = 0;
    bool moreLines_ = false;
    int itemCount_ = -1;
    std::deque<std::string> wirePieces_;   // the rest of a body line cut for the wire
    bool timerArmed_ = false;
};

// The published client: sends MailMessage as the body and attaches EmailFiles.
class TSmtpSender : public TCustomSmtpClient {
public:
    explicit TSmtpSender(TComponent* owner = nullptr);
    ~TSmtpSender() override;

    const TStringList& EmailFiles() const { return *emailFiles_; }
    // Trimmed names, empty lines skipped; a missing file raises SmtpException.
    void SetEmailFiles(const TStringList& value);

    std::function<void(TObject* sender, int fileNumber, const std::string& fileName, std::string& contentType)>
        OnAttachContentType;
    std::function<void(TObject* sender, int fileNumber, const std::string& fileName, TStringList& hdrLines)>
        OnAttachHeader;

    void Data() override;

protected:
    void DoGetData(int lineNum, std::string& line, bool& more) override;
    void DoHeaderLine(char* msg, int size) override;
    virtual void DoAttachContentType(int fileNumber, const std::string& fileName, std::string& contentType);
    virtual void DoAttachHeader(int fileNumber, const std::string& fileName, TStringList& hdrLines);
    // The boundary of the multipart message; empty without files.
    const std::string& Boundary() const { return boundary_; }

private:
    void StartNextAttachment(std::string& line);

    std::unique_ptr<TStringList> emailFiles_ = std::make_unique<TStringList>();
    std::deque<std::string> body_;
    int fileIndex_ = 0;
    std::string boundary_;
    bool bodyFromEvent_ = false;
    int eventLineNum_ = 0;
};

} // namespace krv
