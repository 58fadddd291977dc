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
             // Two items in falling byte order, as their folder's order may have them.
             shelltest::MakeDir(tmp / L"a");
             shelltest::MakeDir(tmp / L"b");
             PIDLPtr a(PathToPIDL(tmp / L"a")), b(PathToPIDL(tmp / L"b"));
             LPITEMIDLIST first = TPIDLManager::GetPointerToLastID(a.get());
             LPITEMIDLIST second = TPIDLManager::GetPointerToLastID(b.get());
             if (CompareIDBytes(first, second) < 0) std::swap(first, second);
             // Saved under a zip file, which this shell cannot bind as a folder.
             shelltest::WriteFileBytes(tmp / L"packed.zip", "");
             PIDLPtr zip(PathToPIDL(tmp / L"packed.zip"));
             TRootNodeStorage saved, loaded;
             TNodeStorage* parent = saved.Store(zip.get(), skCheck);
             parent->ChildNodeList = std::make_unique<TNodeStorageList>(parent);
             for (LPITEMIDLIST id : {first, second})
                 parent->ChildNodeList->Insert(parent->ChildCount(),
                                               new TNodeStorage(PIDLManager()->AppendPIDL(zip.get(), id), parent));
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
