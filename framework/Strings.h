// A list of ANSI strings with an optional object per line: sorted or in order,
// with a duplicates rule, whole-text and comma-text views, name=value access.
#pragma once
#include "framework/SysUtils.h"
#include <string>
#include <vector>

namespace krv {

class EStringListError : public Exception {
public:
    using Exception::Exception;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

// Binary search of a sorted list of count items; compareAt(i) orders item i
// against the one sought. index is where it stands or would be inserted;
// unless duplicates are accepted a match stops the range there.
template <class CompareAt> bool FindSorted(int count, TDuplicates duplicates, CompareAt compareAt, int& index) {
    int lo = 0, hi = count - 1;
    bool found = false;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = compareAt(mid);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                if (duplicates != dupAccept) lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

class TStringList {
public:
    TStringList() = default;
    virtual ~TStringList() = default;

    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    const std::string& operator[](int i) const { return Get(i); }
    const std::string& Get(int i) const;
    void Put(int i, const std::string& s);
    void* Objects(int i) const;
    void PutObject(int i, void* obj);

    // Adds in order, or at its sorted place; answers the index (-1 when ignored).
    // Every addition goes through AddObject or Insert, so a list that filters
    // what it takes overrides those two.
    int Add(const std::string& s) { return AddObject(s, nullptr); }
    virtual int AddObject(const std::string& s, void* obj);
    void AddStrings(const TStringList& other);
    virtual void Insert(int i, const std::string& s, void* obj = nullptr);
    void Delete(int i);
    void Clear();
    void Exchange(int a, int b);
    int IndexOf(const std::string& s) const;
    int IndexOfObject(const void* obj) const;
    // Binary search of a sorted list: true when found, index is where it is or would go.
    bool Find(const std::string& s, int& index) const;

    bool Sorted() const { return sorted_; }
    void SetSorted(bool v);
    void Sort();
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates d) { duplicates_ = d; }
    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool v);

    // Lines joined with CRLF after each line; set splits at CR, LF or CRLF.
    std::string Text() const;
    void SetText(const std::string& text);
    // Comma-separated, items with spaces, commas or quotes in double quotes.
    std::string CommaText() const;
    void SetCommaText(const std::string& text);
    // Name=Value lines.
    std::string Names(int i) const;
    std::string Value(const std::string& name) const;
    void SetValue(const std::string& name, const std::string& value);
    int IndexOfName(const std::string& name) const;

    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    std::vector<std::string> ToVector() const;

protected:
    int Compare(const std::string& a, const std::string& b) const;

private:
    struct Item {
        std::string text;
        void* object = nullptr;
    };
    std::vector<Item> items_;
    bool sorted_ = false;
    bool caseSensitive_ = false;
    TDuplicates duplicates_ = dupIgnore;

    void CheckIndex(int i) const;
};

using TStrings = TStringList;

} // namespace krv
