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

namespace {

// KORVANE_TEST_READ_GATE names a folder (a test seam for end-to-end runs): at
// the first block boundary of each read of a file the worker leaves
// "read<N>.at" there and waits, at most a minute, until "read<N>.go" is there
// too, so that a test changes a file in the middle of its read on any machine.
std::string ReadGateFolder() {
    char folder[MAX_PATH] = {};
    const DWORD n = ::GetEnvironmentVariableA("KORVANE_TEST_READ_GATE", folder, sizeof folder);
    return n < sizeof folder ? std::string(folder, n) : std::string();
}

void PassReadGate(const std::string& folder, int n) {
    const std::string go = folder + Format("\\read%d.go", n);
    ChangeNotifyHandle change(::FindFirstChangeNotificationA(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME));
    {
        FileHandle marker(::CreateFileA((folder + Format("\\read%d.at", n)).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, 0, nullptr));
    }
    const DWORD until = ::GetTickCount() + 60000;
    while (change && !FileExists(go) && static_cast<int>(until - ::GetTickCount()) > 0) {
        ::WaitForSingleObject(change.get(), until - ::GetTickCount());
        ::FindNextChangeNotification(change.get());
    }
}

} // namespace

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
    view.AddLogLines = [this](const std::vector<std::string>& lines, int colour, int level, int kind) {
        run_.AddLogLines(lines, colour, level, kind);
    };
    view.AfterHandOff = [this] {
        if (OnHandOff) OnHandOff(*this);
    };
    view.BeforeFileProgress = [this, gate = ReadGateFolder(), reads = 0, atStart = false](
                                  const std::string& fileName, double progress, TZipProgressPhase phase) mutable {
        if (OnWorkerProgress) OnWorkerProgress(*this, fileName);
        if (holdUntilStopped_ && !held_.exchange(true)) ::WaitForSingleObject(holdUntilStopped_.get(), INFINITE);
        if (gate.empty() || phase != ppProcess) return;
        if (atStart && progress > 0) PassReadGate(gate, ++reads);
        atStart = progress == 0;
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
    run_.ChangedWhileRead += thread_->ChangedWhileRead;
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
