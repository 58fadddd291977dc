// Shows a live string tree in a window for a few seconds, so that a person can
// look at it or take a screenshot: treeshow.exe [seconds].
#include "framework/Forms.h"
#include "tree/string/LazyStringTree.h"
#include <cstdlib>
#include <map>

using namespace krv;

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    TForm form;
    form.SetCaption("Lazy string tree");
    form.SetBounds(40, 40, 360, 420);
    TLazyStringTree tree(&form);
    tree.SetParent(&form);
    tree.SetAlign(alClient);
    std::map<PLazyNode, std::wstring> texts;
    tree.OnGetText = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType type, std::wstring& text) {
        if (type == ttStatic) text = node->ChildCount ? L"(" + std::to_wstring(node->ChildCount) + L")" : L"";
        else if (texts.count(node)) text = texts[node];
    };
    auto add = [&](PLazyNode parent, const std::wstring& text) {
        PLazyNode n = tree.AddChild(parent);
        texts[n] = text;
        tree.SetCheckType(n, ctTriStateCheckBox);
        return n;
    };
    auto& o = tree.TreeOptions();
    o.SetMiscOptions(o.MiscOptions() + toCheckSupport);
    o.SetStringOptions(o.StringOptions() + toShowStaticText);
    o.SetSelectionOptions(o.SelectionOptions() + toMultiSelect);
    PLazyNode c = add(nullptr, L"C:\\");
    PLazyNode users = add(c, L"Users");
    PLazyNode anna = add(users, L"Anna");
    add(anna, L"Documents");
    PLazyNode pics = add(anna, L"Pictures");
    add(pics, L"\u041e\u0442\u043f\u0443\u0441\u043a 2026");
    add(pics, L"\u0398\u03ac\u03bb\u03b1\u03c3\u03c3\u03b1");
    add(anna, L"Music");
    add(users, L"Public");
    PLazyNode program = add(c, L"Program Files");
    add(program, L"Korvane");
    add(c, L"Windows");
    PLazyNode d = add(nullptr, L"D:\\ (Backup disc)");
    add(d, L"Archives");
    tree.FullExpand();
    for (auto& [node, text] : texts) {
        if (text == L"Documents" || text == L"Music") tree.SetCheckState(node, csCheckedNormal);
        if (text == L"Korvane") tree.SetSelected(node, true);
    }
    form.Show();
    tree.SetFocus();
    for (auto& [node, text] : texts)
        if (text == L"Korvane") tree.SetFocusedNode(node);
    DWORD end = ::GetTickCount() + DWORD(seconds) * 1000;
    while (::GetTickCount() < end) {
        ProcessMessages();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return 0;
}
