// The second process of the clipboard tests: puts the sample tree's Alpha
// subtree on the clipboard as a copy and ends. The tree's destructor leaves
// the data on the clipboard, so the test process pastes what this one copied.
#include "tree/TextTree.h"
#include <cstdio>

int main() {
    using namespace krv;
    int rc = 1;
    {
        test::TTextTree tree;
        test::FillSample(tree);
        tree.AddToSelection(tree.Find(L"Alpha"));
        if (tree.CopyToClipboard()) rc = 0;
    }
    std::printf(rc == 0 ? "copied\n" : "copy failed\n");
    return rc;
}
