// Recorder discovery at start-up: the bus scan of the recorder program, its
// listing cut into bus blocks and device lines, a drive check per candidate,
// and the recorder combo with its parallel address list DeviceIds.
#pragma once
#include "app/ConsoleForm.h"
#include "framework/JpegPicture.h"
#include <string>
#include <vector>

namespace krv {

class TMainForm;

struct TRecorderCandidate {
    std::string Address;   // such as 0,0,0
    std::string Text;      // the listing line, trimmed, tabs as blanks
};

// The device lines of a bus-scan listing that name a CD or DVD device, in order.
std::vector<TRecorderCandidate> ParseScanBus(const std::string& output);

// The borderless start-up window: runs the bus scan, then one drive check
// per candidate, each after the previous one ended; closes with 1 when done.
class TFormSplashScreen : public TConsoleForm {
public:
    TFormSplashScreen(TComponent* owner, const std::string& appDir);

    std::string Output;      // the collected scan output
    int CollectKind = -2;    // -2 collect the output lines, -1 not
    int Mode = 1;            // 1 bus scan, 2 drive check
    bool DriveError = false;
    bool Busy = false;
    TLabel* LabelVersion = nullptr;
    TJpegPicture* ImageSplash = nullptr;
    // The candidates that passed their drive check, in listing order.
    std::vector<TRecorderCandidate> Recorders;

    void FormShow();

protected:
    const std::vector<std::string>& ErrorTexts() const override { return DriveErrorTexts(); }
    void ErrorLineSeen() override { DriveError = true; }
    void OutputLine(const std::string& line) override;
    void CommandEnded() override;

private:
    void CheckNext();
    std::string appDir_;
    std::vector<TRecorderCandidate> candidates_;
    size_t next_ = 0;
    TTimer* timerNext_ = nullptr;   // continues outside the program's end event
};

// Runs the whole discovery for the main window and fills its recorder combo.
void ScanBus(TMainForm& main);
// No recorder: hard-disk backups only.
void DisableDiscBackup(TMainForm& main);

} // namespace krv
