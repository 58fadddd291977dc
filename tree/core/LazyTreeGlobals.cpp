#include "tree/core/LazyTreeGlobals.h"
#include "tree/core/LazyTrees.h"
#include "framework/LazyLibrary.h"
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
    decltype(&::timeEndPeriod) endFineTimer = nullptr;
    ~GlobalsOwner() {
        if (endFineTimer) endFineTimer(1);
        if (!ready) return;
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
    RegisterClipboardFormatEntry("Lazy Tree Data", "TBaseLazyTree", 50);
    RegisterClipboardFormatEntry("HTML Format", "TCustomLazyStringTree", 80);
    RegisterClipboardFormatEntry("Rich Text Format Without Objects", "TCustomLazyStringTree", 84);
    RegisterClipboardFormatEntry("Rich Text Format", "TCustomLazyStringTree", 85);
    RegisterClipboardFormatEntry("CSV", "TCustomLazyStringTree", 90);
    RegisterClipboardFormatEntry(CF_UNICODETEXT, "TCustomLazyStringTree", 95);
    RegisterClipboardFormatEntry(CF_TEXT, "TCustomLazyStringTree", 100);
    return g;
}

void NeedFineTimer() {
    GlobalsOwner& owner = Owner();
    if (owner.endFineTimer) return;
    auto end = KRV_LAZY_CALL(MultimediaLibrary, timeEndPeriod);
    KRV_LAZY_CALL(MultimediaLibrary, timeBeginPeriod)(1);
    owner.endFineTimer = end;
}

namespace {
const char* const kStandardNames[] = {
    "Plain text", "Windows bitmap", "Windows metafile", "Symbolic link", "Data interchange format", "Tiff image",
    "OEM text", "DIB image", "Palette data", "Pen data", "Riff audio data", "Wav audio data", "Unicode text",
    "Enhanced metafile image", "File name(s)", "Locale descriptor"};

void AddEntry(const std::string& name, const std::string& description, CLIPFORMAT format,
              const std::string& treeClass, int priority, DWORD tymed, DVTARGETDEVICE* ptd, DWORD aspect,
              LONG lindex) {
    auto& list = Owner().globals.ClipboardFormats;
    list.push_back(TClipboardFormatEntry{name, description, format, treeClass, priority,
                                         FORMATETC{format, ptd, aspect, lindex, tymed}});
    std::stable_sort(list.begin(), list.end(), [](const TClipboardFormatEntry& a, const TClipboardFormatEntry& b) {
        return a.Priority < b.Priority;
    });
}
}

CLIPFORMAT RegisterClipboardFormatEntry(const std::string& description, const std::string& treeClass, int priority,
                                        DWORD tymed, DVTARGETDEVICE* ptd, DWORD aspect, LONG lindex) {
    CLIPFORMAT format = CLIPFORMAT(::RegisterClipboardFormatA(description.c_str()));
    AddEntry(description, description, format, treeClass, priority, tymed, ptd, aspect, lindex);
    return format;
}

CLIPFORMAT RegisterClipboardFormatEntry(CLIPFORMAT format, const std::string& treeClass, int priority, DWORD tymed,
                                        DVTARGETDEVICE* ptd, DWORD aspect, LONG lindex) {
    std::string description;
    if (format >= 1 && format <= 16) {
        description = kStandardNames[format - 1];
    } else {
        char name[256] = {};
        int n = ::GetClipboardFormatNameA(format, name, sizeof name);
        description.assign(name, size_t(n > 0 ? n : 0));
    }
    AddEntry("", description, format, treeClass, priority, tymed, ptd, aspect, lindex);
    return format;
}

bool LookUpFormat(const std::string& description, std::string& treeClass, CLIPFORMAT& format) {
    const auto& list = Owner().globals.ClipboardFormats;
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (::lstrcmpiA(it->Description.c_str(), description.c_str()) == 0) {
            treeClass = it->OwnerClass;
            format = it->Format;
            return true;
        }
    return false;
}

bool LookUpFormat(CLIPFORMAT format, std::string& description, std::string& treeClass) {
    for (const auto& e : Owner().globals.ClipboardFormats)
        if (e.Format == format) {
            description = e.Description;
            treeClass = e.OwnerClass;
            return true;
        }
    return false;
}

std::vector<FORMATETC> EnumerateFormats(const TBaseLazyTree& tree, const std::vector<std::string>* allowed) {
    std::vector<FORMATETC> result;
    for (const auto& e : Owner().globals.ClipboardFormats) {
        if (!tree.InheritsFrom(e.OwnerClass)) continue;
        if (allowed && std::none_of(allowed->begin(), allowed->end(), [&](const std::string& a) {
                return ::lstrcmpiA(a.c_str(), e.Description.c_str()) == 0;
            }))
            continue;
        result.push_back(e.FormatEtc);
    }
    return result;
}

} // namespace krv
