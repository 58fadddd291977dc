#include "shell/item/ShellLink.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideStrUtils.h"
#include <vector>

namespace krv {

bool ShowCmdFromSW(int sw, TShellShowCmd& cmd) {
    static const TShellShowCmd map[11] = {
        swcHide, swcShowNormal, swcShowMinimized, swcMaximize, swcShowNoActivate, swcShow,
        swcMinimize, swcShowMinNoActive, swcShowNA, swcRestore, swcShowDefault};
    if (sw < 0 || sw > 10) return false;
    cmd = map[sw];
    return true;
}

ComPtr<IShellLinkA> TLazyShellLink::CreateShellLinkA() {
    ComPtr<IShellLinkA> link;
    ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.put_void());
    return link;
}

ComPtr<IShellLinkW> TLazyShellLink::CreateShellLinkW() {
    ComPtr<IShellLinkW> link;
    ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void());
    return link;
}

IShellLinkA* TLazyShellLink::ShellLinkA() {
    if (!linkA_) linkA_ = CreateShellLinkA();
    return linkA_.get();
}

IShellLinkW* TLazyShellLink::ShellLinkW() {
    if (!linkW_) linkW_ = CreateShellLinkW();
    return linkW_.get();
}

namespace {
// A text as the link gives it: cut at its first zero; empty when the call fails.
std::wstring Widen(const std::vector<wchar_t>& buf) { return std::wstring(buf.data()); }
std::wstring Widen(const std::vector<char>& buf) { return AnsiToWide(buf.data()); }

template <class Char, class Fn> std::wstring ReadText(size_t capacity, Fn get) {
    std::vector<Char> buf(capacity + 1, Char(0));
    if (FAILED(get(buf.data(), static_cast<int>(capacity)))) return std::wstring();
    buf[capacity] = 0;
    return Widen(buf);
}
} // namespace

template <class Link, class Char> void TLazyShellLink::ReadThrough(Link* link, const std::wstring& fileName) {
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || !file) return;
    FileName = fileName;
    // Read access only: links on read-only media (a backup disc) must load too.
    if (FAILED(file->Load(fileName.c_str(), STGM_READ))) return;

    TargetPath = ReadText<Char>(MAX_PATH, [&](Char* b, int n) { return link->GetPath(b, n, nullptr, SLGP_UNCPRIORITY); });
    Arguments = ReadText<Char>(1024, [&](Char* b, int n) { return link->GetArguments(b, n); });
    Description = ReadText<Char>(1024, [&](Char* b, int n) { return link->GetDescription(b, n); });
    WorkingDirectory = ReadText<Char>(1024, [&](Char* b, int n) { return link->GetWorkingDirectory(b, n); });
    int icon = 0;
    IconLocation = ReadText<Char>(1024, [&](Char* b, int n) { return link->GetIconLocation(b, n, &icon); });
    IconIndex = icon;

    FreeTargetIDList();
    LPITEMIDLIST pidl = nullptr;
    if (SUCCEEDED(link->GetIDList(&pidl))) targetIDList_.reset(pidl);
    else PIDLPtr drop(pidl);

    WORD hotKey = 0;
    if (SUCCEEDED(link->GetHotkey(&hotKey))) {
        HotKey = LOBYTE(hotKey);
        BYTE mods = HIBYTE(hotKey);
        HotKeyModifiers = 0;
        if (mods & HOTKEYF_ALT) HotKeyModifiers |= hkmAlt;
        if (mods & HOTKEYF_CONTROL) HotKeyModifiers |= hkmControl;
        if (mods & HOTKEYF_EXT) HotKeyModifiers |= hkmExtended;
        if (mods & HOTKEYF_SHIFT) HotKeyModifiers |= hkmShift;
    }
    int show = 0;
    if (SUCCEEDED(link->GetShowCmd(&show))) ShowCmdFromSW(show, ShowCmd);
}

void TLazyShellLink::ReadFromFile(const std::wstring& fileName) {
    if (IsWinNT()) {
        if (IShellLinkW* link = ShellLinkW()) ReadThrough<IShellLinkW, wchar_t>(link, fileName);
    } else {
        if (IShellLinkA* link = ShellLinkA()) ReadThrough<IShellLinkA, char>(link, fileName);
    }
}

} // namespace krv
