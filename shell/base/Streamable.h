// Base classes of what the explorer tree keeps in streams: each carries the
// version of the stream it was read from or written to.
#pragma once
#include "framework/Classes.h"
#include "framework/Stream.h"
#include <string>
#include <vector>

namespace krv {

class TStreamableClass : public TObject {
public:
    int StreamVersion = -1;

    virtual void LoadFromFile(const std::wstring& fileName, int version, bool readVerFromStream);
    // With readVerFromStream the version comes from the stream (32 bits), else it is version.
    // Descendants call this first, then read their own data.
    virtual void LoadFromStream(TStream& s, int version, bool readVerFromStream);
    virtual void SaveToFile(const std::wstring& fileName, int version, bool writeVerToStream);
    // With writeVerToStream the version goes first into the stream (32 bits).
    virtual void SaveToStream(TStream& s, int version, bool writeVerToStream);
};

class TStreamableList : public TObject {
public:
    int StreamVersion = -1;

    int Count() const { return static_cast<int>(items_.size()); }
    void* operator[](int i) const { return items_.at(static_cast<size_t>(i)); }
    int Add(void* item) { items_.push_back(item); return Count() - 1; }
    virtual void Clear() { items_.clear(); }

    // The file forms use version 0 and keep no version in the file.
    virtual void LoadFromFile(const std::wstring& fileName);
    // Clears the list first, then takes the version as TStreamableClass does.
    virtual void LoadFromStream(TStream& s, int version, bool readVerFromStream);
    virtual void SaveToFile(const std::wstring& fileName);
    virtual void SaveToStream(TStream& s, int version, bool writeVerToStream);

protected:
    std::vector<void*> items_;
};

} // namespace krv
