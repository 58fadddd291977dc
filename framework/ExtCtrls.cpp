#include "framework/ExtCtrls.h"
#include "framework/ComCtrls.h"

namespace krv {

// ------------------------------------------------------------- TSpeedButton

TSpeedButton::TSpeedButton(TComponent* owner) : TCustomControl(owner) {
    font_.SetColor(clBtnText);
    SetBounds(0, 0, 25, 25);
}

void TSpeedButton::SetDown(bool down) {
    if (down == down_) return;
    if (!down && GroupIndex != 0 && !AllowAllUp) return;   // one of the group stays down
    down_ = down;
    if (down && GroupIndex != 0 && parent_) {
        for (int i = 0; i < parent_->ControlCount(); ++i) {
            auto* other = dynamic_cast<TSpeedButton*>(parent_->Controls(i));
            if (other && other != this && other->GroupIndex == GroupIndex && other->down_) {
                other->down_ = false;
                other->Invalidate();
            }
        }
    }
    Invalidate();
}

void TSpeedButton::SetImageIndex(int index) {
    imageIndex_ = index;
    Invalidate();
}

void TSpeedButton::SetCaption(const std::string& text) {
    caption_ = text;
    Invalidate();
}

void TSpeedButton::Click() {
    if (GroupIndex != 0) {
        if (!down_) SetDown(true);
        else if (AllowAllUp) SetDown(false);
    }
    TCustomControl::Click();
}

void TSpeedButton::Paint() {
    RECT r = ClientRect();
    canvas_.Brush.SetColor(down_ ? clBtnHighlight : clBtnFace);
    canvas_.FillRect(r);
    canvas_.Draw3DFrame(r, down_ || pressing_);
    int offset = (down_ || pressing_) ? 1 : 0;
    int textLeft = r.left + 4;
    if (Images && imageIndex_ >= 0) {
        int y = (r.bottom - Images->Height()) / 2 + offset;
        int x = caption_.empty() ? (r.right - Images->Width()) / 2 + offset : r.left + 4 + offset;
        Images->Draw(canvas_.Handle(), x, y, imageIndex_, enabled_);
        textLeft = x + Images->Width() + 4;
    }
    if (!caption_.empty()) {
        canvas_.Brush.SetStyle(bsClear);
        canvas_.Font.SetColor(enabled_ ? clBtnText : clGrayText);
        RECT tr{textLeft + offset, r.top + offset, r.right - 2 + offset, r.bottom + offset};
        UINT flags = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | (Images && imageIndex_ >= 0 ? DT_LEFT : DT_CENTER);
        if (!(Images && imageIndex_ >= 0)) tr.left = r.left;
        canvas_.TextRect(tr, caption_, flags);
        canvas_.Brush.SetStyle(bsSolid);
    }
    TCustomControl::Paint();
}

void TSpeedButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == mbLeft && enabled_) {
        pressing_ = true;
        ::SetCapture(handle_);
        Invalidate();
    }
    TCustomControl::MouseDown(button, shift, x, y);
}

void TSpeedButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == mbLeft && pressing_) {
        pressing_ = false;
        ::ReleaseCapture();
        Invalidate();
        RECT r = ClientRect();
        POINT p{x, y};
        if (::PtInRect(&r, p)) Click();
    }
    TCustomControl::MouseUp(button, shift, x, y);
}

// ---------------------------------------------------------------- TSplitter

TSplitter::TSplitter(TComponent* owner) : TCustomControl(owner) {
    SetBounds(0, 0, 4, 100);
    align_ = alLeft;
}

void TSplitter::CreateParams(TCreateParams& params) {
    TCustomControl::CreateParams(params);
    params.WinClassName = "KorvaneSplitter";
}

TControl* TSplitter::ResizeControl() const {
    if (!parent_) return nullptr;
    for (int i = 0; i < parent_->ControlCount(); ++i) {
        TControl* c = parent_->Controls(i);
        if (c == this || !c->Visible() || c->Align() != align_) continue;
        switch (align_) {
        case alLeft: if (c->Left() + c->Width() == left_) return c; break;
        case alRight: if (left_ + width_ == c->Left()) return c; break;
        case alTop: if (c->Top() + c->Height() == top_) return c; break;
        case alBottom: if (top_ + height_ == c->Top()) return c; break;
        default: break;
        }
    }
    return nullptr;
}

bool TSplitter::DoCanResize(int& newSize) {
    bool accept = true;
    if (OnCanResize) OnCanResize(this, newSize, accept);
    return accept;
}

bool TSplitter::MoveBy(int delta) {
    TControl* c = ResizeControl();
    if (!c || delta == 0) return false;
    bool grows = align_ == alLeft || align_ == alTop;
    int size = Horizontal() ? c->Width() : c->Height();
    int newSize = size + (grows ? delta : -delta);
    if (newSize < MinSize) newSize = MinSize;
    if (!DoCanResize(newSize) || newSize == size) return false;
    if (Horizontal()) c->SetWidth(newSize); else c->SetHeight(newSize);
    if (OnMoved) OnMoved(this);
    return true;
}

void TSplitter::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == mbLeft) {
        dragging_ = true;
        start_ = POINT{x, y};
        ::SetCapture(handle_);
    }
    TCustomControl::MouseDown(button, shift, x, y);
}

void TSplitter::MouseMove(TShiftState shift, int x, int y) {
    if (dragging_) {
        int delta = Horizontal() ? x - start_.x : y - start_.y;
        // The splitter moves with the neighbour, so the grab point stays put.
        MoveBy(delta);
    }
    TCustomControl::MouseMove(shift, x, y);
}

void TSplitter::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (dragging_) {
        dragging_ = false;
        ::ReleaseCapture();
    }
    TCustomControl::MouseUp(button, shift, x, y);
}

bool TSplitter::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg == WM_SETCURSOR && LOWORD(lParam) == HTCLIENT) {
        ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(Horizontal() ? IDC_SIZEWE : IDC_SIZENS)));
        result = TRUE;
        return true;
    }
    return TCustomControl::HandleMessage(msg, wParam, lParam, result);
}

} // namespace krv
