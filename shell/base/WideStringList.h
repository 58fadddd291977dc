// A list of UTF-16 strings, each with an object: sortable and searchable
// without regard to case, with change events and a UTF-16 text file format
// (byte-order mark FF FE, lines ended by CR LF).
#pragma once
#include "framework/Classes.h"
#include "framework/Stream.h"
#include "framework/Strings.h"
#include <functional>
#include <string>
#include <vector>

namespace krv {

class TWideStringList : public TObject {
public:
    using TCompare = std::function<int(TWideStringList& list, int index1, int index2)>;

    TWideStringList() = default;
    TWideStringList(const TWideStringList&) = delete;
    TWideStringList& operator=(const TWideStringList&) = delete;
    ~TWideStringList() override;

    std::function<void(TObject* sender)> OnChange;
    std::function<void(TObject* sender)> OnChanging;
    bool OwnsObjects = false;

    bool Sorted() const { return sorted_; }
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates d) { duplicates_ = d; }

    virtual void AssignTo(TWideStringList& dest) const;
    virtual void AssignTo(TStrings& dest) const;
    virtual void Assign(const TWideStringList& source);
    virtual void Assign(const TStrings& source);
    virtual std::wstring Get(int index) const;
    virtual int GetCapacity() const { return capacity_; }
    virtual int GetCount() const { return static_cast<int>(list_.size()); }
    virtual TObject* GetObject(int index) const;
    virtual void Put(int index, const std::wstring& s);
    virtual void PutObject(int index, TObject* object);
    virtual void SetCapacity(int n);
    virtual void SetUpdateState(bool updating);
    virtual int Add(const std::wstring& s) { return AddObject(s, nullptr); }
    virtual int AddObject(const std::wstring& s, TObject* object);
    virtual void AddStrings(const TWideStringList& strings);
    virtual void AddStrings(const TStrings& strings);
    virtual void Clear();
    virtual void CustomSort(const TCompare& compare);
    virtual void Delete(int index);
    virtual void Exchange(int index1, int index2);
    virtual bool Find(const std::wstring& s, int& index) const;
    virtual int IndexOf(const std::wstring& s) const;
    virtual void Insert(int index, const std::wstring& s);
    virtual void Sort();
    virtual void LoadFromFile(const std::wstring& fileName);
    virtual void LoadFromStream(TStream& stream);
    virtual void SaveToFile(const std::wstring& fileName) const;
    virtual void SaveToStream(TStream& stream) const;

    int Count() const { return GetCount(); }
    std::wstring operator[](int index) const { return Get(index); }
    std::wstring Text() const;
    void SetText(const std::wstring& text);

protected:
    virtual void Changed();
    virtual void Changing();
    // Case-insensitive comparison of two strings as the list orders them.
    static int CompareStrings(const std::wstring& a, const std::wstring& b);

private:
    struct TItem {
        std::wstring text;
        TObject* object = nullptr;
    };
    void InsertItem(int index, const std::wstring& s, TObject* object);
    void Grow();
    void ExchangeItems(int index1, int index2);
    void QuickSort(int l, int r, const TCompare& compare);
    void CheckIndex(int index) const;

    std::vector<TItem> list_;
    int capacity_ = 0;
    bool sorted_ = false;
    TDuplicates duplicates_ = dupIgnore;
};

} // namespace krv
