// The icon thread through real controls: order of answers, controls that
// leave or die, clearing, asking again, and the system image lists.
#include "ShellTestUtil.h"
#include "shell/item/LazyIconThread.h"
#include "shell/item/LazyShellUtilities.h"
#include "shell/item/LazySysImages.h"
#include "shell/base/ShellUtils.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <functional>
#include <memory>
#include <vector>

using namespace krv;

namespace {
constexpr UINT IconMessage = 0x8034;

// A control that keeps every answer it receives, as the explorer tree does.
class TIconReceiver : public TWinControl {
public:
    struct Answer {
        void* Data;
        int Index;
    };
    std::vector<Answer> Got;

protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (msg != IconMessage) return TWinControl::HandleMessage(msg, wParam, lParam, result);
        auto* request = reinterpret_cast<TImageThreadRequest*>(wParam);
        Got.push_back({request->Data, request->ImageIndex});
        if (request->Namespace) request->Namespace->SetIconIndex(request->ImageIndex, true);
        ImageThreadManager().ReleaseItem(request, nullptr);
        return true;
    }
};

// Answers messages until done() holds (bounded, so a fault fails instead of hanging).
bool PumpUntil(const std::function<bool()>& done) {
    for (int rounds = 0; rounds < 600; ++rounds) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        if (done()) return true;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return done();
}

// Waits until an answer is posted to the control, without taking it.
bool AnswerWaiting(TWinControl& control) {
    for (int rounds = 0; rounds < 600; ++rounds) {
        MSG msg;
        if (::PeekMessageA(&msg, control.Handle(), IconMessage, IconMessage, PM_NOREMOVE)) return true;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
    }
    return false;
}

int SmallIconOf(const std::wstring& path) {
    SHFILEINFOW info{};
    ::SHGetFileInfoW(path.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    return info.iIcon;
}

// Items over files of several kinds (so their icons differ where the system has them).
class IconThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        baseline_ = LiveImageRequests();
        for (const wchar_t* name : {L"a.txt", L"b.exe", L"c.lnk", L"d"}) {
            std::wstring path = tmp_ / name;
            if (std::wstring(name) == L"d") shelltest::MakeDir(path);
            else shelltest::WriteFileBytes(path, "x");
            paths.push_back(path);
            items.push_back(TNamespace::CreateFromFileName(path));
        }
        for (auto* r : {&one, &two}) {
            r->HandleNeeded();
            ImageThreadManager().RegisterControl(r);
        }
    }
    void TearDown() override {
        ImageThreadManager().UnRegisterControl(&one);
        ImageThreadManager().UnRegisterControl(&two);
        EXPECT_EQ(ImageThreadManagerObject().ImageThread(), nullptr);   // the last control stops the thread
        EXPECT_EQ(LiveImageRequests(), baseline_);   // every request was released
    }
    void Add(TIconReceiver& control, int item, bool front = false) {
        auto& m = ImageThreadManager();
        TNamespace* ns = items[size_t(item)].get();
        if (front) m.InsertNewItem(&control, IconMessage, 0, ns, false, ns->AbsolutePIDL(), ns);
        else m.AddNewItem(&control, IconMessage, 0, ns, false, ns->AbsolutePIDL(), ns);
    }
    std::vector<void*> DataOf(const TIconReceiver& r) const {
        std::vector<void*> d;
        for (const auto& a : r.Got) d.push_back(a.Data);
        return d;
    }
    void* Item(int i) const { return items[size_t(i)].get(); }

    shelltest::TempFolder tmp_{L"icons"};
    std::vector<std::wstring> paths;
    std::vector<std::unique_ptr<TNamespace>> items;
    TIconReceiver one, two;
    int baseline_ = 0;
};
} // namespace

TEST(IconThreadManager, WithoutAnyControlNothingIsQueued) {
    ASSERT_EQ(ImageThreadManagerObject().ImageThread(), nullptr);
    TIconReceiver lone;
    PIDLPtr pidl(PathToPIDL(L"C:\\"));
    int before = LiveImageRequests();
    ImageThreadManager().AddNewItem(&lone, IconMessage, 0, nullptr, false, pidl.get());
    EXPECT_EQ(LiveImageRequests(), before);
    EXPECT_EQ(ImageThreadManager().LockThread(), nullptr);
}

TEST_F(IconThreadTest, UnregisteredControlsTripTheAssertion) {
    TIconReceiver stranger;
    try {
        Add(stranger, 0);
        FAIL() << "queued for an unregistered control";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Trying to add Image Thread Item to a unregistered control (LazyIconThread)");
    }
    EXPECT_THROW(ImageThreadManager().ClearPendingItems(&stranger, IconMessage, nullptr), EAssertionFailed);
    EXPECT_FALSE(items[0]->ThreadIconLoading());
}

TEST_F(IconThreadTest, NewestRequestIsAnsweredFirst) {
    ImageThreadManager().LockThread();
    Add(one, 0);
    Add(one, 1);
    Add(one, 2);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(items[size_t(i)]->ThreadIconLoading());
    ImageThreadManager().UnlockThread();
    ASSERT_TRUE(PumpUntil([&] { return one.Got.size() == 3; }));
    EXPECT_EQ(DataOf(one), (std::vector<void*>{Item(2), Item(1), Item(0)}));
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(one.Got[2 - i].Index, SmallIconOf(paths[i])) << i;
        EXPECT_FALSE(items[i]->ThreadIconLoading());
        EXPECT_TRUE(items[i]->ThreadedIconLoaded());
        EXPECT_EQ(items[i]->GetIconIndex(false, 0, false), one.Got[2 - i].Index);
    }

    // A request put at the front waits for all the others.
    one.Got.clear();
    ImageThreadManager().LockThread();
    Add(one, 0);
    Add(one, 3, true);
    Add(one, 1);
    ImageThreadManager().UnlockThread();
    ASSERT_TRUE(PumpUntil([&] { return one.Got.size() == 3; }));
    EXPECT_EQ(DataOf(one), (std::vector<void*>{Item(1), Item(0), Item(3)}));
}

TEST_F(IconThreadTest, ControlsThatLeaveOrDieReceiveNothing) {
    TIconReceiver leaving, dying;
    for (auto* r : {&leaving, &dying}) {
        r->HandleNeeded();
        ImageThreadManager().RegisterControl(r);
    }
    ImageThreadManager().LockThread();
    Add(leaving, 0);
    Add(dying, 1);
    Add(two, 2);
    ImageThreadManager().UnRegisterControl(&leaving);   // its request goes with it
    EXPECT_FALSE(items[0]->ThreadIconLoading());
    dying.DestroyHandle();   // its window dies with the request queued
    ImageThreadManager().UnlockThread();
    ASSERT_TRUE(PumpUntil([&] { return two.Got.size() == 1 && LiveImageRequests() == baseline_; }));
    EXPECT_TRUE(leaving.Got.empty());
    EXPECT_TRUE(dying.Got.empty());
    ImageThreadManager().UnRegisterControl(&dying);
}

TEST_F(IconThreadTest, ClearingDeliversPostedAnswersFirstAndDroppedOnesCanBeAskedAgain) {
    Add(one, 0);
    ASSERT_TRUE(AnswerWaiting(one));   // answered and posted, not yet received
    ImageThreadManager().LockThread();
    Add(one, 1);
    Add(one, 2);
    Add(two, 3);
    ImageThreadManager().ClearPendingItems(&one, IconMessage, nullptr);
    EXPECT_EQ(DataOf(one), (std::vector<void*>{Item(0)}));
    EXPECT_FALSE(items[1]->ThreadIconLoading());   // dropped: the item may ask again
    EXPECT_FALSE(items[2]->ThreadIconLoading());
    EXPECT_TRUE(items[3]->ThreadIconLoading());    // another control's request stays
    ImageThreadManager().UnlockThread();
    ASSERT_TRUE(PumpUntil([&] { return two.Got.size() == 1; }));

    Add(one, 1);   // asked again
    ASSERT_TRUE(PumpUntil([&] { return one.Got.size() == 2; }));
    EXPECT_EQ(DataOf(one), (std::vector<void*>{Item(0), Item(1)}));
    EXPECT_TRUE(items[1]->ThreadedIconLoaded());

    // Clearing one item drops only its request.
    ImageThreadManager().LockThread();
    Add(one, 2);
    Add(one, 3);
    ImageThreadManager().ClearPendingItem(&one, Item(2), nullptr, IconMessage);
    EXPECT_EQ(ImageThreadManager().LockThread()->size(), 1u);
    ImageThreadManager().UnlockThread();
    ImageThreadManager().UnlockThread();
    ASSERT_TRUE(PumpUntil([&] { return one.Got.size() == 3; }));
    EXPECT_EQ(one.Got.back().Data, Item(3));
    EXPECT_FALSE(items[2]->ThreadIconLoading());

    // Nil data names the requests made without data, not all of the control's.
    ImageThreadManager().LockThread();
    Add(one, 0);
    ImageThreadManager().AddNewItem(&one, IconMessage, 0, nullptr, false, items[1]->AbsolutePIDL(), items[1].get());
    ImageThreadManager().ClearPendingItem(&one, nullptr, nullptr, IconMessage);
    EXPECT_EQ(ImageThreadManager().LockThread()->size(), 1u);
    ImageThreadManager().UnlockThread();
    ImageThreadManager().UnlockThread();
    ASSERT_TRUE(PumpUntil([&] { return one.Got.size() == 4; }));
    EXPECT_EQ(one.Got.back().Data, Item(0));
}

TEST(SystemImageLists, SmallLargeAndExtraLarge) {
    TLazySysImages& small = SmallSysImages();
    TLazySysImages& large = LargeSysImages();
    ASSERT_NE(small.Handle(), nullptr);
    ASSERT_NE(large.Handle(), nullptr);
    EXPECT_EQ(small.Width(), ::GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(large.Width(), ::GetSystemMetrics(SM_CXICON));
    EXPECT_GT(small.Count(), 0);
    EXPECT_TRUE(small.ShareImages());
    TLazySysImages extra;
    extra.SetImageSize(2);
    ASSERT_NE(extra.Handle(), nullptr);
    EXPECT_GE(extra.Width(), large.Width());
    // The shell's own answer for an item indexes the same list.
    SHFILEINFOW info{};
    HIMAGELIST list = reinterpret_cast<HIMAGELIST>(
        ::SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    EXPECT_EQ(list, small.Handle());
    EXPECT_LT(info.iIcon, small.Count());
}
