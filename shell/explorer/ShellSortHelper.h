// The order of shell items in the explorer tree: the parent folder's own
// comparison, with folders kept before files where a detail column (size,
// times, texts) decides.
#pragma once
#include "shell/explorer/LazyExplorerOptions.h"
#include <windows.h>
#include <shlobj.h>
#include <string>

namespace krv {

class TNamespace;

class TShellSortHelper {
public:
    virtual ~TShellSortHelper() = default;
    // Copied from the tree before every comparison.
    TFileSort FileSort = fsFileType;

    // Every answer is negative, 0 or positive.
    // The folder's CompareIDs for the column, read as its signed 16-bit code;
    // 0 when ns1 has no parent folder. A failed comparison is never "the
    // same": the identifiers' bytes decide. From column 1 on, a tie goes to
    // the normal display names.
    virtual int CompareIDSort(int column, TNamespace* ns1, TNamespace* ns2);
    // Folders before everything else; 0 when both or neither are folders.
    virtual int DiscriminateFolders(TNamespace* ns1, TNamespace* ns2);
    virtual int SortFileSize(TNamespace* ns1, TNamespace* ns2);
    virtual int SortFileTime(FILETIME time1, FILETIME time2, TNamespace* ns1, TNamespace* ns2);
    virtual int SortString(const std::wstring& s1, const std::wstring& s2, TNamespace* ns1, TNamespace* ns2);
    // By type text, or with fsFileExtension by the extension of the parse address.
    virtual int SortType(TNamespace* ns1, TNamespace* ns2);
};

// The sign of a successful shell comparison's answer.
int ShellCompareSign(HRESULT hr);
// The sign of the folder's CompareIDs for the column. A failed call is
// never "the same": the identifiers' bytes decide, as CompareIDBytes.
int CompareFolderIDs(IShellFolder* folder, int column, LPCITEMIDLIST id1, LPCITEMIDLIST id2);
// The sign of a byte-wise comparison; a shorter list that is a prefix comes first.
int CompareIDBytes(LPCITEMIDLIST id1, LPCITEMIDLIST id2);

} // namespace krv
