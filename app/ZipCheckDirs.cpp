#include "app/ZipCheckDirs.h"
#include "app/Log.h"
#include "app/AppState.h"
#include "zip/ZipErrors.h"
#include "app/Messages.h"
#include "app/ProgressWindow.h"
#include "app/Unattended.h"
#include "framework/Dialogs.h"

namespace krv {

std::function<void(TFormZipCheckDirs&)> TFormZipCheckDirs::OnSlice;

TFormZipCheckDirs::TFormZipCheckDirs(TComponent* owner, IFolderScanHost& host, TCheckDirMode mode,
                                     const std::string& startMessage)
    : TForm(owner), Mode(mode), StartMessages{startMessage}, host_(host),
      cancel_(*this, [this] { return Cancelled; }, [this] { CancelScan(); }) {
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
    LifeTimer = MakeWindowTimer(this, "LifeTimer", 500, [this] { LifeTimerTimer(); });
    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

TFormZipCheckDirs::~TFormZipCheckDirs() {
    if (holdUntilStopped_) ::SetEvent(holdUntilStopped_.get());
    if (thread_) {
        thread_->Terminate();
        thread_->WaitFor();
    }
    EndTreeUpdate();
}

void TFormZipCheckDirs::CreateParams(TCreateParams& params) {
    TForm::CreateParams(params);
    NoBorderIcons(params);
}

bool TFormZipCheckDirs::CloseQuery() { return cancel_.CloseQuery(); }

void TFormZipCheckDirs::EndTreeUpdate() {
    if (updatingTree_) updatingTree_->EndUpdate();
    updatingTree_ = nullptr;
}

void TFormZipCheckDirs::FormShow() {
    ApplyOwnerLanguage(*this);
    Cancelled = false;
    if (Echo)
        for (const std::string& message : StartMessages) host_.AddLog(message, lcBlack, 2, lkNormal);
    ProgressChilds->SetRange(0, 100);
    // A person sees the window whole before the walk takes the thread; an
    // unattended run starts at once and the window paints meanwhile.
    PostStep([this] { StartScan(); }, !KorvaneState().Batch);
}

void TFormZipCheckDirs::StartScan() {
    if (Cancelled) {   // closed before the walk started
        SetModalResult(mrOk);
        return;
    }
    LifeTimer->SetEnabled(true);
    ShowBusy(true);
    std::vector<std::string> paths = host_.ScanStartPaths();
    if (paths.empty()) {
        Found.SizeCounted = true;
        Found.Size = 0;
        LifeTimer->SetEnabled(false);
        ShowBusy(false);
        SetModalResult(mrOk);
        return;
    }
    ProgressDirs->SetRange(0, static_cast<int>(paths.size()));
    TFolderTreeAccess access = host_.FolderAccess();
    updatingTree_ = access.Tree;
    if (updatingTree_) updatingTree_->BeginUpdate();
    const bool subfolders = host_.IncludeSubfolders();
    walk_ = std::make_unique<TDirWalk>(std::move(access), std::move(paths), subfolders);
    thread_ = std::make_unique<TCheckDirThread>(*walk_, ProgressDirs, ProgressChilds, LabelMsg, subfolders, Mode,
                                                [this] {
                                                    if (OnSlice) OnSlice(*this);
                                                });
    thread_->OnTerminate = [this](TThread*) { ThreadTerminate(); };
    // KORVANE_TEST_HOLD_UNTIL_STOPPED=2 (a test seam for end-to-end runs):
    // the walk waits after its first slice until the scan is stopped, so
    // that a test closes the window while the scan runs on any machine.
    if (TestSeamNumber("KORVANE_TEST_HOLD_UNTIL_STOPPED", 2) == 2) {
        holdUntilStopped_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        thread_->HoldAfterFirstSlice = holdUntilStopped_.get();
    }
}

void TFormZipCheckDirs::LifeTimerTimer() {
    int next = ProgressChilds->Position() + 1;
    ProgressChilds->SetPosition(next > ProgressChilds->Max() ? 0 : next);
}

void TFormZipCheckDirs::ThreadTerminate() {
    LifeTimer->SetEnabled(false);
    if (thread_->FatalException) {
        // A scan that failed must not look like an empty or small selection.
        host_.AddLog(KV_Error + ": " + ExceptionText(thread_->FatalException, DescribeError), lcRed, 0, lkNormal);
        Cancelled = true;
    }
    // Only a walk that reached its end hands anything over: half-made lists
    // would be a partial backup taken for the whole selection.
    if (!Cancelled && thread_->Terminated()) Cancelled = true;
    Found.Stopped = Cancelled;
    if (!Cancelled && ScanGivesLists(Mode)) {
        for (const std::string& p : walk_->FlatDirs) Found.FlatDirs.Add(p);
        for (const std::string& p : walk_->RecursiveDirs) Found.RecursiveDirs.Add(p);
        Found.Missing = walk_->Missing;
        Found.Missing.insert(Found.Missing.end(), thread_->Vanished.begin(), thread_->Vanished.end());
        Found.Links = walk_->Links;
    }
    if (!Cancelled && ScanGivesSize(Mode)) {
        Found.SizeCounted = true;
        Found.Size = thread_->Size();
        // A size that leaves folders out names them. In a run the archive's
        // search names the same folders and counts them left out.
        if (!ScanGivesLists(Mode))
            for (const std::string& line : thread_->NotCounted) host_.AddLog(line, lcRed, 0, lkNormal);
    }
    SetModalResult(mrOk);
    EndTreeUpdate();
    ShowBusy(false);
}

void TFormZipCheckDirs::ShowBusy(bool busy) {
    busy_ = busy;
    ::SetCursor(::LoadCursor(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW));
}

bool TFormZipCheckDirs::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Set once, the cursor would last only until the mouse next moves: the
    // window and its controls (whose requests reach it first) keep it busy.
    if (msg == WM_SETCURSOR && busy_ && LOWORD(lParam) == HTCLIENT) {
        ::SetCursor(::LoadCursor(nullptr, IDC_APPSTARTING));
        result = TRUE;
        return true;
    }
    return TForm::HandleMessage(msg, wParam, lParam, result);
}

// Counting the size alone loses nothing: it stops without the question.
void TFormZipCheckDirs::ButtonWaitCancelClick() { cancel_.Press(ScanGivesLists(Mode)); }

void TFormZipCheckDirs::CancelScan() {
    // A stopped run says why it ended; a stopped size count loses nothing and says nothing.
    if (ScanGivesLists(Mode) && !KorvaneState().SessionEnding) host_.AddLog(KV_UserCancel, lcRed, 1, lkNormal);
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
    if (holdUntilStopped_) ::SetEvent(holdUntilStopped_.get());
    Found.Stopped = true;
}

void TFormZipCheckDirs::ButtonMinimizeClick() { MinimizeProgressWindow(*this); }

} // namespace krv
