// Drag and drop driven through the drop target and drop source interfaces
// (the system's modal loop waits for a mouse, so the tests play its part):
// drop target and mode per point, effects per key combination, the data a
// drop delivers, and the tree's own drag image read back from the screen.
#include "TextTree.h"
#include "SessionSupport.h"
#include "common/FreedMemoryTrap.h"
#include "tree/transfer/LazyTreeDragImage.h"
#include <algorithm>
#include "tree/paint/LazyTreeDrawing.h"
#include <functional>

using namespace krv;
using namespace krv::test;

namespace {
// A tree whose drag loop is a script of calls on a drop target.
class TDragTree : public TTextTree {
public:
    using TTextTree::TTextTree;
    using TBaseLazyTree::StartOleDrag;
    std::function<HRESULT(IDataObject*, IDropSource*, DWORD, DWORD&)> loop;
protected:
    HRESULT RunDragLoop(IDataObject* data, IDropSource* source, DWORD allowed, DWORD& effect) override {
        return loop ? loop(data, source, allowed, effect) : DRAGDROP_S_CANCEL;
    }
};

// Two trees side by side in a shown form: a is the source, b the target.
// Held on the heap, so that a handler can free either.
struct TwoTrees {
    std::unique_ptr<TDragTree> heldA = std::make_unique<TDragTree>(), heldB = std::make_unique<TDragTree>();
    TDragTree &a = *heldA, &b = *heldB;
    std::vector<std::string> log;
    TwoTrees() {
        TForm& form = SessionForm();
        form.SetBounds(30, 30, 600, 320);
        int x = 0;
        for (TDragTree* t : {&a, &b}) {
            t->SetParent(&form);
            t->SetBorderStyle(TBorderStyle::bsNone);
            t->SetBounds(x, 0, 280, 260);
            x += 290;
        }
        form.Show();
        a.HandleNeeded();
        b.HandleNeeded();
        b.OnDragOver = [this](TBaseLazyTree*, TObject*, TShiftState, TDragState state, POINT, TDropMode mode, DWORD&,
                              bool& accept) {
            log.push_back("over " + std::to_string(int(state)) + " mode " + std::to_string(int(mode)));
            accept = true;
        };
    }
    static POINTL Screen(TBaseLazyTree& t, POINT p) {
        ::ClientToScreen(t.Handle(), &p);
        return POINTL{p.x, p.y};
    }
    static POINT LabelCentre(TBaseLazyTree& t, PLazyNode n) {
        RECT r = t.GetDisplayRect(n, ColumnNone, true);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
};

TLTNodeAttachMode AttachFor(TDropMode mode) {
    return mode == dmAbove ? amInsertBefore : mode == dmBelow ? amInsertAfter : amAddChildLast;
}

std::vector<uint32_t> Grab(RECT r) {
    int w = r.right - r.left, h = r.bottom - r.top;
    return Capture(w, h, [&](HDC dc) {
               WindowDC screen(nullptr);
               ::BitBlt(dc, 0, 0, w, h, screen.get(), r.left, r.top, SRCCOPY);
           })
        .Pixels;
}

// Lets the windows reach the screen: messages are handled until two looks at
// the rectangle agree (a new window is shown a moment after it is painted).
std::vector<uint32_t> Settled(RECT r) {
    std::vector<uint32_t> last;
    for (int i = 0; i < 100; ++i) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        std::vector<uint32_t> now = Grab(r);
        if (now == last) return now;
        last = std::move(now);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return last;
}
}

TEST(TreeDrop, TargetNodeAndModeFollowThePoint) {
    TwoTrees v;
    PLazyNode host = v.b.Add(nullptr, L"Host"), second = v.b.Add(nullptr, L"Second");
    v.b.Add(nullptr, L"Third");
    v.a.Add(nullptr, L"Alpha");
    v.b.Update();
    ComPtr<IDataObject> data = v.a.DragManager()->DataObjectForDrag();
    IDropTarget* target = v.b.DragManager()->DropTarget();
    RECT row = v.b.GetDisplayRect(second, ColumnNone, false), label = v.b.GetDisplayRect(second, ColumnNone, true);
    int beside = label.right + 30;
    ASSERT_LT(beside, row.right);
    struct Case {
        POINT p;
        PLazyNode node;
        TDropMode mode;
    } cases[] = {
        {TwoTrees::LabelCentre(v.b, host), host, dmOnNode},
        {{beside, row.top + 1}, second, dmAbove},
        {{beside, (row.top + row.bottom) / 2 - 1}, second, dmAbove},
        {{beside, (row.top + row.bottom) / 2}, second, dmBelow},   // the middle line counts as lower
        {{beside, row.bottom - 1}, second, dmBelow},
        {{beside, 250}, nullptr, dmNowhere},
    };
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_EQ(S_OK, target->DragEnter(data.get(), MK_LBUTTON, TwoTrees::Screen(v.b, cases[0].p), &effect));
    EXPECT_TRUE(v.b.DragManager()->TreeIsDropTarget());
    EXPECT_EQ(static_cast<TBaseLazyTree*>(&v.a), v.b.DragManager()->SourceTree());
    for (const Case& c : cases) {
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        ASSERT_EQ(S_OK, target->DragOver(MK_LBUTTON, TwoTrees::Screen(v.b, c.p), &effect));
        EXPECT_EQ(c.node, v.b.DropTargetNode()) << c.p.x << "," << c.p.y;
        EXPECT_EQ(c.mode, v.b.LastDropMode()) << c.p.x << "," << c.p.y;
        EXPECT_EQ(DWORD(DROPEFFECT_COPY | DROPEFFECT_MOVE), effect);   // accepted: passed through
    }
    // Without the drop mark a drag over the row means the node itself.
    v.b.TreeOptions().SetPaintOptions(v.b.TreeOptions().PaintOptions() - toShowDropmark);
    ASSERT_EQ(S_OK, target->DragOver(MK_LBUTTON, TwoTrees::Screen(v.b, cases[1].p), &effect));
    EXPECT_EQ(dmOnNode, v.b.LastDropMode());
    ASSERT_EQ(S_OK, target->DragLeave());
    EXPECT_EQ(nullptr, v.b.DropTargetNode());
    EXPECT_FALSE(v.b.DragManager()->TreeIsDropTarget());
    EXPECT_EQ("over 0 mode 2", v.log.front());
    EXPECT_EQ("over 1 mode 2", v.log.back());   // the leave, with the last mode

    // Refused by the handler: no effect.
    v.b.OnDragOver = [](TBaseLazyTree*, TObject*, TShiftState, TDragState, POINT, TDropMode, DWORD&, bool& accept) {
        accept = false;
    };
    effect = DROPEFFECT_COPY;
    ASSERT_EQ(S_OK, target->DragEnter(data.get(), MK_LBUTTON, TwoTrees::Screen(v.b, cases[0].p), &effect));
    EXPECT_EQ(DWORD(DROPEFFECT_NONE), effect);
    EXPECT_TRUE(v.b.DropFormats().empty());
    target->DragLeave();
}

TEST(TreeDrop, EffectFollowsTheKeysWithinTheAllowedEffects) {
    TwoTrees v;
    PLazyNode host = v.b.Add(nullptr, L"Host");
    v.b.Update();
    DWORD dropped = 0;
    v.b.OnDragDrop = [&](TBaseLazyTree*, TObject*, IDataObject*, const TFormatArray&, TShiftState, POINT, DWORD& effect,
                         TDropMode) { dropped = effect; };
    ComPtr<IDataObject> fromA = v.a.DragManager()->DataObjectForDrag(), fromB = v.b.DragManager()->DataObjectForDrag();
    const DWORD all = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    struct Case {
        DWORD keys, allowed;
        bool sameTree;
        DWORD expected;
    } cases[] = {
        {0, all, false, DROPEFFECT_COPY},
        {0, all, true, DROPEFFECT_MOVE},
        {MK_CONTROL, all, true, DROPEFFECT_COPY},
        {MK_SHIFT, all, false, DROPEFFECT_MOVE},
        {MK_CONTROL | MK_SHIFT, all, false, DROPEFFECT_LINK},
        {MK_CONTROL | MK_SHIFT | MK_ALT, all, false, DROPEFFECT_LINK},
        {MK_ALT, all, false, DROPEFFECT_LINK},
        {MK_CONTROL | MK_ALT, all, true, DROPEFFECT_COPY},
        {MK_SHIFT | MK_ALT, all, false, DROPEFFECT_MOVE},
        // A default that is not allowed leaves the allowed set; a key that asks
        // for what is not allowed keeps the default.
        {0, DROPEFFECT_MOVE, false, DROPEFFECT_MOVE},
        {0, DROPEFFECT_COPY | DROPEFFECT_LINK, true, DROPEFFECT_COPY | DROPEFFECT_LINK},
        {MK_CONTROL, DROPEFFECT_MOVE | DROPEFFECT_LINK, true, DROPEFFECT_MOVE},
        {MK_ALT, DROPEFFECT_COPY | DROPEFFECT_LINK, true, DROPEFFECT_LINK},
        {MK_SHIFT, DROPEFFECT_COPY, false, DROPEFFECT_COPY},
    };
    IDropTarget* target = v.b.DragManager()->DropTarget();
    POINTL at = TwoTrees::Screen(v.b, TwoTrees::LabelCentre(v.b, host));
    for (const Case& c : cases) {
        IDataObject* data = c.sameTree ? fromB.get() : fromA.get();
        DWORD effect = c.allowed;
        ASSERT_EQ(S_OK, target->DragEnter(data, MK_LBUTTON | c.keys, at, &effect));
        effect = c.allowed;
        ASSERT_EQ(S_OK, target->Drop(data, c.keys, at, &effect));
        EXPECT_EQ(c.expected, effect) << "keys " << c.keys << " allowed " << c.allowed << " same " << c.sameTree;
        EXPECT_EQ(c.expected, dropped);
    }
}

TEST(TreeDrop, TheDropSourceEndsOnEscapeBothButtonsOrRelease) {
    TDragTree t;
    IDropSource* source = t.DragManager()->DropSource();
    EXPECT_EQ(DRAGDROP_S_CANCEL, source->QueryContinueDrag(TRUE, MK_LBUTTON));
    EXPECT_EQ(DRAGDROP_S_CANCEL, source->QueryContinueDrag(FALSE, MK_LBUTTON | MK_RBUTTON));
    EXPECT_EQ(DRAGDROP_S_DROP, source->QueryContinueDrag(FALSE, 0));
    EXPECT_EQ(DRAGDROP_S_DROP, source->QueryContinueDrag(FALSE, MK_SHIFT | MK_CONTROL));
    EXPECT_EQ(S_OK, source->QueryContinueDrag(FALSE, MK_LBUTTON));
    EXPECT_EQ(S_OK, source->QueryContinueDrag(FALSE, MK_RBUTTON | MK_SHIFT));
    EXPECT_EQ(DRAGDROP_S_USEDEFAULTCURSORS, source->GiveFeedback(DROPEFFECT_COPY));
}

// A drag started in a, played onto b: the formats and nodes that arrive, a
// copy without keys and a move with Shift, where a node the source refuses
// to move stays where it was and is not deleted by the finished drag.
TEST(TreeDrop, DraggedNodesArriveAsCopyOrMove) {
    for (bool move : {false, true}) {
        TwoTrees v;
        FillSample(v.a);
        PLazyNode host = v.b.Add(nullptr, L"Host");
        v.b.Update();
        v.a.AddToSelection(TNodeArray{v.a.Find(L"Alpha"), v.a.Find(L"Delta")});
        v.a.OnNodeMoving = [&](TBaseLazyTree*, PLazyNode n, PLazyNode, bool& allowed) {
            allowed = v.a.Text(n, ColumnNone) != L"Delta";
        };
        TFormatArray formats;
        v.b.OnDragDrop = [&](TBaseLazyTree*, TObject* source, IDataObject* data, const TFormatArray& f, TShiftState,
                             POINT, DWORD& effect, TDropMode mode) {
            formats = f;
            auto* sourceTree = dynamic_cast<TBaseLazyTree*>(source);
            EXPECT_EQ(static_cast<TBaseLazyTree*>(&v.a), sourceTree);
            EXPECT_TRUE(v.b.ProcessOLEData(sourceTree, data, v.b.DropTargetNode(), AttachFor(mode),
                                           effect == DROPEFFECT_MOVE));
        };
        POINTL at = TwoTrees::Screen(v.b, TwoTrees::LabelCentre(v.b, host));
        DWORD keys = move ? MK_SHIFT : 0;
        v.a.loop = [&](IDataObject* data, IDropSource* source, DWORD allowed, DWORD& effect) {
            EXPECT_EQ(DWORD(DROPEFFECT_COPY | DROPEFFECT_MOVE), allowed);
            EXPECT_TRUE(v.a.TreeStates().Contains(tsOLEDragging));
            IDropTarget* target = v.b.DragManager()->DropTarget();
            effect = allowed;
            target->DragEnter(data, MK_LBUTTON | keys, at, &effect);
            effect = allowed;
            target->DragOver(MK_LBUTTON | keys, at, &effect);
            EXPECT_EQ(DRAGDROP_S_DROP, source->QueryContinueDrag(FALSE, keys));
            effect = allowed;
            target->Drop(data, keys, at, &effect);
            return HRESULT(DRAGDROP_S_DROP);
        };
        v.a.StartOleDrag(TwoTrees::LabelCentre(v.a, v.a.Find(L"Alpha")));
        EXPECT_FALSE(v.a.TreeStates().Contains(tsOLEDragging));
        EXPECT_TRUE(v.a.DragSelection().empty());
        std::vector<FORMATETC> native;
        v.a.GetNativeClipboardFormats(native);
        ASSERT_EQ(native.size(), formats.size());
        for (size_t i = 0; i < native.size(); ++i) EXPECT_EQ(native[i].cfFormat, formats[i]);
        if (move) {
            EXPECT_EQ("Host(Alpha[x](Beta,Gamma[?](Eps)))", v.b.Picture());
            EXPECT_EQ("Delta[x]", v.a.Picture());
        } else {
            EXPECT_EQ("Host(Alpha[x](Beta,Gamma[?](Eps)),Delta[x])", v.b.Picture());
            EXPECT_EQ("Alpha[x](Beta,Gamma[?](Eps)),Delta[x]", v.a.Picture());
        }
        EXPECT_EQ("", TreeInvariantErrors(v.a));
        EXPECT_EQ("", TreeInvariantErrors(v.b));
    }
}

// The framework's own drag, from a press on a to the release: what each tree
// hears, in order. The mouse goes to the drag's capture window meanwhile.
// A handler that frees a tree (under the freed-memory trap) is followed by
// nothing on it, and a source freed mid-drag leaves the target.
TEST(TreeDrop, FrameworkDragEventsInOrder) {
    TDragObject own;
    const POINT kStay{2, 1}, kAway{0, 40};
    enum TFree { fNone, fSourceOnDrop, fSourceOnEnd, fTargetOnDrop, fSourceOnMove };
    struct Case {
        std::vector<POINT> moves;   // from the press on a; kAway lands on b's Host
        UINT end;
        bool accept, ownObject;
        std::vector<std::string> log;
        TFree free = fNone;
    } cases[] = {
        {{kStay}, WM_LBUTTONUP, true, false, {"a end"}},   // no drag: a click
        {{kStay, {0, 20}, kAway}, WM_LBUTTONUP, true, false,
         {"a over 0", "a over 2", "a over 1", "b over 0 mode 2", "b over 2 mode 2", "b drop a 3 mode 2", "a end"}},
        {{kAway}, WM_LBUTTONUP, true, true, {"b over 0 mode 2", "b over 2 mode 2", "b drop own 3 mode 2", "a end"}},
        {{kAway}, WM_LBUTTONUP, false, false, {"b over 0 mode 2", "b over 2 mode 2", "b over 1 mode 2", "a end"}},
        {{kAway}, WM_CANCELMODE, true, false, {"b over 0 mode 2", "b over 2 mode 2", "b over 1 mode 2", "a end"}},
        {{kAway}, WM_LBUTTONUP, true, false, {"b over 0 mode 2", "b over 2 mode 2", "b drop a 3 mode 2"}, fSourceOnDrop},
        {{kAway}, WM_LBUTTONUP, true, false,
         {"b over 0 mode 2", "b over 2 mode 2", "b drop a 3 mode 2", "a end"}, fSourceOnEnd},
        {{kAway}, WM_LBUTTONUP, true, true,
         {"b over 0 mode 2", "b over 2 mode 2", "b drop own 3 mode 2", "a end"}, fTargetOnDrop},
        {{kAway}, WM_LBUTTONUP, true, false, {"b over 0 mode 2", "b over 2 mode 2", "b over 1 mode 2"}, fSourceOnMove},
    };
    for (const Case& c : cases) {
        TFreedMemoryTrap trap;
        TwoTrees v;
        POINT press = TwoTrees::LabelCentre(v.a, v.a.Add(nullptr, L"Alpha"));
        POINTL start = TwoTrees::Screen(v.a, press);
        POINTL host = TwoTrees::Screen(v.b, TwoTrees::LabelCentre(v.b, v.b.Add(nullptr, L"Host")));
        v.a.DragType = TBaseLazyTree::dtFramework;
        v.a.DragMode = TBaseLazyTree::dmAutomatic;
        v.a.OnStartDrag = [&](TObject*, TDragObject*& object) { object = c.ownObject ? &own : nullptr; };
        v.a.OnDragOver = [&](TBaseLazyTree*, TObject*, TShiftState, TDragState state, POINT, TDropMode, DWORD&, bool&) {
            v.log.push_back("a over " + std::to_string(int(state)));
        };
        v.b.OnDragOver = [&](TBaseLazyTree*, TObject*, TShiftState, TDragState state, POINT, TDropMode mode, DWORD&,
                             bool& accept) {
            v.log.push_back("b over " + std::to_string(int(state)) + " mode " + std::to_string(int(mode)));
            accept = c.accept;
            if (c.free == fSourceOnMove && state == dsDragMove) v.heldA.reset();
        };
        v.b.OnDragDrop = [&](TBaseLazyTree*, TObject* source, IDataObject*, const TFormatArray&, TShiftState, POINT,
                             DWORD& effect, TDropMode mode) {
            std::string from = source == &v.a ? "a" : source == &own ? "own" : "?";
            v.log.push_back("b drop " + from + " " + std::to_string(effect) + " mode " + std::to_string(int(mode)));
            if (c.free == fSourceOnDrop || c.free == fTargetOnDrop) (c.free == fSourceOnDrop ? v.heldA : v.heldB).reset();
        };
        v.a.OnEndDrag = [&](TBaseLazyTree*, int, int) {
            v.log.push_back("a end");
            if (c.free == fSourceOnEnd) v.heldA.reset();
        };
        ::SetCursorPos(start.x, start.y);
        ::SendMessageA(v.a.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(press.x, press.y));
        HWND capture = ::GetCapture();
        ASSERT_TRUE(capture && capture != v.a.Handle());
        EXPECT_TRUE(v.a.Dragging());
        for (POINT m : c.moves) {
            POINT at = m.y == kAway.y ? POINT{host.x, host.y} : POINT{start.x + m.x, start.y + m.y};
            ::ScreenToClient(capture, &at);
            ::SendMessageA(capture, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(at.x, at.y));
        }
        ::SendMessageA(capture, c.end, 0, 0);
        EXPECT_EQ(c.log, v.log);
        EXPECT_EQ(c.free == fNone || c.free == fTargetOnDrop, v.heldA != nullptr);
        for (TDragTree* t : {v.heldA.get(), v.heldB.get()})
            for (TLazyTreeState state : {tsLeftButtonDown, tsFrameworkDragPending, tsFrameworkDragging, tsUserDragObject})
                EXPECT_FALSE(t && (t->Dragging() || t->TreeStates().Contains(state))) << int(state);
        EXPECT_FALSE(v.heldB && v.b.DropTargetNode());
    }
}

TEST(TreeDragImage, TheImageIsBlendedOverTheScreenAndTheScreenComesBack) {
    TwoTrees v;
    v.b.Update();
    // A picture: left half red, right half the key colour (white).
    const int w = 40, h = 20;
    void* bits = nullptr;
    BitmapHandle picture = CreateDib32(w, h, &bits);
    auto* pixels = static_cast<uint32_t*>(bits);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixels[y * w + x] = x < w / 2 ? 0xFF0000u : 0xFFFFFFu;
    POINT origin{40, 40};
    ::ClientToScreen(v.b.Handle(), &origin);
    RECT around{origin.x - 20, origin.y - 20, origin.x + w + 40, origin.y + h + 40};
    std::vector<uint32_t> before = Settled(around);

    TLTDragImage& image = v.a.DragImage();
    image.KeyColor = clWhite;
    image.BeginImageDrag(picture.get(), origin, POINT{origin.x + 5, origin.y + 5}, nullptr);
    EXPECT_EQ(unsigned(disInDrag | disHidden), image.States());
    EXPECT_FALSE(image.Visible());
    RECT hidden = image.ImageScreenRect();
    EXPECT_TRUE(::IsRectEmpty(&hidden));
    image.ShowImage();
    ASSERT_TRUE(image.Visible());
    RECT shownRect = image.ImageScreenRect(), expectedRect{origin.x, origin.y, origin.x + w, origin.y + h};
    EXPECT_TRUE(::EqualRect(&shownRect, &expectedRect));
    auto at = [&](const std::vector<uint32_t>& grab, int x, int y) {
        return grab[size_t(y - around.top) * size_t(around.right - around.left) + size_t(x - around.left)];
    };
    auto blend = [](uint32_t back, uint32_t front) {   // half and half, rounding down
        uint32_t out = 0;
        for (int shift : {0, 8, 16}) {
            int b = int(back >> shift & 255), f = int(front >> shift & 255);
            out |= uint32_t(b + ((f - b) * 128 >> 8)) << shift;
        }
        return out;
    };
    std::vector<uint32_t> shown = Grab(around);
    for (POINT p : {POINT{origin.x, origin.y}, POINT{origin.x + 19, origin.y + 19}})
        EXPECT_EQ(blend(at(before, p.x, p.y), 0xFF0000u), at(shown, p.x, p.y)) << p.x - origin.x;
    // The key colour lets the screen through; outside nothing changed.
    EXPECT_EQ(at(before, origin.x + 30, origin.y + 10), at(shown, origin.x + 30, origin.y + 10));
    EXPECT_EQ(at(before, origin.x - 1, origin.y), at(shown, origin.x - 1, origin.y));

    // A small move: the old place gets its screen back, the picture moves.
    EXPECT_TRUE(image.WouldMove(POINT{origin.x + 8, origin.y + 9}));
    EXPECT_TRUE(image.MoveImageTo(POINT{origin.x + 8, origin.y + 9}));   // hot spot +3, +4
    std::vector<uint32_t> moved = Grab(around);
    EXPECT_EQ(at(before, origin.x, origin.y), at(moved, origin.x, origin.y));
    EXPECT_EQ(blend(at(before, origin.x + 3, origin.y + 4), 0xFF0000u), at(moved, origin.x + 3, origin.y + 4));
    EXPECT_FALSE(image.MoveImageTo(POINT{origin.x + 8, origin.y + 9}));
    // Locked to the horizontal axis a vertical move does nothing.
    image.AxisLock = dmrHorizontalOnly;
    EXPECT_FALSE(image.WouldMove(POINT{origin.x + 8, origin.y + 30}));
    image.AxisLock = dmrNone;
    // A far move, then hiding: the screen is as it was.
    EXPECT_TRUE(image.MoveImageTo(POINT{origin.x + 8 + 60, origin.y + 9}));
    image.HideImage();
    EXPECT_EQ(before, Grab(around));
    image.EndImageDrag();
    EXPECT_EQ(0u, image.States());
}

TEST(TreeDragImage, TheTreePaintsItsSelectedRowsAsTheDragImage) {
    TwoTrees v;
    FillSample(v.a);
    PLazyNode beta = v.a.Find(L"Beta");
    v.a.SetExpanded(v.a.Find(L"Alpha"), true);
    v.a.AddToSelection(beta);
    v.a.Update();
    RECT client = v.a.ClientRect();
    RECT screen = client;
    ::MapWindowPoints(v.a.Handle(), nullptr, reinterpret_cast<POINT*>(&screen), 2);
    std::vector<uint32_t> before = Settled(screen);
    v.a.DragWidth = 200;
    v.a.DragHeight = 100;
    POINT hot = TwoTrees::LabelCentre(v.a, beta);
    v.a.PrepareDragImage(hot, nullptr);
    TLTDragImage& image = v.a.DragImage();
    image.ShowImage();
    RECT r = image.ImageScreenRect();
    EXPECT_EQ(200, r.right - r.left);
    EXPECT_EQ(100, r.bottom - r.top);
    // Over the tree itself the picture matches what is under it; 150 pixels
    // lower it shows over the empty part: the rows from the selected one on
    // appear, the row above it is key colour and lets the screen through.
    POINT hotScreen = hot;
    ::ClientToScreen(v.a.Handle(), &hotScreen);
    EXPECT_TRUE(image.MoveImageTo(POINT{hotScreen.x, hotScreen.y + 150}));
    std::vector<uint32_t> shown = Grab(screen);
    int cw = client.right - client.left;
    auto changedIn = [&](PLazyNode node) {
        RECT row = v.a.GetDisplayRect(node, ColumnNone, false);
        size_t changed = 0;
        for (int y = row.top + 150; y < row.bottom + 150; ++y)
            for (int x = 0; x < cw; ++x)
                changed += before[size_t(y) * size_t(cw) + size_t(x)] != shown[size_t(y) * size_t(cw) + size_t(x)];
        return changed;
    };
    EXPECT_GT(changedIn(beta), 20u);
    EXPECT_EQ(0u, changedIn(v.a.Find(L"Alpha")));
    image.HideImage();
    EXPECT_EQ(before, Grab(screen));
    image.EndImageDrag();
}

// A drag from one tree onto another with the drag's real data object: where
// the system does not take the source's picture (Wine answers the helper's
// bitmap call with E_NOTIMPL), the target shows, moves, hides and reshows the
// source's own picture, whatever helper the target has.
TEST(TreeDragImage, TheTargetShowsTheSourcesOwnPictureOnTheWay) {
    TwoTrees v;
    FillSample(v.a);
    PLazyNode host = v.b.Add(nullptr, L"Host");
    v.b.Add(nullptr, L"Other");
    v.a.AddToSelection(v.a.Find(L"Alpha"));
    v.a.Update();
    v.b.Update();
    POINT hostAt = TwoTrees::LabelCentre(v.b, host);
    POINTL at = TwoTrees::Screen(v.b, hostAt), further = TwoTrees::Screen(v.b, POINT{hostAt.x + 7, hostAt.y + 30});
    std::vector<std::string> seen;
    v.a.loop = [&](IDataObject* data, IDropSource*, DWORD allowed, DWORD& effect) {
        EXPECT_EQ(TBaseLazyTree::GetTreeFromDataObject(data), static_cast<TBaseLazyTree*>(&v.a));
        TLTDragImage& image = v.a.DragImage();
        bool own = !(image.States() & disSystemSupport);
        EXPECT_TRUE(image.States() & disInDrag);
        auto look = [&](const char* step) {
            // The picture shows exactly when the tree draws it itself.
            seen.push_back(std::string(step) + (image.Visible() == own ? " ok" : " wrong"));
        };
        IDropTarget* target = v.b.DragManager()->DropTarget();
        effect = allowed;
        target->DragEnter(data, MK_LBUTTON, at, &effect);
        look("enter");
        RECT first = image.ImageScreenRect();
        effect = allowed;
        target->DragOver(MK_LBUTTON, further, &effect);
        look("over");
        RECT second = image.ImageScreenRect();
        if (own) {
            EXPECT_EQ(second.left - first.left, 7);
            EXPECT_EQ(second.top - first.top, 30);
        }
        target->DragLeave();
        seen.push_back(image.Visible() ? "leave shown" : "leave hidden");
        effect = allowed;
        target->DragEnter(data, MK_LBUTTON, at, &effect);
        effect = allowed;
        target->Drop(data, 0, at, &effect);
        look("drop");
        return HRESULT(DRAGDROP_S_DROP);
    };
    v.a.StartOleDrag(TwoTrees::LabelCentre(v.a, v.a.Find(L"Alpha")));
    EXPECT_EQ(seen, (std::vector<std::string>{"enter ok", "over ok", "leave hidden", "drop ok"}));
    EXPECT_EQ(0u, v.a.DragImage().States());   // the drag's end takes the picture away
}

// A node opened by the hover delay under another tree's drag image: the
// image is taken off while the rows move and put back after, so it is on the
// screen again, and hiding it leaves the tree as it now is. (Under Wine the
// picture lies on the desktop's surface, which the tree's paint never
// touches, so only the pairing of hide and show is seen here.)
TEST(TreeDragImage, AutoExpandUnderTheImageLeavesNoStaleRows) {
    TwoTrees v;
    FillSample(v.b);
    v.a.Add(nullptr, L"Source");
    PLazyNode alpha = v.b.Find(L"Alpha");
    ASSERT_FALSE(v.b.Expanded(alpha));
    v.b.Update();
    RECT client = v.b.ClientRect(), screen = client;
    ::MapWindowPoints(v.b.Handle(), nullptr, reinterpret_cast<POINT*>(&screen), 2);
    Settled(screen);

    // A picture over Alpha's row and the rows the expansion brings.
    const int w = 120, h = 60;
    void* bits = nullptr;
    BitmapHandle picture = CreateDib32(w, h, &bits);
    std::fill_n(static_cast<uint32_t*>(bits), w * h, 0xFF0000u);
    POINT hot = TwoTrees::LabelCentre(v.b, alpha), hotScreen = hot, origin{hot.x - 20, hot.y - 5};
    ::ClientToScreen(v.b.Handle(), &hotScreen);
    ::ClientToScreen(v.b.Handle(), &origin);
    ComPtr<IDataObject> data = v.a.DragManager()->DataObjectForDrag();
    TLTDragImage& image = v.a.DragImage();
    image.BeginImageDrag(picture.get(), origin, hotScreen, nullptr);
    image.ShowImage();
    ASSERT_TRUE(image.Visible());

    IDropTarget* target = v.b.DragManager()->DropTarget();
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_EQ(S_OK, target->DragEnter(data.get(), MK_LBUTTON, TwoTrees::Screen(v.b, hot), &effect));
    ASSERT_EQ(S_OK, target->DragOver(MK_LBUTTON, TwoTrees::Screen(v.b, hot), &effect));
    ASSERT_EQ(alpha, v.b.DropTargetNode());
    ::SendMessageA(v.b.Handle(), WM_TIMER, 1, 0);   // the hover delay ends
    EXPECT_TRUE(v.b.Expanded(alpha));
    EXPECT_TRUE(image.Visible());   // shown again after the rows moved
    // And it is really on the screen: the new rows were painted beneath it, not over it.
    RECT shown{origin.x, origin.y, origin.x + w, origin.y + h};
    std::vector<uint32_t> over = Grab(shown);
    size_t reddish = size_t(std::count_if(over.begin(), over.end(), [](uint32_t p) {
        return (p >> 16 & 255) > 200 && (p >> 8 & 255) < 160 && (p & 255) < 160;
    }));
    EXPECT_GT(reddish, over.size() * 9 / 10);
    image.HideImage();
    // Pending paints do not touch what hiding put back: only a full repaint would.
    std::vector<uint32_t> left = Settled(screen);
    v.b.Repaint();
    EXPECT_EQ(Settled(screen), left);
    target->DragLeave();
    image.EndImageDrag();
}
