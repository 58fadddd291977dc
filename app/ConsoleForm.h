// The windows that run a console program and watch its output: the console
// task window of the disc steps (TFormWait) and the start-up window of the
// recorder scan (TFormSplashScreen) share this base. It owns the runner,
// starts it from a one-shot timer once shown, shows each line, echoes it to
// the log, and flags the recorder's error lines.
#pragma once
#include "app/DosCommand.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krv {

// The log call of the main window: message, colour, level, kind.
using TLogCall = std::function<void(const std::string& msg, int colour, int level, int kind)>;

// Output texts by which the recorder program reports a failed drive or disc.
const std::vector<std::string>& RecorderErrorTexts();
// The subset the drive scan watches for.
const std::vector<std::string>& DriveErrorTexts();
// What the window shows for an output line: the grace-time line is replaced.
std::string ShownConsoleText(const std::string& line);
// True when the line contains one of the texts.
bool ContainsAny(const std::string& line, const std::vector<std::string>& texts);

class TConsoleForm : public TForm {
public:
    explicit TConsoleForm(TComponent* owner, unsigned refreshInterval);
    ~TConsoleForm() override;

    std::string CommandLine;
    bool Echo = true;
    TLogCall Log;

    TLabel* LabelWaitTask = nullptr;
    TLabel* LabelWait2 = nullptr;
    TLabel* LabelWaitProgress = nullptr;
    TTimer* Timer = nullptr;           // one-shot start of the command
    TTimer* TimerRefresh = nullptr;

    TDosCommand* Command() const { return command_.get(); }
    // How the last command ended (valid once it has ended).
    const TDosResult& Result() const { return result_; }
    // The program could not be started or died: the red line has been logged.
    bool ProgramFailed() const { return programFailed_; }

protected:
    // Which texts mark the output as an error for this window.
    virtual const std::vector<std::string>& ErrorTexts() const = 0;
    virtual void ErrorLineSeen() = 0;
    // Every complete output line, after the error check.
    virtual void OutputLine(const std::string&) {}
    virtual void CommandEnded() = 0;
    // Runs CommandLine; the window stays open until CommandEnded closes it.
    void StartCommand();
    void AddLog(const std::string& msg, int colour, int level, int kind) const;
    void LogRuler() const;
    // Ends a modal loop that may be waiting for a posted message.
    void CloseWithResult(int result);

private:
    void NewLine(const std::string& line, TOutputType type);
    void Terminated();
    std::unique_ptr<TDosCommand> command_;
    TDosResult result_;
    bool programFailed_ = false;
};

} // namespace krv
