// Small objects the tree publishes as properties: the colour table, the
// scroll-bar options, the list of clipboard formats the tree offers, and the
// growable text buffers of the export routines.
#pragma once
#include "framework/Graphics.h"
#include "framework/Strings.h"
#include "tree/core/LazyTreeOptions.h"
#include <memory>
#include <string>

namespace krv {

class TBaseLazyTree;

class TLTColors {
public:
    enum Index {
        DisabledColor, DropMarkColor, DropTargetColor, FocusedSelectionColor, GridLineColor, TreeLineColor,
        UnfocusedSelectionColor, BorderColor, HotColor, FocusedSelectionBorderColor, UnfocusedSelectionBorderColor,
        DropTargetBorderColor, SelectionRectangleBlendColor, SelectionRectangleBorderColor, HeaderHotColor, Count
    };
    explicit TLTColors(TBaseLazyTree* owner);
    TColor Get(Index i) const { return colors_[i]; }
    // Stores a different value and repaints what shows it.
    void Set(Index i, TColor value);
    void Assign(const TLTColors& other);
private:
    TBaseLazyTree* owner_;
    TColor colors_[Count];
};

class TScrollBarOptions {
public:
    explicit TScrollBarOptions(TBaseLazyTree* owner) : owner_(owner) {}
    bool AlwaysVisible() const { return alwaysVisible_; }
    void SetAlwaysVisible(bool value);
    TScrollStyle ScrollBars() const { return scrollBars_; }
    void SetScrollBars(TScrollStyle value);
    TScrollBarStyle ScrollBarStyle() const { return style_; }
    void SetScrollBarStyle(TScrollBarStyle value) { style_ = value; }
    int HorizontalIncrement = 20;
    int VerticalIncrement = 20;
    void Assign(const TScrollBarOptions& other);
private:
    TBaseLazyTree* owner_;
    bool alwaysVisible_ = false;
    TScrollStyle scrollBars_ = ssBoth;
    TScrollBarStyle style_ = ssRegular;
};

// The descriptions of the formats the tree offers; only registered formats
// that the owner tree's class can render are taken.
class TClipboardFormats : public TStringList {
public:
    explicit TClipboardFormats(TBaseLazyTree* owner);
    int AddObject(const std::string& s, void* obj) override;
    // The list is sorted: an accepted description goes to its sorted place.
    void Insert(int index, const std::string& s, void* obj = nullptr) override;
    void Assign(const TStringList& other);
private:
    bool Acceptable(const std::string& s) const;
    TBaseLazyTree* owner_;
};

// An append-only text in a heap block that grows to fit whatever is added.
template <class Char> class TTextBuffer {
public:
    void Add(const Char* s, size_t length) {
        Reserve(length);
        std::copy_n(s, length, current_);
        current_ += length;
    }
    void Add(const std::basic_string<Char>& s) { Add(s.data(), s.size()); }
    void AddNewLine() {
        const Char crlf[2] = {Char('\r'), Char('\n')};
        Add(crlf, 2);
    }
    std::basic_string<Char> AsString() const { return std::basic_string<Char>(start_.get(), current_); }
    size_t Capacity() const { return size_t(end_ - start_.get()); }
private:
    static constexpr size_t Step = 4096;
    // Grows by at least one step, and by the whole text when it is longer.
    void Reserve(size_t length) {
        size_t used = size_t(current_ - start_.get());
        if (size_t(end_ - current_) > length) return;
        size_t capacity = Capacity() + std::max(Step, length + 1);
        std::unique_ptr<Char[]> block(new Char[capacity]);
        std::copy_n(start_.get(), used, block.get());
        start_ = std::move(block);
        current_ = start_.get() + used;
        end_ = start_.get() + capacity;
    }
    std::unique_ptr<Char[]> start_;
    Char* current_ = nullptr;
    Char* end_ = nullptr;
};
using TBufferedString = TTextBuffer<char>;
using TWideBufferedString = TTextBuffer<wchar_t>;

} // namespace krv
