#include "app/Recorders.h"
#include "app/AboutPictures.h"
#include "app/Main.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "framework/SysUtils.h"

namespace krv {

std::vector<TRecorderCandidate> ParseScanBus(const std::string& output) {
    std::vector<TRecorderCandidate> found;
    std::string text = output;
    // Bus blocks: from one "scsibus" to the next (the text's last character is left out).
    for (size_t p; (p = text.find("scsibus")) != std::string::npos;) {
        size_t end = text.find("scsibus", p + 1);
        if (end == std::string::npos) end = text.empty() ? 0 : text.size() - 1;
        std::string block = text.substr(p, end > p ? end - p : 0);
        text.erase(0, end > p ? end : p + 7);
        // Lines start with their LF; the block's last character is left out.
        for (size_t q; (q = block.find('\n')) != std::string::npos;) {
            size_t next = block.find('\n', q + 1);
            if (next == std::string::npos) next = block.size() - 1;
            std::string line = block.substr(q, next > q ? next - q : 1);
            block.erase(0, next > q ? next : q + 1);
            if (line.size() < 3) break;
            // Position 14 (1-based) holds the quote opening the vendor name.
            if (line.size() >= 15 && line[13] == '\'' &&
                (line.find("CD") != std::string::npos || line.find("DVD") != std::string::npos)) {
                std::string shown = Trim(StringReplaceAll(line, "\t", " "));
                found.push_back({line.substr(2, 5), shown});
            }
        }
    }
    return found;
}

TFormSplashScreen::TFormSplashScreen(TComponent* owner, const std::string& appDir)
    : TConsoleForm(owner, 2000), appDir_(appDir) {
    SetName("FormSplashScreen");
    BorderStyle = bsNone;
    Position = poScreenCenter;
    SetColor(clWhite);
    SetBounds(0, 0, 420, 250);
    ImageSplash = new TJpegPicture(this);
    ImageSplash->SetName("ImageSplash");
    ImageSplash->SetBounds(10, 10, 400, 110);
    ImageSplash->SetParent(this);
    // Compiled in: a picture that does not decode is a build fault.
    ImageSplash->LoadFromMemory(kAboutPicture_banner, kAboutPicture_banner_size);
    // The texts go below the picture.
    int top = 130;
    for (TLabel* label : {LabelWaitTask, LabelWait2, LabelWaitProgress}) {
        label->SetBounds(16, top, 388, 18);
        top += 24;
    }
    LabelVersion = new TLabel(this);
    LabelVersion->SetName("LabelVersion");
    LabelVersion->SetBounds(16, top + 4, 388, 18);
    LabelVersion->SetParent(this);
    timerNext_ = new TTimer(this);
    timerNext_->SetEnabled(false);
    timerNext_->SetInterval(1);
    timerNext_->OnTimer = [this](TObject*) {
        timerNext_->SetEnabled(false);
        CheckNext();
    };
    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

void TFormSplashScreen::FormShow() {
    ApplyOwnerLanguage(*this);
    LabelVersion->SetCaption(KV_VersionTxt + " " + kProductVersion + " [0106]");
    Output.clear();
    LogRuler();
    Timer->SetEnabled(true);
}

void TFormSplashScreen::OutputLine(const std::string& line) {
    if (CollectKind == -2) Output += line + "\n";
}

void TFormSplashScreen::CommandEnded() {
    if (Mode == 1) {
        AddLog(KV_CDR_Checking, lcBlack, 2, lkDetail);
        candidates_ = ParseScanBus(Output);
        next_ = 0;
    } else {
        const TDosResult& r = Result();
        // Beyond the recorder's own error lines: a check that could not run,
        // died or ended with an error has not vouched for the drive, and a
        // run would learn so only after the whole compression.
        bool failed = DriveError || ProgramFailed() || r.ExitCode != 0;
        if (!failed) Recorders.push_back(candidates_[next_]);
        ++next_;
        Busy = false;
    }
    timerNext_->SetEnabled(true);
}

void TFormSplashScreen::CheckNext() {
    if (next_ >= candidates_.size()) {
        CloseWithResult(1);
        return;
    }
    CommandLine = "\"" + appDir_ + "tools" + "\\cdrecord.exe\" -dev=" + candidates_[next_].Address + " -checkdrive";
    LabelWaitTask->SetCaption(KV_CDR_Testing);
    SetCaption(std::string(kProductName) + " :: " + KV_CDR_Testing);
    CollectKind = -1;
    Mode = 2;
    Busy = true;
    // Each drive is judged by its own check only.
    DriveError = false;
    Timer->SetEnabled(true);
}

void DisableDiscBackup(TMainForm& main) {
    main.NoBurner = true;
    for (TControl* c : {static_cast<TControl*>(main.CheckRW), static_cast<TControl*>(main.DeviceCombo),
                        static_cast<TControl*>(main.DeviceLabel), static_cast<TControl*>(main.LabelWarnDelCDR)})
        c->SetEnabled(false);
    main.Mode = bmHardDisk;
    main.UpdateModeButtons();
}

void ScanBus(TMainForm& main) {
    main.AddLog(KV_CDR_Scanbus, lcBlack, 2, lkDetail);
    std::vector<TRecorderCandidate> recorders;
    {
        TFormSplashScreen splash(&main, main.AppDir);
        splash.Log = [&main](const std::string& m, int c, int l, int k) { main.AddLog(m, c, l, k); };
        splash.CommandLine = "\"" + main.AppDir + "tools" + "\\cdrecord.exe\" --scanbus";
        splash.LabelWaitTask->SetCaption(KV_ScanningStart);
        splash.SetCaption(std::string(kProductName) + " :: " + KV_ScanningStart);
        splash.ShowModal();
        recorders = splash.Recorders;
    }
    main.DeviceCombo->ClearItems();
    main.DeviceIds.Clear();
    for (const TRecorderCandidate& r : recorders) {
        main.DeviceCombo->AddItem(r.Text);
        main.DeviceIds.Add(r.Address);
    }
    main.DeviceCombo->SetItemIndex(0);
    const std::string count = IntToStr(static_cast<int64_t>(recorders.size()));
    if (recorders.empty()) {
        main.AddLog(count + KV_CDR_NumDevice + "!", lcRed, 2, lkNormal);
        main.AddLog(KrvNoRecorderMessage, lcRed, 1, lkNormal);
        DisableDiscBackup(main);
    } else {
        main.AddLog(count + KV_CDR_NumDevice, lcBlue, 2, lkDetail);
        main.DevicesFound = true;
    }
}

} // namespace krv
