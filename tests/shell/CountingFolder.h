// A shell folder of the tests' own: it passes every call on to a real folder
// and counts them, so a test sees whether a cached answer went to the shell
// again. It can also offer the interfaces this system's shell lacks (icon,
// overlay, info tip, details) and hand out a damaged child list.
#pragma once
#include "framework/Handle.h"
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/PIDLTools.h"
#include <shlobj.h>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace shelltest {

struct TFolderOptions {
    bool ShellIcon = false;      // IShellIcon answering IconIndex
    int IconIndex = 77;
    bool IconOverlay = false;    // IShellIconOverlay answering OverlayIndex
    int OverlayIndex = 3;
    bool QueryInfo = false;      // IQueryInfo answering InfoTip
    std::wstring InfoTip = L"tip from the test";
    bool ShellDetails = false;   // IShellDetails with DetailColumns columns
    int DetailColumns = 3;
    bool HideFolder2 = false;    // no IShellFolder2
    bool Folder2DetailsFail = false;   // IShellFolder2.GetDetailsOf of an item fails
    std::map<UINT, SHCOLSTATEF> ColumnStates;   // GetDefaultColumnState answers these columns so
    bool DamagedFirstChild = false;
    bool FailBinds = false;         // BindToObject fails, as for a folder away for now
    bool TwoStepRenames = false;    // SetNameOf by way of a passing name: this disk ignores a case-only one
    bool ScriptedCompare = false;   // CompareIDs answers CompareResult instead of the real folder
    HRESULT CompareResult = S_OK;
    // When set, CompareIDs answers this, given the real folder. It is called
    // from whichever thread compares, so it may only read what it captures.
    std::function<HRESULT(IShellFolder* inner, LPARAM column, LPCITEMIDLIST a, LPCITEMIDLIST b)> Compare;
    // Shown names (not parsing names) are the folder's own: a file whose
    // extension is listed loses it (unless it is all extension); any other
    // item shows its whole name, whatever the system's settings say.
    bool ScriptedShownNames = false;
    std::set<std::wstring> CutExtensions;
};

// Calls by method name ("GetAttributesOf", "GetIconOf", ...), shared by a folder
// and the folders bound through it.
using TCallCounts = std::map<std::string, int>;

// A counting folder over inner (which it keeps).
krv::ComPtr<IShellFolder> MakeCountingFolder(krv::ComPtr<IShellFolder> inner, std::shared_ptr<TCallCounts> counts,
                                             std::shared_ptr<TFolderOptions> options);
// The real folder of an absolute path.
krv::ComPtr<IShellFolder> BindFolder(const std::wstring& path);

// An item whose parent folder is a counting folder over the real one: the
// item, the folder bound through it and the items below answer as options say
// (no options: plain pass-through) and count their calls.
class TSeamFolder : public krv::TNamespace {
public:
    explicit TSeamFolder(const std::wstring& path, std::shared_ptr<TFolderOptions> options = nullptr);
    IShellFolder* ParentShellFolder() override { return parent_.get(); }
    int Calls(const char* name) const {
        auto it = counts->find(name);
        return it == counts->end() ? 0 : it->second;
    }
    std::shared_ptr<TCallCounts> counts = std::make_shared<TCallCounts>();
private:
    krv::ComPtr<IShellFolder> parent_;
};

} // namespace shelltest
