#include "framework/Graphics.h"

namespace krv {

COLORREF ColorToRGB(TColor color) {
    if (color < 0) return ::GetSysColor(color & 0xFF);
    return static_cast<COLORREF>(color) & 0xFFFFFF;
}

namespace {
std::string& DefaultFontName() {
    static std::string name = "Tahoma";
    return name;
}
} // namespace

const std::string& TFont::DefaultName() { return DefaultFontName(); }
void TFont::SetDefaultName(const std::string& name) { DefaultFontName() = name; }

TFont::TFont() : name_(DefaultFontName()), size_(8) {}
TFont::TFont(const TFont& other)
    : name_(other.name_), size_(other.size_), style_(other.style_), pitch_(other.pitch_), color_(other.color_) {}
TFont& TFont::operator=(const TFont& other) {
    if (this != &other) {
        // The colour is not part of the GDI font: an equal face keeps its handle.
        if (!SameFace(other)) handle_.reset();
        name_ = other.name_;
        size_ = other.size_;
        style_ = other.style_;
        pitch_ = other.pitch_;
        color_ = other.color_;
        if (OnChange) OnChange();
    }
    return *this;
}

void TFont::SetName(const std::string& name) { if (name != name_) { name_ = name; Changed(); } }
void TFont::SetSize(int points) { if (points != size_) { size_ = points; Changed(); } }
void TFont::SetStyle(unsigned style) { if (style != style_) { style_ = style; Changed(); } }
void TFont::SetPitch(TFontPitch pitch) { if (pitch != pitch_) { pitch_ = pitch; Changed(); } }
void TFont::SetColor(TColor color) {
    if (color == color_) return;
    color_ = color;
    if (OnChange) OnChange();
}

void TFont::Changed() {
    handle_.reset();
    if (OnChange) OnChange();
}

HFONT TFont::Handle() const {
    if (!handle_) {
        WindowDC screen(nullptr);
        LOGFONTA lf{};
        lf.lfHeight = -::MulDiv(size_, ::GetDeviceCaps(screen.get(), LOGPIXELSY), 72);
        lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (style_ & fsItalic) ? 1 : 0;
        lf.lfUnderline = (style_ & fsUnderline) ? 1 : 0;
        lf.lfStrikeOut = (style_ & fsStrikeOut) ? 1 : 0;
        lf.lfCharSet = DEFAULT_CHARSET;
        lf.lfQuality = DEFAULT_QUALITY;
        lf.lfPitchAndFamily = BYTE(pitch_ == fpFixed ? FIXED_PITCH : pitch_ == fpVariable ? VARIABLE_PITCH : DEFAULT_PITCH);
        lstrcpynA(lf.lfFaceName, name_.c_str(), LF_FACESIZE);
        handle_.reset(::CreateFontIndirectA(&lf));
    }
    return handle_.get();
}

HBRUSH TBrush::Handle() const {
    if (style_ == bsClear) return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    if (!handle_) handle_.reset(::CreateSolidBrush(ColorToRGB(color_)));
    return handle_.get();
}

HPEN TPen::Handle() const {
    if (!handle_) handle_.reset(::CreatePen(PS_SOLID, width_, ColorToRGB(color_)));
    return handle_.get();
}

TCanvas::TCanvas(HDC dc) : dc_(dc) {}
TCanvas::~TCanvas() { SetHandle(nullptr); }

void TCanvas::SetHandle(HDC dc) {
    if (dc_) {
        if (oldFont_) ::SelectObject(dc_, oldFont_);
        if (oldBrush_) ::SelectObject(dc_, oldBrush_);
        if (oldPen_) ::SelectObject(dc_, oldPen_);
    }
    oldFont_ = oldBrush_ = oldPen_ = nullptr;
    dc_ = dc;
}

void TCanvas::Select(bool font, bool brush, bool pen) {
    if (!dc_) return;
    if (font) {
        HGDIOBJ old = ::SelectObject(dc_, Font.Handle());
        if (!oldFont_) oldFont_ = old;
        ::SetTextColor(dc_, ColorToRGB(Font.Color()));
        if (Brush.Style() == bsClear) {
            ::SetBkMode(dc_, TRANSPARENT);
        } else {
            ::SetBkMode(dc_, OPAQUE);
            ::SetBkColor(dc_, ColorToRGB(Brush.Color()));
        }
    }
    if (brush) {
        HGDIOBJ old = ::SelectObject(dc_, Brush.Handle());
        if (!oldBrush_) oldBrush_ = old;
    }
    if (pen) {
        HGDIOBJ old = ::SelectObject(dc_, Pen.Handle());
        if (!oldPen_) oldPen_ = old;
    }
}

void TCanvas::FillRect(const RECT& r) {
    if (dc_ && Brush.Style() != bsClear) ::FillRect(dc_, &r, Brush.Handle());
}

void TCanvas::FrameRect(const RECT& r) {
    if (dc_) ::FrameRect(dc_, &r, Brush.Handle());
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    Select(false, true, true);
    if (dc_) ::Rectangle(dc_, x1, y1, x2, y2);
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
    Select(false, true, true);
    if (dc_) ::Ellipse(dc_, x1, y1, x2, y2);
}

void TCanvas::MoveTo(int x, int y) {
    if (dc_) ::MoveToEx(dc_, x, y, nullptr);
}

void TCanvas::LineTo(int x, int y) {
    Select(false, false, true);
    if (dc_) ::LineTo(dc_, x, y);
}

void TCanvas::Polygon(const POINT* points, int count) {
    Select(false, true, true);
    if (dc_) ::Polygon(dc_, points, count);
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
    Select(true, false, false);
    if (dc_) ::TextOutA(dc_, x, y, text.c_str(), static_cast<int>(text.size()));
}

void TCanvas::TextRect(RECT r, const std::string& text, UINT flags) {
    Select(true, false, false);
    if (dc_) ::DrawTextA(dc_, text.c_str(), static_cast<int>(text.size()), &r, flags);
}

SIZE TCanvas::TextExtent(const std::string& text) {
    SIZE size{0, 0};
    Select(true, false, false);
    if (dc_) ::GetTextExtentPoint32A(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
}

void TCanvas::Draw3DFrame(const RECT& r, bool sunken) {
    if (!dc_) return;
    RECT copy = r;
    ::DrawEdge(dc_, &copy, sunken ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
}

} // namespace krv
