// Shell utility routines: paths to item identifier lists and back, the
// special folders, file times as text, standard icon indexes, Windows 9x
// drive geometry, and the start-up of the shell components.
#pragma once
#include <functional>
#include "framework/Handle.h"
#include "shell/item/Namespace.h"
#include "shell/base/PIDLTools.h"
#include <windows.h>
#include <shlobj.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace krv {

// The absolute list of a path or parse name, or nil (an empty path gives nil:
// the shell would answer My Computer). A drive or share path is the item of
// the entries it names by EntryPath's rule (exact names first), not what the
// shell's own parse makes of it (which drops final dots and blanks). The
// caller owns the list.
LPITEMIDLIST PathToPIDL(const std::wstring& path);
// Parses many paths in a row, as PathToPIDL does: the folder of the last
// path's parent is kept, so that each further path of that folder costs one
// parse of its last name instead of a walk from the desktop. Drive paths
// only; anything else, or a name the folder does not parse, goes the long
// way. From the second name of one folder on, the folder's subfolders are
// listed once and a name found there costs no call at all (a parse asks the
// file system each time; the walks that follow a parse enumerate the folder
// anyway). For one bulk operation: a parent renamed, or a folder made, while
// the parser lives is not noticed (a name not listed is still parsed).
class TPathParser {
public:
    LPITEMIDLIST Parse(const std::wstring& path);   // the caller owns the list

private:
    // The parent's subfolders, listed once.
    void ListParent();
    // The listed identifier of a subfolder of the parent by its exact name, or nil.
    LPCITEMIDLIST Listed(const std::wstring& name) const;
    std::wstring parentPath_;
    std::wstring parentEntry_;   // the parent's path by EntryPath
    bool listed_ = false;
    PIDLPtr parentPIDL_;
    ComPtr<IShellFolder> parent_;
    int namesInParent_ = 0;
    std::unordered_map<std::wstring, PIDLPtr> listing_;
};
// The folder of an absolute list, bound from the desktop (the desktop itself
// for nil or the empty list); nil when it cannot be bound.
ComPtr<IShellFolder> BindFolderOfPIDL(LPCITEMIDLIST folderPIDL);
// The parse name of an absolute list (a file system path where there is one);
// nil gives the desktop directory's path. The list stays the caller's.
std::wstring PIDLToPath(LPCITEMIDLIST pidl);
// The display name of an absolute list as its parent folder gives it (flags SHGDN_...).
std::wstring DisplayNameOfPIDL(LPCITEMIDLIST pidl, DWORD flags);

// The absolute list of a special folder (CSIDL_...), nil when the system has none.
LPITEMIDLIST SpecialFolderPIDL(int csidl);

bool IsFileTimeSet(const FILETIME& ft);
// Local date and time in the user's default format; empty when not set or on failure.
std::wstring FileTimeToLocalText(const FILETIME& ft);

// 0 closed folder, 1 open folder, 2 unknown file type, 3 fixed index 29,
// 4 the documents item; -1 for any other kind.
int SystemIconIndex(int kind);
// On the NT family: tells the shell to fill the full system image list. Its answer, or 0.
BOOL FileIconInit();
// The window that owns what the shell shows for the program: the main form's, else none.
HWND ApplicationWindow();
// Makes the shell build its system icon list anew: the user's shell icon size
// (when unset, the system icon width) is written one pixel larger and then
// back, reinit running after each write. The value is left as it was (also
// when it was unset). False when the user's metrics key cannot be opened.
bool RebuildShellIconCache(const std::function<void()>& reinit);
// Tells the windows that the icon metrics changed, and re-initialises the icon cache.
void BroadcastIconMetricsChange();

// Windows 95 OSR2/98/Me drive geometry through the vwin32 device.
bool GetDriveClusterInfo9x(const std::wstring& root, DWORD& sectorsPerCluster, DWORD& bytesPerSector,
                           DWORD& freeClusters, DWORD& totalClusters);

// Lent lists of a set of items.
template <class NS> std::vector<LPITEMIDLIST> NamespacesToRelativePIDLs(const std::vector<NS*>& items) {
    std::vector<LPITEMIDLIST> r;
    for (NS* ns : items) r.push_back(ns->RelativePIDL());
    return r;
}
template <class NS> std::vector<LPITEMIDLIST> NamespacesToAbsolutePIDLs(const std::vector<NS*>& items) {
    std::vector<LPITEMIDLIST> r;
    for (NS* ns : items) r.push_back(ns->AbsolutePIDL());
    return r;
}
template <class NS> bool AnyNamespace(const std::vector<NS*>& items) { return !items.empty(); }
template <class NS> bool AllCanDelete(const std::vector<NS*>& items) {
    if (items.empty()) return false;
    for (NS* ns : items)
        if (!ns->CanDelete()) return false;
    return true;
}
template <class NS> bool AllHavePropSheet(const std::vector<NS*>& items) {
    if (items.empty()) return false;
    for (NS* ns : items)
        if (!ns->HasPropSheet()) return false;
    return true;
}

// The special-folder items, made at start in this order; nil where the system
// has no such folder.
extern TNamespace* DesktopFolder;
extern TNamespace* RecycleBinFolder;
extern TNamespace* DesktopDirectoryFolder;
extern TNamespace* DrivesFolder;
extern TNamespace* PrintersFolder;
extern TNamespace* HistoryFolder;
extern TNamespace* ControlPanelFolder;
extern TNamespace* NetworkFolder;
extern TNamespace* TemplatesFolder;
extern TNamespace* MyDocumentsFolder;
extern TNamespace* FavoritesFolder;

struct TSpecialFolderSlot {
    TNamespace** Global;
    int CSIDL;
};
// The eleven special folders in the order they are made.
extern const TSpecialFolderSlot SpecialFolderSlots[11];

// How the start-up makes an item over a special folder and frees it; by
// default CreateSpecialNamespace and delete (nil restores them).
using TSpecialNamespaceMaker = TNamespace* (*)(int csidl);
using TNamespaceDisposer = void (*)(TNamespace* ns);
void SetSpecialNamespaceHooks(TSpecialNamespaceMaker make, TNamespaceDisposer dispose);

// Start-up of the shell components (counted: the first start does the work,
// the last stop undoes it): the full system image list, the ordinal entry
// points (missing ones end the program with a message and a non-zero exit
// code), the allocator, the clipboard formats, the special-folder items.
void StartShellUtilities();
void StopShellUtilities();

class TShellUtilitiesScope {
public:
    TShellUtilitiesScope() { StartShellUtilities(); }
    ~TShellUtilitiesScope() { StopShellUtilities(); }
    TShellUtilitiesScope(const TShellUtilitiesScope&) = delete;
    TShellUtilitiesScope& operator=(const TShellUtilitiesScope&) = delete;
};

} // namespace krv
