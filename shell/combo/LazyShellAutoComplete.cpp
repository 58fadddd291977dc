#include "shell/combo/LazyShellAutoComplete.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"

namespace krv {

TCustomLazyShellAutoComplete::TCustomLazyShellAutoComplete(TComponent* owner) : TComponent(owner) {}

TCustomLazyShellAutoComplete::~TCustomLazyShellAutoComplete() { ClearItems(); }

void TCustomLazyShellAutoComplete::SetContents(TAutoCompleteContents value) {
    if (value == contents_) return;
    contents_ = value;
    dirty_ = true;
}

void TCustomLazyShellAutoComplete::SetCurrentDir(const std::wstring& value) {
    if (value == currentDir_ || !DirExistsW(value)) return;
    currentDir_ = value;
    dirty_ = true;
}

// Items keep a pointer to the folder they were read from, which follows them
// in the list (or is kept aside, or is the current folder): oldest go first.
void TCustomLazyShellAutoComplete::ClearItems() {
    for (auto* list : {&items_, &refusedFolders_}) {
        for (auto& item : *list) item.reset();
        list->clear();
    }
    currentFolder_.reset();
}

void TCustomLazyShellAutoComplete::DoAutoCompleteAddItem(TNamespace* item, bool& allow, bool& terminate) {
    allow = true;
    if (OnAutoCompleteAddItem) OnAutoCompleteAddItem(this, item, allow, terminate);
}

bool TCustomLazyShellAutoComplete::Collect(TNamespace* folder) {
    if (!folder) return true;
    bool stopped = false;
    folder->EnumerateFolder(
        contents_.Contains(accFileSysDirs), contents_.Contains(accFileSysFiles), contents_.Contains(accHidden),
        [&](LPITEMIDLIST child, TNamespace* parent, void*, bool& terminate) {
            auto ns = std::make_unique<TNamespace>(child, parent);
            if ((ns->Hidden() && !contents_.Contains(accHidden)) ||
                (!ns->FileSystem() && contents_.Contains(accFileSysOnly)))
                return false;
            TNamespace* item = ns.get();
            // A folder's own items come before it is offered itself.
            const bool descended = contents_.Contains(accRecursive) && item->Folder();
            if (descended) terminate = !Collect(item);
            bool allow = !terminate;
            if (allow) DoAutoCompleteAddItem(item, allow, terminate);
            if (allow) items_.push_back(std::move(ns));
            else if (descended) refusedFolders_.push_back(std::move(ns));   // its items point at it
            stopped = stopped || terminate;
            return allow;
        },
        nullptr);
    return !stopped;
}

void TCustomLazyShellAutoComplete::Refresh() {
    if (!dirty_) return;
    ClearItems();
    dirty_ = false;
    bool go = true;
    if (contents_.Contains(accCurrentDir) && !currentDir_.empty()) {
        // A folder that went away since it was set is skipped, as the shell fails soft.
        if (LPITEMIDLIST pidl = PathToPIDL(currentDir_)) currentFolder_ = std::make_unique<TNamespace>(pidl);
        go = Collect(currentFolder_.get());
    }
    if (go && contents_.Contains(accDesktop)) go = Collect(DesktopFolder);
    if (go && contents_.Contains(accFavorites)) go = Collect(FavoritesFolder);
    if (go && contents_.Contains(accMyComputer)) Collect(DrivesFolder);
}

TWideStringList& TCustomLazyShellAutoComplete::Strings() {
    Refresh();
    strings_.Clear();
    for (auto& item : items_) strings_.Add(item->NameParseAddress());
    if (contents_.Contains(accSortList)) strings_.Sort();
    return strings_;
}

} // namespace krv
