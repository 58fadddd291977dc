#include "shell/combo/LazyExplorerCombobox.h"
#include "shell/notify/LazyShellEvents.h"
#include "shell/notify/LazyShellNotifier.h"
#include "shell/item/LazySysImages.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include <commctrl.h>
#include <uxtheme.h>
#include <vssym32.h>

namespace krv {

std::wstring TCustomLazyExplorerCombobox::InvalidPathPrefix;
std::wstring TCustomLazyExplorerCombobox::InvalidPathSuffix;
std::wstring TCustomLazyExplorerCombobox::InvalidPathCaption;

namespace {
bool SameText(const std::wstring& a, const std::wstring& b) { return WideLowerCase(a) == WideLowerCase(b); }

// What the edit shows for an item: its path, or its name where it has none.
std::wstring EditTextOf(TNamespace* ns) {
    if (!ns) return {};
    if (ns->IsDesktop() || !ns->FileSystem()) return ns->NameNormal();
    return ns->NameParseAddress();
}

std::unique_ptr<TNamespace> ParseToNamespace(const std::wstring& path) {
    LPITEMIDLIST pidl = PathToPIDL(path);
    return pidl ? std::make_unique<TNamespace>(pidl) : nullptr;
}
} // namespace

// ---------------------------------------------------------------- plain parts

std::wstring CompleteDriveForm(const std::wstring& text) {
    if (text.size() == 1) return text + L":\\";
    if (text.size() == 2) return text + L"\\";
    return text;
}

int UnresolvedTailStart(const std::wstring& text, const std::function<bool(const std::wstring&)>& isFolder) {
    int start = 0;
    size_t from = 0;
    while (from < text.size()) {
        size_t slash = text.find(L'\\', from);
        if (slash == std::wstring::npos || !isFolder(text.substr(0, slash + 1))) break;
        start = int(slash + 1);
        from = slash + 2;
    }
    return start;
}

TComboLayout LayoutCombo(const RECT& client, const RECT& inner, SIZE image, int buttonWidth, int textHeight) {
    TComboLayout l{};
    l.Inner = inner;
    l.Button = RECT{inner.right - buttonWidth, inner.top, inner.right, inner.bottom};
    int clientHeight = client.bottom - client.top;
    int imageTop = client.top + (clientHeight - image.cy) / 2;
    l.Image = RECT{inner.left + 2, imageTop, inner.left + 2 + image.cx, imageTop + image.cy};
    int editTop = client.top + (clientHeight - textHeight) / 2;
    l.Edit = RECT{inner.left + image.cx + 4, editTop, l.Button.left - 1, editTop + textHeight};
    return l;
}

// ---------------------------------------------------------------- the edit

TComboEdit::TComboEdit(TCustomLazyExplorerCombobox* combo) : TCustomWideEdit(combo), combo_(combo) {
    TabStop = true;
}

void TComboEdit::CreateParams(TCreateParams& params) {
    TCustomWideEdit::CreateParams(params);
    // The combo box draws the frame.
    params.ExStyle &= ~WS_EX_CLIENTEDGE;
    params.Style &= ~WS_BORDER;
}

void TComboEdit::CreateHandleDone() {
    TCustomWideEdit::CreateHandleDone();
    modified_ = false;
}

void TComboEdit::SetEditText(const std::wstring& text) {
    ++setting_;
    struct Done { int& n; ~Done() { --n; } } done{setting_};
    SetText(text);
    modified_ = false;
}

void TComboEdit::SelectRange(int start, int end) {
    if (HandleAllocated()) ::SendMessageW(Handle(), EM_SETSEL, WPARAM(start), LPARAM(end));
}

void TComboEdit::DoChange() {
    TCustomWideEdit::DoChange();
    if (setting_) return;
    modified_ = true;
    combo_->EditChanged();
}

void TComboEdit::KeyDown(WORD& key, TShiftState shift) {
    TCustomWideEdit::KeyDown(key, shift);
    if (key == VK_RETURN) {
        key = 0;
        combo_->ResolveTypedText();
    } else if (key == VK_F4 || (key == VK_DOWN && (shift & ssAlt))) {
        key = 0;
        combo_->ButtonClick();
    }
}

void TComboEdit::KeyPress(char& key) {
    TCustomWideEdit::KeyPress(key);
    if (key == '\r') key = 0;   // no beep: Enter was taken on key down
}

bool TComboEdit::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    bool handled = TCustomWideEdit::HandleMessage(msg, wParam, lParam, result);
    if (msg == WM_SETFOCUS) PostSetSelection(Handle(), 0, -1);
    return handled;
}

// ---------------------------------------------------------------- the combo box

TCustomLazyExplorerCombobox::TCustomLazyExplorerCombobox(TComponent* owner)
    : TCustomControl(owner), edit_(new TComboEdit(this)), explorerDropDown_(new TPopupExplorerDropDown(this)),
      autoCompleteDropDown_(new TPopupAutoCompleteDropDown(this)), explorerOptions_(explorerDropDown_),
      autoCompleteOptions_(autoCompleteDropDown_) {
    width_ = 300;
    height_ = 23;
    color_ = clWindow;
    edit_->SetParent(this);
    // The tree is shown at the current item once the window exists and has its size.
    explorerDropDown_->OnRollDownInit = [this](TObject*) {
        TPopupExplorerTree& tree = explorerDropDown_->Tree();
        // The desktop is the tree's top: shown closed it would be the only row.
        if (current_) tree.BrowseToPIDL(current_->AbsolutePIDL(), current_->IsDesktop(), true, false, false, true);
        explorerDropDown_->UpdateScrollbar();
    };
    autoCompleteDropDown_->OnRowText = [this](TObject*, const std::wstring& text) {
        edit_->SetEditText(text);
        edit_->SelectRange(int(text.size()), int(text.size()));
    };
}

TCustomLazyExplorerCombobox::~TCustomLazyExplorerCombobox() {
    if (notifierRegistered_) LazyChangeNotifier()->UnRegisterShellChangeNotify(this);
    if (TLETChangeDispatch* links = krv::ChangeDispatch()) links->RemoveLinks(this, lkServerAndClient);
    DestroyHandle();
}

void TCustomLazyExplorerCombobox::CreateParams(TCreateParams& params) {
    TCustomControl::CreateParams(params);
    params.WinClassName = "KrvExplorerCombobox";
    params.Style |= WS_CLIPCHILDREN;
}

void TCustomLazyExplorerCombobox::CreateHandleDone() {
    TCustomControl::CreateHandleDone();
    theme_.Open(Handle(), L"edit");
    comboTheme_.Open(Handle(), L"combobox");
    buttonTheme_.Open(Handle(), L"button");
    // With no item the desktop becomes current.
    if (!current_ && (ComponentState() & csDesigning) == 0) current_ = std::make_unique<TNamespace>(nullptr);
    edit_->SetEditText((ComponentState() & csDesigning) ? AnsiToWide(Name()) : EditTextOf(current_.get()));
    PlaceEdit();
    if (!notifierRegistered_) {
        LazyChangeNotifier()->RegisterShellChangeNotify(this);
        notifierRegistered_ = true;
    }
}

int TCustomLazyExplorerCombobox::TextHeight() {
    WindowDC dc(HandleAllocated() ? Handle() : nullptr);
    SelectObjectScope font(dc.get(), Font().Handle());
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc.get(), &tm);
    return tm.tmHeight;
}

void TCustomLazyExplorerCombobox::FontChanged() {
    TCustomControl::FontChanged();
    edit_->Font() = Font();
    // Grows with a bigger font, never shrinks.
    int wanted = TextHeight() + 8;
    if (wanted > height_) SetHeight(wanted);
    PlaceEdit();
}

TComboLayout TCustomLazyExplorerCombobox::Layout() {
    RECT client{0, 0, width_, height_};
    if (HandleAllocated()) client = ClientRect();
    RECT inner{client.left + 2, client.top + 2, client.right - 2, client.bottom - 2};
    if (Themed()) {
        WindowDC dc(Handle());
        inner = theme_.ContentRect(dc.get(), EP_EDITTEXT, Enabled() ? 1 : 4, client);
    }
    int cx = 16, cy = 16;
    ::ImageList_GetIconSize(SmallSysImages().Handle(), &cx, &cy);
    return LayoutCombo(client, inner, SIZE{cx, cy}, ::GetSystemMetrics(SM_CXVSCROLL), TextHeight());
}

void TCustomLazyExplorerCombobox::PlaceEdit() {
    if (!HandleAllocated()) return;
    RECT e = Layout().Edit;
    edit_->SetBounds(e.left, e.top, e.right - e.left, e.bottom - e.top);
}

void TCustomLazyExplorerCombobox::Paint() {
    HDC dc = canvas_.Handle();
    RECT client = ClientRect();
    TComboLayout l = Layout();
    int index = current_ ? current_->GetIconIndex(false, ICON_SMALL) : imageIndex_;
    bool showIcon = !edit_->Modified() && index >= 0;
    HIMAGELIST images = SmallSysImages().Handle();
    BrushHandle back(::CreateSolidBrush(ColorToRGB(color_)));
    if (Themed()) {
        int state = Enabled() ? 1 : 4;
        theme_.Draw(dc, EP_EDITTEXT, state, client);
        ::FillRect(dc, &l.Inner, back.get());
        if (showIcon) theme_.DrawIcon(dc, EP_EDITTEXT, state, l.Image, images, index);
        int button = !Enabled() ? 4 : hot_ ? 2 : pressed_ ? 3 : 1;
        comboTheme_.Draw(dc, CP_DROPDOWNBUTTON, button, l.Button);
        return;
    }
    ::FillRect(dc, &client, back.get());
    ::DrawEdge(dc, &client, EDGE_SUNKEN, BF_RECT);
    ::DrawFrameControl(dc, &l.Button, DFC_SCROLL, DFCS_SCROLLCOMBOBOX | (pressed_ ? DFCS_FLAT : 0));
    if (showIcon)
        ::ImageList_DrawEx(images, index, dc, l.Image.left, l.Image.top, 0, 0, ColorToRGB(color_), CLR_NONE,
                           ILD_NORMAL);
}

void TCustomLazyExplorerCombobox::SetImageIndex(int value) {
    imageIndex_ = value;
    if (HandleAllocated()) Invalidate();
}

void TCustomLazyExplorerCombobox::SetThemeAware(bool value) {
    themeAware_ = value;
    PlaceEdit();
    if (HandleAllocated()) Invalidate();
}

void TCustomLazyExplorerCombobox::SetButtonState(bool hot, bool pressed, bool away) {
    if (hot == hot_ && pressed == pressed_ && away == pressedAway_) return;
    hot_ = hot;
    pressed_ = pressed;
    pressedAway_ = away;
    if (HandleAllocated()) {
        RECT b = Layout().Button;
        ::InvalidateRect(Handle(), &b, FALSE);
    }
}

void TCustomLazyExplorerCombobox::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomControl::MouseDown(button, shift, x, y);
    RECT b = Layout().Button;
    if (button != mbLeft || !::PtInRect(&b, POINT{x, y})) return;
    SetButtonState(hot_, true, false);
    ::UpdateWindow(Handle());
    ButtonClick();
}

void TCustomLazyExplorerCombobox::MouseMove(TShiftState shift, int x, int y) {
    TCustomControl::MouseMove(shift, x, y);
    if (!tracking_ && HandleAllocated()) {
        TRACKMOUSEEVENT t{sizeof(t), TME_LEAVE, Handle(), 0};
        tracking_ = ::TrackMouseEvent(&t) != FALSE;
    }
    RECT b = Layout().Button;
    bool over = ::PtInRect(&b, POINT{x, y}) != FALSE;
    // Held and moved off: pressed away; back on: pressed again.
    if (pressed_ || pressedAway_) SetButtonState(over, over, !over);
    else SetButtonState(over, false, false);
}

void TCustomLazyExplorerCombobox::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomControl::MouseUp(button, shift, x, y);
    SetButtonState(false, false, false);
}

bool TCustomLazyExplorerCombobox::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_MOUSELEAVE:
        tracking_ = false;
        SetButtonState(false, pressed_, pressedAway_);
        result = 0;
        return true;
    case WM_THEMECHANGED:
        theme_.Open(Handle(), L"edit");
        comboTheme_.Open(Handle(), L"combobox");
        buttonTheme_.Open(Handle(), L"button");
        PlaceEdit();
        ::RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
        result = 0;
        return true;
    case WM_SIZE:
        TCustomControl::HandleMessage(msg, wParam, lParam, result);
        PlaceEdit();
        return true;
    case WM_SETFOCUS:
        edit_->SetFocus();
        result = 0;
        return true;
    case WM_DESTROY:
        // Batches the notifier posted already would die with the window's queue unreleased.
        ReleasePostedBatches(Handle());
        break;
    case WM_SHELLNOTIFY: {
        TLazyShellEventListPtr list(reinterpret_cast<TLazyShellEventList*>(wParam));
        // Names and icons may have changed; the item is read again when painted.
        if (current_) current_->Invalidate(true);
        Invalidate();
        result = 0;
        return true;
    }
    default: break;
    }
    return TCustomControl::HandleMessage(msg, wParam, lParam, result);
}

// ---------------------------------------------------------------- current item

void TCustomLazyExplorerCombobox::MakeCurrent(std::unique_ptr<TNamespace> ns, bool dispatch) {
    current_ = std::move(ns);
    edit_->SetEditText(EditTextOf(current_.get()));
    if (HandleAllocated()) Invalidate();
    if (dispatch && current_)
        if (TLETChangeDispatch* links = krv::ChangeDispatch()) links->DispatchChange(this, current_->AbsolutePIDL());
}

void TCustomLazyExplorerCombobox::SetCurrentItem(std::unique_ptr<TNamespace> ns) { MakeCurrent(std::move(ns), false); }

void TCustomLazyExplorerCombobox::SetPath(const std::wstring& path) {
    auto ns = ParseToNamespace(path);
    if (!ns || (current_ && krv::ILIsEqual(ns->AbsolutePIDL(), current_->AbsolutePIDL()))) return;
    MakeCurrent(std::move(ns), false);
}

void TCustomLazyExplorerCombobox::LinkWith(TLazyExplorerViews* view) {
    TLETChangeDispatch& links = EnsureChangeDispatch();
    links.AddLink(view, this, [this](TObject* server, LPCITEMIDLIST pidl) { ChangeLinkChanged(server, pidl); });
    links.AddLink(this, view, [view](TObject*, LPCITEMIDLIST pidl) { view->SyncToPIDL(pidl); });
}

void TCustomLazyExplorerCombobox::ChangeLinkChanged(TObject* server, LPCITEMIDLIST pidl) {
    if (server == this || !pidl || (current_ && krv::ILIsEqual(pidl, current_->AbsolutePIDL()))) return;
    MakeCurrent(std::make_unique<TNamespace>(PIDLManager()->CopyPIDL(pidl)), false);
}

// ---------------------------------------------------------------- drop-downs

void TCustomLazyExplorerCombobox::ButtonClick() {
    if (autoCompleteDropDown_->DroppedDown()) {
        autoCompleteDropDown_->RollUp(false);
        return;
    }
    if (explorerDropDown_->DroppedDown()) {
        explorerDropDown_->RollUp(false);
        return;
    }
    DropExplorer();
}

void TCustomLazyExplorerCombobox::DropExplorer() {
    TPopupExplorerTree& tree = explorerDropDown_->Tree();
    TLifeWatch dropDown(explorerDropDown_);
    explorerDropDown_->RollDown(edit_, this);
    if (dropDown.Gone()) return;   // the box went with its drop-down while it was open
    SetButtonState(false, false, false);
    if (!explorerDropDown_->LastSelected()) return;
    TNamespace* chosen = nullptr;
    if (tree.ValidateNamespace(tree.FocusedNode(), chosen)) MakeCurrent(chosen->Clone(true), true);
}

void TCustomLazyExplorerCombobox::EditChanged() {
    int rows = autoCompleteDropDown_->UpdateList(edit_->Text());
    if (HandleAllocated()) Invalidate();   // the icon goes while the text is the user's
    if (rows == 0) {
        autoCompleteDropDown_->RollUp(false);
        return;
    }
    if (!autoCompleteDropDown_->DroppedDown() && !explorerDropDown_->DroppedDown())
        autoCompleteDropDown_->RollDown(edit_, this);
}

// ---------------------------------------------------------------- typed text

std::unique_ptr<TNamespace> TCustomLazyExplorerCombobox::ChildNamed(TNamespace* folder, const std::wstring& text,
                                                                    bool files) {
    if (!folder) return nullptr;
    std::unique_ptr<TNamespace> found;
    folder->EnumerateFolder(true, files, false,
                            [&](LPITEMIDLIST child, TNamespace* parent, void*, bool& terminate) {
                                auto ns = std::make_unique<TNamespace>(child, parent);
                                if (ns->Hidden() || !SameText(ns->NameNormal(), text)) return false;
                                // Free of its parent: the folder item may be a passing one.
                                found = ns->Clone(true);
                                terminate = true;
                                return true;
                            },
                            nullptr);
    return found;
}

void TCustomLazyExplorerCombobox::OpenItem(TNamespace* ns) { ns->ShellExecuteNamespace(L"", L"", false, false); }

void TCustomLazyExplorerCombobox::OpenFile(LPITEMIDLIST pidl, const std::wstring& text) {
    TNamespace file(pidl);
    current_.reset();
    imageIndex_ = SystemIconIndex(4);
    OpenItem(&file);
    edit_->SetEditText(text);
    edit_->SelectRange(0, -1);
    if (HandleAllocated()) Invalidate();
}

void TCustomLazyExplorerCombobox::DoInvalidPath(const std::wstring& path) {
    if (OnInvalidPath) {
        OnInvalidPath(this, path);
        return;
    }
    ::MessageBoxW(ApplicationWindow(),
                  (InvalidPathPrefix + path + InvalidPathSuffix).c_str(), InvalidPathCaption.c_str(),
                  MB_ICONEXCLAMATION);
}

void TCustomLazyExplorerCombobox::Unresolved(const std::wstring& text) {
    DoInvalidPath(text);
    int start = UnresolvedTailStart(text, [](const std::wstring& part) { return DirExistsW(part); });
    edit_->SetEditText(text);
    edit_->SelectRange(start, int(text.size()));
}

void TCustomLazyExplorerCombobox::ResolveTypedText() {
    std::wstring text = edit_->Text();
    if (text.empty()) return;
    text = CompleteDriveForm(text);
    auto selectAll = [this] { edit_->SelectRange(0, -1); };
    // A network path is the shell's to parse, or nothing.
    if (text.size() > 2 && text[0] == L'\\' && text[1] == L'\\') {
        if (auto ns = ParseToNamespace(text)) MakeCurrent(std::move(ns), true);
        else Unresolved(text);
        return;
    }
    if (DirExistsW(text)) {
        if (auto ns = ParseToNamespace(text)) MakeCurrent(std::move(ns), true);
        selectAll();
        return;
    }
    std::unique_ptr<TNamespace> named = ChildNamed(DesktopFolder, text, false);
    if (!named) named = ChildNamed(DrivesFolder, text, false);
    if (named) {
        MakeCurrent(std::move(named), true);
        selectAll();
        return;
    }
    if (FileExistsW(text)) {
        if (LPITEMIDLIST pidl = PathToPIDL(text)) OpenFile(pidl, text);
        return;
    }
    if (DesktopFolder && SameText(DesktopFolder->NameNormal(), text)) {
        MakeCurrent(DesktopFolder->Clone(true), true);
        selectAll();
        return;
    }
    if (auto item = ChildNamed(DesktopFolder, text, true)) {
        if (item->Folder()) {
            MakeCurrent(std::move(item), true);
            selectAll();
        } else {
            // Some shells answer a desktop item's bare name here: its file system path then.
            std::wstring path = item->NameParseAddress();
            if (!FileExistsW(path)) path = PIDLToPath(item->AbsolutePIDL());
            if (FileExistsW(path))
                if (LPITEMIDLIST pidl = PathToPIDL(path)) OpenFile(pidl, text);
        }
        return;
    }
    Unresolved(text);
}

} // namespace krv
