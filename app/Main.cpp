#include "app/Main.h"
#include "app/About.h"
#include "app/OptionsForm.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "app/ProgressWindow.h"
#include "app/ViewLog.h"
#include "framework/Dialogs.h"
#include "framework/IniFiles.h"
#include "framework/SysUtils.h"
#include <shellapi.h>

namespace krv {

namespace {
constexpr UINT kStartBatchMessage = WM_APP + 1;

// Makes a folder beside the program when it is missing; answers whether it was made here.
bool MakeFolder(const std::string& path, std::string& problem) {
    if (DirectoryExists(path)) return false;
    if (!::CreateDirectoryA(path.c_str(), nullptr)) {
        problem = "Cannot create the folder \"" + path + "\": " + SysErrorMessage(::GetLastError());
        return false;
    }
    return true;
}
}

TMainForm::TMainForm(const std::string& appDir, std::vector<std::string> params)
    : AppDir(IncludeTrailingBackslash(appDir)), Params(std::move(params)) {
    SetName("MainForm");
    SetCaption(std::string(kProductName) + " ");
    Position = poScreenCenter;
    SetBounds(0, 0, 800, 620);
    Constraints.MinWidth = 700;
    Constraints.MinHeight = 480;
    ConfigureRunArchiver(Archiver);
    BuildImages();
    BuildControls();
    BuildMenu();
    // After the window is made: meanwhile the shell's image lists, which the
    // tree needs first, may still be built on the start-up worker.
    BuildDirTree();
    OnCreate = [this](TObject*) { FormCreate(); };
    OnShow = [this](TObject*) { FormShow(); };
    OnActivate = [this](TObject*) { FormActivate(); };
    OnClose = [this](TObject*, TCloseAction& action) { FormClose(action); };
    WireSessionControls();
    WireRun();
    Application().OnHint = [this](TObject*) { ShowHint(); };
    DoCreate();
}

TMainForm::~TMainForm() {
    Application().OnHint = nullptr;
    // The tree is freed with the window's components, after this window's
    // own members: its handlers must not reach them meanwhile.
    if (DirTree) {
        DirTree->OnInitNode = nullptr;
        DirTree->OnEnumFolder = nullptr;
        DirTree->OnChecking = nullptr;
        DirTree->OnChecked = nullptr;
        DirTree->OnExpanding = nullptr;
        DirTree->OnExpanded = nullptr;
    }
    // Closing frees the lists the window kept for the run and the language.
    DeviceIds.Clear();
    if (Lang) Lang->Clear();
}

// ------------------------------------------------------------------ layout

TMenuItem* TMainForm::AddMenu(TMenuItem* parent, const char* name, const std::string& caption, const std::string& hint,
                              std::function<void()> onClick) {
    auto* item = new TMenuItem(this);
    item->SetName(name);
    item->SetCaption(caption);
    item->Hint = hint;
    if (onClick) item->OnClick = [onClick](TObject*) { onClick(); };
    parent->Add(item);
    return item;
}

void TMainForm::BuildImages() {
    HideLogImage = new TImageList(this);
    HideLogImage->SetName("HideLogImage");
    // 0: hide the panel (arrow down), 1: show it (arrow up).
    HideLogImage->AddPainted([](TCanvas& c) {
        c.Brush.SetColor(clNavy);
        c.Pen.SetColor(clNavy);
        POINT p[3] = {{3, 5}, {13, 5}, {8, 11}};
        c.Polygon(p, 3);
    });
    HideLogImage->AddPainted([](TCanvas& c) {
        c.Brush.SetColor(clNavy);
        c.Pen.SetColor(clNavy);
        POINT p[3] = {{3, 11}, {13, 11}, {8, 5}};
        c.Polygon(p, 3);
    });
    // Per mode button: 0 the chosen look, 1 the other.
    DiscImages = new TImageList(this, 24, 24);
    DiscImages->SetName("DiscImages");
    HDImages = new TImageList(this, 24, 24);
    HDImages->SetName("HDImages");
    auto disc = [](TColor ring) {
        return [ring](TCanvas& c) {
            c.Pen.SetColor(clGray);
            c.Brush.SetColor(ring);
            c.Ellipse(2, 2, 22, 22);
            c.Brush.SetColor(clWhite);
            c.Ellipse(9, 9, 15, 15);
        };
    };
    auto disk = [](TColor body) {
        return [body](TCanvas& c) {
            c.Pen.SetColor(clGray);
            c.Brush.SetColor(body);
            c.Rectangle(2, 6, 22, 18);
            c.Brush.SetColor(clGreen);
            c.Rectangle(16, 13, 20, 16);
        };
    };
    DiscImages->AddPainted(disc(0x00C0FF));
    DiscImages->AddPainted(disc(clSilver));
    HDImages->AddPainted(disk(0x808000));
    HDImages->AddPainted(disk(clSilver));
}

void TMainForm::BuildControls() {
    StatusBar = Add<TStatusBar>(this, "StatusBar", 0, 0, 0, 0);
    // The session line grows with its text (session name, two date-times).
    StatusBar->AddPanel(400);
    StatusBar->SetPanelAutoSize(0, true);
    StatusBar->AddPanel(100);

    PanelLog = Add<TPanel>(this, "PanelLog", 0, 0, 100, 150);
    PanelLog->BevelOuter = bvNone;
    PanelLog->BorderWidth = 3;
    PanelLog->SetAlign(alBottom);
    LogEdit = Add<TRichLog>(PanelLog, "LogEdit", 0, 0, 100, 100);
    LogEdit->SetAlign(alClient);
    // A run that leaves thousands of files out names each here: the panel
    // must not grow with them.
    LogEdit->MaxLines = kLogPanelLines;

    // Laid out for the window's first client width; the anchors keep it right from there.
    const int clientWidth = 784;
    PanelButtons = Add<TPanel>(this, "PanelButtons", 0, 0, clientWidth, 38);
    PanelButtons->BevelOuter = bvNone;
    PanelButtons->SetAlign(alBottom);
    ButtonStart = Add<TButton>(PanelButtons, "ButtonStart", 8, 6, 100, 26, "Start backup");
    ButtonStart->SetEnabled(false);   // a run needs ticked folders
    ButtonViewLog = Add<TSpeedButton>(PanelButtons, "ButtonViewLog", 116, 6, 100, 26, "Hide Log");
    ButtonViewLog->Images = HideLogImage;
    ButtonViewLog->OnClick = [this](TObject*) { ButtonViewLogClick(); };
    ButtonClear = Add<TButton>(PanelButtons, "ButtonClear", 224, 6, 100, 26, "Clear log");
    ButtonClear->OnClick = [this](TObject*) { ButtonClearClick(); };
    ButtonExit = Add<TButton>(PanelButtons, "ButtonExit", clientWidth - 108, 6, 100, 26, "Exit");
    ButtonExit->SetAnchors(akRight | akTop);
    ButtonExit->OnClick = [this](TObject*) { ButtonExitClick(); };

    PanelTree = Add<TPanel>(this, "PanelTree", 0, 0, 270, 100);
    PanelTree->BevelOuter = bvLowered;
    PanelTree->SetAlign(alLeft);
    SplitterTree = Add<TSplitter>(this, "SplitterTree", 270, 0, 5, 100);
    SplitterTree->SetAlign(alLeft);
    SplitterTree->MinSize = 120;
    SplitterTree->OnCanResize = [this](TObject*, int& newSize, bool& accept) { SplitterTreeCanResize(newSize, accept); };

    PageControl = Add<TPageControl>(this, "PageControl", 0, 0, 400, 300);
    PageControl->SetAlign(alClient);
    TabDestination = AddTabSheet(this, PageControl, "TabDestination", "Destination");
    TabSession = AddTabSheet(this, PageControl, "TabSession", "Session Options");
    TabMail = AddTabSheet(this, PageControl, "TabMail", "Mail");
    // Pages that are not open get their windows when first opened: an
    // unattended run never opens them.
    TabSession->HandleWhenShown = TabMail->HandleWhenShown = true;

    // Destination: the mode buttons and one panel per mode.
    BtnDiscBackup = Add<TSpeedButton>(TabDestination, "BtnDiscBackup", 12, 12, 150, 34, "Disc");
    BtnHDBackup = Add<TSpeedButton>(TabDestination, "BtnHDBackup", 170, 12, 150, 34, "Hard disk");
    BtnDiscBackup->GroupIndex = BtnHDBackup->GroupIndex = 1;
    BtnDiscBackup->Images = DiscImages;
    BtnHDBackup->Images = HDImages;
    BtnDiscBackup->OnClick = [this](TObject*) { BtnDiscBackupClick(); };
    BtnHDBackup->OnClick = [this](TObject*) { BtnHDBackupClick(); };
    PanelCD = Add<TPanel>(TabDestination, "PanelCD", 12, 56, 420, 110);
    PanelCD->BevelOuter = bvNone;
    DeviceLabel = Add<TLabel>(PanelCD, "DeviceLabel", 0, 4, 200, 16, "Recorder:");
    DeviceCombo = Add<TComboBox>(PanelCD, "DeviceCombo", 0, 22, 300, 21);
    CheckRW = Add<TCheckBox>(PanelCD, "CheckRW", 0, 52, 300, 20, "Blank a rewritable disc first");
    CheckRW->SetChecked(true);   // a new session's disc is rewritable
    LabelWarnDelCDR = Add<TLabel>(PanelCD, "LabelWarnDelCDR", 0, 76, 400, 16,
                                  "Warning: blanking erases everything on the disc!");
    PanelHD = Add<TPanel>(TabDestination, "PanelHD", 12, 56, 420, 110);
    PanelHD->BevelOuter = bvNone;
    Add<TLabel>(PanelHD, "LabelHDFolder", 0, 4, 200, 16, "Destination folder:");
    HDFolderEdit = Add<TEdit>(PanelHD, "HDFolderEdit", 0, 22, 300, 21);
    HDFolderEdit->OnChange = [this](TObject*) { HDFolderEditChange(); };
    HDFolderButton = Add<TButton>(PanelHD, "HDFolderButton", 304, 21, 30, 23, "...");
    HDFolderButton->Hint = "Choose the destination folder";
    HDFolderButton->OnClick = [this](TObject*) { HDFolderButtonClick(); };
    DirHD = new TFolderBrowser(this);
    DirHD->SetName("DirHD");
    CheckOverwriteFile = Add<TCheckBox>(PanelHD, "CheckOverwriteFile", 0, 52, 300, 20, "Overwrite an existing backup file");
    CheckOverwriteFile->OnClick = [this](TObject*) { CheckOverwriteFileClick(); };
    LabelDestFreeSpace = Add<TLabel>(PanelHD, "LabelDestFreeSpace", 0, 80, 300, 16);
    LabelSizeWarning = Add<TLabel>(PanelHD, "LabelSizeWarning", 0, 98, 420, 16,
                                   "The free space may not be enough for the selected folders");
    LabelSizeWarning->Font().SetColor(clRed);
    LabelSizeWarning->Hide();
    LabelNetSpaceWarning = Add<TLabel>(PanelHD, "LabelNetSpaceWarning", 0, 98, 420, 16,
                                       "Network folder: the free space cannot be checked");
    LabelNetSpaceWarning->Hide();
    // The mode decides which panel shows (UpdateModeButtons); the other one
    // never gets windows unless the mode changes.
    for (TPanel* panel : {PanelCD, PanelHD}) {
        panel->HandleWhenShown = true;
        panel->Hide();
    }

    // Session options.
    Add<TLabel>(TabSession, "LabelArchiveName", 12, 12, 200, 16, "Archive name:");
    EditArchiveName = Add<TEdit>(TabSession, "EditArchiveName", 12, 30, 300, 21);
    SubFoldersCheck = Add<TCheckBox>(TabSession, "SubFoldersCheck", 12, 62, 300, 20, "Include subfolders");
    SubFoldersCheck->SetChecked(true);   // a new session includes subfolders
    SubFoldersCheck->OnClick = [this](TObject*) { SubFoldersCheckClick(); };
    CloseKVCheck = Add<TCheckBox>(TabSession, "CloseKVCheck", 12, 86, 300, 20, "Close Korvane after the backup");
    CloseKVCheck->OnClick = [this](TObject*) { CloseKVCheckClick(); };
    Add<TLabel>(TabSession, "LabelReport", 12, 116, 200, 16, "Report:");
    ComboLog = Add<TComboBox>(TabSession, "ComboLog", 12, 134, 180, 21);
    ComboLog->OnChange = [this](TObject*) { ComboLogChange(); };
    CheckFilters = Add<TCheckBox>(TabSession, "CheckFilters", 12, 168, 300, 20, "Enable filters");
    CheckFilters->OnClick = [this](TObject*) { CheckFiltersClick(); };
    LabelInclusionMask = Add<TLabel>(TabSession, "LabelInclusionMask", 30, 194, 90, 16, "Include:");
    EditInclusionMask = Add<TEdit>(TabSession, "EditInclusionMask", 120, 192, 200, 21);
    LabelExclusionMask = Add<TLabel>(TabSession, "LabelExclusionMask", 30, 222, 90, 16, "Exclude:");
    EditExclusionMask = Add<TEdit>(TabSession, "EditExclusionMask", 120, 220, 200, 21);
    for (TControl* c : {static_cast<TControl*>(LabelInclusionMask), static_cast<TControl*>(EditInclusionMask),
                        static_cast<TControl*>(LabelExclusionMask), static_cast<TControl*>(EditExclusionMask)})
        c->SetEnabled(false);
    Add<TLabel>(TabSession, "LabelSizeTitle", 12, 258, 100, 16, "Backup size:");
    LabelSize = Add<TLabel>(TabSession, "LabelSize", 120, 258, 200, 16, "0 bytes");
    ButtonUpdateSize = Add<TButton>(TabSession, "ButtonUpdateSize", 12, 282, 110, 26, "Update size");
    ButtonUpdateSize->SetEnabled(false);
    ButtonReset = Add<TButton>(TabSession, "ButtonReset", 130, 282, 110, 26, "Reset");
    ButtonReset->SetEnabled(false);   // until WireSessionControls gives it its handler

    // Mail.
    MailCheck = Add<TCheckBox>(TabMail, "MailCheck", 12, 12, 300, 20, "Send the report by mail");
    Add<TLabel>(TabMail, "AddressLabel", 12, 42, 200, 16, "Address:");
    AddressEdit = Add<TEdit>(TabMail, "AddressEdit", 12, 60, 300, 21);
    Add<TLabel>(TabMail, "SMTPLabel", 12, 88, 200, 16, "SMTP server:");
    SMTPEdit = Add<TEdit>(TabMail, "SMTPEdit", 12, 106, 300, 21);
    LoginCheck = Add<TCheckBox>(TabMail, "LoginCheck", 12, 136, 300, 20, "The server needs a login");
    Add<TLabel>(TabMail, "MailUserLabel", 12, 162, 200, 16, "User:");
    MailUserEdit = Add<TEdit>(TabMail, "MailUserEdit", 12, 180, 300, 21);
    Add<TLabel>(TabMail, "MailPassLabel", 12, 206, 200, 16, "Password:");
    MailPassEdit = Add<TEdit>(TabMail, "MailPassEdit", 12, 224, 300, 21);
    for (TControl* c : {static_cast<TControl*>(MailCheck), static_cast<TControl*>(AddressEdit), static_cast<TControl*>(SMTPEdit),
                        static_cast<TControl*>(LoginCheck), static_cast<TControl*>(MailUserEdit), static_cast<TControl*>(MailPassEdit)})
        c->SetEnabled(false);   // until WireSessionControls gives them their handlers
}

void TMainForm::BuildMenu() {
    MainMenu = new TMainMenu(this);
    MainMenu->SetName("MainMenu");
    TMenuItem* root = &MainMenu->Items();
    FileMenu = AddMenu(root, "FileMenu", "&File", "Sessions and leaving the program");
    // Enabled by WireSessionControls with their handlers.
    const char* const sessionItems[][3] = {
        {"NewSession", "&New session", "Start a new, empty session"},
        {"LoadSession", "&Load session...", "Open a session file"},
        {"SaveSession", "&Save session", "Save the session to its file"},
        {"SaveSessionAs", "Save session &as...", "Save the session to a new file"}};
    for (const auto& item : sessionItems) AddMenu(FileMenu, item[0], item[1], item[2])->SetEnabled(false);
    AddMenu(FileMenu, "FileSeparator", "-", "");
    ExitMenu = AddMenu(FileMenu, "ExitMenu", "E&xit", "Close the program", [this] { ButtonExitClick(); });
    ToolsMenu = AddMenu(root, "ToolsMenu", "&Tools", "Options, report and shortcut", [this] { ToolsMenuClick(); });
    OptionsMenu = AddMenu(ToolsMenu, "OptionsMenu", "&Options...", "Change the program's settings and language",
                          [this] { OptionsMenuClick(); });
    ViewSavedLog = AddMenu(ToolsMenu, "ViewSavedLog", "&View report", "Show the report of the last backup",
                           [this] { ViewSavedLogClick(); });
    GenerateSessionLink = AddMenu(ToolsMenu, "GenerateSessionLink", "&Generate session shortcut...",
                                  "Make a shortcut that runs this session unattended");
    HelpMenu = AddMenu(root, "HelpMenu", "&Help", "Help and program information");
    HelpTopics = AddMenu(HelpMenu, "HelpTopics", "&Help topics", "Open the help file", [this] { HelpTopicsClick(); });
    About = AddMenu(HelpMenu, "About", "&About...", "Program name and version", [this] { AboutClick(); });
    SetMenu(MainMenu);
    ToolsMenuClick();
}

// --------------------------------------------------------------- lifecycle

void TMainForm::FormCreate() {
    KorvaneState().Batch = false;
    KorvaneState().MailBusy = false;
    KorvaneState().CloseWhenMailDone = false;
    Session.Reset();
    Lang = std::make_unique<TLang>();
    Lang->Init();
    DevicesFound = false;

    std::string problem;
    if (MakeFolder(AppDir + "temp", problem)) {
        // Hidden only when made here: a folder the user already has keeps its attributes.
        DWORD attrs = ::GetFileAttributesA((AppDir + "temp").c_str());
        ::SetFileAttributesA((AppDir + "temp").c_str(), attrs | FILE_ATTRIBUTE_HIDDEN);
    }
    if (!problem.empty()) AddLog(problem, lcRed, 0, lkNormal);
    for (const char* folder : {"tools", "lang"}) {
        problem.clear();
        MakeFolder(AppDir + folder, problem);
        if (!problem.empty()) AddLog(problem, lcRed, 0, lkNormal);
    }

    DeviceIds.Clear();
    ReportLines.Clear();
    NoBurner = false;
    Mode = bmDisc;

    Settings = ReadSettings(SettingsFile());
    TempDir = EntryPath(Settings.TempDir);
    Session.Log = Settings.LogLevel;
    if (!Settings.Lang.empty() && !Lang->LoadFromFile(Settings.Lang)) {
        Settings.Lang.clear();
        // The table is not filled yet: the English default is what the user sees.
        LoadLanguageStrings(*Lang);
        AddLog(KV_LangFileError, lcRed, 0, lkNormal);
        SaveSettings();
    }
    LoadLanguageStrings(*Lang);
}

void TMainForm::FormShow() {
    CheckTools();
    Lang->ApplyToForm(*this);
    Lang->ApplyToMenu(*this, *MainMenu);
    SetCaption(Caption() + kProductVersion);
    AddLog(KrvStartingLine, lcBlack, 3, lkNormal);
    InitDirTree();

    DefaultTempDir = AppDir + "temp";
    if (!DirectoryExists(TempDir)) {
        TempDir = DefaultTempDir;
        Settings.TempDir = TempDir;
        SaveSettings();
    }
    EditArchiveName->SetText(DefaultArchiveName());
    Session.ArchiveName = EditArchiveName->Text();

    if (NoBurner) {
        AddLog(KV_NoCDBackup, lcRed, 0, lkNormal);
    } else if (DiscoverRecorders) {
        DiscoverRecorders();
    }

    logPanelShown_ = true;
    ButtonViewLog->SetImageIndex(0);
    ButtonViewLog->SetCaption(KV_HideLog);
    if (!Settings.ViewLogPanel) ButtonViewLogClick();

    if (DevicesFound) AddLog(KrvReadyLine, lcBlue, 3, lkDetail);
    UpdateModeButtons();

    ComboLog->SetItems({LogLevel1, LogLevel2, LogLevel3, LogLevel4});
    ComboLog->SetItemIndex(Session.Log);
    // The controls show the fresh record, and Start follows the ticks.
    ResetForm();
    UpdateStartButton();
    Session.Modified = false;
    StatusBar->SetPanelText(0, KV_NewSessionName);
    networkDestination_ = false;
}

void TMainForm::FormActivate() {
    std::string sessionFile = Params.size() > 0 ? Params[0] : std::string();
    if (sessionFile.empty()) {
        KorvaneState().Batch = false;
        return;
    }
    // One unattended run per program start, however often the window is
    // activated (after an error box, while a report mail is pending).
    if (batchStarted_) return;
    batchStarted_ = true;
    // Activation comes while the window is being shown: the run starts from
    // the message loop, after the window has been painted, so that it stays
    // painted and answers while the run's own windows work.
    batchPending_ = true;
    if (!batchStarter_) {
        batchStarter_ = std::make_unique<TMessageWindow>([this, sessionFile](UINT msg, WPARAM, LPARAM, LRESULT& result) {
            if (msg != kStartBatchMessage) return false;
            result = 0;
            if (!batchPending_) return true;
            batchPending_ = false;
            // The window is painted before the run takes the thread.
            if (HandleAllocated()) ::UpdateWindow(Handle());
            const std::string archiveArg = Params.size() > 1 ? Params[1] : std::string();
            if (StartBatch) StartBatch(sessionFile, archiveArg);
            else RunBatch(sessionFile, archiveArg);
            return true;
        });
    }
    ::PostMessageA(batchStarter_->Handle(), kStartBatchMessage, 0, 0);
}

void TMainForm::FormClose(TCloseAction& action) {
    // A close during a run is the run's Cancel; the window closes when the
    // run has stopped (an unattended run closes it anyway).
    if (runActive_) {
        action = caNone;
        if (!TActiveStep::CancelCurrent()) return;
        if (RunStopped()) closeAfterRun_ = true;
        return;
    }
    if (KorvaneState().MailBusy) {
        KorvaneState().CloseWhenMailDone = true;
        action = caNone;
        return;
    }
    if (Session.Modified) {
        int answer = Ask(KV_Save_Session, KV_Save_Session_Title, MB_YESNOCANCEL | MB_ICONWARNING);
        if (answer == IDCANCEL) {
            action = caNone;
            return;
        }
        // A session that cannot be saved keeps the window open: nothing is lost.
        if (answer == IDYES && !SaveSessionNow()) {
            action = caNone;
            return;
        }
    }
    // Closed before the unattended run began: it never starts.
    batchPending_ = false;
}

int TMainForm::Ask(const std::string& text, const std::string& caption, UINT flags) {
    return AskUser(text, caption, flags, [this](const std::string& line) { AddLog(line, lcRed, 0, lkNormal); });
}

void TMainForm::CheckTools() {
    const std::string tools = AppDir + "tools\\";
    const std::pair<const char*, const std::string*> files[] = {
        {"mkisofs.exe", &KV_Mkisofs_NotFound}, {"cdrecord.exe", &KV_CDRecord_NotFound}, {"cygwin1.dll", &KV_Cygwin_NotFound}};
    for (const auto& [file, message] : files) {
        if (!FileExists(tools + file)) {
            AddLog(*message, lcRed, 0, lkNormal);
            NoBurner = true;
        }
    }
}

std::string TMainForm::DefaultArchiveName() const {
    return KV_Zip_BaseName + "_" + StringReplaceAll(DateToStr(Now()), "/", "_") + ".zip";
}

void TMainForm::SaveSettings() {
    try {
        WriteSettings(SettingsFile(), Settings);
    } catch (const std::exception& e) {
        AddLog(e.what(), lcRed, 0, lkNormal);
    }
}

// ---------------------------------------------------------------------- log

void TMainForm::AddLog(const std::string& msg, int colour, int level, int kind) {
    LogRoute route = RouteLogLine(Session.Log, Settings.Log, colour, level, kind);
    if (route.ToReport) ReportLines.Add(msg);
    if (route.ToPanel) ShowInPanel({{msg, route.Color}});
}

void TMainForm::AddLogLines(const std::vector<std::string>& lines, int colour, int level, int kind) {
    if (lines.empty()) return;
    LogRoute route = RouteLogLine(Session.Log, Settings.Log, colour, level, kind);
    if (route.ToReport)
        for (const std::string& line : lines) ReportLines.Add(line);
    if (!route.ToPanel) return;
    std::vector<TLogLine> shown;
    shown.reserve(lines.size());
    for (const std::string& line : lines) shown.push_back({line, route.Color});
    ShowInPanel(std::move(shown));
}

void TMainForm::ShowInPanel(std::vector<TLogLine> lines) {
    // A minimized window's panel takes its lines when the window comes back:
    // an unattended run stays minimized to its end, and laying out a line
    // per file left out that nobody can see made it slower than storing them.
    if (panelPending_.empty()) panelPending_ = std::move(lines);
    else panelPending_.insert(panelPending_.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    if (HandleAllocated() && ::IsIconic(Handle())) {
        // The panel keeps only its last lines: so does what waits for it.
        if (panelPending_.size() > 2 * static_cast<size_t>(kLogPanelLines))
            panelPending_.erase(panelPending_.begin(), panelPending_.end() - kLogPanelLines);
        return;
    }
    ShowPendingPanelLines();
}

void TMainForm::ShowPendingPanelLines() {
    if (panelPending_.empty()) return;
    std::vector<TLogLine> lines;
    lines.swap(panelPending_);
    LogEdit->AddLines(lines);
    ScrollLogToEnd(true);
}

void TMainForm::ScrollLogToEnd(bool scroll) { LogEdit->ScrollToEnd(scroll); }

void TMainForm::SaveReport() {
    reportHold_.reset();
    ReportSaveResult result = SaveReportFile(ReportLines, TempDir, Session.SessionName, UserTempFolder(), reportName_);
    if (result.Problems.empty()) return;
    // Said once per run, and written into the report itself: where it is and why.
    if (ReportLines.IndexOf(result.Problems) < 0) AddLog(result.Problems, lcRed, 0, lkNormal);
    if (result.Saved) WriteReportLines(ReportLines, result.FileName);
}

void TMainForm::ButtonViewLogClick() {
    if (logPanelShown_) {
        ButtonClear->Hide();
        ButtonViewLog->SetImageIndex(1);
        ButtonViewLog->SetCaption(KV_ShowLog);
        logPanelHeight_ = PanelLog->Height();
        PanelLog->SetHeight(0);
        Constraints.MinHeight = std::max(0, Constraints.MinHeight - logPanelHeight_);
        SetHeight(Height() - logPanelHeight_);
        PanelLog->Hide();
        logPanelShown_ = false;
    } else {
        ButtonClear->Show();
        ButtonViewLog->SetImageIndex(0);
        ButtonViewLog->SetCaption(KV_HideLog);
        PanelLog->Show();
        int missing = logPanelHeight_ - PanelLog->Height();
        if (missing > 0) {
            Constraints.MinHeight += missing;
            SetHeight(Height() + missing);
            PanelLog->SetHeight(logPanelHeight_);
        }
        logPanelShown_ = true;
    }
}

void TMainForm::ViewSavedLogClick() {
    TFormViewLog viewer(this);
    viewer.MemoLog->SetLines(ReportLines);
    viewer.ShowModal();
}

void TMainForm::ButtonClearClick() {
    panelPending_.clear();
    LogEdit->Clear();
}

// ------------------------------------------------------------ the controls

void TMainForm::ButtonExitClick() { Close(); }

void TMainForm::ComboLogChange() { Session.Log = ComboLog->ItemIndex(); }

void TMainForm::CloseKVCheckClick() {
    Session.Modified = true;
    if (DevicesFound) AddLog(CloseKVCheck->Checked() ? KV_CloseKV : KV_NotCloseKV, lcBlack, 3, lkNormal);
}

void TMainForm::SubFoldersCheckClick() {
    Session.Modified = true;
    AddLog(SubFoldersCheck->Checked() ? KV_IncludeSubF : KV_NotIncludeSubF, lcBlack, 3, lkNormal);
}

void TMainForm::CheckOverwriteFileClick() { Session.Modified = true; }

void TMainForm::CheckFiltersClick() {
    Session.Modified = true;
    bool on = CheckFilters->Checked();
    EditInclusionMask->SetEnabled(on);
    LabelInclusionMask->SetEnabled(on);
    EditExclusionMask->SetEnabled(on);
    LabelExclusionMask->SetEnabled(on);
}

void TMainForm::OptionsMenuClick() {
    TFormOptions dialog(nullptr, Lang.get(), AppDir + "lang", &LangFiles);
    const TOptionsOutcome outcome = ExecuteOptions(dialog, Settings, [this](const TSettings&) { SaveSettings(); });
    if (outcome == TOptionsOutcome::Cancelled) return;
    TempDir = EntryPath(Settings.TempDir);
    if (outcome == TOptionsOutcome::LanguageChanged) ApplyLanguageChange();
    ComboLog->SetItemIndex(Settings.LogLevel);
}

void TMainForm::ApplyLanguageChange() {
    if (!Lang->LoadFromFile(Settings.Lang)) {
        // The file went away or broke since the dialog listed it.
        Settings.Lang.clear();
        AddLog(KV_LangFileError, lcRed, 0, lkNormal);
        SaveSettings();
    }
    LoadLanguageStrings(*Lang);
    Lang->ApplyToForm(*this);
    Lang->ApplyToMenu(*this, *MainMenu);
    ShowSessionStatus();
    // Texts made from the message table when they were shown: made again.
    if (SelectedSize == 0) LabelSize->SetCaption(KV_0Byte);
    if (!LabelDestFreeSpace->Caption().empty()) CheckDestination(HDFolderEdit->Text());
    if (Settings.Lang.empty()) ShowMessageBox(KrvRestartLangMessage, KV_Restart_Lang_Title, MB_ICONINFORMATION);
    ButtonViewLog->SetCaption(logPanelShown_ ? KV_HideLog : KV_ShowLog);
    const int level = ComboLog->ItemIndex();
    ComboLog->SetItems({LogLevel1, LogLevel2, LogLevel3, LogLevel4});
    ComboLog->SetItemIndex(level);
}

void TMainForm::AboutClick() {
    TFormAbout about(nullptr, Lang.get());
    about.ShowModal();
}

void TMainForm::ToolsMenuClick() {
    GenerateSessionLink->SetEnabled(!Session.NeverSaved);
    ViewSavedLog->SetEnabled(ReportLines.Count() > 0);
}

void TMainForm::HelpTopicsClick() {
    std::string file = AppDir + "krv.chm";
    auto result = reinterpret_cast<INT_PTR>(::ShellExecuteA(HandleNeeded(), "open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) AddLog("Cannot open the help file \"" + file + "\": " + SysErrorMessage(::GetLastError()), lcRed, 0, lkNormal);
}

void TMainForm::UpdateModeButtons() {
    if (NoBurner) {
        Mode = bmHardDisk;
        BtnDiscBackup->SetEnabled(false);
    }
    bool disc = Mode == bmDisc;
    PanelCD->SetVisible(disc);
    PanelHD->SetVisible(!disc);
    (disc ? BtnDiscBackup : BtnHDBackup)->SetDown(true);
    BtnDiscBackup->SetImageIndex(disc ? 0 : 1);
    BtnHDBackup->SetImageIndex(disc ? 1 : 0);
}

void TMainForm::BtnDiscBackupClick() {
    Mode = bmDisc;
    UpdateModeButtons();
    UpdateStartButton();
    if (!NoBurner) Session.Modified = true;
}

void TMainForm::BtnHDBackupClick() {
    Mode = bmHardDisk;
    UpdateModeButtons();
    // The folder typed earlier may have gone or filled up meanwhile.
    HDFolderEditExit();
    UpdateStartButton();
    if (!NoBurner) Session.Modified = true;
}

void TMainForm::HDFolderButtonClick() {
    DirHD->SetSelectedFolder(HDFolderEdit->Text());
    if (!DirHD->Execute()) return;
    HDFolderEdit->SetText(DirHD->FolderPath());
    HDFolderEditExit();
}

void TMainForm::HDFolderEditChange() {
    Session.Modified = true;
    LabelSizeWarning->Hide();
    LabelNetSpaceWarning->Hide();
    UpdateStartButton();
}

void TMainForm::ShowHint() {
    const std::string& hint = Application().Hint();
    StatusBar->SetSimpleText(hint);
    StatusBar->SetSimplePanel(!hint.empty());
}

void TMainForm::ShowSessionStatus() {
    if (SessionFileArg.empty()) {
        StatusBar->SetPanelText(0, KV_NewSessionName);
        return;
    }
    std::string lastBackup = Session.LastBackup <= 0 ? KV_Never : DateTimeToStr(Session.LastBackup);
    StatusBar->SetPanelText(0, KV_SessionName + ": " + Session.SessionName + "  -  " + KV_LastSave + ": " +
                                   DateTimeToStr(Session.LastSave) + "  -  " + KV_LastBackup + ": " + lastBackup);
}

void TMainForm::SplitterTreeCanResize(int& newSize, bool& accept) {
    // Any width that leaves the page control its minimum width.
    accept = newSize <= ClientWidth() - kPageControlMinWidth - SplitterTree->Width();
}

} // namespace krv
