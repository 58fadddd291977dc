// The waiting window of the folder scan: it starts the scan thread, shows
// its progress, and lets the user stop it. The folder tree stays in an update
// while the window is shown.
#pragma once
#include "app/ProgressWindow.h"
#include "app/ZipCheckDirsThread.h"
#include "framework/ComCtrls.h"
#include "framework/Forms.h"
#include "framework/Handle.h"
#include "framework/StdCtrls.h"
#include "framework/Strings.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krv {

// What the folder scan found.
struct TScanFindings {
    bool Stopped = false;   // cancelled, closed or failed: nothing else holds
    TStringList RecursiveDirs, FlatDirs;
    // Ticked folders that are not there to back up.
    std::vector<std::string> Missing;
    // Links to folders met inside a folder ticked with its subfolders: not followed.
    std::vector<std::string> Links;
    bool SizeCounted = false;
    int64_t Size = 0;
};

// What the scan needs of the window whose folder tree it walks.
class IFolderScanHost {
public:
    virtual ~IFolderScanHost() = default;
    virtual void AddLog(const std::string& msg, int colour, int level, int kind) = 0;
    // Where the walk starts: the ticked folders, and those gone since.
    virtual std::vector<std::string> ScanStartPaths() = 0;
    virtual TFolderTreeAccess FolderAccess() = 0;
    virtual bool IncludeSubfolders() = 0;
};

class TFormZipCheckDirs : public TForm {
public:
    // What the walk finds goes to Found once it has reached its end.
    TFormZipCheckDirs(TComponent* owner, IFolderScanHost& host, TCheckDirMode mode, const std::string& startMessage);
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
    TScanFindings Found;
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
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void EndTreeUpdate();
    void ShowBusy(bool busy);

    IFolderScanHost& host_;
    std::unique_ptr<TDirWalk> walk_;
    KernelHandle holdUntilStopped_;   // set by the scan's stop (end-to-end test seam)
    std::unique_ptr<TCheckDirThread> thread_;
    TBaseLazyTree* updatingTree_ = nullptr;
    bool busy_ = false;   // the walk runs: the busy cursor over the window
    TProgressCancel cancel_;
};

} // namespace krv
