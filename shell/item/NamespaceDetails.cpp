// The shell item's details columns: asked of the shell's folder interfaces
// where the folder offers them, else the five default columns.
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/WideStrUtils.h"

namespace krv {

namespace {
constexpr int MaxDetailsColumns = 200;

const wchar_t* const DefaultColumnTitles[] = {L"Name", L"Size", L"Type", L"Modified", L"Attributes",
                                              L"Created", L"Accessed", L"Path", L"DOS Name", L"Custom"};

std::wstring DetailText(SHELLDETAILS& details, LPCITEMIDLIST pidl) { return StrRetToStr(details.str, pidl); }

// The columns a folder's interfaces answer for, counted from 0; -1 without either interface.
int CountDetailsColumns(IShellFolder2* folder2, IShellDetails* shellDetails) {
    int count = 0;
    SHELLDETAILS details{};
    if (folder2) {
        SHCOLSTATEF state;
        while (count < MaxDetailsColumns) {
            if (SUCCEEDED(folder2->GetDefaultColumnState(static_cast<UINT>(count), &state))) {
                ++count;
            } else if (SUCCEEDED(folder2->GetDetailsOf(nullptr, static_cast<UINT>(count), &details))) {
                StrRetToStr(details.str, nullptr);   // frees a returned string
                ++count;
            } else {
                break;
            }
        }
        return count;
    }
    if (!shellDetails) return -1;
    while (count < MaxDetailsColumns &&
           SUCCEEDED(shellDetails->GetDetailsOf(nullptr, static_cast<UINT>(count), &details))) {
        StrRetToStr(details.str, nullptr);
        ++count;
    }
    return count;
}

// The shell's column flags as one byte: the type, then 8 shown by default,
// 0x10 slow, 0x20 extended, 0x40 secondary, 0x80 hidden.
uint8_t ColumnStateByte(SHCOLSTATEF state) {
    uint8_t r = static_cast<uint8_t>(state & 0x0F);
    if (state & SHCOLSTATE_ONBYDEFAULT) r |= 8;
    if (state & SHCOLSTATE_SLOW) r |= 0x10;
    if (state & SHCOLSTATE_EXTENDED) r |= 0x20;
    if (state & SHCOLSTATE_SECONDARYUI) r |= 0x40;
    if (state & SHCOLSTATE_HIDDEN) r |= 0x80;
    return r;
}
} // namespace

std::wstring TNamespace::DetailsColumnTitle(int column) {
    if (IsValidColumn(column)) {
        TNamespace* owner = parent_ ? parent_ : this;
        SHELLDETAILS details{};
        if (IShellFolder2* folder2 = owner->ShellFolder2()) {
            if (SUCCEEDED(folder2->GetDetailsOf(nullptr, static_cast<UINT>(column), &details)))
                return DetailText(details, nullptr);
        } else if (IShellDetails* shellDetails = owner->ShellDetails()) {
            if (SUCCEEDED(shellDetails->GetDetailsOf(nullptr, static_cast<UINT>(column), &details)))
                return DetailText(details, nullptr);
        }
    }
    if (column == -1) column = 0;
    if (column < 0 || column >= static_cast<int>(std::size(DefaultColumnTitles))) return std::wstring();
    return DefaultColumnTitles[column];
}

std::wstring TNamespace::DetailsDefaultOf(int column) {
    switch (column) {
    case -1:
    case 0:
        return NameInFolder();
    case 1:
        return SizeOfFileKB();
    case 2: {
        EnsureFindData();
        bool realFile = findData_ && findData_->cFileName[0] != 0 && findData_->cFileName[0] != 0x0008;
        return realFile && FileSystem() ? FileType() : std::wstring(L"System Folder");
    }
    case 3:
        return LastWriteTime();
    case 4:
        return AttributesString();
    default:
        return std::wstring();
    }
}

std::wstring TNamespace::DetailsOf(int column) {
    // A parent folder's details describe its children; the desktop answers for itself.
    if (!IsDesktop()) ParentShellFolder();
    TNamespace* owner = parent_ ? parent_ : this;
    // Each source in turn: a folder that refuses a column leaves it to the next.
    SHELLDETAILS details{};
    if (IShellFolder2* folder2 = owner->ShellFolder2())
        if (SUCCEEDED(folder2->GetDetailsOf(relativePIDL_, static_cast<UINT>(column), &details)))
            return DetailText(details, relativePIDL_);
    details = SHELLDETAILS{};
    if (IShellDetails* shellDetails = owner->ShellDetails())
        if (SUCCEEDED(shellDetails->GetDetailsOf(relativePIDL_, static_cast<UINT>(column), &details)))
            return DetailText(details, relativePIDL_);
    return DetailsDefaultOf(column);
}

int TNamespace::DetailsColumnCount() {
    if (detailsColumnCountCache_ != 0) return detailsColumnCountCache_;
    if (!IsDesktop()) ParentShellFolder();
    TNamespace* owner = parent_ ? parent_ : this;
    IShellFolder2* folder2 = owner->ShellFolder2();
    int count = CountDetailsColumns(folder2, folder2 ? nullptr : owner->ShellDetails());
    if (count < 0) count = DetailsDefaultColumnCount();
    detailsColumnCountCache_ = count;
    return count;
}

uint8_t TNamespace::DetailsColumnState(int column) {
    if (!IsDesktop()) ParentShellFolder();
    TNamespace* owner = parent_ ? parent_ : this;
    SHCOLSTATEF state = 0;
    IShellFolder2* folder2 = owner->ShellFolder2();
    if (!folder2 || FAILED(folder2->GetDefaultColumnState(static_cast<UINT>(column), &state))) return 8;
    return ColumnStateByte(state);
}

std::wstring DefaultColumnTitle(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(DefaultColumnTitles))) return std::wstring();
    return DefaultColumnTitles[index];
}

std::vector<TFolderColumn> FolderDetailsColumns(TNamespace* folder) {
    std::vector<TFolderColumn> result;
    IShellFolder2* folder2 = folder->ShellFolder2();
    IShellDetails* shellDetails = folder2 ? nullptr : folder->ShellDetails();
    int count = CountDetailsColumns(folder2, shellDetails);
    if (count < 0) {
        for (int i = 0; i < folder->DetailsDefaultColumnCount(); ++i) result.push_back({DefaultColumnTitles[i], 8});
        return result;
    }
    for (int i = 0; i < count; ++i) {
        TFolderColumn column;
        SHELLDETAILS details{};
        HRESULT hr = folder2 ? folder2->GetDetailsOf(nullptr, static_cast<UINT>(i), &details)
                             : shellDetails->GetDetailsOf(nullptr, static_cast<UINT>(i), &details);
        if (SUCCEEDED(hr)) column.Title = DetailText(details, nullptr);
        SHCOLSTATEF state = 0;
        if (folder2 && SUCCEEDED(folder2->GetDefaultColumnState(static_cast<UINT>(i), &state)))
            column.State = ColumnStateByte(state);
        result.push_back(std::move(column));
    }
    return result;
}

} // namespace krv
