// A control that shows a JPEG picture, stretched to its size or at its
// natural size in the top-left corner.
#pragma once
#include "framework/Controls.h"
#include "framework/JpegImage.h"

namespace krv {

class TJpegPicture : public TCustomControl {
public:
    explicit TJpegPicture(TComponent* owner = nullptr);
    TJpegImage& Picture() { return picture_; }
    // Decodes data (EJpegError on bad data) and repaints.
    void LoadFromMemory(const void* data, size_t size);
    bool Stretch = false;

protected:
    void Paint() override;

private:
    TJpegImage picture_;
};

} // namespace krv
