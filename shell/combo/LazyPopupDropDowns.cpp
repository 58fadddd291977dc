#include "shell/combo/LazyPopupDropDowns.h"
#include "shell/base/WideStrUtils.h"

namespace krv {

namespace {
// Within this many pixels of the list's edge the mouse scrolls it.
constexpr int kEdgeZone = 20;
// The mouse must move this far between two such steps.
constexpr int kStepDistance = 5;

bool IsNavigationKey(WPARAM key, bool leftRight) {
    switch (key) {
    case VK_UP: case VK_DOWN: case VK_PRIOR: case VK_NEXT: return true;
    case VK_LEFT: case VK_RIGHT: return leftRight;
    default: return false;
    }
}
} // namespace

std::wstring AutoCompleteFolderOf(const std::wstring& text) {
    if (text.size() == 1) return text + L":\\";
    size_t slash = text.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : text.substr(0, slash + 1);
}

// ---------------------------------------------------------------- shared

TBaseLazyTree* TTreeDropDownWnd::PopupTree() const {
    if (!tree_) {
        auto* self = const_cast<TTreeDropDownWnd*>(this);
        self->PrepareTree(tree_ = self->MakePopupTree());
    }
    return tree_;
}

void TTreeDropDownWnd::PrepareTree(TBaseLazyTree* tree) {
    tree->SetParent(this);
    tree->TabStop = false;
    tree->SetBorderStyle(TBorderStyle::bsNone);
    tree->ScrollBarOptions().SetScrollBars(ssNone);
    tree->SetDefaultNodeHeight(17);
    // The caret stays in the owner's edit: the list paints as if it had the focus.
    auto& o = tree->TreeOptions();
    o.SetPaintOptions(o.PaintOptions() + TLTPaintOptions{toPopupMode});
    // Keys move the tree's view without a message to us.
    tree->OnScroll = [this](TBaseLazyTree*, int, int) {
        if (HandleAllocated()) ::PostMessageW(Handle(), WM_DROPDOWNUPDATESCROLLBAR, 0, 0);
    };
    SetFocusControl(tree);
}

bool TTreeDropDownWnd::ScrollBarOnLeft() const {
    TBaseLazyTree* tree = PopupTree();
    return tree && tree->BiDiMode() != bdLeftToRight;
}

int TTreeDropDownWnd::RowHeight() {
    TBaseLazyTree* tree = PopupTree();
    return tree ? tree->DefaultNodeHeight() : TDropDownWnd::RowHeight();
}

void TTreeDropDownWnd::PlaceTree(bool barShown) {
    TBaseLazyTree* tree = PopupTree();
    if (!tree) return;
    int bar = barShown ? ::GetSystemMetrics(SM_CXVSCROLL) : 0;
    int w = std::max(0, width_ - 2 - bar), h = std::max(0, height_ - 2);
    tree->SetBounds(RightToLeftScrollbar() ? bar : 0, 0, w, h);
}

void TTreeDropDownWnd::LayoutChildren(int width, int height) {
    TDropDownWnd::LayoutChildren(width, height);
    PlaceTree(ScrollBar().Visible());
}

void TTreeDropDownWnd::UpdateScrollbar() {
    TBaseLazyTree* tree = PopupTree();
    if (!tree || !HandleAllocated()) return;
    int page = std::max(1, height_ - 2);
    int range = tree->VerticalRange();
    bool shown = range > page;
    PlaceTree(shown);
    TOwnerDrawScrollbar& bar = ScrollBar();
    bar.SetVisible(shown);
    if (!shown) return;
    // The whole range first, so that the page set next is not cut to the
    // range less a page: the thumb is page / range of the track.
    bar.SetMax(range);
    bar.SetPageSize(page);
    bar.SetMax(range - page);
    bar.SmallChange = tree->DefaultNodeHeight();
    bar.LargeChange = page;
    bar.SetPosition(-tree->OffsetY());
}

void TTreeDropDownWnd::AutoScrollStep(int code) {
    if (TBaseLazyTree* tree = PopupTree(); tree && tree->HandleAllocated())
        ::SendMessageW(tree->Handle(), WM_VSCROLL, WPARAM(code), 0);
}

bool TTreeDropDownWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    TBaseLazyTree* tree = PopupTree();
    if (msg == WM_VSCROLL && tree && tree->HandleAllocated()) {
        WORD code = LOWORD(wParam);
        if (code == SB_THUMBTRACK || code == SB_THUMBPOSITION) tree->SetOffsetY(-int(HIWORD(wParam)));
        else if (code != SB_ENDSCROLL) ::SendMessageW(tree->Handle(), WM_VSCROLL, code, 0);
        UpdateScrollbar();
        result = 0;
        return true;
    }
    return TDropDownWnd::HandleMessage(msg, wParam, lParam, result);
}

bool TTreeDropDownWnd::ForwardNavigationKey(MSG& message, bool leftRight) {
    TBaseLazyTree* tree = PopupTree();
    if (!tree || !tree->HandleAllocated()) return false;
    if (message.message == WM_CHAR) return message.wParam == L'\t';
    if (message.message != WM_KEYDOWN) return false;
    WPARAM key = message.wParam == VK_TAB ? VK_DOWN : message.wParam;
    if (!IsNavigationKey(key, leftRight)) return false;
    ::SendMessageW(tree->Handle(), WM_KEYDOWN, key, message.lParam);
    UpdateScrollbar();
    return true;
}

// ---------------------------------------------------------------- explorer

TPopupExplorerTree::TPopupExplorerTree(TPopupExplorerDropDown* dropDown)
    : TLazyExplorerTree(dropDown), dropDown_(dropDown) {
    SetIndent(10);
    auto& o = TreeOptions();
    o.SetLETImageOptions({toImages});
    o.SetSelectionOptions({toFullRowSelect});
    o.SetPaintOptions(o.PaintOptions() - TLTPaintOptions{toShowButtons, toShowTreeLines} + TLTPaintOptions{toHotTrack});
}

void TPopupExplorerTree::TellDropDown() {
    if (dropDown_->HandleAllocated()) ::PostMessageW(dropDown_->Handle(), WM_DROPDOWNUPDATESCROLLBAR, 0, 0);
}

void TPopupExplorerTree::DoExpanded(PLazyNode node) {
    TLazyExplorerTree::DoExpanded(node);
    TellDropDown();
}

void TPopupExplorerTree::DoCollapsed(PLazyNode node) {
    TLazyExplorerTree::DoCollapsed(node);
    TellDropDown();
}

void TPopupExplorerTree::HandleMouseUp(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hitInfo) {
    TLazyExplorerTree::HandleMouseUp(button, shift, p, hitInfo);
    if (button != mbLeft || !hitInfo.Node || !(hitInfo.Positions & (hpOnItemLabel | hpOnNormalIcon | hpOnItemRight)))
        return;
    SetFocusedNode(hitInfo.Node);
    dropDown_->RollUp(true);
}

void TPopupExplorerTree::HandleMouseMoveTree(TShiftState shift, POINT p) {
    TLazyExplorerTree::HandleMouseMoveTree(shift, p);
    if (shift & ssLeft) dropDown_->AutoScrollAt(p.y, ClientHeight());
    else dropDown_->StopAutoScroll();
}

TPopupExplorerDropDown::TPopupExplorerDropDown(TComponent* owner) : TTreeDropDownWnd(owner) {}

TPopupExplorerTree* TPopupExplorerDropDown::CreatePopupTree() { return new TPopupExplorerTree(this); }

void TPopupExplorerDropDown::SetComboBoxStyle(TComboBoxStyle value) {
    style_ = value;
    auto& o = Tree().TreeOptions();
    TLTPaintOptions lines{toShowButtons, toShowTreeLines};
    o.SetPaintOptions(value == cbsLETEnhanced ? o.PaintOptions() + lines : o.PaintOptions() - lines);
}

void TPopupExplorerDropDown::DoRollDownInit() {
    Tree().SetActive(true);
    TTreeDropDownWnd::DoRollDownInit();
}

void TPopupExplorerDropDown::HandleKey(MSG& message, bool& handled) {
    handled = message.wParam == VK_RETURN || message.wParam == VK_ESCAPE;
    if (!handled && (message.message == WM_KEYDOWN || message.message == WM_CHAR))
        handled = ForwardNavigationKey(message, true);
}

// ---------------------------------------------------------------- autocomplete

TPopupAutoCompleteTree::TPopupAutoCompleteTree(TPopupAutoCompleteDropDown* dropDown)
    : TLazyStringTree(dropDown), dropDown_(dropDown) {
    SetNodeDataSize(4);
    SetIndent(0);
    auto& o = TreeOptions();
    o.SetPaintOptions(o.PaintOptions() - TLTPaintOptions{toShowButtons, toShowTreeLines, toShowRoot} +
                      TLTPaintOptions{toHotTrack});
    o.SetSelectionOptions({toFullRowSelect});
}

void TPopupAutoCompleteTree::RefreshRows() {
    InUpdate(*this, [&] {
        Clear();
        SetRootNodeCount(unsigned(strings_.GetCount()));
    });
}

std::wstring TPopupAutoCompleteTree::RowText(PLazyNode node) {
    return node && int(node->Index) < strings_.GetCount() ? strings_.Get(int(node->Index)) : std::wstring();
}

void TPopupAutoCompleteTree::DoGetText(PLazyNode node, TColumnIndex column, TLSTTextType textType,
                                       std::wstring& text) {
    text = RowText(node);
    TLazyStringTree::DoGetText(node, column, textType, text);
}

void TPopupAutoCompleteTree::HandleMouseUp(TMouseButton button, TShiftState shift, POINT p,
                                           THitTestResult& hitInfo) {
    TLazyStringTree::HandleMouseUp(button, shift, p, hitInfo);
    if (button != mbLeft || !hitInfo.Node) return;
    SetFocusedNode(hitInfo.Node);
    dropDown_->RollUp(true);
}

void TPopupAutoCompleteTree::HandleMouseMoveTree(TShiftState shift, POINT p) {
    TLazyStringTree::HandleMouseMoveTree(shift, p);
    bool nearTop = p.y < kEdgeZone, nearBottom = p.y > ClientHeight() - kEdgeZone;
    if ((nearTop || nearBottom) &&
        (std::abs(p.x - lastStep_.x) >= kStepDistance || std::abs(p.y - lastStep_.y) >= kStepDistance)) {
        lastStep_ = p;
        ::SendMessageW(Handle(), WM_VSCROLL, nearTop ? SB_LINEUP : SB_LINEDOWN, 0);
        dropDown_->UpdateScrollbar();
    }
    int top = 0;
    if (PLazyNode node = GetNodeAt(p.x, p.y, true, top); node && node != FocusedNode()) {
        ClearSelection();
        SetFocusedNode(node);
        SetSelected(node, true);
    }
}

TPopupAutoCompleteDropDown::TPopupAutoCompleteDropDown(TComponent* owner) : TTreeDropDownWnd(owner) {}

TPopupAutoCompleteTree* TPopupAutoCompleteDropDown::CreatePopupTree() { return new TPopupAutoCompleteTree(this); }

bool TPopupAutoCompleteDropDown::DoAutoCompleteUpdateList(const std::wstring& text, TWideStringList& list) {
    bool handled = false;
    if (OnAutoCompleteUpdateList) OnAutoCompleteUpdateList(this, text, list, handled);
    return handled;
}

int TPopupAutoCompleteDropDown::UpdateList(const std::wstring& editText) {
    TWideStringList& rows = Tree().Strings();
    rows.Clear();
    TWideStringList own;
    if (DoAutoCompleteUpdateList(editText, own)) {
        rows.AddStrings(own);
    } else if (std::wstring folder = AutoCompleteFolderOf(editText); !folder.empty()) {
        TLazyShellAutoComplete& ac = Tree().AutoComplete();
        ac.SetCurrentDir(folder);
        TWideStringList& names = ac.Strings();
        bool everything = !editText.empty() && editText.back() == L'\\';
        std::wstring typed = WideLowerCase(editText);
        for (int i = 0; i < names.GetCount(); ++i) {
            std::wstring name = names.Get(i);
            if (everything || WideLowerCase(name).compare(0, typed.size(), typed) == 0) rows.Add(name);
        }
    }
    Tree().RefreshRows();
    UpdateScrollbar();
    return rows.GetCount();
}

void TPopupAutoCompleteDropDown::DoRollDownInit() {
    TTreeDropDownWnd::DoRollDownInit();
    if (PLazyNode first = Tree().GetFirstSelected()) Tree().SetFocusedNode(first);
    UpdateScrollbar();
}

void TPopupAutoCompleteDropDown::TellRow() {
    if (PLazyNode node = Tree().FocusedNode(); node && OnRowText) OnRowText(this, Tree().RowText(node));
}

void TPopupAutoCompleteDropDown::DoRollUp(bool selected) {
    if (selected) TellRow();
    TTreeDropDownWnd::DoRollUp(selected);
}

void TPopupAutoCompleteDropDown::HandleKey(MSG& message, bool& handled) {
    handled = message.wParam == VK_RETURN || message.wParam == VK_ESCAPE;
    if (handled || (message.message != WM_KEYDOWN && message.message != WM_CHAR)) return;
    handled = ForwardNavigationKey(message, false);
    if (handled && message.message == WM_KEYDOWN) TellRow();
}

} // namespace krv
