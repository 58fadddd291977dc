// How a run ends when it is stopped from outside its own course: Cancel in an
// unattended run, a close of the compression window or of the main window,
// the end of the Windows session, a close before an unattended run began.
// Each way ends failed, keeps no archive and leaves an earlier one as it was.
#include "RunFixture.h"
#include "WorkerGate.h"
#include "app/AppState.h"
#include "app/ZipWait.h"
#include "app/ZipWaitThread.h"
#include "framework/Window.h"
#include <iterator>

using namespace krvtest;

namespace {

class RunEnd : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        Write("src\\docs\\a.txt", "alpha");
        Write("src\\docs\\big1.bin", std::string(64 << 10, 'b'));
        Write("src\\docs\\big2.bin", std::string(64 << 10, 'c'));
        Write("dest\\X.zip", "the earlier backup");
    }
    void TearDown() override {
        KorvaneState().Batch = false;
        KorvaneState().SessionEnding = false;
        RunFixture::TearDown();
    }
    TMainForm& Form(bool batch) {
        TMainForm& f = MakeForm({src + "\\docs"});
        f.SubFoldersCheck->SetChecked(true);
        // Without a command line, each activation would clear the batch flag.
        f.OnActivate = nullptr;
        KorvaneState().Batch = batch;
        return f;
    }
    // Runs the form's backup; stop is called once, on the user-interface
    // thread, while the worker is held at the first big file.
    void RunAndStop(TMainForm& f, const std::function<void(TFormZipWait&)>& stop) {
        WorkerGate gate(".bin", stop);
        f.ButtonStartClick();
        ASSERT_EQ(gate.Stops, 1) << ::testing::PrintToString(Report());
    }
    std::string Bytes(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> DestFiles() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        FindHandle h(::FindFirstFileA((dest + "\\*").c_str(), &fd));
        if (!h) return names;
        do {
            std::string n = fd.cFileName;
            if (n != "." && n != "..") names.push_back(n);
        } while (::FindNextFileA(h.get(), &fd));
        std::sort(names.begin(), names.end());
        return names;
    }
    // A stopped run: failed, its report saved, no archive but the earlier one, untouched.
    void ExpectStopped(TMainForm& f) {
        EXPECT_TRUE(f.RunStopped());
        EXPECT_EQ(f.ExitCode, ecFailed);
        EXPECT_FALSE(Holds(Report(), "Backup done"));
        ASSERT_FALSE(Report().empty());
        EXPECT_EQ(Report().back(), "Operation aborted");
        const std::vector<std::string> report = Report();
        EXPECT_EQ(std::count(report.begin(), report.end(), "Operation aborted"), 1);
        EXPECT_EQ(ReadLines(ReportFile()), Report());
        EXPECT_EQ(DestFiles(), std::vector<std::string>{"X.zip"});
        EXPECT_TRUE(Bytes(dest + "\\X.zip") == "the earlier backup") << "the earlier archive changed";
    }
};

} // namespace

// Whoever presses Cancel in an unattended run is there and wants it to stop:
// no question (it would be answered "no" for them), a line that says so.
TEST_F(RunEnd, CancelInAnUnattendedRunStopsAtOnce) {
    for (bool overwrite : {false, true}) {
        SCOPED_TRACE(overwrite ? "overwrite" : "next free name");
        TMainForm& f = Form(true);
        f.CheckOverwriteFile->SetChecked(overwrite);
        boxAnswer = IDNO;   // what a question would get in an unattended run
        RunAndStop(f, [](TFormZipWait& w) { w.ButtonCancel->Click(); });
        EXPECT_TRUE(boxes.empty()) << boxes.front().text;
        EXPECT_TRUE(Holds(Report(), "Interrupted by user"));
        ExpectStopped(f);
    }
}

// A close that reaches the compression window, in whatever way, is its
// Cancel: the run stops at once.
TEST_F(RunEnd, ACloseOfTheCompressionWindowIsCancel) {
    struct Case {
        const char* what;
        UINT msg;
        WPARAM wParam;
    } closes[] = {{"WM_CLOSE", WM_CLOSE, 0}, {"system menu Close", WM_SYSCOMMAND, SC_CLOSE}};
    for (const Case& c : closes) {
        SCOPED_TRACE(c.what);
        TMainForm& f = Form(true);
        RunAndStop(f, [&](TFormZipWait& w) {
            ::PostMessageA(w.Handle(), c.msg, c.wParam, 0);
            ProcessMessages();
        });
        EXPECT_TRUE(boxes.empty());
        EXPECT_TRUE(Holds(Report(), "Interrupted by user"));
        ExpectStopped(f);
    }
}

// The main window's close during a run cancels the run; the window closes
// once the run has stopped (and not while it goes on).
TEST_F(RunEnd, ACloseOfTheMainWindowDuringARunCancelsIt) {
    for (WPARAM command : {WPARAM(0), WPARAM(SC_CLOSE)})
    for (bool batch : {true, false}) {
        SCOPED_TRACE(std::string(command ? "system menu Close" : "WM_CLOSE") + (batch ? ", unattended" : ", a person"));
        boxes.clear();
        TMainForm& f = Form(batch);
        boxAnswer = IDYES;
        f.SaveSession = [] { return true; };   // the close's question about the session: saved
        std::vector<bool> runningAtClose;
        std::vector<TCloseAction> actions;
        auto formClose = f.OnClose;
        f.OnClose = [&](TObject* sender, TCloseAction& action) {
            runningAtClose.push_back(f.RunActive());
            formClose(sender, action);
            actions.push_back(action);
        };
        const HWND main = f.HandleNeeded();
        RunAndStop(f, [&](TFormZipWait&) {
            // The system menu's Close of a window disabled under a modal one
            // (the taskbar's Close) is ignored by the system itself.
            ::PostMessageA(main, command ? WM_SYSCOMMAND : WM_CLOSE, command, 0);
            ProcessMessages();
        });
        if (batch) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_FALSE(boxes.empty());
            EXPECT_EQ(boxes[0].text, "Do you really want to stop the task?");
        }
        ExpectStopped(f);
        // Refused during the run; unattended, the batch mode closes the window itself.
        ASSERT_EQ(actions.size(), batch ? 1u : 2u);
        EXPECT_TRUE(runningAtClose[0]);
        EXPECT_EQ(actions[0], caNone);
        if (!batch) {
            EXPECT_FALSE(runningAtClose[1]);
        }
    }
}

// Windows may end the process as soon as the window has answered
// WM_ENDSESSION: by then the run is stopped, the unfinished archive gone and
// the report saved. A session end that was called off changes nothing.
TEST_F(RunEnd, TheEndOfTheSessionStopsTheRunBeforeItsHandlerReturns) {
    for (bool batch : {true, false}) {
        SCOPED_TRACE(batch ? "unattended" : "a person");
        KorvaneState().SessionEnding = false;
        boxes.clear();
        TMainForm& f = Form(batch);
        f.CheckOverwriteFile->SetChecked(true);
        int endedWith = -1;
        f.EndProcess = [&](int code) { endedWith = code; };
        const HWND main = f.HandleNeeded();
        LRESULT query = 0;
        std::vector<std::string> filesAtReturn, reportAtReturn;
        std::string earlierAtReturn;
        bool unfinishedSeen = false;
        // Sent from the message loop as Windows sends it (the gate's stop
        // only posts it).
        TMessageWindow system([&](UINT msg, WPARAM, LPARAM, LRESULT& result) {
            if (msg != WM_APP + 7) return false;
            unfinishedSeen = DestFiles().size() == 2;
            query = ::SendMessageA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
            ::SendMessageA(main, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);   // called off by another program
            EXPECT_FALSE(f.RunStopped());
            EXPECT_EQ(endedWith, -1);
            ::SendMessageA(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
            EXPECT_EQ(endedWith, ecFailed);   // the process ends before the handler returns
            filesAtReturn = DestFiles();
            reportAtReturn = ReadLines(ReportFile());
            earlierAtReturn = Bytes(dest + "\\X.zip");
            result = 0;
            return true;
        });
        RunAndStop(f, [&](TFormZipWait&) { ::PostMessageA(system.Handle(), WM_APP + 7, 0, 0); });
        EXPECT_TRUE(unfinishedSeen);
        EXPECT_EQ(query, TRUE);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(filesAtReturn, std::vector<std::string>{"X.zip"});
        EXPECT_TRUE(earlierAtReturn == "the earlier backup") << "the earlier archive changed";
        ASSERT_GE(reportAtReturn.size(), 2u);
        EXPECT_EQ(reportAtReturn.back(), "Operation aborted");
        EXPECT_TRUE(Holds(reportAtReturn, "Windows is ending the session: the backup is stopped"));
        EXPECT_FALSE(Holds(reportAtReturn, "Interrupted by user"));
        // What the run did after the handler adds nothing: it had ended.
        ExpectStopped(f);
        EXPECT_EQ(Report(), reportAtReturn);
    }
}

// A close that comes before the unattended run has begun: the run never
// starts, and the program does not claim a backup was done.
TEST_F(RunEnd, AClosedWindowBeforeTheUnattendedRunBeganNeverReportsSuccess) {
    form = std::make_unique<TMainForm>(appDir, std::vector<std::string>{root + "session.xml"});
    TMainForm& f = *form;
    bool started = false;
    f.StartBatch = [&](const std::string&, const std::string&) { started = true; };
    f.FormActivate();
    EXPECT_TRUE(f.BatchPending());
    f.Close();
    ProcessMessages();
    EXPECT_FALSE(started);
    EXPECT_EQ(f.ExitCode, ecFailed);
}
