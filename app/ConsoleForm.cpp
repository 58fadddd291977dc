#include "app/ConsoleForm.h"
#include "app/FormBuilder.h"
#include "app/AppState.h"
#include "app/Log.h"
#include "app/Messages.h"

namespace krv {

const std::vector<std::string>& DriveErrorTexts() {
    static const std::vector<std::string> texts = {
        "Sorry, no CD/DVD-Recorder or unsupported CD/DVD-Recorder found on this target.",
        "No disk / Wrong disk!",
    };
    return texts;
}

const std::vector<std::string>& RecorderErrorTexts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> t = DriveErrorTexts();
        t.push_back("Cannot blank disk, aborting.");
        t.push_back("WARNING: Data may not fit on current disk.");
        t.push_back("Could not write Lead-in");
        return t;
    }();
    return texts;
}

bool ContainsAny(const std::string& line, const std::vector<std::string>& texts) {
    for (const std::string& t : texts)
        if (line.find(t) != std::string::npos) return true;
    return false;
}

std::string ShownConsoleText(const std::string& line) {
    return line.find("Last chance to quit...") != std::string::npos ? KV_CDR_GraceTime : line;
}

TConsoleForm::TConsoleForm(TComponent* owner, unsigned refreshInterval) : TForm(owner) {
    SetCaption("Korvane :: Task in Progress");
    auto label = [this](const char* name, const char* text, int top) {
        return MakeControl<TLabel>(this, this, name, 16, top, 408, 18, text);
    };
    LabelWaitTask = label("LabelWaitTask", "Task in progress...", 16);
    LabelWait2 = label("LabelWait2", "Please wait...", 40);
    LabelWaitProgress = label("LabelWaitProgress", "Starting...", 72);
    Timer = MakeWindowTimer(this, "Timer", 1, [this] {
        Timer->SetEnabled(false);
        StartCommand();
    });
    TimerRefresh = new TTimer(this);
    TimerRefresh->SetName("TimerRefresh");
    TimerRefresh->SetInterval(refreshInterval);
    TimerRefresh->OnTimer = [this](TObject*) { Repaint(); };
}

TConsoleForm::~TConsoleForm() { command_.reset(); }

void TConsoleForm::AddLog(const std::string& msg, int colour, int level, int kind) const {
    if (Log) Log(msg, colour, level, kind);
}

void TConsoleForm::LogRuler() const {
    if (Echo) AddLog(std::string(36, '='), lcBlack, 3, lkDebug);
}

void TConsoleForm::StartCommand() {
    command_ = std::make_unique<TDosCommand>();
    command_->Priority = REALTIME_PRIORITY_CLASS;
    // The handlers change controls and write the log: they run on this thread.
    command_->SynchronizeEvents = true;
    command_->OnNewLine = [this](TObject*, const std::string& line, TOutputType type) { NewLine(line, type); };
    command_->OnTerminated = [this](TObject*) { Terminated(); };
    command_->CommandLine = CommandLine;
    programFailed_ = false;
    result_ = TDosResult{};
    command_->Execute();
}

void TConsoleForm::NewLine(const std::string& line, TOutputType type) {
    // A partial line is only shown; it is judged and logged once complete.
    if (type == otEntireLine && ContainsAny(line, ErrorTexts())) {
        ErrorLineSeen();
        if (Echo) AddLog(KV_Error + ": " + line, lcRed, 3, lkNormal);
    }
    if (type == otEntireLine) OutputLine(line);
    std::string shown = ShownConsoleText(line);
    LabelWaitProgress->SetCaption(shown);
    if (type == otEntireLine && Echo) AddLog("= " + shown, lcBlack, 3, lkDebug);
}

void TConsoleForm::Terminated() {
    result_ = command_->Result();
    LogRuler();
    if (!result_.Started) {
        programFailed_ = true;
        AddLog(KV_Error + ": " + result_.StartError, lcRed, 1, lkNormal);
    } else if (result_.Crashed()) {
        programFailed_ = true;
        AddLog(KV_Error + ": " + CommandLine + Format(" ended abnormally (exit code 0x%08lX).", result_.ExitCode),
               lcRed, 1, lkNormal);
    }
    CommandEnded();
}

void TConsoleForm::CloseWithResult(int result) {
    SetModalResult(result);
    // The end arrives as a sent message, which does not wake a waiting loop.
    if (Handle()) ::PostMessageA(Handle(), WM_NULL, 0, 0);
}

} // namespace krv
