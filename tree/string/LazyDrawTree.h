// The tree that leaves drawing to its owner: each cell is drawn by
// OnDrawNode, its width comes from OnGetNodeWidth, and a node's hint is sized
// by OnGetHintSize and drawn by OnDrawHint (no size, no hint).
#pragma once
#include "tree/core/LazyTrees.h"

namespace krv {

class TCustomLazyDrawTree : public TBaseLazyTree {
public:
    using TBaseLazyTree::TBaseLazyTree;

    std::function<void(TBaseLazyTree*, const TLTPaintInfo& paintInfo)> OnDrawNode;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, TColumnIndex column, int& nodeWidth)>
        OnGetNodeWidth;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column, RECT& r)> OnGetHintSize;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, RECT r, TColumnIndex column)> OnDrawHint;

protected:
    // The hint's rectangle for the cell (left empty: no hint) and its picture.
    virtual void DoGetHintSize(PLazyNode node, TColumnIndex column, RECT& r);
    virtual void DoDrawHint(TCanvas& canvas, PLazyNode node, RECT r, TColumnIndex column);
    void DoPaintNode(TLTPaintInfo& paintInfo) override;
    int DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) override;

private:
    friend class TBaseLazyTree;
    friend class TLazyTreeHintWindow;
};

class TLazyDrawTree : public TCustomLazyDrawTree {
public:
    using TCustomLazyDrawTree::TCustomLazyDrawTree;
};

} // namespace krv
