#include "app/SessionLink.h"
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include "shell/base/WideStrUtils.h"
#include <shlobj.h>
#include <shobjidl.h>

namespace krv {

std::string SessionLinkFileName(const std::string& destFolder, const std::string& linkName) {
    std::string folder = destFolder;
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    return folder + linkName + ".lnk";
}

std::string SessionLinkArguments(const std::string& sessionFile, const std::string& archiveName) {
    std::string args = "\"" + sessionFile + "\"";
    if (!archiveName.empty()) args += " \"" + archiveName + "\"";
    return args;
}

bool WriteSessionLink(const TSessionLinkRequest& r, std::string* error) {
    auto fail = [&](const char* step, HRESULT hr) {
        if (error) *error = Format("%s failed: %s", step, SysErrorMessage(static_cast<DWORD>(hr)).c_str());
        return false;
    };
    ComInit com;
    ComPtr<IShellLinkA> link;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.put_void());
    if (FAILED(hr) || !link) return fail("Creating the shell link object", hr);
    const std::string target = r.AppDir + "korvane.exe";
    const std::string args = SessionLinkArguments(r.SessionFile, r.ArchiveName);
    // AppDir already ends with "\": the doubled separator is what Windows
    // resolves, and what earlier shortcuts hold.
    const std::string icon = r.AppDir + "\\korvane.exe";
    if (FAILED(hr = link->SetPath(target.c_str()))) return fail("Setting the target", hr);
    if (FAILED(hr = link->SetArguments(args.c_str()))) return fail("Setting the arguments", hr);
    if (FAILED(hr = link->SetWorkingDirectory(r.AppDir.c_str()))) return fail("Setting the working folder", hr);
    if (FAILED(hr = link->SetIconLocation(icon.c_str(), 0))) return fail("Setting the icon", hr);
    if (FAILED(hr = link->SetShowCmd(SW_SHOWNORMAL))) return fail("Setting the window state", hr);
    ComPtr<IPersistFile> file = link.As<IPersistFile>(IID_IPersistFile);
    if (!file) return fail("Opening the link for saving", E_NOINTERFACE);
    const std::wstring name = AnsiToWide(SessionLinkFileName(r.DestFolder, r.LinkName));
    if (FAILED(hr = file->Save(name.c_str(), TRUE))) return fail("Saving the shortcut", hr);
    return true;
}

} // namespace krv
