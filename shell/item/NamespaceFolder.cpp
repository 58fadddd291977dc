// The shell item as a folder: its children, whether it has any, its size,
// and comparing an item with another of the same folder.
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/WideFileUtils.h"

namespace krv {

bool TNamespace::EnumHasItems(DWORD flags) {
    if (IsRecycleBin()) return true;
    if (!Folder()) return false;
    IShellFolder* folder = ShellFolder();
    if (!folder) return false;
    ComPtr<IEnumIDList> items;
    if (folder->EnumObjects(nullptr, flags, items.put()) != S_OK || !items) return false;
    PIDLPtr first;
    ULONG fetched = 0;
    return items->Next(1, first.put(), &fetched) == S_OK;
}

bool TNamespace::SubItems() { return EnumHasItems(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN); }

int64_t TNamespace::FolderSize(bool invalidate, bool recurse) {
    if (invalidate || !(validMask_ & vmFolderSize)) {
        // The desktop is a virtual root, whatever attributes the shell gives it.
        if (!IsDesktop() && Folder() && FileSystem()) folderSizeCache_ = static_cast<int64_t>(CalcFolderSize(NameForParsing(), recurse));
        validMask_ |= vmFolderSize;
    }
    return folderSizeCache_;
}

int TNamespace::EnumerateFolder(bool folders, bool nonFolders, bool includeHidden, const TEnumFolderCallback& callback,
                                void* userData) {
    TErrorModeScope quiet(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    IShellFolder* folder = ShellFolder();
    if (!folder || !callback) return 0;
    DWORD flags = (folders ? SHCONTF_FOLDERS : 0) | (nonFolders ? SHCONTF_NONFOLDERS : 0) |
                  (includeHidden ? SHCONTF_INCLUDEHIDDEN : 0);
    ComPtr<IEnumIDList> items;
    if (folder->EnumObjects(nullptr, flags, items.put()) != S_OK || !items) return 0;
    TPIDLManager* manager = PIDLManager();
    IMalloc* m = manager ? manager->Malloc() : nullptr;
    int count = 0;
    bool terminate = false;
    while (!terminate) {
        LPITEMIDLIST child = nullptr;
        ULONG fetched = 0;
        if (items->Next(1, &child, &fetched) != S_OK || fetched != 1) {
            FreePIDL(child);
            break;
        }
        // A child that is not one terminated list in its block is never handed on.
        if (!IsValidAllocatedPIDL(child, m)) {
            if (child && m && m->DidAlloc(child) == 1) FreePIDL(child);
            continue;
        }
        if (callback(child, this, userData, terminate)) ++count;
    }
    return count;
}

int TNamespace::ComparePIDL(LPCITEMIDLIST pidl, int column) {
    if (!pidl) return -1;
    IShellFolder* folder = ParentShellFolder();
    if (!folder) return 0;
    HRESULT hr = folder->CompareIDs(static_cast<LPARAM>(column), TPIDLManager::GetPointerToLastID(pidl), relativePIDL_);
    // The order is in the code's low word; a failure is never "the same".
    return SUCCEEDED(hr) ? static_cast<short>(HRESULT_CODE(hr)) : static_cast<int>(hr);
}

} // namespace krv
