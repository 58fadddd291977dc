#include "framework/Controls.h"
#include "framework/SysUtils.h"
#include "framework/StdCtrls.h"
#include <gtest/gtest.h>
#include <commctrl.h>

using namespace krv;

namespace {

// A top-level host for child controls: a plain overlapped window of our class.
class Host : public TWinControl {
public:
    explicit Host(TComponent* owner = nullptr) : TWinControl(owner) { SetBounds(100, 100, 400, 300); }
protected:
    void CreateParams(TCreateParams& params) override {
        TWinControl::CreateParams(params);
        params.Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
        params.WndParent = nullptr;
    }
};

// A standard push button, subclassed: its click comes back through the parent.
class PushButton : public TWinControl {
public:
    using TWinControl::TWinControl;
    int commands = 0;
protected:
    void CreateParams(TCreateParams& params) override {
        TWinControl::CreateParams(params);
        params.WinClassName = "BUTTON";
        params.OwnClass = false;
        params.Style |= BS_PUSHBUTTON;
    }
    bool CNCommand(WORD code, LRESULT&) override {
        if (code != BN_CLICKED) return false;
        ++commands;
        Click();
        return true;
    }
};

RECT ChildRect(TWinControl& c) {
    RECT r;
    ::GetWindowRect(c.Handle(), &r);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(c.Handle()), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A control owned by host and placed on parent.
template <class T> T* Child(Host& host, TWinControl* parent) {
    auto* c = new T(&host);
    c->SetParent(parent);
    return c;
}

} // namespace

TEST(Controls, AlignedChildrenShareTheClientAreaInOrder) {
    Host host;
    host.HandleNeeded();
    host.SetClientSize(400, 300);
    TWinControl top(&host), bottom(&host), left(&host), client(&host);
    top.SetHeight(30);
    bottom.SetHeight(20);
    left.SetWidth(100);
    for (auto* c : {&top, &bottom, &left, &client}) c->SetParent(&host);
    top.SetAlign(alTop);
    bottom.SetAlign(alBottom);
    left.SetAlign(alLeft);
    client.SetAlign(alClient);

    EXPECT_EQ(top.Top(), 0);
    EXPECT_EQ(top.Width(), 400);
    EXPECT_EQ(bottom.Top(), 280);
    EXPECT_EQ(left.Top(), 30);
    EXPECT_EQ(left.Height(), 250);
    EXPECT_EQ(client.Left(), 100);
    EXPECT_EQ(client.Width(), 300);
    EXPECT_EQ(client.Height(), 250);
    // The window really is where the object says.
    RECT r = ChildRect(client);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 30);
    EXPECT_EQ(r.right - r.left, 300);

    // Growing the host grows the client; hiding the bottom gives its room away.
    host.SetClientSize(500, 400);
    EXPECT_EQ(client.Width(), 400);
    EXPECT_EQ(client.Height(), 350);
    bottom.Hide();
    EXPECT_EQ(client.Height(), 370);
    EXPECT_FALSE(::IsWindowVisible(bottom.Handle()));
}

TEST(Controls, AnchoredChildrenFollowTheRightAndBottomEdges) {
    Host host;
    host.HandleNeeded();
    host.SetClientSize(400, 300);
    TWinControl pinned(&host), stretched(&host);
    pinned.SetBounds(300, 250, 80, 30);
    pinned.SetAnchors(akRight | akBottom);
    stretched.SetBounds(10, 10, 380, 20);
    stretched.SetAnchors(akLeft | akTop | akRight);
    pinned.SetParent(&host);
    stretched.SetParent(&host);
    host.SetClientSize(450, 320);
    EXPECT_EQ(pinned.Left(), 350);
    EXPECT_EQ(pinned.Top(), 270);
    EXPECT_EQ(pinned.Width(), 80);
    EXPECT_EQ(stretched.Width(), 430);
    EXPECT_EQ(stretched.Left(), 10);
}

TEST(Controls, PropertiesSetBeforeTheWindowExistAreApplied) {
    Host host;
    TWinControl child(&host);
    child.SetCaption("kept");
    child.SetEnabled(false);
    child.SetBounds(5, 6, 70, 80);
    EXPECT_FALSE(child.HandleAllocated());
    child.SetParent(&host);
    host.HandleNeeded();
    ASSERT_TRUE(child.HandleAllocated());
    EXPECT_EQ(::GetParent(child.Handle()), host.Handle());
    EXPECT_EQ(child.Caption(), "kept");
    EXPECT_FALSE(::IsWindowEnabled(child.Handle()));
    RECT r = ChildRect(child);
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.bottom - r.top, 80);
}

TEST(Controls, ParentlessControlWaitsOnTheParkingWindowAndMovesWithItsParent) {
    Host host, other;
    auto* child = new TWinControl(&host);
    EXPECT_EQ(::GetParent(child->HandleNeeded()), ParkingWindow());
    child->SetParent(&host);
    EXPECT_EQ(::GetParent(child->Handle()), host.Handle());
    child->SetParent(&other);
    EXPECT_EQ(::GetParent(child->Handle()), other.Handle());
    EXPECT_EQ(host.ControlCount(), 0);
    EXPECT_EQ(other.ControlCount(), 1);
    EXPECT_THROW(other.SetParent(child), Exception);
}

TEST(Controls, CommandOfASubclassedStandardControlReachesItsObject) {
    Host host;
    auto* button = new PushButton(&host);
    button->SetName("ButtonOk");
    button->SetBounds(10, 10, 80, 24);
    button->SetCaption("OK");
    int clicks = 0;
    button->OnClick = [&](TObject* sender) { EXPECT_EQ(sender, button); ++clicks; };
    button->SetParent(&host);
    ::ShowWindow(host.HandleNeeded(), SW_SHOWNA);
    ::SendMessageA(button->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(button->commands, 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(host.FindComponent("buttonok"), button);
    EXPECT_EQ(host.FindChildControl(button->Handle()), button);
    // The standard procedure still runs: the button keeps its own text handling.
    EXPECT_EQ(button->Caption(), "OK");
}

TEST(Controls, DeletingAParentLeavesOwnedChildrenUsable) {
    TComponent owner;
    auto* panel = new Host(&owner);
    auto* child = new TWinControl(&owner);
    child->SetParent(panel);
    panel->HandleNeeded();
    ASSERT_TRUE(child->HandleAllocated());
    delete panel;
    EXPECT_EQ(child->Parent(), nullptr);
    EXPECT_FALSE(child->HandleAllocated());
    child->SetCaption("still alive");
    EXPECT_EQ(child->Caption(), "still alive");
}

TEST(Controls, ExceptionInAHandlerIsCaughtAtTheWindowProcedure) {
    std::string seen;
    SetWindowExceptionHandler([&](const std::exception_ptr& e) {
        try { std::rethrow_exception(e); } catch (const std::exception& ex) { seen = ex.what(); }
    });
    Host host;
    auto* button = Child<PushButton>(host, &host);
    host.HandleNeeded();
    button->OnClick = [](TObject*) { throw Exception("handler failed"); };
    ::SendMessageA(host.Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(button->Handle()));
    EXPECT_EQ(seen, "handler failed");
    SetWindowExceptionHandler(nullptr);
}

TEST(Controls, CustomControlPaintsThroughItsCanvas) {
    Host host;
    host.HandleNeeded();
    TCustomControl painted(&host);
    painted.SetBounds(0, 0, 50, 50);
    painted.SetParent(&host);
    int paints = 0;
    painted.OnPaint = [&](TObject*) {
        ++paints;
        painted.Canvas().Brush.SetColor(clRed);
        painted.Canvas().FillRect(RECT{0, 0, 50, 50});
        EXPECT_GT(painted.Canvas().TextWidth("Wide text"), painted.Canvas().TextWidth("W"));
    };
    ::ShowWindow(host.Handle(), SW_SHOWNA);
    ::RedrawWindow(painted.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_GE(paints, 1);
    WindowDC dc(painted.Handle());
    EXPECT_EQ(::GetPixel(dc.get(), 10, 10), RGB(255, 0, 0));
}

// A hidden page whose windows wait until it is shown gets them either when
// shown or, still hidden, when a child's window is asked for; either way its
// children keep what was set meanwhile, and a held-back edit tells each change
// once, as its window would have.
TEST(Controls, AHeldBackPageGetsItsWindowsWhenShownOrAskedForAndKeepsWhatWasSetMeanwhile) {
    const struct {
        const char* what;
        bool byShow;
    } cases[] = {{"page shown", true}, {"child's window asked for", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Host host;
        auto* page = Child<TWinControl>(host, &host);
        page->HandleWhenShown = true;
        page->Hide();
        auto* held = Child<TEdit>(host, page);
        auto* box = Child<TCheckBox>(host, page);
        auto* combo = Child<TComboBox>(host, page);
        auto* live = Child<TEdit>(host, &host);   // beside the page: its window exists
        int heldChanges = 0, liveChanges = 0;
        held->OnChange = [&](TObject*) { ++heldChanges; };
        live->OnChange = [&](TObject*) { ++liveChanges; };

        held->SetText("early");
        EXPECT_EQ(heldChanges, 0) << "no window anywhere yet: nothing tells of a change";
        host.HandleNeeded();
        EXPECT_TRUE(live->HandleAllocated());
        EXPECT_FALSE(page->HandleAllocated());
        EXPECT_FALSE(held->HandleAllocated());
        for (const char* text : {"one", "two", ""}) {
            held->SetText(text);
            live->SetText(text);
            EXPECT_EQ(heldChanges, liveChanges) << "held back, after \"" << text << "\"";
        }
        EXPECT_EQ(liveChanges, 3);
        held->SetText("kept");
        box->SetChecked(true);
        combo->SetItems({"a", "b", "c"});
        combo->SetItemIndex(2);
        EXPECT_EQ(held->Text(), "kept") << "held back";
        EXPECT_FALSE(page->HandleAllocated()) << "setting state must not make the window";

        if (c.byShow) page->Show();
        else ASSERT_TRUE(held->HandleNeeded());
        ASSERT_TRUE(page->HandleAllocated());
        ASSERT_TRUE(held->HandleAllocated());
        EXPECT_FALSE(held->WindowHeldBack());
        EXPECT_EQ((::GetWindowLongA(page->Handle(), GWL_STYLE) & WS_VISIBLE) != 0, c.byShow);
        EXPECT_EQ(::GetParent(page->Handle()), host.Handle());
        EXPECT_EQ(held->Text(), "kept") << "with its window";
        EXPECT_EQ(::SendMessageA(box->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(::SendMessageA(combo->Handle(), CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(::SendMessageA(combo->Handle(), CB_GETCURSEL, 0, 0), 2);
        const int before = heldChanges;
        held->SetText("window");
        EXPECT_EQ(heldChanges, before + 1) << "with its window the edit must not tell a change twice";

        page->Show();
        EXPECT_TRUE(::GetWindowLongA(page->Handle(), GWL_STYLE) & WS_VISIBLE) << "shown after its window was made";
        EXPECT_TRUE(Child<TEdit>(host, page)->HandleAllocated()) << "added to a page that has its window";
    }
}
