// Golden images shared by the test programs: what a drawing puts into a
// 32-bit bitmap, compared pixel for pixel with a committed 8-bit RGB PNG.
// A missing golden is written by the test, which fails saying so: it must be
// looked at before it is committed; a mismatch saves the actual picture beside the
// test program and says where it first differs.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace krv::test {

struct TImage {
    int Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;   // 0x00RRGGBB, top row first
    bool operator==(const TImage&) const = default;
};

// name in the folder of the running test program (in the build tree), where a
// mismatch's actual output goes whatever the current directory is.
std::string BesideTestProgram(const std::string& name);

// What draw puts into a width x height bitmap first filled with background.
TImage Capture(int width, int height, const std::function<void(HDC dc)>& draw, COLORREF background = RGB(0, 0, 0));

// An 8-bit RGB PNG, every row with filter 0.
bool WritePng(const std::string& path, const TImage& image);
// Reads an 8-bit RGB, non-interlaced PNG with filter 0 rows; false for anything else.
bool ReadPng(const std::string& path, TImage& image);

// Compares with <goldenDir>/<name>.png, writing it when it is missing.
void ExpectMatchesGolden(const std::string& goldenDir, const std::string& name, const TImage& actual);

#ifdef KORVANE_GOLDEN_DIR
// The test program's own golden folder, set in tests/CMakeLists.txt.
inline void ExpectMatchesGolden(const std::string& name, const TImage& actual) {
    ExpectMatchesGolden(KORVANE_GOLDEN_DIR, name, actual);
}
#endif

} // namespace krv::test
