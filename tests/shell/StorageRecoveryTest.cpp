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
        {"a move whose new folder's record cannot be made keeps the moved records where they were",
         [&] {
             for (const wchar_t* d : {L"from", L"from\\kept", L"to", L"to\\kept"}) shelltest::MakeDir(tmp / d);
             TAwayStorage storage;
             PIDLPtr kept(PathToPIDL(tmp / L"from\\kept")), to(PathToPIDL(tmp / L"to"));
             PIDLPtr moved(PathToPIDL(tmp / L"to\\kept"));
             storage.Store(kept.get(), skCheck);
             // The record of "to" cannot be made, as when memory runs out.
             storage.Options->Compare = [id = TPIDLManager::GetPointerToLastID(to.get())](
                                            IShellFolder* f, LPARAM column, LPCITEMIDLIST a, LPCITEMIDLIST b) {
                 if (CompareIDBytes(a, id) == 0 || CompareIDBytes(b, id) == 0) throw std::bad_alloc();
                 return f->CompareIDs(column, a, b);
             };
             try {
                 storage.Move(kept.get(), moved.get());
             } catch (const std::bad_alloc&) {
             }
             storage.Options->Compare = nullptr;
             return storage.FindWithKinds(kept.get(), skCheck) != nullptr;
         }},
    };
    for (auto& row : rows) EXPECT_TRUE(row.sound()) << row.name;
}
