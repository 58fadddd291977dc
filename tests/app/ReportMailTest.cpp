// The report mail without a server: its subject and body, and every way it
// can fail before a server answers (the real server runs in tests/e2e).
#include "ReportMailHost.h"
#include "TempFolder.h"

using namespace krvtest;

TEST(ReportMail, SubjectNamesTheSessionAndTheOutcome) {
    ReportMailRun run;   // fills the English texts
    EXPECT_EQ(ReportMailSubject("Nightly", false), "[Nightly] Korvane Mail Notification: Backup Saved.");
    EXPECT_EQ(ReportMailSubject("Nightly", true), "[Nightly] Korvane Mail Notification: Error!");
    EXPECT_EQ(ReportMailSubject("", false), "Korvane Mail Notification: Backup Saved.");
}

// The mail reads how the run ended: only a run that kept no backup says "Error!".
TEST(ReportMail, TheRunsOutcomeDecidesSubjectAndVerdict) {
    const struct {
        TRunOutcome outcome;
        const char* subject;
        const char* verdict;
    } cases[] = {
        {roDone, "[Nightly] Korvane Mail Notification: Backup Saved.", "The backup has been correctly saved."},
        {roLeftOut, "[Nightly] Korvane Mail Notification: Backup Saved.", "The backup has been correctly saved."},
        {roFailed, "[Nightly] Korvane Mail Notification: Error!", "The backup has been stopped due to an error.\r\nView the log for further details."},
        {roCancelled, "[Nightly] Korvane Mail Notification: Error!", "The backup has been stopped due to an error.\r\nView the log for further details."},
    };
    for (const auto& c : cases) {
        ReportMailRun run;
        run.host.outcome = c.outcome;
        run.host.settings.Server = "";   // refused at once: the message is built, nothing is sent
        run.mail.SendMailReport();
        EXPECT_EQ(run.mail.SmtpClient().HdrSubject, c.subject) << c.outcome;
        ASSERT_GT(run.mail.SmtpClient().MailMessage().Count(), 3) << c.outcome;
        EXPECT_EQ(run.mail.SmtpClient().MailMessage()[3], c.verdict) << c.outcome;
    }
}

// A session name outside ASCII must not go raw into the header: an encoded
// word in the body's charset says what it is.
TEST(ReportMail, HeaderTextOutsideAsciiIsAnEncodedWord) {
    EXPECT_EQ(MailHeaderText("[Nightly] Backup", "utf-8"), "[Nightly] Backup");
    EXPECT_EQ(MailHeaderText("\xD0\x98\xD0\xBC\xD0\xB5\xD0\xBD\xD0\xB0", "utf-8"), "=?utf-8?B?0JjQvNC10L3QsA==?=");
    EXPECT_EQ(MailHeaderText("Gr\xFC\xDF" "e", "iso-8859-1"), "=?iso-8859-1?B?R3L832U=?=");
}

TEST(ReportMail, BodyHasTheReportOnlyAboveLevelZero) {
    ReportMailRun run;
    const std::string ruler(57, '=');
    TStringList body;
    BuildReportMailBody(body, true, 0, run.host.report, "07/12/2026");
    std::vector<std::string> lines;
    for (int i = 0; i < body.Count(); ++i) lines.push_back(body[i]);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "          -== Korvane 0.9.1 ==-", std::string(16, ' ') + "07/12/2026", "",
                         "The backup has been stopped due to an error.\r\nView the log for further details.", "", "",
                         "", ruler, "Mail report done with Korvane 0.9.1.\r\nView https://korvane.example/ for more details."}));
    BuildReportMailBody(body, false, 3, run.host.report, "d");
    EXPECT_EQ(body.Count(), 13);
    EXPECT_EQ(body[3], "The backup has been correctly saved.");
    EXPECT_EQ(body[6], ruler);
    EXPECT_EQ(body[7], "Backup started");
    EXPECT_EQ(body[8], ".hidden dot line");
}

TEST(ReportMail, NothingHappensWhenTheSessionAsksForNoMail) {
    ReportMailRun run;
    run.host.settings.Send = false;
    run.mail.SendMailReport();
    EXPECT_FALSE(KorvaneState().MailBusy);
    EXPECT_TRUE(run.host.log.empty());
    EXPECT_EQ(run.mail.SmtpClient().State(), smtpReady);
}

TEST(ReportMail, NoServerListeningIsLoggedAndAPendingCloseHappens) {
    ReportMailRun run;
    run.mail.SmtpClient().Port = UnusedPort();
    run.mail.SendMailReport();
    EXPECT_TRUE(KorvaneState().MailBusy) << "the mail runs on from the message loop";
    EXPECT_EQ(run.host.log, std::vector<std::string>{"Sending mail... |210"});
    KorvaneState().CloseWhenMailDone = true;   // the user closes meanwhile
    EXPECT_TRUE(PumpUntil([&] { return !KorvaneState().MailBusy; }));
    EXPECT_TRUE(run.host.Logged("SMTP Socket Error: 10061 Connection refused |110")) << ::testing::PrintToString(run.host.log);
    EXPECT_GE(run.host.closes, 1);
    EXPECT_GE(run.host.finished, 1) << "the failed mail's lines must reach the report file";
    PumpFor(100);
    EXPECT_EQ(run.mail.SmtpClient().State(), smtpReady);
}

TEST(ReportMail, AnOpenRefusedAtOnceIsLoggedInRed) {
    ReportMailRun run;
    run.host.settings.Server = "";   // nothing to look up
    run.mail.SendMailReport();
    EXPECT_FALSE(KorvaneState().MailBusy);
    ASSERT_EQ(run.host.log.size(), 2u);
    EXPECT_EQ(run.host.log[0].rfind("SMTP Error: ", 0), 0u) << run.host.log[0];
    EXPECT_EQ(run.host.log[0].substr(run.host.log[0].size() - 4), "|110");
    EXPECT_EQ(run.host.log[1], "Sending mail... |210");
    // A second mail while the first still runs is refused the same way.
    run.host.log.clear();
    run.host.settings.Server = "127.0.0.1";
    run.mail.SmtpClient().Port = UnusedPort();
    run.mail.SendMailReport();
    run.mail.SendMailReport();
    EXPECT_TRUE(run.host.Logged("SMTP Error: SMTP component not ready |110"));
    EXPECT_TRUE(KorvaneState().MailBusy) << "the first mail still runs: a close must still wait for it";
    PumpUntil([&] { return run.mail.SmtpClient().State() == smtpReady; });
}

TEST(ReportMail, TheMainWindowWaitsForTheMailBeforeItCloses) {
    Application().Initialize();
    static TLang english;
    LoadLanguageStrings(english);
    std::string appDir = NewTempFolder("krv_mail");
    KorvaneState().MailBusy = KorvaneState().CloseWhenMailDone = false;
    TMainForm form(appDir, {});
    form.Show();
    form.MailCheck->SetChecked(true);
    form.AddressEdit->SetText("admin@korvane.test");
    form.SMTPEdit->SetText("127.0.0.1");
    form.ComboLog->SetItemIndex(3);
    for (bool ticked : {true, false}) {
        form.Session.Modified = false;
        form.LoginCheck->SetChecked(ticked);
        LoginCheckClick(form);
        EXPECT_TRUE(form.Session.Modified);
        EXPECT_EQ(form.MailUserEdit->Enabled(), ticked);
        EXPECT_EQ(form.MailPassEdit->Enabled(), ticked);
        EXPECT_EQ(form.Find<TControl>("MailPassLabel")->Enabled(), ticked);
    }
    form.Session.Modified = false;
    TMainFormMailHost host(form);
    TReportMail mail(host);
    mail.SmtpClient().Port = UnusedPort();   // nobody answers
    mail.SendMailReport();
    ASSERT_TRUE(KorvaneState().MailBusy);
    form.Close();
    EXPECT_TRUE(form.Visible()) << "closing is refused while the mail runs";
    EXPECT_TRUE(KorvaneState().CloseWhenMailDone);
    ASSERT_TRUE(PumpUntil([&] { return !KorvaneState().MailBusy; }));
    EXPECT_FALSE(form.Visible()) << "the window closes when the mail ends";
    std::vector<std::pair<std::string, TColor>> panel;
    for (int i = 0; i < form.LogEdit->LineCount(); ++i) panel.emplace_back(form.LogEdit->Line(i), form.LogEdit->LineColor(i));
    EXPECT_NE(std::find(panel.begin(), panel.end(), std::make_pair(std::string("Sending mail..."), clBlue)), panel.end());
    EXPECT_NE(std::find(panel.begin(), panel.end(),
                        std::make_pair(std::string("SMTP Socket Error: 10061 Connection refused"), clRed)),
              panel.end());
    EXPECT_GE(form.ReportLines.Count(), 2) << "the mail's lines reach the report at level 3";
    PumpFor(100);
}
