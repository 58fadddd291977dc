#include "ShellTestUtil.h"
#include "shell/base/PIDLTools.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include <gtest/gtest.h>
#include <cstring>
#include <random>

using namespace krv;
using shelltest::MakePIDL;
using shelltest::PIDLBytes;

namespace {
TPIDLManager& M() { return *PIDLManager(); }

std::vector<uint8_t> Bytes(TMemoryStream& s) { return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size()); }

HRESULT WINAPI FailingMalloc(IMalloc** out) {
    *out = nullptr;
    return E_FAIL;
}
} // namespace

TEST(PIDLManager, NoAllocatorGivesNoManager) {
    EXPECT_EQ(TPIDLManager::Create(FailingMalloc), nullptr);
    EXPECT_NE(TPIDLManager::Create(), nullptr);
}

TEST(PIDLManager, MeasuresCountsAndWalksIdentifiers) {
    PIDLPtr three(MakePIDL({"a", "bcd", "ef"}));
    PIDLPtr desktop(MakePIDL({}));
    EXPECT_EQ(TPIDLManager::PIDLSize(three.get()), 3u + 5u + 4u + 2u);
    EXPECT_EQ(TPIDLManager::PIDLSize(desktop.get()), 2u);
    EXPECT_EQ(TPIDLManager::PIDLSize(nullptr), 0u);
    EXPECT_EQ(TPIDLManager::IDCount(three.get()), 3);
    EXPECT_EQ(TPIDLManager::IDCount(desktop.get()), 0);
    EXPECT_EQ(TPIDLManager::IDCount(nullptr), 0);

    auto* base = reinterpret_cast<uint8_t*>(three.get());
    EXPECT_EQ(reinterpret_cast<uint8_t*>(TPIDLManager::NextID(three.get())), base + 3);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(TPIDLManager::GetPointerToLastID(three.get())), base + 8);

    PIDLPtr one(MakePIDL({"solo"}));
    EXPECT_EQ(TPIDLManager::GetPointerToLastID(one.get()), one.get());
    EXPECT_EQ(TPIDLManager::GetPointerToLastID(desktop.get()), desktop.get());
    EXPECT_EQ(TPIDLManager::GetPointerToLastID(nullptr), nullptr);

    EXPECT_TRUE(TPIDLManager::IsDesktopFolder(desktop.get()));
    EXPECT_FALSE(TPIDLManager::IsDesktopFolder(one.get()));
    EXPECT_FALSE(TPIDLManager::IsDesktopFolder(nullptr));
}

TEST(PIDLManager, CopyAndAppendMakeNewTerminatedLists) {
    PIDLPtr x(MakePIDL({"xx", "yyy"}));
    PIDLPtr desktop(MakePIDL({}));
    PIDLPtr copy(M().CopyPIDL(x.get()));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), x.get());
    EXPECT_EQ(PIDLBytes(copy.get()), PIDLBytes(x.get()));
    EXPECT_EQ(M().CopyPIDL(nullptr), nullptr);

    PIDLPtr fromEmpty(M().AppendPIDL(desktop.get(), x.get()));
    PIDLPtr fromNil(M().AppendPIDL(nullptr, x.get()));
    EXPECT_EQ(PIDLBytes(fromEmpty.get()), PIDLBytes(x.get()));
    EXPECT_EQ(PIDLBytes(fromNil.get()), PIDLBytes(x.get()));

    PIDLPtr head(MakePIDL({"h"}));
    PIDLPtr joined(M().AppendPIDL(head.get(), x.get()));
    PIDLPtr expected(MakePIDL({"h", "xx", "yyy"}));
    EXPECT_EQ(PIDLBytes(joined.get()), PIDLBytes(expected.get()));
    EXPECT_EQ(PIDLBytes(head.get()), PIDLBytes(PIDLPtr(MakePIDL({"h"})).get()));   // inputs untouched

    PIDLPtr tailNil(M().AppendPIDL(head.get(), nullptr));
    EXPECT_EQ(PIDLBytes(tailNil.get()), PIDLBytes(head.get()));
}

TEST(PIDLManager, StripLastIdCanBeUndone) {
    PIDLPtr x(MakePIDL({"ab", "cd", "ef"}));
    auto before = PIDLBytes(x.get());
    uint16_t cb = 0;
    LPITEMIDLIST cut = nullptr;
    EXPECT_EQ(TPIDLManager::StripLastID(x.get(), cb, cut), x.get());
    EXPECT_EQ(TPIDLManager::IDCount(x.get()), 2);
    EXPECT_EQ(cb, 4);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(cut), reinterpret_cast<uint8_t*>(x.get()) + 8);
    std::memcpy(cut, &cb, 2);
    EXPECT_EQ(PIDLBytes(x.get()), before);

    TPIDLManager::StripLastID(nullptr, cb, cut);
    EXPECT_EQ(cb, 0);
    EXPECT_EQ(cut, nullptr);
    TPIDLManager::StripLastID(x.get());
    TPIDLManager::StripLastID(x.get());
    EXPECT_EQ(TPIDLManager::IDCount(x.get()), 1);
}

TEST(PIDLManager, FreeAndNilClearsTheVariableFirst) {
    LPITEMIDLIST p = MakePIDL({"z"});
    M().FreeAndNilPIDL(p);
    EXPECT_EQ(p, nullptr);
    M().FreePIDL(nullptr);
    M().FreeAndNilPIDL(p);
}

TEST(PIDLManager, SubListsOfRealShellPaths) {
    shelltest::TempFolder tmp(L"sub");
    shelltest::MakeDir(tmp / L"child");
    PIDLPtr parent(PathToPIDL(tmp.Path()));
    PIDLPtr child(PathToPIDL(tmp / L"child"));
    PIDLPtr desktop(MakePIDL({}));
    ASSERT_TRUE(parent && child);
    auto childBytes = PIDLBytes(child.get());

    EXPECT_TRUE(TPIDLManager::IsSubPIDL(child.get(), child.get()));
    EXPECT_TRUE(TPIDLManager::IsSubPIDL(child.get(), parent.get()));
    EXPECT_TRUE(TPIDLManager::IsSubPIDL(child.get(), desktop.get()));   // the desktop is everyone's ancestor
    EXPECT_FALSE(TPIDLManager::IsSubPIDL(parent.get(), child.get()));
    EXPECT_FALSE(TPIDLManager::IsSubPIDL(nullptr, parent.get()));
    EXPECT_FALSE(TPIDLManager::IsSubPIDL(child.get(), nullptr));
    EXPECT_EQ(PIDLBytes(child.get()), childBytes);   // the cut is put back

    EXPECT_TRUE(krv::ILIsEqual(parent.get(), PIDLPtr(PathToPIDL(tmp.Path())).get()));
    EXPECT_FALSE(krv::ILIsEqual(nullptr, parent.get()));
    EXPECT_FALSE(krv::ILIsEqual(parent.get(), nullptr));
    EXPECT_TRUE(krv::ILIsParent(parent.get(), child.get(), true));
    EXPECT_FALSE(krv::ILIsParent(child.get(), parent.get(), false));
    EXPECT_FALSE(krv::ILIsParent(nullptr, child.get(), false));
}

TEST(PIDLStream, SingleListIsSizeThenBytesWithTerminator) {
    PIDLPtr x(MakePIDL({"abc"}));
    TMemoryStream s;
    TPIDLManager::SaveToStream(s, x.get());
    std::vector<uint8_t> expected = {7, 0, 0, 0, 5, 0, 'a', 'b', 'c', 0, 0};
    EXPECT_EQ(Bytes(s), expected);
    s.SetPosition(0);
    PIDLPtr back(M().LoadFromStream(s));
    EXPECT_EQ(PIDLBytes(back.get()), PIDLBytes(x.get()));

    TMemoryStream nil;
    TPIDLManager::SaveToStream(nil, nullptr);
    EXPECT_EQ(nil.Size(), 4);
    nil.SetPosition(0);
    EXPECT_EQ(M().LoadFromStream(nil), nullptr);
}

TEST(PIDLStream, ListOfThreeHasTheDocumentedLayoutAndLoadsBack) {
    TPIDLList list;
    PIDLPtr a(MakePIDL({"one"})), b(MakePIDL({"two", "2"})), c(MakePIDL({}));
    list.CopyAdd(a.get());
    list.CopyAdd(b.get());
    list.CopyAdd(c.get());
    TMemoryStream s;
    list.SaveToStream(s);
    uint32_t sizes = 7 + 10 + 2;
    EXPECT_EQ(static_cast<uint64_t>(s.Size()), 4u + 3u * 4u + sizes);
    auto bytes = Bytes(s);
    EXPECT_EQ(bytes[0], 3);
    EXPECT_EQ(bytes[4], 7);   // first list's size, terminator included

    s.SetPosition(0);
    TPIDLList back;
    back.LoadFromStream(s);
    ASSERT_EQ(back.Count(), 3);
    EXPECT_EQ(PIDLBytes(back[0]), PIDLBytes(a.get()));
    EXPECT_EQ(PIDLBytes(back[1]), PIDLBytes(b.get()));
    EXPECT_EQ(PIDLBytes(back[2]), PIDLBytes(c.get()));
    EXPECT_EQ(s.Position(), s.Size());
}

TEST(PIDLStream, NilItemsAndSharedListsAreKept) {
    TPIDLList list;
    list.Add(nullptr);
    TMemoryStream s;
    list.SaveToStream(s);
    s.SetPosition(0);
    TPIDLList back;
    back.LoadFromStream(s);
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back[0], nullptr);

    PIDLPtr mine(MakePIDL({"mine"}));
    {
        TPIDLList shared;
        shared.SharePIDLs = true;
        shared.Add(mine.get());
        shared.Clear();
    }
    EXPECT_EQ(TPIDLManager::IDCount(mine.get()), 1);   // still ours and intact
}

TEST(PIDLStream, CountsAndSizesBeyondTheStreamAreRefused) {
    auto load = [](std::vector<uint8_t> bytes) {
        TMemoryStream s;
        s.WriteBuffer(bytes.data(), bytes.size());
        s.SetPosition(0);
        TPIDLList l;
        l.LoadFromStream(s);
        return l.Count();
    };
    EXPECT_THROW(load({0xFF, 0xFF, 0xFF, 0x7F}), EReadError);                  // two billion lists
    EXPECT_THROW(load({0xFF, 0xFF, 0xFF, 0xFF}), EReadError);                  // negative count
    EXPECT_THROW(load({1, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0x0F, 2, 0}), EReadError); // size far past the end
    EXPECT_THROW(load({1, 0, 0, 0, 4, 0, 0, 0, 4, 0, 'a', 'b'}), EReadError);   // no terminator
    EXPECT_THROW(load({1, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0}), EReadError);       // identifier shorter than its count
    EXPECT_THROW(load({1, 0, 0, 0, 6, 0, 0, 0, 9, 0, 'a', 'b', 0, 0}), EReadError);  // runs past its size
    EXPECT_THROW(load({1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0}), EReadError);      // bytes after the end
    EXPECT_THROW(load({2, 0, 0, 0, 2, 0, 0, 0, 0, 0}), EReadError);            // second list missing
    EXPECT_EQ(load({0, 0, 0, 0}), 0);
    EXPECT_EQ(load({1, 0, 0, 0, 2, 0, 0, 0, 0, 0}), 1);
}

TEST(PIDLStream, MutatedStreamsNeverCrashOrHang) {
    TPIDLList list;
    for (auto ids : std::vector<std::vector<std::string>>{{"alpha"}, {"b", "cc", "ddd"}, {}, {"e"}})
        list.Add(MakePIDL(ids));
    TMemoryStream good;
    list.SaveToStream(good);
    const auto original = Bytes(good);

    std::mt19937 rng(1234);
    int loaded = 0, refused = 0;
    for (int round = 0; round < 4000; ++round) {
        auto bytes = original;
        shelltest::MutateBytes(bytes, rng, 4);
        TMemoryStream s;
        if (!bytes.empty()) s.WriteBuffer(bytes.data(), bytes.size());
        s.SetPosition(0);
        TPIDLList back;
        try {
            back.LoadFromStream(s);
            ++loaded;
            for (int i = 0; i < back.Count(); ++i) {
                if (!back[i]) continue;
                auto b = PIDLBytes(back[i]);
                EXPECT_TRUE(IsWellFormedPIDL(b.data(), static_cast<uint32_t>(b.size())));
            }
        } catch (const EReadError&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_EQ(loaded + refused, 4000);
}

TEST(PIDLTools, DocumentsItemOnTheDesktopNamesTheDocumentsFolder) {
    PIDLPtr docs(FindMyDocumentsOnDesktop());
    if (!docs) {
        // Then no desktop folder may carry the documents folder's name.
        PIDLPtr personal(SpecialFolderPIDL(CSIDL_PERSONAL));
        ASSERT_TRUE(personal);
        std::wstring name = DisplayNameOfPIDL(personal.get(), SHGDN_INFOLDER);
        ComPtr<IShellFolder> desktop;
        ASSERT_HRESULT_SUCCEEDED(::SHGetDesktopFolder(desktop.put()));
        ComPtr<IEnumIDList> items;
        ASSERT_EQ(desktop->EnumObjects(nullptr, SHCONTF_FOLDERS, items.put()), S_OK);
        PIDLPtr child;
        ULONG n;
        while (items->Next(1, child.put(), &n) == S_OK)
            EXPECT_NE(DisplayNameOfPIDL(child.get(), SHGDN_NORMAL), name);
        return;
    }
    EXPECT_EQ(TPIDLManager::IDCount(docs.get()), 1);
    PIDLPtr personal(SpecialFolderPIDL(CSIDL_PERSONAL));
    EXPECT_EQ(StrICompW(DisplayNameOfPIDL(docs.get(), SHGDN_NORMAL).c_str(),
                        DisplayNameOfPIDL(personal.get(), SHGDN_INFOLDER).c_str()), 0);
}
