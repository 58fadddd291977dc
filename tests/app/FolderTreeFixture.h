// The main window's folder tree driven as a person drives it: folders opened,
// check boxes clicked, the space key on the focused folder.
#pragma once
#include "RunFixture.h"
#include "shell/base/WideStrUtils.h"

namespace krvtest {

class FolderTreeFixture : public RunFixture {
protected:
    TLazyExplorerTreeview& Tree() { return *form->DirTree; }
    // The node of a folder, its parents opened on the way.
    PLazyNode Node(const std::string& path) {
        PLazyNode node = Tree().WalkToPath(AnsiToWide(path), true);
        EXPECT_TRUE(node) << path;
        return node;
    }
    void Open(const std::string& path) { Tree().SetExpanded(Node(path), true); }
    void Pump() {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    LPARAM At(POINT p) { return MAKELPARAM(p.x, p.y); }
    // A click on the folder's check box, posted as the mouse would.
    void ClickBox(const std::string& path) {
        PLazyNode node = Node(path);
        Tree().ScrollIntoView(node, false, true);
        Tree().Update();
        RECT r = Tree().GetDisplayRect(node, ColumnNone, false);
        const int y = (r.top + r.bottom) / 2;
        for (int x = 0; x < Tree().ClientWidth(); ++x) {
            THitTestResult hit;
            Tree().GetHitTestInfoAt(x, y, true, hit);
            if (hit.Node == node && (hit.Positions & hpOnItemCheckbox)) {
                ::PostMessageA(Tree().Handle(), WM_LBUTTONDOWN, MK_LBUTTON, At({x + 2, y}));
                ::PostMessageA(Tree().Handle(), WM_LBUTTONUP, 0, At({x + 2, y}));
                Pump();
                return;
            }
        }
        ADD_FAILURE() << "no check box shown for " << path;
    }
    // The space key on the folder, which gets the focus first.
    void SpaceOn(const std::string& path) {
        PLazyNode node = Node(path);
        Tree().SetFocusedNode(node);
        ::PostMessageA(Tree().Handle(), WM_KEYDOWN, VK_SPACE, 1);
        ::PostMessageA(Tree().Handle(), WM_KEYUP, VK_SPACE, 0xC0000001);
        Pump();
    }
    bool Ticked(const std::string& path) { return IsTicked(Node(path)); }
    // The form shown, so that the tree has its window and rows.
    TMainForm& ShownForm(const std::vector<std::string>& ticked = {}) {
        TMainForm& f = MakeForm(ticked);
        f.SetBounds(0, 0, 900, 700);
        f.Show();   // shown again: the destination set up by MakeForm comes back
        f.Mode = bmHardDisk;
        f.HDFolderEdit->SetText(dest);
        f.EditArchiveName->SetText("X.zip");
        f.ComboLog->SetItemIndex(3);
        Pump();
        return f;
    }
    static std::vector<std::string> Lower(std::vector<std::string> v) {
        for (std::string& s : v) s = AnsiLowerCase(s);
        return v;
    }
};

} // namespace krvtest
