#include "app/WarmUp.h"
#include "framework/Handle.h"
#include "framework/XmlDoc.h"
#include "shell/item/LazySysImages.h"
#include <shellapi.h>

namespace krv {

void TStartWarmUp::Execute() {
    ComInit com;
    SHFILEINFOW info{};
    ::SHGetFileInfoW(L"C:\\", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info,
                     SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON);
    // The trees' small image list: the desktop's icon is looked up to find it.
    SmallSysImages();
    // Made and dropped: the engine's library stays loaded for the process.
    TXmlDocument document;
    document.Clear();
}

} // namespace krv
