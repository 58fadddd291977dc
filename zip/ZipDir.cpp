#include "zip/ZipDir.h"
#include "zip/ZipErrors.h"
#include "framework/SysUtils.h"
#include <windows.h>
#include <algorithm>

namespace krv {

namespace {
size_t HashOfKey(const std::string& key) { return std::hash<std::string>{}(key); }
bool IsSep(char c) { return c == '\\' || c == '/'; }
} // namespace

void TZipDirArray::CheckIndex(int i, int native) const {
    if (i < 0 || i >= count_) throw EZipException(native, nullptr);
}

void TZipDirArray::SetCount(int n) {
    if (n == 0) {
        items_.clear();
        items_.shrink_to_fit();
        count_ = 0;
        index_.clear();
        indexValid_ = true;
        folded_.clear();
        foldedValid_ = false;
        return;
    }
    if (n > static_cast<int>(items_.size())) {
        growStep_ = std::min(growStep_ * 2, 10000);
        int capacity = static_cast<int>(items_.size()) + growStep_;
        if (capacity < n) capacity = n;
        items_.resize(static_cast<size_t>(capacity));
    }
    for (int i = count_; i < n; ++i) items_[static_cast<size_t>(i)] = TDirItem{};
    if (n < count_) Invalidate();
    count_ = n;
}

TDirItem TZipDirArray::Get(int i) const {
    CheckIndex(i, 2);
    return items_[static_cast<size_t>(i)];
}
TDirItem& TZipDirArray::Item(int i) {
    CheckIndex(i, 3);
    return items_[static_cast<size_t>(i)];
}
const TDirItem& TZipDirArray::Item(int i) const {
    CheckIndex(i, 3);
    return items_[static_cast<size_t>(i)];
}
void TZipDirArray::Put(int i, const TDirItem& item) {
    CheckIndex(i, 1);
    TDirItem& at = items_[static_cast<size_t>(i)];
    // A record replaced under the same name keeps its place in the index (a
    // file found by several masks is replaced once per mask).
    if (at.name == item.name) {
        at = item;
        return;
    }
    const std::string oldName = std::move(at.name);
    at = item;
    Renamed(i, oldName);
}

void TZipDirArray::Renamed(int i, const std::string& oldName) {
    CheckIndex(i, 3);
    const std::string& name = items_[static_cast<size_t>(i)].name;
    if (name == oldName) return;
    // An update claims thousands of old entries under other spellings, one
    // lookup after another: the indexes follow each rename, never built again.
    const std::string oldKey = AnsiUpperCase(oldName), key = AnsiUpperCase(name);
    if (indexValid_) {
        const size_t oldHash = HashOfKey(oldName);
        if (auto it = index_.find(TRecordProbe{i, oldHash}); it != index_.end()) {
            index_.erase(it);
            // The next record of the old name answers for it now; only the
            // folded index tells where that is without a walk of all records.
            if (!foldedValid_) indexValid_ = false;
            else if (int next = FirstFolded(oldKey, [&](const TDirItem& item) { return item.name == oldName; }); next >= 0)
                IndexRecord(next);
        }
    }
    if (indexValid_) {
        const TNameKey own{i, HashOfKey(name)};
        if (auto [it, added] = index_.insert(own); !added && it->index > i) {
            index_.erase(it);
            index_.insert(own);
        }
    }
    if (foldedValid_ && key != oldKey) {
        for (auto [at, end] = folded_.equal_range(HashOfKey(oldKey)); at != end; ++at)
            if (at->second == i) {
                folded_.erase(at);
                break;
            }
        folded_.emplace(HashOfKey(key), i);
    }
}

int TZipDirArray::Add(const TDirItem& item) {
    int i = count_;
    SetCount(count_ + 1);
    items_[static_cast<size_t>(i)] = item;
    if (indexValid_) IndexRecord(i);
    if (foldedValid_) folded_.emplace(HashOfKey(AnsiUpperCase(item.name)), i);
    return i;
}

void TZipDirArray::Delete(int i) {
    CheckIndex(i, 4);
    items_.erase(items_.begin() + i);
    items_.emplace_back();
    --count_;
    Invalidate();
}

void TZipDirArray::Delete(const std::vector<int>& indices) {
    if (indices.empty()) return;
    for (int i : indices) CheckIndex(i, 4);
    int to = indices.front();
    size_t next = 0;
    for (int from = to; from < count_; ++from) {
        if (next < indices.size() && indices[next] == from) {
            ++next;
            continue;
        }
        items_[static_cast<size_t>(to++)] = std::move(items_[static_cast<size_t>(from)]);
    }
    for (int i = to; i < count_; ++i) items_[static_cast<size_t>(i)] = TDirItem{};
    count_ = to;
    Invalidate();
}

void TZipDirArray::Clear() {
    for (int i = 0; i < count_; ++i) items_[static_cast<size_t>(i)] = TDirItem{};
    count_ = 0;
    index_.clear();
    indexValid_ = true;
    folded_.clear();
    foldedValid_ = false;
}

void TZipDirArray::Assign(const TZipDirArray& other) {
    Clear();
    items_ = other.items_;
    count_ = other.count_;
    growStep_ = other.growStep_;
    Invalidate();   // built again for these records when asked
}

bool TZipDirArray::TNameEqual::operator()(const TNameKey& a, const TNameKey& b) const {
    return a.hash == b.hash &&
           owner->items_[static_cast<size_t>(a.index)].name == owner->items_[static_cast<size_t>(b.index)].name;
}
bool TZipDirArray::TNameEqual::operator()(const TNameKey& a, const TNameProbe& p) const {
    return a.hash == p.hash && owner->items_[static_cast<size_t>(a.index)].name == p.name;
}

void TZipDirArray::IndexRecord(int i) const {
    // An equal name already there stays: the index answers the first.
    index_.insert({i, HashOfKey(items_[static_cast<size_t>(i)].name)});
}

int TZipDirArray::IndexOfName(const std::string& name) const {
    if (!indexValid_) {
        ++indexBuilds_;
        index_.clear();
        for (int i = 0; i < count_; ++i) IndexRecord(i);
        indexValid_ = true;
    }
    auto it = index_.find(TNameProbe{name, HashOfKey(name)});
    return it == index_.end() ? -1 : it->index;
}

void TZipDirArray::BuildFolded() const {
    ++indexBuilds_;
    folded_.clear();
    for (int i = 0; i < count_; ++i) folded_.emplace(HashOfKey(AnsiUpperCase(items_[static_cast<size_t>(i)].name)), i);
    foldedValid_ = true;
}

template <class Test> int TZipDirArray::FirstFolded(const std::string& key, Test test) const {
    int first = -1;
    for (auto [at, end] = folded_.equal_range(HashOfKey(key)); at != end; ++at) {
        const TDirItem& item = items_[static_cast<size_t>(at->second)];
        if ((first < 0 || at->second < first) && test(item) && AnsiUpperCase(item.name) == key) first = at->second;
    }
    return first;
}

int TZipDirArray::IndexOfUnclaimed(const std::string& name) const {
    if (!foldedValid_) BuildFolded();
    return FirstFolded(AnsiUpperCase(name), [](const TDirItem& item) { return !item.marked; });
}

std::string ZipTrailingSeparator(const std::string& folder) {
    std::string f = folder;
    if (f.empty()) {
        char buf[MAX_PATH * 4];
        DWORD n = ::GetCurrentDirectoryA(sizeof buf, buf);
        f.assign(buf, n < sizeof buf ? n : 0);
    }
    if (f.empty() || !IsSep(f.back())) f += '\\';
    return f;
}

bool ZipIsRelativeMask(const std::string& mask) {
    if (mask.empty()) return true;
    if (IsSep(mask[0])) return false;
    if (mask.find(':') != std::string::npos) return false;
    return mask.find("..\\") == std::string::npos && mask.find("../") == std::string::npos;
}

std::string ZipExpandPath(const std::string& path, const std::string& base) {
    std::string b = ZipTrailingSeparator(base);
    std::string p;
    if (path.empty()) p = b;
    else if (path.size() >= 2 && IsSep(path[0]) && IsSep(path[1])) p = path;           // network path
    else if (IsSep(path[0])) p = ExtractFileDrive(b) + path;                             // on the base's drive
    else if (path.find(':') != std::string::npos) p = path;
    else p = b + path;
    // A full path with a name that ends in a dot or a space is taken as it is:
    // the expansion would drop those ends and name another file. Callers hand
    // what a person typed over as the entries it names (EntryPath), so such a
    // name is a real one, found by a listing.
    const std::string probe = p + "\\";
    if (NeedsWidePath(p) && p.find('/') == std::string::npos && probe.find("\\.\\") == std::string::npos &&
        probe.find("\\..\\") == std::string::npos)
        return p;
    DWORD need = ::GetFullPathNameA(p.c_str(), 0, nullptr, nullptr);
    if (need == 0) return p;
    std::string out(need, '\0');
    DWORD got = ::GetFullPathNameA(p.c_str(), need, out.data(), nullptr);
    out.resize(got < need ? got : 0);
    return out.empty() ? p : out;
}

std::string ZipStoredName(const std::string& path, const std::string& baseDir, TZipStorePathMode mode) {
    return ZipStoredNameBelow(path, ZipTrailingSeparator(ZipExpandPath(baseDir, "")), mode);
}

std::string ZipStoredNameBelow(const std::string& path, const std::string& base, TZipStorePathMode mode) {
    std::string full = ZipExpandPath(path, base);
    if (!full.empty() && IsSep(full.back())) full.pop_back();
    // "dir\." names the folder; a name's own final dot stays, or "g." would be stored as "g".
    if (full.size() >= 2 && full.back() == '.' && IsSep(full[full.size() - 2])) full.resize(full.size() - 2);

    std::string name;
    switch (mode) {
    case spNoPath:
        name = ExtractFileName(full);
        break;
    case spRelativePath:
        if (full.size() > base.size() && CompareText(full.substr(0, base.size()), base) == 0)
            name = full.substr(base.size());
        else
            name = full;
        break;
    case spFullPath:
    case spFullPathWithDrive:
        name = full;
        break;
    }
    if (mode != spFullPathWithDrive) {
        size_t colon = name.find(':');
        if (colon != std::string::npos) {
            name.erase(0, colon + 1);
        } else if (name.size() >= 2 && IsSep(name[0]) && IsSep(name[1])) {
            size_t serverEnd = name.find_first_of("\\/", 2);
            name = serverEnd == std::string::npos ? std::string() : name.substr(serverEnd + 1);
        }
        if (!name.empty() && IsSep(name[0])) name.erase(0, 1);
    }
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool ZipIsFloppy(const std::string& path) {
    std::string d = AnsiUpperCase(ExtractFileDrive(path));
    return d == "A:" || d == "B:";
}

bool ZipIsRemovable(const std::string& path) {
    if (ZipIsFloppy(path)) return true;
    std::string d = ExtractFileDrive(path);
    if (d.size() != 2) return false;
    return ::GetDriveTypeA((d + "\\").c_str()) == DRIVE_REMOVABLE;
}

int64_t ZipFreeSpace(const std::string& path) {
    std::string d = ExtractFileDrive(ZipExpandPath(path, ""));
    ULARGE_INTEGER avail{}, total{}, free{};
    if (!::GetDiskFreeSpaceExA(IncludeTrailingBackslash(d).c_str(), &avail, &total, &free)) return -1;
    return static_cast<int64_t>(avail.QuadPart);
}

bool ZipIsSfxName(const std::string& fileName) {
    return AnsiLowerCase(ExtractFileExt(fileName)).find(".exe") != std::string::npos;
}

} // namespace krv
