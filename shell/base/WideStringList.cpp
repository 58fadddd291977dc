#include "shell/base/WideStringList.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideFileStream.h"
#include "shell/base/WideStrUtils.h"
#include <utility>

namespace krv {

TWideStringList::~TWideStringList() {
    OnChange = nullptr;
    OnChanging = nullptr;
    Clear();
}

void TWideStringList::Changed() {
    if (OnChange) OnChange(this);
}
void TWideStringList::Changing() {
    if (OnChanging) OnChanging(this);
}

int TWideStringList::CompareStrings(const std::wstring& a, const std::wstring& b) {
    return StrICompW(a.c_str(), b.c_str());
}

void TWideStringList::CheckIndex(int index) const {
    if (index < 0 || index >= GetCount()) throw EStringListError(Format("List index out of bounds (%d)", index));
}

void TWideStringList::SetSorted(bool value) {
    if (value == sorted_) return;
    if (value) Sort();
    sorted_ = value;
}

std::wstring TWideStringList::Get(int index) const {
    CheckIndex(index);
    return list_[static_cast<size_t>(index)].text;
}

TObject* TWideStringList::GetObject(int index) const {
    CheckIndex(index);
    return list_[static_cast<size_t>(index)].object;
}

void TWideStringList::Put(int index, const std::wstring& s) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    CheckIndex(index);
    Changing();
    list_[static_cast<size_t>(index)].text = s;
    Changed();
}

void TWideStringList::PutObject(int index, TObject* object) {
    CheckIndex(index);
    Changing();
    list_[static_cast<size_t>(index)].object = object;
    Changed();
}

void TWideStringList::SetCapacity(int n) {
    if (n < GetCount() || n >= 0x8000000) throw EStringListError(Format("List capacity out of bounds (%d)", n));
    list_.reserve(static_cast<size_t>(n));
    capacity_ = n;
}

void TWideStringList::Grow() {
    int delta = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
    SetCapacity(capacity_ + delta);
}

void TWideStringList::SetUpdateState(bool updating) {
    if (updating) Changing();
    else Changed();
}

void TWideStringList::InsertItem(int index, const std::wstring& s, TObject* object) {
    Changing();
    if (GetCount() == capacity_) Grow();
    list_.insert(list_.begin() + index, TItem{s, object});
    Changed();
}

int TWideStringList::AddObject(const std::wstring& s, TObject* object) {
    int index = GetCount();
    if (sorted_) {
        if (Find(s, index)) {
            if (duplicates_ == dupIgnore) return index;
            if (duplicates_ == dupError) throw EStringListError("String list does not allow duplicates");
        }
    }
    InsertItem(index, s, object);
    return index;
}

void TWideStringList::AddStrings(const TWideStringList& strings) {
    for (int i = 0; i < strings.GetCount(); ++i) AddObject(strings.Get(i), strings.GetObject(i));
}

void TWideStringList::AddStrings(const TStrings& strings) {
    for (int i = 0; i < strings.Count(); ++i)
        AddObject(AnsiToWide(strings.Get(i)), static_cast<TObject*>(strings.Objects(i)));
}

void TWideStringList::Assign(const TWideStringList& source) {
    if (&source == this) return;
    Clear();
    AddStrings(source);
}

void TWideStringList::Assign(const TStrings& source) {
    Clear();
    AddStrings(source);
}

void TWideStringList::AssignTo(TWideStringList& dest) const { dest.Assign(*this); }

void TWideStringList::AssignTo(TStrings& dest) const {
    dest.Clear();
    for (const TItem& item : list_) dest.AddObject(WideToAnsi(item.text), item.object);
}

void TWideStringList::Clear() {
    if (list_.empty()) return;
    Changing();
    while (!list_.empty()) Delete(0);
    SetCapacity(0);
    Changed();
}

void TWideStringList::Delete(int index) {
    CheckIndex(index);
    Changing();
    TObject* object = list_[static_cast<size_t>(index)].object;
    list_.erase(list_.begin() + index);
    if (OwnsObjects) delete object;
    Changed();
}

void TWideStringList::ExchangeItems(int index1, int index2) {
    std::swap(list_[static_cast<size_t>(index1)], list_[static_cast<size_t>(index2)]);
}

void TWideStringList::Exchange(int index1, int index2) {
    CheckIndex(index1);
    CheckIndex(index2);
    Changing();
    ExchangeItems(index1, index2);
    Changed();
}

bool TWideStringList::Find(const std::wstring& s, int& index) const {
    return FindSorted(GetCount(), duplicates_,
                      [&](int i) { return CompareStrings(list_[static_cast<size_t>(i)].text, s); }, index);
}

int TWideStringList::IndexOf(const std::wstring& s) const {
    if (sorted_) {
        int index;
        return Find(s, index) ? index : -1;
    }
    for (int i = 0; i < GetCount(); ++i)
        if (CompareStrings(list_[static_cast<size_t>(i)].text, s) == 0) return i;
    return -1;
}

void TWideStringList::Insert(int index, const std::wstring& s) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    if (index < 0 || index > GetCount()) throw EStringListError(Format("List index out of bounds (%d)", index));
    InsertItem(index, s, nullptr);
}

void TWideStringList::QuickSort(int l, int r, const TCompare& compare) {
    int i;
    do {
        i = l;
        int j = r, p = (l + r) / 2;
        do {
            while (compare(*this, i, p) < 0) ++i;
            while (compare(*this, j, p) > 0) --j;
            if (i <= j) {
                ExchangeItems(i, j);
                if (p == i) p = j;
                else if (p == j) p = i;
                ++i;
                --j;
            }
        } while (i <= j);
        if (l < j) QuickSort(l, j, compare);
        l = i;
    } while (i < r);
}

void TWideStringList::CustomSort(const TCompare& compare) {
    if (sorted_ || GetCount() < 2) return;
    Changing();
    QuickSort(0, GetCount() - 1, compare);
    Changed();
}

void TWideStringList::Sort() {
    CustomSort([](TWideStringList& list, int a, int b) {
        return CompareStrings(list.list_[static_cast<size_t>(a)].text, list.list_[static_cast<size_t>(b)].text);
    });
}

std::wstring TWideStringList::Text() const {
    std::wstring r;
    for (const TItem& item : list_) {
        r += item.text;
        r += L"\r\n";
    }
    return r;
}

void TWideStringList::SetText(const std::wstring& text) {
    Clear();
    size_t start = 0, i = 0;
    while (i < text.size()) {
        wchar_t c = text[i];
        bool lineBreak = c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r' || c == 0x2028 || c == 0x2029;
        if (!lineBreak) {
            ++i;
            continue;
        }
        Add(text.substr(start, i - start));
        i += (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ? 2 : 1;
        start = i;
    }
    if (start < text.size()) Add(text.substr(start));
}

void TWideStringList::LoadFromStream(TStream& stream) {
    int64_t size = stream.Size() - stream.Position();
    std::wstring text;
    uint8_t mark[2] = {0, 0};
    bool unicode = false, swapped = false;
    if (size >= 2) {
        stream.ReadBuffer(mark, 2);
        unicode = (mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF);
        swapped = mark[0] == 0xFE;
        if (!unicode) stream.Seek(-2, soCurrent);
    }
    if (unicode) {
        // An odd last byte is half a unit: it is dropped.
        size_t units = static_cast<size_t>((size - 2) / 2);
        text.resize(units);
        if (units) stream.ReadBuffer(text.data(), units * 2);
        if (static_cast<size_t>(size - 2) % 2) stream.Seek(1, soCurrent);
        if (swapped) {
            for (wchar_t& u : text) u = static_cast<wchar_t>(((u & 0xFF) << 8) | ((u >> 8) & 0xFF));
        }
    } else if (size > 0) {
        std::string ansi(static_cast<size_t>(size), '\0');
        stream.ReadBuffer(ansi.data(), ansi.size());
        text = AnsiToWide(ansi);
    }
    SetText(text);
}

void TWideStringList::SaveToStream(TStream& stream) const {
    static const uint8_t mark[2] = {0xFF, 0xFE};
    stream.WriteBuffer(mark, 2);
    std::wstring text = Text();
    if (!text.empty()) stream.WriteBuffer(text.data(), text.size() * sizeof(wchar_t));
}

void TWideStringList::LoadFromFile(const std::wstring& fileName) {
    TWideFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
    LoadFromStream(stream);
}

void TWideStringList::SaveToFile(const std::wstring& fileName) const {
    if (IsWinNT()) {
        TWideFileStream stream(fileName, fmCreate);
        SaveToStream(stream);
        return;
    }
    // Windows 9x keeps text files in the ANSI code page, without a mark.
    TStringList ansi;
    AssignTo(ansi);
    ansi.SaveToFile(WideToAnsi(fileName));
}

} // namespace krv
