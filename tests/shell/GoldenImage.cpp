#include "GoldenImage.h"
#include "ShellTestUtil.h"
#include "framework/Handle.h"

namespace shelltest {

namespace {
uint32_t Crc32(const std::string& bytes, size_t from) {
    static uint32_t table[256];
    if (!table[1]) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = from; i < bytes.size(); ++i) c = table[(c ^ static_cast<uint8_t>(bytes[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void PutBE32(std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
    PutBE32(png, static_cast<uint32_t>(data.size()));
    size_t start = png.size();
    png += type;
    png += data;
    PutBE32(png, Crc32(png, start));
}

// A zlib stream of stored blocks.
std::string Store(const std::string& raw) {
    std::string z = "\x78\x01";
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(65535, raw.size() - pos);
        z += static_cast<char>(pos + n == raw.size() ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    PutBE32(z, (b << 16) | a);
    return z;
}

std::wstring GoldenPath(const std::string& name) {
    // This file's own folder, as Wine sees the Linux path.
    std::string here = __FILE__;
    std::string dir = here.substr(0, here.find_last_of("/\\"));
    std::wstring w(dir.begin(), dir.end());
    for (auto& c : w) if (c == L'/') c = L'\\';
    if (!w.empty() && w[0] == L'\\') w = L"Z:" + w;
    return w + L"\\golden\\" + std::wstring(name.begin(), name.end()) + L".png";
}
} // namespace

std::string EncodePng(const TImage& image) {
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    PutBE32(header, static_cast<uint32_t>(image.Width));
    PutBE32(header, static_cast<uint32_t>(image.Height));
    header += std::string("\x08\x02\x00\x00\x00", 5);   // 8 bits, RGB, no interlace
    Chunk(png, "IHDR", header);
    std::string raw;
    for (int y = 0; y < image.Height; ++y) {
        raw += '\0';
        for (int x = 0; x < image.Width; ++x) {
            uint32_t p = image.Pixels[static_cast<size_t>(y * image.Width + x)];
            raw += static_cast<char>((p >> 16) & 0xFF);
            raw += static_cast<char>((p >> 8) & 0xFF);
            raw += static_cast<char>(p & 0xFF);
        }
    }
    Chunk(png, "IDAT", Store(raw));
    Chunk(png, "IEND", "");
    return png;
}

TCanvasBitmap::TCanvasBitmap(int width, int height, COLORREF fill) : width_(width), height_(height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;   // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = static_cast<uint32_t*>(bits);
    select_ = std::make_unique<krv::SelectObjectScope>(dc_.get(), bitmap_.get());
    RECT r{0, 0, width, height};
    krv::BrushHandle brush(::CreateSolidBrush(fill));
    ::FillRect(dc_.get(), &r, brush.get());
}

TImage TCanvasBitmap::Image() const {
    ::GdiFlush();
    TImage image{width_, height_, {}};
    for (int i = 0; i < width_ * height_; ++i) image.Pixels.push_back(bits_[i] & 0xFFFFFF);
    return image;
}

std::string CompareWithGolden(const std::string& name, const TImage& image) {
    std::string png = EncodePng(image);
    std::wstring path = GoldenPath(name);
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ::CreateDirectoryW(path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
        WriteFileBytes(path, png);
        return "";
    }
    if (ReadFileBytes(path) == png) return "";
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring actual = std::wstring(temp) + std::wstring(name.begin(), name.end()) + L".actual.png";
    WriteFileBytes(actual, png);
    return "differs from its golden image; the actual one is in %TEMP%\\" + name + ".actual.png";
}

} // namespace shelltest
