// The shell item: one item of the shell namespace (drive, folder, file or a
// virtual item such as My Computer) around its item identifier list. It
// answers lazily and caches what it learnt: attributes, names, file data,
// icon indexes, folder size; it enumerates a folder's children and hands
// verbs to the shell. Shell failures never raise: they give false, an empty
// text, 0, -1 or nil.
#pragma once
#include "shell/item/Namespace.h"
#include "shell/base/PIDLTools.h"
#include "shell/item/ShownNameRules.h"
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include <shlobj.h>
#include <shobjidl.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krv {

class TMenuItem;

class ELSTInvalidFileName : public Exception {
public:
    using Exception::Exception;
};
// A list handed to an item that is not one terminated list inside its block.
class ELSTInvalidPIDL : public Exception {
public:
    using Exception::Exception;
};

class TNamespace;

// Called for every child of an enumerated folder. The child's relative list
// belongs to the callback from then on (it makes an item of it or frees it).
// Answer true to count the child; set terminate to stop the enumeration.
using TEnumFolderCallback =
    std::function<bool(LPITEMIDLIST childPIDL, TNamespace* parent, void* data, bool& terminate)>;

// True when pidl is a block of the task allocator holding one terminated list.
bool IsValidAllocatedPIDL(LPCITEMIDLIST pidl);
// The same with the task allocator at hand (a loop over many lists asks for it once).
bool IsValidAllocatedPIDL(LPCITEMIDLIST pidl, IMalloc* m);

class TNamespace {
public:
    // Flags bits.
    enum : uint16_t {
        nfFreePIDLOnDestroy = 0x0001,
        nfRecycleBin = 0x0002,
        nfRecycleBinKnown = 0x0004,
        nfOwnsParent = 0x0008,
        nfTryShellDetails = 0x0010,
        nfTryShellFolder2 = 0x0020,
        nfTryIconOverlay = 0x0040,
        nfThreadedIconLoaded = 0x0080,
        nfThreadIconLoading = 0x0100,
        nfIconIndexSet = 0x0800,
        nfShownNameRulesKnown = 0x1000,
    };
    // ValidMask bits.
    enum : uint32_t {
        vmNameInFolder = 0x00000001,
        vmNameNormal = 0x00000002,
        vmNameParseAddress = 0x00000004,
        vmIconIndexNormal = 0x00000008,
        vmIconIndexOpen = 0x00000010,
        vmCreationTime = 0x00000020,
        vmLastAccessTime = 0x00000040,
        vmLastWriteTime = 0x00000080,
        vmSizeOfFile = 0x00000100,
        vmSizeOfFileKB = 0x00000200,
        vmFileType = 0x00000400,
        vmNoFindData = 0x00000800,
        vmFileSystem = 0x00001000,
        vmFolder = 0x00002000,
        vmCanDelete = 0x00004000,
        vmCanRename = 0x00008000,
        vmGhosted = 0x00010000,
        vmCanCopy = 0x00020000,
        vmCanMove = 0x00040000,
        vmCanLink = 0x00080000,
        vmLink = 0x00100000,
        vmFileSysAncestor = 0x00200000,
        vmCompressed = 0x00400000,
        vmFileTimes = 0x00800000,
        vmFolderSize = 0x02000000,
    };

    // Takes ownership of pidl. With no parent: nil makes the desktop, any
    // other list is absolute. With a parent: pidl is one identifier below it.
    // A list that is not one terminated list in its block raises ELSTInvalidPIDL.
    explicit TNamespace(LPITEMIDLIST pidl, TNamespace* parent = nullptr);
    // A child as EnumerateFolder hands it on (checked there), taken over. Its
    // absolute list is joined only when first asked for: most children of a
    // big folder never are. The parent must outlive the item, as the item of
    // a tree node's parent does.
    struct TEnumeratedChild {
        LPITEMIDLIST PIDL;
    };
    TNamespace(TEnumeratedChild child, TNamespace* parent);
    // Raises ELSTInvalidFileName when the shell cannot parse the path.
    static std::unique_ptr<TNamespace> CreateFromFileName(const std::wstring& path);
    virtual ~TNamespace();
    TNamespace(const TNamespace&) = delete;
    TNamespace& operator=(const TNamespace&) = delete;

    LPITEMIDLIST AbsolutePIDL() const { return absolutePIDL_ ? absolutePIDL_ : JoinChildPIDL(); }
    LPITEMIDLIST RelativePIDL() const { return relativePIDL_; }
    TNamespace* Parent() const { return parent_; }
    // Moves the item under another item of the same list (its parent is about to go).
    void ReplaceParent(TNamespace* parent);
    uint16_t Flags() const { return flags_; }
    uint32_t ValidMask() const { return validMask_; }
    bool FreePIDLOnDestroy() const { return flags_ & nfFreePIDLOnDestroy; }
    void SetFreePIDLOnDestroy(bool value) { SetFlag(nfFreePIDLOnDestroy, value); }

    // Shell access; each interface is asked for once and kept.
    IShellFolder* ShellFolder();
    virtual IShellFolder* ParentShellFolder();
    IShellFolder2* ShellFolder2();
    IShellDetails* ShellDetails();
    IShellIcon* ShellIcon();
    IShellIconOverlay* ShellIconOverlay();
    IQueryInfo* QueryInfo();
    IDropTarget* DropTargetInterface();

    bool TestAttributesOf(ULONG mask, bool askFolderItself, bool validate = false);
    std::wstring GetDisplayNameOf(DWORD flags);

    // File-system attributes (from the shell's find data).
    virtual bool Archive();
    virtual std::wstring AttributesString();
    virtual bool CanCopy();
    virtual bool CanDelete();
    virtual bool CanLink();
    virtual bool CanMove();
    virtual bool CanRename();
    virtual bool Compressed();
    virtual std::wstring CreationTime();
    virtual FILETIME CreationTimeRaw();
    virtual bool Directory();
    virtual bool DropTarget();
    virtual std::wstring Extension();
    virtual std::wstring FileName();
    virtual bool FileSysAncestor();
    virtual bool FileSystem();
    virtual std::wstring FileType();
    virtual bool Folder();
    virtual bool Ghosted();
    virtual bool HasPropSheet();
    virtual bool HasSubFolder();
    virtual bool Hidden();
    virtual std::wstring InfoTip();
    virtual std::wstring LastAccessTime();
    virtual FILETIME LastAccessTimeRaw();
    virtual std::wstring LastWriteTime();
    virtual FILETIME LastWriteTimeRaw();
    virtual bool Link();
    virtual std::wstring NameAddressbar();
    virtual std::wstring NameAddressbarInFolder();
    virtual std::wstring NameForEditing();
    virtual std::wstring NameForEditingInFolder();
    virtual std::wstring NameForParsing();
    virtual std::wstring NameForParsingInFolder();
    virtual std::wstring NameInFolder();
    virtual std::wstring NameNormal();
    virtual std::wstring NameParseAddress();
    virtual std::wstring NameParseAddressInFolder();
    virtual bool NewContent();
    virtual bool NonEnumerated();
    virtual bool Normal();
    virtual bool OffLine();
    virtual bool ReadOnly();
    virtual bool ReadOnlyFile();
    virtual bool Removable();
    virtual std::wstring SizeOfFile();
    virtual std::wstring SizeOfFileDiskUsage();
    virtual int64_t SizeOfFileInt64();
    virtual std::wstring SizeOfFileKB();
    virtual bool Share();
    virtual std::wstring ShortFileName();
    virtual bool SubItems();
    virtual bool SystemFile();
    virtual bool Temporary();
    virtual std::unique_ptr<TNamespace> Clone(bool freePIDLOnDestroy = true);
    virtual std::wstring DetailsColumnTitle(int column);
    virtual std::wstring DetailsDefaultOf(int column);
    virtual int DetailsDefaultColumnCount() { return 5; }
    virtual int GetIconIndex(bool openIcon, int iconSize, bool forceLoad = true);

    bool EnumHasItems(DWORD flags);
    bool HasChildren(DWORD flags) { return EnumHasItems(flags); }
    bool EnumerateHasChildren(DWORD flags) { return EnumHasItems(flags); }
    int64_t FolderSize(bool invalidate, bool recurse);
    int EnumerateFolder(bool folders, bool nonFolders, bool includeHidden, const TEnumFolderCallback& callback,
                        void* userData);
    int ComparePIDL(LPCITEMIDLIST pidl, int column);

    bool IsDesktop() const;
    bool IsMyComputer() const;
    bool IsControlPanel() const;
    bool IsNetworkNeighborhood() const;
    bool IsNetworkNeighborhoodChild() const;
    bool IsRecycleBin();

    void Invalidate(bool flushIcons);
    bool ReloadPIDL(bool folders, bool nonFolders, bool includeHidden);
    bool SetNameOf(const std::wstring& newName);
    void SetIconIndex(int index, bool clearLoading);
    bool ThreadIconLoading() const { return flags_ & nfThreadIconLoading; }
    void SetThreadIconLoading(bool value) { SetFlag(nfThreadIconLoading, value); }
    bool ThreadedIconLoaded() const { return flags_ & nfThreadedIconLoaded; }
    void SetThreadedIconLoaded(bool value) { SetFlag(nfThreadedIconLoaded, value); }
    int OverlayIndex();

    // Details columns, from the shell where it offers them.
    std::wstring DetailsOf(int column);
    uint8_t DetailsColumnState(int column);
    int DetailsColumnCount();
    bool IsValidColumn(int column) { return column >= 0 && column < DetailsColumnCount(); }

    // Verbs on items of this item's folder (its siblings); a set that is not
    // is refused with a message. True when the shell's command was invoked.
    bool Copy(const TNamespaceArray& items);
    bool Cut(const TNamespaceArray& items);
    bool Delete(const TNamespaceArray& items);
    bool Paste(const TNamespaceArray& items);
    bool ShowPropertySheet(const TNamespaceArray& items);
    // The items' data object (for the clipboard or a drag); nil for non-siblings.
    ComPtr<IDataObject> DataObject(const TNamespaceArray& items);
    // Shows the items' shell context menu at a screen point with the children
    // of merge (when given) added; the chosen command goes to onCommand first,
    // which may handle it itself. True when a command was chosen.
    using TContextMenuCmdEvent =
        std::function<void(TNamespace* ns, const std::wstring& verb, int menuItemID, bool& handled)>;
    bool ShowContextMenu(HWND owner, POINT screenPoint, const TNamespaceArray& items, TMenuItem* merge = nullptr,
                         const TContextMenuCmdEvent& onCommand = nullptr);
    // The hooks of a shown menu: OnShow sees the filled menu (verbOf names a
    // command id's verb) and may refuse to show it; OnMenuSelect follows the
    // highlighted item; OnAfterCommand tells whether the chosen command ran.
    struct TContextMenuHooks {
        std::function<bool(HMENU menu, const std::function<std::wstring(UINT id)>& verbOf)> OnShow;
        TContextMenuCmdEvent OnCommand;
        std::function<void(TNamespace* ns, const std::wstring& verb, int menuItemID, bool successful)> OnAfterCommand;
        std::function<void(UINT itemID, HMENU subMenu, UINT flags)> OnMenuSelect;
    };
    bool ShowContextMenu(HWND owner, POINT screenPoint, const TNamespaceArray& items, TMenuItem* merge,
                         const TContextMenuHooks& hooks);
    // Opens the item as the shell does (a folder only with execFolder; a
    // shortcut to a folder only with execFolderShortcut).
    bool ShellExecuteNamespace(const std::wstring& workingDir, const std::wstring& parameters, bool execFolder,
                               bool execFolderShortcut);

    // Drag and drop onto this item, forwarded to its drop target.
    HRESULT DragEnter(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect);
    HRESULT DragOver(DWORD keys, POINTL pt, DWORD* effect);
    HRESULT DragLeave();
    HRESULT Drop(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect);

protected:
    // Fills the find-data record once (or records that it cannot be had).
    void EnsureFindData();
    // Replaces the record by the file system's own (exact names and times), once.
    void EnsureFileTimes();
    const WIN32_FIND_DATAW* FindData() const { return findData_.get(); }

private:
    void SetFlag(uint16_t bit, bool value) { flags_ = value ? (flags_ | bit) : (flags_ & ~bit); }
    // The name shown for the item in its folder, through the folder's rules where it has them.
    std::wstring ShownNameInFolder();
    // The rules of this folder's items' shown names; nil where names may be
    // the folder's own choice per item (outside the file system, or a folder
    // whose desktop.ini is read).
    TShownNameRules* ShownNameRules();
    void AttachChild(LPITEMIDLIST pidl, TNamespace* parent);
    LPITEMIDLIST JoinChildPIDL() const;
    bool CachedAttribute(uint32_t validBit, uint16_t valueBit, ULONG sfgao);
    const std::wstring& CachedName(uint32_t validBit, std::wstring& cache, DWORD shgdn);
    // The cache, filled by make the first time validBit is not yet set.
    template <class Make> const std::wstring& CachedValue(uint32_t validBit, std::wstring& cache, Make make);
    std::wstring CachedText(uint32_t validBit, std::wstring& cache, const std::function<std::wstring()>& make);
    bool FindAttribute(DWORD attribute);
    bool HasFileData();
    FILETIME FindTime(FILETIME WIN32_FIND_DATAW::*field);
    std::wstring TimeText(uint32_t validBit, std::wstring& cache, FILETIME WIN32_FIND_DATAW::*field);
    int ComputeIconIndex(bool openIcon, int iconSize);
    // Points the item at a new absolute list (taking it), the relative part re-pointed.
    void ReplaceAbsolutePIDL(LPITEMIDLIST pidl);
    void FreeOwnedParent();
    bool SiblingsOk(const TNamespaceArray& items);
    HRESULT UIObjectOf(const TNamespaceArray& items, REFIID iid, void** out);
    ComPtr<IContextMenu> ContextMenuOf(const TNamespaceArray& items);
    bool InvokeVerb(const char* verb, const TNamespaceArray& items);

    // Nil while an enumerated child's list waits to be joined with its parent's.
    mutable LPITEMIDLIST absolutePIDL_ = nullptr;
    // An enumerated child's own list (relativePIDL_ points into it), freed with the item.
    LPITEMIDLIST childPIDL_ = nullptr;
    ComPtr<IDropTarget> dropTarget_;
    TNamespace* parent_ = nullptr;
    LPITEMIDLIST relativePIDL_ = nullptr;
    ComPtr<IShellDetails> shellDetails_;
    ComPtr<IShellFolder> shellFolder_;
    ComPtr<IShellFolder2> shellFolder2_;
    ComPtr<IShellIcon> shellIcon_;
    ComPtr<IQueryInfo> queryInfo_;
    ComPtr<IShellIconOverlay> shellIconOverlay_;
    uint16_t flags_ = 0;
    std::unique_ptr<WIN32_FIND_DATAW> findData_;
    uint32_t validMask_ = 0;
    uint16_t attributeValues_ = 0;
    int iconIndexNormal_ = -1;
    int iconIndexOpen_ = -1;
    std::wstring nameInFolder_, nameNormal_, nameParseAddress_;
    std::unique_ptr<TShownNameRules> shownNameRules_;
    std::wstring creationTime_, lastAccessTime_, lastWriteTime_, sizeOfFile_, sizeOfFileKB_, fileType_;
    int detailsColumnCountCache_ = 0;
    int64_t folderSizeCache_ = 0;
    int overlayIndex_ = -1;
};

// The default column titles: 0 "Name", 1 "Size", 2 "Type", 3 "Modified",
// 4 "Attributes", 5 "Created", 6 "Accessed", 7 "Path", 8 "DOS Name",
// 9 "Custom"; empty beyond.
std::wstring DefaultColumnTitle(int index);

// A details column that a folder offers for its items.
struct TFolderColumn {
    std::wstring Title;
    uint8_t State = 8;   // as DetailsColumnState: the type, 8 shown by default
};
// The folder's own columns (asked of its IShellFolder2, else its
// IShellDetails, else the default columns): what a view of its items shows.
std::vector<TFolderColumn> FolderDetailsColumns(TNamespace* folder);

// Makes an item over a special folder (CSIDL_...), owning the folder's list,
// with its parent folder bound; nil when the system has no such folder.
TNamespace* CreateSpecialNamespace(int csidl);

} // namespace krv
