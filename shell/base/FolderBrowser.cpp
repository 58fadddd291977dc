#include "shell/base/FolderBrowser.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "framework/Window.h"
#include <mutex>

namespace krv {

bool IsDirectory(const std::string& path) { return DirectoryExists(path); }

namespace {

std::mutex versionSourceLock;
TShShellComponent::VersionSource versionSource;

} // namespace

double TShShellComponent::SystemShellVersion() {
    char dir[MAX_PATH] = {};
    const UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 0;
    try {
        TShVersionInfo info(IncludeTrailingBackslash(dir) + "shell32.dll");
        return info.FileVersionNumber();
    } catch (const EShException&) {
        // No readable version: treat the shell as the oldest, so options that
        // need a newer one are refused rather than misbehaving.
        return 0;
    }
}

void TShShellComponent::SetShellVersionSource(VersionSource source) {
    std::lock_guard<std::mutex> lock(versionSourceLock);
    versionSource = std::move(source);
}

TShShellComponent::TShShellComponent(TComponent* owner) : TShComponent(owner) {
    VersionSource source;
    {
        std::lock_guard<std::mutex> lock(versionSourceLock);
        source = versionSource;
    }
    shellVersion_ = source ? source() : SystemShellVersion();
}

int SpecialFolderId(TStSpecialRootFolder folder) {
    static const int ids[] = {
        CSIDL_ALTSTARTUP, CSIDL_APPDATA, CSIDL_BITBUCKET, CSIDL_COMMON_ALTSTARTUP, CSIDL_COMMON_DESKTOPDIRECTORY,
        CSIDL_COMMON_FAVORITES, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP,
        CSIDL_CONNECTIONS, CSIDL_CONTROLS, CSIDL_COOKIES, CSIDL_DESKTOP, CSIDL_DESKTOPDIRECTORY, CSIDL_DRIVES,
        CSIDL_FAVORITES, CSIDL_FONTS, CSIDL_HISTORY, CSIDL_INTERNET, CSIDL_INTERNET_CACHE, CSIDL_NETHOOD,
        CSIDL_NETWORK, 0 /* sfNone */, CSIDL_PERSONAL, CSIDL_PRINTERS, CSIDL_PRINTHOOD, CSIDL_PROGRAMS,
        CSIDL_RECENT, CSIDL_SENDTO, CSIDL_STARTMENU, CSIDL_STARTUP, CSIDL_TEMPLATES,
    };
    static_assert(sizeof ids / sizeof ids[0] == sfTemplates + 1);
    return ids[folder];
}

UINT BrowseFlags(TFolderBrowseOptions options) {
    UINT flags = 0;
    if (options & boBrowseForComputer) flags |= BIF_BROWSEFORCOMPUTER;
    if (options & boBrowseForPrinter) flags |= BIF_BROWSEFORPRINTER;
    if (options & boDontGoBelowDomain) flags |= BIF_DONTGOBELOWDOMAIN;
    if (options & boReturnOnlyAncestors) flags |= BIF_RETURNFSANCESTORS;
    if (options & boReturnOnlyDirs) flags |= BIF_RETURNONLYFSDIRS;
    if (options & boShowFiles) flags |= BIF_BROWSEINCLUDEFILES;
    if (options & boEditBox) flags |= BIF_EDITBOX;
    return flags;
}

TStCustomBrowser::TStCustomBrowser(TComponent* owner) : TShShellComponent(owner) {}

TStCustomBrowser::~TStCustomBrowser() = default;

void TStCustomBrowser::SetSelectedFolder(const std::string& folder) {
    std::string s = folder;
    if (!s.empty() && s.back() == '\\') s.pop_back();
    if (s.size() == 2) s += '\\';   // "C:" alone would mean the drive's current folder
    selectedFolder_ = s;
}

void TStCustomBrowser::SetStatusText(const std::string& text) {
    statusText_ = text;
    if (!dialog_) return;
    postedStatus_.push_back(text);
    ::PostMessageA(dialog_, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(postedStatus_.back().c_str()));
}

void TStCustomBrowser::SetSpecialRootFolder(TStSpecialRootFolder folder) {
    const int id = SpecialFolderId(folder);
    const bool needsNewShell = id == 1 || (id >= 29 && id <= 34);
    if (folder != sfNone && needsNewShell && ShellVersion() < 4.7) RaiseShError<EShShellError>(shErrShellVersion);
    specialRoot_ = folder;
    specialRootId_ = id;
}

HWND TStCustomBrowser::ParentWindow() const {
    if (auto* window = dynamic_cast<TWindow*>(Owner())) return window->Handle();
    // The application's window is its main form's.
    if (Owner() == &Application()) {
        TForm* main = Application().MainForm;
        return main && main->HandleAllocated() ? main->Handle() : nullptr;
    }
    return nullptr;
}

void TStCustomBrowser::DoShow() {
    if (OnShow) OnShow(this);
}

void TStCustomBrowser::DoSelChanged() {
    if (OnSelChanged) OnSelChanged(this);
}

bool TStCustomBrowser::Execute() {
    const HWND parent = ParentWindow();
    if ((Options & (boShowFiles | boEditBox)) && ShellVersion() < 4.7) RaiseShError<EShShellError>(shErrShellVersion);

    ComInit com;
    CoTaskMem<ITEMIDLIST> root;
    if (!RootFolder.empty() && specialRoot_ == sfNone) {
        ComPtr<IShellFolder> desktop;
        if (SUCCEEDED(::SHGetDesktopFolder(desktop.put()))) {
            // Parsed whole, not cut to MAX_PATH: a cut path could name another folder.
            std::wstring wide = AnsiToWide(RootFolder);
            ULONG eaten = 0;
            // An unparsable root leaves the desktop as the root.
            if (FAILED(desktop->ParseDisplayName(parent, nullptr, wide.data(), &eaten, root.put(), nullptr)))
                root.reset();
        }
    } else if (specialRoot_ != sfNone) {
        if (FAILED(::SHGetSpecialFolderLocation(parent, specialRootId_, root.put()))) root.reset();
    }

    selection_.reset();
    char displayName[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = parent;
    info.pidlRoot = root.get();
    info.pszDisplayName = displayName;
    info.lpszTitle = AdditionalText.c_str();
    info.ulFlags = BrowseFlags(Options) | (statusText_.empty() ? 0 : BIF_STATUSTEXT);
    info.lpfn = &TStCustomBrowser::BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(this);
    pendingError_ = nullptr;

    selection_.reset(::SHBrowseForFolderA(&info));
    dialog_ = nullptr;
    postedStatus_.clear();
    if (pendingError_) std::rethrow_exception(std::exchange(pendingError_, nullptr));

    if (!selection_) {
        imageIndex_ = 0;
        return false;
    }
    char path[MAX_PATH] = {};
    folderPath_ = ::SHGetPathFromIDListA(selection_.get(), path) ? path : "";
    displayName_ = displayName;
    imageIndex_ = info.iImage;
    return true;
}

int CALLBACK TStCustomBrowser::BrowseCallback(HWND wnd, UINT msg, LPARAM lParam, LPARAM data) {
    auto* self = reinterpret_cast<TStCustomBrowser*>(data);
    try {
        if (msg == BFFM_INITIALIZED) self->DialogInitialized(wnd);
        else if (msg == BFFM_SELCHANGED && self->dialog_) self->SelectionChanged(reinterpret_cast<LPCITEMIDLIST>(lParam));
    } catch (...) {
        if (!self->pendingError_) self->pendingError_ = std::current_exception();
        ::PostMessageA(wnd, WM_COMMAND, IDCANCEL, 0);
    }
    return 0;
}

void TStCustomBrowser::DialogInitialized(HWND wnd) {
    dialog_ = wnd;
    if (!Caption.empty()) ::SetWindowTextA(wnd, Caption.c_str());
    ::SendMessageA(wnd, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(selectedFolder_.c_str()));
    if (!statusText_.empty()) ::SendMessageA(wnd, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(statusText_.c_str()));
    if (Position == bpScreenCenter) CenterDialog();
    DoShow();
}

void TStCustomBrowser::CenterDialog() {
    RECT r;
    if (!::GetWindowRect(dialog_, &r)) return;
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const int x = ::GetSystemMetrics(SM_CXSCREEN) / 2 - w / 2;
    const int y = ::GetSystemMetrics(SM_CYSCREEN) / 2 - h / 2;
    ::SetWindowPos(dialog_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TStCustomBrowser::SelectionChanged(LPCITEMIDLIST pidl) {
    char path[MAX_PATH] = {};
    SetSelectedFolder(pidl && ::SHGetPathFromIDListA(pidl, path) ? path : "");
    DoSelChanged();
}

} // namespace krv
