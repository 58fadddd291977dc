#include "framework/Handle.h"
#include "framework/Themes.h"
#include <commctrl.h>

namespace krv {
void ImageListTraits::close(Raw h) { ::ImageList_Destroy(static_cast<HIMAGELIST>(h)); }
void ThemeTraits::close(Raw h) { ThemeFunctions().CloseThemeData(h); }
} // namespace krv
