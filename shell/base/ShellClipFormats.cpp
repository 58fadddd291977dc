#include "shell/base/ShellClipFormats.h"

namespace krv {

namespace {
TShellClipFormats g_formats;
}

const TShellClipFormats& RegisterShellClipFormats() {
    g_formats.ShellIDList = ::RegisterClipboardFormatA("Shell IDList Array");
    g_formats.LogicalPerformedDropEffect = ::RegisterClipboardFormatA("Logical Performed DropEffect");
    g_formats.PreferredDropEffect = ::RegisterClipboardFormatA("Preferred DropEffect");
    g_formats.FileContents = ::RegisterClipboardFormatA("FileContents");
    g_formats.FileGroupDescriptor = ::RegisterClipboardFormatA("FileGroupDescriptor");
    g_formats.FileGroupDescriptorW = ::RegisterClipboardFormatA("FileGroupDescriptorW");
    return g_formats;
}

const TShellClipFormats& ShellClipFormats() {
    if (!g_formats.ShellIDList) RegisterShellClipFormats();
    return g_formats;
}

} // namespace krv
