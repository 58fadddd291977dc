// The tree that shows text. It stores no text: every cell's text is asked for
// through OnGetText each time it is needed. It keeps one measured width per
// node for the main column, shortens texts that do not fit with an ellipsis,
// draws an optional static text after the normal one and saves the main
// column's text as a caption chunk of the tree stream. Text is UTF-16 from
// the event to the screen.
#pragma once
#include "tree/core/LazyTrees.h"

namespace krv {

class TCustomStringTreeOptions : public TCustomLazyTreeOptions {
public:
    using TCustomLazyTreeOptions::TCustomLazyTreeOptions;
    TLTStringOptions StringOptions() const { return string_; }
    void SetStringOptions(TLTStringOptions v);
    // A string-tree target gets the string options first, then the five sets.
    void AssignTo(TCustomLazyTreeOptions& dest) const override;
private:
    TLTStringOptions string_ = DefaultStringOptions;
};

class TStringTreeOptions : public TCustomStringTreeOptions {
public:
    using TCustomStringTreeOptions::TCustomStringTreeOptions;
};

// Which nodes an export walks.
enum TLTExportSource { esAll, esVisible, esSelected, esCutCopySet, esVisibleInitialized };

class TCustomLazyStringTree : public TBaseLazyTree {
public:
    explicit TCustomLazyStringTree(TComponent* owner = nullptr);
    // The text formats on the clipboard are rendered while they still can be.
    ~TCustomLazyStringTree() override { FlushClipboard(); }

    // The cell's text: DefaultText unless OnGetText says otherwise.
    std::wstring Text(PLazyNode node, TColumnIndex column);
    // Hands the text to OnNewText and repaints the node.
    void SetText(PLazyNode node, TColumnIndex column, const std::wstring& value);
    const std::wstring& DefaultText() const { return defaultText_; }
    void SetDefaultText(const std::wstring& value);
    TCustomStringTreeOptions& TreeOptions() { return static_cast<TCustomStringTreeOptions&>(TBaseLazyTree::TreeOptions()); }
    int TextHeight() const { return textHeight_; }
    int EllipsisWidth() const { return ellipsisWidth_; }
    // The cached width of the main column's text (0: not measured).
    uint32_t CachedWidth(PLazyNode node) const;
    // For a multi-line node the height its text takes laid out in the cell
    // in the canvas's font (for OnMeasureItem); else the node's height.
    int MeasureMultilineHeight(TCanvas& canvas, PLazyNode node, TColumnIndex column);

    // Content export (LazyStringTreeExport.cpp): the nodes of Source and the
    // visible columns in display order.
    std::string ExportText(TLTExportSource source, const std::string& separator);
    std::wstring ExportUnicode(TLTExportSource source, const std::wstring& separator);
    std::string ExportRtf(TLTExportSource source);
    // A UTF-8 table fragment; Caption becomes the table's caption attribute.
    std::string ExportHtml(TLTExportSource source, const std::wstring& caption = L"");
    // The rendering of a clipboard format as movable, shareable global
    // memory, terminator included; null when there is nothing to render.
    HGLOBAL RenderClipboardFormat(CLIPFORMAT format, TLTExportSource source);

    // The text formats (the base renders the node data).
    HRESULT RenderOLEData(const FORMATETC& formatEtcIn, STGMEDIUM& medium, bool forClipboard) override;
    void InvalidateNode(PLazyNode node) override;
    void ReinitNode(PLazyNode node, bool recursive) override;
    bool CancelEditNode() override;
    bool InheritsFrom(const std::string& className) const override {
        return className == "TCustomLazyStringTree" || TBaseLazyTree::InheritsFrom(className);
    }

    using TLSTGetTextEvent = std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column,
                                                TLSTTextType textType, std::wstring& cellText)>;
    TLSTGetTextEvent OnGetText;
    TLSTGetTextEvent OnGetHint;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, TColumnIndex column, TLSTTextType textType)>
        OnPaintText;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column, const std::wstring& newText)> OnNewText;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, TColumnIndex column, const std::wstring& s,
                       int textSpace, bool rightToLeft, std::wstring& result, bool& done)> OnShortenString;

protected:
    friend class TLazyTreeHintWindow;
    virtual void DoGetText(PLazyNode node, TColumnIndex column, TLSTTextType textType, std::wstring& text);
    virtual void DoNewText(PLazyNode node, TColumnIndex column, const std::wstring& text);
    virtual void DoPaintText(TCanvas& canvas, PLazyNode node, TColumnIndex column, TLSTTextType textType);
    virtual std::wstring DoShortenString(TCanvas& canvas, PLazyNode node, TColumnIndex column, const std::wstring& s,
                                         int width, bool rightToLeft, int ellipsisWidth);
    int CalculateTextWidth(TCanvas& canvas, PLazyNode node, TColumnIndex column, const std::wstring& text);
    int DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) override;
    void DoPaintNode(TLTPaintInfo& paintInfo) override;
    bool DoGetCellIsEmpty(PLazyNode node, TColumnIndex column) override;
    int DoIncrementalSearch(PLazyNode node, const std::wstring& text) override;
    std::wstring DoGetNodeHint(PLazyNode node, TColumnIndex column) override;
    std::wstring DoGetNodeTooltip(PLazyNode node, TColumnIndex column) override;
    void AdjustPaintCellRect(TLTPaintInfo& paintInfo, TColumnIndex& nextNonEmpty) override;
    void GetTextInfo(PLazyNode node, TColumnIndex column, TFont& font, RECT& r, std::wstring& text) override;
    void WriteChunks(TStream& stream, PLazyNode node) override;
    bool ReadChunk(TStream& stream, int version, PLazyNode node, uint32_t chunkType, uint32_t chunkSize) override;
    TOptionsClass GetOptionsClass() const override;
    void FontChanged() override;
    PLTEditLink DoCreateEditor(PLazyNode node, TColumnIndex column) override;

private:
    uint32_t* WidthCache(PLazyNode node) const;
    // The cell's font and colour as the painting would set them.
    void ExportCellFont(TCanvas& canvas, PLazyNode node, TColumnIndex column);
    std::wstring CellText(PLazyNode node, TColumnIndex column);
    void ResetWidthCaches();
    void MeasureFont();
    // Sets the canvas font to the tree's, with hot-tracking and selection colours.
    void PrepareTextFont(TLTPaintInfo& info, bool staticText);
    void PaintNormalText(TLTPaintInfo& info, std::wstring text);
    void PaintStaticText(TLTPaintInfo& info, const std::wstring& text);
    void DrawWideText(TLTPaintInfo& info, const std::wstring& text, RECT r, UINT flags);

    std::wstring defaultText_ = L"Node";
    unsigned widthOffset_ = 0;
    int textHeight_ = 0;
    int ellipsisWidth_ = 0;
    bool fontChanged_ = false;
    std::unique_ptr<TCanvas> measureCanvas_;
};

// The user's list separator (the CSV export's), and a UTF-8 fragment wrapped
// as the clipboard's "HTML Format" with its offset header.
std::string ListSeparator();
std::string WrapHtmlFormat(const std::string& fragment);

class TLazyStringTree : public TCustomLazyStringTree {
public:
    explicit TLazyStringTree(TComponent* owner = nullptr);
    TStringTreeOptions& TreeOptions() { return static_cast<TStringTreeOptions&>(TBaseLazyTree::TreeOptions()); }
    bool InheritsFrom(const std::string& className) const override {
        return className == "TLazyStringTree" || TCustomLazyStringTree::InheritsFrom(className);
    }
protected:
    TOptionsClass GetOptionsClass() const override;
};

} // namespace krv
