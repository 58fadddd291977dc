#include "tree/transfer/LazyTreeDragImage.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTrees.h"
#include <shlobj.h>
#include <algorithm>
#include <cstring>

namespace krv {

namespace {
// A top-down 32-bit copy of a bitmap's pixels.
bool ReadPixels(HBITMAP bitmap, SIZE& size, std::vector<uint32_t>& pixels) {
    BITMAP info{};
    if (!::GetObjectA(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return false;
    size = SIZE{info.bmWidth, info.bmHeight};
    pixels.assign(size_t(size.cx) * size_t(size.cy), 0);
    BITMAPINFO bi = Dib32Info(size.cx, size.cy);
    int lines = ::GetDIBits(WindowDC(nullptr).get(), bitmap, 0, UINT(size.cy), pixels.data(), &bi, DIB_RGB_COLORS);
    return lines == size.cy;
}

RECT RectAt(POINT pos, SIZE size) { return RECT{pos.x, pos.y, pos.x + size.cx, pos.y + size.cy}; }
}

TLTDragImage::~TLTDragImage() { EndImageDrag(); }

void TLTDragImage::BeginImageDrag(HBITMAP image, POINT imagePosition, POINT hotSpot, IDataObject* dataObject) {
    EndImageDrag();
    if (dataObject) {
        ComPtr<IDragSourceHelper> helper;
        if (SUCCEEDED(::CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDragSourceHelper,
                                         helper.put_void()))) {
            BITMAP info{};
            ::GetObjectA(image, sizeof info, &info);
            // The helper owns the copy once it accepted it.
            BitmapHandle copy(static_cast<HBITMAP>(::CopyImage(image, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
            SHDRAGIMAGE drag{};
            drag.sizeDragImage = SIZE{info.bmWidth, info.bmHeight};
            drag.ptOffset = POINT{hotSpot.x - imagePosition.x, hotSpot.y - imagePosition.y};
            drag.hbmpDragImage = copy.get();
            drag.crColorKey = KeyColor == clNoColor ? CLR_NONE : ColorToRGB(KeyColor);
            if (copy && SUCCEEDED(helper->InitializeFromBitmap(&drag, dataObject))) {
                copy.release();
                states_ = disInDrag | disSystemSupport;
                return;
            }
        }
    }
    if (!ReadPixels(image, size_, image_)) return;
    // Alpha per pixel: the transparency, none on the key colour, and with
    // FadeOut falling off linearly over the outer quarter on each side.
    alpha_.assign(image_.size(), Transparency);
    COLORREF key = KeyColor == clNoColor ? CLR_INVALID : ColorToRGB(KeyColor);
    uint32_t keyPixel = key == CLR_INVALID ? 0xFFFFFFFFu : (GetRValue(key) << 16 | GetGValue(key) << 8 | GetBValue(key));
    int fadeX = std::max<int>(1, size_.cx / 4), fadeY = std::max<int>(1, size_.cy / 4);
    for (int y = 0; y < size_.cy; ++y)
        for (int x = 0; x < size_.cx; ++x) {
            size_t i = size_t(y) * size_t(size_.cx) + size_t(x);
            if ((image_[i] & 0xFFFFFF) == keyPixel) {
                alpha_[i] = 0;
                continue;
            }
            if (!FadeOut) continue;
            int edge = std::min<int>({x, int(size_.cx) - 1 - x, y, int(size_.cy) - 1 - y});
            int range = std::min(fadeX, fadeY);
            if (edge < range) alpha_[i] = uint32_t(Transparency) * uint32_t(edge) / uint32_t(range);
        }
    imagePos_ = imagePosition;
    lastPos_ = hotSpot;
    states_ = disInDrag | disHidden;
}

void TLTDragImage::EndImageDrag() {
    HideImage();
    states_ = 0;
    image_.clear();
    alpha_.clear();
    background_.clear();
}

RECT TLTDragImage::ImageScreenRect() const { return Visible() ? RectAt(imagePos_, size_) : RECT{}; }

void TLTDragImage::CaptureScreen(RECT r, std::vector<uint32_t>& pixels) const {
    int w = r.right - r.left, h = r.bottom - r.top;
    pixels.assign(size_t(w) * size_t(h), 0);
    WindowDC screen(nullptr);
    void* bits = nullptr;
    BitmapHandle dib = CreateDib32(w, h, &bits);
    MemoryDC dc(screen.get());
    {
        SelectObjectScope select(dc.get(), dib.get());
        // Only the part on the screen is read: a copy reaching past its edge may copy nothing.
        RECT desktop{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN), 0, 0};
        desktop.right = desktop.left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
        desktop.bottom = desktop.top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
        RECT part;
        if (::IntersectRect(&part, &r, &desktop))
            ::BitBlt(dc.get(), part.left - r.left, part.top - r.top, part.right - part.left, part.bottom - part.top,
                     screen.get(), part.left, part.top, SRCCOPY);
        ::GdiFlush();
        std::memcpy(pixels.data(), bits, pixels.size() * 4);
    }
}

void TLTDragImage::PutScreen(RECT r, const std::vector<uint32_t>& pixels) const {
    int w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFO bi = Dib32Info(w, h);
    WindowDC screen(nullptr);
    ::SetDIBitsToDevice(screen.get(), r.left, r.top, DWORD(w), DWORD(h), 0, 0, 0, UINT(h), pixels.data(), &bi,
                        DIB_RGB_COLORS);
}

void TLTDragImage::Blend(const uint32_t* background, uint32_t* target) const {
    auto channel = [this](int b, int s, int a) {
        int v = b + ((s - b) * a >> 8) + BiasBefore;
        return std::clamp(v, 0, 255);
    };
    for (size_t i = 0; i < image_.size(); ++i) {
        uint32_t b = background[i], s = image_[i];
        int a = int(alpha_[i]);
        target[i] = uint32_t(channel(int(b >> 16 & 255), int(s >> 16 & 255), a)) << 16 |
                    uint32_t(channel(int(b >> 8 & 255), int(s >> 8 & 255), a)) << 8 |
                    uint32_t(channel(int(b & 255), int(s & 255), a));
    }
}

// Saves the screen under the picture at pos and draws the blended picture there.
void TLTDragImage::DrawAt(POINT pos) {
    RECT r = RectAt(pos, size_);
    CaptureScreen(r, background_);
    std::vector<uint32_t> blended(image_.size());
    Blend(background_.data(), blended.data());
    PutScreen(r, blended);
}

void TLTDragImage::ShowImage() {
    if ((states_ & (disInDrag | disHidden | disSystemSupport)) != (disInDrag | disHidden)) return;
    states_ &= ~disHidden;
    ::GdiFlush();
    DrawAt(imagePos_);
}

void TLTDragImage::HideImage() {
    if (!Visible()) return;
    states_ |= disHidden;
    if (!background_.empty()) PutScreen(RectAt(imagePos_, size_), background_);
}

POINT TLTDragImage::Delta(POINT p) const {
    POINT d{p.x - lastPos_.x, p.y - lastPos_.y};
    if (AxisLock == dmrHorizontalOnly) d.y = 0;
    else if (AxisLock == dmrVerticalOnly) d.x = 0;
    return d;
}

bool TLTDragImage::WouldMove(POINT p) const {
    POINT d = Delta(p);
    return d.x != 0 || d.y != 0;
}

bool TLTDragImage::MoveImageTo(POINT p, bool forceRepaint) {
    POINT d = Delta(p);
    bool moved = d.x != 0 || d.y != 0;
    if (!moved && !forceRepaint) return false;
    POINT newPos{imagePos_.x + d.x, imagePos_.y + d.y};
    if (Visible()) {
        RECT oldRect = RectAt(imagePos_, size_), newRect = RectAt(newPos, size_), both;
        if (RECT common; ::IntersectRect(&common, &oldRect, &newRect)) {
            // One work picture over both places: the old place gets its
            // screen back and the new one the picture in a single copy.
            ::UnionRect(&both, &oldRect, &newRect);
            std::vector<uint32_t> work;
            CaptureScreen(both, work);
            int w = both.right - both.left;
            auto at = [&](POINT pos, int x, int y) {
                return size_t(pos.y - both.top + y) * size_t(w) + size_t(pos.x - both.left + x);
            };
            for (int y = 0; y < size_.cy; ++y)
                std::memcpy(&work[at(imagePos_, 0, y)], &background_[size_t(y) * size_t(size_.cx)], size_t(size_.cx) * 4);
            for (int y = 0; y < size_.cy; ++y)
                std::memcpy(&background_[size_t(y) * size_t(size_.cx)], &work[at(newPos, 0, y)], size_t(size_.cx) * 4);
            std::vector<uint32_t> blended(image_.size());
            Blend(background_.data(), blended.data());
            for (int y = 0; y < size_.cy; ++y)
                std::memcpy(&work[at(newPos, 0, y)], &blended[size_t(y) * size_t(size_.cx)], size_t(size_.cx) * 4);
            PutScreen(both, work);
        } else {
            PutScreen(oldRect, background_);
            DrawAt(newPos);
        }
    }
    imagePos_ = newPos;
    lastPos_ = POINT{lastPos_.x + d.x, lastPos_.y + d.y};
    return moved;
}

void TLTDragImage::RefreshSavedBackground(TBaseLazyTree* tree, RECT r, HRGN visibleRegion, bool captureNCArea,
                                          bool reshowDragImage) {
    if (!Visible() || !tree || !tree->HandleAllocated() || background_.empty()) return;
    // R and the picture, both in the tree's client coordinates.
    RECT image = RectAt(imagePos_, size_);
    ::MapWindowPoints(nullptr, tree->Handle(), reinterpret_cast<POINT*>(&image), 2);
    POINT client{0, 0};
    ::ClientToScreen(tree->Handle(), &client);
    const RECT picture = RectAt(imagePos_, size_);
    // Takes the pixels painted for the screen rectangle `area` that lie under the picture.
    auto take = [&](const uint32_t* painted, RECT area) {
        int w = area.right - area.left;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x) {
                if (!::PtInRect(&picture, POINT{x, y}) || (visibleRegion && !::PtInRegion(visibleRegion, x, y)))
                    continue;
                size_t i = size_t(y - imagePos_.y) * size_t(size_.cx) + size_t(x - imagePos_.x);
                background_[i] = painted[size_t(y - area.top) * size_t(w) + size_t(x - area.left)];
            }
    };
    RECT common;
    if (::IntersectRect(&common, &r, &image)) {
        int w = common.right - common.left, h = common.bottom - common.top;
        void* bits = nullptr;
        BitmapHandle dib = CreateDib32(w, h, &bits);
        MemoryDC dc(WindowDC(nullptr).get());
        {
            SelectObjectScope select(dc.get(), dib.get());
            TCanvas canvas(dc.get());
            RECT window = common;
            ::OffsetRect(&window, -tree->OffsetX(), -tree->OffsetY());
            tree->PaintTree(canvas, window, POINT{0, 0}, TBaseLazyTree::poAll, TBaseLazyTree::pf32bit);
            canvas.SetHandle(nullptr);
            ::GdiFlush();
        }
        ::OffsetRect(&common, client.x, client.y);
        take(static_cast<const uint32_t*>(bits), common);
    }
    // The frame (the header) was painted anew too: it takes the window's own print of it.
    RECT frame;
    ::GetWindowRect(tree->Handle(), &frame);
    if (captureNCArea && ::IntersectRect(&common, &frame, &picture)) {
        int w = frame.right - frame.left, h = frame.bottom - frame.top;
        void* bits = nullptr;
        BitmapHandle dib = CreateDib32(w, h, &bits);
        MemoryDC dc(WindowDC(nullptr).get());
        {
            SelectObjectScope select(dc.get(), dib.get());
            ::SendMessageW(tree->Handle(), WM_PRINT, reinterpret_cast<WPARAM>(dc.get()), PRF_NONCLIENT);
            ::GdiFlush();
        }
        // Only the header is the tree's to print; borders and bars keep what was saved.
        int headerHeight = tree->Header().Options().Contains(hoVisible) ? int(tree->Header().Height()) : 0;
        RECT header{client.x, client.y - headerHeight, client.x + tree->ClientWidth(), client.y};
        const auto* painted = static_cast<const uint32_t*>(bits);
        std::vector<uint32_t> strip;
        RECT part;
        if (::IntersectRect(&part, &header, &frame)) {
            for (int y = part.top; y < part.bottom; ++y)
                for (int x = part.left; x < part.right; ++x)
                    strip.push_back(painted[size_t(y - frame.top) * size_t(w) + size_t(x - frame.left)]);
            take(strip.data(), part);
        }
    }
    if (reshowDragImage) {
        std::vector<uint32_t> blended(image_.size());
        Blend(background_.data(), blended.data());
        PutScreen(RectAt(imagePos_, size_), blended);
    }
}

} // namespace krv
