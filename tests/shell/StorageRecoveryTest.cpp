// The check storage while a folder cannot be bound: a saved stream still
// loads, and a tick comes back once the folder binds again.
#include "CountingFolder.h"
#include "ShellTestUtil.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/explorer/ShellSortHelper.h"
#include "shell/base/ShellUtils.h"
#include <gtest/gtest.h>
#include <functional>

using namespace krv;

namespace {
// A storage whose folders refuse to bind while Options->FailBinds is set.
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

TEST(StorageRecovery, AFolderThatCannotBeBoundNowNeitherRefusesAStreamNorHidesItsTicksForGood) {
    TShellUtilitiesScope shell;
    shelltest::TempFolder tmp(L"krv_recovery");
    shelltest::TFaultRow rows[] = {
        {"children saved in their folder's order load while the folder cannot be bound",
         [&] {
             // Two items whose folder's order differs from their bytes' order.
             std::vector<PIDLPtr> items;
             for (auto name : {L"B", L"a", L"D", L"c"}) {
                 shelltest::MakeDir(tmp / name);
                 items.emplace_back(PathToPIDL(tmp / name));
             }
             ComPtr<IShellFolder> folder = BindFolderOfPIDL(PIDLPtr(PathToPIDL(tmp.Path())).get());
             auto last = [](const PIDLPtr& p) { return TPIDLManager::GetPointerToLastID(p.get()); };
             LPITEMIDLIST first = nullptr, second = nullptr;
             for (auto& x : items)
                 for (auto& y : items)
                     if (CompareStorageIDs(folder.get(), last(x), last(y)) < 0 &&
                         CompareIDBytes(last(x), last(y)) > 0)
                         first = last(x), second = last(y);
             // Saved under a zip file, which this shell cannot bind as a folder.
             shelltest::WriteFileBytes(tmp / L"packed.zip", "");
             PIDLPtr zip(PathToPIDL(tmp / L"packed.zip"));
             TRootNodeStorage saved, loaded;
             TNodeStorage* parent = saved.Store(zip.get(), skCheck);
             parent->ChildNodeList = std::make_unique<TNodeStorageList>(parent);
             for (LPITEMIDLIST id : {first, second})
                 if (id) parent->ChildNodeList->Insert(
                     parent->ChildCount(), new TNodeStorage(PIDLManager()->AppendPIDL(zip.get(), id), parent));
             TMemoryStream s;
             saved.SaveToStream(s, 2, true);
             s.SetPosition(0);
             try {
                 loaded.LoadFromStream(s, 2, true);
             } catch (const EReadError&) {
                 return false;
             }
             return !parent->ShellFolder() && parent->ChildCount() == 2 &&
                    loaded.Find(zip.get(), false)->ChildCount() == 2;
         }},
        {"a ticked folder whose folders could not be bound at one call is listed at the next",
         [&] {
             shelltest::MakeDir(tmp / L"away");
             TAwayStorage storage;
             PIDLPtr away(PathToPIDL(tmp / L"away"));
             storage.Options->FailBinds = true;
             storage.Store(away.get(), skCheck)->Storage.Check = {csCheckedNormal, ctTriStateCheckBox};
             bool hidden = storage.GetCheckedPaths().Count() == 0;
             storage.Options->FailBinds = false;
             return hidden && storage.GetCheckedPaths().Count() == 1;
         }},
    };
    for (auto& row : rows) EXPECT_TRUE(row.sound()) << row.name;
}
