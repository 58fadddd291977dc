// A JPEG picture decoded through libjpeg into a 24-bit device-independent
// bitmap. Bad data ends with EJpegError; libjpeg's own error exit (which would
// end the process) is never reached.
#pragma once
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include <cstddef>
#include <cstdint>
#include <string>

namespace krv {

class EJpegError : public Exception {
public:
    using Exception::Exception;
};

class TJpegImage {
public:
    TJpegImage() = default;
    TJpegImage(const TJpegImage&) = delete;
    TJpegImage& operator=(const TJpegImage&) = delete;

    // Each load replaces the picture; on failure the picture is empty.
    void LoadFromMemory(const void* data, size_t size);
    void LoadFromFile(const std::string& fileName);

    bool Empty() const { return !bitmap_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Top-down DIB section owned by the image (null while empty).
    HBITMAP Bitmap() const { return bitmap_.get(); }
    // Colour of one pixel as 0x00RRGGBB, for checks and hit tests.
    uint32_t Pixel(int x, int y) const;
    // Draws the whole picture stretched into r.
    void Draw(HDC dc, const RECT& r) const;

    // Largest picture accepted, in pixels: guards against headers that claim
    // sizes no about box needs and no memory holds.
    static constexpr int64_t MaxPixels = 16 * 1024 * 1024;

private:
    void Clear();
    BitmapHandle bitmap_;
    uint8_t* bits_ = nullptr;   // owned by bitmap_
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
};

} // namespace krv
