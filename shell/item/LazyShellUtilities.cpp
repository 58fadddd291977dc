// The shell item: its lists, its parent chain, the interfaces it keeps,
// attributes and names, and the special-folder tests.
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideStrUtils.h"
#include <cstring>
#include <utility>

namespace krv {

bool IsValidAllocatedPIDL(LPCITEMIDLIST pidl) {
    if (!pidl) return false;
    TPIDLManager* manager = PIDLManager();
    return manager && IsValidAllocatedPIDL(pidl, manager->Malloc());
}

bool IsValidAllocatedPIDL(LPCITEMIDLIST pidl, IMalloc* m) {
    if (!pidl || !m) return false;
    void* block = const_cast<ITEMIDLIST*>(pidl);
    if (m->DidAlloc(block) == 0) return false;
    SIZE_T size = m->GetSize(block);
    if (size == static_cast<SIZE_T>(-1) || size < 2) return false;
    // The terminator must lie inside the block; trailing room is allowed.
    const auto* p = reinterpret_cast<const uint8_t*>(pidl);
    SIZE_T at = 0;
    while (size - at >= 2) {
        uint16_t cb;
        std::memcpy(&cb, p + at, 2);
        if (cb == 0) return true;
        if (cb < 2 || cb > size - at) return false;
        at += cb;
    }
    return false;
}

TNamespace::TNamespace(LPITEMIDLIST pidl, TNamespace* parent)
    : flags_(nfFreePIDLOnDestroy | nfTryShellDetails | nfTryShellFolder2 | nfTryIconOverlay) {
    TPIDLManager* pm = PIDLManager();
    if (!pm) throw ELSTInvalidPIDL("The shell allocator is not available");
    if (pidl && !IsValidAllocatedPIDL(pidl)) {
        if (pm->Malloc()->DidAlloc(pidl) == 1) pm->FreePIDL(pidl);
        throw ELSTInvalidPIDL("Trying to create a TNamespace on a damaged item identifier list");
    }
    if (!parent) {
        if (!pidl) pidl = SpecialFolderPIDL(CSIDL_DESKTOP);
        if (!pidl) throw ELSTInvalidPIDL("The shell gives no desktop item");
        absolutePIDL_ = pidl;
        relativePIDL_ = TPIDLManager::IsDesktopFolder(pidl) ? pidl : TPIDLManager::GetPointerToLastID(pidl);
        return;
    }
    AttachChild(pidl, parent);
}

TNamespace::TNamespace(TEnumeratedChild child, TNamespace* parent)
    : flags_(nfFreePIDLOnDestroy | nfTryShellDetails | nfTryShellFolder2 | nfTryIconOverlay) {
    // Joined at once where no copy is saved, or where an empty list would make the item its parent.
    if (!parent || !child.PIDL || parent->IsDesktop() || TPIDLManager::IsDesktopFolder(child.PIDL)) {
        AttachChild(child.PIDL, parent);
        return;
    }
    parent_ = parent;
    childPIDL_ = child.PIDL;
    relativePIDL_ = TPIDLManager::GetPointerToLastID(child.PIDL);
}

void TNamespace::AttachChild(LPITEMIDLIST pidl, TNamespace* parent) {
    PIDLPtr child(pidl);
    if (!parent) throw ELSTInvalidPIDL("Trying to create a TNamespace child without a parent");
    if (!pidl) throw ELSTInvalidPIDL("Trying to create a TNamespace child without an item identifier list");
    parent_ = parent;
    if (parent->IsDesktop()) {
        absolutePIDL_ = relativePIDL_ = child.release();
        return;
    }
    absolutePIDL_ = PIDLManager()->AppendPIDL(parent->AbsolutePIDL(), pidl);
    if (!absolutePIDL_) throw ELSTInvalidPIDL("Out of memory joining item identifier lists");
    relativePIDL_ = TPIDLManager::GetPointerToLastID(absolutePIDL_);
}

void TNamespace::ReplaceParent(TNamespace* parent) {
    FreeOwnedParent();
    parent_ = parent;
}

LPITEMIDLIST TNamespace::JoinChildPIDL() const {
    absolutePIDL_ = PIDLManager()->AppendPIDL(parent_->AbsolutePIDL(), childPIDL_);
    if (!absolutePIDL_) throw ELSTInvalidPIDL("Out of memory joining item identifier lists");
    return absolutePIDL_;
}

std::unique_ptr<TNamespace> TNamespace::CreateFromFileName(const std::wstring& path) {
    LPITEMIDLIST pidl = PathToPIDL(path);
    if (!pidl) throw ELSTInvalidFileName("Trying to create a TNamespace on a non existant File object");
    return std::make_unique<TNamespace>(pidl, nullptr);
}

TNamespace::~TNamespace() {
    FreeOwnedParent();
    if (FreePIDLOnDestroy()) FreePIDL(absolutePIDL_);
    FreePIDL(childPIDL_);
}

std::unique_ptr<TNamespace> TNamespace::Clone(bool freePIDLOnDestroy) {
    auto copy = std::make_unique<TNamespace>(PIDLManager()->CopyPIDL(AbsolutePIDL()), nullptr);
    copy->SetFreePIDLOnDestroy(freePIDLOnDestroy);
    return copy;
}

void TNamespace::FreeOwnedParent() {
    if (flags_ & nfOwnsParent) {
        delete parent_;
        parent_ = nullptr;
        flags_ &= ~nfOwnsParent;
    }
}

void TNamespace::ReplaceAbsolutePIDL(LPITEMIDLIST pidl) {
    if (FreePIDLOnDestroy()) FreePIDL(absolutePIDL_);
    absolutePIDL_ = pidl;
    flags_ |= nfFreePIDLOnDestroy;
    bool underDesktop = TPIDLManager::IDCount(pidl) <= 1;
    relativePIDL_ = underDesktop ? pidl : TPIDLManager::GetPointerToLastID(pidl);
    FreePIDL(std::exchange(childPIDL_, nullptr));
}

// --- shell access ---

IShellFolder* TNamespace::ShellFolder() {
    if (!shellFolder_) {
        if (IsDesktop()) {
            ::SHGetDesktopFolder(shellFolder_.put());
        } else if (IShellFolder* parent = ParentShellFolder()) {
            parent->BindToObject(relativePIDL_, nullptr, IID_IShellFolder, shellFolder_.put_void());
        }
    }
    return shellFolder_.get();
}

IShellFolder* TNamespace::ParentShellFolder() {
    if (parent_) return parent_->ShellFolder();
    if (IsDesktop()) return ShellFolder();
    LPITEMIDLIST up = PIDLManager()->CopyPIDL(AbsolutePIDL());
    if (!up) return nullptr;
    TPIDLManager::StripLastID(up);
    parent_ = new TNamespace(up, nullptr);
    flags_ |= nfOwnsParent;
    return parent_->ShellFolder();
}

IShellFolder2* TNamespace::ShellFolder2() {
    if (!shellFolder2_ && (flags_ & nfTryShellFolder2)) {
        IShellFolder* folder = ShellFolder();
        if (!folder) return nullptr;
        if (folder->QueryInterface(IID_IShellFolder2, shellFolder2_.put_void()) == E_NOINTERFACE)
            flags_ &= ~nfTryShellFolder2;
    }
    return shellFolder2_.get();
}

IShellDetails* TNamespace::ShellDetails() {
    if (!shellDetails_ && (flags_ & nfTryShellDetails)) {
        IShellFolder* folder = ShellFolder();
        if (!folder || FAILED(folder->CreateViewObject(nullptr, IID_IShellDetails, shellDetails_.put_void())) ||
            !shellDetails_) {
            IShellFolder* parent = ParentShellFolder();
            LPCITEMIDLIST one = relativePIDL_;
            if (!parent || FAILED(parent->GetUIObjectOf(nullptr, 1, &one, IID_IShellDetails, nullptr,
                                                        shellDetails_.put_void())) || !shellDetails_) {
                shellDetails_.reset();
                flags_ &= ~nfTryShellDetails;
            }
        }
    }
    return shellDetails_.get();
}

IShellIcon* TNamespace::ShellIcon() {
    if (!shellIcon_) {
        if (IShellFolder* parent = ParentShellFolder()) parent->QueryInterface(IID_IShellIcon, shellIcon_.put_void());
    }
    return shellIcon_.get();
}

IShellIconOverlay* TNamespace::ShellIconOverlay() {
    if (!shellIconOverlay_ && (flags_ & nfTryIconOverlay)) {
        HRESULT own = E_NOINTERFACE, up = E_NOINTERFACE;
        if (IShellFolder* folder = ShellFolder())
            own = folder->QueryInterface(IID_IShellIconOverlay, shellIconOverlay_.put_void());
        if (!shellIconOverlay_) {
            if (IShellFolder* parent = ParentShellFolder())
                up = parent->QueryInterface(IID_IShellIconOverlay, shellIconOverlay_.put_void());
        }
        if (!shellIconOverlay_ && own == E_NOINTERFACE && up == E_NOINTERFACE) flags_ &= ~nfTryIconOverlay;
    }
    return shellIconOverlay_.get();
}

IQueryInfo* TNamespace::QueryInfo() {
    if (!queryInfo_) {
        LPCITEMIDLIST one = relativePIDL_;
        IShellFolder* parent = ParentShellFolder();
        if (!parent ||
            FAILED(parent->GetUIObjectOf(nullptr, 1, &one, IID_IQueryInfo, nullptr, queryInfo_.put_void()))) {
            queryInfo_.reset();
            IShellFolder* folder = ShellFolder();
            if (!folder || FAILED(folder->CreateViewObject(nullptr, IID_IQueryInfo, queryInfo_.put_void()))) {
                queryInfo_.reset();
                if (IsDesktop() && DesktopDirectoryFolder && DesktopDirectoryFolder != this)
                    queryInfo_ = ComPtr<IQueryInfo>::Share(DesktopDirectoryFolder->QueryInfo());
            }
        }
    }
    return queryInfo_.get();
}

IDropTarget* TNamespace::DropTargetInterface() {
    if (!dropTarget_) {
        LPCITEMIDLIST one = relativePIDL_;
        IShellFolder* parent = ParentShellFolder();
        if (!parent ||
            FAILED(parent->GetUIObjectOf(nullptr, 1, &one, IID_IDropTarget, nullptr, dropTarget_.put_void()))) {
            dropTarget_.reset();
            if (IsDesktop() && DesktopDirectoryFolder && DesktopDirectoryFolder != this)
                dropTarget_ = ComPtr<IDropTarget>::Share(DesktopDirectoryFolder->DropTargetInterface());
        }
    }
    return dropTarget_.get();
}

// --- attributes ---

bool TNamespace::TestAttributesOf(ULONG mask, bool askFolderItself, bool validate) {
    IShellFolder* folder = ParentShellFolder();
    if (!folder) return false;
    ULONG flags = mask;
    if (validate || askFolderItself) flags |= SFGAO_VALIDATE;
    HRESULT hr;
    if (askFolderItself) {
        hr = folder->GetAttributesOf(0, nullptr, &flags);
    } else {
        LPCITEMIDLIST one = relativePIDL_;
        hr = folder->GetAttributesOf(1, &one, &flags);
    }
    return SUCCEEDED(hr) && (flags & mask) == mask;
}

bool TNamespace::CachedAttribute(uint32_t validBit, uint16_t valueBit, ULONG sfgao) {
    if (!(validMask_ & validBit)) {
        if (TestAttributesOf(sfgao, false)) attributeValues_ |= valueBit;
        else attributeValues_ &= ~valueBit;
        validMask_ |= validBit;
    }
    return attributeValues_ & valueBit;
}

bool TNamespace::FileSystem() { return CachedAttribute(vmFileSystem, 0x001, SFGAO_FILESYSTEM); }
bool TNamespace::Folder() { return CachedAttribute(vmFolder, 0x002, SFGAO_FOLDER); }
bool TNamespace::CanDelete() { return CachedAttribute(vmCanDelete, 0x004, SFGAO_CANDELETE); }
bool TNamespace::CanRename() { return CachedAttribute(vmCanRename, 0x008, SFGAO_CANRENAME); }
bool TNamespace::Ghosted() { return CachedAttribute(vmGhosted, 0x010, SFGAO_GHOSTED); }
bool TNamespace::CanCopy() { return CachedAttribute(vmCanCopy, 0x020, SFGAO_CANCOPY); }
bool TNamespace::CanMove() { return CachedAttribute(vmCanMove, 0x040, SFGAO_CANMOVE); }
bool TNamespace::CanLink() { return CachedAttribute(vmCanLink, 0x080, SFGAO_CANLINK); }
bool TNamespace::Link() { return CachedAttribute(vmLink, 0x100, SFGAO_LINK); }
bool TNamespace::FileSysAncestor() { return CachedAttribute(vmFileSysAncestor, 0x200, SFGAO_FILESYSANCESTOR); }

bool TNamespace::DropTarget() { return IsDesktop() || TestAttributesOf(SFGAO_DROPTARGET, false); }
bool TNamespace::HasPropSheet() { return TestAttributesOf(SFGAO_HASPROPSHEET, false); }
bool TNamespace::HasSubFolder() { return TestAttributesOf(SFGAO_HASSUBFOLDER, false); }
bool TNamespace::NewContent() { return TestAttributesOf(SFGAO_NEWCONTENT, false); }
bool TNamespace::NonEnumerated() { return TestAttributesOf(SFGAO_NONENUMERATED, false); }
bool TNamespace::ReadOnly() { return TestAttributesOf(SFGAO_READONLY, false); }
bool TNamespace::Removable() { return TestAttributesOf(SFGAO_REMOVABLE, false); }
bool TNamespace::Share() { return TestAttributesOf(SFGAO_SHARE, false); }

// --- names ---

std::wstring TNamespace::GetDisplayNameOf(DWORD flags) {
    IShellFolder* folder = ParentShellFolder();
    if (!folder) return std::wstring();
    STRRET name{};
    if (FAILED(folder->GetDisplayNameOf(relativePIDL_, flags, &name))) return std::wstring();
    return StrRetToStr(name, relativePIDL_);
}

template <class Make>
const std::wstring& TNamespace::CachedValue(uint32_t validBit, std::wstring& cache, Make make) {
    if (!(validMask_ & validBit)) {
        cache = make();
        validMask_ |= validBit;
    }
    return cache;
}

const std::wstring& TNamespace::CachedName(uint32_t validBit, std::wstring& cache, DWORD shgdn) {
    return CachedValue(validBit, cache, [&] { return GetDisplayNameOf(shgdn); });
}

std::wstring TNamespace::NameInFolder() {
    return CachedValue(vmNameInFolder, nameInFolder_, [this] { return ShownNameInFolder(); });
}

std::wstring TNamespace::ShownNameInFolder() {
    TShownNameRules* rules = parent_ ? parent_->ShownNameRules() : nullptr;
    if (rules) EnsureFindData();
    if (!rules || !findData_) return GetDisplayNameOf(SHGDN_INFOLDER);
    // The shell's record tells a directory as the shell itself does.
    bool directory = (findData_->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return rules->ShownName(GetDisplayNameOf(SHGDN_INFOLDER | SHGDN_FORPARSING), directory,
                            [this] { return GetDisplayNameOf(SHGDN_INFOLDER); });
}

TShownNameRules* TNamespace::ShownNameRules() {
    if (!(flags_ & nfShownNameRulesKnown)) {
        flags_ |= nfShownNameRulesKnown;
        std::wstring path = IsDesktop() ? std::wstring() : NameForParsing();
        DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
        // Only a folder marked read-only or system has its desktop.ini read,
        // which may name items one by one.
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM)))
            shownNameRules_ = std::make_unique<TShownNameRules>();
    }
    return shownNameRules_.get();
}
std::wstring TNamespace::NameNormal() { return CachedName(vmNameNormal, nameNormal_, SHGDN_NORMAL); }
std::wstring TNamespace::NameParseAddress() {
    return CachedName(vmNameParseAddress, nameParseAddress_, SHGDN_FORPARSING | SHGDN_FORADDRESSBAR);
}
std::wstring TNamespace::NameParseAddressInFolder() {
    return GetDisplayNameOf(SHGDN_FORPARSING | SHGDN_FORADDRESSBAR | SHGDN_INFOLDER);
}
std::wstring TNamespace::NameAddressbar() { return GetDisplayNameOf(SHGDN_FORADDRESSBAR); }
std::wstring TNamespace::NameAddressbarInFolder() { return GetDisplayNameOf(SHGDN_FORADDRESSBAR | SHGDN_INFOLDER); }
std::wstring TNamespace::NameForEditing() { return GetDisplayNameOf(SHGDN_FOREDITING); }
std::wstring TNamespace::NameForEditingInFolder() { return GetDisplayNameOf(SHGDN_FOREDITING | SHGDN_INFOLDER); }

std::wstring TNamespace::NameForParsing() {
    if (IsDesktop()) {
        if (DesktopDirectoryFolder && DesktopDirectoryFolder != this) return DesktopDirectoryFolder->NameForParsing();
        return PIDLToPath(nullptr);
    }
    return GetDisplayNameOf(SHGDN_FORPARSING);
}

std::wstring TNamespace::NameForParsingInFolder() {
    if (IsDesktop()) return NameForParsing();
    return GetDisplayNameOf(SHGDN_FORPARSING | SHGDN_INFOLDER);
}

// --- special items ---

namespace {
// Lists of different depths never name one item; counting is cheap where the
// shell's test may read the registry for the names of both.
bool SameAs(LPCITEMIDLIST pidl, const TNamespace* special) {
    return special && pidl && TPIDLManager::IDCount(pidl) == TPIDLManager::IDCount(special->AbsolutePIDL()) &&
           krv::ILIsEqual(pidl, special->AbsolutePIDL());
}
} // namespace

// An item whose list is not joined yet is a child below a folder: never the desktop.
bool TNamespace::IsDesktop() const { return TPIDLManager::IsDesktopFolder(absolutePIDL_); }
bool TNamespace::IsMyComputer() const { return SameAs(AbsolutePIDL(), DrivesFolder); }
bool TNamespace::IsControlPanel() const { return SameAs(AbsolutePIDL(), ControlPanelFolder); }
bool TNamespace::IsNetworkNeighborhood() const { return SameAs(AbsolutePIDL(), NetworkFolder); }
bool TNamespace::IsNetworkNeighborhoodChild() const {
    return NetworkFolder && krv::ILIsParent(NetworkFolder->AbsolutePIDL(), AbsolutePIDL(), false);
}

bool TNamespace::IsRecycleBin() {
    if (!(flags_ & nfRecycleBinKnown)) {
        SetFlag(nfRecycleBin, SameAs(AbsolutePIDL(), RecycleBinFolder));
        flags_ |= nfRecycleBinKnown;
    }
    return flags_ & nfRecycleBin;
}

// --- changes ---

void TNamespace::Invalidate(bool flushIcons) {
    int normal = iconIndexNormal_, open = iconIndexOpen_;
    uint32_t iconsValid = validMask_ & (vmIconIndexNormal | vmIconIndexOpen);
    nameInFolder_.clear();
    nameNormal_.clear();
    nameParseAddress_.clear();
    shownNameRules_.reset();
    creationTime_.clear();
    lastAccessTime_.clear();
    lastWriteTime_.clear();
    sizeOfFile_.clear();
    sizeOfFileKB_.clear();
    fileType_.clear();
    iconIndexNormal_ = iconIndexOpen_ = -1;
    overlayIndex_ = -1;
    validMask_ = 0;
    attributeValues_ = 0;
    detailsColumnCountCache_ = 0;
    FreeOwnedParent();
    dropTarget_.reset();
    shellDetails_.reset();
    shellFolder_.reset();
    shellFolder2_.reset();
    shellIcon_.reset();
    queryInfo_.reset();
    shellIconOverlay_.reset();
    findData_.reset();
    flags_ |= nfTryShellDetails | nfTryShellFolder2 | nfTryIconOverlay;
    flags_ &= ~(nfRecycleBin | nfRecycleBinKnown | nfShownNameRulesKnown);
    if (flushIcons) {
        flags_ &= ~(nfThreadedIconLoaded | nfThreadIconLoading);
    } else {
        validMask_ |= iconsValid;
        if (iconsValid & vmIconIndexNormal) iconIndexNormal_ = normal;
        if (iconsValid & vmIconIndexOpen) iconIndexOpen_ = open;
    }
    bool underDesktop = TPIDLManager::IDCount(AbsolutePIDL()) == 1;
    if (underDesktop && DesktopDirectoryFolder && DesktopDirectoryFolder != this) DesktopDirectoryFolder->Invalidate(true);
}

bool TNamespace::ReloadPIDL(bool folders, bool nonFolders, bool includeHidden) {
    if (IsDesktop() || !ParentShellFolder() || !parent_) return false;
    LPITEMIDLIST found = nullptr;
    parent_->EnumerateFolder(folders, nonFolders, includeHidden,
                             [&](LPITEMIDLIST child, TNamespace*, void*, bool& terminate) {
                                 PIDLPtr owned(child);
                                 if (ComparePIDL(child, 0) == 0) {
                                     found = PIDLManager()->AppendPIDL(parent_->AbsolutePIDL(), child);
                                     terminate = true;
                                 }
                                 return true;
                             },
                             nullptr);
    if (!found) return false;
    ReplaceAbsolutePIDL(found);
    Invalidate(true);
    return true;
}

bool TNamespace::SetNameOf(const std::wstring& newName) {
    if (!CanRename()) return false;
    IShellFolder* folder = ParentShellFolder();
    if (!folder) return false;
    HCURSOR old = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    PIDLPtr copy(PIDLManager()->CopyPIDL(relativePIDL_));
    PIDLPtr renamed;
    // The new name is the whole name inside the folder, as typed: no extension
    // is added and it is never taken as a path relative to the current folder.
    HRESULT hr = folder->SetNameOf(nullptr, copy.get(), newName.c_str(), SHGDN_INFOLDER | SHGDN_FORPARSING,
                                   renamed.put());
    bool ok = SUCCEEDED(hr);
    if (ok && renamed && IsValidAllocatedPIDL(renamed.get())) {
        LPITEMIDLIST up = PIDLManager()->CopyPIDL(AbsolutePIDL());
        if (up) {
            if (TPIDLManager::IDCount(up) > 1) TPIDLManager::StripLastID(up);
            else reinterpret_cast<uint8_t*>(up)[0] = reinterpret_cast<uint8_t*>(up)[1] = 0;
            LPITEMIDLIST joined = PIDLManager()->AppendPIDL(up, renamed.get());
            FreePIDL(up);
            if (joined) {
                ReplaceAbsolutePIDL(joined);
                Invalidate(false);
            }
        }
    }
    ::SetCursor(old);
    return ok;
}

// --- icons ---

void TNamespace::SetIconIndex(int index, bool clearLoading) {
    iconIndexNormal_ = index;
    validMask_ |= vmIconIndexNormal;
    flags_ |= nfThreadedIconLoaded | nfIconIndexSet;
    if (clearLoading) flags_ &= ~nfThreadIconLoading;
}

int TNamespace::ComputeIconIndex(bool openIcon, int iconSize) {
    if (IShellIcon* icon = ShellIcon()) {
        UINT flags = (openIcon ? GIL_OPENICON : 0) | (iconSize == 1 ? GIL_FORSHELL : 0);
        int index = 0;
        if (icon->GetIconOf(relativePIDL_, flags, &index) == S_OK) return index;
    }
    UINT flags = SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_SHELLICONSIZE;
    if (iconSize != 1) flags |= SHGFI_SMALLICON;
    if (openIcon) flags |= SHGFI_OPENICON;
    if (auto info = WideFunctions().SHGetFileInfoW) {
        SHFILEINFOW fi{};
        if (info(reinterpret_cast<LPCWSTR>(AbsolutePIDL()), 0, &fi, sizeof fi, flags)) return fi.iIcon;
        return 0;
    }
    SHFILEINFOA fi{};
    if (::SHGetFileInfoA(reinterpret_cast<LPCSTR>(AbsolutePIDL()), 0, &fi, sizeof fi, flags)) return fi.iIcon;
    return 0;
}

int TNamespace::GetIconIndex(bool openIcon, int iconSize, bool forceLoad) {
    if (openIcon && parent_ && parent_->IsControlPanel()) openIcon = false;
    uint32_t bit = openIcon ? vmIconIndexOpen : vmIconIndexNormal;
    int& field = openIcon ? iconIndexOpen_ : iconIndexNormal_;
    if (!(validMask_ & bit) && forceLoad) {
        field = ComputeIconIndex(openIcon, iconSize);
        if (openIcon && field == 0) field = ComputeIconIndex(false, iconSize);
        validMask_ |= bit;
    }
    return field;
}

int TNamespace::OverlayIndex() {
    // Makes the parent when the item has none, so the answer does not depend
    // on whether something asked for the parent first; the desktop has none (-1).
    if (!IsDesktop()) ParentShellFolder();
    if (parent_ && overlayIndex_ < 0) {
        IShellIconOverlay* overlay = parent_->ShellIconOverlay();
        int index = -1;
        if (!overlay || FAILED(overlay->GetOverlayIndex(relativePIDL_, &index))) index = -1;
        overlayIndex_ = index;
    }
    return overlayIndex_;
}

// --- special folders ---

TNamespace* CreateSpecialNamespace(int csidl) {
    LPITEMIDLIST pidl = SpecialFolderPIDL(csidl);
    if (!pidl) return nullptr;
    auto* ns = new TNamespace(pidl, nullptr);
    ns->ParentShellFolder();
    return ns;
}

} // namespace krv
