// A string tree that keeps its texts in a map, so copied, moved and pasted
// nodes (which arrive through the caption chunk) can be read back, and a
// one-line picture of a tree: texts, check states and nesting.
// Used by the clipboard tests and by the second-process peer (tests/tools).
#pragma once
#include "framework/SysUtils.h"
#include "tree/string/LazyStringTree.h"
#include <map>
#include <string>

namespace krv::test {

class TTextTree : public TLazyStringTree {
public:
    explicit TTextTree(TComponent* owner = nullptr) : TLazyStringTree(owner) {
        OnGetText = [this](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType type, std::wstring& text) {
            if (type != ttNormal) return;
            auto it = texts.find(node);
            if (it != texts.end()) text = it->second;
        };
        OnNewText = [this](TBaseLazyTree*, PLazyNode node, TColumnIndex, const std::wstring& text) {
            texts[node] = text;
        };
        OnFreeNode = [this](TBaseLazyTree*, PLazyNode node) { texts.erase(node); };
        // Initialised on creation, so every node is saved with its text.
        OnInitNode = [](TBaseLazyTree*, PLazyNode, PLazyNode, TLazyNodeInitStates&) {};
        TreeOptions().SetSelectionOptions(TreeOptions().SelectionOptions() + toMultiSelect);
        for (const char* f : {"Lazy Tree Data", "HTML Format", "Rich Text Format", "Rich Text Format Without Objects",
                              "CSV", "Plain text", "Unicode text"})
            ClipboardFormats().Add(f);
    }
    // The handlers read this object's map: what is on the clipboard is
    // rendered while the map still exists.
    ~TTextTree() override {
        FlushClipboard();
        OnFreeNode = nullptr;
        OnGetText = nullptr;
        OnNewText = nullptr;
    }
    PLazyNode Add(PLazyNode parent, const std::wstring& text, TCheckState state = csUncheckedNormal) {
        PLazyNode node = AddChild(parent);
        InitIfNeeded(node);
        texts[node] = text;
        SetCheckType(node, ctCheckBox);
        node->CheckState = uint8_t(state);
        return node;
    }
    // "Alpha[x](Beta,Gamma[?]),Delta": [x] checked, [?] mixed, nothing unchecked.
    std::string Picture(PLazyNode parent = nullptr) {
        std::string out;
        PLazyNode first = parent ? parent->FirstChild : RootNode()->FirstChild;
        for (PLazyNode n = first; n; n = n->NextSibling) {
            if (!out.empty()) out += ",";
            out += krv::WideToAnsi(Text(n, ColumnNone));
            if (n->CheckState == csCheckedNormal) out += "[x]";
            else if (n->CheckState == csMixedNormal) out += "[?]";
            if (n->FirstChild) {
                out += '(';
                out += Picture(n);
                out += ')';
            }
        }
        return out;
    }
    PLazyNode Find(const std::wstring& text) {
        for (PLazyNode n = GetFirstNoInit(); n; n = GetNextNoInit(n))
            if (Text(n, ColumnNone) == text) return n;
        return nullptr;
    }
    using TBaseLazyTree::DoStateChange;
    using TBaseLazyTree::InitIfNeeded;
    std::map<PLazyNode, std::wstring> texts;
};

// The standard tree of these tests: Alpha[x](Beta,Gamma[?](Eps)),Delta[x].
inline void FillSample(TTextTree& t) {
    PLazyNode a = t.Add(nullptr, L"Alpha", csCheckedNormal);
    t.Add(a, L"Beta");
    PLazyNode g = t.Add(a, L"Gamma", csMixedNormal);
    t.Add(g, L"Eps");
    t.Add(nullptr, L"Delta", csCheckedNormal);
}

} // namespace krv::test
