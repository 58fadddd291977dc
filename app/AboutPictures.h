// The about window's two JPEG pictures, compiled in from app/res.
#pragma once
#include <cstddef>

namespace krv {
extern const unsigned char kAboutPicture_banner[];
extern const size_t kAboutPicture_banner_size;
extern const unsigned char kAboutPicture_logo[];
extern const size_t kAboutPicture_logo_size;
} // namespace krv
