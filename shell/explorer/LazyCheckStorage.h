// State kept per shell item (check state and type, column widths, user
// data), so that it outlives the explorer tree's nodes and can be set for
// folders whose nodes were never made. The records form a second tree keyed
// by absolute item identifier lists that mirrors only the part of the shell
// hierarchy carrying state; siblings sit in their folder's own item order and
// are found by binary search.
#pragma once
#include "shell/base/PIDLTools.h"
#include "shell/base/Streamable.h"
#include "tree/core/LazyTreeTypes.h"
#include "framework/Strings.h"
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace krv {

// Kinds of state a record stores (bits of TStorage::Types); 0 = the record
// only carries descendants.
enum : uint8_t { skCheck = 1, skColumns = 2, skUserData = 4 };

// The newest stream form: 1 added user data, 2 the check type.
constexpr int NodeStorageStreamVersion = 2;

// What a caller hangs on a record. It streams itself after its class name,
// by which loading finds the class again (RegisterNodeUserDataClass).
class TNodeUserData : public TStreamableClass {
public:
    virtual std::string ClassName() const = 0;
    // A new object of the same class with the same content.
    virtual std::unique_ptr<TNodeUserData> Clone() const = 0;
};
using TNodeUserDataFactory = std::unique_ptr<TNodeUserData> (*)();
void RegisterNodeUserDataClass(const std::string& className, TNodeUserDataFactory make);

struct TCheckStorage {
    TCheckState CheckState = csUncheckedNormal;
    TCheckType CheckType = ctNone;
};

struct TColumnStorage {
    std::vector<uint16_t> Width;
    std::vector<uint16_t> Position;
    std::vector<uint8_t> Visible;
};

struct TStorage {
    uint8_t Types = 0;
    TCheckStorage Check;
    TColumnStorage Column;
    std::unique_ptr<TNodeUserData> UserData;   // owned by the record
};

// Sign of the shell's order of two identifiers of one folder. The answer is
// the signed 16-bit code of CompareIDs; where the shell gives no answer (no
// folder, a failed call) the identifiers' bytes decide, so two different
// identifiers never count as the same item. Items the shell calls equal whose
// names differ (in letter case, or as NFC and NFD forms) are ordered by name.
int CompareStorageIDs(IShellFolder* folder, LPCITEMIDLIST id1, LPCITEMIDLIST id2);

class TNodeStorage;
class TRootNodeStorage;

// The children of one record, in their folder's item order. Owns them.
class TNodeStorageList : public TStreamableList {
public:
    explicit TNodeStorageList(TNodeStorage* owner) : owner_(owner) {}
    ~TNodeStorageList() override { Clear(); }
    TNodeStorageList(const TNodeStorageList&) = delete;
    TNodeStorageList& operator=(const TNodeStorageList&) = delete;

    TNodeStorage* Items(int i) const { return static_cast<TNodeStorage*>((*this)[i]); }
    void Insert(int index, TNodeStorage* record);
    // The record's place, -1 when it is not in the list.
    int IndexOf(const TNodeStorage* record) const;
    // Takes the record out without freeing it.
    TNodeStorage* Extract(int index);
    void Clear() override;
    TNodeStorage* Owner() const { return owner_; }

    // Count, then each record; loaded records get the owner as parent.
    void LoadFromStream(TStream& s, int version, bool readVerFromStream) override;
    void SaveToStream(TStream& s, int version, bool writeVerToStream) override;

private:
    TNodeStorage* owner_;
};

class TNodeStorage : public TStreamableClass {
public:
    // Takes absolutePIDL (nil allowed: no item yet).
    TNodeStorage(LPITEMIDLIST absolutePIDL, TNodeStorage* parent);
    ~TNodeStorage() override;
    TNodeStorage(const TNodeStorage&) = delete;
    TNodeStorage& operator=(const TNodeStorage&) = delete;

    std::unique_ptr<TNodeStorageList> ChildNodeList;   // made on first need
    LPITEMIDLIST RelativePIDL = nullptr;               // the last identifier inside AbsolutePIDL
    LPITEMIDLIST AbsolutePIDL = nullptr;               // owned
    TNodeStorage* ParentNode = nullptr;
    TStorage Storage;

    int ChildCount() const { return ChildNodeList ? ChildNodeList->Count() : 0; }
    // The item's folder, bound on first use and kept (nil while the shell refuses it).
    IShellFolder* ShellFolder();

    // The record of an absolute list; with create the missing records of the
    // chain are made. The desktop's (empty) list gives this record.
    TNodeStorage* Find(LPCITEMIDLIST pidl, bool create);
    // Find(pidl, true) with kinds added to Types.
    TNodeStorage* Store(LPCITEMIDLIST pidl, uint8_t kinds);
    // The record only when it stores one of kinds.
    TNodeStorage* FindWithKinds(LPCITEMIDLIST pidl, uint8_t kinds);
    bool FindWithKinds(LPCITEMIDLIST pidl, uint8_t kinds, TNodeStorage*& record);
    // Clears kinds; a record left with none (or with force) goes with its whole subtree.
    void Remove(LPCITEMIDLIST pidl, uint8_t kinds, bool force, bool freeUserData);
    // The record of from, with all below it, becomes the record of to (the
    // item was renamed or moved); a record already at to goes. False when
    // from has no record or to lies inside it; a failure on the way leaves
    // every record where it was.
    bool Move(LPCITEMIDLIST from, LPCITEMIDLIST to);
    // Frees the list, the folder and every descendant (and the user data with freeUserData).
    virtual void Clear(bool freeUserData);
    // Deep copy of source's list, children and states (this record keeps its parent).
    void Assign(const TNodeStorage& source);

    // A stream that does not hold one sound record (a child that is not one
    // identifier below its parent, siblings out of their folder's order
    // (where the folder can be bound now; else only equal siblings),
    // unknown states, versions or user-data classes, counts past the end)
    // raises EReadError and leaves the record as it was.
    void LoadFromStream(TStream& s, int version, bool readVerFromStream) override;
    void SaveToStream(TStream& s, int version, bool writeVerToStream) override;

    TRootNodeStorage* Root();

protected:
    // Where a record without a parent binds: the desktop's folder.
    virtual ComPtr<IShellFolder> DesktopFolder();
    // Called with a completely read record before it replaces this one's content.
    virtual void AcceptLoaded(const TNodeStorage& loaded);
    // Moves loaded's content into this record.
    void TakeContent(TNodeStorage& loaded);

private:
    friend class TNodeStorageList;
    friend class TRootNodeStorage;
    static std::unique_ptr<TNodeStorage> ReadRecord(TStream& s, int version, bool readVerFromStream,
                                                    TNodeStorage* parent);
    void ReadChildren(TStream& s, int version, bool readVerFromStream);
    TNodeStorage* FindChild(LPCITEMIDLIST id, bool create, bool moreFollow, const TNodeStorage* start);
    // Binary search of the children: the index of id, or -1 with where it would go.
    int Search(LPCITEMIDLIST id, int& insertAt);
    // The same, trying after the last child first.
    int SearchFromEnd(LPCITEMIDLIST id, int& insertAt);
    void SetAbsolutePIDL(LPITEMIDLIST pidl);

    ComPtr<IShellFolder> shellFolder_;
};

// The desktop's record: the one each explorer tree owns.
class TRootNodeStorage : public TNodeStorage {
public:
    TRootNodeStorage();

    // The parent record of the last successful lookup: where the next one
    // starts when it names a sibling. Never a record that was freed.
    TNodeStorage* CacheNode() const { return cacheNode_; }

    // Each path that the shell parses is stored checked (tri-state box);
    // the others are passed over. Empties the storage first.
    void SetCheckedPaths(const TStringList& paths);
    // The same for lists parsed already (null entries are passed over).
    void SetCheckedPIDLs(const std::vector<PIDLPtr>& pidls);
    // The existing file-system items stored as checked (csCheckedNormal), in
    // the storage's pre-order, as the program's ANSI text: exact where the
    // code page holds the name, else its short form. The same list each time,
    // refilled by every call.
    const TStringList& GetCheckedPaths();
    // Checked items left out of the last GetCheckedPaths only because the
    // code page holds neither their name nor a short form of it.
    const std::vector<std::wstring>& UnheldCheckedPaths() const { return unheld_; }
    // The absolute lists of the last GetCheckedPaths, entry for entry: a walk
    // to those items need not parse their paths again.
    const std::vector<PIDLPtr>& CheckedPIDLs() const { return checkedPIDLs_; }

    void Clear(bool freeUserData) override;

protected:
    void AcceptLoaded(const TNodeStorage& loaded) override;

private:
    friend class TNodeStorage;
    // Forgets the lookup shortcut when it lies in record's subtree.
    void Forget(const TNodeStorage* record);

    TNodeStorage* cacheNode_ = nullptr;
    TStringList checkedFileNames_;
    std::vector<std::wstring> unheld_;
    std::vector<PIDLPtr> checkedPIDLs_;
};

// A path as the program's ANSI strings hold it: exact when the code page can
// (always under a UTF-8 process code page), else the item's short form when
// that can. False when neither can.
bool WidePathToProgramText(const std::wstring& path, std::string& text);

} // namespace krv
