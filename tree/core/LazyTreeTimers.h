// The ids of the timers a tree window runs. Several files start and stop the
// same timer, and StartTimer keeps one bit per id, so they are listed once.
#pragma once
#include <windows.h>

namespace krv {

constexpr UINT kExpandTimer = 1;
constexpr UINT kEditTimer = 2;
constexpr UINT kHeaderTimer = 3;
constexpr UINT kScrollTimer = 4;
constexpr UINT kChangeTimer = 5;
constexpr UINT kStructureChangeTimer = 6;
constexpr UINT kSearchTimer = 7;

} // namespace krv
