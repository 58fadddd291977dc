// Hints of the tree: what the decision answers at each point (a cut-off cell
// gives a tooltip, a node gives its hint, a fitting text nothing), the
// window's size, its place at each desktop edge and the animation's steps
// with the clock frozen.
#include "TreeTestSupport.h"
#include "tree/string/LazyStringTree.h"
#include "tree/paint/LazyTreeHint.h"
#include "framework/Forms.h"
#include <algorithm>

using namespace krv;
using namespace krv::test;

namespace {

// Two columns; node 0 has a main text far wider than its column, node 1 a short one.
struct THintFixture {
    TForm form;
    TLazyStringTree tree;
    THintFixture() {
        auto& columns = tree.Header().Columns();
        columns.Add()->SetWidth(60);
        columns.Add()->SetWidth(80);
        columns[1].SetHint(L"column hint");
        tree.Header().SetOptions(tree.Header().Options() + hoVisible + hoShowHint);
        tree.SetRootNodeCount(2);
        tree.ShowHint = true;
        tree.Hint = "control hint|status text";
        tree.OnGetText = [](TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLSTTextType, std::wstring& text) {
            text = node->Index == 0 && column == 0 ? L"a text much wider than its column" : L"ab";
        };
        tree.OnGetHint = [](TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLSTTextType, std::wstring& hint) {
            hint = L"hint of node " + std::to_wstring(node->Index) + L" column " + std::to_wstring(column);
        };
        form.BorderStyle = bsNone;   // no caption: Wine waits for no window manager
        form.SetBounds(100, 100, 300, 200);
        tree.SetBounds(0, 0, 200, 150);
        tree.SetParent(&form);
        tree.HandleNeeded();
        ::ShowWindow(form.Handle(), SW_SHOWNA);
        ::ShowWindow(tree.Handle(), SW_SHOWNA);
        ::SetActiveWindow(form.Handle());
        ::UpdateWindow(form.Handle());
    }
    int Ask(POINT p, THintInfo& info) {
        info = THintInfo{};
        info.CursorPos = p;
        return tree.CMHintShow(info);
    }
    PLazyNode Node(unsigned i) {
        PLazyNode n = tree.GetFirst();
        while (n && n->Index != i) n = tree.GetNextSibling(n);
        return n;
    }
};

TEST(HintDecision, TooltipOnlyForCutOffTextAndKeptWithinItsRectangle) {
    THintFixture f;
    f.tree.HintMode = hmTooltip;
    RECT text = f.tree.GetDisplayRect(f.Node(0), 0, true, true);
    ASSERT_GT(text.right, 60);   // the text passes its column's right edge

    THintInfo info;
    POINT inside{text.left + 5, (text.top + text.bottom) / 2};
    ASSERT_EQ(f.Ask(inside, info), 0);
    auto* data = static_cast<TLazyTreeHintData*>(info.HintData);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->Node, f.Node(0));
    EXPECT_EQ(data->Column, 0);
    EXPECT_TRUE(::EqualRect(&info.CursorRect, &text));
    POINT screen{text.left, text.top};
    ::ClientToScreen(f.tree.Handle(), &screen);
    EXPECT_EQ(info.HintPos.x, screen.x);
    EXPECT_EQ(info.HintPos.y, screen.y);
    RECT last = f.tree.LastHintRect();
    EXPECT_TRUE(::EqualRect(&last, &text));

    // The window lies one pixel around the cell text and shows the whole text.
    TLazyTreeHintWindow window;
    RECT r = window.CalcHintRect(1000, info.HintStr, info.HintData);
    EXPECT_EQ(r.left, -1);
    EXPECT_EQ(r.top, -1);
    EXPECT_EQ(r.right - r.left, text.right - text.left + 2);
    EXPECT_EQ(window.HintData().HintText, L"a text much wider than its column");

    // Moving inside the last rectangle asks nothing new: the hint stays.
    EXPECT_EQ(f.Ask(POINT{inside.x + 3, inside.y}, info), 1);
    last = f.tree.LastHintRect();
    EXPECT_TRUE(::EqualRect(&last, &text));

    // A short text that fits gives no tooltip, and forgets the rectangle.
    RECT shortText = f.tree.GetDisplayRect(f.Node(1), 0, true, true);
    EXPECT_EQ(f.Ask(POINT{shortText.left + 2, (shortText.top + shortText.bottom) / 2}, info), 1);
    last = f.tree.LastHintRect();
    EXPECT_TRUE(::IsRectEmpty(&last));
    // Beside the text of the cut-off cell (but in its column) there is none either.
    RECT cell = f.tree.GetDisplayRect(f.Node(0), 1, false);
    EXPECT_EQ(f.Ask(POINT{cell.left + 40, (cell.top + cell.bottom) / 2}, info), 1);
}

TEST(HintDecision, NodeHintControlHintAndHeaderHint) {
    THintFixture f;
    THintInfo info;
    RECT cell = f.tree.GetDisplayRect(f.Node(1), 1, false);
    POINT inCell{cell.left + 10, (cell.top + cell.bottom) / 2};

    f.tree.HintMode = hmHint;
    ASSERT_EQ(f.Ask(inCell, info), 0);
    EXPECT_EQ(info.CursorRect.left, 60);   // the cell between its column's bounds
    EXPECT_EQ(info.CursorRect.right, 140);
    TLazyTreeHintWindow window;
    RECT r = window.CalcHintRect(1000, info.HintStr, info.HintData);
    EXPECT_EQ(window.HintData().HintText, L"hint of node 1 column 1");
    EXPECT_FALSE(::IsRectEmpty(&r));
    EXPECT_EQ(r.bottom - r.top, window.HintData().TextHeight + 6);

    // Below the last node: the control's hint (its short part) or nothing.
    POINT below{20, 120};
    f.tree.HintMode = hmHintAndDefault;
    ASSERT_EQ(f.Ask(below, info), 0);
    EXPECT_EQ(static_cast<TLazyTreeHintData*>(info.HintData)->DefaultHint, L"control hint");
    f.tree.HintMode = hmHint;
    EXPECT_EQ(f.Ask(below, info), 1);
    f.tree.HintMode = hmDefault;
    ASSERT_EQ(f.Ask(inCell, info), 0);
    EXPECT_EQ(info.HintStr, L"control hint");
    EXPECT_EQ(info.HintData, nullptr);   // the framework's own window shows it

    // Over the second column's header: its hint; over the first (no hint): none.
    POINT header{100, -5};
    ASSERT_EQ(f.Ask(header, info), 0);
    EXPECT_EQ(static_cast<TLazyTreeHintData*>(info.HintData)->DefaultHint, L"column hint");
    EXPECT_EQ(f.Ask(POINT{20, -5}, info), 1);
    // Scrolled sideways: the column's rectangle is where the column shows.
    f.tree.Header().Columns()[1].SetWidth(300);
    f.tree.SetOffsetX(-100);
    ASSERT_EQ(f.tree.OffsetX(), -100);
    ASSERT_EQ(f.Ask(header, info), 0);
    EXPECT_EQ(info.CursorRect.left, -40);
    EXPECT_EQ(info.CursorRect.right, 260);

    f.tree.ShowHint = false;
    f.tree.HintMode = hmHint;
    EXPECT_EQ(f.Ask(inCell, info), 1);
}

// Pixels of the text colour in what the window shows.
int TextPixels(HWND wnd) {
    RECT r;
    ::GetClientRect(wnd, &r);
    TImage image = Capture(r.right, r.bottom, [&](HDC dc) {
        WindowDC source(wnd);
        ::BitBlt(dc, 0, 0, r.right, r.bottom, source.get(), 0, 0, SRCCOPY);
    });
    COLORREF c = ::GetSysColor(COLOR_INFOTEXT);
    uint32_t text = (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
    return int(std::count(image.Pixels.begin() + image.Width, image.Pixels.end() - image.Width, text));
}

TEST(HintWindow, TheManagerShowsTheTextTheTreeChose) {
    THintFixture f;
    f.tree.HintAnimation = hatNone;
    auto ask = [&](THintInfo& info) { return f.tree.CMHintShow(info); };
    struct Case { TLTHintMode mode; unsigned node; TColumnIndex column; const wchar_t* text; } cases[] = {
        {hmTooltip, 0, 0, L"a text much wider than its column"},
        {hmHint, 1, 1, L"hint of node 1 column 1"},
    };
    for (const Case& c : cases) {
        f.tree.HintMode = c.mode;
        RECT cell = f.tree.GetDisplayRect(f.Node(c.node), c.column, true, true);
        POINT p{cell.left + 4, (cell.top + cell.bottom) / 2};
        ASSERT_TRUE(HintManager().ShowHintAt(&f.tree, f.tree.Handle(), p, ask)) << c.text;
        auto* window = dynamic_cast<TLazyTreeHintWindow*>(HintManager().HintWindow());
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->Visible());
        EXPECT_EQ(window->HintData().HintText, c.text);
        EXPECT_GT(TextPixels(window->Handle()), 20) << c.text;   // the text is drawn, not only the frame
        // Hiding makes the tree forget its hint rectangle.
        HintManager().CancelHint();
        RECT last = f.tree.LastHintRect();
        EXPECT_TRUE(::IsRectEmpty(&last));
    }
}

// What a window shows, read back from its own device context.
TImage WindowPicture(HWND wnd) {
    RECT r;
    ::GetClientRect(wnd, &r);
    return Capture(r.right, r.bottom, [&](HDC dc) {
        WindowDC source(wnd);
        ::BitBlt(dc, 0, 0, r.right, r.bottom, source.get(), 0, 0, SRCCOPY);
    });
}

// A hint casts a soft shadow on what lies right of and below it: five bands,
// each darkening the screen more the nearer it lies (5, 10, 20, 35, 50). A
// tooltip's text takes the colour the tree's text handler gives the cell.
TEST(HintWindow, ShadowBandsDarkenTheScreenAndTooltipsTakeTheCellsColour) {
    THintFixture f;
    f.tree.HintAnimation = hatNone;
    f.tree.OnPaintText = [](TBaseLazyTree*, TCanvas& canvas, PLazyNode, TColumnIndex, TLSTTextType) {
        canvas.Font.SetColor(clRed);
    };
    auto ask = [&](THintInfo& info) { return f.tree.CMHintShow(info); };
    for (TLTHintMode mode : {hmHint, hmTooltip}) {
        f.tree.HintMode = mode;
        unsigned node = mode == hmTooltip ? 0 : 1;
        RECT cell = f.tree.GetDisplayRect(f.Node(node), 0, true, true);
        POINT p{cell.left + 4, (cell.top + cell.bottom) / 2};
        RECT desktop = TLazyTreeHintWindow::Desktop();
        TImage screenBefore = Capture(desktop.right, desktop.bottom, [&](HDC dc) {
            WindowDC screen(nullptr);
            ::BitBlt(dc, 0, 0, desktop.right, desktop.bottom, screen.get(), 0, 0, SRCCOPY);
        });
        ASSERT_TRUE(HintManager().ShowHintAt(&f.tree, f.tree.Handle(), p, ask)) << mode;
        auto* window = dynamic_cast<TLazyTreeHintWindow*>(HintManager().HintWindow());
        ASSERT_TRUE(window);
        RECT at;
        ::GetWindowRect(window->Handle(), &at);
        TImage shown = WindowPicture(window->Handle());
        int w = shown.Width, h = shown.Height;
        auto under = [&](int x, int y) { return screenBefore.Pixels[size_t(at.top + y) * size_t(desktop.right) + size_t(at.left + x)]; };
        auto darker = [](uint32_t px, int by) {
            uint32_t out = 0;
            for (int s : {0, 8, 16}) out |= uint32_t(std::max(0, int(px >> s & 255) - by)) << s;
            return out;
        };
        const int bias[] = {5, 10, 20, 35, 50};
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(shown.Pixels[size_t(h / 2) * size_t(w) + size_t(w - 1 - k)], darker(under(w - 1 - k, h / 2), bias[k]))
                << mode << " right band " << k;
            EXPECT_EQ(shown.Pixels[size_t(h - 1 - k) * size_t(w) + size_t(w / 2)], darker(under(w / 2, h - 1 - k), bias[k]))
                << mode << " bottom band " << k;
        }
        // The corners beside the shadow show the screen as it was; the frame is black.
        EXPECT_EQ(shown.Pixels[size_t(w - 1)], under(w - 1, 0)) << mode;
        EXPECT_EQ(shown.Pixels[size_t(h - 1) * size_t(w)], under(0, h - 1)) << mode;
        EXPECT_EQ(shown.Pixels[size_t(h / 2) * size_t(w) + size_t(w - 6)], 0u) << mode;
        size_t red = size_t(std::count(shown.Pixels.begin(), shown.Pixels.end(), 0xFF0000u));
        if (mode == hmTooltip) {
            EXPECT_GT(red, 20u);
        } else {
            EXPECT_EQ(red, 0u);   // a hint keeps the hint colours
        }
        HintManager().CancelHint();
    }
}

TEST(HintWindow, AMouseRestingOverTheTreeBringsItsHintAndAPressEndsIt) {
    THintFixture f;
    f.tree.HintMode = hmHint;
    f.tree.HintAnimation = hatNone;
    RECT cell = f.tree.GetDisplayRect(f.Node(1), 1, false);
    EXPECT_EQ(cell.left, 60);    // a cell spans its own column, less its last pixel
    EXPECT_EQ(cell.right, 139);
    POINT p{cell.left + 10, (cell.top + cell.bottom) / 2}, screen = p, before{};
    ::ClientToScreen(f.tree.Handle(), &screen);
    ::GetCursorPos(&before);
    ::SetCursorPos(screen.x, screen.y);
    HintManager().HintPause = 10;
    ::SendMessageW(f.tree.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
    // The pause ends with a timer message: pump until the hint shows.
    for (int i = 0; i < 200 && !HintManager().HintWindow(); ++i) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        ProcessMessages();
    }
    auto* window = dynamic_cast<TLazyTreeHintWindow*>(HintManager().HintWindow());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->HintData().HintText, L"hint of node 1 column 1");
    EXPECT_TRUE(f.tree.TreeStates().Contains(tsHint));
    ::SendMessageW(f.tree.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    ::SendMessageW(f.tree.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    EXPECT_EQ(HintManager().HintWindow(), nullptr);
    HintManager().HintPause = 500;
    ::SetCursorPos(before.x, before.y);
}

TEST(HintWindow, APressOnTheHeaderEndsTheHeaderHint) {
    THintFixture f;
    POINT p{100, -5}, screen = p;
    ::ClientToScreen(f.tree.Handle(), &screen);
    auto ask = [&](THintInfo& info) { return f.tree.CMHintShow(info); };
    ASSERT_TRUE(HintManager().ShowHintAt(&f.tree, f.tree.Handle(), p, ask));
    ::SendMessageW(f.tree.Handle(), WM_NCLBUTTONDOWN, HTBORDER, MAKELPARAM(screen.x, screen.y));
    EXPECT_EQ(HintManager().HintWindow(), nullptr);
    ::SendMessageW(f.tree.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
}

TEST(HintWindow, StaysOnTheDesktopAtEachEdge) {
    const RECT desktop{0, 0, 1280, 1024};
    struct Case { RECT in, out; } cases[] = {
        {{1200, 100, 1300, 120}, {1180, 100, 1280, 120}},   // right edge
        {{100, 1010, 200, 1040}, {100, 994, 200, 1024}},    // bottom edge
        {{-30, 100, 70, 120}, {0, 100, 100, 120}},          // left edge
        {{100, -8, 200, 12}, {100, 0, 200, 20}},            // top edge
        {{1250, 1000, 1350, 1050}, {1180, 974, 1280, 1024}},   // the corner
        {{-10, -10, 1400, 1100}, {0, 0, 1410, 1110}},       // too big: held at the top left
        {{10, 10, 50, 30}, {10, 10, 50, 30}},               // inside: unmoved
    };
    for (const Case& c : cases) {
        RECT r = TLazyTreeHintWindow::KeepOnDesktop(c.in, desktop);
        EXPECT_TRUE(::EqualRect(&r, &c.out)) << c.in.left << "," << c.in.top << " -> " << r.left << "," << r.top;
    }

    // A real window past the screen's bottom right ends inside it.
    THintFixture f;
    f.tree.HintMode = hmHint;
    f.tree.HintAnimation = hatNone;
    TLazyTreeHintData data;
    data.Tree = &f.tree;
    data.Node = f.Node(0);
    data.HintText = L"hint";
    TLazyTreeHintWindow window;
    RECT screen = TLazyTreeHintWindow::Desktop();
    window.ActivateHintData(RECT{screen.right - 20, screen.bottom - 10, screen.right + 80, screen.bottom + 20}, L" ",
                            &data);
    RECT shown;
    ::GetWindowRect(window.Handle(), &shown);
    EXPECT_EQ(shown.right, screen.right);
    EXPECT_EQ(shown.bottom, screen.bottom);
    EXPECT_EQ(shown.right - shown.left, 100);
    EXPECT_TRUE(window.Visible());
}

// Records each painted step.
class TRecordingHintWindow : public TLazyTreeHintWindow {
public:
    std::vector<std::pair<int, int>> Steps;
    std::function<void(int index)> OnStep;
protected:
    void InternalPaint(int step, int stepSize) override {
        Steps.emplace_back(step, stepSize);
        TLazyTreeHintWindow::InternalPaint(step, stepSize);
        if (OnStep) OnStep(int(Steps.size()) - 1);
    }
};

TEST(HintWindow, AnimationPaintsEveryStepThenTheFinalPicture) {
    THintFixture f;
    f.tree.HintMode = hmHint;
    f.tree.SetAnimationDuration(300);   // at least one ms per fade step
    f.tree.TickSource = [] { return DWORD(5000); };   // no time passes: every step is taken
    TLazyTreeHintData data;
    data.Tree = &f.tree;
    data.Node = f.Node(0);
    data.HintText = L"hint";
    struct Case { THintAnimationType type; size_t steps; } cases[] = {{hatFade, 255}, {hatSlide, 24}, {hatNone, 0}};
    for (const Case& c : cases) {
        f.tree.HintAnimation = c.type;
        TRecordingHintWindow window;
        window.ActivateHintData(RECT{50, 50, 150, 74}, L" ", &data);   // 24 rows high
        std::vector<std::pair<int, int>>& s = window.Steps;
        if (c.type == hatNone) {
            // An ordinary repaint: the whole picture.
            ASSERT_FALSE(s.empty());
            EXPECT_EQ(s.back(), std::make_pair(0, 0));
            continue;
        }
        ASSERT_EQ(s.size(), c.steps + 1) << c.type;
        for (size_t i = 0; i < c.steps; ++i) EXPECT_EQ(s[i], std::make_pair(int(i), 1)) << c.type << " step " << i;
        EXPECT_EQ(s.back(), std::make_pair(0, 0));
        EXPECT_EQ(f.tree.TreeStates().Contains(tsInAnimation), false);
    }

    // Hidden during a fade: the animation stops at the next step.
    f.tree.HintAnimation = hatFade;
    TRecordingHintWindow window;
    window.OnStep = [&](int index) { if (index == 10) ::ShowWindow(window.Handle(), SW_HIDE); };
    window.ActivateHintData(RECT{50, 50, 150, 74}, L" ", &data);
    EXPECT_EQ(window.Steps.size(), 11u);
    EXPECT_FALSE(f.tree.TreeStates().Contains(tsInAnimation));
}

} // namespace
