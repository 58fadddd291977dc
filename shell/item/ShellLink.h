// Reads a shell shortcut (.lnk) through the shell's link object and keeps its
// target and settings. Writing links is not part of this program.
#pragma once
#include "framework/Classes.h"
#include "framework/Handle.h"
#include "shell/base/PIDLTools.h"
#include <shobjidl.h>
#include <string>

namespace krv {

enum TShellShowCmd {
    swcHide, swcMaximize, swcMinimize, swcRestore, swcShow, swcShowDefault,
    swcShowMinimized, swcShowMinNoActive, swcShowNA, swcShowNoActivate, swcShowNormal
};

enum THotKeyModifier : unsigned {
    hkmAlt = 1u << 0,
    hkmControl = 1u << 1,
    hkmExtended = 1u << 2,
    hkmShift = 1u << 3,
};
using THotKeyModifiers = unsigned;

// The show command a SW_ value stands for; false for a value above 10.
bool ShowCmdFromSW(int sw, TShellShowCmd& cmd);

class TLazyShellLink : public TComponent {
public:
    explicit TLazyShellLink(TComponent* owner = nullptr) : TComponent(owner) {}

    // Fills the fields from a link file. A missing or broken file changes nothing.
    void ReadFromFile(const std::wstring& fileName);
    void FreeTargetIDList() { targetIDList_.reset(); }

    std::wstring FileName;
    int IconIndex = 0;
    TShellShowCmd ShowCmd = swcShowNormal;
    THotKeyModifiers HotKeyModifiers = 0;
    std::wstring TargetPath;
    std::wstring Arguments;
    std::wstring Description;
    std::wstring WorkingDirectory;
    std::wstring IconLocation;
    WORD HotKey = 0;
    // The target's absolute list, owned by the link object.
    LPITEMIDLIST TargetIDList() const { return targetIDList_.get(); }

    IShellLinkA* ShellLinkA();
    IShellLinkW* ShellLinkW();

protected:
    // Make the shell's link object; a failed creation gives nil.
    virtual ComPtr<IShellLinkA> CreateShellLinkA();
    virtual ComPtr<IShellLinkW> CreateShellLinkW();

private:
    template <class Link, class Char> void ReadThrough(Link* link, const std::wstring& fileName);
    ComPtr<IShellLinkA> linkA_;
    ComPtr<IShellLinkW> linkW_;
    PIDLPtr targetIDList_;
};

} // namespace krv
