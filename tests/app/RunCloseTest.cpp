// The end of a run started from the window: "Close Korvane after the backup"
// closes it once the run is over; a mail that ends during a later run leaves
// that run's report alone.
#include "ReportMailHost.h"
#include "RunFixture.h"
#include "app/AppState.h"

using namespace krvtest;

namespace {

class RunClose : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        static TLang english;
        LoadLanguageStrings(english);
        KorvaneState().Batch = false;
        KorvaneState().MailBusy = KorvaneState().CloseWhenMailDone = false;
        Write("src\\docs\\a.txt", "alpha");
    }
    // A shown window whose run mails its report to port (empty: no mail).
    TMainForm& Form(const std::string& port) {
        TMainForm& f = MakeForm({src + "\\docs"});
        f.OnActivate = nullptr;
        f.OnShow = nullptr;   // shown once by MakeForm already
        f.Show();
        if (!port.empty()) {
            f.MailCheck->SetChecked(true);
            f.AddressEdit->SetText("admin@korvane.test");
            f.SMTPEdit->SetText("127.0.0.1");
            f.ReportMail().SmtpClient().Port = port;
        }
        return f;
    }
};

} // namespace

// The window closes once the run has ended: a close asked for while the run
// still goes on is refused as a Cancel that comes too late.
TEST_F(RunClose, CloseAfterTheBackupClosesTheWindowOnceTheRunHasEnded) {
    const struct {
        const char* what;
        bool mail;
    } cases[] = {{"no mail", false}, {"a mail that fails at once (no server named)", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TMainForm& f = Form(c.mail ? UnusedPort() : "");
        if (c.mail) f.SMTPEdit->SetText("");
        f.CloseKVCheck->SetChecked(true);
        f.ButtonStartClick();
        ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
        ProcessMessages();
        EXPECT_FALSE(KorvaneState().MailBusy);
        EXPECT_FALSE(f.Visible()) << ::testing::PrintToString(Report());
        form.reset();
    }
}

// A mail that ends while a later run goes on must not save that run's
// unfinished report over the earlier run's file.
TEST_F(RunClose, AMailEndingDuringTheNextRunLeavesItsReportAlone) {
    TestServer server;
    TMainForm& f = Form(server.Port());
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    ASSERT_TRUE(KorvaneState().MailBusy) << ::testing::PrintToString(Report());
    ASSERT_TRUE(PumpUntil([&] { return !server.peers.empty(); }));
    const std::vector<std::string> first = ReadLines(ReportFile());
    ASSERT_TRUE(Holds(first, "Backup done"));
    std::vector<std::string> fileDuringNext;
    f.OnRunBuilt = [&](TBackupRun&) {
        server.peers[0]->socket->Close();
        PumpUntil([] { return !KorvaneState().MailBusy; });
        fileDuringNext = ReadLines(ReportFile());
    };
    f.ButtonStartClick();
    EXPECT_EQ(fileDuringNext, first);
    EXPECT_TRUE(Holds(ReadLines(ReportFile()), "Backup done"));
}
