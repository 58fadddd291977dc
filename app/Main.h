// The main window: its creation (folders beside the program, settings,
// language), first showing (tool check, start-up log, temp folder, report
// levels, status line), the log call and the log panel, the destination mode
// buttons and closing. Controls are owned by the window and found by name.
#pragma once
#include "app/AppState.h"
#include "app/BackupRun.h"
#include "app/FormBuilder.h"
#include "app/Lang.h"
#include "app/SessionData.h"
#include "app/ReportMail.h"
#include "app/Settings.h"
#include "app/Unattended.h"
#include "app/ZipCheckDirs.h"
#include "framework/ComCtrls.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/RichLog.h"
#include "framework/StdCtrls.h"
#include "framework/Window.h"
#include "framework/Strings.h"
#include "shell/base/FolderBrowser.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "zip/ZipArchiver.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krv {

class TFormSessionLink;

class TMainForm : public TForm, public IRunHost, public IFolderScanHost {
public:
    // appDir: the program's folder with a trailing "\"; params: the command
    // line arguments after the program (argument 1 is a session file).
    TMainForm(const std::string& appDir, std::vector<std::string> params);
    ~TMainForm() override;

    // The log call: report list and coloured log panel (colour 0 black,
    // 1 red, 2 blue; level 0..3; kind 0 normal, 1 detail, 2 debug).
    void AddLog(const std::string& msg, int colour, int level, int kind) override;
    // Many lines of one kind: each a line of the report, one insertion in the panel.
    void AddLogLines(const std::vector<std::string>& lines, int colour, int level, int kind) override;
    // Writes the report file; problems are logged, never thrown.
    void SaveReport() override;
    void UpdateModeButtons();
    void ShowSessionStatus();

    // False for the special folders that cannot be backed up (desktop, My
    // Computer, network, printers, history, recycle bin).
    bool IsCheckable(TNamespace* ns) const;
    // The folders ticked in the tree's storage (ANSI paths).
    std::vector<std::string> CheckedPaths();
    // Where the folder scan starts: the ticked folders of the storage, and
    // those the tree shows or the session named that the storage no longer
    // lists because they are gone (the scan names them as left out).
    std::vector<std::string> ScanStartPaths() override;
    // The folder tree as the scan walks it.
    TFolderTreeAccess FolderAccess() override;
    bool IncludeSubfolders() override { return SubFoldersCheck->Checked(); }
    // The path of a node's folder as the session holds it; empty without one.
    std::string NodePath(PLazyNode node) const;

    // Handlers of the window's controls and menu.
    void FormShow();
    void FormActivate();
    void FormClose(TCloseAction& action);
    void ButtonClearClick();
    void ButtonViewLogClick();
    void ComboLogChange();
    void ToolsMenuClick();
    void HelpTopicsClick();
    void BtnDiscBackupClick();
    void BtnHDBackupClick();
    // The hard-disk folder: browsed for with DirHD, or typed.
    void HDFolderButtonClick();
    void SplitterTreeCanResize(int& newSize, bool& accept);
    void OptionsMenuClick();
    void AboutClick();
    // After the language setting changed: load it, refill the message table
    // and translate the window and its menu again.
    void ApplyLanguageChange();

    // Session editing and batch mode (MainSession.cpp).
    void SessionToForm();
    void FormToSession();
    void RestoreTreeChecks();
    void ClearIncompleteMailOptions();
    void AfterSessionLoad(bool loaded, const std::string& fileName);
    void NewSessionClick();
    void LoadSessionClick();
    // Both answer true when the session was written.
    bool SaveSessionClick();
    bool SaveSessionAsClick();
    void ButtonResetClick();
    void EditArchiveNameExit();
    void UpdateStartButton();
    void GenerateSessionLinkClick();
    // The unattended run of a session file given on the command line. It is
    // started from the message loop once the window has been shown and
    // painted (FormActivate only schedules it).
    void RunBatch(const std::string& sessionFile, const std::string& archiveArg);
    bool BatchPending() const { return batchPending_; }
    // A message box for the user; in batch mode a red log line and the
    // answer that loses nothing (see AskUser).
    int Ask(const std::string& text, const std::string& caption, UINT flags);

    // Stand-ins of tests for the run and for saving the session; empty in
    // the program, where ButtonStartClick and SaveSessionClick do the work.
    std::function<void()> StartBackup;
    std::function<bool()> SaveSession;
    // Stand-in of tests for the unattended run; empty: RunBatch.
    std::function<void(const std::string& sessionFile, const std::string& archiveName)> StartBatch;
    // Ends the process once a run stopped by the session's end is saved
    // (tests record the code instead); empty: the system's process exit.
    std::function<void(int exitCode)> EndProcess;
    // Shows the shortcut dialog modally; tests answer it instead.
    std::function<int(TFormSessionLink& dialog)> RunLinkDialog;
    bool ArchiveNameValid = true;
    // False while a folder scan runs and while a session's ticks are restored.
    bool TreeEventsOn = true;
    bool LogPanelShown() const { return logPanelShown_; }
    // The hard-disk folder is on the network: its free space is neither shown nor checked.
    bool NetworkDestination() const { return networkDestination_; }

    // The backup run (RunDriver.cpp) and its steps.
    void ButtonStartClick();
    bool RunActive() const { return runActive_; }
    // The run now going on or the last one (null before the first).
    const TBackupRun* LastRun() const { return run_.get(); }
    // The current or last run stopped (or is stopping) before its end.
    bool RunStopped() const { return run_ && run_->Stopping(); }
    // The window's report mail (made on first use; tests aim its client).
    TReportMail& ReportMail();
    // A report mail has ended: its lines go into the report file, unless a
    // later run has begun a report of its own meanwhile.
    void MailFinished();
    // Tests change the steps of a run here before it starts.
    std::function<void(TBackupRun& run)> OnRunBuilt;
    // The folder lists of the last scan (what a run starts from).
    TScanFindings LastScan;
    void MakeDirLists();
    void ButtonUpdateSizeClick();
    // The folder scan with its window: the size, the lists, or both from one walk.
    void ScanFolders(TCheckDirMode mode);
    void CheckDestination(const std::string& path);
    // The hard-disk folder that what was typed names (EntryPath):
    // what every check and every file call of a run is given.
    std::string DestinationFolder() const;
    void HDFolderEditExit();
    // Starts the report mail when the session asks for one; returns at once.
    void MailReport() override;

    // The recorder scan at start-up (sets DevicesFound); tests leave it empty.
    std::function<void()> DiscoverRecorders;

    // Fields of the window's life.
    TSessionData Session;
    std::unique_ptr<TLang> Lang;
    TSettings Settings;
    std::string AppDir;
    std::string TempDir;
    std::string SessionFileArg;
    TStringList ReportLines;
    TStringList LangFiles;       // language files listed by the Options dialog
    TBackupMode Mode = bmDisc;
    bool NoBurner = false;
    bool DevicesFound = false;
    int64_t SelectedSize = 0;
    // The recorders' addresses, parallel to the items of DeviceCombo.
    TStringList DeviceIds;
    TZipArchiver Archiver;
    // What the program's exit code says after an unattended run (TRunExitCode):
    // failed until a run concludes done, so that no other way out is a success.
    int ExitCode = ecFailed;
    std::vector<std::string> Params;

    std::string SettingsFile() const { return SettingsFileName(AppDir); }

    // The controls, also reachable with Find<T>(name).
    TMainMenu* MainMenu = nullptr;
    TMenuItem* FileMenu = nullptr;
    TMenuItem* ExitMenu = nullptr;
    TMenuItem* ToolsMenu = nullptr;
    TMenuItem* ViewSavedLog = nullptr;
    TMenuItem* GenerateSessionLink = nullptr;
    TMenuItem* OptionsMenu = nullptr;
    TMenuItem* HelpMenu = nullptr;
    TMenuItem* HelpTopics = nullptr;
    TMenuItem* About = nullptr;
    TStatusBar* StatusBar = nullptr;
    TPanel* PanelLog = nullptr;
    TRichLog* LogEdit = nullptr;
    TPanel* PanelButtons = nullptr;
    TButton* ButtonStart = nullptr;
    TSpeedButton* ButtonViewLog = nullptr;
    TButton* ButtonClear = nullptr;
    TButton* ButtonExit = nullptr;
    TImageList* HideLogImage = nullptr;
    TImageList* DiscImages = nullptr;
    TImageList* HDImages = nullptr;
    TPanel* PanelTree = nullptr;
    TLazyExplorerTreeview* DirTree = nullptr;
    TSplitter* SplitterTree = nullptr;
    TPageControl* PageControl = nullptr;
    TTabSheet* TabDestination = nullptr;
    TTabSheet* TabSession = nullptr;
    TTabSheet* TabMail = nullptr;
    TSpeedButton* BtnDiscBackup = nullptr;
    TSpeedButton* BtnHDBackup = nullptr;
    TPanel* PanelCD = nullptr;
    TPanel* PanelHD = nullptr;
    TLabel* DeviceLabel = nullptr;
    TLabel* LabelWarnDelCDR = nullptr;
    TComboBox* DeviceCombo = nullptr;
    TCheckBox* CheckRW = nullptr;
    TEdit* HDFolderEdit = nullptr;
    TButton* HDFolderButton = nullptr;
    TFolderBrowser* DirHD = nullptr;
    TCheckBox* CheckOverwriteFile = nullptr;
    TLabel* LabelDestFreeSpace = nullptr;
    TLabel* LabelSizeWarning = nullptr;
    TLabel* LabelNetSpaceWarning = nullptr;
    TEdit* EditArchiveName = nullptr;
    TCheckBox* SubFoldersCheck = nullptr;
    TCheckBox* CloseKVCheck = nullptr;
    TComboBox* ComboLog = nullptr;
    TCheckBox* CheckFilters = nullptr;
    TLabel* LabelInclusionMask = nullptr;
    TEdit* EditInclusionMask = nullptr;
    TLabel* LabelExclusionMask = nullptr;
    TEdit* EditExclusionMask = nullptr;
    TLabel* LabelSize = nullptr;
    TButton* ButtonUpdateSize = nullptr;
    TButton* ButtonReset = nullptr;
    TCheckBox* MailCheck = nullptr;
    TEdit* AddressEdit = nullptr;
    TEdit* SMTPEdit = nullptr;
    TCheckBox* LoginCheck = nullptr;
    TEdit* MailUserEdit = nullptr;
    TEdit* MailPassEdit = nullptr;

    // The page control's minimum width, kept free by the tree splitter.
    static constexpr int kPageControlMinWidth = 420;

    // The tree's ticks into the session's folder lists.
    void TreeChecksToSession();

protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // What only the window itself calls: its handlers and helpers.
    void ScrollLogToEnd(bool scroll);
    // Lines for the log panel: shown now, or kept while the window is minimized.
    void ShowInPanel(std::vector<TLogLine> lines);
    void ShowPendingPanelLines();
    void CheckTools();
    void InitDirTree();

    // The folder tree's handlers and what the window does with its ticks (FolderTree.cpp).
    void DirTreeInitNode(PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initialStates);
    void DirTreeEnumFolder(TNamespace* ns, bool& allowAsChild);
    void DirTreeChecking(PLazyNode node, TCheckState& newState, bool& allowed);
    void DirTreeExpanding(PLazyNode node, bool& allowed);
    void DirTreeExpanded(PLazyNode node);
    // Sets state on every existing descendant of node.
    void PushCheckState(PLazyNode node, TCheckState state);
    // No ticks anywhere, the tree built again from its root.
    void ClearTreeChecks();
    // A ticked folder whose files cannot be backed up: said in red.
    void FolderLeftOut(const std::string& path);
    // Ticked or unticked folders of the loaded session the tree has no node
    // for; kept for the session file so that a folder that is away (a drive
    // not plugged in) is not dropped from the session by saving it.
    TStringList UnfoundSelected;
    TStringList UnfoundUnselected;
    bool SkipNextExpandPush = false;

    // Handlers of the window's controls and menu.
    void FormCreate();
    void ButtonExitClick();
    void ViewSavedLogClick();
    void CloseKVCheckClick();
    void SubFoldersCheckClick();
    void CheckOverwriteFileClick();
    void CheckFiltersClick();
    void HDFolderEditChange();
    void ResetForm();
    // The archive name in EditArchiveName is a plain file name.
    bool IsValidArchiveName() const;
    void MailCheckClick();
    void EditArchiveNameChange();
    void CheckRWClick();
    void DeviceComboChange();
    void DirTreeChecked();

    // Windows ends the session: a run is stopped at once, what it was
    // writing removed and its report saved before the handler returns;
    // true when a run was stopped.
    bool SessionEnds();
    bool SpaceIsEnough(const std::string& path);
    std::string DefaultTempDir;
    std::string DefaultArchiveName() const;
    // Writes the settings; a failure is logged.
    void SaveSettings();
    void BuildControls();
    void BuildDirTree();
    void BuildMenu();
    void BuildImages();
    void ShowHint();
    template <class T> T* Add(TWinControl* parent, const char* name, int left, int top, int width, int height,
                              const std::string& caption = {}) {
        return MakeControl<T>(this, parent, name, left, top, width, height, caption);
    }
    TMenuItem* AddMenu(TMenuItem* parent, const char* name, const std::string& caption, const std::string& hint,
                       std::function<void()> onClick = {});
    void RunBackup();
    // The run or the session save, through a test's stand-in when there is one.
    void StartRun();
    bool SaveSessionNow();
    TRunJob MakeRunJob() const;
    // The abort path of the current run (one is made when none has started).
    void AbortRun();
    // IRunHost: what a run asks of the window.
    void ShowRunStep(const std::string& title) override;
    void ScanFolders(bool withSize, TScanFindings& found) override;
    int64_t SelectedBytes() override { return SelectedSize; }
    void ShowArchiveSize(int64_t bytes) override;
    TComponent* WindowOwner() override { return this; }
    void RunDone() override;
    // Ends an unattended run that could not start: red line already logged,
    // "Operation aborted", report mail and file, then the window closes.
    void StopBatch(int exitCode);
    void WireRun();
    std::unique_ptr<TBackupRun> run_;
    // The scan window's findings: the size shown, the lists kept for a run.
    void TakeScan(TCheckDirMode mode, const TScanFindings& found);
    // The scan window's Cancel pressed from outside (a close, the session's end).
    void CancelScan(TFormZipCheckDirs& form);
    std::unique_ptr<TMainFormMailHost> mailHost_;
    std::unique_ptr<TReportMail> reportMail_;
    int logPanelHeight_ = 0;
    bool logPanelShown_ = false;
    bool networkDestination_ = false;
    void WireSessionControls();
    bool runActive_ = false;
    bool closeAfterRun_ = false;   // the window closes once the run has ended
    int reportRun_ = 0;            // counts the runs that began a report
    int mailedRun_ = 0;            // the run whose report the last mail sent
    // The report's file name this run took (empty: the usual one), held open until it is saved.
    std::string reportName_;
    FileHandle reportHold_;
    std::vector<TLogLine> panelPending_;   // the panel's lines while minimized
    bool batchStarted_ = false;
    bool batchPending_ = false;
    std::unique_ptr<TMessageWindow> batchStarter_;   // starts the batch run from the message loop
    // Ticks below a folder being unticked without "Include subfolders".
    TStringList keptTicks_;
};

} // namespace krv
