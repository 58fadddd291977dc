#include "shell/explorer/LazyCheckStorage.h"
#include "shell/explorer/ShellSortHelper.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/SysUtils.h"
#include <algorithm>
#include <cstring>
#include <map>

namespace krv {

namespace {
// True at the terminating zero of a list.
bool AtEnd(LPCITEMIDLIST id) { return TPIDLManager::IsDesktopFolder(id); }

size_t IDBytes(LPCITEMIDLIST id) {
    return static_cast<size_t>(reinterpret_cast<const uint8_t*>(TPIDLManager::NextID(id)) -
                               reinterpret_cast<const uint8_t*>(id));
}

// One identifier as a terminated list of its own, in a local buffer.
std::vector<uint8_t> SingleID(LPCITEMIDLIST id) {
    const size_t size = IDBytes(id);
    std::vector<uint8_t> one(size + 2u, 0);
    std::memcpy(one.data(), id, size);
    return one;
}
LPCITEMIDLIST AsPIDL(const std::vector<uint8_t>& bytes) { return reinterpret_cast<LPCITEMIDLIST>(bytes.data()); }

// Whether the identifiers of pidl before end name record's item. Level by
// level: the same bytes, or, where they differ (the shell keeps a folder's
// times in its identifier, and they move as the folder is read), the same
// item by the comparison of the folder above, bound once per record. The
// system's whole-list comparison would bind every level afresh, which costs
// hundreds of times as much, and ran for every item stored or looked up.
bool HeadIsRecord(LPCITEMIDLIST pidl, LPCITEMIDLIST end, TNodeStorage* record) {
    std::vector<TNodeStorage*> chain;
    for (TNodeStorage* r = record; r && r->ParentNode; r = r->ParentNode) chain.push_back(r);
    LPCITEMIDLIST id = pidl;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it, id = TPIDLManager::NextID(id)) {
        if (id == end || AtEnd(id)) return false;
        TNodeStorage* r = *it;
        const size_t size = IDBytes(id);
        if (size == IDBytes(r->RelativePIDL) && std::memcmp(id, r->RelativePIDL, size) == 0) continue;
        if (CompareStorageIDs(r->ParentNode->ShellFolder(), AsPIDL(SingleID(id)), r->RelativePIDL) != 0) return false;
    }
    return id == end;
}

LPITEMIDLIST NewEmptyPIDL() {
    auto* p = static_cast<LPITEMIDLIST>(PIDLManager()->Malloc()->Alloc(2));
    if (!p) throw Exception("Out of memory making an item identifier list");
    std::memset(p, 0, 2);
    return p;
}

std::map<std::string, TNodeUserDataFactory>& UserDataClasses() {
    static std::map<std::string, TNodeUserDataFactory> classes;
    return classes;
}

// The smallest record a stream can hold: list size, children flag, Types,
// check state, three array counts.
constexpr int64_t MinRecordBytes = 4 + 1 + 1 + 1 + 3 * 4;
constexpr uint32_t MaxClassNameLength = 1024;

void CheckFits(TStream& s, int64_t count, int64_t unit, const char* what) {
    if (count < 0 || count * unit > s.Remaining())
        throw EReadError(Format("Node storage: %s count %lld does not fit the stream", what,
                                static_cast<long long>(count)));
}

template <class T> void ReadArray(TStream& s, std::vector<T>& values, const char* what) {
    int32_t count = s.ReadValue<int32_t>();
    CheckFits(s, count, sizeof(T), what);
    values.resize(static_cast<size_t>(count));
    if (count) s.ReadBuffer(values.data(), values.size() * sizeof(T));
}
template <class T> void WriteArray(TStream& s, const std::vector<T>& values) {
    s.WriteValue(static_cast<int32_t>(values.size()));
    if (!values.empty()) s.WriteBuffer(values.data(), values.size() * sizeof(T));
}

bool IsDriveRootForm(const std::wstring& name) { return name.size() == 3 && name[1] == L':' && name[2] == L'\\'; }
} // namespace

void RegisterNodeUserDataClass(const std::string& className, TNodeUserDataFactory make) {
    UserDataClasses()[className] = make;
}

int CompareStorageIDs(IShellFolder* folder, LPCITEMIDLIST id1, LPCITEMIDLIST id2) {
    if (!folder) return CompareIDBytes(id1, id2);
    const int order = CompareFolderIDs(folder, 0, id1, id2);
    if (order != 0 || CompareIDBytes(id1, id2) == 0) return order;
    // The shell takes names that differ only in letter case or in Unicode
    // normalisation (an accent as one character or as a letter and a
    // combining mark) for one item; a folder that tells them apart holds
    // them as two, and so must a ticked path. Their exact names decide: case
    // is not folded here either (a path is folded to an entry only when no
    // entry has its exact name, which EntryPath settles before any parse).
    auto name = [folder](LPCITEMIDLIST id) {
        STRRET text{};
        return SUCCEEDED(folder->GetDisplayNameOf(id, SHGDN_FORPARSING, &text)) ? StrRetToStr(text, id)
                                                                               : std::wstring();
    };
    const std::wstring name1 = name(id1), name2 = name(id2);
    if (name1.empty() || name2.empty()) return 0;
    return (name1 > name2) - (name1 < name2);
}

// ---- TNodeStorageList -------------------------------------------------------

void TNodeStorageList::Insert(int index, TNodeStorage* record) {
    items_.insert(items_.begin() + index, record);
}

int TNodeStorageList::IndexOf(const TNodeStorage* record) const {
    auto it = std::find(items_.begin(), items_.end(), record);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TNodeStorage* TNodeStorageList::Extract(int index) {
    auto* record = Items(index);
    items_.erase(items_.begin() + index);
    return record;
}

void TNodeStorageList::Clear() {
    std::vector<void*> old;
    old.swap(items_);
    for (void* p : old) delete static_cast<TNodeStorage*>(p);
}

void TNodeStorageList::LoadFromStream(TStream& s, int version, bool readVerFromStream) {
    TStreamableList::LoadFromStream(s, version, readVerFromStream);
    int32_t count = s.ReadValue<int32_t>();
    CheckFits(s, count, MinRecordBytes + (readVerFromStream ? 4 : 0), "child");
    TNodeStorage* previous = nullptr;
    // A folder that cannot be bound now (a drive without its medium) cannot
    // tell its order; the bytes cannot either, so then only equals are refused.
    IShellFolder* folder = count > 1 ? owner_->ShellFolder() : nullptr;
    for (int32_t i = 0; i < count; ++i) {
        auto record = TNodeStorage::ReadRecord(s, version, readVerFromStream, owner_);
        // Lookups bisect the list: it must be in the folder's order, without equals.
        int order = previous ? CompareStorageIDs(folder, previous->RelativePIDL, record->RelativePIDL) : -1;
        if (folder ? order >= 0 : order == 0)
            throw EReadError("Node storage: children out of their folder's order");
        previous = record.get();
        Add(record.release());
    }
}

void TNodeStorageList::SaveToStream(TStream& s, int version, bool writeVerToStream) {
    TStreamableList::SaveToStream(s, version, writeVerToStream);
    s.WriteValue(static_cast<int32_t>(Count()));
    for (int i = 0; i < Count(); ++i) Items(i)->SaveToStream(s, version, writeVerToStream);
}

// ---- TNodeStorage -----------------------------------------------------------

TNodeStorage::TNodeStorage(LPITEMIDLIST absolutePIDL, TNodeStorage* parent) : ParentNode(parent) {
    SetAbsolutePIDL(absolutePIDL);
}

TNodeStorage::~TNodeStorage() {
    ChildNodeList.reset();
    PIDLManager()->FreePIDL(AbsolutePIDL);
}

void TNodeStorage::SetAbsolutePIDL(LPITEMIDLIST pidl) {
    AbsolutePIDL = pidl;
    RelativePIDL = pidl ? TPIDLManager::GetPointerToLastID(pidl) : nullptr;
}

TRootNodeStorage* TNodeStorage::Root() {
    TNodeStorage* r = this;
    while (r->ParentNode) r = r->ParentNode;
    return dynamic_cast<TRootNodeStorage*>(r);
}

IShellFolder* TNodeStorage::ShellFolder() {
    // Only a bound folder is kept: one that failed (a drive without its
    // medium, a share away) is asked for again on the next call.
    if (!shellFolder_) {
        if (!ParentNode) {
            shellFolder_ = DesktopFolder();
        } else if (IShellFolder* parent = ParentNode->ShellFolder(); parent && RelativePIDL) {
            if (FAILED(parent->BindToObject(RelativePIDL, nullptr, IID_IShellFolder, shellFolder_.put_void())))
                shellFolder_.reset();
        }
    }
    return shellFolder_.get();
}

ComPtr<IShellFolder> TNodeStorage::DesktopFolder() {
    ComPtr<IShellFolder> desktop;
    ::SHGetDesktopFolder(desktop.put());
    return desktop;
}

int TNodeStorage::Search(LPCITEMIDLIST id, int& insertAt) {
    IShellFolder* folder = ShellFolder();
    int lo = 0, hi = ChildNodeList->Count() - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = CompareStorageIDs(folder, ChildNodeList->Items(mid)->RelativePIDL, id);
        if (c == 0) return mid;
        if (c > 0) hi = mid - 1;
        else lo = mid + 1;
    }
    insertAt = lo;
    return -1;
}

int TNodeStorage::SearchFromEnd(LPCITEMIDLIST id, int& insertAt) {
    // Items stored in their folder's order (a session's sorted paths) each
    // go after the last one: one comparison instead of a search.
    const int count = ChildNodeList->Count();
    if (count > 0 && CompareStorageIDs(ShellFolder(), ChildNodeList->Items(count - 1)->RelativePIDL, id) < 0) {
        insertAt = count;
        return -1;
    }
    return Search(id, insertAt);
}

TNodeStorage* TNodeStorage::FindChild(LPCITEMIDLIST id, bool create, bool moreFollow, const TNodeStorage* start) {
    if (!ChildNodeList) ChildNodeList = std::make_unique<TNodeStorageList>(this);
    std::vector<uint8_t> one = SingleID(id);
    int at = 0;
    int found = SearchFromEnd(AsPIDL(one), at);
    if (found >= 0) return ChildNodeList->Items(found);
    if (!create) return nullptr;
    LPITEMIDLIST pidl = PIDLManager()->AppendPIDL(AbsolutePIDL, AsPIDL(one));
    if (!pidl) throw Exception("Out of memory making an item identifier list");
    auto record = std::make_unique<TNodeStorage>(pidl, this);
    if (moreFollow && start->Storage.Check.CheckType == ctTriStateCheckBox) {
        record->Storage.Types = skCheck;
        record->Storage.Check = {csMixedNormal, ctTriStateCheckBox};
    }
    ChildNodeList->Insert(at, record.get());
    return record.release();
}

TNodeStorage* TNodeStorage::Find(LPCITEMIDLIST pidl, bool create) {
    if (!pidl) return nullptr;
    if (TPIDLManager::IsDesktopFolder(pidl)) return this;
    TRootNodeStorage* root = ParentNode ? nullptr : dynamic_cast<TRootNodeStorage*>(this);

    // Shortcut: a sibling of the last item found (the common case when a
    // folder's items are stored one after another).
    if (root && root->cacheNode_) {
        TNodeStorage* cache = root->cacheNode_;
        auto* last = TPIDLManager::GetPointerToLastID(pidl);
        if (HeadIsRecord(pidl, last, cache)) return cache->FindChild(last, create, false, this);
    }

    if (root) root->cacheNode_ = nullptr;
    TNodeStorage* current = this;
    for (LPCITEMIDLIST id = pidl; current && !AtEnd(id);) {
        LPCITEMIDLIST next = TPIDLManager::NextID(id);
        current = current->FindChild(id, create, !AtEnd(next), this);
        id = next;
    }
    if (root && current) root->cacheNode_ = current->ParentNode;
    return current;
}

TNodeStorage* TNodeStorage::Store(LPCITEMIDLIST pidl, uint8_t kinds) {
    TNodeStorage* record = Find(pidl, true);
    if (record) record->Storage.Types |= kinds;
    return record;
}

TNodeStorage* TNodeStorage::FindWithKinds(LPCITEMIDLIST pidl, uint8_t kinds) {
    TNodeStorage* record = Find(pidl, false);
    return record && (record->Storage.Types & kinds) ? record : nullptr;
}

bool TNodeStorage::FindWithKinds(LPCITEMIDLIST pidl, uint8_t kinds, TNodeStorage*& record) {
    record = FindWithKinds(pidl, kinds);
    return record != nullptr;
}

void TNodeStorage::Remove(LPCITEMIDLIST pidl, uint8_t kinds, bool force, bool freeUserData) {
    TNodeStorage* record = Find(pidl, false);
    if (!record) return;
    record->Storage.Types &= static_cast<uint8_t>(~kinds);
    if ((record->Storage.Types == 0 || force) && record != this && record->ParentNode) {
        if (TRootNodeStorage* root = Root()) root->Forget(record);
        TNodeStorageList& siblings = *record->ParentNode->ChildNodeList;
        // Its user data and subtree go with it whatever freeUserData says:
        // the record owns its data, and nothing else could free it later.
        if (int i = siblings.IndexOf(record); i >= 0) delete siblings.Extract(i);
        return;
    }
    if ((kinds & skUserData) && freeUserData) record->Storage.UserData.reset();
    if (record == this && !ParentNode) record->Storage.Check.CheckState = csUncheckedNormal;
}

bool TNodeStorage::Move(LPCITEMIDLIST from, LPCITEMIDLIST to) {
    if (!to || TPIDLManager::IsDesktopFolder(to)) return false;
    TNodeStorage* record = Find(from, false);
    if (!record || record == this || !record->ParentNode) return false;
    // Whatever can fail (the lookups, the shell's comparisons, the new lists)
    // runs while the records still sit where they were: a move that cannot be
    // made loses nothing stored.
    PIDLPtr folder(PIDLManager()->CopyPIDL(to));
    if (!folder) throw Exception("Out of memory making an item identifier list");
    TPIDLManager::StripLastID(folder.get());
    TNodeStorage* parent = Find(folder.get(), true);
    if (!parent) return false;
    for (TNodeStorage* r = parent; r; r = r->ParentNode)
        if (r == record) return false;   // an item never goes inside itself
    // The new lists, parents first: a record's is its parent's new one and its own identifier.
    std::vector<std::pair<TNodeStorage*, PIDLPtr>> renamed;
    renamed.emplace_back(record, PIDLPtr(PIDLManager()->CopyPIDL(to)));
    for (size_t i = 0; i < renamed.size(); ++i) {
        if (!renamed[i].second) throw Exception("Out of memory making an item identifier list");
        TNodeStorage* r = renamed[i].first;
        for (int k = 0; k < r->ChildCount(); ++k) {
            TNodeStorage* child = r->ChildNodeList->Items(k);
            LPITEMIDLIST pidl = PIDLManager()->AppendPIDL(renamed[i].second.get(), child->RelativePIDL);
            renamed.emplace_back(child, PIDLPtr(pidl));
        }
    }
    if (!parent->ChildNodeList) parent->ChildNodeList = std::make_unique<TNodeStorageList>(parent);
    int at = 0;
    const int found = parent->Search(TPIDLManager::GetPointerToLastID(to), at);
    // What is stored for the new list belonged to an item of that name that
    // went; the record itself is found there when only the letter case changed.
    TNodeStorage* stale = found >= 0 ? parent->ChildNodeList->Items(found) : nullptr;
    if (found >= 0) at = found;
    if (stale == record) stale = nullptr;

    if (TRootNodeStorage* root = Root()) {
        root->Forget(record);
        if (stale) root->Forget(stale);
    }
    TNodeStorageList& siblings = *record->ParentNode->ChildNodeList;
    const int index = siblings.IndexOf(record);
    if (&siblings == parent->ChildNodeList.get() && index < at) --at;
    siblings.Extract(index);
    if (stale) delete parent->ChildNodeList->Extract(parent->ChildNodeList->IndexOf(stale));
    for (auto& [r, pidl] : renamed) {
        PIDLManager()->FreePIDL(r->AbsolutePIDL);
        r->SetAbsolutePIDL(pidl.release());
        r->shellFolder_.reset();
    }
    record->ParentNode = parent;
    parent->ChildNodeList->Insert(at, record);
    return true;
}

void TNodeStorage::Clear(bool freeUserData) {
    if (TRootNodeStorage* root = Root()) root->Forget(this);
    PIDLManager()->FreePIDL(AbsolutePIDL);
    SetAbsolutePIDL(nullptr);
    shellFolder_.reset();
    ChildNodeList.reset();
    if (freeUserData) Storage.UserData.reset();
}

void TNodeStorage::Assign(const TNodeStorage& source) {
    if (&source == this) return;
    if (TRootNodeStorage* root = Root()) root->Forget(this);
    ChildNodeList.reset();
    shellFolder_.reset();
    PIDLManager()->FreePIDL(AbsolutePIDL);
    SetAbsolutePIDL(PIDLManager()->CopyPIDL(source.AbsolutePIDL));
    if (source.ChildNodeList) {
        ChildNodeList = std::make_unique<TNodeStorageList>(this);
        for (int i = 0; i < source.ChildNodeList->Count(); ++i) {
            auto child = std::make_unique<TNodeStorage>(nullptr, this);
            child->Assign(*source.ChildNodeList->Items(i));
            ChildNodeList->Add(child.release());
        }
    }
    Storage.Types = source.Storage.Types;
    Storage.Check = source.Storage.Check;
    Storage.Column = source.Storage.Column;
    Storage.UserData = source.Storage.UserData ? source.Storage.UserData->Clone() : nullptr;
}

// ---- stream form ------------------------------------------------------------

std::unique_ptr<TNodeStorage> TNodeStorage::ReadRecord(TStream& s, int version, bool readVerFromStream,
                                                       TNodeStorage* parent) {
    auto record = std::make_unique<TNodeStorage>(nullptr, parent);
    record->TStreamableClass::LoadFromStream(s, version, readVerFromStream);
    const int v = record->StreamVersion;
    if (v < 0 || v > NodeStorageStreamVersion)
        throw EReadError(Format("Node storage: unknown stream version %d", v));
    record->SetAbsolutePIDL(PIDLManager()->LoadFromStream(s));
    if (parent) {
        // A child is its parent's list plus exactly one identifier.
        const LPITEMIDLIST mine = record->AbsolutePIDL;
        uint32_t head = parent->AbsolutePIDL ? TPIDLManager::PIDLSize(parent->AbsolutePIDL) - 2 : 0;
        if (!mine || TPIDLManager::IDCount(mine) != TPIDLManager::IDCount(parent->AbsolutePIDL) + 1 ||
            (head && std::memcmp(mine, parent->AbsolutePIDL, head) != 0))
            throw EReadError("Node storage: a child that is not one item below its parent");
    }
    if (s.ReadValue<uint8_t>() != 0) record->ReadChildren(s, v, readVerFromStream);
    TStorage& st = record->Storage;
    st.Types = s.ReadValue<uint8_t>();
    auto state = s.ReadValue<uint8_t>();
    auto type = v >= 2 ? s.ReadValue<uint8_t>() : uint8_t{ctNone};
    if (st.Types > (skCheck | skColumns | skUserData) || state > csMixedPressed || type > ctButton)
        throw EReadError("Node storage: unknown stored kinds, check state or check type");
    st.Check = {static_cast<TCheckState>(state), static_cast<TCheckType>(type)};
    ReadArray(s, st.Column.Width, "width");
    ReadArray(s, st.Column.Position, "position");
    ReadArray(s, st.Column.Visible, "visible");
    if (v >= 1 && s.ReadValue<uint8_t>() != 0) {
        uint32_t length = s.ReadValue<uint32_t>();
        if (length > MaxClassNameLength || length > s.Remaining())
            throw EReadError("Node storage: user-data class name does not fit the stream");
        std::string name(length, '\0');
        if (length) s.ReadBuffer(name.data(), length);
        auto found = UserDataClasses().find(name);
        if (found == UserDataClasses().end())
            throw EReadError(Format("Node storage: unknown user-data class \"%s\"", name.c_str()));
        st.UserData = found->second();
        st.UserData->LoadFromStream(s, v, readVerFromStream);
    }
    return record;
}

void TNodeStorage::ReadChildren(TStream& s, int version, bool readVerFromStream) {
    ChildNodeList = std::make_unique<TNodeStorageList>(this);
    ChildNodeList->LoadFromStream(s, version, readVerFromStream);
}

void TNodeStorage::LoadFromStream(TStream& s, int version, bool readVerFromStream) {
    // Read whole before anything changes: a bad stream leaves the record as it was.
    auto loaded = ReadRecord(s, version, readVerFromStream, ParentNode);
    AcceptLoaded(*loaded);
    TakeContent(*loaded);
}

void TNodeStorage::AcceptLoaded(const TNodeStorage&) {}

void TNodeStorage::TakeContent(TNodeStorage& loaded) {
    if (TRootNodeStorage* root = Root()) root->Forget(this);
    ChildNodeList = std::move(loaded.ChildNodeList);
    if (ChildNodeList) {
        for (int i = 0; i < ChildNodeList->Count(); ++i) ChildNodeList->Items(i)->ParentNode = this;
        // The list is re-owned by this record (it was made for the loaded one).
        auto list = std::make_unique<TNodeStorageList>(this);
        while (ChildNodeList->Count()) list->Add(ChildNodeList->Extract(0));
        list->StreamVersion = ChildNodeList->StreamVersion;
        ChildNodeList = std::move(list);
    }
    PIDLManager()->FreePIDL(AbsolutePIDL);
    SetAbsolutePIDL(loaded.AbsolutePIDL);
    loaded.SetAbsolutePIDL(nullptr);
    shellFolder_.reset();
    StreamVersion = loaded.StreamVersion;
    Storage.Types = loaded.Storage.Types;
    Storage.Check = loaded.Storage.Check;
    Storage.Column = std::move(loaded.Storage.Column);
    Storage.UserData = std::move(loaded.Storage.UserData);
}

void TNodeStorage::SaveToStream(TStream& s, int version, bool writeVerToStream) {
    TStreamableClass::SaveToStream(s, version, writeVerToStream);
    TPIDLManager::SaveToStream(s, AbsolutePIDL);
    const bool children = ChildCount() > 0;
    s.WriteValue(static_cast<uint8_t>(children));
    if (children) ChildNodeList->SaveToStream(s, version, writeVerToStream);
    s.WriteValue(Storage.Types);
    s.WriteValue(static_cast<uint8_t>(Storage.Check.CheckState));
    if (version >= 2) s.WriteValue(static_cast<uint8_t>(Storage.Check.CheckType));
    WriteArray(s, Storage.Column.Width);
    WriteArray(s, Storage.Column.Position);
    WriteArray(s, Storage.Column.Visible);
    if (version >= 1) {
        const TNodeUserData* data = Storage.UserData.get();
        s.WriteValue(static_cast<uint8_t>(data != nullptr));
        if (data) {
            std::string name = data->ClassName();
            s.WriteValue(static_cast<uint32_t>(name.size()));
            s.WriteBuffer(name.data(), name.size());
            Storage.UserData->SaveToStream(s, version, writeVerToStream);
        }
    }
}

// ---- TRootNodeStorage -------------------------------------------------------

TRootNodeStorage::TRootNodeStorage() : TNodeStorage(nullptr, nullptr) {
    LPITEMIDLIST desktop = SpecialFolderPIDL(CSIDL_DESKTOP);
    SetAbsolutePIDL(desktop ? desktop : NewEmptyPIDL());
    ChildNodeList = std::make_unique<TNodeStorageList>(this);
}

void TRootNodeStorage::Forget(const TNodeStorage* record) {
    for (const TNodeStorage* r = cacheNode_; r; r = r->ParentNode) {
        if (r == record) {
            cacheNode_ = nullptr;
            return;
        }
    }
}

void TRootNodeStorage::Clear(bool freeUserData) {
    checkedFileNames_.Clear();
    checkedPIDLs_.clear();
    unheld_.clear();
    cacheNode_ = nullptr;
    TNodeStorage::Clear(freeUserData);
    // The root stays the desktop: lookups build the chains below it again.
    SetAbsolutePIDL(NewEmptyPIDL());
}

void TRootNodeStorage::AcceptLoaded(const TNodeStorage& loaded) {
    if (loaded.AbsolutePIDL && !TPIDLManager::IsDesktopFolder(loaded.AbsolutePIDL))
        throw EReadError("Node storage: the root record is not the desktop");
}

void TRootNodeStorage::SetCheckedPaths(const TStringList& paths) {
    std::vector<PIDLPtr> pidls;
    pidls.reserve(paths.Count());
    TPathParser parser;
    for (int i = 0; i < paths.Count(); ++i) pidls.emplace_back(parser.Parse(AnsiToWide(paths[i])));
    SetCheckedPIDLs(pidls);
}

void TRootNodeStorage::SetCheckedPIDLs(const std::vector<PIDLPtr>& pidls) {
    Clear(false);
    for (const PIDLPtr& pidl : pidls) {
        if (!pidl) continue;
        if (TNodeStorage* record = Store(pidl.get(), skCheck))
            record->Storage.Check = {csCheckedNormal, ctTriStateCheckBox};
    }
}

bool WidePathToProgramText(const std::wstring& path, std::string& text) {
    text = WideToAnsi(path);
    if (AnsiToWide(text) == path) return true;
    DWORD n = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (n == 0) return false;
    std::wstring shortPath(n, L'\0');
    n = ::GetShortPathNameW(path.c_str(), shortPath.data(), n);
    shortPath.resize(n);
    text = WideToAnsi(shortPath);
    return n != 0 && AnsiToWide(text) == shortPath;
}

const TStringList& TRootNodeStorage::GetCheckedPaths() {
    TErrorModeScope quiet(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    checkedFileNames_.Clear();
    checkedPIDLs_.clear();
    unheld_.clear();
    // Pre-order without recursion: the storage can be as deep as the shell.
    std::vector<TNodeStorage*> pending{this};
    while (!pending.empty()) {
        TNodeStorage* record = pending.back();
        pending.pop_back();
        for (int i = record->ChildCount() - 1; i >= 0; --i) pending.push_back(record->ChildNodeList->Items(i));
        if (!(record->Storage.Types & skCheck) || record->Storage.Check.CheckState != csCheckedNormal ||
            !record->ParentNode)
            continue;
        // The parent's folder answers for the item: no folder is bound per item.
        IShellFolder* folder = record->ParentNode->ShellFolder();
        if (!folder) continue;
        LPCITEMIDLIST one = record->RelativePIDL;
        ULONG attributes = SFGAO_FILESYSTEM;
        if (FAILED(folder->GetAttributesOf(1, &one, &attributes)) || !(attributes & SFGAO_FILESYSTEM)) continue;
        STRRET name{};
        if (FAILED(folder->GetDisplayNameOf(one, SHGDN_FORPARSING, &name))) continue;
        std::wstring path = StrRetToStr(name, one);
        if (!IsDriveRootForm(path) && !DirExistsW(path) && !FileExistsW(path)) continue;
        std::string text;
        if (WidePathToProgramText(path, text)) {
            checkedFileNames_.Add(text);
            checkedPIDLs_.emplace_back(PIDLManager()->CopyPIDL(record->AbsolutePIDL));
        } else {
            unheld_.push_back(path);
        }
    }
    return checkedFileNames_;
}

} // namespace krv
