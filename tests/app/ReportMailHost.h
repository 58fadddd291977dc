// A stand-in for the main window as the report mail sees it: settings to
// hand out, and a record of the log lines and close requests.
#pragma once
#include "app/Lang.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "app/ReportMail.h"
#include "net/NetTestUtil.h"
#include <algorithm>
#include <string>
#include <vector>

namespace krvtest {

using namespace krv;

struct ReportMailHost : IReportMailHost {
    TReportMailSettings settings;
    std::string name = "Nightly";
    TRunOutcome outcome = roDone;
    TStringList report;
    bool closeKRV = false, closeTicked = false;
    std::vector<std::string> log;   // "text |colour level kind"
    int closes = 0, modifiedCleared = 0, finished = 0;

    TReportMailSettings MailSettings() override { return settings; }
    std::string SessionName() override { return name; }
    TRunOutcome RunOutcome() override { return outcome; }
    const TStringList& ReportLines() override { return report; }
    bool SessionClosesAfterBackup() override { return closeKRV; }
    bool CloseAfterBackupTicked() override { return closeTicked; }
    void AddLog(const std::string& msg, int colour, int level, int kind) override {
        log.push_back(msg + " |" + std::to_string(colour) + std::to_string(level) + std::to_string(kind));
    }
    void ClearSessionModified() override { ++modifiedCleared; }
    void CloseMainWindow() override { ++closes; }
    void MailFinished() override { ++finished; }
    bool Logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
};

// English texts, the mail flags cleared, a mail wanted for a two-line report.
struct ReportMailRun {
    ReportMailHost host;
    TReportMail mail{host};
    ReportMailRun() {
        static TLang english;
        LoadLanguageStrings(english);
        KorvaneState().MailBusy = false;
        KorvaneState().CloseWhenMailDone = false;
        host.settings.Send = true;
        host.settings.Address = "admin@korvane.test";
        host.settings.Server = "127.0.0.1";
        host.settings.ReportLevel = 2;
        host.report.Add("Backup started");
        host.report.Add(".hidden dot line");
    }
    void SendAndWait() {
        mail.SendMailReport();
        PumpUntil([&] { return !KorvaneState().MailBusy; }, 60000);
        PumpFor(100);
    }
};

} // namespace krvtest
