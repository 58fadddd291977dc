#include "framework/JpegImage.h"
#include "framework/Stream.h"
#include <csetjmp>
#include <cstdio>
#include <vector>
// libjpeg's headers expect the C library's FILE and size_t to be declared.
extern "C" {
#include <jpeglib.h>
}

namespace krv {
namespace {

// libjpeg reports errors through error_exit, which by default ends the
// process. Ours jumps back to the decoder instead, carrying the message.
// Warnings (corrupt or truncated data that libjpeg would paper over with grey
// rows) are treated as errors: a damaged picture is reported, not shown.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0) ErrorExit(cinfo);
}

void OutputMessage(j_common_ptr) {}

struct DecodeTarget {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<uint8_t>* pixels = nullptr;   // rows of width*components bytes
};

// Plain C-style decoding between setjmp and every libjpeg call: no object with
// a destructor lives in this frame, so the jump back is well defined.
bool DecodeRaw(const uint8_t* data, unsigned long size, DecodeTarget* target, char* message, size_t messageSize) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = OutputMessage;
    err.message[0] = 0;
    if (setjmp(err.jump)) {
        std::snprintf(message, messageSize, "%s", err.message);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, const_cast<uint8_t*>(data), size);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.jpeg_color_space == JCS_GRAYSCALE) {
        cinfo.out_color_space = JCS_GRAYSCALE;
    } else if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
        cinfo.out_color_space = JCS_CMYK;
    } else {
        cinfo.out_color_space = JCS_RGB;
    }
    if (static_cast<int64_t>(cinfo.image_width) * cinfo.image_height > TJpegImage::MaxPixels) {
        std::snprintf(message, messageSize, "Picture too large (%ux%u)", cinfo.image_width, cinfo.image_height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    target->width = static_cast<int>(cinfo.output_width);
    target->height = static_cast<int>(cinfo.output_height);
    target->components = cinfo.output_components;
    const size_t rowBytes = static_cast<size_t>(target->width) * static_cast<size_t>(target->components);
    target->pixels->resize(rowBytes * static_cast<size_t>(target->height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = target->pixels->data() + rowBytes * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

void TJpegImage::Clear() {
    bitmap_.reset();
    bits_ = nullptr;
    width_ = height_ = stride_ = 0;
}

void TJpegImage::LoadFromMemory(const void* data, size_t size) {
    Clear();
    if (!data || size == 0) throw EJpegError("JPEG error: no picture data");
    std::vector<uint8_t> pixels;
    DecodeTarget target;
    target.pixels = &pixels;
    char message[JMSG_LENGTH_MAX + 64] = {};
    if (!DecodeRaw(static_cast<const uint8_t*>(data), static_cast<unsigned long>(size), &target, message,
                   sizeof message))
        throw EJpegError(std::string("JPEG error: ") + message);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = target.width;
    info.bmiHeader.biHeight = -target.height;   // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    BitmapHandle bmp(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp || !bits) throw EJpegError("JPEG error: cannot create the bitmap: " + SysErrorMessage(::GetLastError()));

    const int stride = (target.width * 3 + 3) & ~3;
    auto* dst = static_cast<uint8_t*>(bits);
    for (int y = 0; y < target.height; ++y) {
        const uint8_t* src = pixels.data() + static_cast<size_t>(y) * target.width * target.components;
        uint8_t* out = dst + static_cast<size_t>(y) * stride;
        for (int x = 0; x < target.width; ++x, out += 3, src += target.components) {
            uint8_t r, g, b;
            if (target.components == 1) {
                r = g = b = src[0];
            } else if (target.components == 4) {
                // Adobe writes CMYK inverted: each byte is already 255 - ink.
                const unsigned k = src[3];
                r = static_cast<uint8_t>(src[0] * k / 255);
                g = static_cast<uint8_t>(src[1] * k / 255);
                b = static_cast<uint8_t>(src[2] * k / 255);
            } else {
                r = src[0];
                g = src[1];
                b = src[2];
            }
            out[0] = b;
            out[1] = g;
            out[2] = r;
        }
    }
    ::GdiFlush();
    bitmap_ = std::move(bmp);
    bits_ = dst;
    width_ = target.width;
    height_ = target.height;
    stride_ = stride;
}

void TJpegImage::LoadFromFile(const std::string& fileName) {
    Clear();
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    std::vector<uint8_t> data(static_cast<size_t>(file.Size()));
    if (!data.empty()) file.ReadBuffer(data.data(), data.size());
    try {
        LoadFromMemory(data.data(), data.size());
    } catch (const EJpegError& e) {
        throw EJpegError(e.Message() + " (" + fileName + ")");
    }
}

uint32_t TJpegImage::Pixel(int x, int y) const {
    if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const uint8_t* p = bits_ + static_cast<size_t>(y) * stride_ + static_cast<size_t>(x) * 3;
    return (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
}

void TJpegImage::Draw(HDC dc, const RECT& r) const {
    if (!bitmap_) return;
    MemoryDC mem(dc);
    SelectObjectScope sel(mem.get(), bitmap_.get());
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    ::StretchBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, mem.get(), 0, 0, width_, height_, SRCCOPY);
}

} // namespace krv
