// The autocomplete list against the shell's own enumeration of a fixture
// folder under C:\ (hidden files, sub-folders, a refusing handler).
#include "ShellTestUtil.h"
#include "shell/combo/LazyShellAutoComplete.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideControls.h"
#include "shell/base/WideStrUtils.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

using namespace krv;
using shelltest::TempFolder;

namespace {

std::vector<std::wstring> ToVector(TWideStringList& list) {
    std::vector<std::wstring> r;
    for (int i = 0; i < list.GetCount(); ++i) r.push_back(list.Get(i));
    return r;
}

// The folder's items by the shell's bare enumeration, in its order.
std::vector<std::wstring> ShellOrder(const std::wstring& folder, SHCONTF flags) {
    std::vector<std::wstring> r;
    ComPtr<IShellFolder> desktop, target;
    ::SHGetDesktopFolder(desktop.put());
    LPITEMIDLIST pidl = PathToPIDL(folder);
    desktop->BindToObject(pidl, nullptr, IID_IShellFolder, reinterpret_cast<void**>(target.put()));
    FreePIDL(pidl);
    ComPtr<IEnumIDList> items;
    if (target->EnumObjects(nullptr, flags, items.put()) != S_OK) return r;
    LPITEMIDLIST child = nullptr;
    ULONG got = 0;
    while (items->Next(1, &child, &got) == S_OK && got == 1) {
        STRRET name{};
        target->GetDisplayNameOf(child, SHGDN_FORPARSING, &name);
        r.push_back(StrRetToStr(name, child));
        FreePIDL(child);
    }
    return r;
}

class AutoComplete : public ::testing::Test {
protected:
    TShellUtilitiesScope shell;
    TempFolder dir{L"autocomplete"};
    TLazyShellAutoComplete ac;

    void SetUp() override {
        for (const wchar_t* name : {L"beta.txt", L"alpha.txt", L"gamma.dat"})
            shelltest::WriteFileBytes(dir / name, "x");
        shelltest::WriteFileBytes(dir / L"secret.txt", "x");
        ::SetFileAttributesW((dir / L"secret.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
        shelltest::MakeDir(dir / L"sub");
        shelltest::WriteFileBytes(dir / L"sub\\inner.txt", "x");
        shelltest::MakeDir(dir / L"hiddendir");
        ::SetFileAttributesW((dir / L"hiddendir").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
        ac.SetContents({accCurrentDir, accFileSysDirs, accFileSysFiles});
        ac.SetCurrentDir(dir.Path() + L"\\");
    }
};

} // namespace

TEST_F(AutoComplete, HiddenItemsStayOutByDefaultAndItemsComeInTheShellsOrder) {
    std::vector<std::wstring> got = ToVector(ac.Strings());
    std::vector<std::wstring> expected;
    for (const std::wstring& s : ShellOrder(dir.Path(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS))
        if (s.find(L"secret") == std::wstring::npos && s.find(L"hiddendir") == std::wstring::npos) expected.push_back(s);
    ASSERT_EQ(4u, expected.size());
    EXPECT_EQ(expected, got);

    ac.SetContents(ac.Contents() + TAutoCompleteContents{accHidden});
    got = ToVector(ac.Strings());
    EXPECT_EQ(6u, got.size());
    EXPECT_NE(got.end(), std::find(got.begin(), got.end(), dir / L"secret.txt"));
}

TEST_F(AutoComplete, DefaultContentsOfferTheDrivesAndNoHiddenFile) {
    TLazyShellAutoComplete fresh;
    EXPECT_EQ(DefaultAutoCompleteContents, fresh.Contents());
    fresh.SetCurrentDir(dir.Path());
    std::vector<std::wstring> got = ToVector(fresh.Strings());
    EXPECT_NE(got.end(), std::find(got.begin(), got.end(), L"C:\\"));
    EXPECT_NE(got.end(), std::find(got.begin(), got.end(), dir / L"alpha.txt"));
    EXPECT_EQ(got.end(), std::find(got.begin(), got.end(), dir / L"secret.txt"));
}

TEST_F(AutoComplete, ACurrentDirThatDoesNotExistChangesNothing) {
    std::vector<std::wstring> before = ToVector(ac.Strings());
    EXPECT_FALSE(ac.Dirty());
    for (std::wstring bad : {dir / L"missing", dir / L"alpha.txt", std::wstring(L"Q:\\nowhere"), std::wstring()}) {
        ac.SetCurrentDir(bad);
        EXPECT_EQ(dir.Path() + L"\\", ac.CurrentDir()) << bad.c_str();
        EXPECT_FALSE(ac.Dirty()) << bad.c_str();
    }
    EXPECT_EQ(before, ToVector(ac.Strings()));
    ac.SetCurrentDir(dir / L"sub");
    EXPECT_TRUE(ac.Dirty());
    EXPECT_EQ(std::vector<std::wstring>{dir / L"sub\\inner.txt"}, ToVector(ac.Strings()));
}

TEST_F(AutoComplete, KindsRecursionSortingAndTheAddItemEvent) {
    ac.SetContents({accCurrentDir, accFileSysDirs});
    EXPECT_EQ(std::vector<std::wstring>{dir / L"sub"}, ToVector(ac.Strings()));

    ac.SetContents({accCurrentDir, accFileSysDirs, accFileSysFiles, accRecursive, accSortList});
    std::vector<std::wstring> order;   // a folder's items first; refused, they stay
    ac.OnAutoCompleteAddItem = [&](TCustomLazyShellAutoComplete*, TNamespace* ns, bool& allow, bool&) {
        order.push_back(ns->NameInFolder());
        allow = order.back() != L"sub";
    };
    std::vector<std::wstring> got = ToVector(ac.Strings());
    EXPECT_LT(std::find(order.begin(), order.end(), L"inner.txt"), std::find(order.begin(), order.end(), L"sub"));
    EXPECT_EQ(got.end(), std::find(got.begin(), got.end(), dir / L"sub"));
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), [](const std::wstring& a, const std::wstring& b) {
        return StrICompW(a.c_str(), b.c_str()) < 0;
    }));
    EXPECT_NE(got.end(), std::find(got.begin(), got.end(), dir / L"sub\\inner.txt"));

    // A refused item is left out; Terminate stops the whole collection.
    ac.SetContents({accCurrentDir, accFileSysFiles, accMyComputer});
    std::vector<std::wstring> offered;
    ac.OnAutoCompleteAddItem = [&](TCustomLazyShellAutoComplete*, TNamespace* ns, bool& allow, bool& terminate) {
        offered.push_back(ns->NameParseAddress());
        allow = ns->NameInFolder().find(L"beta") == std::wstring::npos;
        terminate = offered.size() == 2;
    };
    got = ToVector(ac.Strings());
    ASSERT_EQ(2u, offered.size());   // My Computer never reached
    std::vector<std::wstring> expected;
    for (const std::wstring& s : offered)
        if (s.find(L"beta") == std::wstring::npos) expected.push_back(s);
    EXPECT_EQ(expected, got);
    EXPECT_EQ(int(got.size()), ac.ItemCount());
}
