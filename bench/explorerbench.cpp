// Explorer tree benchmark: expanding a folder of 10,000 subfolders and one of
// 10,000 files (files shown) in a shown tree, first paint included, against
// the bare shell folder enumeration of the same folder in the same run.
// Prints "name: seconds" per run, then the minimum and median of each and
// their ratios (the machine may be shared: the minimum is the least disturbed).
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/base/ShellUtils.h"
#include "framework/Forms.h"
#include "BenchUtil.h"
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace krv;

namespace {
using bench::Now;

constexpr int ItemCount = 10000;

// A folder under %TEMP% (on C:, never Z:) holding ItemCount folders or files.
std::wstring MakeFolder(const wchar_t* name, bool folders) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name;
    ::CreateDirectoryW(folder.c_str(), nullptr);
    for (int i = 0; i < ItemCount; ++i) {
        std::wstring path = folder + (folders ? L"\\folder " : L"\\file ") + std::to_wstring(i) + L".txt";
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        bool made = folders ? ::CreateDirectoryW(path.c_str(), nullptr) != 0
                            : FileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                       FILE_ATTRIBUTE_NORMAL, nullptr))
                                  .operator bool();
        if (!made) {
            std::fprintf(stderr, "cannot make the bench items\n");
            std::exit(1);
        }
    }
    return folder;
}

// What the tree's enumeration does at the least: the folder's items listed.
double BareEnumeration(const std::wstring& folder, DWORD flags, int& count) {
    double start = Now();
    LPITEMIDLIST pidl = PathToPIDL(folder);
    ComPtr<IShellFolder> desktop, shellFolder;
    ::SHGetDesktopFolder(desktop.put());
    desktop->BindToObject(pidl, nullptr, IID_IShellFolder, shellFolder.put_void());
    ComPtr<IEnumIDList> items;
    shellFolder->EnumObjects(nullptr, flags, items.put());
    count = 0;
    LPITEMIDLIST child = nullptr;
    ULONG fetched = 0;
    while (items && items->Next(1, &child, &fetched) == S_OK && fetched == 1) {
        ++count;
        FreePIDL(child);
    }
    FreePIDL(pidl);
    return Now() - start;
}

double TreeExpansion(TLazyExplorerTreeview& tree, int& count) {
    double start = Now();
    tree.SetActive(true);
    PLazyNode top = tree.GetFirst();
    tree.Repaint();
    count = int(tree.ChildCount(top));
    double elapsed = Now() - start;
    tree.SetActive(false);
    return elapsed;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ::CoInitialize(nullptr);
    TShellUtilitiesScope shell;
    TForm form;
    form.SetBounds(0, 0, 400, 600);
    form.Show();
    struct Case {
        const char* name;
        std::wstring folder;
        TFileObjects objects;
    } cases[] = {
        {"10,000 subfolders", MakeFolder(L"krv-explorerbench-folders", true), {foFolders, foHidden}},
        {"10,000 files", MakeFolder(L"krv-explorerbench-files", false), {foFolders, foNonFolders, foHidden}},
    };
    for (const Case& c : cases) {
        TLazyExplorerTreeview tree;
        tree.SetParent(&form);
        tree.SetBounds(0, 0, 390, 580);
        tree.HandleNeeded();
        tree.SetFileObjects(c.objects);
        tree.SetRootFolderCustomPath(c.folder);
        DWORD flags = (c.objects.Contains(foFolders) ? SHCONTF_FOLDERS : 0) |
                      (c.objects.Contains(foNonFolders) ? SHCONTF_NONFOLDERS : 0) | SHCONTF_INCLUDEHIDDEN;
        std::vector<double> bare, expanded;
        for (int run = 0; run < 9; ++run) {
            int bareCount = 0, treeCount = 0;
            bare.push_back(BareEnumeration(c.folder, flags, bareCount));
            expanded.push_back(TreeExpansion(tree, treeCount));
            std::printf("%s bare enumeration: %.3f s (%d items)\n", c.name, bare.back(), bareCount);
            std::printf("%s tree expansion: %.3f s (%d nodes)\n", c.name, expanded.back(), treeCount);
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        }
        std::printf("%s median: bare %.3f s, tree %.3f s, ratio %.2f\n", c.name, Median(bare), Median(expanded),
                    Median(expanded) / Median(bare));
        std::printf("%s minimum: bare %.3f s, tree %.3f s, ratio %.2f\n", c.name, Min(bare), Min(expanded),
                    Min(expanded) / Min(bare));
        std::fflush(stdout);
    }
    return 0;
}
