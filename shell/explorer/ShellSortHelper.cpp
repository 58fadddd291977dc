#include "shell/explorer/ShellSortHelper.h"
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/WideFileUtils.h"
#include <algorithm>
#include <cstring>

namespace krv {

namespace {
int Sign(int64_t v) { return (v > 0) - (v < 0); }
} // namespace

int ShellCompareSign(HRESULT hr) {
    // The order is the code's low word as a signed number: 0xFFFF is "less".
    return Sign(static_cast<int16_t>(HRESULT_CODE(hr)));
}

int CompareIDBytes(LPCITEMIDLIST id1, LPCITEMIDLIST id2) {
    uint32_t n1 = TPIDLManager::PIDLSize(id1), n2 = TPIDLManager::PIDLSize(id2);
    int r = std::memcmp(id1, id2, std::min(n1, n2));
    if (r == 0) r = (n1 > n2) - (n1 < n2);
    return Sign(r);
}

int CompareFolderIDs(IShellFolder* folder, int column, LPCITEMIDLIST id1, LPCITEMIDLIST id2) {
    HRESULT hr = folder->CompareIDs(static_cast<LPARAM>(column), id1, id2);
    return SUCCEEDED(hr) ? ShellCompareSign(hr) : CompareIDBytes(id1, id2);
}

int TShellSortHelper::CompareIDSort(int column, TNamespace* ns1, TNamespace* ns2) {
    IShellFolder* folder = ns1->ParentShellFolder();
    if (!folder) return 0;
    int result = CompareFolderIDs(folder, column, ns1->RelativePIDL(), ns2->RelativePIDL());
    if (result == 0 && column > 0) result = Sign(ns1->NameNormal().compare(ns2->NameNormal()));
    return result;
}

int TShellSortHelper::DiscriminateFolders(TNamespace* ns1, TNamespace* ns2) {
    bool f1 = ns1->Folder(), f2 = ns2->Folder();
    if (f1 == f2) return 0;
    return f1 ? -1 : 1;
}

int TShellSortHelper::SortFileSize(TNamespace* ns1, TNamespace* ns2) {
    if (int r = DiscriminateFolders(ns1, ns2)) return r;
    if (int r = Sign(ns1->SizeOfFileInt64() - ns2->SizeOfFileInt64())) return r;
    return CompareIDSort(0, ns1, ns2);
}

int TShellSortHelper::SortFileTime(FILETIME time1, FILETIME time2, TNamespace* ns1, TNamespace* ns2) {
    if (int r = DiscriminateFolders(ns1, ns2)) return r;
    if (int r = ::CompareFileTime(&time1, &time2)) return Sign(r);
    return CompareIDSort(0, ns1, ns2);
}

int TShellSortHelper::SortString(const std::wstring& s1, const std::wstring& s2, TNamespace* ns1, TNamespace* ns2) {
    if (int r = DiscriminateFolders(ns1, ns2)) return r;
    if (int r = Sign(s1.compare(s2))) return r;
    return CompareIDSort(0, ns1, ns2);
}

int TShellSortHelper::SortType(TNamespace* ns1, TNamespace* ns2) {
    if (FileSort == fsFileType) return SortString(ns1->FileType(), ns2->FileType(), ns1, ns2);
    if (int r = DiscriminateFolders(ns1, ns2)) return r;
    if (ns1->FileSystem() && ns2->FileSystem())
        return SortString(ExtractFileExtW(ns1->NameParseAddress()), ExtractFileExtW(ns2->NameParseAddress()), ns1,
                          ns2);
    return CompareIDSort(0, ns1, ns2);
}

} // namespace krv
