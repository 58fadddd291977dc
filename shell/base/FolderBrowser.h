// The shell's folder-browse dialog as a component: preset SelectedFolder,
// call Execute, read FolderPath. Also the directory test the program uses to
// validate folders typed by the user.
#pragma once
#include "framework/Classes.h"
#include "framework/Handle.h"
#include "shell/base/ShVersionInfo.h"
#include <shlobj.h>
#include <exception>
#include <functional>
#include <list>
#include <string>

namespace krv {

// True when the attributes of path can be read and include the directory flag.
bool IsDirectory(const std::string& path);

class TShComponent : public TComponent {
public:
    using TComponent::TComponent;
    std::string Version() const { return "1.02"; }
    void SetVersion(const std::string&) {}
};

// Knows the version of the system's shell library (major.minor).
class TShShellComponent : public TShComponent {
public:
    explicit TShShellComponent(TComponent* owner = nullptr);
    double ShellVersion() const { return shellVersion_; }

    // Where components made from now on learn the shell's version; tests give
    // an old number to see the refusals. An empty source restores the default
    // (the "FileVersion" of shell32.dll in the system folder).
    using VersionSource = std::function<double()>;
    static void SetShellVersionSource(VersionSource source);
    static double SystemShellVersion();

private:
    double shellVersion_ = 0;
};

enum TFolderBrowseOption : unsigned {
    boBrowseForComputer = 1u << 0,
    boBrowseForPrinter = 1u << 1,
    boDontGoBelowDomain = 1u << 2,
    boReturnOnlyAncestors = 1u << 3,
    boReturnOnlyDirs = 1u << 4,
    boShowFiles = 1u << 5,
    boEditBox = 1u << 6,
};
using TFolderBrowseOptions = unsigned;   // TFolderBrowseOption bits

enum TFolderBrowsePosition { bpDefault, bpScreenCenter };

enum TStSpecialRootFolder {
    sfAltStartup, sfAppData, sfBitBucket, sfCommonAltStartup, sfCommonDesktopDir, sfCommonFavorites,
    sfCommonPrograms, sfCommonStartMenu, sfCommonStartup, sfConnections, sfControls, sfCookies, sfDesktop,
    sfDesktopDir, sfDrives, sfFavorites, sfFonts, sfHistory, sfInternet, sfInternetCache, sfNetHood, sfNetwork,
    sfNone, sfPersonal, sfPrinters, sfPrintHood, sfPrograms, sfRecentFiles, sfSendTo, sfStartMenu, sfStartup,
    sfTemplates
};
// The shell folder number (CSIDL) of a special root; 0 for sfNone.
int SpecialFolderId(TStSpecialRootFolder folder);
// The BIF_ flags of an option set (the status-text flag is added by Execute).
UINT BrowseFlags(TFolderBrowseOptions options);

class TStCustomBrowser : public TShShellComponent {
public:
    explicit TStCustomBrowser(TComponent* owner = nullptr);
    ~TStCustomBrowser() override;

    std::string AdditionalText;
    std::string Caption;
    TFolderBrowseOptions Options = boReturnOnlyDirs;
    TFolderBrowsePosition Position = bpScreenCenter;
    std::string RootFolder;

    const std::string& SelectedFolder() const { return selectedFolder_; }
    // One trailing "\" is dropped, except from a drive root such as "C:\".
    void SetSelectedFolder(const std::string& folder);
    const std::string& StatusText() const { return statusText_; }
    void SetStatusText(const std::string& text);
    TStSpecialRootFolder SpecialRootFolder() const { return specialRoot_; }
    // Roots that need a newer shell raise EShShellError 110.
    void SetSpecialRootFolder(TStSpecialRootFolder folder);
    int SpecialRootFolderID() const { return specialRootId_; }

    std::function<void(TObject* sender)> OnShow;
    std::function<void(TObject* sender)> OnSelChanged;

    const std::string& FolderPath() const { return folderPath_; }
    const std::string& DisplayName() const { return displayName_; }
    int ImageIndex() const { return imageIndex_; }
    // The dialog's window while it is open, else null.
    HWND DialogHandle() const { return dialog_; }

    // Shows the dialog modally; true when the user chose a folder.
    bool Execute();

protected:
    virtual void DoShow();
    virtual void DoSelChanged();
    // The window the dialog belongs to.
    virtual HWND ParentWindow() const;

private:
    static int CALLBACK BrowseCallback(HWND wnd, UINT msg, LPARAM lParam, LPARAM data);
    void DialogInitialized(HWND wnd);
    void SelectionChanged(LPCITEMIDLIST pidl);
    void CenterDialog();

    std::string selectedFolder_;
    std::string statusText_;
    // Texts posted to the open dialog, kept until it has returned: the
    // message carries only a pointer, read when the dialog gets to it.
    std::list<std::string> postedStatus_;
    TStSpecialRootFolder specialRoot_ = sfNone;
    int specialRootId_ = 0;
    std::string folderPath_;
    std::string displayName_;
    int imageIndex_ = 0;
    HWND dialog_ = nullptr;
    CoTaskMem<ITEMIDLIST> selection_;
    // An event handler's failure waits here until the dialog has returned:
    // it must not unwind through the shell's code.
    std::exception_ptr pendingError_;
};

class TFolderBrowser : public TStCustomBrowser {
public:
    using TStCustomBrowser::TStCustomBrowser;
};

} // namespace krv
