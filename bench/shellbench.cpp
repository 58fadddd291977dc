// Shell benchmark: a folder of 10,000 files enumerated through the shell item
// (a TNamespace per child, its name and two attributes read) against the bare
// shell folder enumeration reading the same name and attributes. Prints one
// "name: seconds" line per run and the ratio of the best runs.
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include <algorithm>
#include "BenchUtil.h"
#include <cstdio>
#include <string>

using namespace krv;

namespace {
using bench::Now;

constexpr int FileCount = 10000;

std::wstring MakeFolder() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);   // on C:, never Z:
    std::wstring folder = std::wstring(temp) + L"krv-shellbench";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    for (int i = 0; i < FileCount; ++i) {
        std::wstring path = folder + L"\\file " + std::to_wstring(i) + L".txt";
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        FileHandle f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) {
            std::fprintf(stderr, "cannot make the bench files\n");
            std::exit(1);
        }
    }
    return folder;
}

// What the shell item does for one child, written straight on the interfaces.
size_t BareEnumeration(const std::wstring& path) {
    ComPtr<IShellFolder> desktop, folder;
    ::SHGetDesktopFolder(desktop.put());
    PIDLPtr pidl(PathToPIDL(path));
    desktop->BindToObject(pidl.get(), nullptr, IID_IShellFolder, folder.put_void());
    ComPtr<IEnumIDList> items;
    folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put());
    size_t count = 0, chars = 0;
    for (;;) {
        PIDLPtr child;
        ULONG fetched = 0;
        if (items->Next(1, child.put(), &fetched) != S_OK) break;
        STRRET name{};
        if (SUCCEEDED(folder->GetDisplayNameOf(child.get(), SHGDN_INFOLDER, &name)))
            chars += StrRetToStr(name, child.get()).size();
        LPCITEMIDLIST one = child.get();
        ULONG attributes = SFGAO_FOLDER | SFGAO_FILESYSTEM;
        folder->GetAttributesOf(1, &one, &attributes);
        if (attributes & SFGAO_FILESYSTEM) ++count;
    }
    return count + chars * 0;
}

size_t NamespaceEnumeration(const std::wstring& path) {
    auto folder = TNamespace::CreateFromFileName(path);
    size_t count = 0, chars = 0;
    folder->EnumerateFolder(true, true, false,
                            [&](LPITEMIDLIST child, TNamespace* parent, void*, bool&) {
                                TNamespace item(child, parent);
                                chars += item.NameInFolder().size();
                                if (item.FileSystem() && !item.Folder()) ++count;
                                return true;
                            },
                            nullptr);
    return count + chars * 0;
}

template <class F> double Time(const char* name, F&& f, const std::wstring& path) {
    double start = Now();
    size_t n = f(path);
    double seconds = Now() - start;
    std::printf("%s: %.6f\n", name, seconds);
    std::fflush(stdout);
    if (n != FileCount) std::fprintf(stderr, "%s saw %u files\n", name, unsigned(n));
    return seconds;
}
} // namespace

int main() {
    ComInit com;
    TShellUtilitiesScope shell;
    std::wstring folder = MakeFolder();
    double bare = 1e9, items = 1e9;
    for (int round = 0; round < 3; ++round) {
        bare = std::min(bare, Time("bare IShellFolder enumeration, 10000 files", BareEnumeration, folder));
        items = std::min(items, Time("EnumerateFolder with TNamespace, 10000 files", NamespaceEnumeration, folder));
    }
    std::printf("best bare: %.6f\nbest EnumerateFolder: %.6f\nratio: %.3f\n", bare, items, items / bare);
    return 0;
}
