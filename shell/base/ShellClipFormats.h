// The shell's own clipboard formats, registered once at start.
#pragma once
#include <windows.h>

namespace krv {

struct TShellClipFormats {
    UINT ShellIDList = 0;               // "Shell IDList Array"
    UINT LogicalPerformedDropEffect = 0; // "Logical Performed DropEffect"
    UINT PreferredDropEffect = 0;       // "Preferred DropEffect"
    UINT FileContents = 0;              // "FileContents"
    UINT FileGroupDescriptor = 0;       // "FileGroupDescriptor"
    UINT FileGroupDescriptorW = 0;      // "FileGroupDescriptorW"
};

// Registers the six formats in the order above (again harmless: the system
// answers the same numbers); answers the table.
const TShellClipFormats& RegisterShellClipFormats();
const TShellClipFormats& ShellClipFormats();

} // namespace krv
