#include "app/ZipCheckDirs.h"
#include "app/Log.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "app/ProgressWindow.h"
#include "framework/Dialogs.h"

namespace krv {

TFormZipCheckDirs::TFormZipCheckDirs(TMainForm* main, TCheckDirMode mode, const std::string& startMessage)
    : TForm(main), Mode(mode), StartMessage(startMessage), main_(main) {
    SetName("FormZipCheckDirs");
    SetCaption(std::string(kProductName) + " :: Checking directories...");
    BorderStyle = bsDialog;
    Position = poMainFormCenter;
    SetBounds(0, 0, 420, 190);
    LabelWaitTask = PlaceControl(new TLabel(this), this, "LabelWaitTask", 12, 10, 390, 18, "Checking directories...");
    LabelWait2 = PlaceControl(new TLabel(this), this, "LabelWait2", 12, 30, 390, 18, "Please wait...");
    LabelMsg = PlaceControl(new TLabel(this), this, "LabelMsg", 12, 52, 390, 18, "Starting task...");
    ProgressDirs = PlaceControl(new TProgressBar(this), this, "ProgressDirs", 12, 76, 390, 16);
    ProgressChilds = PlaceControl(new TProgressBar(this), this, "ProgressChilds", 12, 98, 390, 16);
    ButtonWaitCancel = PlaceControl(new TButton(this), this, "ButtonWaitCancel", 12, 124, 100, 26, "Cancel");
    ButtonWaitCancel->OnClick = [this](TObject*) { ButtonWaitCancelClick(); };
    ButtonMinimize = PlaceControl(new TButton(this), this, "ButtonMinimize", 302, 124, 100, 26, "Minimize");
    ButtonMinimize->OnClick = [this](TObject*) { ButtonMinimizeClick(); };
    Timer = MakeWindowTimer(this, "Timer", 1, [this] { TimerTimer(); });
    LifeTimer = MakeWindowTimer(this, "LifeTimer", 500, [this] { LifeTimerTimer(); });
    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

TFormZipCheckDirs::~TFormZipCheckDirs() {
    if (thread_) {
        thread_->Terminate();
        thread_->WaitFor();
    }
    if (treeUpdating_) main_->ScanTree().EndUpdate();
}

void TFormZipCheckDirs::FormShow() {
    if (main_->Lang) main_->Lang->ApplyToForm(*this);
    Cancelled = false;
    if (Echo) main_->AddLog(StartMessage, lcBlack, 2, lkNormal);
    ProgressChilds->SetRange(0, 100);
    Timer->SetEnabled(true);
}

void TFormZipCheckDirs::TimerTimer() {
    Timer->SetEnabled(false);
    LifeTimer->SetEnabled(true);
    ::SetCursor(::LoadCursor(nullptr, IDC_APPSTARTING));
    main_->ScanTree().GetCheckedPaths(checkedPaths_);
    if (checkedPaths_.Empty()) {
        main_->SelectedSize = 0;
        main_->LabelSize->SetCaption(FormatSize(0));
        LifeTimer->SetEnabled(false);
        SetModalResult(mrOk);
        return;
    }
    ProgressDirs->SetRange(0, checkedPaths_.Count());
    main_->ScanTree().BeginUpdate();
    treeUpdating_ = true;
    thread_ = std::make_unique<TCheckDirThread>(ProgressDirs, ProgressChilds, LabelMsg, main_->ScanTree(),
                                                checkedPaths_, main_->RecursiveDirs, main_->FlatDirs,
                                                main_->SubFoldersCheck->Checked(), Mode);
    thread_->OnTerminate = [this](TThread*) { ThreadTerminate(); };
}

void TFormZipCheckDirs::LifeTimerTimer() {
    int next = ProgressChilds->Position() + 1;
    ProgressChilds->SetPosition(next > ProgressChilds->Max() ? 0 : next);
}

void TFormZipCheckDirs::ThreadTerminate() {
    LifeTimer->SetEnabled(false);
    if (thread_->FatalException) {
        // A scan that failed must not look like an empty or small selection.
        main_->AddLog(KV_Error + ": " + ExceptionText(thread_->FatalException, DescribeError), lcRed, 0, lkNormal);
        Cancelled = true;
        main_->Cancel = true;
    }
    if (!Cancelled && Mode == cdmLists) {
        // Left out of the backup: each one named, and the run's result says so.
        for (const std::string& path : thread_->Missing) {
            main_->AddLog(path + " " + KV_ZPFileNotFound, lcRed, 0, lkNormal);
            ++main_->LeftOut;
        }
    }
    if (!Cancelled && Mode == cdmSize) {
        main_->SelectedSize = thread_->Size();
        main_->LabelSize->SetCaption(FormatSize(thread_->Size()));
    }
    SetModalResult(mrOk);
    if (treeUpdating_) {
        main_->ScanTree().EndUpdate();
        treeUpdating_ = false;
    }
    ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
}

void TFormZipCheckDirs::ButtonWaitCancelClick() {
    if (Mode == cdmLists && ShowMessageBox(KV_UserCancel_Confirm, KV_UserCancel_Conform_Title, 52) != IDYES) return;
    LifeTimer->SetEnabled(false);
    Cancelled = true;
    LabelWait2->SetCaption("");
    LabelMsg->SetCaption("");
    LabelWaitTask->SetCaption(KV_UserCancelLabel);
    ButtonWaitCancel->SetEnabled(false);
    ProgressDirs->SetEnabled(false);
    ProgressChilds->SetEnabled(false);
    Repaint();
    if (thread_) thread_->Terminate();
    main_->Cancel = true;
}

void TFormZipCheckDirs::ButtonMinimizeClick() { MinimizeProgressWindow(*this); }

} // namespace krv
