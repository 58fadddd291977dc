#include "framework/ComCtrls.h"
#include <commctrl.h>
#include <algorithm>
#include <string_view>

namespace krv {

// --------------------------------------------------------------- TImageList

TImageList::TImageList(TComponent* owner, int width, int height)
    : TComponent(owner), width_(width), height_(height) {
    list_.reset(::ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 4, 4));
}

TImageList::TImageList(TComponent* owner, HIMAGELIST shared) : TComponent(owner), shared_(shared), width_(0), height_(0) {
    ::ImageList_GetIconSize(shared, &width_, &height_);
}

TImageList::~TImageList() {
    for (TChangeLink* link : links_) link->sender_ = nullptr;
}

TChangeLink::~TChangeLink() {
    if (sender_) sender_->UnRegisterChanges(this);
}

void TImageList::RegisterChanges(TChangeLink* link) {
    if (!link || link->sender_ == this) return;
    if (link->sender_) link->sender_->UnRegisterChanges(link);
    link->sender_ = this;
    links_.push_back(link);
}

void TImageList::UnRegisterChanges(TChangeLink* link) {
    if (!link || link->sender_ != this) return;
    link->sender_ = nullptr;
    links_.erase(std::find(links_.begin(), links_.end(), link));
}

void TImageList::Change() {
    // A handler may unregister (or destroy) links: walk a copy, skipping those that left.
    std::vector<TChangeLink*> links = links_;
    for (TChangeLink* link : links)
        if (std::find(links_.begin(), links_.end(), link) != links_.end() && link->OnChange) link->OnChange();
}

int TImageList::Count() const { return Handle() ? ::ImageList_GetImageCount(Handle()) : 0; }

int TImageList::AddMasked(HBITMAP bitmap, TColor maskColor) {
    int index = ::ImageList_AddMasked(Handle(), bitmap, ColorToRGB(maskColor));
    if (index >= 0) Change();
    return index;
}

int TImageList::AddPainted(const std::function<void(TCanvas& canvas)>& painter, TColor maskColor) {
    WindowDC screen(nullptr);
    BitmapHandle bitmap(::CreateCompatibleBitmap(screen.get(), width_, height_));
    {
        MemoryDC dc(screen.get());
        SelectObjectScope select(dc.get(), bitmap.get());
        TCanvas canvas(dc.get());
        canvas.Brush.SetColor(maskColor);
        canvas.FillRect(RECT{0, 0, width_, height_});
        painter(canvas);
    }
    return AddMasked(bitmap.get(), maskColor);
}

void TImageList::Draw(HDC dc, int x, int y, int index, bool enabled) const {
    if (!Handle() || index < 0 || index >= Count()) return;
    if (enabled) {
        ::ImageList_Draw(Handle(), index, dc, x, y, ILD_TRANSPARENT);
    } else {
        IMAGELISTDRAWPARAMS p{};
        p.cbSize = sizeof p;
        p.himl = Handle();
        p.i = index;
        p.hdcDst = dc;
        p.x = x;
        p.y = y;
        p.rgbBk = CLR_NONE;
        p.rgbFg = CLR_DEFAULT;
        p.fStyle = ILD_TRANSPARENT | ILD_BLEND50;
        ::ImageList_DrawIndirect(&p);
    }
}

// ------------------------------------------------------------- TProgressBar

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner) { SetBounds(0, 0, 150, 16); }

void TProgressBar::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = PROGRESS_CLASSA;
    params.OwnClass = false;
    params.Style &= ~WS_CLIPCHILDREN;
}

void TProgressBar::CreateHandleDone() {
    ::SendMessageA(handle_, PBM_SETRANGE32, static_cast<WPARAM>(min_), static_cast<LPARAM>(max_));
    ::SendMessageA(handle_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
}

void TProgressBar::SetRange(int min, int max) {
    min_ = min;
    max_ = std::max(min, max);
    position_ = std::clamp(position_, min_, max_);
    if (handle_) CreateHandleDone();
}

void TProgressBar::SetPosition(int position) {
    position_ = std::clamp(position, min_, max_);
    if (handle_) ::SendMessageA(handle_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
}

// --------------------------------------------------------------- TStatusBar

TStatusBar::TStatusBar(TComponent* owner) : TWinControl(owner) {
    SetBounds(0, 0, 200, 19);
    align_ = alBottom;
}

void TStatusBar::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = STATUSCLASSNAMEA;
    params.OwnClass = false;
    params.Style &= ~WS_CLIPCHILDREN;
    // We place it ourselves; the control must not move itself to the parent's bottom.
    params.Style |= CCS_NOPARENTALIGN | CCS_NORESIZE | (SizeGrip ? SBARS_SIZEGRIP : 0);
}

void TStatusBar::CreateHandleDone() {
    ApplyPanels();
    if (!simpleText_.empty()) SetSimpleText(simpleText_);
    if (simplePanel_) SetSimplePanel(true);
}

void TStatusBar::AddPanel(int width, const std::string& text) {
    panels_.push_back(TStatusPanel{text, width});
    ApplyPanels();
}

void TStatusBar::SetPanelText(int index, const std::string& text) {
    TStatusPanel& p = panels_.at(static_cast<size_t>(index));
    p.Text = text;
    if (p.AutoSize) ApplyPanels();
    else if (handle_) ::SendMessageA(handle_, SB_SETTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
}

void TStatusBar::SetPanelWidth(int index, int width) {
    panels_.at(static_cast<size_t>(index)).Width = width;
    ApplyPanels();
}

void TStatusBar::SetPanelAutoSize(int index, bool autoSize) {
    panels_.at(static_cast<size_t>(index)).AutoSize = autoSize;
    ApplyPanels();
}

int TStatusBar::TextWidth(const std::string& text) {
    if (!handle_ || text.empty()) return 0;
    WindowDC dc(handle_);
    SelectObjectScope font(dc.get(), reinterpret_cast<HFONT>(::SendMessageA(handle_, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

int TStatusBar::PanelShownWidth(int index) {
    const TStatusPanel& p = panels_.at(static_cast<size_t>(index));
    if (!p.AutoSize) return p.Width;
    // The panel's borders and the text's inset from them.
    int borders[3] = {};
    if (handle_) ::SendMessageA(handle_, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
    return std::max(p.Width, TextWidth(p.Text) + 2 * borders[0] + 2 * borders[2] + 12);
}

void TStatusBar::SetSimplePanel(bool simple) {
    simplePanel_ = simple;
    if (handle_) ::SendMessageA(handle_, SB_SIMPLE, simple ? TRUE : FALSE, 0);
}

void TStatusBar::SetSimpleText(const std::string& text) {
    simpleText_ = text;
    if (handle_) ::SendMessageA(handle_, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
}

void TStatusBar::ApplyPanels() {
    if (!handle_ || panels_.empty()) return;
    // The last panel takes what is left of the width.
    std::vector<int> edges;
    int x = 0;
    for (size_t i = 0; i < panels_.size(); ++i) {
        x += PanelShownWidth(static_cast<int>(i));
        edges.push_back(i + 1 == panels_.size() ? -1 : x);
    }
    ::SendMessageA(handle_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
    for (size_t i = 0; i < panels_.size(); ++i)
        ::SendMessageA(handle_, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(panels_[i].Text.c_str()));
}

// ---------------------------------------------------------------- TTabSheet

TTabSheet::TTabSheet(TComponent* owner) : TWinControl(owner) { visible_ = false; }

TTabSheet::~TTabSheet() {
    if (pageControl_) pageControl_->RemovePage(this);
}

void TTabSheet::SetPageControl(TPageControl* pageControl) {
    if (pageControl == pageControl_) return;
    if (pageControl_) pageControl_->RemovePage(this);
    pageControl_ = pageControl;
    SetParent(pageControl);
    if (pageControl) pageControl->InsertPage(this);
}

int TTabSheet::PageIndex() const {
    if (!pageControl_) return -1;
    auto& pages = pageControl_->pages_;
    auto it = std::find(pages.begin(), pages.end(), this);
    return it == pages.end() ? -1 : static_cast<int>(it - pages.begin());
}

void TTabSheet::SetCaption(const std::string& text) {
    caption_ = text;
    if (pageControl_) pageControl_->UpdateTab(this);
}

// ------------------------------------------------------------- TPageControl

TPageControl::TPageControl(TComponent* owner) : TWinControl(owner) {
    TabStop = true;
    SetBounds(0, 0, 289, 193);
}

TPageControl::~TPageControl() {
    for (TTabSheet* p : pages_) p->pageControl_ = nullptr;
}

void TPageControl::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = WC_TABCONTROLA;
    params.OwnClass = false;
    params.ExStyle |= WS_EX_CONTROLPARENT;   // Tab walks into the pages
}

void TTabSheet::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.ExStyle |= WS_EX_CONTROLPARENT;
}

void TPageControl::CreateHandleDone() {
    for (size_t i = 0; i < pages_.size(); ++i) {
        std::string text = pages_[i]->Caption();
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        ::SendMessageA(handle_, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
    }
    ShowActive();
}

void TPageControl::InsertPage(TTabSheet* page) {
    pages_.push_back(page);
    page->SetAlign(alClient);
    if (handle_) {
        std::string text = page->Caption();
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        ::SendMessageA(handle_, TCM_INSERTITEMA, pages_.size() - 1, reinterpret_cast<LPARAM>(&item));
    }
    if (!active_) SetActivePage(page);
}

void TPageControl::RemovePage(TTabSheet* page) {
    auto it = std::find(pages_.begin(), pages_.end(), page);
    if (it == pages_.end()) return;
    int index = static_cast<int>(it - pages_.begin());
    pages_.erase(it);
    if (handle_) ::SendMessageA(handle_, TCM_DELETEITEM, static_cast<WPARAM>(index), 0);
    if (active_ == page) {
        active_ = nullptr;
        if (!pages_.empty()) SetActivePage(pages_[0]);
    }
}

void TPageControl::UpdateTab(TTabSheet* page) {
    int index = page->PageIndex();
    if (!handle_ || index < 0) return;
    std::string text = page->Caption();
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    ::SendMessageA(handle_, TCM_SETITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    // A narrower tab leaves the old one's right end painted: the tab strip
    // repaints only the new tabs' area.
    ::InvalidateRect(handle_, nullptr, TRUE);
}

void TPageControl::SetActivePage(TTabSheet* page) {
    if (page && page->pageControl_ != this) return;
    active_ = page;
    ShowActive();
}

int TPageControl::ActivePageIndex() const { return active_ ? active_->PageIndex() : -1; }

void TPageControl::SetActivePageIndex(int index) {
    if (index >= 0 && index < PageCount()) SetActivePage(pages_[static_cast<size_t>(index)]);
}

void TPageControl::ShowActive() {
    if (handle_ && active_) ::SendMessageA(handle_, TCM_SETCURSEL, static_cast<WPARAM>(active_->PageIndex()), 0);
    for (TTabSheet* p : pages_) p->SetVisible(p == active_);
}

void TPageControl::AdjustClientRect(RECT& rect) {
    if (handle_) ::SendMessageA(handle_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&rect));
}

bool TPageControl::CNNotify(NMHDR* header, LRESULT& result) {
    if (header->code != TCN_SELCHANGE) return false;
    int index = static_cast<int>(::SendMessageA(handle_, TCM_GETCURSEL, 0, 0));
    SetActivePageIndex(index);
    DoChange();
    result = 0;
    return true;
}

void TPageControl::DoChange() {
    if (OnChange) OnChange(this);
}

TTabSheet* AddTabSheet(TComponent* owner, TPageControl* control, const std::string& name, const std::string& caption) {
    auto* sheet = new TTabSheet(owner);
    sheet->SetName(name);
    sheet->SetCaption(caption);
    sheet->SetPageControl(control);
    return sheet;
}

} // namespace krv

namespace krv {

// ----------------------------------------------------------------- TAnimate

namespace {
bool useSystemClips = true;
// The system's clips among shell32's resources.
int SystemClipId(TCommonAVI avi) {
    static const int ids[] = {0, 150, 151, 152, 160, 161, 162, 163, 164};
    return ids[avi];
}
} // namespace

void TAnimate::SetUseSystemClips(bool use) { useSystemClips = use; }

namespace {
// The bytes of one of a module's clips, or an empty view.
std::string_view ClipBytes(HMODULE module, int id) {
    HRSRC res = ::FindResourceA(module, MAKEINTRESOURCEA(id), "AVI");
    HGLOBAL data = res ? ::LoadResource(module, res) : nullptr;
    const void* p = data ? ::LockResource(data) : nullptr;
    return p ? std::string_view(static_cast<const char*>(p), ::SizeofResource(module, res)) : std::string_view();
}

// Some systems (Wine) fill every clip number with their one search clip:
// a copy or delete clip that is the find-folder clip is no clip of its own.
bool SystemHasClip(HMODULE shell, TCommonAVI avi) {
    const std::string_view clip = ClipBytes(shell, SystemClipId(avi));
    if (clip.empty()) return false;
    return avi == aviFindFolder || clip != ClipBytes(shell, SystemClipId(aviFindFolder));
}
} // namespace

int TAnimate::OwnClipId(TCommonAVI avi) {
    // Ours mirror the system's numbers, so a resource script reads plainly.
    return avi == aviCopyFiles || avi == aviDeleteFile ? SystemClipId(avi) : 0;
}

TAnimate::TAnimate(TComponent* owner) : TWinControl(owner) { SetBounds(0, 0, 100, 80); }

void TAnimate::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = ANIMATE_CLASSA;
    params.OwnClass = false;
    params.Style |= ACS_CENTER | ACS_TRANSPARENT;
}

void TAnimate::CreateHandleDone() {
    OpenClip();
    if (active_) SetActive(true);
}

void TAnimate::SetCommonAVI(TCommonAVI avi) {
    commonAVI_ = avi;
    if (handle_) {
        OpenClip();
        if (active_) SetActive(true);
    }
}

void TAnimate::OpenClip() {
    clipSource_ = 0;
    ::SendMessageA(handle_, ACM_OPENA, 0, 0);   // closes the clip shown so far
    if (commonAVI_ == aviNone) return;
    if (useSystemClips) {
        HMODULE shell = ::GetModuleHandleA("shell32.dll");
        if (!shell) shell = ::LoadLibraryA("shell32.dll");
        if (shell && SystemHasClip(shell, commonAVI_) &&
            ::SendMessageA(handle_, ACM_OPENA, reinterpret_cast<WPARAM>(shell),
                                    reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(SystemClipId(commonAVI_))))) {
            clipSource_ = 1;
            return;
        }
    }
    const int own = OwnClipId(commonAVI_);
    if (own && ::SendMessageA(handle_, ACM_OPENA, reinterpret_cast<WPARAM>(::GetModuleHandleA(nullptr)),
                              reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(own))))
        clipSource_ = 2;
}

void TAnimate::SetActive(bool active) {
    active_ = active;
    if (!handle_ || !clipSource_) return;
    if (active) ::SendMessageA(handle_, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
    else ::SendMessageA(handle_, ACM_STOP, 0, 0);
}

} // namespace krv
