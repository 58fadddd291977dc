// The shell's system image list as the controls draw from it, in small,
// large or extra-large size. The list belongs to the system: it is shared,
// never destroyed.
#pragma once
#include "framework/Classes.h"
#include <windows.h>

typedef struct _IMAGELIST* HIMAGELIST;

namespace krv {

class TLazySysImages : public TComponent {
public:
    explicit TLazySysImages(TComponent* owner = nullptr);
    HIMAGELIST Handle() const { return handle_; }
    // 0 small, 1 large, 2 extra large (the large list where the system has no larger).
    int ImageSize() const { return imageSize_; }
    void SetImageSize(int kind);
    bool ShareImages() const { return true; }
    int Width() const;
    int Height() const;
    int Count() const;
    void Draw(HDC dc, int x, int y, int index) const;

private:
    HIMAGELIST handle_ = nullptr;
    int imageSize_ = -1;
};

// The process's large and small system image lists, made on first use.
TLazySysImages& LargeSysImages();
TLazySysImages& SmallSysImages();

// shell32's image list of a kind (ordinal 727, NT family only); E_NOTIMPL elsewhere.
HRESULT SHGetImageList(int imageListKind, REFIID iid, void** list);

} // namespace krv
