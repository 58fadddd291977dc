// Drag and drop of the explorer tree over a scratch folder. The system's
// drag loop waits for a real mouse, so each test plays it: the drag is
// started by mouse messages and the loop calls the tree's drop target as
// the system would. The items' drop targets are recorders in front of the
// shell's own, so the order of the calls they get is compared whole.
#include "ShellTestUtil.h"
#include "shell/explorer/LazyExplorerDrag.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/base/ShellClipFormats.h"
#include "shell/base/ShellUtils.h"
#include "framework/Forms.h"
#include "framework/OleData.h"
#include "framework/SysUtils.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace krv;

namespace {

// What the drop targets of the items were told, in order: "enter beta", "drop beta"...
struct TDropLog {
    std::vector<std::string> Calls;
    IDataObject* LastData = nullptr;
    DWORD LastAnswer = DROPEFFECT_NONE;
    // The effects the recorders answer (within what they are offered).
    DWORD Takes = DROPEFFECT_COPY | DROPEFFECT_MOVE;
};

// A drop target that records and answers by the log's script; the shell's
// own target behind it gets every call too (a drop only when asked for).
class TRecordingTarget final : public IDropTarget {
public:
    TRecordingTarget(std::string name, ComPtr<IDropTarget> shell, TDropLog& log, bool passDrop)
        : name_(std::move(name)), shell_(std::move(shell)), log_(log), passDrop_(passDrop) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDropTarget) {
            *out = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) override {
        log_.LastData = data;
        if (shell_) {
            DWORD offered = *effect;
            shell_->DragEnter(data, keys, pt, &offered);
        }
        return Answer("enter", effect);
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL pt, DWORD* effect) override {
        if (shell_) {
            DWORD offered = *effect;
            shell_->DragOver(keys, pt, &offered);
        }
        return Answer("over", effect);
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override {
        if (shell_) shell_->DragLeave();
        log_.Calls.push_back("leave " + name_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) override {
        log_.LastData = data;
        if (shell_ && passDrop_) return Passed("drop", shell_->Drop(data, keys, pt, effect), effect);
        if (shell_) shell_->DragLeave();
        return Answer("drop", effect);
    }

private:
    ~TRecordingTarget() = default;
    HRESULT Answer(const char* call, DWORD* effect) {
        *effect &= log_.Takes;
        // One effect, as a shell target answers.
        if (*effect & DROPEFFECT_MOVE) *effect = DROPEFFECT_MOVE;
        return Passed(call, S_OK, effect);
    }
    HRESULT Passed(const char* call, HRESULT hr, DWORD* effect) {
        log_.Calls.push_back(std::string(call) + " " + name_);
        log_.LastAnswer = *effect;
        return hr;
    }
    ULONG refs_ = 1;
    std::string name_;
    ComPtr<IDropTarget> shell_;
    TDropLog& log_;
    bool passDrop_;
};

// The tree whose drag loop is the test's and whose items' drop targets are recorders.
class TDragExplorer : public TLazyExplorerTreeview {
public:
    using TLazyExplorerTreeview::TLazyExplorerTreeview;
    std::function<HRESULT(IDataObject*, IDropSource*, DWORD, DWORD&)> Loop;
    TDropLog Log;
    bool PassDrop = false;
    int Loops = 0;
protected:
    HRESULT RunDragLoop(IDataObject* data, IDropSource* source, DWORD allowed, DWORD& effect) override {
        ++Loops;
        return Loop ? Loop(data, source, allowed, effect) : HRESULT(DRAGDROP_S_CANCEL);
    }
    ComPtr<IDropTarget> ItemDropTarget(TNamespace* ns) override {
        ComPtr<IDropTarget> shell = TLazyExplorerTreeview::ItemDropTarget(ns);
        if (!shell) return shell;
        return ComPtr<IDropTarget>::Attach(new TRecordingTarget(WideToAnsi(ns->NameInFolder()), shell, Log, PassDrop));
    }
};

class ExplorerDrag : public ::testing::Test {
protected:
    TShellUtilitiesScope shell;
    shelltest::TempFolder folder{L"krv_drag"};
    TDragExplorer tree;

    void SetUp() override {
        ::OleInitialize(nullptr);
        for (const wchar_t* dir : {L"alpha", L"alpha\\inner", L"beta"}) shelltest::MakeDir(folder / dir);
        shelltest::WriteFileBytes(folder / L"note.txt", "note");
        Show(tree, 0);
    }
    void Show(TDragExplorer& t, int left) {
        t.SetParent(&shelltest::ShownForm());
        t.SetBounds(left, 0, 300, 300);
        t.HandleNeeded();
        t.SetFileObjects({foFolders, foNonFolders, foHidden});
        TLETMiscOptions misc = t.TreeOptions().LETMiscOptions();
        t.TreeOptions().SetLETMiscOptions(misc - toChangeNotifierThread);
        t.TreeOptions().SetLETShellOptions(t.TreeOptions().LETShellOptions() + toDragDrop);
        t.SetRootFolderCustomPath(folder.Path());
        t.SetActive(true);
        t.SetExpanded(t.GetFirst(), true);
        t.Update();
    }

    PLazyNode Child(const std::wstring& name, PLazyNode parent = nullptr, TDragExplorer* in = nullptr) {
        TDragExplorer& t = in ? *in : tree;
        for (PLazyNode run = t.GetFirstChild(parent ? parent : t.GetFirst()); run; run = t.GetNextSibling(run)) {
            TNamespace* ns;
            if (t.ValidateNamespace(run, ns) && ns->NameInFolder() == name) return run;
        }
        return nullptr;
    }
    POINT Label(PLazyNode node, TDragExplorer* in = nullptr) {
        RECT r = (in ? *in : tree).GetDisplayRect(node, ColumnNone, true);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    POINTL Screen(PLazyNode node, TDragExplorer* in = nullptr) {
        POINT p = Label(node, in);
        ::ClientToScreen((in ? *in : tree).Handle(), &p);
        return POINTL{p.x, p.y};
    }
    // A press on the node's label and a move past the drag threshold, as the mouse does it.
    void DragByMouse(PLazyNode node, WPARAM keys = 0) {
        POINT p = Label(node);
        ::SendMessageW(tree.Handle(), WM_LBUTTONDOWN, MK_LBUTTON | keys, MAKELPARAM(p.x, p.y));
        ::SendMessageW(tree.Handle(), WM_MOUSEMOVE, MK_LBUTTON | keys, MAKELPARAM(p.x + 12, p.y + 3));
        ::SendMessageW(tree.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(p.x + 12, p.y + 3));
    }
    IDropTarget* Target() { return tree.DragManager()->DropTarget(); }
    void TearDown() override { tree.CancelEditNode(); }
};

std::vector<uint8_t> GlobalBytes(IDataObject* data, UINT format) {
    FORMATETC fe{CLIPFORMAT(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StgMediumOwner medium;
    if (data->GetData(&fe, medium.put()) != S_OK || medium.get().tymed != TYMED_HGLOBAL) return {};
    GlobalLockScope lock(medium.get().hGlobal);
    auto* p = lock.as<const uint8_t>();
    std::vector<uint8_t> bytes;
    if (p) bytes.assign(p, p + ::GlobalSize(medium.get().hGlobal));
    return bytes;
}

// The lists of a "Shell IDList Array" block: the folder first, then the items
// relative to it. Every offset and list is checked against the block.
std::vector<std::vector<uint8_t>> ParseCIDA(const std::vector<uint8_t>& block) {
    std::vector<std::vector<uint8_t>> lists;
    if (block.size() < 8) return lists;
    UINT count = reinterpret_cast<const CIDA*>(block.data())->cidl;
    if (count > (block.size() - 4) / 4 - 1) return lists;
    for (UINT i = 0; i <= count; ++i) {
        UINT offset = reinterpret_cast<const CIDA*>(block.data())->aoffset[i];
        if (offset >= block.size()) return {};
        size_t end = offset;
        while (true) {
            if (end + 2 > block.size()) return {};
            uint16_t cb = uint16_t(block[end] | block[end + 1] << 8);
            if (cb == 0) break;
            end += cb;
        }
        lists.emplace_back(block.begin() + offset, block.begin() + end + 2);
    }
    return lists;
}

std::vector<uint8_t> Bytes(LPCITEMIDLIST pidl) { return shelltest::PIDLBytes(pidl); }

} // namespace

// A drag of two items started with the mouse offers copy, move and link and a
// data object that names them the shell's way, behind the tree's own formats.
TEST_F(ExplorerDrag, ADragOffersTheShellsIDListArrayOfTheDraggedItems) {
    PLazyNode note = Child(L"note.txt"), beta = Child(L"beta");
    ASSERT_TRUE(note && beta);
    tree.ClearSelection();
    tree.SetSelected(note, true);
    tree.SetSelected(beta, true);
    const UINT idList = RegisterShellClipFormats().ShellIDList;
    std::vector<std::vector<uint8_t>> lists;
    DWORD offered = 0;
    bool sameTree = false, clientDataKept = false, treeFormatRenders = false;
    std::vector<UINT> enumerated;
    tree.Loop = [&](IDataObject* data, IDropSource* source, DWORD allowed, DWORD& effect) {
        offered = allowed;
        lists = ParseCIDA(GlobalBytes(data, idList));
        sameTree = TBaseLazyTree::GetTreeFromDataObject(data) == &tree;
        ComPtr<IEnumFORMATETC> formats;
        if (SUCCEEDED(data->EnumFormatEtc(DATADIR_GET, formats.put())) && formats) {
            FORMATETC f;
            while (formats->Next(1, &f, nullptr) == S_OK) {
                CoTaskMem<DVTARGETDEVICE> device(f.ptd);
                enumerated.push_back(f.cfFormat);
            }
        }
        treeFormatRenders = !GlobalBytes(data, ::RegisterClipboardFormatA("Lazy Tree Data")).empty();
        // What a drop target tells the source comes back from the object.
        const UINT performed = ::RegisterClipboardFormatA("Performed DropEffect");
        FORMATETC fe{CLIPFORMAT(performed), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        medium.tymed = TYMED_HGLOBAL;
        DWORD copy = DROPEFFECT_COPY;
        medium.hGlobal = GlobalFromBytes(&copy, sizeof copy);
        if (data->SetData(&fe, &medium, TRUE) == S_OK) {
            std::vector<uint8_t> back = GlobalBytes(data, performed);
            clientDataKept = back.size() >= 4 && std::memcmp(back.data(), &copy, 4) == 0;
        }
        EXPECT_EQ(DRAGDROP_S_CANCEL, source->QueryContinueDrag(TRUE, MK_LBUTTON));
        effect = DROPEFFECT_NONE;
        return HRESULT(DRAGDROP_S_CANCEL);
    };
    DragByMouse(beta);
    ASSERT_EQ(1, tree.Loops) << "the press and move started one drag";
    EXPECT_EQ(DWORD(DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK), offered);
    EXPECT_TRUE(sameTree) << "the tree's own reference travels along";
    EXPECT_TRUE(treeFormatRenders);
    EXPECT_TRUE(clientDataKept);
    EXPECT_NE(enumerated.end(), std::find(enumerated.begin(), enumerated.end(), idList));

    // The folder, then each item once as the node's own list.
    ASSERT_EQ(3u, lists.size());
    TNamespace *root, *noteNs, *betaNs;
    ASSERT_TRUE(tree.ValidateNamespace(tree.GetFirst(), root));
    ASSERT_TRUE(tree.ValidateNamespace(note, noteNs) && tree.ValidateNamespace(beta, betaNs));
    EXPECT_EQ(Bytes(root->AbsolutePIDL()), lists[0]);
    for (TNamespace* ns : {noteNs, betaNs})
        EXPECT_EQ(1, std::count(lists.begin() + 1, lists.end(), Bytes(ns->RelativePIDL())));
    EXPECT_FALSE(tree.TreeStates().Contains(tsOLEDragging));
}

// A drag of note.txt over alpha, then beta, dropped on beta: each folder's
// target hears of it in protocol order, the drop goes to beta's with the
// tree's data object, and the effect beta's target answered is the drag's.
TEST_F(ExplorerDrag, ADropOnAFolderNodeGoesToThatFoldersDropTarget) {
    PLazyNode note = Child(L"note.txt"), alpha = Child(L"alpha"), beta = Child(L"beta");
    ASSERT_TRUE(note && alpha && beta);
    tree.PassDrop = true;   // the shell's own drop, into the scratch folder
    IDataObject* dragged = nullptr;
    DWORD dropped = 0;
    tree.Loop = [&](IDataObject* data, IDropSource* source, DWORD allowed, DWORD& effect) {
        dragged = data;
        DWORD e = allowed;
        EXPECT_EQ(S_OK, Target()->DragEnter(data, MK_LBUTTON, Screen(alpha), &e));
        EXPECT_EQ(DWORD(DROPEFFECT_MOVE), e);
        e = allowed;
        Target()->DragOver(MK_LBUTTON, Screen(alpha), &e);
        e = allowed;
        Target()->DragOver(MK_LBUTTON, Screen(note), &e);   // onto itself
        EXPECT_EQ(DWORD(DROPEFFECT_NONE), e);
        e = allowed;
        Target()->DragOver(MK_LBUTTON, Screen(beta), &e);
        EXPECT_EQ(DWORD(DROPEFFECT_MOVE), e);
        EXPECT_EQ(DRAGDROP_S_DROP, source->QueryContinueDrag(FALSE, 0));
        effect = allowed;
        EXPECT_EQ(S_OK, Target()->Drop(data, 0, Screen(beta), &effect));
        dropped = effect;
        return HRESULT(DRAGDROP_S_DROP);
    };
    tree.OnDragDrop = [&](TBaseLazyTree*, TObject* source, IDataObject*, const TFormatArray&, TShiftState, POINT,
                          DWORD&, TDropMode) {
        EXPECT_EQ(static_cast<TObject*>(&tree), source);
        tree.Log.Calls.push_back("OnDragDrop");
    };
    DragByMouse(note);
    ASSERT_EQ(1, tree.Loops);
    std::vector<std::string> expected{"enter alpha", "over alpha", "leave alpha", "enter beta",
                                      "over beta",   "drop beta",  "OnDragDrop"};
    EXPECT_EQ(expected, tree.Log.Calls);
    EXPECT_EQ(dragged, tree.Log.LastData) << "the shell's target got the tree's data object";
    EXPECT_EQ(tree.Log.LastAnswer, dropped) << "the effect the shell's drop answered";
    EXPECT_TRUE(shelltest::ReadFileBytes(folder / L"note.txt") == "note") << "the source is never lost";
}

// Dragging alpha: neither alpha nor anything below it takes the drop, which
// never reaches a drop target there; beta does take it. Another explorer
// tree over the same folder knows alpha by its item, not its node.
TEST_F(ExplorerDrag, ADropOntoTheDraggedNodeOrBelowItIsRefused) {
    PLazyNode alpha = Child(L"alpha"), beta = Child(L"beta");
    tree.SetExpanded(alpha, true);
    tree.Update();
    PLazyNode inner = Child(L"inner", alpha);
    ASSERT_TRUE(alpha && beta && inner);
    TDragExplorer other;
    Show(other, 310);
    std::vector<DWORD> answers, otherAnswers;
    tree.Loop = [&](IDataObject* data, IDropSource*, DWORD allowed, DWORD& effect) {
        IDropTarget* otherTarget = other.DragManager()->DropTarget();
        DWORD e = allowed;
        otherTarget->DragEnter(data, MK_LBUTTON, Screen(Child(L"alpha", nullptr, &other), &other), &e);
        otherAnswers.push_back(e);
        e = allowed;
        otherTarget->DragOver(MK_LBUTTON, Screen(Child(L"beta", nullptr, &other), &other), &e);
        otherAnswers.push_back(e);
        otherTarget->DragLeave();
        e = allowed;
        Target()->DragEnter(data, MK_LBUTTON, Screen(alpha), &e);
        answers.push_back(e);
        for (PLazyNode over : {inner, beta, inner}) {
            e = allowed;
            Target()->DragOver(MK_LBUTTON, Screen(over), &e);
            answers.push_back(e);
        }
        effect = allowed;
        Target()->Drop(data, 0, Screen(inner), &effect);
        answers.push_back(effect);
        return HRESULT(DRAGDROP_S_DROP);
    };
    DragByMouse(alpha);
    ASSERT_EQ(1, tree.Loops);
    std::vector<DWORD> expected{DROPEFFECT_NONE, DROPEFFECT_NONE, DROPEFFECT_MOVE, DROPEFFECT_NONE, DROPEFFECT_NONE};
    EXPECT_EQ(expected, answers);
    EXPECT_EQ((std::vector<std::string>{"enter beta", "leave beta"}), tree.Log.Calls);
    EXPECT_EQ((std::vector<DWORD>{DROPEFFECT_NONE, DROPEFFECT_MOVE}), otherAnswers);
    EXPECT_EQ((std::vector<std::string>{"enter beta", "leave beta"}), other.Log.Calls);
}

// A read-only tree starts no drag and hands no drop to the shell; data from
// outside any tree (the shell's own object of a file) reaches the folder's
// target otherwise, and a target that refuses at the drop is left, not dropped on.
TEST_F(ExplorerDrag, AReadOnlyTreeNeitherStartsNorTakesDrags) {
    PLazyNode note = Child(L"note.txt"), beta = Child(L"beta");
    TNamespace* noteNs;
    ASSERT_TRUE(tree.ValidateNamespace(note, noteNs));
    ComPtr<IDataObject> outside = noteNs->DataObject(TNamespaceArray{noteNs});
    ASSERT_TRUE(outside);
    auto play = [&](DWORD takesAtDrop) {
        DWORD e = DROPEFFECT_COPY;
        Target()->DragEnter(outside.get(), MK_LBUTTON, Screen(beta), &e);
        tree.Log.Takes = takesAtDrop;
        e = DROPEFFECT_COPY;
        Target()->Drop(outside.get(), 0, Screen(beta), &e);
        tree.Log.Takes = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        return e;
    };
    TLETMiscOptions misc = tree.TreeOptions().LETMiscOptions();
    tree.TreeOptions().SetLETMiscOptions(misc + toLETReadOnly);
    DragByMouse(note);
    EXPECT_EQ(0, tree.Loops);
    EXPECT_EQ(DWORD(DROPEFFECT_NONE), play(DROPEFFECT_COPY));
    EXPECT_TRUE(tree.Log.Calls.empty());

    tree.TreeOptions().SetLETMiscOptions(misc);
    EXPECT_EQ(DWORD(DROPEFFECT_COPY), play(DROPEFFECT_COPY));
    EXPECT_EQ(DWORD(DROPEFFECT_NONE), play(DROPEFFECT_NONE));
    std::vector<std::string> expected{"enter beta", "over beta", "drop beta", "enter beta", "over beta", "leave beta"};
    EXPECT_EQ(expected, tree.Log.Calls);
}
