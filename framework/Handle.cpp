#include "framework/Handle.h"
#include <commctrl.h>

namespace krv {
void ImageListTraits::close(Raw h) { ::ImageList_Destroy(static_cast<HIMAGELIST>(h)); }
} // namespace krv
