#include "tree/LazyTreeGlobals.h"
#include <mmsystem.h>
#include <ole2.h>
#include <algorithm>
#include <memory>

namespace krv {

namespace {
// Undone when the program ends.
struct GlobalsOwner {
    TLazyTreeGlobals globals;
    bool ready = false;
    ~GlobalsOwner() {
        if (!ready) return;
        ::timeEndPeriod(1);
        if (globals.OleInitialized) ::OleUninitialize();
    }
};
GlobalsOwner& Owner() {
    static GlobalsOwner owner;
    return owner;
}
}

const TLazyTreeGlobals& InitializeGlobalStructures() {
    GlobalsOwner& owner = Owner();
    TLazyTreeGlobals& g = owner.globals;
    if (owner.ready) return g;
    owner.ready = true;
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (::GetVersionExA(&info)) {
        g.MajorVersion = info.dwMajorVersion;
        g.MinorVersion = info.dwMinorVersion;
    }
    g.IsWin2k = g.MajorVersion == 5 && g.MinorVersion == 0;
    g.IsWinXP = g.MajorVersion > 5 || (g.MajorVersion == 5 && g.MinorVersion >= 1);
    g.Color32Images = g.IsWinXP;
    HRESULT hr = ::OleInitialize(nullptr);
    g.OleInitialized = SUCCEEDED(hr);
    g.ReferenceFormat = CLIPFORMAT(::RegisterClipboardFormatA("Lazy Tree Reference"));
    struct Named { const char* name; CLIPFORMAT predefined; const char* owner; int priority; };
    static const Named formats[] = {
        {"Lazy Tree Data", 0, "TBaseLazyTree", 50},
        {"HTML Format", 0, "TCustomLazyStringTree", 80},
        {"Rich Text Format Without Objects", 0, "TCustomLazyStringTree", 84},
        {"Rich Text Format", 0, "TCustomLazyStringTree", 85},
        {"CSV", 0, "TCustomLazyStringTree", 90},
        {nullptr, CF_UNICODETEXT, "TCustomLazyStringTree", 95},
        {nullptr, CF_TEXT, "TCustomLazyStringTree", 100},
    };
    for (const Named& f : formats) {
        CLIPFORMAT cf = f.name ? CLIPFORMAT(::RegisterClipboardFormatA(f.name)) : f.predefined;
        const char* description = f.name ? f.name : cf == CF_UNICODETEXT ? "Unicode text" : "Plain text";
        g.ClipboardFormats.push_back(TClipboardFormatEntry{f.name ? f.name : "", description, cf, f.owner, f.priority});
    }
    std::stable_sort(g.ClipboardFormats.begin(), g.ClipboardFormats.end(),
                     [](const TClipboardFormatEntry& a, const TClipboardFormatEntry& b) { return a.Priority < b.Priority; });
    ::timeBeginPeriod(1);
    return g;
}

} // namespace krv
