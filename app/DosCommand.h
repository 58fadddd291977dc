// Runs one console program in a hidden console of its own, its standard
// input, output and error redirected through pipes, and delivers the output
// line by line while it runs. The worker thread owns the process and the
// pipes and sleeps until output, the end of the program, new input or Stop
// wakes it (or a second passes, with a time limit); the line and end events
// come from that worker (or, with SynchronizeEvents, from the user-interface
// thread while the worker waits).
#pragma once
#include "framework/Classes.h"
#include "framework/Handle.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "framework/Thread.h"
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace krv {

enum TOutputType { otEntireLine, otBeginningOfLine };

class EDosCommand : public Exception {
public:
    using Exception::Exception;
};
class TCreateProcessError : public Exception {
public:
    using Exception::Exception;
};

class TDosCommand;
using TNewLineEvent = std::function<void(TObject* sender, const std::string& newLine, TOutputType outputType)>;

// Counts whole seconds since the start and since the last output. It ticks
// on the system's timer-queue thread, so it keeps counting whether or not
// anybody pumps messages; the worker reads the counters without a lock.
class TProcessTimer {
public:
    TProcessTimer() = default;
    ~TProcessTimer();
    TProcessTimer(const TProcessTimer&) = delete;
    TProcessTimer& operator=(const TProcessTimer&) = delete;

    unsigned Interval = 1000;
    void Begin();
    void NewOutput() { sinceLastOutput_ = 0; }
    void Ended();
    int SinceBeginning() const { return sinceBeginning_; }
    int SinceLastOutput() const { return sinceLastOutput_; }

private:
    static void CALLBACK Tick(void* self, BOOLEAN);
    HANDLE timer_ = nullptr;   // timer-queue timer; deleted (and waited for) in Ended
    std::atomic<int> sinceBeginning_{0};
    std::atomic<int> sinceLastOutput_{0};
};

// How the last run ended; read after OnTerminated.
struct TDosResult {
    bool Started = false;        // the process was created
    std::string StartError;      // why it could not be created
    bool Stopped = false;        // ended by Stop
    bool TimedOut = false;       // a time limit ended the waiting (the process may still run)
    DWORD ExitCode = 0;
    // A process that ended by an unhandled exception or was killed from
    // outside reports an NTSTATUS error value as its exit code.
    bool Crashed() const { return Started && !Stopped && !TimedOut && ExitCode >= 0xC0000000u; }
};

class TDosThread : public TThread {
public:
    TDosThread(TDosCommand* owner, const std::string& commandLine, TStringList* lines,
               TProcessTimer* timer, bool inputToOutput, int maxTimeAfterBeginning,
               int maxTimeAfterLastOutput, DWORD priority, bool synchronizeEvents);
    // Queues input: marker "_" sends the text followed by CR LF, any other
    // marker sends it as it is.
    void AddInput(const std::string& markedText);
    // Terminate, and wake the worker so that it ends the program now.
    void Stop();
    const TDosResult& Result() const { return result_; }
    // True while one of its events runs on the user-interface thread.
    bool InHandler() const { return inHandler_; }

protected:
    void Execute() override;

private:
    struct Pipes;
    class OutputReader;
    bool CreatePipes(Pipes& pipes);
    void RunProcess(Pipes& pipes);
    bool TimeIsUp() const;
    void TakeOutput(OutputReader& reader);
    void ParseChunk(const char* data, DWORD size);
    void SendInput(HANDLE writeEnd);
    void DeliverLine(const std::string& line);
    void DeliverPartial(const std::string& text);
    void Deliver(const std::string& text, TOutputType type);
    void Fire(const std::function<void()>& fn);

    TDosCommand* owner_;
    std::string commandLine_;
    TStringList* lines_;
    TProcessTimer* timer_;
    bool inputToOutput_;
    int maxTimeAfterBeginning_;
    int maxTimeAfterLastOutput_;
    DWORD priority_;
    bool synchronizeEvents_;

    KernelHandle wake_;       // set by AddInput and Stop
    std::mutex inputLock_;
    TStringList inputLines_;
    std::string pending_;     // unfinished last line
    bool partialShown_ = false;
    TDosResult result_;
    std::atomic<bool> inHandler_{false};
};

class TDosCommand : public TComponent {
public:
    explicit TDosCommand(TComponent* owner = nullptr);
    ~TDosCommand() override;

    std::string CommandLine;
    // Every complete output line of the current run, in order.
    TStringList& OutputLines() { return outputLines_; }
    // Optional mirror of the output (not owned); a partial last line is shown and later replaced.
    TStringList* Lines = nullptr;
    TNewLineEvent OnNewLine;
    // Once per run, also when the program could not be started.
    std::function<void(TObject* sender)> OnTerminated;
    bool InputToOutput = false;
    int MaxTimeAfterBeginning = 0;
    int MaxTimeAfterLastOutput = 0;
    DWORD Priority = NORMAL_PRIORITY_CLASS;
    // Deliver OnNewLine and OnTerminated on the user-interface thread (the
    // worker waits for each); Stop keeps answering them while it waits.
    bool SynchronizeEvents = false;

    void Execute();
    // Ends the program and waits for the worker; nothing on an idle component.
    void Stop();
    // Sends text to the program's standard input (with CR LF when eol).
    void SendLine(const std::string& text, bool eol = true);
    bool Running() const { return thread_ && !thread_->Finished(); }
    // How the last run ended (valid from OnTerminated on).
    const TDosResult& Result() const { return result_; }
    TDosThread* Thread() const { return thread_.get(); }
    TProcessTimer* Timer() const { return timer_.get(); }

protected:
    friend class TDosThread;
    virtual void DoNewLine(const std::string& line, TOutputType outputType);
    virtual void DoTerminated();

private:
    void ReleaseThread();
    TStringList outputLines_;
    std::unique_ptr<TProcessTimer> timer_;
    std::unique_ptr<TDosThread> thread_;
    TDosResult result_;
};

} // namespace krv
