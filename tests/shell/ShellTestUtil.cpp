#include "ShellTestUtil.h"
#include "framework/Forms.h"
#include "framework/Handle.h"
#include <gtest/gtest.h>
#include <shobjidl.h>
#include <cstring>
#include <stdexcept>

namespace {
// The shell and link objects need COM on the test thread.
class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ::CoInitialize(nullptr); }
    void TearDown() override { ::CoUninitialize(); }
};
[[maybe_unused]] auto* const g_comEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);
} // namespace

namespace shelltest {

TempFolder::TempFolder(const std::wstring& name) {
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + L"krv-shell-" + name + L"-" + std::to_wstring(::GetCurrentProcessId());
    RemoveTree(path_);
    MakeDir(path_);
}

TempFolder::~TempFolder() { RemoveTree(krv::LongPathW(path_)); }   // names may end in a dot or a blank

void MakeDir(const std::wstring& path) {
    if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        throw std::runtime_error("cannot make a test folder");
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    krv::FileHandle f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) throw std::runtime_error("cannot write a test file");
    DWORD put = 0;
    if (!bytes.empty()) ::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
}

std::string ReadFileBytes(const std::wstring& path) {
    krv::FileHandle f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return std::string();
    std::string r(::GetFileSize(f.get(), nullptr), '\0');
    DWORD got = 0;
    if (!r.empty()) ::ReadFile(f.get(), r.data(), static_cast<DWORD>(r.size()), &got, nullptr);
    r.resize(got);
    return r;
}

void RemoveTree(const std::wstring& path) {
    DWORD a = ::GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW fd;
        krv::FindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &fd));
        if (find) {
            do {
                std::wstring n = fd.cFileName;
                if (n == L"." || n == L"..") continue;
                std::wstring child = path + L"\\" + n;
                if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    ::RemoveDirectoryW(child.c_str());
                else
                    RemoveTree(child);
            } while (::FindNextFileW(find.get(), &fd));
        }
        ::RemoveDirectoryW(path.c_str());
    } else {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileW(path.c_str())) ::RemoveDirectoryW(path.c_str());
    }
}

// Writes a link with the shell's own link object (our reader only reads).
void WriteLink(const std::wstring& file, const LinkFields& fields) {
    krv::ComPtr<IShellLinkW> link;
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()));
    link->SetPath(fields.target.c_str());
    link->SetArguments(fields.arguments.c_str());
    link->SetDescription(fields.description.c_str());
    link->SetWorkingDirectory(fields.workingDir.c_str());
    link->SetIconLocation(fields.iconFile.c_str(), fields.iconIndex);
    link->SetHotkey(fields.hotKey);
    link->SetShowCmd(fields.showCmd);
    auto persist = link.As<IPersistFile>(IID_IPersistFile);
    ASSERT_TRUE(persist);
    ASSERT_HRESULT_SUCCEEDED(persist->Save(file.c_str(), TRUE));
}

LPITEMIDLIST MakePIDL(const std::vector<std::string>& ids) {
    size_t size = 2;
    for (const auto& id : ids) size += 2 + id.size();
    auto* p = static_cast<uint8_t*>(::CoTaskMemAlloc(size));
    size_t at = 0;
    for (const auto& id : ids) {
        uint16_t cb = static_cast<uint16_t>(2 + id.size());
        std::memcpy(p + at, &cb, 2);
        std::memcpy(p + at + 2, id.data(), id.size());
        at += cb;
    }
    p[at] = p[at + 1] = 0;
    return reinterpret_cast<LPITEMIDLIST>(p);
}

std::vector<uint8_t> PIDLBytes(LPCITEMIDLIST pidl) {
    auto* p = reinterpret_cast<const uint8_t*>(pidl);
    return std::vector<uint8_t>(p, p + krv::TPIDLManager::PIDLSize(pidl));
}

namespace {
krv::TOSVersion Windows98() {
    krv::TOSVersion v;
    v.PlatformId = VER_PLATFORM_WIN32_WINDOWS;
    v.MajorVersion = 4;
    v.MinorVersion = 10;
    return v;
}
} // namespace

TFakeWindows98::TFakeWindows98() : old_(krv::SetVersionSource(&Windows98)) {}
TFakeWindows98::~TFakeWindows98() { krv::SetVersionSource(old_); }

krv::TForm& ShownForm() {
    static krv::TForm* shown = [] {
        auto* f = new krv::TForm;
        f->SetCaption("Shell controls");
        f->SetBounds(10, 10, 420, 560);
        f->Show();
        return f;
    }();
    return *shown;
}

bool PumpUntil(const std::function<bool()>& done, int rounds, unsigned waitMs) {
    for (int i = 0; i < rounds; ++i) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (done()) return true;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
    }
    return done();
}

void MutateBytes(std::vector<uint8_t>& bytes, std::mt19937& rng, int maxEdits) {
    int edits = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxEdits));
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
        size_t at = rng() % bytes.size();
        switch (rng() % 4) {
        case 0: bytes[at] = static_cast<uint8_t>(rng()); break;
        case 1: bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
        case 2: bytes.resize(at); break;
        default: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(rng())); break;
        }
    }
}

} // namespace shelltest
