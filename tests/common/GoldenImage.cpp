#include "GoldenImage.h"
#include "framework/Handle.h"
#include <gtest/gtest.h>
#include <zlib.h>
#include <cstdio>
#include <cstring>

namespace krv::test {

namespace {

void PutU32(std::string& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(char((v >> s) & 255));
}
uint32_t GetU32(const unsigned char* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

void Chunk(std::string& out, const char* type, const std::string& data) {
    PutU32(out, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    PutU32(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

std::string Hex(uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", unsigned(rgb));
    return text;
}

// Empty when the pictures are the same; otherwise what differs.
std::string Difference(const TImage& golden, const TImage& actual) {
    if (golden.Width != actual.Width || golden.Height != actual.Height)
        return "the golden image is " + std::to_string(golden.Width) + "x" + std::to_string(golden.Height) +
               ", the picture drawn now " + std::to_string(actual.Width) + "x" + std::to_string(actual.Height);
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < golden.Pixels.size(); ++i)
        if (golden.Pixels[i] != actual.Pixels[i] && differing++ == 0) first = i;
    if (!differing) return "";
    int x = int(first % size_t(golden.Width)), y = int(first / size_t(golden.Width));
    return std::to_string(differing) + " pixels differ from the golden image, the first at (" + std::to_string(x) +
           ", " + std::to_string(y) + "): golden " + Hex(golden.Pixels[first]) + ", now " +
           Hex(actual.Pixels[first]);
}

} // namespace

std::string BesideTestProgram(const std::string& name) {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    return (slash == std::string::npos ? std::string(".") : s.substr(0, slash)) + "\\" + name;
}

TImage Capture(int width, int height, const std::function<void(HDC dc)>& draw, COLORREF background) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;   // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    BitmapHandle bmp(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    TImage image{width, height, {}};
    if (!bmp) {
        ADD_FAILURE() << "cannot create a " << width << "x" << height << " bitmap";
        return image;
    }
    MemoryDC dc(nullptr);
    {
        SelectObjectScope select(dc.get(), bmp.get());
        RECT all{0, 0, width, height};
        BrushHandle brush(::CreateSolidBrush(background));
        ::FillRect(dc.get(), &all, brush.get());
        draw(dc.get());
        ::GdiFlush();
    }
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    image.Pixels.assign(p, p + size_t(width) * size_t(height));
    for (uint32_t& px : image.Pixels) px &= 0xFFFFFF;
    return image;
}

bool WritePng(const std::string& path, const TImage& image) {
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
    PutU32(ihdr, uint32_t(image.Width));
    PutU32(ihdr, uint32_t(image.Height));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);   // 8 bits, RGB, no interlace
    Chunk(out, "IHDR", ihdr);
    Chunk(out, "IDAT", packed);
    Chunk(out, "IEND", "");
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

bool ReadPng(const std::string& path, TImage& image) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<unsigned char> data;
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    if (data.size() < 8 || std::memcmp(data.data(), "\x89PNG\r\n\x1a\n", 8) != 0) return false;
    image = TImage{};
    std::string idat;
    size_t pos = 8;
    while (pos + 12 <= data.size()) {
        uint32_t len = GetU32(&data[pos]);
        if (len > data.size() - pos - 12) return false;
        std::string type(reinterpret_cast<const char*>(&data[pos + 4]), 4);
        const unsigned char* body = &data[pos + 8];
        if (type == "IHDR") {
            if (len != 13 || body[8] != 8 || body[9] != 2 || body[12] != 0) return false;
            image.Width = int(GetU32(body));
            image.Height = int(GetU32(body + 4));
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
    for (int y = 0; y < image.Height; ++y) {
        const unsigned char* row = &raw[size_t(y) * size_t(1 + 3 * image.Width)];
        if (row[0] != 0) return false;
        for (int x = 0; x < image.Width; ++x)
            image.Pixels.push_back(uint32_t(row[1 + 3 * x]) << 16 | row[2 + 3 * x] << 8 | row[3 + 3 * x]);
    }
    return true;
}

void ExpectMatchesGolden(const std::string& goldenDir, const std::string& name, const TImage& actual) {
    std::string path = goldenDir + "/" + name + ".png";
    TImage golden;
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // Written for the next run, but this one has compared nothing: a failure, as for text goldens.
        ::CreateDirectoryA(goldenDir.c_str(), nullptr);
        ASSERT_TRUE(WritePng(path, actual)) << "cannot write " << path;
        ADD_FAILURE() << "golden " << path << " was missing and is written now: look at it before committing";
        return;
    }
    ASSERT_TRUE(ReadPng(path, golden)) << path << " is not an 8-bit RGB PNG this test can read";
    std::string difference = Difference(golden, actual);
    if (difference.empty()) return;
    std::string saved = BesideTestProgram(name + ".actual.png");
    bool written = WritePng(saved, actual);
    ADD_FAILURE() << name << ": " << difference << "; the picture drawn now "
                  << (written ? "is " + saved : "could not be saved to " + saved);
}

} // namespace krv::test
