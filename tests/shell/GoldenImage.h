// Golden images: a picture of 24-bit pixels encoded as PNG (stored deflate
// blocks, so the same pixels always give the same bytes) and compared with a
// committed file beside the tests. A missing golden file is written on the
// first run for a person to look at and commit.
#pragma once
#include "framework/Handle.h"
#include <windows.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace shelltest {

struct TImage {
    int Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;   // 0x00RRGGBB, rows top to bottom
};

std::string EncodePng(const TImage& image);
// A 32-bit DIB section in a memory DC to draw on, filled with one colour.
class TCanvasBitmap {
public:
    TCanvasBitmap(int width, int height, COLORREF fill);
    HDC DC() const { return dc_.get(); }
    TImage Image() const;
private:
    int width_, height_;
    uint32_t* bits_ = nullptr;
    krv::BitmapHandle bitmap_;
    krv::MemoryDC dc_{nullptr};
    std::unique_ptr<krv::SelectObjectScope> select_;
};

// "" when image matches tests/shell/golden/<name>.png (or that file was just
// written); otherwise what differs, with the actual image saved in %TEMP%.
std::string CompareWithGolden(const std::string& name, const TImage& image);

} // namespace shelltest
