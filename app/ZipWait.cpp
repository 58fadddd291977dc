#include "app/ZipWait.h"
#include "app/Log.h"
#include "app/AppState.h"
#include "app/BackupRun.h"
#include "app/Messages.h"
#include "app/ProgressWindow.h"
#include "app/Unattended.h"
#include "framework/Dialogs.h"
#include <commctrl.h>

namespace krv {

bool UserCancelled = false;
std::function<void(TFormZipWait&)> TFormZipWait::OnHandOff;
std::function<void(TFormZipWait&, const std::string&)> TFormZipWait::OnWorkerProgress;

// ------------------------------------------------------------ TFormZipWait

TFormZipWait::TFormZipWait(TComponent* owner, TBackupRun& run, const std::string& exclusionText)
    : TForm(owner), run_(run), exclusionText_(exclusionText),
      cancel_(*this, [] { return UserCancelled; }, [this] { CancelCompression(); }) {
    SetName("FormZipWait");
    SetCaption(std::string(kProductName) + " :: File compression...");
    BorderStyle = bsDialog;
    Position = poMainFormCenter;
    SetBounds(0, 0, 480, 330);
    AnimateChecking = PlaceControl(new TAnimate(this), this, "AnimateChecking", 12, 8, 80, 50);
    // Its window and clip are made when the search first shows it.
    AnimateChecking->HandleWhenShown = true;
    AnimateChecking->SetCommonAVI(aviFindFolder);
    AnimateChecking->Hide();
    LabelWait = PlaceControl(new TLabel(this), this, "LabelWait", 100, 24, 360, 18,
                             "File compression in progress... Please wait...");
    ProgressBar = PlaceControl(new TProgressBar(this), this, "ProgressBar", 12, 66, 450, 16);
    ProgressBarFile = PlaceControl(new TProgressBar(this), this, "ProgressBarFile", 12, 88, 450, 16);
    EditZipMsg = PlaceControl(new TRichLog(this), this, "EditZipMsg", 12, 112, 450, 140);
    // A line per file: the window keeps the last ones (memory must not grow
    // with the files; a file left out is in the report as well).
    EditZipMsg->MaxLines = kZipMessageLines;
    ButtonCancel = PlaceControl(new TButton(this), this, "ButtonCancel", 12, 262, 100, 26, "Cancel");
    ButtonCancel->OnClick = [this](TObject*) { ButtonCancelClick(); };
    ButtonMinimize = PlaceControl(new TButton(this), this, "ButtonMinimize", 362, 262, 100, 26, "Minimize");
    ButtonMinimize->OnClick = [this](TObject*) { ButtonMinimizeClick(); };
    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

TFormZipWait::~TFormZipWait() {
    if (holdUntilStopped_) ::SetEvent(holdUntilStopped_.get());
    thread_.reset();
}

void TFormZipWait::FormShow() {
    ApplyOwnerLanguage(*this);
    ProgressBar->SetRange(0, 100);
    ProgressBarFile->SetRange(0, 100);
    UserCancelled = false;
    PostStep([this] { StartCompression(); }, !KorvaneState().Batch);
}

void TFormZipWait::StartCompression() {
    // Cancelled before the worker began: it never starts.
    if (UserCancelled) {
        run_.RequestCancel();
        SetModalResult(mrOk);
        return;
    }
    TZipperView view;
    view.ProgressBar = ProgressBar;
    view.ProgressBarFile = ProgressBarFile;
    view.EditZipMsg = EditZipMsg;
    view.AnimateChecking = AnimateChecking;
    view.ButtonCancel = ButtonCancel;
    view.AddLog = [this](const std::string& msg, int colour, int level, int kind) {
        run_.AddLog(msg, colour, level, kind);
    };
    view.AfterHandOff = [this] {
        if (OnHandOff) OnHandOff(*this);
    };
    view.BeforeFileProgress = [this](const std::string& fileName) {
        if (OnWorkerProgress) OnWorkerProgress(*this, fileName);
        if (holdUntilStopped_ && !held_.exchange(true)) ::WaitForSingleObject(holdUntilStopped_.get(), INFINITE);
    };
    // KORVANE_TEST_HOLD_UNTIL_STOPPED=1 (a test seam for end-to-end runs):
    // the worker waits at its first file until the run is stopped, so that a
    // test stops it in the middle however fast or busy the machine is.
    if (TestSeamNumber("KORVANE_TEST_HOLD_UNTIL_STOPPED", 2) == 1)
        holdUntilStopped_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    try {
        thread_ = std::make_unique<TZipperThread>(view, run_.RecursiveDirs, run_.FlatDirs, run_.Archiver(),
                                                  exclusionText_, run_.ArchiveToReplace, run_.FolderLinks);
        thread_->OnTerminate = [this](TThread*) { ZipperThreadTerminate(); };
    } catch (const std::exception& e) {
        run_.AddLog(e.what(), lcRed, 0, lkNormal);
        run_.Fail();
        SetModalResult(mrOk);
    }
}

void TFormZipWait::ButtonCancelClick() { cancel_.Press(); }

void TFormZipWait::CancelCompression() {
    // Said in red although no error: the report (and its mail, which says
    // "Error!") must tell a person's stop from a failure, as the disc steps do.
    if (!KorvaneState().SessionEnding) run_.AddLog(KV_UserCancel, lcRed, 1, lkNormal);
    LabelWait->Font().SetColor(clRed);
    LabelWait->SetCaption(KV_UserCancelLabel);
    ButtonCancel->SetEnabled(false);
    if (thread_) thread_->Cancel = true;
    if (holdUntilStopped_) ::SetEvent(holdUntilStopped_.get());
    run_.RequestCancel();
    AnimateChecking->Stop();
    AnimateChecking->Hide();
    UserCancelled = true;
}

void TFormZipWait::CreateParams(TCreateParams& params) {
    TForm::CreateParams(params);
    NoBorderIcons(params);
}

bool TFormZipWait::CloseQuery() { return cancel_.CloseQuery(); }

void TFormZipWait::ButtonMinimizeClick() { MinimizeProgressWindow(*this); }

void TFormZipWait::ZipperThreadTerminate() {
    run_.LeftOut += thread_->Skipped + thread_->FoldersLeftOut;
    if (thread_->FatalException) {
        // A failure of the archiver ends the run through its abort path.
        run_.AddLog(KV_Error + ": " + ExceptionText(thread_->FatalException, DescribeError), lcRed, 0, lkNormal);
        run_.Fail();
    } else if (thread_->Cancel && !UserCancelled) {
        run_.AddLog(KV_ZPErrorCodeTXT + " " + std::to_string(thread_->ErrorCode), lcRed, 0, lkNormal);
        run_.Fail();
    } else if (thread_->Cancel) {
        run_.RequestCancel();
    }
    SetModalResult(mrOk);
}

} // namespace krv
