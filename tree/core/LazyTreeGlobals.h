// What every tree of the process shares, set up by the first tree: the
// system version, OLE, the timer resolution and the clipboard formats the
// trees offer.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include <vector>

namespace krv {

class TBaseLazyTree;

struct TClipboardFormatEntry {
    std::string Name;          // the registered name, or empty for a predefined format
    std::string Description;   // the registered name, or the built-in name of a predefined format
    CLIPFORMAT Format;
    std::string OwnerClass;    // the tree class that renders it
    int Priority;              // lower first
    FORMATETC FormatEtc;
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
// The system timer at 1 ms for paced animations, asked by the first one that
// runs (the multimedia library is mapped then, not at start-up); kept until
// the program ends.
void NeedFineTimer();

// ---- the registry of clipboard formats the trees render ----------------------------
// Registers the name with the system and adds an entry (kept in priority
// order, lowest first); answers the format number.
CLIPFORMAT RegisterClipboardFormatEntry(const std::string& description, const std::string& treeClass, int priority,
                                        DWORD tymed = TYMED_HGLOBAL, DVTARGETDEVICE* ptd = nullptr,
                                        DWORD aspect = DVASPECT_CONTENT, LONG lindex = -1);
// The same for a format the system predefines (1-16 take the built-in names,
// other numbers the system's name).
CLIPFORMAT RegisterClipboardFormatEntry(CLIPFORMAT format, const std::string& treeClass, int priority,
                                        DWORD tymed = TYMED_HGLOBAL, DVTARGETDEVICE* ptd = nullptr,
                                        DWORD aspect = DVASPECT_CONTENT, LONG lindex = -1);
// By description (without regard to case, the latest entry first) or by number.
bool LookUpFormat(const std::string& description, std::string& treeClass, CLIPFORMAT& format);
bool LookUpFormat(CLIPFORMAT format, std::string& description, std::string& treeClass);
// The formats of every entry whose class the tree is, limited to the allowed
// descriptions when a list is given.
std::vector<FORMATETC> EnumerateFormats(const TBaseLazyTree& tree, const std::vector<std::string>* allowed = nullptr);

} // namespace krv
