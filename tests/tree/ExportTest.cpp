// Content export of the string tree: a three-column tree with nested nodes,
// non-ASCII text and characters that need escaping, compared byte for byte
// with golden files; the rich text read back by the rich-edit control; the
// clipboard renderings and the "HTML Format" offsets. (tests/e2e/tree_export.sh
// parses the golden HTML with a real HTML parser.)
#include "TreeTestSupport.h"
#include "tree/string/LazyStringTree.h"
#include <richedit.h>
#include <fstream>
#include <map>
#include <sstream>

using namespace krv;
using namespace krv::test;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Compares with a committed golden file, writing it when it is missing.
void ExpectMatchesGoldenText(const std::string& name, const std::string& actual) {
    std::string path = std::string(KORVANE_GOLDEN_DIR) + "/" + name;
    std::ifstream probe(path, std::ios::binary);
    if (!probe) {
        std::ofstream(path, std::ios::binary) << actual;
        ADD_FAILURE() << "golden " << path << " was missing and is written now: look at it";
        return;
    }
    std::string golden = ReadFile(path);
    if (golden == actual) return;
    std::string saved = BesideTestProgram(name + ".actual");
    std::ofstream(saved, std::ios::binary) << actual;
    size_t at = std::mismatch(golden.begin(), golden.end(), actual.begin(), actual.end()).first - golden.begin();
    ADD_FAILURE() << name << " differs from its golden at byte " << at << " (actual saved as " << saved << ")";
}

std::string Bytes(const std::wstring& s) { return std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2); }

std::string GlobalText(HGLOBAL memory, size_t& size) {
    krv::GlobalHandle owned(memory);
    size = ::GlobalSize(memory);
    krv::GlobalLockScope lock(memory);
    return std::string(lock.as<const char>(), size);
}

// Three columns (the middle one right-aligned, the last with its own colour),
// two levels below the top, text that needs quoting or escaping, text
// outside Latin-1 and outside the Basic Multilingual Plane.
struct TExportFixture {
    TLazyStringTree tree;
    std::map<PLazyNode, std::vector<std::wstring>> cells;
    PLazyNode a = nullptr, a1 = nullptr, a1x = nullptr, b = nullptr;

    TExportFixture() {
        tree.SetColor(RGB(0xFF, 0xFF, 0xF0));
        tree.Font().SetName("Arial");
        tree.Font().SetSize(10);
        tree.Font().SetColor(clBlack);
        tree.Header().Font().SetColor(RGB(0x10, 0x20, 0x30));
        auto& columns = tree.Header().Columns();
        const wchar_t* captions[] = {L"Name", L"Size & <Count>", L"Note \"q\", more"};
        for (int i = 0; i < 3; ++i) {
            TLazyTreeColumn* c = columns.Add();
            c->SetText(captions[i]);
            c->SetWidth(100 + 20 * i);
        }
        columns[1].SetAlignment(taRightJustify);
        columns[2].SetOptions(columns[2].Options() - coParentColor);
        columns[2].SetColor(RGB(0xE0, 0xF0, 0xFF));
        tree.Header().SetOptions(tree.Header().Options() + hoVisible);
        tree.OnGetText = [this](TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLSTTextType, std::wstring& text) {
            auto it = cells.find(node);
            if (it != cells.end() && column >= 0 && size_t(column) < it->second.size()) text = it->second[column];
            else if (it != cells.end() && column < 0) text = it->second[0];
        };
        // The note of a1x is drawn bold red: the HTML cell takes its own style.
        tree.OnPaintText = [this](TBaseLazyTree*, TCanvas& canvas, PLazyNode node, TColumnIndex column, TLSTTextType) {
            if (node == a1x && column == 2) {
                canvas.Font.SetStyle(fsBold);
                canvas.Font.SetColor(clRed);
            }
        };
        a = tree.AddChild(nullptr);
        a1 = tree.AddChild(a);
        a1x = tree.AddChild(a1);
        b = tree.AddChild(nullptr);
        cells[a] = {L"\u00C4lpha, \"quoted\"", L"1,024", L"caf\u00E9"};
        cells[a1] = {L"Tab\there", L"", L"line\r\nbreak"};
        cells[a1x] = {L"<b>&x</b>", L"3", L"\"start"};
        cells[b] = {L"\u65E5\u672C\u8A9E \U0001F600", L"\u00BD", L"back\\slash {x}"};
        tree.FullExpand();
    }
};

TEST(Export, TextFormatsMatchTheirGoldensAndQuoteEveryCellThatNeedsIt) {
    TExportFixture f;
    // Tab and comma separators; the 8-bit form in the system code page.
    ExpectMatchesGoldenText("export_tab.txt", f.tree.ExportText(esAll, "\t"));
    ExpectMatchesGoldenText("export_comma.csv", f.tree.ExportText(esAll, ","));
    ExpectMatchesGoldenText("export_unicode_tab.txt", Bytes(f.tree.ExportUnicode(esAll, L"\t")));
    ExpectMatchesGoldenText("export_unicode_comma.txt", Bytes(f.tree.ExportUnicode(esAll, L",")));

    // A quote inside a cell is doubled in the Unicode form too, or the cell
    // does not read back.
    std::wstring u = f.tree.ExportUnicode(esAll, L"\t");
    EXPECT_NE(u.find(L"\"\u00C4lpha, \"\"quoted\"\"\""), std::wstring::npos);
    EXPECT_NE(u.find(L"\"Tab\there\""), std::wstring::npos);
    EXPECT_NE(u.find(L"\"\"\"start\""), std::wstring::npos);

    // Without columns: the main text indented by one separator per level.
    TExportFixture plain;
    plain.tree.Header().Columns().Clear();
    EXPECT_EQ(plain.tree.ExportUnicode(esAll, L";"),
              L"\"\u00C4lpha, \"\"quoted\"\"\"\r\n;Tab\there\r\n;;<b>&x</b>\r\n\u65E5\u672C\u8A9E \U0001F600\r\n");
    // The node sets: only the selected node, still padded to its own depth.
    f.tree.SetSelected(f.a1, true);
    EXPECT_EQ(f.tree.ExportUnicode(esSelected, L","),
              L"Name,,Size & <Count>,\"Note \"\"q\"\", more\"\r\n,Tab\there,,\"line\r\nbreak\"\r\n");
}

TEST(Export, HtmlEscapesMarkupAndEncodesUtf8) {
    TExportFixture f;
    std::string html = f.tree.ExportHtml(esAll, L"Caption \"<&>\"");
    ExpectMatchesGoldenText("export.html", html);
    EXPECT_EQ(html.find("<b>&x"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;&amp;x&lt;/b&gt;"), std::string::npos);
    EXPECT_NE(html.find("caption=\"Caption &quot;&lt;&amp;&gt;&quot;\""), std::string::npos);
    EXPECT_NE(html.find("\xF0\x9F\x98\x80"), std::string::npos);   // one 4-byte sequence for U+1F600
    EXPECT_EQ(html.find("\xED"), std::string::npos);               // never a surrogate half

    // The wrapper's offsets point at the document and the fragment, for an
    // empty table as well.
    for (bool empty : {false, true}) {
        TExportFixture g;
        if (empty) g.tree.Clear();
        std::string fragment = g.tree.ExportHtml(esAll);
        std::string wrapped = WrapHtmlFormat(fragment);
        auto offset = [&](const std::string& key) {
            size_t at = wrapped.find(key + ":");
            return std::stoul(wrapped.substr(at + key.size() + 1, 8));
        };
        EXPECT_EQ(offset("StartHTML"), 97u);
        EXPECT_EQ(offset("StartFragment"), 269u);
        EXPECT_EQ(wrapped.compare(offset("StartHTML"), 9, "<!DOCTYPE"), 0);
        EXPECT_EQ(wrapped.substr(offset("StartFragment"), offset("EndFragment") - offset("StartFragment")), fragment);
        EXPECT_EQ(offset("EndHTML"), wrapped.size());
        EXPECT_EQ(wrapped.compare(offset("StartFragment") - 20, 20, "<!--StartFragment-->"), 0);
    }
    ExpectMatchesGoldenText("export_cfhtml.html", WrapHtmlFormat(f.tree.ExportHtml(esAll)));
}

// The text a rich-edit control makes of the rich text, cells and lines as one
// list of non-empty pieces.
std::wstring Pieces(const std::wstring& text) {
    std::wstring out, piece;
    for (wchar_t c : text + L"\r") {
        if (c == L'\t' || c == L'\r' || c == L'\n' || c == 7) {
            if (!piece.empty()) out += piece + L"|";
            piece.clear();
        } else {
            piece += c;
        }
    }
    return out;
}

std::wstring ReadBackRtf(const std::string& rtf) {
    static HMODULE lib = ::LoadLibraryW(L"riched20.dll");
    EXPECT_TRUE(lib);
    HWND edit = ::CreateWindowExW(0, RICHEDIT_CLASSW, L"", WS_POPUP | ES_MULTILINE, 0, 0, 400, 300, nullptr, nullptr,
                                  nullptr, nullptr);
    EXPECT_TRUE(edit);
    SETTEXTEX set{ST_DEFAULT, CP_ACP};
    ::SendMessageW(edit, EM_SETTEXTEX, WPARAM(&set), LPARAM(rtf.c_str()));
    GETTEXTLENGTHEX lengthEx{GTL_DEFAULT, 1200};
    LRESULT length = ::SendMessageW(edit, EM_GETTEXTLENGTHEX, WPARAM(&lengthEx), 0);
    std::wstring text(size_t(length) + 1, L'\0');
    GETTEXTEX get{DWORD(text.size() * 2), GT_DEFAULT, 1200, nullptr, nullptr};
    LRESULT got = ::SendMessageW(edit, EM_GETTEXTEX, WPARAM(&get), LPARAM(text.data()));
    text.resize(size_t(got));
    ::DestroyWindow(edit);
    return text;
}

TEST(Export, RtfReadsBackAsTheSameTextAndWritesSignedUnicode) {
    TExportFixture f;
    std::string rtf = f.tree.ExportRtf(esAll);
    ExpectMatchesGoldenText("export.rtf", rtf);
    EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1043", 0), 0u);
    // U+1F600 is the pair D83D DE00: two negative escapes.
    EXPECT_NE(rtf.find("\\u-10179\\'3f\\u-8704\\'3f"), std::string::npos);
    EXPECT_EQ(rtf.find("\\u55357"), std::string::npos);

    std::wstring expected;
    expected += L"Name|Size & <Count>|Note \"q\", more|";
    expected += L"\u00C4lpha, \"quoted\"|1,024|caf\u00E9|";
    expected += L"Tab|here|line|break|";
    expected += L"<b>&x</b>|3|\"start|";
    expected += L"\u65E5\u672C\u8A9E \U0001F600|\u00BD|back\\slash {x}|";
    EXPECT_EQ(Pieces(ReadBackRtf(rtf)), expected);
}

TEST(Export, ClipboardRenderingsCarryTheirTerminatorAndNothingForAnEmptySet) {
    TExportFixture f;
    size_t size = 0;
    std::string text = GlobalText(f.tree.RenderClipboardFormat(CF_TEXT, esAll), size);
    EXPECT_EQ(text, f.tree.ExportText(esAll, "\t") + '\0');
    std::string unicode = GlobalText(f.tree.RenderClipboardFormat(CF_UNICODETEXT, esAll), size);
    EXPECT_EQ(unicode, Bytes(f.tree.ExportUnicode(esAll, L"\t")) + std::string(2, '\0'));
    CLIPFORMAT csv = CLIPFORMAT(::RegisterClipboardFormatA("CSV"));
    EXPECT_EQ(GlobalText(f.tree.RenderClipboardFormat(csv, esAll), size),
              f.tree.ExportText(esAll, ListSeparator()) + '\0');
    CLIPFORMAT html = CLIPFORMAT(::RegisterClipboardFormatA("HTML Format"));
    EXPECT_EQ(GlobalText(f.tree.RenderClipboardFormat(html, esAll), size),
              WrapHtmlFormat(f.tree.ExportHtml(esAll)) + '\0');
    for (const char* name : {"Rich Text Format", "Rich Text Format Without Objects"})
        EXPECT_EQ(GlobalText(f.tree.RenderClipboardFormat(CLIPFORMAT(::RegisterClipboardFormatA(name)), esAll), size),
                  f.tree.ExportRtf(esAll) + '\0')
            << name;

    // Nothing selected: no memory for the text forms.
    EXPECT_EQ(f.tree.RenderClipboardFormat(CF_TEXT, esSelected), nullptr);
    EXPECT_EQ(f.tree.RenderClipboardFormat(CF_UNICODETEXT, esSelected), nullptr);
    EXPECT_EQ(f.tree.RenderClipboardFormat(csv, esSelected), nullptr);
}

} // namespace
