// The directory in memory: one TDirItem per entry in growable arrays with a
// name index (exact names; letter case folded only for entries an update has
// not claimed), the stored-name rule, and path helpers.
#pragma once
#include "zip/ZipTypes.h"
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace krv {

class TComponent;
class TStream;

// One extra-field block kept from a read archive (any tag but the Zip64 one).
struct TZipExtraBlock {
    uint16_t tag = 0;
    std::string data;
};

// One archive entry: its central-directory fields, then what the update
// engine needs to (re)write it. Sizes and offsets are held whole; the writer
// decides per field whether it goes to the Zip64 extra.
struct TDirItem {
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;              // the running register while compressing
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t diskNumberStart = 0;
    uint16_t internalAttr = 0;
    uint32_t externalAttr = 0;
    uint64_t localHeaderOffset = 0;

    std::string name;              // '/' separators, a folder ends with '/'
    std::vector<TZipExtraBlock> extra;
    std::string comment;

    bool zip64 = false;            // sizes are carried by a Zip64 extra (local and central)
    bool marked = false;           // to be written by the next commit
    std::string password;
    std::string sourceName;        // full disk path of the file to compress
    uint8_t level = 0;
    TZipProcessOperation operation = poAdd;
    std::string oldName;           // former name of a renamed entry, or of the entry an update replaces under another spelling

    bool IsFolder() const { return !name.empty() && name.back() == '/'; }
};

class TZipDirArray {
public:
    TZipDirArray() = default;
    // The name index refers to this array's own records.
    TZipDirArray(const TZipDirArray&) = delete;
    TZipDirArray& operator=(const TZipDirArray&) = delete;
    int Count() const { return count_; }
    int Capacity() const { return static_cast<int>(items_.size()); }
    void SetCount(int n);
    TDirItem Get(int i) const;            // a copy (native 2 outside)
    TDirItem& Item(int i);                // in place (native 3 outside)
    const TDirItem& Item(int i) const;
    void Put(int i, const TDirItem& item); // store a copy (native 1 outside)
    int Add(const TDirItem& item);
    void Delete(int i);                   // native 4 outside
    // Deletes the records at these ascending indices in one pass (one
    // Delete each moves every record behind it: a commit that leaves
    // thousands of files out would move the list thousands of times).
    void Delete(const std::vector<int>& indices);
    void Clear();
    void Assign(const TZipDirArray& other);
    // Index of the first record named exactly name (its bytes, letter case
    // included), or -1: "Data/x.txt" and "data/x.txt" are two entries.
    int IndexOfName(const std::string& name) const;
    // Index of the first record not marked for the next commit (an entry the
    // archive held that no found name has claimed) whose name equals name
    // without regard to case, or -1. For a found name no record has exactly:
    // on a folder that does not tell case apart it is that entry's file.
    int IndexOfUnclaimed(const std::string& name) const;
    // Tell the indexes that record i, named oldName until now, has a new name.
    void Renamed(int i, const std::string& oldName);
    // How often a name index (exact or folded) was built from all records.
    int IndexBuilds() const { return indexBuilds_; }

private:
    void CheckIndex(int i, int native) const;
    std::vector<TDirItem> items_;
    int count_ = 0;
    int growStep_ = 500;
    // The index holds record numbers and their names' hashes, not copies of
    // the names: a million entries would otherwise keep a million more strings.
    struct TNameKey {
        int index;
        size_t hash;
    };
    struct TNameProbe {
        const std::string& name;    // the name sought
        size_t hash;
    };
    // A record's own key, found by its number: a renamed record's old key
    // no longer compares equal to its old name.
    struct TRecordProbe {
        int index;
        size_t hash;
    };
    struct TNameHash {
        using is_transparent = void;
        size_t operator()(const TNameKey& k) const { return k.hash; }
        size_t operator()(const TNameProbe& p) const { return p.hash; }
        size_t operator()(const TRecordProbe& p) const { return p.hash; }
    };
    struct TNameEqual {
        using is_transparent = void;
        const TZipDirArray* owner;
        bool operator()(const TNameKey& a, const TNameKey& b) const;
        bool operator()(const TNameKey& a, const TNameProbe& p) const;
        bool operator()(const TNameProbe& p, const TNameKey& a) const { return (*this)(a, p); }
        bool operator()(const TNameKey& a, const TRecordProbe& p) const { return a.index == p.index && a.hash == p.hash; }
        bool operator()(const TRecordProbe& p, const TNameKey& a) const { return (*this)(a, p); }
    };
    void IndexRecord(int i) const;
    void BuildFolded() const;
    // The first record among those whose names fold to key that pass test, or -1.
    template <class Test> int FirstFolded(const std::string& key, Test test) const;
    void Invalidate() { indexValid_ = foldedValid_ = false; }
    mutable std::unordered_set<TNameKey, TNameHash, TNameEqual> index_{0, TNameHash{}, TNameEqual{this}};
    mutable bool indexValid_ = true;
    // Hashes of the names in upper case to record numbers, made at the first
    // question (an update of an archive that holds entries), kept up since.
    mutable std::unordered_multimap<size_t, int> folded_;
    mutable bool foldedValid_ = false;
    mutable int indexBuilds_ = 0;
};

// The open archive's two lists (the update list and the directory as it stands
// in the file) and its end record.
struct TZipEndInfo {
    uint32_t thisVolume = 0;
    uint32_t directoryVolume = 0;
    uint64_t entriesOnVolume = 0;
    uint64_t totalEntries = 0;
    uint64_t directorySize = 0;
    uint64_t directoryOffset = 0;
    std::string comment;
};

class TZipDirManager {
public:
    TZipDirManager(TStream* stream, bool isNew) : Stream(stream), IsNew(isNew) {}
    TStream* Stream;
    bool IsNew;
    TZipDirArray Directory;    // entries as they stand in the file, while an update goes on
    TZipDirArray UpdateList;   // entries the archive has and is to have
    TZipEndInfo End;
    int64_t DataStart = 0;
    bool HasDirectory = false;  // an end record was found when the archive was read
};

// Folder with a trailing '\' (the current folder when empty).
std::string ZipTrailingSeparator(const std::string& folder);
// A path expanded against a base folder without touching the process's current folder.
std::string ZipExpandPath(const std::string& path, const std::string& base);
// The name an entry is stored under, '/' separators (folders get their '/' from the caller).
std::string ZipStoredName(const std::string& path, const std::string& baseDir, TZipStorePathMode mode);
// The same with the base folder already expanded and ending in a separator.
std::string ZipStoredNameBelow(const std::string& path, const std::string& expandedBase, TZipStorePathMode mode);
bool ZipIsFloppy(const std::string& path);
bool ZipIsRemovable(const std::string& path);
int64_t ZipFreeSpace(const std::string& path);
bool ZipIsSfxName(const std::string& fileName);
bool ZipIsRelativeMask(const std::string& mask);

} // namespace krv
