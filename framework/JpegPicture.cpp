#include "framework/JpegPicture.h"

namespace krv {

TJpegPicture::TJpegPicture(TComponent* owner) : TCustomControl(owner) {}

void TJpegPicture::LoadFromMemory(const void* data, size_t size) {
    try {
        picture_.LoadFromMemory(data, size);
    } catch (...) {
        if (HandleAllocated()) Invalidate();
        throw;
    }
    if (HandleAllocated()) Invalidate();
}

void TJpegPicture::Paint() {
    const RECT client = ClientRect();
    Canvas().Brush.SetColor(Color());
    Canvas().FillRect(client);
    if (!picture_.Empty()) {
        const RECT r = Stretch ? client : RECT{0, 0, picture_.Width(), picture_.Height()};
        picture_.Draw(Canvas().Handle(), r);
    }
    TCustomControl::Paint();
}

} // namespace krv
