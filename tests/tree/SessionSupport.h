// Scripted input sessions for the tree: a string tree of named nodes in a
// shown form, mouse and key messages sent to its window (no input device),
// and a log of every event the tree fires, in order.
#pragma once
#include "TreeTestSupport.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "tree/string/LazyStringTree.h"
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace krv::test {

class TSessionTree : public TLazyStringTree {
public:
    using TLazyStringTree::TLazyStringTree;
    using TBaseLazyTree::AutoScrollAllowed;
    using TBaseLazyTree::ScrollDirectionsAt;
    using TBaseLazyTree::lastSearchNode_;
    using TBaseLazyTree::lastClickedNode_;
    // Drags started, with the selection they carried (the drag manager is not part of these tests).
    std::vector<std::vector<PLazyNode>> drags;
    std::function<void(HMENU)> menuOpens;   // each menu a context menu over the tree opens
protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (msg == WM_INITMENUPOPUP && menuOpens) menuOpens(reinterpret_cast<HMENU>(wParam));
        return TLazyStringTree::HandleMessage(msg, wParam, lParam, result);
    }
    void StartOleDrag(POINT p) override {
        drags.push_back(GetSortedSelection(true));
        TLazyStringTree::StartOleDrag(p);
    }
    // The system's loop would wait for the mouse: the drag ends at once.
    HRESULT RunDragLoop(IDataObject*, IDropSource*, DWORD, DWORD& effect) override {
        effect = DROPEFFECT_NONE;
        return DRAGDROP_S_CANCEL;
    }
};

// One shown form holds the tree of every session: closing a form costs seconds here.
inline TForm& SessionForm() {
    static TForm* form = [] {
        auto* f = new TForm;
        f->SetCaption("Tree session");
        return f;
    }();
    return *form;
}

struct Session {
    TForm& form = SessionForm();
    // On the heap, so that a handler can free it (held.reset()) as a program's would.
    std::unique_ptr<TSessionTree> held = std::make_unique<TSessionTree>();
    TSessionTree& tree = *held;
    std::map<PLazyNode, std::wstring> texts;
    std::vector<std::string> log;
    bool logFocusChanging = false;

    explicit Session(int width = 240, int height = 200) {
        form.SetBounds(20, 20, width + 40, height + 60);
        tree.SetParent(&form);
        tree.SetBorderStyle(TBorderStyle::bsNone);
        tree.SetBounds(0, 0, width, height);
        tree.OnGetText = [this](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType type, std::wstring& text) {
            auto it = texts.find(node);
            text = type == ttNormal && it != texts.end() ? it->second : L"";
        };
        tree.OnInitNode = [this](TBaseLazyTree*, PLazyNode, PLazyNode node, TLazyNodeInitStates&) {
            if (!texts.count(node)) texts[node] = pendingText_;
        };
        tree.OnFocusChanging = [this](TBaseLazyTree*, PLazyNode o, PLazyNode n, TColumnIndex, TColumnIndex, bool&) {
            if (logFocusChanging) Log("changing " + Name(o) + ">" + Name(n));
        };
        tree.OnFocusChanged = [this](TBaseLazyTree*, PLazyNode n, TColumnIndex) { Log("focus " + Name(n)); };
        tree.OnChange = [this](TBaseLazyTree*, PLazyNode) { Log("change"); };
        tree.OnChecking = [this](TBaseLazyTree*, PLazyNode n, TCheckState& s, bool&) {
            Log("checking " + Name(n) + "=" + std::to_string(int(s)));
        };
        tree.OnChecked = [this](TBaseLazyTree*, PLazyNode n) { Log("checked " + Name(n)); };
        tree.OnExpanded = [this](TBaseLazyTree*, PLazyNode n) { Log("expanded " + Name(n)); };
        tree.OnCollapsed = [this](TBaseLazyTree*, PLazyNode n) { Log("collapsed " + Name(n)); };
        tree.OnHotChange = [this](TBaseLazyTree*, PLazyNode, PLazyNode n) { Log("hot " + Name(n)); };
        tree.OnEdited = [this](TBaseLazyTree*, PLazyNode n, TColumnIndex) { Log("edited " + Name(n)); };
        tree.OnEditCancelled = [this](TBaseLazyTree*, TColumnIndex) { Log("edit cancelled"); };
        tree.OnNewText = [this](TBaseLazyTree*, PLazyNode n, TColumnIndex, const std::wstring& t) {
            Log("text " + Name(n) + "=" + krv::WideToAnsi(t));
            texts[n] = t;
        };
        form.Show();
        tree.HandleNeeded();
    }
    ~Session() { SetKeys(0); }

    void Log(const std::string& s) { log.push_back(s); }
    std::string Name(PLazyNode n) const {
        auto it = texts.find(n);
        return n ? (it != texts.end() ? krv::WideToAnsi(it->second) : "?") : "nil";
    }
    // The text is there before the new node is first measured (when it is initialised).
    PLazyNode Add(PLazyNode parent, const std::wstring& text) {
        pendingText_ = text;
        PLazyNode n = tree.AddChild(parent);
        texts[n] = text;
        if (tree.CachedWidth(n)) tree.InvalidateNode(n);
        return n;
    }
    std::wstring pendingText_;
    PLazyNode Node(const std::string& name) const {
        for (auto& [n, t] : texts)
            if (krv::WideToAnsi(t) == name) return n;
        return nullptr;
    }
    std::vector<std::string> Take() { return std::exchange(log, {}); }
    // The selected nodes in tree order, comma separated.
    std::string Selection() {
        std::string s;
        for (PLazyNode n : tree.GetSortedSelection(false)) {
            if (!s.empty()) s += ',';
            s += Name(n);
        }
        return s;
    }

    // ---- messages ----
    LRESULT Send(UINT msg, WPARAM w = 0, LPARAM l = 0) { return held ? ::SendMessageA(tree.Handle(), msg, w, l) : 0; }
    static LPARAM At(POINT p) { return MAKELPARAM(p.x, p.y); }
    // The first client point of the node's row whose hit parts include part.
    POINT PointOn(PLazyNode node, uint16_t part) {
        RECT r = tree.GetDisplayRect(node, ColumnNone, false);
        int y = (r.top + r.bottom) / 2;
        for (int x = 0; x < tree.ClientWidth(); ++x) {
            THitTestResult hi;
            tree.GetHitTestInfoAt(x, y, true, hi);
            if (hi.Node == node && (hi.Positions & part)) return POINT{x + 1 < tree.ClientWidth() ? x + 1 : x, y};
        }
        ADD_FAILURE() << "no such part on " << Name(node);
        return POINT{-100, -100};
    }
    void Down(POINT p, WPARAM keys = 0) { Send(WM_LBUTTONDOWN, MK_LBUTTON | keys, At(p)); }
    void Up(POINT p, WPARAM keys = 0) { Send(WM_LBUTTONUP, keys, At(p)); }
    void Move(POINT p, WPARAM keys = MK_LBUTTON) { Send(WM_MOUSEMOVE, keys, At(p)); }
    void Click(POINT p, WPARAM keys = 0) {
        Down(p, keys);
        Up(p, keys);
    }
    void Click(const std::string& node, uint16_t part = hpOnItemLabel, WPARAM keys = 0) { Click(PointOn(Node(node), part), keys); }
    void DoubleClick(POINT p) {
        Click(p);
        Send(WM_LBUTTONDBLCLK, MK_LBUTTON, At(p));
        Up(p);
    }
    // Holds Shift and Ctrl in this thread's keyboard state (read by the key handlers).
    static void SetKeys(unsigned shiftState) {
        BYTE state[256];
        ::GetKeyboardState(state);
        state[VK_SHIFT] = state[VK_LSHIFT] = (shiftState & ssShift) ? 0x80 : 0;
        state[VK_CONTROL] = state[VK_LCONTROL] = (shiftState & ssCtrl) ? 0x80 : 0;
        ::SetKeyboardState(state);
    }
    // A key press: down, the character it makes (if any), up.
    void Key(WORD vk, unsigned shiftState = 0, wchar_t ch = 0) {
        SetKeys(shiftState);
        Send(WM_KEYDOWN, vk, 1);
        if (ch) Send(WM_CHAR, ch, 1);
        Send(WM_KEYUP, vk, 0xC0000001);
        SetKeys(0);
    }
    void Type(const std::string& s) {
        for (char c : s) {
            SHORT vk = ::VkKeyScanA(c);
            Key(WORD(vk & 0xFF), (vk & 0x100) ? unsigned(ssShift) : 0u, wchar_t(c));
        }
    }
    void Timer(UINT_PTR id) { Send(WM_TIMER, id, 0); }
};

#define EXPECT_LOG(session, ...) EXPECT_EQ((session).Take(), (std::vector<std::string>{__VA_ARGS__}))

} // namespace krv::test
