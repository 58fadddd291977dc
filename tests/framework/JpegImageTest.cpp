// Decoding through libjpeg: pictures made by libjpeg's own encoder come back
// with their colours; damaged data of every kind ends in EJpegError.
#include "common/TempPath.h"
#include "framework/JpegImage.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <random>
#include <vector>
extern "C" {
#include <jpeglib.h>
}

using namespace krv;

namespace {

// Left half red, right half blue (RGB), or a grey ramp for one component.
std::vector<uint8_t> Encode(int width, int height, int components) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width * components));
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < width; ++x) {
            if (components == 1) {
                row[x] = static_cast<uint8_t>(x * 255 / (width - 1));
            } else {
                const bool left = x < width / 2;
                row[x * 3 + 0] = left ? 220 : 20;
                row[x * 3 + 1] = 20;
                row[x * 3 + 2] = left ? 20 : 220;
            }
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> data(out, out + outSize);
    jpeg_destroy_compress(&c);
    free(out);
    return data;
}

bool Near(uint32_t rgb, int r, int g, int b, int tolerance = 24) {
    const int pr = (rgb >> 16) & 0xFF, pg = (rgb >> 8) & 0xFF, pb = rgb & 0xFF;
    return std::abs(pr - r) <= tolerance && std::abs(pg - g) <= tolerance && std::abs(pb - b) <= tolerance;
}

} // namespace

TEST(JpegImage, DecodesColourAndGreyPicturesIntoABitmap) {
    TJpegImage img;
    EXPECT_TRUE(img.Empty());
    const auto colour = Encode(64, 40, 3);
    img.LoadFromMemory(colour.data(), colour.size());
    ASSERT_FALSE(img.Empty());
    EXPECT_EQ(img.Width(), 64);
    EXPECT_EQ(img.Height(), 40);
    EXPECT_TRUE(Near(img.Pixel(5, 5), 220, 20, 20)) << std::hex << img.Pixel(5, 5);
    EXPECT_TRUE(Near(img.Pixel(60, 35), 20, 20, 220)) << std::hex << img.Pixel(60, 35);
    BITMAP bm{};
    ASSERT_EQ(::GetObjectA(img.Bitmap(), sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 64);
    EXPECT_EQ(bm.bmHeight, 40);

    // An odd width exercises the padded rows of the bitmap.
    const auto grey = Encode(33, 7, 1);
    img.LoadFromMemory(grey.data(), grey.size());
    EXPECT_EQ(img.Width(), 33);
    EXPECT_TRUE(Near(img.Pixel(0, 3), 0, 0, 0, 12));
    EXPECT_TRUE(Near(img.Pixel(32, 6), 255, 255, 255, 12));
}

TEST(JpegImage, DrawsIntoADeviceContext) {
    const auto colour = Encode(64, 40, 3);
    TJpegImage img;
    img.LoadFromMemory(colour.data(), colour.size());
    WindowDC screen(nullptr);
    MemoryDC dc(screen.get());
    BitmapHandle target(::CreateCompatibleBitmap(screen.get(), 32, 20));
    SelectObjectScope sel(dc.get(), target.get());
    img.Draw(dc.get(), RECT{0, 0, 32, 20});
    const COLORREF left = ::GetPixel(dc.get(), 3, 10), right = ::GetPixel(dc.get(), 29, 10);
    EXPECT_GT(GetRValue(left), 150);
    EXPECT_GT(GetBValue(right), 150);
}

TEST(JpegImage, DamagedDataGivesAClearErrorAndAnEmptyPicture) {
    const auto good = Encode(48, 48, 3);
    TJpegImage img;
    img.LoadFromMemory(good.data(), good.size());

    auto expectError = [&img](const std::vector<uint8_t>& data, const char* what) {
        try {
            img.LoadFromMemory(data.data(), data.size());
            ADD_FAILURE() << what << ": decoded";
        } catch (const EJpegError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("JPEG error: ", 0), 0u) << e.what();
            EXPECT_GT(std::string(e.what()).size(), 13u) << what;
        }
        EXPECT_TRUE(img.Empty()) << what;
    };
    expectError({}, "empty");
    expectError(std::vector<uint8_t>(good.begin(), good.begin() + 2), "only the start marker");
    expectError(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), "truncated");
    expectError(std::vector<uint8_t>(500, 0x5A), "not a picture");
    auto png = std::vector<uint8_t>{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0};
    expectError(png, "another format");
}

TEST(JpegImage, MutatedPicturesNeverCrash) {
    const auto good = Encode(40, 24, 3);
    std::mt19937 rng(1234);
    TJpegImage img;
    int decoded = 0, refused = 0;
    for (int round = 0; round < 300; ++round) {
        auto data = good;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < flips; ++i) data[rng() % data.size()] = static_cast<uint8_t>(rng());
        if (round % 5 == 0) data.resize(rng() % data.size());
        try {
            img.LoadFromMemory(data.data(), data.size());
            ++decoded;
            EXPECT_EQ(img.Width() > 0, true);
        } catch (const EJpegError&) {
            ++refused;
            EXPECT_TRUE(img.Empty());
        }
    }
    EXPECT_EQ(decoded + refused, 300);
    EXPECT_GT(refused, 0);
}

TEST(JpegImage, FilesLoadAndMissingFilesReportTheName) {
    const auto good = Encode(16, 16, 3);
    const std::string good_path = krv::test::TempPath("krv_jpeg_ok.jpg");
    const std::string bad_path = krv::test::TempPath("krv_jpeg_bad.jpg");
    FILE* f = std::fopen(good_path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(good.data(), 1, good.size(), f);
    std::fclose(f);
    f = std::fopen(bad_path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(good.data(), 1, 20, f);
    std::fclose(f);

    TJpegImage img;
    img.LoadFromFile(good_path);
    EXPECT_EQ(img.Width(), 16);
    try {
        img.LoadFromFile(bad_path);
        ADD_FAILURE();
    } catch (const EJpegError& e) {
        EXPECT_NE(std::string(e.what()).find("krv_jpeg_bad.jpg"), std::string::npos) << e.what();
    }
    EXPECT_THROW(img.LoadFromFile(krv::test::TempPath("krv_no_such.jpg")), Exception);
    std::remove(good_path.c_str());
    std::remove(bad_path.c_str());
}
