#include "app/DosCommand.h"
#include <vector>

namespace krv {

// ---- TProcessTimer ---------------------------------------------------------

TProcessTimer::~TProcessTimer() { Ended(); }

void CALLBACK TProcessTimer::Tick(void* self, BOOLEAN) {
    auto* t = static_cast<TProcessTimer*>(self);
    ++t->sinceBeginning_;
    ++t->sinceLastOutput_;
}

void TProcessTimer::Begin() {
    Ended();
    sinceBeginning_ = 0;
    sinceLastOutput_ = 0;
    if (!::CreateTimerQueueTimer(&timer_, nullptr, &TProcessTimer::Tick, this, Interval, Interval,
                                 WT_EXECUTEDEFAULT))
        timer_ = nullptr;   // without a timer the time limits simply never trigger
}

void TProcessTimer::Ended() {
    if (!timer_) return;
    // INVALID_HANDLE_VALUE: wait for a running tick, so none touches a dead timer.
    ::DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
    timer_ = nullptr;
}

// ---- TDosThread ------------------------------------------------------------

struct TDosThread::Pipes {
    FileHandle inRead, inWrite;     // the child reads, the worker writes
    FileHandle outRead, outWrite;   // the child writes, the worker reads (overlapped)
};

// One overlapped read at a time on the output pipe; its event is set when the
// read finishes, so the worker can wait for output beside the process.
class TDosThread::OutputReader {
public:
    explicit OutputReader(HANDLE pipe) : pipe_(pipe), event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        if (!event_) closed_ = true;
    }
    OutputReader(const OutputReader&) = delete;
    OutputReader& operator=(const OutputReader&) = delete;
    // The system writes into buffer_ until the read is cancelled and done.
    ~OutputReader() {
        const char* data;
        DWORD size;
        Cancel(data, size);
    }
    HANDLE Event() const { return event_.get(); }
    bool Open() const { return !closed_; }
    // Starts the next read unless one is under way or the pipe has closed.
    void Start() {
        if (pending_ || closed_) return;
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
        if (::ReadFile(pipe_, buffer_, sizeof buffer_, nullptr, &overlapped_) || ::GetLastError() == ERROR_IO_PENDING)
            pending_ = true;
        else
            closed_ = true;   // broken pipe: every writer has gone
    }
    // True with the bytes of a read that has finished; false while it runs,
    // when none was started or when the pipe has closed.
    bool Finished(const char*& data, DWORD& size, bool wait = false) {
        if (!pending_) return false;
        DWORD got = 0;
        if (!::GetOverlappedResult(pipe_, &overlapped_, &got, wait)) {
            if (::GetLastError() == ERROR_IO_INCOMPLETE) return false;
            pending_ = false;
            closed_ = true;
            return false;
        }
        pending_ = false;
        data = buffer_;
        size = got;
        return true;
    }
    // Ends a read under way; true with its bytes when it had finished first.
    bool Cancel(const char*& data, DWORD& size) {
        if (!pending_) return false;
        ::CancelIo(pipe_);
        bool got = Finished(data, size, true);
        closed_ = true;
        return got;
    }

private:
    HANDLE pipe_;
    KernelHandle event_;
    OVERLAPPED overlapped_{};
    char buffer_[4096];
    bool pending_ = false;
    bool closed_ = false;
};

TDosThread::TDosThread(TDosCommand* owner, const std::string& commandLine, TStringList* lines,
                       TProcessTimer* timer, bool inputToOutput, int maxTimeAfterBeginning,
                       int maxTimeAfterLastOutput, DWORD priority, bool synchronizeEvents)
    : owner_(owner), commandLine_(commandLine), lines_(lines), timer_(timer),
      inputToOutput_(inputToOutput), maxTimeAfterBeginning_(maxTimeAfterBeginning),
      maxTimeAfterLastOutput_(maxTimeAfterLastOutput), priority_(priority),
      synchronizeEvents_(synchronizeEvents), wake_(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

void TDosThread::AddInput(const std::string& markedText) {
    {
        std::lock_guard<std::mutex> lock(inputLock_);
        inputLines_.Add(markedText);
    }
    ::SetEvent(wake_.get());
}

void TDosThread::Stop() {
    Terminate();
    ::SetEvent(wake_.get());
}

void TDosThread::Fire(const std::function<void()>& fn) {
    struct InHandler {
        std::atomic<bool>& flag;
        explicit InHandler(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~InHandler() { flag = false; }
    };
    if (synchronizeEvents_)
        Synchronize([this, &fn] {
            InHandler scope(inHandler_);
            fn();
        });
    else
        fn();
}

void TDosThread::Execute() {
    Pipes pipes;
    if (!wake_)
        result_.StartError = "Cannot create the wake-up event for " + commandLine_ + ": " + SysErrorMessage(::GetLastError());
    else if (!CreatePipes(pipes))
        result_.StartError = "Cannot create the pipes for " + commandLine_ + ": " + SysErrorMessage(::GetLastError());
    else
        RunProcess(pipes);
    pipes = Pipes{};
    if (timer_) timer_->Ended();
    Fire([this] {
        owner_->result_ = result_;
        owner_->DoTerminated();
    });
}

// Input through an anonymous pipe; output through a named pipe whose server
// end we read overlapped, so that the worker can wait on it. The child's ends
// are inheritable, ours are not: a child holding them would keep the pipes alive.
bool TDosThread::CreatePipes(Pipes& pipes) {
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof(sa);
    // A null access list: whatever account the child runs under may use the pipes.
    if (!(::GetVersion() & 0x80000000u) && ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
        ::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE))
        sa.lpSecurityDescriptor = &sd;

    static std::atomic<unsigned> serial{0};
    std::string name = "\\\\.\\pipe\\korvane-console-" + std::to_string(::GetCurrentProcessId()) + "-" +
                       std::to_string(++serial);
    sa.bInheritHandle = FALSE;
    pipes.outRead.reset(::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, &sa));
    if (!pipes.outRead) return false;
    sa.bInheritHandle = TRUE;
    pipes.outWrite.reset(::CreateFileA(name.c_str(), GENERIC_WRITE, 0, &sa, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!pipes.outWrite) return false;
    HANDLE r = nullptr, w = nullptr;
    if (!::CreatePipe(&r, &w, &sa, 0)) return false;
    pipes.inRead.reset(r);
    pipes.inWrite.reset(w);
    ::SetHandleInformation(pipes.inWrite.get(), HANDLE_FLAG_INHERIT, 0);
    return true;
}

void TDosThread::RunProcess(Pipes& pipes) {
    STARTUPINFOA si;
    ::GetStartupInfoA(&si);
    si.cb = sizeof(si);
    si.lpReserved = nullptr;
    si.lpTitle = nullptr;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = pipes.inRead.get();
    si.hStdOutput = pipes.outWrite.get();
    si.hStdError = pipes.outWrite.get();
    PROCESS_INFORMATION pi{};
    std::vector<char> cmd(commandLine_.begin(), commandLine_.end());
    cmd.push_back('\0');
    if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, priority_ | CREATE_NEW_CONSOLE,
                          nullptr, nullptr, &si, &pi)) {
        result_.StartError = commandLine_ + " doesn't exist.";
        return;
    }
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    result_.Started = true;
    // From now on only the child writes: the pipe breaks when its last writer ends.
    pipes.outWrite.reset();

    OutputReader reader(pipes.outRead.get());
    reader.Start();
    const bool limited = timer_ && (maxTimeAfterBeginning_ > 0 || maxTimeAfterLastOutput_ > 0);
    for (;;) {
        HANDLE waits[3] = {process.get(), wake_.get(), reader.Event()};
        ::WaitForMultipleObjects(reader.Open() ? 3 : 2, waits, FALSE,
                                 limited ? timer_->Interval : INFINITE);
        // Output first: what the program wrote before it ended still counts.
        TakeOutput(reader);
        SendInput(pipes.inWrite.get());
        if (Terminated() && !result_.Stopped) {
            result_.Stopped = true;
            ::TerminateProcess(process.get(), 0);
        }
        if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
            DWORD exitCode = 0;
            ::GetExitCodeProcess(process.get(), &exitCode);
            result_.ExitCode = exitCode;
            break;
        }
        if (TimeIsUp()) {
            result_.TimedOut = true;
            result_.ExitCode = STILL_ACTIVE;
            break;
        }
    }
    // Whatever the program wrote before it ended is still in the pipe. A
    // program it started may hold the pipe open: take what is there, no more.
    while (!result_.TimedOut && reader.Open()) {
        TakeOutput(reader);
        DWORD available = 0;
        if (!::PeekNamedPipe(pipes.outRead.get(), nullptr, 0, nullptr, &available, nullptr) || available == 0) break;
        ::WaitForSingleObject(reader.Event(), INFINITE);
    }
    const char* data;
    DWORD size;
    if (reader.Cancel(data, size) && !result_.TimedOut) ParseChunk(data, size);
    if (!pending_.empty()) {
        std::string line;
        line.swap(pending_);
        DeliverLine(line);
    }
}

bool TDosThread::TimeIsUp() const {
    return timer_ && ((maxTimeAfterBeginning_ > 0 && timer_->SinceBeginning() > maxTimeAfterBeginning_) ||
                      (maxTimeAfterLastOutput_ > 0 && timer_->SinceLastOutput() > maxTimeAfterLastOutput_));
}

// Hands over every read that has finished and starts the next one.
void TDosThread::TakeOutput(OutputReader& reader) {
    const char* data;
    DWORD size;
    while (reader.Finished(data, size)) {
        ParseChunk(data, size);
        reader.Start();
    }
}

void TDosThread::ParseChunk(const char* data, DWORD size) {
    std::string current;
    current.swap(pending_);
    for (DWORD i = 0; i < size && !Terminated(); ++i) {
        char c = data[i];
        if (c == '\0') continue;
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < size && data[i + 1] == '\n') ++i;
            DeliverLine(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) DeliverPartial(current);
    pending_.swap(current);
}

void TDosThread::SendInput(HANDLE writeEnd) {
    for (;;) {
        std::string entry;
        {
            std::lock_guard<std::mutex> lock(inputLock_);
            if (inputLines_.Count() == 0 || Terminated()) return;
            entry = inputLines_[0];
            inputLines_.Delete(0);
        }
        if (entry.empty()) continue;
        std::string text = entry.substr(1);
        std::string bytes = entry[0] == '_' ? text + "\r\n" : text;
        DWORD written = 0;
        if (!bytes.empty()) ::WriteFile(writeEnd, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        if (inputToOutput_) DeliverLine(text);
    }
}

void TDosThread::DeliverLine(const std::string& line) {
    if (timer_) timer_->NewOutput();
    Deliver(line, otEntireLine);
}

void TDosThread::DeliverPartial(const std::string& text) { Deliver(text, otBeginningOfLine); }

void TDosThread::Deliver(const std::string& text, TOutputType type) {
    Fire([this, &text, type] {
        if (type == otEntireLine) owner_->outputLines_.Add(text);
        // A partial line on show is replaced by what follows it.
        if (lines_) {
            if (partialShown_ && lines_->Count() > 0)
                lines_->Put(lines_->Count() - 1, text);
            else
                lines_->Add(text);
        }
        partialShown_ = type == otBeginningOfLine;
        owner_->DoNewLine(text, type);
    });
}

// ---- TDosCommand -----------------------------------------------------------

TDosCommand::TDosCommand(TComponent* owner) : TComponent(owner) {}

TDosCommand::~TDosCommand() { Stop(); }

void TDosCommand::DoNewLine(const std::string& line, TOutputType outputType) {
    if (OnNewLine) OnNewLine(this, line, outputType);
}

void TDosCommand::DoTerminated() {
    if (OnTerminated) OnTerminated(this);
}

void TDosCommand::Execute() {
    if (CommandLine.empty()) throw EDosCommand("No Commandline to execute");
    if (thread_ && (::GetCurrentThreadId() == thread_->ThreadId() || thread_->InHandler()))
        throw EDosCommand("A command cannot be restarted from its own worker");
    ReleaseThread();
    if (!timer_) timer_ = std::make_unique<TProcessTimer>();
    outputLines_.Clear();
    result_ = TDosResult{};
    timer_->Begin();
    thread_ = std::make_unique<TDosThread>(this, CommandLine, Lines, timer_.get(), InputToOutput,
                                           MaxTimeAfterBeginning, MaxTimeAfterLastOutput, Priority,
                                           SynchronizeEvents);
    thread_->Start();
}

void TDosCommand::Stop() {
    if (!thread_) return;
    thread_->Stop();
    // From inside the worker's own event (on the worker, or on the user-interface
    // thread while the worker waits for it) we cannot wait for the worker: the
    // flag alone ends the process on the next pass of its loop.
    if (::GetCurrentThreadId() == thread_->ThreadId() || thread_->InHandler()) return;
    ReleaseThread();
}

void TDosCommand::ReleaseThread() {
    if (!thread_) return;
    thread_->Stop();
    thread_->WaitFor();
    thread_.reset();
}

void TDosCommand::SendLine(const std::string& text, bool eol) {
    if (thread_) thread_->AddInput((eol ? "_" : " ") + text);
}

} // namespace krv
