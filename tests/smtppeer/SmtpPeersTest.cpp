// The mail client and the report mail against a real mail server on a
// loopback address of the run's own, started by tests/e2e/smtp_peers.sh,
// which passes its address and port, the one login it accepts and the folder
// where it saves what it received.
#include "app/ReportMailHost.h"
#include "app/TempFolder.h"
#include "framework/Stream.h"
#include "net/NetTestUtil.h"
#include "net/SmtpMail.h"
#include "net/SmtpTestUtil.h"
#include <regex>

using namespace krvtest;

namespace {

std::string Env(const char* name) { return PeerEnv(name, "tests/e2e/smtp_peers.sh"); }

std::string ReadFile(const std::string& path) {
    if (!FileExists(path)) return {};
    TFileStream f(path, fmOpenRead | fmShareDenyNone);
    std::string s(static_cast<size_t>(f.Size()), '\0');
    if (!s.empty()) f.ReadBuffer(s.data(), s.size());
    return s;
}

// The saved message whose subject line is exactly this, with its envelope.
struct Received {
    std::string content, envelope;
};
Received FindMessage(const std::string& subject) {
    std::string dir = IncludeTrailingBackslash(Env("KRV_SMTP_OUT"));
    for (int n = 1; n < 500; ++n) {
        std::string eml = ReadFile(dir + std::to_string(n) + ".eml");
        if (eml.empty()) continue;
        if (eml.find("\r\nSubject: " + subject + "\r\n") != std::string::npos || eml.rfind("Subject: " + subject + "\r\n", 0) == 0)
            return {eml, ReadFile(dir + std::to_string(n) + ".json")};
    }
    return {};
}

struct Session {
    TSmtpSender smtp;
    std::vector<std::pair<TSmtpRequest, WORD>> done;

    explicit Session(const std::string& subject) {
        smtp.Host = Env("KRV_SMTP_HOST");
        smtp.Port = Env("KRV_SMTP_PORT");
        smtp.SignOn = "korvane-test";
        smtp.FromName = "backup@korvane.test";
        smtp.RcptName().Add("admin@korvane.test");
        smtp.HdrFrom = "\"Korvane test\" <backup@korvane.test>";
        smtp.HdrTo = "admin@korvane.test";
        smtp.HdrSubject = subject;
        smtp.OnRequestDone = [this](TObject*, TSmtpRequest rq, WORD code) {
            done.push_back({rq, code});
            if (code == 0 && rq == smtpOpen) smtp.Mail();
            else if (code == 0 && rq == smtpMail) smtp.Quit();
        };
    }
    void Login(TSmtpAuthType type, const std::string& user, const std::string& pass) {
        smtp.AuthType = type;
        smtp.Username = user;
        smtp.Password = pass;
    }
    // Runs Open, Mail, Quit; answers the requests that ended, in order.
    std::vector<std::pair<TSmtpRequest, WORD>> Run() {
        smtp.Open();
        PumpUntil([&] { return !done.empty() && (done.back().second != 0 || done.back().first == smtpQuit); }, 60000);
        return done;
    }
};

using Results = std::vector<std::pair<TSmtpRequest, WORD>>;
const Results kAllDone = {{smtpOpen, 0}, {smtpMail, 0}, {smtpQuit, 0}};

} // namespace

TEST(SmtpPeer, EachLoginMethodDeliversAndTheMessageArrivesExactly) {
    const std::string user = Env("KRV_SMTP_USER"), pass = Env("KRV_SMTP_PASS");
    TStringList body;
    body.Add("Plain line");
    body.Add(".starts with a dot");
    body.Add(".");
    body.Add("..two dots");
    body.Add("");
    body.Add("split\rat\nevery\r\nbreak");
    body.Add(std::string(2500, 'w'));
    for (TSmtpAuthType type : {smtpAuthPlain, smtpAuthLogin, smtpAuthCramMD5}) {
        std::string subject = "login " + std::to_string(type);
        Session s(subject);
        s.Login(type, user, pass);
        s.smtp.HdrCc = "copy@korvane.test";
        s.smtp.SetMailMessage(body);
        ASSERT_EQ(s.Run(), kAllDone) << subject << ": " << s.smtp.ErrorMessage();
        Received r = FindMessage(subject);
        ASSERT_FALSE(r.content.empty()) << subject;
        EXPECT_NE(r.envelope.find("\"login\": \"" + user + "\""), std::string::npos) << r.envelope;
        EXPECT_NE(r.envelope.find("\"from\": \"backup@korvane.test\""), std::string::npos) << r.envelope;
        auto lines = MailLines(r.content);
        ASSERT_GE(lines.size(), 10u);
        std::vector<std::string> head(lines.begin(), lines.begin() + 10);
        EXPECT_TRUE(std::regex_match(head[7], std::regex(R"(Date: \w{3}, \d{1,2} \w{3} \d{4} \d\d:\d\d:\d\d GMT)"))) << head[7];
        head[7] = "Date";
        EXPECT_EQ(head, (std::vector<std::string>{"From: \"Korvane test\" <backup@korvane.test>",
                                                  "To: admin@korvane.test", "Cc: copy@korvane.test",
                                                  "Subject: " + subject,
                                                  "Sender: \"Korvane test\" <backup@korvane.test>", "Mime-Version: 1.0",
                                                  "Content-Type: text/plain; charset=\"iso-8859-1\"", "Date",
                                                  "X-Mailer: Tervel SMTP Component V2.32", ""}));
        std::vector<std::string> rest(lines.begin() + 10, lines.end());
        ASSERT_GE(rest.size(), 11u);
        EXPECT_EQ(std::vector<std::string>(rest.begin(), rest.begin() + 9),
                  (std::vector<std::string>{"Plain line", ".starts with a dot", ".", "..two dots", "", "split", "at",
                                            "every", "break"}));
        std::string longLine;
        for (auto it = rest.begin() + 9; it != rest.end(); ++it) {
            EXPECT_LE(it->size(), kSmtpMaxLineLength);
            longLine += *it;
        }
        EXPECT_EQ(longLine, std::string(2500, 'w')) << "the long line is wrapped, nothing lost";
    }
}

TEST(SmtpPeer, AWrongPasswordIsRefusedWith535) {
    for (TSmtpAuthType type : {smtpAuthPlain, smtpAuthLogin, smtpAuthCramMD5}) {
        Session s("never sent");
        s.Login(type, Env("KRV_SMTP_USER"), "wrong");
        Results r = s.Run();
        ASSERT_EQ(r.size(), 1u) << type;
        EXPECT_EQ(r[0], std::make_pair(smtpOpen, WORD(535))) << type;
        EXPECT_EQ(s.smtp.ErrorMessage().substr(0, 4), "535 ") << s.smtp.ErrorMessage();
        s.done.clear();
        s.smtp.Quit();
        PumpUntil([&] { return !s.done.empty(); });
        ASSERT_EQ(s.done.size(), 1u);
        EXPECT_EQ(s.done[0], std::make_pair(smtpQuit, WORD(0)));
    }
}

TEST(SmtpPeer, AttachmentsArriveForThePythonCheck) {
    // The files are written beside what the server saves; the e2e script
    // compares each decoded part with them, byte for byte.
    std::string dir = IncludeTrailingBackslash(Env("KRV_SMTP_OUT")) + "att\\";
    ASSERT_TRUE(ForceDirectories(dir));
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes += static_cast<char>((i * 31 + i / 7) & 0xFF);
    {
        TFileStream f(dir + "data.bin", fmCreate);
        f.WriteBuffer(bytes.data(), bytes.size());
        TFileStream e(dir + "empty.txt", fmCreate);
        TFileStream d(dir + "dots.txt", fmCreate);
        std::string dots = ".\r\n..\r\n.x\r\n";
        d.WriteBuffer(dots.data(), dots.size());
    }
    Session s("attachments");
    TStringList files, body;
    files.Add(dir + "data.bin");
    files.Add(dir + "empty.txt");
    files.Add(dir + "dots.txt");
    s.smtp.SetEmailFiles(files);
    body.Add("Three files.");
    s.smtp.SetMailMessage(body);
    ASSERT_EQ(s.Run(), kAllDone) << s.smtp.ErrorMessage();
    EXPECT_FALSE(FindMessage("attachments").content.empty());
}

// ---- the report mail of a run -----------------------------------------------------

namespace {

// A report run against the server on its free port.
struct ReportRun : ReportMailRun {
    ReportRun() {
        host.settings.Server = Env("KRV_SMTP_HOST");
        mail.SmtpClient().Port = Env("KRV_SMTP_PORT");
    }
};

} // namespace

TEST(ReportMailPeer, ASavedRunMailsItsReport) {
    ReportRun run;
    run.host.settings.Login = true;
    run.host.settings.User = Env("KRV_SMTP_USER");
    run.host.settings.Password = Env("KRV_SMTP_PASS");
    KorvaneState().CloseWhenMailDone = true;   // a close asked for while the mail runs
    run.SendAndWait();
    EXPECT_EQ(run.host.closes, 1) << "the window closes once the mail is done";
    EXPECT_EQ(run.host.finished, 1);
    std::vector<std::string> own;
    for (auto& l : run.host.log)
        if (l.rfind("Mail: ", 0) != 0) own.push_back(l);
    EXPECT_EQ(own, (std::vector<std::string>{"Sending mail... |210", "SMTP Connected, sending mail... |030",
                                             "SMTP Mail sent, quit... |230", "SMTP Disconnected |030"}));
    EXPECT_NE(std::find(run.host.log.begin(), run.host.log.end(), "Mail: 221 Bye |031"), run.host.log.end())
        << "server replies are logged as detail lines";
    Received r = FindMessage("[Nightly] Korvane Mail Notification: Backup Saved.");
    ASSERT_FALSE(r.content.empty());
    EXPECT_NE(r.envelope.find("\"login\": \"" + Env("KRV_SMTP_USER") + "\""), std::string::npos);
    EXPECT_NE(r.content.find("From: \"Korvane 0.9.1\" <noreply@korvane.example>\r\n"), std::string::npos);
    auto lines = MailLines(r.content);
    auto body = std::find(lines.begin(), lines.end(), "");
    ASSERT_NE(body, lines.end());
    std::vector<std::string> got(body + 1, lines.end());
    ASSERT_EQ(got.size(), 14u);
    EXPECT_EQ(got[0], "          -== Korvane 0.9.1 ==-");
    EXPECT_EQ(got[1], std::string(16, ' ') + DateToStr(Now()));
    EXPECT_EQ(std::vector<std::string>(got.begin() + 2, got.end()),
              (std::vector<std::string>{"", "The backup has been correctly saved.", "", "", std::string(57, '='),
                                        "Backup started", ".hidden dot line", "", "", std::string(57, '='),
                                        "Mail report done with Korvane 0.9.1.",
                                        "View https://korvane.example/ for more details."}));
}

TEST(ReportMailPeer, AFailedRunSaysErrorAndLevelZeroLeavesTheReportOut) {
    ReportRun run;
    run.host.outcome = roFailed;
    run.host.closeKRV = true;
    run.host.settings.ReportLevel = 0;
    run.host.name.clear();
    run.SendAndWait();
    Received r = FindMessage("Korvane Mail Notification: Error!");
    ASSERT_FALSE(r.content.empty());
    auto lines = MailLines(r.content);
    auto body = std::find(lines.begin(), lines.end(), "");
    ASSERT_NE(body, lines.end());
    EXPECT_EQ(std::vector<std::string>(body + 4, lines.end()),
              (std::vector<std::string>{"The backup has been stopped due to an error.",
                                        "View the log for further details.", "", "", "", std::string(57, '='),
                                        "Mail report done with Korvane 0.9.1.",
                                        "View https://korvane.example/ for more details."}));
    EXPECT_EQ(std::count(run.host.log.begin(), run.host.log.end(), "SMTP Disconnected |030"), 0)
        << "not logged when the window closes after the backup";
}

TEST(ReportMailPeer, ARefusedLoginIsLoggedAndEndsTheMail) {
    ReportRun run;
    run.host.settings.Login = true;
    run.host.settings.User = Env("KRV_SMTP_USER");
    run.host.settings.Password = "wrong";
    run.host.closeTicked = true;
    KorvaneState().CloseWhenMailDone = true;
    run.SendAndWait();
    EXPECT_FALSE(KorvaneState().MailBusy);
    EXPECT_NE(std::find(run.host.log.begin(), run.host.log.end(), "SMTP Error: 535 5.7.8 Authentication credentials invalid |110"),
              run.host.log.end());
    EXPECT_GE(run.host.closes, 1);
    // The QUIT that follows the error still goes out and gets its answer.
    PumpUntil([&] { return run.mail.SmtpClient().State() == smtpReady && !run.mail.SmtpClient().Connected(); });
    EXPECT_FALSE(run.mail.SmtpClient().Connected());
}

// A server that never finishes its answer, only sends more of it: the
// client's wait restarts with every line, so only the mail's own deadline
// ends it, with a red line; a close asked for meanwhile happens then.
TEST(ReportMailPeer, AServerThatStallsWithContinuationLinesIsGivenUpAtTheDeadline) {
    ReportRun run;
    run.mail.SmtpClient().Port = Env("KRV_SMTP_STALL_PORT");
    run.mail.DeadlineMs = 3000;
    KorvaneState().CloseWhenMailDone = true;
    run.mail.SendMailReport();
    ASSERT_TRUE(PumpUntil([&] { return !KorvaneState().MailBusy; }, 60000)) << "the mail never ended";
    EXPECT_TRUE(run.host.Logged("SMTP Error: the mail was given up, as it did not end within 3 s. |110"))
        << ::testing::PrintToString(run.host.log);
    EXPECT_EQ(run.host.closes, 1);
    EXPECT_EQ(run.host.finished, 1) << "the red line must reach the report file";
    EXPECT_GE(std::count(run.host.log.begin(), run.host.log.end(), "Mail: 250-still working on it |031"), 2)
        << "the server did stall with continuation lines";
    // The given-up request's own end is not reported as a second failure.
    const size_t lines = run.host.log.size();
    PumpFor(1500);
    EXPECT_EQ(run.host.log.size(), lines) << ::testing::PrintToString(run.host.log);
    EXPECT_EQ(run.mail.SmtpClient().State(), smtpReady);
    EXPECT_FALSE(run.mail.SmtpClient().Connected());
}

TEST(ReportMailPeer, TheFixedMailPortReachesAServerOnPort25) {
    ReportRun run;
    run.mail.SmtpClient().Port = "smtp";
    run.host.name = "Port 25";
    run.SendAndWait();
    EXPECT_FALSE(FindMessage("[Port 25] Korvane Mail Notification: Backup Saved.").content.empty())
        << "the service name \"smtp\" resolves to port 25";
}

// Batch mode with a session that asks for a mail: the run's place is taken by
// a stand-in that logs and sends the report as the run's last step does.
TEST(ReportMailPeer, ABatchRunClosesOnlyWhenItsMailIsDone) {
    Application().Initialize();
    static TLang english;
    LoadLanguageStrings(english);
    std::string dir = NewTempFolder("krv_batchmail");
    ASSERT_TRUE(ForceDirectories(dir + "app") && ForceDirectories(dir + "dest"));
    const std::string sessionFile = dir + "job.xml";
    {
        TSessionData s;
        s.Reset("Batch job");
        s.SessionName = "Batch job";
        s.MailActive = true;
        s.Address = "admin@korvane.test";
        s.SMTP = Env("KRV_SMTP_HOST");
        s.Type = bmHardDisk;
        s.DirHD = dir + "dest";
        s.ArchiveName = "backup.zip";
        s.Log = 2;
        s.SaveToFile(sessionFile);
    }
    struct Case {
        TRunOutcome outcome;
        bool serverThere;
        std::string subject;
    };
    for (const Case& c : {Case{roDone, true, "[Batch job] Korvane Mail Notification: Backup Saved."},
                          Case{roCancelled, true, "[Batch job] Korvane Mail Notification: Error!"},
                          Case{roDone, false, ""}}) {
        KorvaneState().MailBusy = KorvaneState().CloseWhenMailDone = false;
        TMainForm form(dir + "app\\", {});
        form.Show();
        // The run's ending as the mail reads it.
        struct Host : TMainFormMailHost {
            using TMainFormMailHost::TMainFormMailHost;
            TRunOutcome outcome = roDone;
            TRunOutcome RunOutcome() override { return outcome; }
        } host(form);
        host.outcome = c.outcome;
        TReportMail mail(host);   // the application's own port: "smtp", 25
        if (!c.serverThere) mail.SmtpClient().Port = UnusedPort();
        bool ran = false;
        form.StartBackup = [&] {
            ran = true;
            mail.SendMailReport();
        };
        form.RunBatch(sessionFile, "");
        ASSERT_TRUE(ran) << "the batch run did not start";
        EXPECT_TRUE(KorvaneState().MailBusy);
        EXPECT_TRUE(form.Visible()) << "the close waits for the mail";
        ASSERT_TRUE(PumpUntil([&] { return !KorvaneState().MailBusy; }, 60000));
        EXPECT_FALSE(form.Visible()) << "closed once the mail ended";
        std::string report = form.ReportLines.Text();
        if (c.serverThere) {
            EXPECT_FALSE(FindMessage(c.subject).content.empty()) << c.subject;
            EXPECT_NE(report.find("Sending mail..."), std::string::npos) << report;
            EXPECT_EQ(report.find("SMTP Socket Error"), std::string::npos) << report;
        } else {
            EXPECT_NE(report.find("SMTP Socket Error: 10061 Connection refused"), std::string::npos) << report;
        }
        PumpFor(100);
    }
}
