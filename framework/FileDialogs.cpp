#include "framework/FileDialogs.h"
#include "framework/LazyLibrary.h"
#include <windows.h>
#include <commdlg.h>
#include <vector>

namespace krv {
namespace {
FileDialogHook fileDialogHook;
}

void SetFileDialogHook(FileDialogHook hook) { fileDialogHook = std::move(hook); }

bool TFileDialog::Execute() {
    if (fileDialogHook) return fileDialogHook(*this);
    std::string filter = Filter;
    for (char& c : filter)
        if (c == '|') c = '\0';
    filter.append(2, '\0');
    std::string ext = DefaultExt;
    if (ext.rfind("*.", 0) == 0) ext.erase(0, 2);
    else if (ext.rfind('.', 0) == 0) ext.erase(0, 1);
    std::vector<char> buffer(32768, '\0');
    FileName.copy(buffer.data(), buffer.size() - 1);

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = ::GetActiveWindow();
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    bool ok;
    if (IsSaveDialog()) {
        ofn.Flags |= OFN_OVERWRITEPROMPT;
        ok = KRV_LAZY_CALL(CommonDialogsLibrary, GetSaveFileNameA)(&ofn) != FALSE;
    } else {
        ofn.Flags |= OFN_FILEMUSTEXIST;
        ok = KRV_LAZY_CALL(CommonDialogsLibrary, GetOpenFileNameA)(&ofn) != FALSE;
    }
    if (ok) FileName = buffer.data();
    return ok;
}

} // namespace krv
