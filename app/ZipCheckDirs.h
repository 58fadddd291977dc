// The waiting window of the folder scan: it starts the scan thread, shows
// its progress, and lets the user stop it. The folder tree stays in an update
// while the window is shown.
#pragma once
#include "app/ZipCheckDirsThread.h"
#include "framework/ComCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krv {

class TMainForm;

class TFormZipCheckDirs : public TForm {
public:
    // The main window owns the window, the tree, the lists and the log.
    TFormZipCheckDirs(TMainForm* main, TCheckDirMode mode, const std::string& startMessage);
    ~TFormZipCheckDirs() override;

    void FormShow();
    // The walk starts from the message loop once the window is shown.
    void StartScan();
    void LifeTimerTimer();
    void ThreadTerminate();
    void ButtonWaitCancelClick();
    // What Cancel does once confirmed (also what a close of the window does).
    void CancelScan();
    void ButtonMinimizeClick();

    // Called on the user-interface thread after each slice of the walk (tests press Cancel there).
    static std::function<void(TFormZipCheckDirs&)> OnSlice;

    bool Cancelled = false;
    bool Echo = true;
    TCheckDirMode Mode;
    // Logged when the window shows, in this order (the start message first).
    std::vector<std::string> StartMessages;

    TLabel* LabelWaitTask = nullptr;
    TLabel* LabelWait2 = nullptr;
    TLabel* LabelMsg = nullptr;
    TProgressBar* ProgressDirs = nullptr;
    TProgressBar* ProgressChilds = nullptr;
    TButton* ButtonWaitCancel = nullptr;
    TButton* ButtonMinimize = nullptr;
    TTimer* LifeTimer = nullptr;

protected:
    void CreateParams(TCreateParams& params) override;
    bool CloseQuery() override;

private:
    void EndTreeUpdate();

    TMainForm* main_;
    std::unique_ptr<TDirWalk> walk_;
    std::unique_ptr<TCheckDirThread> thread_;
    TBaseLazyTree* updatingTree_ = nullptr;
};

} // namespace krv
