#include "framework/Themes.h"
#include "framework/LazyLibrary.h"

namespace krv {

const TThemeFunctions& ThemeFunctions() {
    static const TThemeFunctions functions = [] {
        TLazyLibrary& library = ThemeLibrary();
        TThemeFunctions f;
        f.OpenThemeData = library.TryGet<decltype(f.OpenThemeData)>("OpenThemeData");
        f.CloseThemeData = library.TryGet<decltype(f.CloseThemeData)>("CloseThemeData");
        f.DrawThemeBackground = library.TryGet<decltype(f.DrawThemeBackground)>("DrawThemeBackground");
        f.GetThemeBackgroundContentRect =
            library.TryGet<decltype(f.GetThemeBackgroundContentRect)>("GetThemeBackgroundContentRect");
        f.DrawThemeIcon = library.TryGet<decltype(f.DrawThemeIcon)>("DrawThemeIcon");
        f.IsThemeActive = library.TryGet<decltype(f.IsThemeActive)>("IsThemeActive");
        f.IsAppThemed = library.TryGet<decltype(f.IsAppThemed)>("IsAppThemed");
        return f;
    }();
    return functions;
}

bool ThemesActive() {
    const TThemeFunctions& f = ThemeFunctions();
    return f.IsThemeActive && f.IsAppThemed && f.IsThemeActive() && f.IsAppThemed();
}

bool TTheme::Open(HWND wnd, const wchar_t* classList) {
    Close();
    const TThemeFunctions& f = ThemeFunctions();
    if (f.Usable() && f.IsThemeActive()) handle_.reset(f.OpenThemeData(wnd, classList));
    return Active();
}

bool TTheme::Draw(HDC dc, int part, int state, const RECT& r) const {
    return handle_ && SUCCEEDED(ThemeFunctions().DrawThemeBackground(handle_.get(), dc, part, state, &r, nullptr));
}

RECT TTheme::ContentRect(HDC dc, int part, int state, const RECT& r) const {
    RECT out = r;
    const TThemeFunctions& f = ThemeFunctions();
    if (handle_ && f.GetThemeBackgroundContentRect) f.GetThemeBackgroundContentRect(handle_.get(), dc, part, state, &r, &out);
    return out;
}

void TTheme::DrawIcon(HDC dc, int part, int state, const RECT& r, HIMAGELIST images, int index) const {
    const TThemeFunctions& f = ThemeFunctions();
    if (handle_ && f.DrawThemeIcon) f.DrawThemeIcon(handle_.get(), dc, part, state, &r, images, index);
    else ::ImageList_Draw(images, index, dc, r.left, r.top, ILD_NORMAL);
}

} // namespace krv
