#include "tree/string/LazyDrawTree.h"

namespace krv {

void TCustomLazyDrawTree::DoGetHintSize(PLazyNode node, TColumnIndex column, RECT& r) {
    if (OnGetHintSize) OnGetHintSize(this, node, column, r);
}

void TCustomLazyDrawTree::DoDrawHint(TCanvas& canvas, PLazyNode node, RECT r, TColumnIndex column) {
    if (OnDrawHint) OnDrawHint(this, canvas, node, r, column);
}

void TCustomLazyDrawTree::DoPaintNode(TLTPaintInfo& paintInfo) {
    if (OnDrawNode) OnDrawNode(this, paintInfo);
}

int TCustomLazyDrawTree::DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) {
    int width = 2 * TextMargin();
    if (!OnGetNodeWidth) return width;
    if (canvas) {
        OnGetNodeWidth(this, *canvas, node, column, width);
    } else {
        TCanvas own(MeasureDC());
        own.Font = Font();
        OnGetNodeWidth(this, own, node, column, width);
    }
    return width;
}

} // namespace krv
