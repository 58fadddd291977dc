// The string tree's content as plain text, Unicode text, CSV, rich text and
// HTML: one node set, the visible columns in display order.
#include "tree/string/LazyStringTree.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTreeGlobals.h"
#include "framework/OleData.h"
#include "framework/SysUtils.h"
#include <algorithm>
#include <cmath>
#include <cstring>

namespace krv {

namespace {

std::vector<PLazyNode> NodesOf(TBaseLazyTree& tree, TLTExportSource source) {
    PLazyNode (TBaseLazyTree::*first)() = &TBaseLazyTree::GetFirst;
    PLazyNode (TBaseLazyTree::*next)(PLazyNode) = &TBaseLazyTree::GetNext;
    switch (source) {
    case esAll: break;
    case esVisible:
        first = &TBaseLazyTree::GetFirstVisible;
        next = &TBaseLazyTree::GetNextVisible;
        break;
    case esSelected:
        first = &TBaseLazyTree::GetFirstSelected;
        next = &TBaseLazyTree::GetNextSelected;
        break;
    case esCutCopySet:
        first = &TBaseLazyTree::GetFirstCutCopy;
        next = &TBaseLazyTree::GetNextCutCopy;
        break;
    case esVisibleInitialized: {
        // From the first shown top-level node, initialising on the way.
        std::vector<PLazyNode> nodes;
        for (PLazyNode n = tree.GetFirstVisibleChild(nullptr); n; n = tree.GetNextVisible(n)) nodes.push_back(n);
        return nodes;
    }
    }
    std::vector<PLazyNode> nodes;
    for (PLazyNode n = (tree.*first)(); n; n = (tree.*next)(n)) nodes.push_back(n);
    return nodes;
}

std::vector<TColumnIndex> ColumnsOf(TBaseLazyTree& tree) {
    if (tree.Header().ColumnCount() == 0) return {};
    return tree.Header().VisibleColumnsInOrder();
}

unsigned MaxLevelOf(TBaseLazyTree& tree, const std::vector<PLazyNode>& nodes) {
    unsigned level = 0;
    for (PLazyNode n : nodes) level = std::max(level, tree.GetNodeLevel(n));
    return level;
}

std::wstring Same(const std::wstring& s) { return s; }

// A cell holding the separator, a quote or a line break is quoted with its
// quotes doubled, so that every cell reads back as it was, in both forms.
template <class Char> std::basic_string<Char> Quoted(const std::basic_string<Char>& text, const std::basic_string<Char>& separator) {
    bool needs = (!separator.empty() && text.find(separator) != text.npos) ||
                 text.find_first_of(std::basic_string<Char>{Char('"'), Char('\r'), Char('\n')}) != text.npos;
    if (!needs) return text;
    std::basic_string<Char> out(1, Char('"'));
    for (Char c : text) {
        out += c;
        if (c == Char('"')) out += c;
    }
    out += Char('"');
    return out;
}

template <class Char>
std::basic_string<Char> Separated(TCustomLazyStringTree& tree, const std::vector<PLazyNode>& nodes,
                                  const std::basic_string<Char>& separator,
                                  std::basic_string<Char> (*convert)(const std::wstring&)) {
    if (nodes.empty()) return {};
    // A node its text handlers deleted mid-row has empty cells.
    auto cell = [&tree](PLazyNode node, TColumnIndex column) { return node ? tree.Text(node, column) : std::wstring(); };
    std::vector<TColumnIndex> columns = ColumnsOf(tree);
    unsigned maxLevel = MaxLevelOf(tree, nodes);
    std::basic_string<Char> padding;
    for (unsigned i = 0; i < maxLevel; ++i) padding += separator;
    TColumnIndex mainColumn = tree.Header().MainColumn();
    TTextBuffer<Char> buffer;
    if (!columns.empty()) {
        for (size_t i = 0; i < columns.size(); ++i) {
            buffer.Add(Quoted(convert(tree.Header().Columns()[columns[i]].Text()), separator));
            if (i + 1 == columns.size()) break;
            if (columns[i] == mainColumn) buffer.Add(padding);
            buffer.Add(separator);
        }
        buffer.AddNewLine();
    }
    for (const PLazyNode& node : nodes) {
        if (!node) continue;
        unsigned level = tree.GetNodeLevel(node);
        if (columns.empty()) {
            for (unsigned l = 0; l < level; ++l) buffer.Add(separator);
            buffer.Add(Quoted(convert(cell(node, ColumnNone)), separator));
        }
        for (size_t i = 0; i < columns.size(); ++i) {
            std::basic_string<Char> text = Quoted(convert(cell(node, columns[i])), separator);
            if (columns[i] == mainColumn) {
                for (unsigned l = 0; l < level; ++l) buffer.Add(separator);
                buffer.Add(text);
                for (unsigned l = level; l < maxLevel; ++l) buffer.Add(separator);
            } else {
                buffer.Add(text);
            }
            if (i + 1 < columns.size()) buffer.Add(separator);
        }
        buffer.AddNewLine();
    }
    return buffer.AsString();
}

// Lone surrogates of either kind are dropped: they have no UTF-8 form.
std::string Utf8(const std::wstring& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00) {
            if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) continue;
            c = (c - 0xD800) * 1024 + (uint32_t(s[++i]) - 0xDC00) + 0x10000;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            continue;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Text in an element or a quoted attribute: the markup characters as entities.
std::string HtmlText(const std::wstring& s) {
    std::string out;
    for (char c : Utf8(s)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string HtmlColor(TColor color) {
    COLORREF c = ColorToRGB(color);
    return Format("#%.2X%.2X%.2X", unsigned(GetRValue(c)), unsigned(GetGValue(c)), unsigned(GetBValue(c)));
}

// The CSS of a font: a class rule with a name, else an inline style attribute
// (whose inner quotes are entities, or they would end the attribute).
std::string FontCss(const TFont& font, const std::string& className) {
    std::string css = className.empty() ? " style=\"{font:" : "." + className + "{font:";
    if (font.Style() & fsUnderline) css += " underline";
    if (font.Style() & fsItalic) css += " italic";
    if (font.Style() & fsBold) css += " bold";
    std::string quote = className.empty() ? "&quot;" : "\"";
    css += Format(" %dpt ", font.Size()) + quote + HtmlText(AnsiToWide(font.Name())) + quote + ";";
    css += "color:" + HtmlColor(font.Color()) + ";}";
    if (className.empty()) css += "\"";
    return css;
}

std::string HtmlAlignment(TAlignment alignment, TBiDiMode bidi) {
    std::string out;
    if (bidi != bdLeftToRight) {
        if (alignment == taLeftJustify) alignment = taRightJustify;
        else if (alignment == taRightJustify) alignment = taLeftJustify;
        out += " dir=\"rtl\"";
    }
    out += alignment == taRightJustify ? " align=right" : alignment == taCenter ? " align=center" : " align=left";
    return out;
}

// Fonts and colours of the rich text, numbered in order of first use.
class TRtfTables {
public:
    int FontIndex(const std::string& name) { return IndexOf(fonts_, name); }
    int ColorIndex(COLORREF color) { return IndexOf(colors_, color) + 1; }
    std::string Header() const {
        std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1043{\\fonttbl";
        for (size_t i = 0; i < fonts_.size(); ++i) out += Format("{\\f%d %s;}", int(i), fonts_[i].c_str());
        out += "}{\\colortbl;";
        for (COLORREF c : colors_)
            out += Format("\\red%d\\green%d\\blue%d;", int(GetRValue(c)), int(GetGValue(c)), int(GetBValue(c)));
        return out + "}";
    }

    // One run of text in the font; what equals the previous run is not repeated.
    std::string Run(const TFont& font, const std::wstring& text) {
        std::string out;
        unsigned style = font.Style();
        if (style & fsUnderline) out += "\\ul";
        if (style & fsItalic) out += "\\i";
        if (style & fsBold) out += "\\b";
        int f = FontIndex(font.Name()), c = ColorIndex(ColorToRGB(font.Color())), size = 2 * font.Size();
        if (f != lastFont_) out += Format("\\f%d", lastFont_ = f);
        if (c != lastColor_) out += Format("\\cf%d", lastColor_ = c);
        if (size != lastSize_) out += Format("\\fs%d", lastSize_ = size);
        out += " ";
        // Readers take \u's argument as a signed 16-bit number.
        for (wchar_t ch : text) out += Format("\\u%d\\'3f", ch > 32767 ? int(ch) - 65536 : int(ch));
        if (style & fsUnderline) out += "\\ul0";
        if (style & fsItalic) out += "\\i0";
        if (style & fsBold) out += "\\b0";
        return out;
    }

private:
    template <class T> static int IndexOf(std::vector<T>& list, const T& value) {
        auto it = std::find(list.begin(), list.end(), value);
        if (it != list.end()) return int(it - list.begin());
        list.push_back(value);
        return int(list.size()) - 1;
    }
    std::vector<std::string> fonts_;
    std::vector<COLORREF> colors_;
    int lastFont_ = -1, lastColor_ = -1, lastSize_ = -1;
};

std::string RtfAlignment(TAlignment alignment) {
    return alignment == taRightJustify ? "\\qr" : alignment == taCenter ? "\\qc" : "";
}

int ScreenPixelsPerInch() {
    WindowDC dc(nullptr);
    int ppi = ::GetDeviceCaps(dc.get(), LOGPIXELSX);
    return ppi > 0 ? ppi : 96;
}

} // namespace

std::string ListSeparator() {
    wchar_t buffer[8] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SLIST, buffer, 8) <= 1) return ",";
    return WideToAnsi(buffer);
}

std::string WrapHtmlFormat(const std::string& fragment) {
    // The header and the two fixed pieces around the fragment have fixed
    // lengths (97, 62 and 110 bytes), so the offsets are constants.
    size_t l = fragment.size();
    std::string out = Format("Version:1.0\r\nStartHTML:%.8d\r\nEndHTML:%.8d\r\nStartFragment:%.8d\r\nEndFragment:%.8d\r\n",
                             97, int(l + 301), 269, int(l + 269));
    out += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">";
    out += "<html><head><META http-equiv=Content-Type content=\"text/html; charset=utf-8\"></head><body>"
           "<!--StartFragment-->";
    out += fragment;
    out += "<!--EndFragment--></body></html>";
    return out;
}

std::string TCustomLazyStringTree::ExportText(TLTExportSource source, const std::string& separator) {
    std::vector<PLazyNode> nodes = NodesOf(*this, source);
    TNodeWatch watch(this, nodes);
    return Separated<char>(*this, nodes, separator, [](const std::wstring& s) { return WideToAnsi(s); });
}

std::wstring TCustomLazyStringTree::ExportUnicode(TLTExportSource source, const std::wstring& separator) {
    std::vector<PLazyNode> nodes = NodesOf(*this, source);
    TNodeWatch watch(this, nodes);
    return Separated<wchar_t>(*this, nodes, separator, &Same);
}

void TCustomLazyStringTree::ExportCellFont(TCanvas& canvas, PLazyNode node, TColumnIndex column) {
    canvas.Font = Font();
    if (node) DoPaintText(canvas, node, column, ttNormal);
}

// The text handlers may delete nodes: the export holds its list of nodes, skips
// the rows of those gone and leaves empty the cells of a node that goes mid-row.
std::wstring TCustomLazyStringTree::CellText(PLazyNode node, TColumnIndex column) {
    return node ? Text(node, column) : std::wstring();
}

std::string TCustomLazyStringTree::ExportHtml(TLTExportSource source, const std::wstring& caption) {
    std::vector<PLazyNode> nodes = NodesOf(*this, source);
    TNodeWatch watch(this, nodes);
    std::vector<TColumnIndex> columns = ColumnsOf(*this);
    TLTHeader& header = Header();
    const std::string pad = Format("padding-left:%dpx;padding-right:%dpx;", Margin(), Margin());
    const std::string lineStyle = LineStyle() == lsSolid ? "solid;" : "dotted;";
    TLTPaintOptions paint = TreeOptions().PaintOptions();
    TBufferedString buffer;
    auto line = [&](const std::string& s) { buffer.Add(s); buffer.AddNewLine(); };

    std::string attributes = " ";
    if (!caption.empty()) attributes += "caption=\"" + HtmlText(caption) + "\"";
    // The tree's border is one pixel wide (no inner border width).
    if (BorderStyle() != TBorderStyle::bsNone) attributes += "border=\"1\" frame=box";

    line("<style type=\"text/css\">");
    line(FontCss(Font(), "default"));
    line(FontCss(header.Font(), "header"));
    line((paint.Contains(toShowHorzGridLines)
              ? ".noborder{border-style:" + lineStyle + " border-bottom:1;border-left:0;border-right:0; border-top:0;"
              : std::string(".noborder{border-style:none;")) + pad + "}");
    line(".normalborder {border-top:none; border-left:none; " +
         (paint.Contains(toShowVertGridLines) ? "border-right:1 " + lineStyle : std::string("border-right:none;")) +
         (paint.Contains(toShowHorzGridLines) ? "border-bottom:1 " + lineStyle : std::string("border-bottom:none;")) +
         pad + "}</style>");
    line("<table class=\"default\" bgcolor=" + HtmlColor(Color()) + attributes +
         Format(" cellspacing=\"0\" cellpadding=%d>", Margin()));

    unsigned maxLevel = MaxLevelOf(*this, nodes);
    TColumnIndex mainColumn = header.MainColumn();
    if (!columns.empty()) {
        line("<tr class=\"header\" style=\"" + pad + "\">");
        for (TColumnIndex c : columns) {
            TLazyTreeColumn& column = header.Columns()[c];
            std::string th = Format("<th height=\"%dpx\"", header.Height());
            th += HtmlAlignment(column.Alignment(), column.BiDiMode());
            if (c == mainColumn && maxLevel > 0) th += Format(" colspan=\"%u\"", maxLevel + 1);
            th += " bgcolor=" + HtmlColor(clBtnFace) + Format(" width=\"%dpx\">", column.Width());
            buffer.Add(th + HtmlText(column.Text()) + "</th>");
        }
        line("</tr>");
    }

    TCanvas canvas;
    std::vector<TColumnIndex> cells = columns.empty() ? std::vector<TColumnIndex>{ColumnNone} : columns;
    for (const PLazyNode& node : nodes) {
        if (!node) continue;
        unsigned level = GetNodeLevel(node), height = NodeHeight(node);
        line(" <tr class=\"default\">");
        for (TColumnIndex c : cells) {
            TLazyTreeColumn* column = c >= 0 ? &header.Columns()[c] : nullptr;
            ExportCellFont(canvas, node, c);
            bool fontChanged = !canvas.Font.SameFace(Font()) || canvas.Font.Color() != Font().Color();
            bool isMain = !column || c == mainColumn;
            bool parentColor = !column || column->Options().Contains(coParentColor);
            if (isMain) {
                for (unsigned l = 0; l < level; ++l) {
                    if (parentColor)
                        buffer.Add(l == 0 ? Format(" <td height=\"%upx\">&nbsp;</td>", height)
                                          : std::string(" <td>&nbsp;</td>"));
                    else
                        buffer.Add(Format("<td class=\"noborder\" width=\"%u\" height=\"%upx\"", Indent(), height) +
                                   " bgcolor=" + HtmlColor(column->Color()) + ">&nbsp;</td>");
                }
            }
            std::string td = fontChanged ? " <td class=\"normalborder\" " + FontCss(canvas.Font, "") + " height=\""
                                         : std::string(" <td class=\"normalborder\"  height=\"");
            td += Format("%upx\"", height);
            td += column ? HtmlAlignment(column->Alignment(), column->BiDiMode()) : HtmlAlignment(Alignment(), BiDiMode());
            if (isMain && level < maxLevel) td += Format(" colspan=\"%u\"", maxLevel - level + 1);
            if (!parentColor) td += " bgcolor=" + HtmlColor(column->Color());
            buffer.Add(td + ">" + HtmlText(CellText(node, c)) + "</td>");
        }
        line(" </tr>");
    }
    buffer.Add(std::string("</table>"));
    return buffer.AsString();
}

std::string TCustomLazyStringTree::ExportRtf(TLTExportSource source) {
    std::vector<PLazyNode> nodes = NodesOf(*this, source);
    TNodeWatch watch(this, nodes);
    std::vector<TColumnIndex> columns = ColumnsOf(*this);
    TLTHeader& header = Header();
    TColumnIndex mainColumn = header.MainColumn();
    TRtfTables tables;
    const int ppi = ScreenPixelsPerInch();
    auto twips = [ppi](int pixels) { return int(std::lround(pixels * 1440.0 / ppi)); };

    std::string body = "\\uc1\\trowd\\trgaph70";
    if (columns.empty()) {
        body += Format("\\cellx%d", twips(ClientWidth()));
    } else {
        int right = 0;
        for (TColumnIndex c : columns) body += Format("\\cellx%d", twips(right += header.Columns()[c].Width()));
        for (TColumnIndex c : columns) {
            TLazyTreeColumn& column = header.Columns()[c];
            body += "\\pard\\intbl" + RtfAlignment(column.Alignment()) + tables.Run(header.Font(), column.Text()) +
                    "\\cell";
        }
        body += "\\row";
    }
    TCanvas canvas;
    std::vector<TColumnIndex> cells = columns.empty() ? std::vector<TColumnIndex>{ColumnNone} : columns;
    for (const PLazyNode& node : nodes) {
        if (!node) continue;
        for (TColumnIndex c : cells) {
            body += "\\pard\\intbl" + RtfAlignment(c >= 0 ? header.Columns()[c].Alignment() : Alignment());
            // The run's own blank ends the last control word: one more would be text.
            if (c < 0 || c == mainColumn)
                for (unsigned l = GetNodeLevel(node); l > 0; --l) body += "\\tab";
            ExportCellFont(canvas, node, c);
            body += tables.Run(canvas.Font, CellText(node, c)) + "\\cell";
        }
        body += "\\row";
    }
    body += "\\pard\\par";
    return tables.Header() + body + "}";
}

HGLOBAL TCustomLazyStringTree::RenderClipboardFormat(CLIPFORMAT format, TLTExportSource source) {
    auto bytes = [](const std::string& s) { return s.empty() ? nullptr : GlobalFromBytes(s.c_str(), s.size() + 1); };
    if (format == CF_TEXT) return bytes(ExportText(source, "\t"));
    if (format == CF_UNICODETEXT) {
        std::wstring s = ExportUnicode(source, L"\t");
        return s.empty() ? nullptr : GlobalFromBytes(s.c_str(), (s.size() + 1) * sizeof(wchar_t));
    }
    InitializeGlobalStructures();
    std::string description, treeClass;
    if (!LookUpFormat(format, description, treeClass)) return nullptr;
    if (description == "CSV") return bytes(ExportText(source, ListSeparator()));
    if (description == "Rich Text Format" || description == "Rich Text Format Without Objects")
        return bytes(ExportRtf(source));
    if (description == "HTML Format") return bytes(WrapHtmlFormat(ExportHtml(source)));
    return nullptr;
}

} // namespace krv
