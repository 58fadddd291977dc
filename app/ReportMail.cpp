#include "app/ReportMail.h"
#include "app/Main.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "app/Unattended.h"
#include "framework/Dialogs.h"
#include "net/Base64.h"
#include <algorithm>

namespace krv {

namespace {
const std::string kRuler(57, '=');
}

std::string MailHeaderText(const std::string& text, const std::string& charset) {
    // A header is ASCII: other text goes as an encoded word in the body's charset.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return text;
    return "=?" + charset + "?B?" + Base64Encode(text) + "?=";
}

std::string ReportMailSubject(const std::string& sessionName, bool cancelled) {
    std::string subject = sessionName.empty() ? std::string() : "[" + sessionName + "] ";
    return subject + KrvMailSubjectPrefix + (cancelled ? KV_Mail_Subject_Error : KV_Mail_Subject_Ok);
}

bool ReportMailSaysError(TRunOutcome outcome) { return outcome == roFailed || outcome == roCancelled; }

void BuildReportMailBody(TStringList& body, bool cancelled, int reportLevel, const TStringList& reportLines,
                         const std::string& dateText) {
    body.Clear();
    body.Add(std::string(10, ' ') + "-== " + kProductName + " " + kProductVersion + " ==-");
    body.Add(std::string(16, ' ') + dateText);
    body.Add("");
    body.Add(cancelled ? KrvMailErrorBody : KV_Mail_Msg_Ok);
    body.Add("");
    if (reportLevel > 0) {
        body.Add("");
        body.Add(kRuler);
        body.AddStrings(reportLines);
    }
    body.Add("");
    body.Add("");
    body.Add(kRuler);
    body.Add(KrvMailFooter);
}

TReportMailSettings TMainFormMailHost::MailSettings() {
    TReportMailSettings s;
    s.Send = form_.MailCheck->Checked();
    s.Address = form_.AddressEdit->Text();
    s.Server = form_.SMTPEdit->Text();
    s.Login = form_.LoginCheck->Checked();
    s.User = form_.MailUserEdit->Text();
    s.Password = form_.MailPassEdit->Text();
    s.ReportLevel = form_.ComboLog->ItemIndex();
    return s;
}
std::string TMainFormMailHost::SessionName() { return form_.Session.SessionName; }
TRunOutcome TMainFormMailHost::RunOutcome() {
    const TBackupRun* run = form_.LastRun();
    return run ? run->Outcome() : roRunning;
}
const TStringList& TMainFormMailHost::ReportLines() { return form_.ReportLines; }
bool TMainFormMailHost::SessionClosesAfterBackup() { return form_.Session.CloseKRV; }
bool TMainFormMailHost::CloseAfterBackupTicked() { return form_.CloseKVCheck->Checked(); }
void TMainFormMailHost::AddLog(const std::string& msg, int colour, int level, int kind) {
    form_.AddLog(msg, colour, level, kind);
}
void TMainFormMailHost::ClearSessionModified() { form_.Session.Modified = false; }
void TMainFormMailHost::CloseMainWindow() { form_.Close(); }

void TMainFormMailHost::MailFinished() { form_.MailFinished(); }

void LoginCheckClick(TMainForm& form) {
    form.Session.Modified = true;
    bool on = form.LoginCheck->Checked();
    form.MailUserEdit->SetEnabled(on);
    form.MailPassEdit->SetEnabled(on);
    for (const char* label : {"MailUserLabel", "MailPassLabel"})
        if (auto* c = form.Find<TControl>(label)) c->SetEnabled(on);
}

unsigned ReportMailDeadline() {
    constexpr unsigned kDeadlineSeconds = 120;
    const int64_t seconds = TestSeamNumber("KORVANE_TEST_MAIL_DEADLINE", kDeadlineSeconds);
    return static_cast<unsigned>(seconds > 0 ? seconds : kDeadlineSeconds) * 1000;
}

TReportMail::TReportMail(IReportMailHost& host) : host_(host) {
    deadline_.SetEnabled(false);
    deadline_.OnTimer = [this](TObject*) { DeadlinePassed(); };
    smtpClient_.SetName("SmtpClient");
    smtpClient_.Port = "smtp";
    smtpClient_.AuthType = smtpAuthNone;
    // The report's text is in the process's code page: UTF-8 under the program's manifest.
    smtpClient_.CharSet = ::GetACP() == CP_UTF8 ? "utf-8" : "iso-8859-1";
    smtpClient_.SetContentType(smtpPlainText);
    smtpClient_.OnResponse = [this](TObject* s, const std::string& msg) { SmtpClientResponse(s, msg); };
    smtpClient_.OnRequestDone = [this](TObject* s, TSmtpRequest rq, WORD code) { SmtpClientRequestDone(s, rq, code); };
    smtpClient_.OnSessionClosed = [this](TObject* s, WORD error) { SmtpClientSessionClosed(s, error); };
}

void TReportMail::SendMailReport() {
    TReportMailSettings settings = host_.MailSettings();
    if (!settings.Send) return;
    KorvaneState().MailBusy = true;
    smtpClient_.MailMessage().Clear();
    smtpClient_.RcptName().Clear();
    smtpClient_.Host = settings.Server;
    smtpClient_.RcptName().Add(settings.Address);
    smtpClient_.HdrTo = settings.Address;
    smtpClient_.FromName = std::string("<") + kReportMailSender + ">";
    // A display name alone is no address: servers refuse such a From line.
    smtpClient_.HdrFrom = std::string("\"") + kProductName + " " + kProductVersion + "\" <" + kReportMailSender + ">";
    const bool cancelled = ReportMailSaysError(host_.RunOutcome());
    smtpClient_.HdrSubject = MailHeaderText(ReportMailSubject(host_.SessionName(), cancelled), smtpClient_.CharSet);
    BuildReportMailBody(smtpClient_.MailMessage(), cancelled, settings.ReportLevel, host_.ReportLines(),
                        DateToStr(Now()));
    if (settings.Login) {
        smtpClient_.AuthType = smtpAuthLogin;
        smtpClient_.Username = settings.User;
        smtpClient_.Password = settings.Password;
    } else {
        smtpClient_.AuthType = smtpAuthNone;
    }
    try {
        smtpClient_.Open();
        sending_ = true;
        deadline_.SetInterval(DeadlineMs);
        deadline_.SetEnabled(true);
    } catch (const std::exception& e) {
        host_.AddLog(KV_Mail_Error + e.what(), lcRed, 1, lkNormal);
        // A mail still under way from an earlier run keeps the window waiting.
        KorvaneState().MailBusy = smtpClient_.State() != smtpReady;
    }
    host_.AddLog(KV_Mail_Sending, lcBlue, 1, lkNormal);
}

void TReportMail::MailEnded() {
    sending_ = false;
    deadline_.SetEnabled(false);
    KorvaneState().MailBusy = false;
    host_.MailFinished();
    if (KorvaneState().CloseWhenMailDone) host_.CloseMainWindow();
}

void TReportMail::Safely(void (TCustomSmtpClient::*request)()) {
    try {
        (smtpClient_.*request)();
    } catch (const std::exception& e) {
        host_.AddLog(KV_Mail_Error + e.what(), lcRed, 1, lkNormal);
    }
}

void TReportMail::DeadlinePassed() {
    deadline_.SetEnabled(false);
    if (!sending_) return;
    host_.AddLog(KV_Mail_Error + KV_Mail_TimeLimit + IntToStr(DeadlineMs / 1000) + " s.", lcRed, 1, lkNormal);
    // Given up: the abort's own end of the request is not this mail's any more.
    sending_ = false;
    Safely(&TCustomSmtpClient::Abort);
    MailEnded();
}

void TReportMail::SmtpClientRequestDone(TObject*, TSmtpRequest rqType, WORD errorCode) {
    if (!sending_) return;
    if (errorCode != 0) {
        // Below the Winsock range the code is the server's reply (535 for a
        // refused login): its own line is the reason.
        const std::string& reply = smtpClient_.ErrorMessage();
        if (errorCode < WSABASEERR && !reply.empty())
            host_.AddLog(KV_Mail_Error + reply, lcRed, 1, lkNormal);
        else
            host_.AddLog(KV_Mail_SocketError + IntToStr(errorCode) + " " + NetSocketErrorDesc(errorCode), lcRed, 1,
                         lkNormal);
        Safely(&TCustomSmtpClient::Quit);
        MailEnded();
        return;
    }
    switch (rqType) {
    case smtpOpen:
        host_.AddLog(KV_Mail_Connected, lcBlack, 3, lkNormal);
        try {
            smtpClient_.Mail();
        } catch (const std::exception& e) {
            host_.AddLog(KV_Mail_Error + e.what(), lcRed, 1, lkNormal);
            Safely(&TCustomSmtpClient::Quit);
            MailEnded();
        }
        return;
    case smtpMail:
        host_.AddLog(KV_Mail_Sent, lcBlue, 3, lkNormal);
        Safely(&TCustomSmtpClient::Quit);
        return;
    case smtpQuit:
        if (!host_.SessionClosesAfterBackup()) host_.AddLog(KV_Mail_Disconnected, lcBlack, 3, lkNormal);
        MailEnded();
        return;
    default:
        host_.AddLog(KV_Mail_Aborting, lcRed, 1, lkNormal);
        Safely(&TCustomSmtpClient::Abort);
        MailEnded();
        return;
    }
}

void TReportMail::SmtpClientResponse(TObject*, const std::string& msg) {
    host_.AddLog(KV_Mail_Msg + msg, lcBlack, 3, lkDetail);
}

void TReportMail::SmtpClientSessionClosed(TObject*, WORD) {
    if (!host_.CloseAfterBackupTicked()) return;
    host_.ClearSessionModified();
    host_.CloseMainWindow();
}

} // namespace krv
