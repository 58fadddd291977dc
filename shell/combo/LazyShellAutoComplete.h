// Candidates for a path field: the children of a current folder and of
// chosen special folders, filtered by kind, handed out as parse names in the
// order the shell enumerates them (sorted only on request).
#pragma once
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/WideStringList.h"
#include "tree/core/LazyTreeOptions.h"
#include "framework/Classes.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krv {

enum TAutoCompleteContent {
    accCurrentDir, accMyComputer, accDesktop, accFavorites, accFileSysOnly, accFileSysDirs, accFileSysFiles,
    accHidden, accRecursive, accSortList
};
using TAutoCompleteContents = TEnumSet<TAutoCompleteContent, uint16_t>;
constexpr TAutoCompleteContents DefaultAutoCompleteContents = {accCurrentDir, accMyComputer, accFileSysDirs,
                                                              accFileSysFiles};

class TCustomLazyShellAutoComplete;
using TLazyAutoCompleteAddItem = std::function<void(TCustomLazyShellAutoComplete* sender,
                                                    TNamespace* autoCompleteItem, bool& allow, bool& terminate)>;

class TCustomLazyShellAutoComplete : public TComponent {
public:
    explicit TCustomLazyShellAutoComplete(TComponent* owner = nullptr);
    ~TCustomLazyShellAutoComplete() override;

    TAutoCompleteContents Contents() const { return contents_; }
    void SetContents(TAutoCompleteContents value);
    const std::wstring& CurrentDir() const { return currentDir_; }
    // Only a different, existing folder is taken; anything else changes nothing.
    void SetCurrentDir(const std::wstring& value);
    bool Dirty() const { return dirty_; }

    // Collects the items again when something changed since the last time.
    void Refresh();
    // The collected items' parse names (refreshed first).
    TWideStringList& Strings();
    int ItemCount() const { return int(items_.size()); }
    TNamespace* Items(int i) const { return items_.at(size_t(i)).get(); }

    TLazyAutoCompleteAddItem OnAutoCompleteAddItem;

protected:
    // Allow preset true; Terminate ends the collection.
    virtual void DoAutoCompleteAddItem(TNamespace* item, bool& allow, bool& terminate);

private:
    void ClearItems();
    // Enumerates one folder with the content flags; false once terminated.
    bool Collect(TNamespace* folder);

    TAutoCompleteContents contents_ = DefaultAutoCompleteContents;
    std::wstring currentDir_;
    bool dirty_ = true;
    // The current folder's item: the parent of what was collected from it.
    std::unique_ptr<TNamespace> currentFolder_;
    // Collected items in enumeration order; a folder follows what was read from it.
    std::vector<std::unique_ptr<TNamespace>> items_;
    // Folders refused after their items were taken: those items read from them.
    std::vector<std::unique_ptr<TNamespace>> refusedFolders_;
    TWideStringList strings_;
};

class TLazyShellAutoComplete : public TCustomLazyShellAutoComplete {
public:
    using TCustomLazyShellAutoComplete::TCustomLazyShellAutoComplete;
};

} // namespace krv
