// Entries made under exactly the name given. Under Wine every folder of the
// Linux side tells case apart, but a Win32 call that makes "DATA" beside
// "data" opens "data", and one that makes "dir." makes "dir": the "\\?\unix\"
// form of the folder's host path makes the name as it is.
#pragma once
#include "framework/Handle.h"
#include <windows.h>
#include <string>

namespace krv::test {

inline std::wstring ExactNamePath(const std::wstring& folder, const std::wstring& name) {
    using TUnixName = char*(CDECL*)(LPCWSTR);
    static const auto unixName = reinterpret_cast<TUnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    // The folder in its "\\?\" form, so that its own names are not read as typed ("dir." as "dir").
    const std::wstring given = folder.rfind(L"\\\\?\\", 0) == 0 ? folder : L"\\\\?\\" + folder;
    if (char* found = unixName ? unixName(given.c_str()) : nullptr) {
        std::wstring host(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, found, -1, nullptr, 0)), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, found, -1, host.data(), static_cast<int>(host.size()));
        ::HeapFree(::GetProcessHeap(), 0, found);
        host.pop_back();   // the terminating zero
        for (wchar_t& c : host)
            if (c == L'/') c = L'\\';
        return L"\\\\?\\unix" + host + L"\\" + name;
    }
    return given + L"\\" + name;   // no Wine: the name as it stands
}

inline bool MakeExactDir(const std::wstring& folder, const std::wstring& name) {
    return ::CreateDirectoryW(ExactNamePath(folder, name).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

inline bool WriteExactFile(const std::wstring& folder, const std::wstring& name, const std::string& content) {
    krv::FileHandle file(
        ::CreateFileW(ExactNamePath(folder, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size();
}

} // namespace krv::test
