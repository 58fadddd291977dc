#include "framework/SysUtils.h"
#include "framework/Handle.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace krv {

std::string FormatV(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string s = FormatV(fmt, args);
    va_end(args);
    return s;
}

std::string IntToStr(int64_t v) { return std::to_string(v); }

int64_t StrToInt64Def(const std::string& s, int64_t def) {
    std::string t = Trim(s);
    if (t.empty()) return def;
    char* end = nullptr;
    errno = 0;
    long long v;
    if (t.size() > 1 && t[0] == '$') v = std::strtoll(t.c_str() + 1, &end, 16);
    else if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) v = std::strtoll(t.c_str() + 2, &end, 16);
    else v = std::strtoll(t.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0') return def;
    return v;
}

int StrToIntDef(const std::string& s, int def) {
    int64_t v = StrToInt64Def(s, def);
    if (v < INT32_MIN || v > INT32_MAX) return def;
    return static_cast<int>(v);
}

static bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string TrimLeft(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    return s.substr(i);
}
std::string TrimRight(const std::string& s) {
    size_t n = s.size();
    while (n > 0 && IsBlank(s[n - 1])) --n;
    return s.substr(0, n);
}
std::string Trim(const std::string& s) { return TrimRight(TrimLeft(s)); }

std::string AnsiUpperCase(const std::string& s) {
    std::string r = s;
    if (!r.empty()) ::CharUpperBuffA(r.data(), static_cast<DWORD>(r.size()));
    return r;
}
std::string AnsiLowerCase(const std::string& s) {
    std::string r = s;
    if (!r.empty()) ::CharLowerBuffA(r.data(), static_cast<DWORD>(r.size()));
    return r;
}
int CompareText(const std::string& a, const std::string& b) {
    return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                            b.data(), static_cast<int>(b.size())) - CSTR_EQUAL;
}
bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && AnsiUpperCase(a) == AnsiUpperCase(b);
}

std::string StringReplaceAll(std::string s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
    return s;
}

static bool IsSep(char c) { return c == '\\' || c == '/'; }

static size_t LastDelimiter(const std::string& path, bool withDot) {
    for (size_t i = path.size(); i > 0; --i) {
        char c = path[i - 1];
        if (IsSep(c) || c == ':' || (withDot && c == '.')) return i - 1;
    }
    return std::string::npos;
}

std::string ExtractFilePath(const std::string& path) {
    size_t p = LastDelimiter(path, false);
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}
std::string ExtractFileDir(const std::string& path) {
    std::string dir = ExtractFilePath(path);
    if (dir.size() > 1 && IsSep(dir.back()) && !(dir.size() == 3 && dir[1] == ':')) dir.pop_back();
    return dir;
}
std::string ExtractFileName(const std::string& path) {
    size_t p = LastDelimiter(path, false);
    return p == std::string::npos ? path : path.substr(p + 1);
}
std::string ExtractFileExt(const std::string& path) {
    size_t p = LastDelimiter(path, true);
    if (p == std::string::npos || path[p] != '.') return std::string();
    return path.substr(p);
}
std::string ExtractFileDrive(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    if (path.size() >= 2 && IsSep(path[0]) && IsSep(path[1])) {
        // "\\server\share"
        size_t server = path.find_first_of("\\/", 2);
        if (server == std::string::npos) return path;
        size_t share = path.find_first_of("\\/", server + 1);
        return share == std::string::npos ? path : path.substr(0, share);
    }
    return std::string();
}
std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    size_t p = LastDelimiter(path, true);
    if (p == std::string::npos || path[p] != '.') return path + ext;
    return path.substr(0, p) + ext;
}
std::string IncludeTrailingBackslash(const std::string& path) {
    if (!path.empty() && IsSep(path.back())) return path;
    return path + "\\";
}
std::string ExcludeTrailingBackslash(const std::string& path) {
    std::string r = path;
    while (!r.empty() && IsSep(r.back())) r.pop_back();
    return r;
}

namespace {
DWORD AttributesOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    return GetFileAttributesAny(path, d) ? d.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

template <class From, class To> void CopyFindFields(const From& from, To& to) {
    to.dwFileAttributes = from.dwFileAttributes;
    to.ftCreationTime = from.ftCreationTime;
    to.ftLastAccessTime = from.ftLastAccessTime;
    to.ftLastWriteTime = from.ftLastWriteTime;
    to.nFileSizeHigh = from.nFileSizeHigh;
    to.nFileSizeLow = from.nFileSizeLow;
    to.dwReserved0 = from.dwReserved0;
    to.dwReserved1 = from.dwReserved1;
}
} // namespace

void ConvertFindData(const WIN32_FIND_DATAW& w, WIN32_FIND_DATAA& a) {
    CopyFindFields(w, a);
    std::string name = WideToAcp(w.cFileName), alternate = WideToAcp(w.cAlternateFileName);
    lstrcpynA(a.cFileName, name.c_str(), sizeof a.cFileName);
    lstrcpynA(a.cAlternateFileName, alternate.c_str(), sizeof a.cAlternateFileName);
}

void ConvertFindData(const WIN32_FIND_DATAA& a, WIN32_FIND_DATAW& w) {
    CopyFindFields(a, w);
    std::wstring name = AnsiToWide(std::string(a.cFileName, strnlen(a.cFileName, sizeof a.cFileName)));
    std::wstring alternate =
        AnsiToWide(std::string(a.cAlternateFileName, strnlen(a.cAlternateFileName, sizeof a.cAlternateFileName)));
    lstrcpynW(w.cFileName, name.c_str(), MAX_PATH);
    lstrcpynW(w.cAlternateFileName, alternate.c_str(), 14);
}

// Folders are refused by the ANSI calls 12 characters before files are.
bool IsLongPath(const std::string& path) { return path.size() >= MAX_PATH - 12; }

namespace {
template <class C> bool IsSepChar(C c) { return c == '\\' || c == '/'; }

template <class S> size_t NextSep(const S& s, size_t from) {
    for (size_t i = from; i < s.size(); ++i)
        if (IsSepChar(s[i])) return i;
    return S::npos;
}

template <class S> bool IsPattern(const S& name) {
    for (auto c : name)
        if (c == '*' || c == '?') return true;
    return false;
}

template <class S> bool IsDots(const S& name, size_t n) {
    if (name.size() != n) return false;
    for (auto c : name)
        if (c != '.') return false;
    return true;
}

template <class S> bool IsVerbatim(const S& p) {
    return p.size() >= 4 && IsSepChar(p[0]) && IsSepChar(p[1]) && p[2] == '?' && IsSepChar(p[3]);
}

// A path cut as the system cuts it before it reads a name: its root
// ("\\server\share", "C:" or none), whether the names stand on the root's
// top folder, whether it ends in a separator, and its names with "." and
// ".." taken out, each with whether a separator followed it.
template <class S> struct TPathParts {
    S root;
    bool rooted = false;
    bool folderEnd = false;
    std::vector<std::pair<S, bool>> names;
    bool Absolute() const { return rooted && !root.empty() && (root.size() > 2 || root[1] == ':'); }
};

// Where a path's root ends: after "\\server\share", after "C:", or at 0.
template <class S> size_t RootEnd(const S& path) {
    if (path.size() > 2 && IsSepChar(path[0]) && IsSepChar(path[1])) {
        size_t end = NextSep(path, 2);
        end = end == S::npos ? path.size() : NextSep(path, end + 1);
        return end == S::npos ? path.size() : end;
    }
    return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

template <class S> TPathParts<S> SplitPath(const S& path) {
    TPathParts<S> parts;
    const size_t rootEnd = RootEnd(path);
    parts.root = path.substr(0, rootEnd);
    for (auto& c : parts.root)
        if (c == '/') c = '\\';
    parts.rooted = rootEnd < path.size() && IsSepChar(path[rootEnd]);
    parts.folderEnd = !path.empty() && IsSepChar(path.back()) && path.size() > rootEnd + 1;
    for (size_t start = rootEnd; start < path.size();) {
        size_t end = NextSep(path, start);
        if (end == S::npos) end = path.size();
        S name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty() || IsDots(name, 1)) continue;
        if (IsDots(name, 2) && !parts.names.empty() && !IsDots(parts.names.back().first, 2)) parts.names.pop_back();
        else if (!IsDots(name, 2) || !parts.rooted) parts.names.push_back({name, end < path.size()});
    }
    return parts;
}

// A name as the system reads it: a folder's name loses one final dot, the
// last name its final dots and blanks; a pattern and ".." stay.
template <class S> S FoldName(S name, bool last) {
    if (IsPattern(name) || IsDots(name, 2)) return name;
    if (!last) {
        if (!name.empty() && name.back() == '.') name.pop_back();
    } else {
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    }
    return name;
}

template <class S> S JoinPath(const TPathParts<S>& parts, const std::vector<S>& names) {
    S out = parts.root;
    if (parts.rooted) out += '\\';
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) out += '\\';
        out += names[i];
    }
    if (parts.folderEnd && !names.empty()) out += '\\';
    return out;
}

template <class S> S SystemPathOf(const S& path) {
    if (IsVerbatim(path)) return path;
    const TPathParts<S> parts = SplitPath(path);
    std::vector<S> names;
    for (const auto& [name, followed] : parts.names)
        if (S folded = FoldName(name, !followed); !folded.empty()) names.push_back(folded);
    return JoinPath(parts, names);
}

// The entry the system's listing gives for a name in a folder: the one of
// exactly that name when there is one, else the first the system matches
// its own way (letter case), else none.
std::wstring MatchEntry(const std::wstring& folder, const std::wstring& name) {
    WIN32_FIND_DATAW fd;
    FindHandle find(::FindFirstFileW(LongPathW(folder + name).c_str(), &fd));
    if (!find) return {};
    const std::wstring first = fd.cFileName;
    do
        if (name == fd.cFileName) return name;
    while (::FindNextFileW(find.get(), &fd));
    return first;
}
} // namespace

std::wstring SystemRoot(const std::wstring& path) {
    const size_t end = IsVerbatim(path) ? 0 : RootEnd(path);
    std::wstring out = path;
    if (end > 0) ::CharUpperBuffW(out.data(), static_cast<DWORD>(end));
    return out;
}

std::string SystemRoot(const std::string& path) {
    const size_t end = IsVerbatim(path) ? 0 : RootEnd(path);
    return end == 0 ? path : WideToAnsi(SystemRoot(AnsiToWide(path.substr(0, end)))) + path.substr(end);
}

std::string SystemPath(const std::string& path) { return SystemPathOf(path); }
std::wstring SystemPath(const std::wstring& path) { return SystemPathOf(path); }

std::wstring EntryName(const std::wstring& folder, const std::wstring& name, bool last) {
    const std::wstring dir = folder.empty() || IsSepChar(folder.back()) ? folder : folder + L"\\";
    const std::wstring found = MatchEntry(dir, name);
    if (found == name) return name;
    // Only where no entry has exactly this name does the system's reading
    // (SystemPath's final dots and blanks, its case-blind match) choose one:
    // so a folder "dir." beside "dir", or "data" beside "DATA", is itself.
    const std::wstring folded = FoldName(name, last);
    if (folded.empty() || folded == name) return found;
    return MatchEntry(dir, folded);
}

std::wstring EntryPath(const std::wstring& path) {
    if (IsVerbatim(path)) return path;
    TPathParts<std::wstring> parts = SplitPath(path);
    if (!parts.Absolute()) return SystemPathOf(path);
    parts.root = SystemRoot(parts.root);
    std::wstring folder = parts.root + L"\\";
    bool probing = true;
    std::vector<std::wstring> names;
    for (const auto& [name, followed] : parts.names) {
        std::wstring real = probing && !IsPattern(name) && !IsDots(name, 2) ? EntryName(folder, name, !followed)
                                                                            : std::wstring();
        if (!real.empty()) {
            folder += real + L"\\";
        } else {
            // Past the first name nothing answers to, the names are what the system would make of them.
            probing = false;
            real = FoldName(name, !followed);
            if (real.empty()) continue;
        }
        names.push_back(real);
    }
    return JoinPath(parts, names);
}

std::string EntryPath(const std::string& path) {
    if (IsVerbatim(path) || !SplitPath(path).Absolute()) return SystemPathOf(path);
    return WideToAnsi(EntryPath(AnsiToWide(path)));
}

namespace {
template <class S> bool NeedsWidePathOf(const S& path) {
    if (path.size() >= MAX_PATH - 12) return true;
    const bool drive = path.size() > 2 && path[1] == ':' && IsSepChar(path[2]);
    const bool network = path.size() > 2 && IsSepChar(path[0]) && IsSepChar(path[1]);
    if (!drive && !network) return false;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = NextSep(path, start);
        if (end == S::npos) end = path.size();
        const S name = path.substr(start, end - start);
        // A pattern's own dots are the pattern's ("*." matches names without an extension).
        if (!name.empty() && !IsDots(name, 1) && !IsDots(name, 2) && !IsPattern(name) &&
            (name.back() == '.' || name.back() == ' '))
            return true;
        start = end + 1;
    }
    return false;
}
} // namespace

bool NeedsWidePath(const std::string& path) { return NeedsWidePathOf(path); }
bool NeedsWidePath(const std::wstring& path) { return NeedsWidePathOf(path); }

std::wstring AnsiToWide(const std::string& s, UINT codePage) {
    if (s.empty()) return {};
    int n = ::MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string WideToAnsi(const std::wstring& s, UINT codePage) {
    if (s.empty()) return {};
    int n = ::WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring LongPathW(const std::string& path) { return LongPathW(AnsiToWide(path)); }

std::wstring LongPathW(std::wstring wide) {
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    if (wide.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
    return L"\\\\?\\" + wide;
}

std::string WideToAcp(const wchar_t* text) { return text ? WideToAnsi(text) : std::string(); }

bool GetFileAttributesAny(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    if (!NeedsWidePath(path)) return ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) != 0;
    return ::GetFileAttributesExW(LongPathW(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

HANDLE CreateFileAny(const std::string& name, DWORD access, DWORD share, DWORD disposition) {
    if (!NeedsWidePath(name))
        return ::CreateFileA(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return ::CreateFileW(LongPathW(name).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string CreateUniqueFile(const std::string& dir, const char* prefix) {
    const std::string folder = IncludeTrailingBackslash(dir.empty() ? "." : dir);
    const DWORD start = ::GetTickCount() ^ ::GetCurrentProcessId();
    for (DWORD i = 0; i <= 0xFFFF; ++i) {
        const std::string name = folder + prefix + Format("%04lX", (start + i) & 0xFFFF) + ".tmp";
        FileHandle made(CreateFileAny(name, GENERIC_WRITE, 0, CREATE_NEW));
        if (made) return name;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return {};
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return {};
}

bool DeleteFileAny(const std::string& path) {
    if (!NeedsWidePath(path)) return ::DeleteFileA(path.c_str()) != 0;
    return ::DeleteFileW(LongPathW(path).c_str()) != 0;
}

bool MoveFileAny(const std::string& from, const std::string& to, DWORD flags) {
    if (!NeedsWidePath(from) && !NeedsWidePath(to)) return ::MoveFileExA(from.c_str(), to.c_str(), flags) != 0;
    return ::MoveFileExW(LongPathW(from).c_str(), LongPathW(to).c_str(), flags) != 0;
}

HANDLE FindFirstFileAny(const std::string& pattern, WIN32_FIND_DATAA& data, bool& wide) {
    wide = NeedsWidePath(pattern);
    if (!wide) return ::FindFirstFileA(pattern.c_str(), &data);
    WIN32_FIND_DATAW w;
    HANDLE h = ::FindFirstFileW(LongPathW(pattern).c_str(), &w);
    if (h != INVALID_HANDLE_VALUE) ConvertFindData(w, data);
    return h;
}

bool FindNextFileAny(HANDLE find, WIN32_FIND_DATAA& data, bool wide) {
    if (!wide) return ::FindNextFileA(find, &data) != 0;
    WIN32_FIND_DATAW w;
    if (!::FindNextFileW(find, &w)) return false;
    ConvertFindData(w, data);
    return true;
}

bool FileExists(const std::string& path) {
    DWORD a = AttributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}
bool DirectoryExists(const std::string& path) {
    DWORD a = AttributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
bool ForceDirectories(const std::string& path) {
    std::string dir = ExcludeTrailingBackslash(path);
    if (dir.empty()) return false;
    if (DirectoryExists(dir) || (dir.size() == 2 && dir[1] == ':')) return true;
    std::string parent = ExtractFileDir(dir);
    if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
    const BOOL made = NeedsWidePath(dir) ? ::CreateDirectoryW(LongPathW(dir).c_str(), nullptr)
                                         : ::CreateDirectoryA(dir.c_str(), nullptr);
    return made || ::GetLastError() == ERROR_ALREADY_EXISTS;
}
int64_t FileSizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesAny(path, d)) return -1;
    return (static_cast<int64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

std::string ProgramFolder() {
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) return ExtractFilePath(std::string(buf.data(), n));
        buf.resize(buf.size() * 2);
    }
}

std::string SysErrorMessage(DWORD code) {
    // The system's text for a code stays the same while the program runs,
    // and a run that leaves thousands of files out asks for the same few.
    static std::mutex lock;
    static std::unordered_map<DWORD, std::string> known;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (auto it = known.find(code); it != known.end()) return it->second;
    }
    char* text = nullptr;
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    LocalMemory owned(text);
    const std::string s =
        TrimRight(n && text ? std::string(text, n) : Format("System error %lu", static_cast<unsigned long>(code)));
    std::lock_guard<std::mutex> guard(lock);
    return known.emplace(code, s).first->second;
}

std::string ExceptionText(const std::exception_ptr& e, std::string (*describe)(const std::exception&)) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return describe ? describe(x) : std::string(x.what());
    } catch (...) {
        return "Unknown error";
    }
}

} // namespace krv
