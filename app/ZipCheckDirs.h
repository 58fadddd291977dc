// The waiting window of the folder scan: it starts the scan thread, shows
// its progress, and lets the user stop it.
#pragma once
#include "app/ZipCheckDirsThread.h"
#include "framework/ComCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include <memory>
#include <string>

namespace krv {

class TMainForm;

class TFormZipCheckDirs : public TForm {
public:
    // The main window owns the window, the tree, the lists and the log.
    TFormZipCheckDirs(TMainForm* main, TCheckDirMode mode, const std::string& startMessage);
    ~TFormZipCheckDirs() override;

    void FormShow();
    void TimerTimer();
    void LifeTimerTimer();
    void ThreadTerminate();
    void ButtonWaitCancelClick();
    void ButtonMinimizeClick();

    bool Cancelled = false;
    bool Echo = true;
    TCheckDirMode Mode;
    std::string StartMessage;

    TLabel* LabelWaitTask = nullptr;
    TLabel* LabelWait2 = nullptr;
    TLabel* LabelMsg = nullptr;
    TProgressBar* ProgressDirs = nullptr;
    TProgressBar* ProgressChilds = nullptr;
    TButton* ButtonWaitCancel = nullptr;
    TButton* ButtonMinimize = nullptr;
    TTimer* Timer = nullptr;
    TTimer* LifeTimer = nullptr;

private:
    TMainForm* main_;
    TStringList checkedPaths_;
    std::unique_ptr<TCheckDirThread> thread_;
    bool treeUpdating_ = false;
};

} // namespace krv
