#include "framework/Strings.h"
#include "framework/Stream.h"
#include <algorithm>

namespace krv {

void TStringList::CheckIndex(int i) const {
    if (i < 0 || i >= Count()) throw EStringListError(Format("List index out of bounds (%d)", i));
}
const std::string& TStringList::Get(int i) const { CheckIndex(i); return items_[i].text; }
void TStringList::Put(int i, const std::string& s) {
    CheckIndex(i);
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    items_[i].text = s;
}
void* TStringList::Objects(int i) const { CheckIndex(i); return items_[i].object; }
void TStringList::PutObject(int i, void* obj) { CheckIndex(i); items_[i].object = obj; }

int TStringList::Compare(const std::string& a, const std::string& b) const {
    return caseSensitive_ ? ::CompareStringA(LOCALE_USER_DEFAULT, 0, a.data(), (int)a.size(), b.data(), (int)b.size()) - CSTR_EQUAL
                          : CompareText(a, b);
}

bool TStringList::Find(const std::string& s, int& index) const {
    return FindSorted(Count(), duplicates_, [&](int i) { return Compare(items_[i].text, s); }, index);
}

int TStringList::AddObject(const std::string& s, void* obj) {
    int index = Count();
    if (sorted_) {
        if (Find(s, index)) {
            if (duplicates_ == dupIgnore) return index;
            if (duplicates_ == dupError) throw EStringListError("String list does not allow duplicates");
        }
    }
    items_.insert(items_.begin() + index, Item{s, obj});
    return index;
}

void TStringList::AddStrings(const TStringList& other) {
    for (const auto& it : other.items_) AddObject(it.text, it.object);
}

void TStringList::Insert(int i, const std::string& s, void* obj) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    if (i < 0 || i > Count()) throw EStringListError(Format("List index out of bounds (%d)", i));
    items_.insert(items_.begin() + i, Item{s, obj});
}
void TStringList::Delete(int i) { CheckIndex(i); items_.erase(items_.begin() + i); }
void TStringList::Clear() { items_.clear(); }
void TStringList::Exchange(int a, int b) { CheckIndex(a); CheckIndex(b); std::swap(items_[a], items_[b]); }

int TStringList::IndexOf(const std::string& s) const {
    if (sorted_) {
        int i;
        return Find(s, i) ? i : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (Compare(items_[i].text, s) == 0) return i;
    return -1;
}
int TStringList::IndexOfObject(const void* obj) const {
    for (int i = 0; i < Count(); ++i)
        if (items_[i].object == obj) return i;
    return -1;
}

void TStringList::Sort() {
    std::stable_sort(items_.begin(), items_.end(),
                     [this](const Item& a, const Item& b) { return Compare(a.text, b.text) < 0; });
}
void TStringList::SetSorted(bool v) {
    if (v && !sorted_) Sort();
    sorted_ = v;
}
void TStringList::SetCaseSensitive(bool v) {
    caseSensitive_ = v;
    if (sorted_) Sort();
}

std::string TStringList::Text() const {
    std::string r;
    for (const auto& it : items_) { r += it.text; r += "\r\n"; }
    return r;
}
void TStringList::SetText(const std::string& text) {
    Clear();
    size_t i = 0, n = text.size();
    while (i < n) {
        size_t start = i;
        while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
        Add(text.substr(start, i - start));
        if (i < n && text[i] == '\r') ++i;
        if (i < n && text[i] == '\n') ++i;
    }
}

std::string TStringList::CommaText() const {
    std::string r;
    for (int i = 0; i < Count(); ++i) {
        const std::string& s = items_[i].text;
        if (i) r += ',';
        bool quote = s.empty() ? false : s.find_first_of(" ,\"\t") != std::string::npos;
        for (char c : s) if (static_cast<unsigned char>(c) < ' ') quote = true;
        if (quote) {
            r += '"';
            for (char c : s) { if (c == '"') r += '"'; r += c; }
            r += '"';
        } else r += s;
    }
    return r;
}
void TStringList::SetCommaText(const std::string& text) {
    Clear();
    size_t i = 0, n = text.size();
    auto skipBlank = [&] { while (i < n && static_cast<unsigned char>(text[i]) <= ' ') ++i; };
    skipBlank();
    while (i < n) {
        std::string item;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') { item += '"'; i += 2; continue; }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > ' ') item += text[i++];
        }
        Add(item);
        skipBlank();
        if (i < n && text[i] == ',') { ++i; skipBlank(); if (i >= n) Add(""); }
    }
}

std::string TStringList::Names(int i) const {
    const std::string& s = Get(i);
    size_t p = s.find('=');
    return p == std::string::npos ? std::string() : s.substr(0, p);
}
int TStringList::IndexOfName(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        size_t p = items_[i].text.find('=');
        if (p != std::string::npos && SameText(items_[i].text.substr(0, p), name)) return i;
    }
    return -1;
}
std::string TStringList::Value(const std::string& name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : items_[i].text.substr(name.size() + 1);
}
void TStringList::SetValue(const std::string& name, const std::string& value) {
    int i = IndexOfName(name);
    if (i >= 0) {
        if (value.empty()) Delete(i);
        else items_[i].text = name + "=" + value;
    } else if (!value.empty()) Add(name + "=" + value);
}

void TStringList::LoadFromFile(const std::string& fileName) {
    TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
    std::string data(static_cast<size_t>(f.Size()), '\0');
    if (!data.empty()) f.ReadBuffer(data.data(), data.size());
    SetText(data);
}
void TStringList::SaveToFile(const std::string& fileName) const {
    TFileStream f(fileName, fmCreate);
    std::string data = Text();
    if (!data.empty()) f.WriteBuffer(data.data(), data.size());
}

std::vector<std::string> TStringList::ToVector() const {
    std::vector<std::string> v;
    v.reserve(items_.size());
    for (const auto& it : items_) v.push_back(it.text);
    return v;
}

} // namespace krv
