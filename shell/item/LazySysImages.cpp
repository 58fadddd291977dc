#include "shell/item/LazySysImages.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/SystemVersion.h"
#include <commctrl.h>
#include <commoncontrols.h>

namespace krv {

namespace {
// The image list interface's identifier (not in the import libraries).
const IID ImageListIID = {0x46EB5926, 0x582E, 0x4017, {0x9F, 0xDF, 0xE8, 0x99, 0x8D, 0xAA, 0x09, 0x50}};
} // namespace

HRESULT SHGetImageList(int imageListKind, REFIID iid, void** list) {
    if (!IsWinNT()) return E_NOTIMPL;
    auto fn = ShellEntryPoints().SHGetImageList;
    if (!fn) return E_NOTIMPL;
    return fn(imageListKind, iid, list);
}

TLazySysImages::TLazySysImages(TComponent* owner) : TComponent(owner) {}

void TLazySysImages::SetImageSize(int kind) {
    imageSize_ = kind;
    handle_ = nullptr;
    if (kind == 2) {
        IImageList* list = nullptr;
        // The system keeps the list; the handle stays valid after the interface is let go.
        if (SUCCEEDED(krv::SHGetImageList(SHIL_EXTRALARGE, ImageListIID, reinterpret_cast<void**>(&list))) && list) {
            ComPtr<IImageList> owned = ComPtr<IImageList>::Attach(list);
            handle_ = reinterpret_cast<HIMAGELIST>(list);
            return;
        }
    }
    PIDLPtr desktop(SpecialFolderPIDL(CSIDL_DESKTOP));
    if (!desktop) return;
    UINT flags = SHGFI_SYSICONINDEX | SHGFI_PIDL | (kind == 0 ? SHGFI_SMALLICON : 0);
    SHFILEINFOA info{};
    handle_ = reinterpret_cast<HIMAGELIST>(
        ::SHGetFileInfoA(reinterpret_cast<LPCSTR>(desktop.get()), 0, &info, sizeof info, flags));
}

int TLazySysImages::Width() const {
    int cx = 0, cy = 0;
    if (handle_) ::ImageList_GetIconSize(handle_, &cx, &cy);
    return cx;
}

int TLazySysImages::Height() const {
    int cx = 0, cy = 0;
    if (handle_) ::ImageList_GetIconSize(handle_, &cx, &cy);
    return cy;
}

int TLazySysImages::Count() const { return handle_ ? ::ImageList_GetImageCount(handle_) : 0; }

void TLazySysImages::Draw(HDC dc, int x, int y, int index) const {
    if (handle_) ::ImageList_Draw(handle_, index, dc, x, y, ILD_TRANSPARENT);
}

namespace {
template <int Kind> TLazySysImages& SysImages() {
    static TLazySysImages* list = [] {
        static TLazySysImages l;
        l.SetImageSize(Kind);
        return &l;
    }();
    return *list;
}
} // namespace

TLazySysImages& LargeSysImages() { return SysImages<1>(); }
TLazySysImages& SmallSysImages() { return SysImages<0>(); }

} // namespace krv
