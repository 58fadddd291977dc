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
    FileHandle outRead, outWrite;   // the child writes, the worker reads
};

TDosThread::TDosThread(TDosCommand* owner, const std::string& commandLine, TStringList* lines,
                       TProcessTimer* timer, bool inputToOutput, int maxTimeAfterBeginning,
                       int maxTimeAfterLastOutput, DWORD priority, bool synchronizeEvents)
    : TThread(true), owner_(owner), commandLine_(commandLine), lines_(lines), timer_(timer),
      inputToOutput_(inputToOutput), maxTimeAfterBeginning_(maxTimeAfterBeginning),
      maxTimeAfterLastOutput_(maxTimeAfterLastOutput), priority_(priority),
      synchronizeEvents_(synchronizeEvents) {}

void TDosThread::AddInput(const std::string& markedText) {
    std::lock_guard<std::mutex> lock(inputLock_);
    inputLines_.Add(markedText);
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
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof(sa);
    sa.bInheritHandle = TRUE;
    // A null access list: whatever account the child runs under may use the pipes.
    if (!(::GetVersion() & 0x80000000u) && ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
        ::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE))
        sa.lpSecurityDescriptor = &sd;

    HANDLE r = nullptr, w = nullptr;
    bool piped = false;
    if (::CreatePipe(&r, &w, &sa, 0)) {
        pipes.inRead.reset(r);
        pipes.inWrite.reset(w);
        if (::CreatePipe(&r, &w, &sa, 0)) {
            pipes.outRead.reset(r);
            pipes.outWrite.reset(w);
            piped = true;
        }
    }
    if (!piped) {
        result_.StartError = "Cannot create the pipes for " + commandLine_ + ": " + SysErrorMessage(::GetLastError());
    } else {
        // Our own ends stay with us: a child holding them would keep the pipes alive.
        ::SetHandleInformation(pipes.inWrite.get(), HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(pipes.outRead.get(), HANDLE_FLAG_INHERIT, 0);
        RunProcess(pipes);
    }
    pipes = Pipes{};
    if (timer_) timer_->Ended();
    Fire([this] {
        owner_->result_ = result_;
        owner_->DoTerminated();
    });
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
    buffer_.assign(1024, '\0');

    for (;;) {
        DWORD exitCode = STILL_ACTIVE;
        ::GetExitCodeProcess(process.get(), &exitCode);
        DWORD available = 0;
        if (::PeekNamedPipe(pipes.outRead.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0)
            ReadChunk(pipes.outRead.get(), available);
        else
            SendInput(pipes.inWrite.get());
        ::Sleep(1);
        if (Terminated() && !result_.Stopped) {
            result_.Stopped = true;
            ::TerminateProcess(process.get(), 0);
        }
        if (exitCode != STILL_ACTIVE) {
            result_.ExitCode = exitCode;
            break;
        }
        if (timer_ && ((maxTimeAfterBeginning_ > 0 && timer_->SinceBeginning() > maxTimeAfterBeginning_) ||
                       (maxTimeAfterLastOutput_ > 0 && timer_->SinceLastOutput() > maxTimeAfterLastOutput_))) {
            result_.TimedOut = true;
            result_.ExitCode = STILL_ACTIVE;
            break;
        }
    }
    // Whatever the program wrote before it ended is still in the pipe.
    DWORD available = 0;
    while (!result_.TimedOut && ::PeekNamedPipe(pipes.outRead.get(), nullptr, 0, nullptr, &available, nullptr) &&
           available > 0)
        ReadChunk(pipes.outRead.get(), available);
    if (!pending_.empty()) {
        std::string line;
        line.swap(pending_);
        DeliverLine(line);
    }
}

void TDosThread::ReadChunk(HANDLE readEnd, DWORD available) {
    if (available > buffer_.size()) buffer_.assign(available, '\0');
    std::fill(buffer_.begin(), buffer_.end(), '\0');
    DWORD got = 0;
    if (!::ReadFile(readEnd, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr) || got == 0) return;
    std::string current;
    current.swap(pending_);
    for (DWORD i = 0; i < got && !Terminated(); ++i) {
        char c = buffer_[i];
        if (c == '\0') continue;
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < got && buffer_[i + 1] == '\n') ++i;
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
    thread_->Terminate();
    // From inside the worker's own event (on the worker, or on the user-interface
    // thread while the worker waits for it) we cannot wait for the worker: the
    // flag alone ends the process on the next pass of its loop.
    if (::GetCurrentThreadId() == thread_->ThreadId() || thread_->InHandler()) return;
    ReleaseThread();
}

void TDosCommand::ReleaseThread() {
    if (!thread_) return;
    thread_->Terminate();
    thread_->WaitFor();
    thread_.reset();
}

void TDosCommand::SendLine(const std::string& text, bool eol) {
    if (thread_) thread_->AddInput((eol ? "_" : " ") + text);
}

} // namespace krv
