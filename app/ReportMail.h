// The report mail of a run: subject, banner, status, the report lines and
// the footer, sent through the window's mail client without blocking. The
// client's request-done event drives Open -> Mail -> Quit from the message
// loop; MailBusy holds while it runs and a close asked for meanwhile
// (CloseWhenMailDone) happens when the mail ends, sent or failed.
#pragma once
#include "app/BackupRun.h"
#include "framework/Forms.h"
#include "framework/Strings.h"
#include "net/SmtpMail.h"
#include <string>

namespace krv {

// What the mail needs of the main window: the mail page's controls, the run
// and the session, the log call and closing.
struct TReportMailSettings {
    bool Send = false;          // MailCheck
    std::string Address;        // AddressEdit: the recipient
    std::string Server;         // SMTPEdit: the server's host
    bool Login = false;         // LoginCheck
    std::string User, Password; // MailUserEdit, MailPassEdit
    int ReportLevel = 0;        // ComboLog
};

class IReportMailHost {
public:
    virtual ~IReportMailHost() = default;
    virtual TReportMailSettings MailSettings() = 0;
    virtual std::string SessionName() = 0;
    virtual TRunOutcome RunOutcome() = 0;             // how the run being reported ended
    virtual const TStringList& ReportLines() = 0;
    virtual bool SessionClosesAfterBackup() = 0;      // the session's CloseKRV
    virtual bool CloseAfterBackupTicked() = 0;        // CloseKVCheck
    virtual void AddLog(const std::string& msg, int colour, int level, int kind) = 0;
    virtual void ClearSessionModified() = 0;
    virtual void CloseMainWindow() = 0;
    // The mail has ended, sent or failed: its lines belong in the report file.
    virtual void MailFinished() = 0;
};

class TMainForm;

// The main window as the report mail's host: its mail page, the session,
// how the run ended, the report list, its log call and Close.
class TMainFormMailHost : public IReportMailHost {
public:
    explicit TMainFormMailHost(TMainForm& form) : form_(form) {}
    TReportMailSettings MailSettings() override;
    std::string SessionName() override;
    TRunOutcome RunOutcome() override;
    const TStringList& ReportLines() override;
    bool SessionClosesAfterBackup() override;
    bool CloseAfterBackupTicked() override;
    void AddLog(const std::string& msg, int colour, int level, int kind) override;
    void ClearSessionModified() override;
    void CloseMainWindow() override;
    void MailFinished() override;

private:
    TMainForm& form_;
};

// The login box's click: the session is modified; the user and password
// boxes and their labels are usable exactly when the box is ticked.
void LoginCheckClick(TMainForm& form);

// The envelope sender of the report mail.
constexpr const char* kReportMailSender = "noreply@korvane.example";

// "[name] Korvane Mail Notification: Backup Saved." (or "Error!").
// Text for a mail header: as it is when ASCII, else an RFC 2047 encoded word
// (base64) in the given charset.
std::string MailHeaderText(const std::string& text, const std::string& charset);
std::string ReportMailSubject(const std::string& sessionName, bool cancelled);
// Whether the mail of a run that ended so says "Error!": it failed or was
// cancelled. A run that left files out did save its backup.
bool ReportMailSaysError(TRunOutcome outcome);
// The body lines; dateText is today in the user's short date format.
void BuildReportMailBody(TStringList& body, bool cancelled, int reportLevel, const TStringList& reportLines,
                         const std::string& dateText);

// The whole mail's time limit in milliseconds: 120 s, or the seconds in
// KORVANE_TEST_MAIL_DEADLINE (a test seam, so that end-to-end tests of a
// stalling server need not wait two minutes).
unsigned ReportMailDeadline();

class TReportMail {
public:
    explicit TReportMail(IReportMailHost& host);

    // Time from the start of the connection after which the mail is given
    // up, whatever the server still sends: a server that keeps answering
    // slowly must not keep an unattended run alive.
    unsigned DeadlineMs = ReportMailDeadline();

    // The window's mail client: port "smtp", no login, "iso-8859-1", plain text.
    TSmtpSender& SmtpClient() { return smtpClient_; }

    // Starts the mail when the session asks for it and returns at once.
    void SendMailReport();

    void SmtpClientRequestDone(TObject* sender, TSmtpRequest rqType, WORD errorCode);
    void SmtpClientResponse(TObject* sender, const std::string& msg);
    void SmtpClientSessionClosed(TObject* sender, WORD error);

private:
    void MailEnded();
    // A request the client refuses is logged; the mail still comes to its end.
    void Safely(void (TCustomSmtpClient::*request)());
    void DeadlinePassed();

    IReportMailHost& host_;
    TSmtpSender smtpClient_;
    TTimer deadline_;
    bool sending_ = false;   // this mail has started and not yet ended
};

} // namespace krv
