// Golden images of painted trees: a PaintTree call into a 32-bit bitmap is
// compared pixel for pixel with a PNG in tests/tree/golden. A missing golden
// is written by the test (which says so) and must be looked at before it is
// committed; a mismatch leaves the actual picture beside the test program.
#pragma once
#include "tree/LazyTreeDrawing.h"
#include "tree/LazyTrees.h"
#include <gtest/gtest.h>
#include <zlib.h>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace krv::test {

struct TImage {
    int Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;   // 0x00RRGGBB, top row first
    bool operator==(const TImage&) const = default;
};

// What a drawing function puts into a 32-bit bitmap of width x height.
inline TImage Capture(int width, int height, const std::function<void(HDC dc)>& draw) {
    TImage image{width, height, {}};
    MemoryDC dc(nullptr);
    void* bits = nullptr;
    BitmapHandle bmp = CreateDib32(width, height, &bits);
    {
        SelectObjectScope select(dc.get(), bmp.get());
        draw(dc.get());
        ::GdiFlush();
    }
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    image.Pixels.assign(p, p + size_t(width) * size_t(height));
    for (uint32_t& px : image.Pixels) px &= 0xFFFFFF;
    return image;
}

// What PaintTree draws for the tree's top-left width x height pixels.
inline TImage RenderTree(TBaseLazyTree& tree, int width, int height, unsigned options = TBaseLazyTree::poAll) {
    return Capture(width, height, [&](HDC dc) {
        TCanvas canvas(dc);
        tree.PaintTree(canvas, RECT{0, 0, width, height}, POINT{0, 0}, options);
    });
}

namespace png {
inline void PutU32(std::string& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(char((v >> s) & 255));
}
inline uint32_t GetU32(const unsigned char* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
inline void Chunk(std::string& out, const char* type, const std::string& data) {
    PutU32(out, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    PutU32(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}
}

// An 8-bit RGB PNG, every row with filter 0.
inline bool WritePng(const std::string& path, const TImage& image) {
    std::string raw;
    for (int y = 0; y < image.Height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < image.Width; ++x) {
            uint32_t p = image.Pixels[size_t(y) * size_t(image.Width) + size_t(x)];
            raw.push_back(char((p >> 16) & 255));
            raw.push_back(char((p >> 8) & 255));
            raw.push_back(char(p & 255));
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  uLong(raw.size()), 9) != Z_OK)
        return false;
    packed.resize(size);
    std::string out("\x89PNG\r\n\x1a\n", 8), ihdr;
    png::PutU32(ihdr, uint32_t(image.Width));
    png::PutU32(ihdr, uint32_t(image.Height));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    png::Chunk(out, "IHDR", ihdr);
    png::Chunk(out, "IDAT", packed);
    png::Chunk(out, "IEND", "");
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

// Reads what WritePng writes (8-bit RGB, filter 0); false for anything else.
inline bool ReadPng(const std::string& path, TImage& image) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<unsigned char> data;
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    if (data.size() < 8 || std::memcmp(data.data(), "\x89PNG\r\n\x1a\n", 8) != 0) return false;
    std::string idat;
    size_t pos = 8;
    while (pos + 12 <= data.size()) {
        uint32_t len = png::GetU32(&data[pos]);
        if (pos + 12 + len > data.size()) return false;
        std::string type(reinterpret_cast<const char*>(&data[pos + 4]), 4);
        const unsigned char* body = &data[pos + 8];
        if (type == "IHDR") {
            if (len != 13 || body[8] != 8 || body[9] != 2 || body[12] != 0) return false;
            image.Width = int(png::GetU32(body));
            image.Height = int(png::GetU32(body + 4));
        } else if (type == "IDAT") {
            idat.append(reinterpret_cast<const char*>(body), len);
        }
        pos += 12 + len;
    }
    if (image.Width <= 0 || image.Height <= 0) return false;
    uLongf rawSize = uLongf(image.Height) * uLongf(1 + 3 * image.Width);
    std::vector<unsigned char> raw(rawSize);
    if (uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(idat.data()), uLong(idat.size())) != Z_OK ||
        rawSize != raw.size())
        return false;
    image.Pixels.clear();
    for (int y = 0; y < image.Height; ++y) {
        const unsigned char* row = &raw[size_t(y) * size_t(1 + 3 * image.Width)];
        if (row[0] != 0) return false;
        for (int x = 0; x < image.Width; ++x)
            image.Pixels.push_back(uint32_t(row[1 + 3 * x]) << 16 | row[2 + 3 * x] << 8 | row[3 + 3 * x]);
    }
    return true;
}

// Compares with tests/tree/golden/<name>.png, writing it when it is missing.
inline void ExpectMatchesGolden(const std::string& name, const TImage& actual) {
    std::string path = std::string(KORVANE_GOLDEN_DIR) + "/" + name + ".png";
    TImage golden;
    if (!ReadPng(path, golden)) {
        ::CreateDirectoryA(KORVANE_GOLDEN_DIR, nullptr);
        ASSERT_TRUE(WritePng(path, actual)) << "cannot write " << path;
        std::printf("[ GOLDEN   ] %s was missing and has been written: look at it before committing\n", path.c_str());
        return;
    }
    ASSERT_EQ(golden.Width, actual.Width) << name;
    ASSERT_EQ(golden.Height, actual.Height) << name;
    size_t differing = 0;
    for (size_t i = 0; i < golden.Pixels.size(); ++i) differing += golden.Pixels[i] != actual.Pixels[i];
    if (differing) {
        WritePng(name + ".actual.png", actual);
        ADD_FAILURE() << name << ": " << differing << " pixels differ from the golden image; the picture drawn "
                      << "now is " << name << ".actual.png beside the test program";
    }
}

} // namespace krv::test
