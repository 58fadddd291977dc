// Small helpers every layer uses: the base exception, printf-style text,
// ANSI path and string helpers, and the last Win32 error as text.
#pragma once
#include <windows.h>
#include <cstdarg>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace krv {

// Base of every exception the program raises; the message is ANSI text.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
    std::string Message() const { return what(); }
};

// printf-style formatting into a std::string, any length.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

std::string IntToStr(int64_t v);
int StrToIntDef(const std::string& s, int def);
int64_t StrToInt64Def(const std::string& s, int64_t def);

std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);
// ANSI case mapping through the system's code page tables.
std::string AnsiUpperCase(const std::string& s);
std::string AnsiLowerCase(const std::string& s);
bool SameText(const std::string& a, const std::string& b);
int CompareText(const std::string& a, const std::string& b);
std::string StringReplaceAll(std::string s, const std::string& from, const std::string& to);

// Paths with "\" separators (and "/" accepted where Windows accepts it).
std::string ExtractFilePath(const std::string& path);   // keeps the trailing "\"
std::string ExtractFileDir(const std::string& path);    // no trailing "\" (except "C:\")
std::string ExtractFileName(const std::string& path);
std::string ExtractFileExt(const std::string& path);    // with the dot
std::string ExtractFileDrive(const std::string& path);  // "C:" or "\\server\share"
std::string ChangeFileExt(const std::string& path, const std::string& ext);
std::string IncludeTrailingBackslash(const std::string& path);
std::string ExcludeTrailingBackslash(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool ForceDirectories(const std::string& path);
int64_t FileSizeOf(const std::string& path);   // -1 when it cannot be read

// What the system makes of a path a person gives (typed, from a session
// file, the settings or the command line), as every Windows call reads it:
// "." and ".." taken out, a folder's name loses one final dot, the last name
// its final dots and blanks. A name holding a wildcard is a pattern and stays
// as given (the find call has its own rules for it); a "\\?\" path stays too.
std::string SystemPath(const std::string& path);
std::wstring SystemPath(const std::wstring& path);
// The path with its root spelled as the system compares it, one way for all
// spellings: "c:" and "C:" are one drive, and a server's and a share's names
// ignore case, so a root is kept in upper case. Only the root changes, and no
// disk is asked. EntryPath's results have it; so must any other path that is
// compared with them by its bytes (the folder tree's, a link's target).
std::string SystemRoot(const std::string& path);
std::wstring SystemRoot(const std::wstring& path);

// The one rule for finding what a path names: each name is the entry of
// exactly that name (its bytes, letter case included) where one exists; only
// where none does, the system's reading (SystemPath's fold, then its own
// matching of letter case and whatever else its file system takes as equal)
// finds one, under that entry's real name. From the first name nothing
// answers to, the rest is in SystemPath's form (a folder still to be made).
// Made once where a path is handed on (the destination, temp folder, masks,
// session file, a session's folders): from then on every name in the path
// is meant as it stands, and the calls below reach that file. A path with no
// drive or share is only folded (there is no folder to ask).
std::string EntryPath(const std::string& path);
std::wstring EntryPath(const std::wstring& path);
// The real name of one name in a folder by the same rule; last tells a
// path's last name (folded, it loses final blanks too). "" when none answers.
std::wstring EntryName(const std::wstring& folder, const std::wstring& name, bool last);

// Paths of MAX_PATH characters and more: the ANSI calls refuse them, so the
// helpers below take the wide calls with the "\\?\" form for such paths
// (and the ANSI calls for every other path).
bool IsLongPath(const std::string& path);
// True for a long path and for an absolute path with a name that ends in a
// dot or a space: the ANSI calls drop those ends and reach another name (or
// none), the "\\?\" form takes the name as it is. For a path whose names
// are all meant as they stand: a listing's names, or EntryPath's result.
bool NeedsWidePath(const std::string& path);
bool NeedsWidePath(const std::wstring& path);   // the same for a UTF-16 path (units, not bytes)
// The "\\?\" (or "\\?\UNC\") form of an absolute ANSI path, in UTF-16.
std::wstring LongPathW(const std::string& path);
std::wstring LongPathW(std::wstring path);
std::string WideToAcp(const wchar_t* text);
// Text between a code page (the ANSI one unless told) and UTF-16.
std::wstring AnsiToWide(const std::string& s, UINT codePage = CP_ACP);
std::string WideToAnsi(const std::wstring& s, UINT codePage = CP_ACP);
bool GetFileAttributesAny(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data);
// CreateFileA, DeleteFileA and MoveFileExA (both paths) through the wide
// calls where NeedsWidePath says so.
HANDLE CreateFileAny(const std::string& name, DWORD access, DWORD share, DWORD disposition);
bool DeleteFileAny(const std::string& path);
bool MoveFileAny(const std::string& from, const std::string& to, DWORD flags);
// Makes a new empty file "<dir><prefix>XXXX.tmp" (four hex digits) and
// returns its name, or "" with the system's error. GetTempFileNameA would cut
// its answer at MAX_PATH bytes, which a folder of multi-byte characters that
// the wide calls still take can pass: the name of another file.
std::string CreateUniqueFile(const std::string& dir, const char* prefix);
// FindFirstFileA/FindNextFileA for any pattern length; wide tells which twin
// the handle belongs to (set by the first call, passed to the next).
HANDLE FindFirstFileAny(const std::string& pattern, WIN32_FIND_DATAA& data, bool& wide);
bool FindNextFileAny(HANDLE find, WIN32_FIND_DATAA& data, bool wide);
// A find record in the other character set: the names converted, the rest copied.
void ConvertFindData(const WIN32_FIND_DATAW& from, WIN32_FIND_DATAA& to);
void ConvertFindData(const WIN32_FIND_DATAA& from, WIN32_FIND_DATAW& to);

// The folder of the running executable, with a trailing "\".
std::string ProgramFolder();

// The text of a caught exception: what() (or describe(it) when given) for a
// std::exception, "Unknown error" for anything else.
std::string ExceptionText(const std::exception_ptr& e, std::string (*describe)(const std::exception&) = nullptr);

// System error text for a Win32 error code, without the trailing line break.
std::string SysErrorMessage(DWORD code);

} // namespace krv
