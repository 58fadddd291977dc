// Colours, fonts, brushes, pens and a canvas over a device context. The GDI
// objects are made on first use and remade when a property changes.
#pragma once
#include "framework/Handle.h"
#include <cstdint>
#include <functional>
#include <string>

namespace krv {

// A colour: an RGB value in the system's blue-green-red order, or a system
// colour (the high bit set, the low byte the COLOR_ index).
using TColor = int32_t;
constexpr TColor SystemColor(int index) { return static_cast<TColor>(0x80000000u | static_cast<unsigned>(index)); }
constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clWhite = 0xFFFFFF;
// No colour (the zip engine owns the name clNone for its compression level).
constexpr TColor clNoColor = 0x1FFFFFFF;
constexpr TColor clBtnFace = SystemColor(COLOR_BTNFACE);
constexpr TColor clBtnText = SystemColor(COLOR_BTNTEXT);
constexpr TColor clBtnShadow = SystemColor(COLOR_BTNSHADOW);
constexpr TColor clBtnHighlight = SystemColor(COLOR_BTNHIGHLIGHT);
constexpr TColor clWindow = SystemColor(COLOR_WINDOW);
constexpr TColor clWindowText = SystemColor(COLOR_WINDOWTEXT);
constexpr TColor clGrayText = SystemColor(COLOR_GRAYTEXT);
constexpr TColor clHighlight = SystemColor(COLOR_HIGHLIGHT);
constexpr TColor clHighlightText = SystemColor(COLOR_HIGHLIGHTTEXT);

COLORREF ColorToRGB(TColor color);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// How wide the letters of a font are: as the face has them, varying, or all alike.
enum TFontPitch { fpDefault, fpVariable, fpFixed };

class TFont {
public:
    TFont();
    TFont(const TFont& other);
    // The face a new font takes (program-wide; "Tahoma" until set).
    static const std::string& DefaultName();
    static void SetDefaultName(const std::string& name);
    TFont& operator=(const TFont& other);

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name);
    int Size() const { return size_; }           // points
    void SetSize(int points);
    unsigned Style() const { return style_; }    // TFontStyle bits
    void SetStyle(unsigned style);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    TFontPitch Pitch() const { return pitch_; }
    void SetPitch(TFontPitch pitch);
    // Made on first use; valid until the face (name, size, style, pitch) changes.
    HFONT Handle() const;
    bool SameFace(const TFont& o) const {
        return name_ == o.name_ && size_ == o.size_ && style_ == o.style_ && pitch_ == o.pitch_;
    }

    // Fired after every change (the control re-sends its font).
    std::function<void()> OnChange;

private:
    void Changed();
    std::string name_;
    int size_;
    unsigned style_ = 0;
    TFontPitch pitch_ = fpDefault;
    TColor color_ = clWindowText;
    mutable FontHandle handle_;
};

enum TBrushStyle { bsSolid, bsClear };

class TBrush {
public:
    TColor Color() const { return color_; }
    void SetColor(TColor color) { if (color != color_) { color_ = color; handle_.reset(); } }
    TBrushStyle Style() const { return style_; }
    void SetStyle(TBrushStyle style) { style_ = style; }
    HBRUSH Handle() const;
private:
    TColor color_ = clWhite;
    TBrushStyle style_ = bsSolid;
    mutable BrushHandle handle_;
};

class TPen {
public:
    TColor Color() const { return color_; }
    void SetColor(TColor color) { if (color != color_) { color_ = color; handle_.reset(); } }
    int Width() const { return width_; }
    void SetWidth(int width) { if (width != width_) { width_ = width; handle_.reset(); } }
    HPEN Handle() const;
private:
    TColor color_ = clBlack;
    int width_ = 1;
    mutable PenHandle handle_;
};

// Drawing on a device context the canvas does not own. The font, brush and
// pen are selected for each drawing call and the DC's own ones put back when
// the canvas lets go of it.
class TCanvas {
public:
    explicit TCanvas(HDC dc = nullptr);
    ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    HDC Handle() const { return dc_; }
    // Attaches another DC (null detaches), restoring the old DC's objects.
    void SetHandle(HDC dc);

    TFont Font;
    TBrush Brush;
    TPen Pen;
    // ETO_ flags for text output; with ETO_OPAQUE text is drawn on the brush colour.
    UINT TextFlags = 0;

    void FillRect(const RECT& r);
    void FrameRect(const RECT& r);
    void Rectangle(int x1, int y1, int x2, int y2);
    void Ellipse(int x1, int y1, int x2, int y2);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void Polygon(const POINT* points, int count);
    void TextOut(int x, int y, const std::string& text);
    // DrawText with the given DT_ flags inside r.
    void TextRect(RECT r, const std::string& text, UINT flags = DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    SIZE TextExtent(const std::string& text);
    int TextWidth(const std::string& text) { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) { return TextExtent(text).cy; }
    void Draw3DFrame(const RECT& r, bool sunken);

private:
    void Select(bool font, bool brush, bool pen);
    HDC dc_ = nullptr;
    HGDIOBJ oldFont_ = nullptr, oldBrush_ = nullptr, oldPen_ = nullptr;
};

} // namespace krv
