// Shows a string tree driven by scripted mouse and key messages, for a person
// or a screenshot: treeinputshow.exe edit|frame [seconds]. "edit" leaves a
// caption being edited (F2, then typing); "frame" leaves the nodes that a
// selection frame dragged over the labels selected.
#include "framework/Forms.h"
#include "tree/string/LazyStringTree.h"
#include <cstdlib>
#include <cstring>
#include <map>

using namespace krv;

int main(int argc, char** argv) {
    bool edit = argc > 1 && std::strcmp(argv[1], "edit") == 0;
    int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    TForm form;
    form.SetCaption(edit ? "Tree: editing a caption" : "Tree: after a selection frame");
    form.SetBounds(40, 40, 360, 360);
    TLazyStringTree tree(&form);
    tree.SetParent(&form);
    tree.SetAlign(alClient);
    std::map<PLazyNode, std::wstring> texts;
    tree.OnGetText = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType type, std::wstring& text) {
        if (type == ttNormal && texts.count(node)) text = texts[node];
    };
    tree.OnNewText = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, const std::wstring& text) { texts[node] = text; };
    PLazyNode current = nullptr;
    tree.OnInitNode = [&](TBaseLazyTree* t, PLazyNode, PLazyNode node, TLazyNodeInitStates&) {
        t->SetCheckType(node, ctTriStateCheckBox);
    };
    auto add = [&](PLazyNode parent, const std::wstring& text) {
        tree.BeginUpdate();
        current = tree.AddChild(parent);
        texts[current] = text;
        tree.EndUpdate();
        return current;
    };
    auto& o = tree.TreeOptions();
    o.SetMiscOptions(o.MiscOptions() + toCheckSupport + toEditable);
    o.SetSelectionOptions(o.SelectionOptions() + toMultiSelect);
    PLazyNode c = add(nullptr, L"C:\\");
    PLazyNode users = add(c, L"Users");
    PLazyNode anna = add(users, L"Anna");
    for (const wchar_t* n : {L"Documents", L"Pictures", L"Music", L"Videos", L"Downloads"}) add(anna, n);
    add(users, L"Public");
    PLazyNode program = add(c, L"Program Files");
    add(program, L"Korvane");
    add(c, L"Windows");
    add(nullptr, L"D:\\ (Backup disc)");
    tree.FullExpand();
    form.Show();
    tree.SetFocus();
    HWND wnd = tree.Handle();
    auto nodeNamed = [&](const std::wstring& name) {
        for (auto& [node, text] : texts)
            if (text == name) return node;
        return PLazyNode(nullptr);
    };
    auto rowY = [&](const std::wstring& name) {
        RECT r = tree.GetDisplayRect(nodeNamed(name), ColumnNone, false);
        return (r.top + r.bottom) / 2;
    };
    if (edit) {
        RECT r = tree.GetDisplayRect(nodeNamed(L"Korvane"), ColumnNone, true);
        LPARAM at = MAKELPARAM(r.left + 4, (r.top + r.bottom) / 2);
        ::SendMessageA(wnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageA(wnd, WM_LBUTTONUP, 0, at);
        ::SendMessageA(wnd, WM_KEYDOWN, VK_F2, 1);
        HWND editor = ::GetFocus();
        for (wchar_t ch : std::wstring(L"Korvane backups \u2013 2026")) ::SendMessageW(editor, WM_CHAR, ch, 1);
    } else {
        // Pressed right of the labels at Pictures, dragged to the labels at Public. The
        // real pointer goes along: the system reports its moves too.
        auto mouse = [&](UINT msg, WPARAM keys, int x, int y) {
            POINT screen{x, y};
            ::ClientToScreen(wnd, &screen);
            ::SetCursorPos(screen.x, screen.y);
            ::SendMessageA(wnd, msg, keys, MAKELPARAM(x, y));
        };
        mouse(WM_LBUTTONDOWN, MK_LBUTTON, 300, rowY(L"Pictures"));
        mouse(WM_MOUSEMOVE, MK_LBUTTON, 90, rowY(L"Public"));
        mouse(WM_LBUTTONUP, 0, 90, rowY(L"Public"));
    }
    DWORD end = ::GetTickCount() + DWORD(seconds) * 1000;
    while (::GetTickCount() < end) {
        ProcessMessages();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return 0;
}
