#include "app/DosCommand.h"
#include "StandInFixture.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace krv;

namespace {

struct Event {
    std::string text;
    TOutputType type;
};

// Runs one command and collects what it delivers.
class Runner {
public:
    Runner() {
        done_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));   // one wait per end
        cmd.OnNewLine = [this](TObject*, const std::string& line, TOutputType type) {
            events.push_back({line, type});
            if (onLine) onLine(line, type);
        };
        cmd.OnTerminated = [this](TObject* sender) {
            ++terminated;
            senderOk = sender == &cmd;
            endThread = ::GetCurrentThreadId();
            ::SetEvent(done_.get());
        };
    }
    // Starts the command line and waits for its end event.
    bool Run(const std::string& commandLine) {
        cmd.CommandLine = commandLine;
        cmd.Execute();
        return Wait();
    }
    // Waits for the end event, answering synchronized events meanwhile.
    bool Wait(DWORD ms = 60000) {
        HANDLE h = done_.get();
        DWORD start = ::GetTickCount();
        for (;;) {
            DWORD r = ::MsgWaitForMultipleObjects(1, &h, FALSE, ms, QS_ALLINPUT);
            if (r == WAIT_OBJECT_0) return true;
            if (r == WAIT_TIMEOUT || ::GetTickCount() - start > ms) return false;
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        }
    }
    std::vector<std::string> Texts(TOutputType type) const {
        std::vector<std::string> out;
        for (const Event& e : events)
            if (e.type == type) out.push_back(e.text);
        return out;
    }

    TDosCommand cmd;
    std::vector<Event> events;
    std::function<void(const std::string&, TOutputType)> onLine;
    int terminated = 0;
    bool senderOk = false;
    DWORD endThread = 0;

private:
    KernelHandle done_;
};

std::string Cdrecord(const std::string& args) {
    std::string cmd = "\"";
    cmd += StandInFixture::Tool("cdrecord");
    cmd += "\" ";
    cmd += args;
    return cmd;
}

}  // namespace

TEST(DosCommand, DeliversStdoutAndStderrLinesInOrderAndRecordsTheExactCommandLine) {
    StandInFixture tools;
    tools.Script("[cdrecord -x]\nout first line\nerr from stderr\nout \tindented\nexit 3\n");
    Runner r;
    ASSERT_TRUE(r.Run(Cdrecord("-x \"a b\" -dev=1,2,3")));
    EXPECT_EQ(r.Texts(otEntireLine), (std::vector<std::string>{"first line", "from stderr", "\tindented"}));
    EXPECT_TRUE(r.Texts(otBeginningOfLine).empty());
    EXPECT_EQ(r.cmd.OutputLines().ToVector(), r.Texts(otEntireLine));
    EXPECT_EQ(r.terminated, 1);
    EXPECT_TRUE(r.senderOk);
    EXPECT_TRUE(r.cmd.Result().Started);
    EXPECT_EQ(r.cmd.Result().ExitCode, 3u);
    EXPECT_FALSE(r.cmd.Result().Crashed());
    EXPECT_EQ(tools.Calls(), (std::vector<std::string>{r.cmd.CommandLine}));
}

TEST(DosCommand, UnterminatedLastLineComesOnceAsPartialThenComplete) {
    StandInFixture tools;
    tools.Script("[cdrecord]\nout whole\nraw no line end\n");
    Runner r;
    TStringList mirror;
    r.cmd.Lines = &mirror;
    ASSERT_TRUE(r.Run(Cdrecord("")));
    EXPECT_EQ(r.Texts(otEntireLine), (std::vector<std::string>{"whole", "no line end"}));
    ASSERT_EQ(r.Texts(otBeginningOfLine).size(), 1u);
    EXPECT_EQ(r.Texts(otBeginningOfLine)[0], "no line end");
    // The partial line shown in the mirror is replaced, not added twice.
    EXPECT_EQ(mirror.ToVector(), (std::vector<std::string>{"whole", "no line end"}));
}

TEST(DosCommand, CrLfSplitAcrossReadsGivesOneLineAndOneEmptyLine) {
    StandInFixture tools;
    // The program holds back the LF until we answer, so it arrives in a read of its own.
    tools.Script("[cdrecord]\nraw one\\r\nwait\nraw \\ntwo\\r\\nthree\\n\n");
    Runner r;
    r.onLine = [&](const std::string& line, TOutputType) {
        if (line == "one") r.cmd.SendLine("go");
    };
    ASSERT_TRUE(r.Run(Cdrecord("")));
    EXPECT_EQ(r.Texts(otEntireLine), (std::vector<std::string>{"one", "", "two", "three"}));
}

TEST(DosCommand, ZeroBytesAreDroppedAndLongLinesAssembledAcrossChunks) {
    StandInFixture tools;
    std::string longLine(5000, 'x');
    tools.Script("[cdrecord]\nraw a\\x00b\\n\nout " + longLine + "\n");
    Runner r;
    ASSERT_TRUE(r.Run(Cdrecord("")));
    EXPECT_EQ(r.Texts(otEntireLine), (std::vector<std::string>{"ab", longLine}));
}

TEST(DosCommand, InputQueueReachesTheProgramAndCanBeEchoed) {
    StandInFixture tools;
    tools.Script("[cdrecord]\nread\nread\n");
    Runner r;
    r.cmd.InputToOutput = true;
    r.cmd.CommandLine = Cdrecord("");
    r.cmd.Execute();
    r.cmd.SendLine("hello");
    r.cmd.SendLine("world");
    ASSERT_TRUE(r.Wait());
    auto lines = r.Texts(otEntireLine);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "read: hello"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "read: world"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "hello"), 1);   // the echo
}

TEST(DosCommand, MissingProgramStillEndsWithFailure) {
    StandInFixture tools;
    Runner r;
    r.cmd.CommandLine = "\"";
    r.cmd.CommandLine += StandInFixture::ToolsDir();
    r.cmd.CommandLine += "no such tool.exe\" -v";
    r.cmd.Execute();
    ASSERT_TRUE(r.Wait());
    EXPECT_EQ(r.terminated, 1);
    EXPECT_TRUE(r.events.empty());
    EXPECT_FALSE(r.cmd.Result().Started);
    EXPECT_EQ(r.cmd.Result().StartError, r.cmd.CommandLine + " doesn't exist.");
}

TEST(DosCommand, EmptyCommandLineIsRefusedAndStopWhenIdleDoesNothing) {
    TDosCommand cmd;
    cmd.Stop();
    EXPECT_FALSE(cmd.Running());
    try {
        cmd.Execute();
        FAIL() << "no exception";
    } catch (const EDosCommand& e) {
        EXPECT_STREQ(e.what(), "No Commandline to execute");
    }
}

TEST(DosCommand, StopEndsARunningProgramAndTheEndEventStillComes) {
    StandInFixture tools;
    tools.Script("[cdrecord]\nout started\nsleep 120000\nout never\n");
    Runner r;
    // The line arrives on the command's thread: wait for its event, not by
    // reading the output list the thread is filling.
    KernelHandle firstLine(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    r.onLine = [&](const std::string&, TOutputType) { ::SetEvent(firstLine.get()); };
    r.cmd.CommandLine = Cdrecord("");
    r.cmd.Execute();
    ASSERT_EQ(::WaitForSingleObject(firstLine.get(), 60000), WAIT_OBJECT_0);
    r.cmd.Stop();
    EXPECT_EQ(r.terminated, 1);
    EXPECT_TRUE(r.cmd.Result().Stopped);
    EXPECT_FALSE(r.cmd.Running());
    EXPECT_EQ(r.Texts(otEntireLine), (std::vector<std::string>{"started"}));
}

TEST(DosCommand, AProgramThatDiesIsReportedAsCrashed) {
    StandInFixture tools;
    tools.Script("[cdrecord]\nout before\ncrash\n");
    Runner r;
    ASSERT_TRUE(r.Run(Cdrecord("")));
    EXPECT_TRUE(r.cmd.Result().Crashed());
    EXPECT_EQ(r.Texts(otEntireLine), (std::vector<std::string>{"before"}));
}

TEST(DosCommand, SynchronizedEventsRunOnTheCallerThreadAndStopDoesNotDeadlock) {
    InitSynchronize();
    StandInFixture tools;
    std::string script = "[cdrecord]\n";
    for (int i = 0; i < 200; ++i) script += "out line " + std::to_string(i) + "\n";
    script += "sleep 120000\n";
    tools.Script(script);
    Runner r;
    r.cmd.SynchronizeEvents = true;
    DWORD self = ::GetCurrentThreadId();
    bool allOnCaller = true;
    r.onLine = [&](const std::string&, TOutputType) { allOnCaller = allOnCaller && ::GetCurrentThreadId() == self; };
    r.cmd.CommandLine = Cdrecord("");
    r.cmd.Execute();
    // Stop while the worker is busy handing lines over.
    while (r.events.empty()) {
        MSG msg;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
    }
    r.cmd.Stop();
    EXPECT_EQ(r.terminated, 1);
    EXPECT_EQ(r.endThread, self);
    EXPECT_TRUE(allOnCaller);
}

TEST(DosCommand, RestartingClearsTheOutputOfTheLastRun) {
    StandInFixture tools;
    tools.Script("[cdrecord]\nout run one\n[cdrecord]\nout run two\n");
    Runner r;
    ASSERT_TRUE(r.Run(Cdrecord("")));
    r.cmd.Execute();   // same component, second run
    ASSERT_TRUE(r.Wait());
    EXPECT_EQ(r.cmd.OutputLines().ToVector(), (std::vector<std::string>{"run two"}));
    EXPECT_EQ(r.terminated, 2);
}

TEST(DosCommand, TimeLimitEndsTheWaitWithoutOutput) {
    StandInFixture tools;
    tools.Script("[cdrecord]\nout quiet now\nsleep 4000\n");
    Runner r;
    r.cmd.MaxTimeAfterLastOutput = 1;
    ASSERT_TRUE(r.Run(Cdrecord("")));
    EXPECT_TRUE(r.cmd.Result().TimedOut);
    EXPECT_EQ(r.Texts(otEntireLine), (std::vector<std::string>{"quiet now"}));
}

// The worker sleeps until the pipe, the process or new input wakes it: output
// after a quiet spell, a partial line finished after one, input sent while it
// sleeps, and a program that ends without a byte of output must each still
// arrive, in order, exactly once.
TEST(DosCommand, SleepsUntilOutputInputOrTheEndAndMissesNone) {
    StandInFixture tools;
    tools.Script("[cdrecord -pause]\nout before\nraw half\nsleep 1500\nraw \\ttail\\n\nsleep 700\nout after\nexit 6\n"
                 "[cdrecord -silent]\nexit 4\n"
                 "[cdrecord -late]\nsleep 1000\nexit 5\n"
                 "[cdrecord -ask]\nout ready\nread\n");
    Runner paused;
    ASSERT_TRUE(paused.Run(Cdrecord("-pause")));
    EXPECT_EQ(paused.Texts(otEntireLine), (std::vector<std::string>{"before", "half\ttail", "after"}));
    EXPECT_EQ(paused.Texts(otBeginningOfLine), (std::vector<std::string>{"half"}));
    EXPECT_EQ(paused.cmd.Result().ExitCode, 6u);

    // Input sent from another thread while the worker sleeps wakes it.
    Runner asking;
    KernelHandle ready(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    asking.onLine = [&](const std::string& line, TOutputType) {
        if (line == "ready") ::SetEvent(ready.get());
    };
    asking.cmd.CommandLine = Cdrecord("-ask");
    asking.cmd.Execute();
    ASSERT_EQ(::WaitForSingleObject(ready.get(), 60000), WAIT_OBJECT_0);
    asking.cmd.SendLine("late answer");
    ASSERT_TRUE(asking.Wait());
    EXPECT_EQ(asking.Texts(otEntireLine), (std::vector<std::string>{"ready", "read: late answer"}));

    for (auto [args, code] : {std::pair<const char*, DWORD>{"-silent", 4}, {"-late", 5}}) {
        Runner silent;
        ASSERT_TRUE(silent.Run(Cdrecord(args))) << args;
        EXPECT_TRUE(silent.events.empty()) << args;
        EXPECT_EQ(silent.terminated, 1) << args;
        EXPECT_TRUE(silent.cmd.Result().Started) << args;
        EXPECT_FALSE(silent.cmd.Result().TimedOut) << args;
        EXPECT_EQ(silent.cmd.Result().ExitCode, code) << args;
    }
}
