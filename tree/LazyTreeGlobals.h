// What every tree of the process shares, set up by the first tree: the
// system version, OLE, the timer resolution and the clipboard formats the
// trees offer.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace krv {

struct TClipboardFormatEntry {
    std::string Name;          // the registered name, or empty for a predefined format
    std::string Description;   // the registered name, or the built-in name of a predefined format
    CLIPFORMAT Format;
    std::string OwnerClass;    // the tree class that renders it
    int Priority;              // lower first
};

struct TLazyTreeGlobals {
    DWORD MajorVersion = 0, MinorVersion = 0;
    bool IsWin2k = false, IsWinXP = false;
    bool Color32Images = false;   // image lists with 32-bit colour, else 16-bit
    bool OleInitialized = false;
    CLIPFORMAT ReferenceFormat = 0;   // "Lazy Tree Reference"
    std::vector<TClipboardFormatEntry> ClipboardFormats;
};

// Runs the set-up once (on the user-interface thread); later calls answer the same.
const TLazyTreeGlobals& InitializeGlobalStructures();

} // namespace krv
