// The in-place editor of the string tree.
#include "tree/string/LazyStringEdit.h"
#include <algorithm>

namespace krv {

namespace {
constexpr int kMinEditorWidth = 30;
}

// The string tree edits its cells with a TStringEditLink unless its owner supplies a link.
PLTEditLink TCustomLazyStringTree::DoCreateEditor(PLazyNode node, TColumnIndex column) {
    PLTEditLink link = TBaseLazyTree::DoCreateEditor(node, column);
    if (!link) link = std::make_shared<TStringEditLink>();
    return link;
}

// ---- the edit control ---------------------------------------------------------------------------

TLTEdit::TLTEdit(std::shared_ptr<TStringEditLink> link) : linkRef_(std::move(link)), link_(linkRef_.get()) {}

void TLTEdit::CreateControl(HWND parent, bool multiline, bool themed, TAlignment alignment) {
    multiline_ = multiline;
    DWORD style = WS_CHILD | ES_MULTILINE;
    DWORD exStyle = 0;
    if (multiline) style |= ES_AUTOVSCROLL | WS_VSCROLL;
    else style |= ES_AUTOHSCROLL;
    if (themed) exStyle |= WS_EX_CLIENTEDGE;
    else style |= WS_BORDER;
    style |= alignment == taRightJustify ? ES_RIGHT : alignment == taCenter ? ES_CENTER : ES_LEFT;
    HWND wnd = ::CreateWindowExW(exStyle, L"EDIT", L"", style, 0, 0, 0, 0, parent, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    if (!wnd) throw Exception("Cannot make the tree's editor: " + SysErrorMessage(::GetLastError()));
    SubclassWindow(wnd, true);
}

void TLTEdit::Release() {
    released_ = true;
    if (handle_) ::PostMessageW(handle_, ReleaseMessage, 0, 0);
    else delete this;
}

std::wstring TLTEdit::Text() const {
    if (!handle_) return {};
    int length = ::GetWindowTextLengthW(handle_);
    std::wstring text(size_t(length) + 1, L'\0');
    text.resize(size_t(::GetWindowTextW(handle_, text.data(), length + 1)));
    return text;
}

void TLTEdit::SetText(const std::wstring& text) {
    ::SetWindowTextW(handle_, text.c_str());
    ::SendMessageW(handle_, EM_SETMODIFY, FALSE, 0);
}

bool TLTEdit::Modified() const { return handle_ && ::SendMessageW(handle_, EM_GETMODIFY, 0, 0) != 0; }

void TLTEdit::ForgetLink() {
    link_ = nullptr;
    // The last reference may be this one: the link goes at once and releases us (posted).
    std::shared_ptr<TStringEditLink> keep = std::move(linkRef_);
}

bool TLTEdit::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_GETDLGCODE:
        result = DefaultHandler(msg, wParam, lParam) | DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTALLKEYS;
        return true;
    case WM_KEYDOWN: {
        if (!link_) break;
        TCustomLazyStringTree* tree = link_->tree_;
        bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
        if (wParam == VK_RETURN && (!multiline_ || ctrl)) {
            tree->InvalidateNode(link_->node_);
            tree->EndEditNode();
            tree->SetFocus();
            result = 0;
            return true;
        }
        if (wParam == VK_ESCAPE) {
            tree->CancelEditNode();
            tree->SetFocus();
            result = 0;
            return true;
        }
        if (!multiline_ && (wParam == VK_UP || wParam == VK_DOWN)) {
            result = DefaultHandler(msg, wParam == VK_UP ? VK_LEFT : VK_RIGHT, lParam);
            return true;
        }
        break;
    }
    case WM_CHAR:
        // Tab and Escape would beep; Return of a single line ended the edit already.
        if (wParam == VK_TAB || wParam == VK_ESCAPE || (!multiline_ && (wParam == '\r' || wParam == '\n'))) {
            result = 0;
            return true;
        }
        break;
    case WM_KILLFOCUS:
        if (link_ && !link_->stopping_ && link_->tree_->IsEditing()) {
            TCustomLazyStringTree* tree = link_->tree_;
            if (tree->TreeOptions().StringOptions().Contains(toAutoAcceptEditChange)) tree->EndEditNode();
            else tree->CancelEditNode();
        }
        break;
    case WM_COMMAND:
        // The tree hands its editor's change notifications on to it.
        if (HIWORD(wParam) == EN_UPDATE && reinterpret_cast<HWND>(lParam) == handle_ && !multiline_ && link_ &&
            !link_->tree_->TreeOptions().MiscOptions().Contains(toGridExtensions))
            ::PostMessageW(handle_, AutoAdjustMessage, 0, 0);
        result = 0;
        return true;
    case AutoAdjustMessage:
        AutoAdjustSize();
        result = 0;
        return true;
    case ReleaseMessage:
        DestroyHandle();   // deleted in HandleDestroyed
        result = 0;
        return true;
    case WM_DESTROY:
        if (link_ && !link_->stopping_ && !link_->finished_ && Modified() &&
            link_->tree_->TreeOptions().StringOptions().Contains(toAutoAcceptEditChange))
            link_->tree_->SetText(link_->node_, link_->column_, Text());
        break;
    default:
        break;
    }
    return false;
}

void TLTEdit::HandleDestroyed() {
    // Released: nothing refers to this object any more (the window procedure
    // does not touch it after this call).
    if (released_) {
        delete this;
        return;
    }
    ForgetLink();
}

// Resizes the editor to its text, anchored at the side the text starts from.
void TLTEdit::AutoAdjustSize() {
    if (!link_ || !handle_) return;
    TCustomLazyStringTree* tree = link_->tree_;
    ::SendMessageW(handle_, WM_SETREDRAW, FALSE, 0);
    std::wstring text = Text();
    SIZE extent{};
    {
        WindowDC dc(handle_);
        SelectObjectScope select(dc.get(), reinterpret_cast<HGDIOBJ>(::SendMessageW(handle_, WM_GETFONT, 0, 0)));
        ::GetTextExtentPoint32W(dc.get(), text.c_str(), int(text.size()), &extent);
    }
    int width = extent.cx + 2 * tree->TextMargin();
    RECT bounds;
    ::GetWindowRect(handle_, &bounds);
    ::MapWindowPoints(nullptr, tree->Handle(), reinterpret_cast<POINT*>(&bounds), 2);
    // Uncovered parts of the node show again.
    if (bounds.right - bounds.left > width) tree->InvalidateNode(link_->node_);
    RECT r = bounds;
    if (link_->alignment_ == taRightJustify) r.left = r.right - width;
    else r.right = r.left + width;
    link_->SetEditorBounds(r);
    ::SendMessageW(handle_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(handle_, nullptr, TRUE);
}

// ---- the link --------------------------------------------------------------------------------------

TStringEditLink::~TStringEditLink() {
    if (edit_) edit_->Release();
}

bool TStringEditLink::PrepareEditing(TBaseLazyTree* tree, PLazyNode node, TColumnIndex column) {
    auto* stringTree = dynamic_cast<TCustomLazyStringTree*>(tree);
    if (!stringTree || !tree->HandleAllocated()) return false;
    tree_ = stringTree;
    node_ = node;
    column_ = column;
    std::wstring text;
    font_ = tree->Font();
    tree->GetTextInfo(node, column, font_, textBounds_, text);
    font_.SetColor(clBlack);
    alignment_ = tree->ColumnAlignment(column);
    if (tree->ColumnBiDiMode(column) != bdLeftToRight)
        alignment_ = alignment_ == taLeftJustify ? taRightJustify : alignment_ == taRightJustify ? taLeftJustify : alignment_;
    if (!edit_) {
        edit_ = new TLTEdit(shared_from_this());
        try {
            edit_->CreateControl(tree->Handle(), node->States & vsMultiline, tree->TreeStates().Contains(tsUseThemes),
                                 alignment_);
        } catch (...) {
            edit_->ForgetLink();
            TLTEdit* edit = std::exchange(edit_, nullptr);
            edit->Release();
            throw;
        }
    }
    // A column read right to left is edited so too (the editor may be reused from another column).
    LONG_PTR exStyle = ::GetWindowLongPtrW(edit_->Handle(), GWL_EXSTYLE) & ~LONG_PTR(WS_EX_RTLREADING);
    if (tree->ColumnBiDiMode(column) != bdLeftToRight) exStyle |= WS_EX_RTLREADING;
    ::SetWindowLongPtrW(edit_->Handle(), GWL_EXSTYLE, exStyle);
    ::SendMessageW(edit_->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), FALSE);
    // The formatting rectangle alone places the text (no font margins on top of it).
    ::SendMessageW(edit_->Handle(), EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    edit_->SetText(text);
    return true;
}

bool TStringEditLink::StartEditing() {
    if (finished_ || !edit_) return false;
    ::ShowWindow(edit_->Handle(), SW_SHOW);
    ::SendMessageW(edit_->Handle(), EM_SETSEL, 0, -1);
    ::SetFocus(edit_->Handle());
    return true;
}

bool TStringEditLink::FinishEditing() { return EndEdit(true); }

bool TStringEditLink::CancelEditing() { return EndEdit(false); }

// Accepting stores a changed text; cancelling gives the tree its focus back.
// A second end or cancel does nothing.
bool TStringEditLink::EndEdit(bool accept) {
    if (finished_) return false;
    finished_ = true;
    stopping_ = true;
    // The link may go with the edit's reference: it is kept until done here.
    std::shared_ptr<TStringEditLink> self = shared_from_this();
    if (edit_) {
        if (accept && edit_->Modified()) tree_->SetText(node_, column_, edit_->Text());
        ::ShowWindow(edit_->Handle(), SW_HIDE);
        if (!accept && tree_ && tree_->HandleAllocated() && ::IsWindowVisible(tree_->Handle()))
            ::SetFocus(tree_->Handle());
        edit_->ForgetLink();
    }
    stopping_ = false;
    return true;
}

RECT TStringEditLink::GetEditorBounds() {
    RECT r{};
    if (edit_ && edit_->Handle()) {
        ::GetWindowRect(edit_->Handle(), &r);
        ::MapWindowPoints(nullptr, tree_->Handle(), reinterpret_cast<POINT*>(&r), 2);
    }
    return r;
}

void TStringEditLink::ForwardMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (edit_ && edit_->Handle()) ::SendMessageW(edit_->Handle(), msg, wParam, lParam);
}

void TStringEditLink::SetEditorBounds(RECT r) {
    if (finished_ || !edit_ || !edit_->Handle()) return;
    r.left = std::max<LONG>(r.left, 0);
    if (r.right - r.left < kMinEditorWidth) {
        if (alignment_ == taRightJustify) r.left = r.right - kMinEditorWidth;
        else r.right = r.left + kMinEditorWidth;
    }
    r.right = std::min<LONG>(r.right, tree_->ClientWidth());
    HWND wnd = edit_->Handle();
    ::MoveWindow(wnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    // The text sits where the tree draws it.
    RECT format;
    ::GetClientRect(wnd, &format);
    int vertical = tree_->TreeStates().Contains(tsUseThemes) ? 3 : 2;
    ::InflateRect(&format, 2 - tree_->TextMargin(), vertical);
    if (!(node_->States & vsMultiline)) ::OffsetRect(&format, 0, textBounds_.top - r.top);
    ::SendMessageW(wnd, EM_SETRECTNP, 0, reinterpret_cast<LPARAM>(&format));
}

} // namespace krv
