// The check storage when a folder is not there now: a saved stream still
// loads, and a ticked item comes back once its folder does.
#include "CountingFolder.h"
#include "ShellTestUtil.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/explorer/ShellSortHelper.h"
#include "shell/base/ShellUtils.h"
#include "framework/SysUtils.h"
#include <gtest/gtest.h>
#include <functional>
#include <string>

using namespace krv;
using shelltest::MakeDir;
using shelltest::TempFolder;

namespace {

// The last identifier of a path's list, copied.
std::vector<uint8_t> LastID(const std::wstring& path) {
    PIDLPtr pidl(PathToPIDL(path));
    if (!pidl) return {};
    LPITEMIDLIST last = TPIDLManager::GetPointerToLastID(pidl.get());
    return std::vector<uint8_t>(reinterpret_cast<uint8_t*>(last),
                                reinterpret_cast<uint8_t*>(last) + TPIDLManager::PIDLSize(last));
}

LPCITEMIDLIST AsPIDL(const std::vector<uint8_t>& id) { return reinterpret_cast<LPCITEMIDLIST>(id.data()); }

// A checked record of parent's list with id appended, put last among parent's children.
void AddChecked(TNodeStorage& parent, const std::vector<uint8_t>& id) {
    if (!parent.ChildNodeList) parent.ChildNodeList = std::make_unique<TNodeStorageList>(&parent);
    auto* record = new TNodeStorage(PIDLManager()->AppendPIDL(parent.AbsolutePIDL, AsPIDL(id)), &parent);
    record->Storage.Types = skCheck;
    record->Storage.Check = {csCheckedNormal, ctTriStateCheckBox};
    parent.ChildNodeList->Insert(parent.ChildCount(), record);
}

// A storage whose folders can be made to refuse binding for a while.
class TAwayStorage : public TRootNodeStorage {
public:
    std::shared_ptr<shelltest::TFolderOptions> Options = std::make_shared<shelltest::TFolderOptions>();
protected:
    ComPtr<IShellFolder> DesktopFolder() override {
        return shelltest::MakeCountingFolder(TRootNodeStorage::DesktopFolder(),
                                             std::make_shared<shelltest::TCallCounts>(), Options);
    }
};

} // namespace

TEST(StorageRecovery, AFolderAbsentNowNeitherRefusesAStreamNorHidesItsTicksForGood) {
    TShellUtilitiesScope shell;
    TempFolder tmp(L"krv_recovery");

    struct Row {
        const char* name;
        std::function<std::string()> fault;   // empty when sound
    } rows[] = {
        {"children saved in their folder's order load while the folder cannot be bound",
         [&]() -> std::string {
             // Two names whose shell order differs from their bytes' order.
             for (auto name : {L"B", L"a", L"D", L"c"}) MakeDir(tmp / name);
             ComPtr<IShellFolder> folder = BindFolderOfPIDL(PIDLPtr(PathToPIDL(tmp.Path())).get());
             std::vector<std::vector<uint8_t>> ids;
             for (auto name : {L"B", L"a", L"D", L"c"}) ids.push_back(LastID(tmp / name));
             std::vector<uint8_t>*first = nullptr, *second = nullptr;
             for (auto& x : ids)
                 for (auto& y : ids)
                     if (CompareStorageIDs(folder.get(), AsPIDL(x), AsPIDL(y)) < 0 &&
                         CompareIDBytes(AsPIDL(x), AsPIDL(y)) > 0)
                         first = &x, second = &y;
             if (!first) return "no two names whose shell and byte orders differ";
             // A zip folder where the shell has no zip folders: a file that binds to nothing.
             TRootNodeStorage saved;
             shelltest::WriteFileBytes(tmp / L"packed.zip", "");
             PIDLPtr zip(PathToPIDL(tmp / L"packed.zip"));
             TNodeStorage* k = saved.Store(zip.get(), skCheck);
             if (k->ShellFolder()) return "the zip file binds as a folder";
             AddChecked(*k, *first);
             AddChecked(*k, *second);
             TMemoryStream s;
             saved.SaveToStream(s, 2, true);
             s.SetPosition(0);
             TRootNodeStorage loaded;
             try {
                 loaded.LoadFromStream(s, 2, true);
             } catch (const std::exception& e) {
                 return std::string("refused: ") + e.what();
             }
             TNodeStorage* lk = loaded.Find(zip.get(), false);
             return lk && lk->ChildCount() == 2 ? "" : "the children were lost";
         }},
        {"a ticked folder whose folders were away at one call is listed at the next",
         [&]() -> std::string {
             MakeDir(tmp / L"away");
             MakeDir(tmp / L"away\\kept");
             TAwayStorage storage;
             PIDLPtr kept(PathToPIDL(tmp / L"away\\kept"));
             storage.Options->FailBinds = true;
             storage.Store(kept.get(), skCheck)->Storage.Check = {csCheckedNormal, ctTriStateCheckBox};
             if (storage.GetCheckedPaths().Count() != 0) return "listed through a folder that cannot be bound";
             storage.Options->FailBinds = false;
             const TStringList& paths = storage.GetCheckedPaths();
             return paths.Count() == 1 && SameText(paths[0], WideToAnsi(tmp / L"away\\kept"))
                        ? ""
                        : "listed " + std::to_string(paths.Count()) + " paths";
         }},
    };
    for (auto& row : rows) EXPECT_EQ("", row.fault()) << row.name;
}
