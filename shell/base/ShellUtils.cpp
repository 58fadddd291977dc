#include "shell/base/ShellUtils.h"
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/ShellClipFormats.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include <cstring>
#include <mutex>

namespace krv {

TNamespace* DesktopFolder = nullptr;
TNamespace* RecycleBinFolder = nullptr;
TNamespace* DesktopDirectoryFolder = nullptr;
TNamespace* DrivesFolder = nullptr;
TNamespace* PrintersFolder = nullptr;
TNamespace* HistoryFolder = nullptr;
TNamespace* ControlPanelFolder = nullptr;
TNamespace* NetworkFolder = nullptr;
TNamespace* TemplatesFolder = nullptr;
TNamespace* MyDocumentsFolder = nullptr;
TNamespace* FavoritesFolder = nullptr;

const TSpecialFolderSlot SpecialFolderSlots[11] = {
    {&DesktopFolder, CSIDL_DESKTOP},           {&RecycleBinFolder, CSIDL_BITBUCKET},
    {&DesktopDirectoryFolder, CSIDL_DESKTOPDIRECTORY}, {&DrivesFolder, CSIDL_DRIVES},
    {&PrintersFolder, CSIDL_PRINTERS},         {&HistoryFolder, CSIDL_HISTORY},
    {&ControlPanelFolder, CSIDL_CONTROLS},     {&NetworkFolder, CSIDL_NETWORK},
    {&TemplatesFolder, CSIDL_TEMPLATES},       {&MyDocumentsFolder, CSIDL_PERSONAL},
    {&FavoritesFolder, CSIDL_FAVORITES},
};

namespace {
std::mutex g_startLock;
int g_startCount = 0;
void DeleteNamespace(TNamespace* ns) { delete ns; }
TSpecialNamespaceMaker g_make = CreateSpecialNamespace;
TNamespaceDisposer g_dispose = DeleteNamespace;

DWORD_PTR ShellFileInfo(const std::wstring& name, DWORD attributes, UINT flags, int& icon) {
    icon = -1;
    if (auto info = WideFunctions().SHGetFileInfoW) {
        SHFILEINFOW fi{};
        DWORD_PTR r = info(name.c_str(), attributes, &fi, sizeof fi, flags);
        if (r) icon = fi.iIcon;
        return r;
    }
    SHFILEINFOA fi{};
    DWORD_PTR r = ::SHGetFileInfoA(WideToAnsi(name).c_str(), attributes, &fi, sizeof fi, flags);
    if (r) icon = fi.iIcon;
    return r;
}

int DocumentsIconIndex() {
    if (!DesktopFolder) return SystemIconIndex(0);
    LPITEMIDLIST pidl = PathToPIDL(L"::{450d8fba-ad25-11d0-98a8-0800361b1103}");
    if (!pidl) return SystemIconIndex(0);
    TNamespace documents(pidl, nullptr);
    return documents.GetIconIndex(false, 0, true);
}

void FreeSpecialFolders() {
    for (const auto& slot : SpecialFolderSlots) {
        TNamespace* ns = *slot.Global;
        *slot.Global = nullptr;
        if (ns) g_dispose(ns);
    }
}
} // namespace

namespace {
bool IsDrivePath(const std::wstring& path) { return path.size() >= 3 && path[1] == L':' && path[2] == L'\\'; }
bool IsSharePath(const std::wstring& path) {
    return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?';
}

// A name the shell's parse would read otherwise than it stands: it drops a
// final dot or blank, as the system does with a typed path.
bool ParseFolds(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && (name.back() == L'.' || name.back() == L' ');
}

LPITEMIDLIST ParseFromDesktop(const std::wstring& path) {
    ComPtr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put())) || !desktop) return nullptr;
    std::wstring name = path;   // the call takes a writable buffer
    ULONG eaten = 0, attributes = 0;
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, name.data(), &eaten, &pidl, &attributes))) {
        PIDLPtr drop(pidl);
        return nullptr;
    }
    return pidl;
}

// Each item of a folder (its subfolders only with foldersOnly) with its name
// in the folder; fn answers false to stop.
template <class F> void ForEachItem(IShellFolder* folder, bool foldersOnly, F&& fn) {
    ComPtr<IEnumIDList> items;
    const SHCONTF flags = SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN | (foldersOnly ? 0 : SHCONTF_NONFOLDERS);
    if (folder->EnumObjects(nullptr, flags, items.put()) != S_OK || !items) return;
    for (;;) {
        PIDLPtr child;
        ULONG fetched = 0;
        if (items->Next(1, child.put(), &fetched) != S_OK || fetched != 1) return;
        STRRET text{};
        if (FAILED(folder->GetDisplayNameOf(child.get(), SHGDN_INFOLDER | SHGDN_FORPARSING, &text))) continue;
        if (!fn(StrRetToStr(text, child.get()), child)) return;
    }
}

// The list of a path of real names (EntryPath's): the shell parses it, except
// from the first name it would read otherwise on, where each name is the item
// of exactly that name in its folder's listing.
LPITEMIDLIST EntryPathToPIDL(const std::wstring& path) {
    if (!IsDrivePath(path) && !IsSharePath(path)) return ParseFromDesktop(path);
    size_t start = IsDrivePath(path) ? 3 : path.find(L'\\', path.find(L'\\', 2) + 1) + 1;
    if (start == 0) return ParseFromDesktop(path);
    std::vector<std::wstring> names;
    size_t folded = std::wstring::npos;
    for (size_t at = start; at < path.size();) {
        size_t end = path.find(L'\\', at);
        if (end == std::wstring::npos) end = path.size();
        if (end > at) {
            if (folded == std::wstring::npos && ParseFolds(path.substr(at, end - at))) folded = at;
            if (folded != std::wstring::npos) names.push_back(path.substr(at, end - at));
        }
        at = end + 1;
    }
    if (folded == std::wstring::npos) return ParseFromDesktop(path);
    PIDLPtr pidl(ParseFromDesktop(path.substr(0, folded)));
    for (const std::wstring& name : names) {
        ComPtr<IShellFolder> folder = pidl ? BindFolderOfPIDL(pidl.get()) : nullptr;
        if (!folder) return nullptr;
        PIDLPtr found;
        ForEachItem(folder.get(), false, [&](const std::wstring& itemName, PIDLPtr& child) {
            if (itemName != name) return true;
            found = std::move(child);
            return false;
        });
        if (!found) return nullptr;
        pidl.reset(PIDLManager()->AppendPIDL(pidl.get(), found.get()));
    }
    return pidl.release();
}
} // namespace

LPITEMIDLIST PathToPIDL(const std::wstring& path) {
    if (path.empty()) return nullptr;
    if (!IsDrivePath(path) && !IsSharePath(path)) return ParseFromDesktop(path);
    return EntryPathToPIDL(EntryPath(path));
}

LPITEMIDLIST TPathParser::Parse(const std::wstring& path) {
    const size_t cut = path.find_last_of(L'\\');
    if (!IsDrivePath(path) || path.size() <= 3 || cut < 3 || cut + 1 >= path.size()) return PathToPIDL(path);
    const std::wstring given = path.substr(cut + 1);
    if (given == L"." || given == L".." || given.find(L'/') != std::wstring::npos) return PathToPIDL(path);
    const std::wstring parentPath = path.substr(0, cut);
    if (parentPath != parentPath_ || !parent_) {
        parentPath_ = parentPath;
        parent_.reset();
        namesInParent_ = 0;
        listed_ = false;
        listing_.clear();
        parentEntry_ = EntryPath(parentPath);
        parentPIDL_.reset(EntryPathToPIDL(parentEntry_));
        if (parentPIDL_) parent_ = BindFolderOfPIDL(parentPIDL_.get());
        if (!parent_) return PathToPIDL(path);
    }
    // The entry the name stands for, by the one rule: a listed subfolder of
    // exactly that name, else what EntryName finds (folded only where no
    // entry has the name). One the shell's parse would read otherwise is
    // taken from the listing only.
    if (++namesInParent_ >= 2 || ParseFolds(given)) ListParent();
    if (LPCITEMIDLIST listed = Listed(given)) return PIDLManager()->AppendPIDL(parentPIDL_.get(), listed);
    std::wstring name = EntryName(parentEntry_, given, true);
    if (name.empty()) return PathToPIDL(path);
    if (name != given) {
        if (ParseFolds(name)) ListParent();
        if (LPCITEMIDLIST listed = Listed(name)) return PIDLManager()->AppendPIDL(parentPIDL_.get(), listed);
    }
    if (ParseFolds(name)) return PathToPIDL(path);
    ULONG eaten = 0, attributes = 0;
    LPITEMIDLIST relative = nullptr;
    if (FAILED(parent_->ParseDisplayName(nullptr, nullptr, name.data(), &eaten, &relative, &attributes)) ||
        !relative) {
        PIDLPtr drop(relative);
        return PathToPIDL(path);
    }
    PIDLPtr one(relative);
    return PIDLManager()->AppendPIDL(parentPIDL_.get(), one.get());
}

void TPathParser::ListParent() {
    if (listed_) return;
    listed_ = true;
    ForEachItem(parent_.get(), true, [this](const std::wstring& itemName, PIDLPtr& child) {
        listing_.emplace(itemName, std::move(child));
        return true;
    });
}

LPCITEMIDLIST TPathParser::Listed(const std::wstring& name) const {
    auto found = listing_.find(name);
    return found != listing_.end() ? found->second.get() : nullptr;
}

ComPtr<IShellFolder> BindFolderOfPIDL(LPCITEMIDLIST folderPIDL) {
    ComPtr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put())) || !desktop) return nullptr;
    if (!folderPIDL || TPIDLManager::IsDesktopFolder(folderPIDL)) return desktop;
    ComPtr<IShellFolder> folder;
    if (FAILED(desktop->BindToObject(folderPIDL, nullptr, IID_IShellFolder, folder.put_void()))) return nullptr;
    return folder;
}

std::wstring DisplayNameOfPIDL(LPCITEMIDLIST pidl, DWORD flags) {
    if (!pidl) return std::wstring();
    ComPtr<IShellFolder> parent;
    LPCITEMIDLIST last = nullptr;
    if (TPIDLManager::IsDesktopFolder(pidl)) {
        if (FAILED(::SHGetDesktopFolder(parent.put()))) return std::wstring();
        last = pidl;
    } else if (FAILED(::SHBindToParent(pidl, IID_IShellFolder, parent.put_void(), &last))) {
        return std::wstring();
    }
    if (!parent) return std::wstring();
    STRRET name{};
    if (FAILED(parent->GetDisplayNameOf(last, flags, &name))) return std::wstring();
    return StrRetToStr(name, last);
}

std::wstring PIDLToPath(LPCITEMIDLIST pidl) {
    if (!pidl) {
        wchar_t buf[MAX_PATH] = {};
        if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, buf))) return std::wstring();
        return buf;
    }
    return DisplayNameOfPIDL(pidl, SHGDN_FORPARSING);
}

LPITEMIDLIST SpecialFolderPIDL(int csidl) {
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, csidl, &pidl))) {
        PIDLPtr drop(pidl);
        return nullptr;
    }
    return pidl;
}

bool IsFileTimeSet(const FILETIME& ft) { return ft.dwLowDateTime != 0 || ft.dwHighDateTime != 0; }

std::wstring FileTimeToLocalText(const FILETIME& ft) {
    if (!IsFileTimeSet(ft)) return std::wstring();
    FILETIME local;
    SYSTEMTIME st;
    if (!::FileTimeToLocalFileTime(&ft, &local) || !::FileTimeToSystemTime(&local, &st)) return std::wstring();
    wchar_t date[128], time[128];
    if (!::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128)) return std::wstring();
    if (!::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128)) return std::wstring();
    return std::wstring(date) + L" " + time;
}

int SystemIconIndex(int kind) {
    int icon = -1;
    switch (kind) {
    case 0:
        ShellFileInfo(L"*.*", FILE_ATTRIBUTE_DIRECTORY, 0x4014, icon);
        return icon;
    case 1:
        ShellFileInfo(L"*.*", FILE_ATTRIBUTE_DIRECTORY, 0x4016, icon);
        return icon;
    case 2:
        ShellFileInfo(L"*.zyxwv", FILE_ATTRIBUTE_NORMAL, 0x4014, icon);
        return icon;
    case 3:
        return 29;
    case 4:
        return DocumentsIconIndex();
    default:
        return -1;
    }
}

HWND ApplicationWindow() {
    TForm* main = Application().MainForm;
    return main && main->HandleAllocated() ? main->Handle() : nullptr;
}

BOOL FileIconInit() {
    if (!IsWinNT()) return 0;
    using TFileIconInit = BOOL(WINAPI*)(BOOL);
    auto fn = reinterpret_cast<TFileIconInit>(reinterpret_cast<void*>(ResolveProc("shell32.dll", MAKEINTRESOURCEA(660))));
    return fn ? fn(TRUE) : 0;
}

namespace {
const wchar_t* const WindowMetricsKey = L"Control Panel\\Desktop\\WindowMetrics";
const wchar_t* const ShellIconSizeValue = L"Shell Icon Size";

void WriteIconSize(HKEY key, int size) {
    std::wstring text = std::to_wstring(size);
    ::RegSetValueExW(key, ShellIconSizeValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     DWORD((text.size() + 1) * sizeof(wchar_t)));
}
} // namespace

bool RebuildShellIconCache(const std::function<void()>& reinit) {
    HKEY raw = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, WindowMetricsKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                          &raw, nullptr) != ERROR_SUCCESS)
        return false;
    RegKeyHandle key(raw);
    // The value as it is, to be put back byte for byte.
    DWORD type = 0, bytes = 0;
    bool present = ::RegQueryValueExW(key.get(), ShellIconSizeValue, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS;
    std::vector<BYTE> saved(bytes + sizeof(wchar_t), 0);
    if (present && ::RegQueryValueExW(key.get(), ShellIconSizeValue, nullptr, &type, saved.data(), &bytes) != ERROR_SUCCESS)
        present = false;
    int size = ::GetSystemMetrics(SM_CXICON);
    if (present && type == REG_SZ) size = _wtoi(reinterpret_cast<const wchar_t*>(saved.data()));
    else if (present && type == REG_DWORD && bytes >= 4) std::memcpy(&size, saved.data(), 4);
    if (size <= 0) size = ::GetSystemMetrics(SM_CXICON);
    WriteIconSize(key.get(), size + 1);
    reinit();
    if (present) ::RegSetValueExW(key.get(), ShellIconSizeValue, 0, type, saved.data(), bytes);
    else ::RegDeleteValueW(key.get(), ShellIconSizeValue);
    reinit();
    return true;
}

void BroadcastIconMetricsChange() {
    DWORD_PTR answer = 0;
    // Bounded: a window that does not answer must not stop the tree.
    ::SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS,
                          reinterpret_cast<LPARAM>(L"WindowMetrics"), SMTO_ABORTIFHUNG, 2000, &answer);
    FileIconInit();
}

bool GetDriveClusterInfo9x(const std::wstring& root, DWORD& sectorsPerCluster, DWORD& bytesPerSector,
                           DWORD& freeClusters, DWORD& totalClusters) {
    struct TDiocRegisters {
        DWORD EBX, EDX, ECX, EAX, EDI, ESI, Flags;
    };
    static_assert(sizeof(TDiocRegisters) == 28, "the device expects 28 bytes");
    FileHandle device(::CreateFileA("\\\\.\\vwin32", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!device) return false;
    std::string rootA = WideToAnsi(root);
    uint8_t result[44] = {};
    TDiocRegisters regs{};
    regs.EAX = 0x7303;
    regs.EDX = reinterpret_cast<DWORD>(rootA.c_str());
    regs.EDI = reinterpret_cast<DWORD>(result);
    regs.ECX = sizeof result;
    regs.Flags = 1;   // carry set: the call clears it on success
    DWORD got = 0;
    if (!::DeviceIoControl(device.get(), 6, &regs, sizeof regs, &regs, sizeof regs, &got, nullptr)) return false;
    if (regs.Flags & 1) return false;
    std::memcpy(&sectorsPerCluster, result + 4, 4);
    std::memcpy(&bytesPerSector, result + 8, 4);
    std::memcpy(&freeClusters, result + 12, 4);
    std::memcpy(&totalClusters, result + 16, 4);
    return true;
}

void SetSpecialNamespaceHooks(TSpecialNamespaceMaker make, TNamespaceDisposer dispose) {
    std::lock_guard<std::mutex> lock(g_startLock);
    g_make = make ? make : CreateSpecialNamespace;
    g_dispose = dispose ? dispose : DeleteNamespace;
}

void StartShellUtilities() {
    std::lock_guard<std::mutex> lock(g_startLock);
    if (g_startCount++ > 0) return;
    FileIconInit();
    if (!LoadShellEntryPoints()) HaltMissingShellEntryPoints();
    PIDLManager();
    RegisterShellClipFormats();
    for (const auto& slot : SpecialFolderSlots) *slot.Global = g_make(slot.CSIDL);
}

void StopShellUtilities() {
    std::lock_guard<std::mutex> lock(g_startLock);
    if (g_startCount == 0 || --g_startCount > 0) return;
    FreeSpecialFolders();
}

} // namespace krv
