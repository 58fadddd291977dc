// The compiled-in pictures of the about window decode through libjpeg.
#include "app/AboutPictures.h"
#include "framework/JpegImage.h"
#include <gtest/gtest.h>

using namespace krv;

TEST(AboutPictures, BothDecodeAtTheirDrawnSizes) {
    TJpegImage banner, logo;
    banner.LoadFromMemory(kAboutPicture_banner, kAboutPicture_banner_size);
    logo.LoadFromMemory(kAboutPicture_logo, kAboutPicture_logo_size);
    EXPECT_EQ(banner.Width(), 400);
    EXPECT_EQ(banner.Height(), 110);
    EXPECT_EQ(logo.Width(), 96);
    EXPECT_EQ(logo.Height(), 96);
    // The banner's top-left corner is the dark end of its gradient.
    const uint32_t corner = banner.Pixel(2, 2);
    EXPECT_LT((corner >> 16) & 0xFF, 0x40u);
    EXPECT_GT(corner & 0xFF, 0x30u);
}
