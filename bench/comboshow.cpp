// A live path combo box with one of its drop-downs open, for a person or a
// screenshot: "tree" opens the folder tree at C:\windows, "auto" types a path
// so the autocomplete list opens and moves to its second row, "none" shows
// the closed box. Further words: "classic" turns visual styles off for the
// box, "bottom" puts the window at the foot of the screen (the tree opens
// upward), "short" makes the tree six rows high (its scroll bar shows). The drop-down closes
// after the seconds given last (default 20), then the program ends.
#include "shell/combo/LazyExplorerCombobox.h"
#include "shell/base/ShellUtils.h"
#include "framework/Forms.h"
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <string>

using namespace krv;

namespace {
TLazyExplorerCombobox* combo = nullptr;

void CALLBACK CloseAll(HWND, UINT, UINT_PTR, DWORD) {
    combo->PopupExplorerDropDown().RollUp(false);
    combo->PopupAutoCompleteDropDown().RollUp(false);
    ::PostQuitMessage(0);
}
} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int) {
    ::CoInitialize(nullptr);
    TShellUtilitiesScope shell;
    std::istringstream args(cmdLine ? cmdLine : "");
    std::string mode = "tree", word;
    int seconds = 20;
    bool classic = false, bottom = false, shortList = false;
    while (args >> word) {
        if (word == "classic") classic = true;
        else if (word == "bottom") bottom = true;
        else if (word == "short") shortList = true;
        else if (std::isdigit(static_cast<unsigned char>(word[0]))) seconds = std::atoi(word.c_str());
        else mode = word;
    }
    TForm form;
    form.SetCaption("Path combo box");
    if (bottom) form.BorderStyle = bsNone;
    form.SetBounds(40, bottom ? ::GetSystemMetrics(SM_CYSCREEN) - 120 : 40, 460, bottom ? 100 : 360);
    TLazyExplorerCombobox box;
    combo = &box;
    box.SetParent(&form);
    box.SetBounds(20, 20, 400, 23);
    box.SetThemeAware(!classic);
    box.PopupExplorerDropDown().SetOptions(box.PopupExplorerDropDown().Options() + TPopupOptions{poSizeable});
    box.PopupExplorerDropDown().SetComboBoxStyle(TPopupExplorerDropDown::cbsLETEnhanced);
    box.PopupExplorerDropDown().SetDropDownCount(shortList ? 6 : 14);
    form.Show();
    box.SetPath(L"C:\\windows");
    ::SetTimer(nullptr, 0, UINT(seconds) * 1000, &CloseAll);
    if (mode == "tree") {
        box.ButtonClick();
    } else if (mode == "auto") {
        box.Edit().SetFocus();
        Application().ProcessMessages();   // the focus selects everything first
        box.Edit().SetEditText(L"C:\\windows\\");
        ::SendMessageW(box.Edit().Handle(), EM_SETSEL, 0x7fff, 0x7fff);
        for (int i = 0; i < 2; ++i) ::PostMessageW(box.Edit().Handle(), WM_KEYDOWN, VK_DOWN, 1);
        ::SendMessageW(box.Edit().Handle(), WM_CHAR, L's', 1);
    }
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
