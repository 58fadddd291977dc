// What the benchmark programs that drive the main window share: COM and the
// shell components' items for the program's life (the window holds a shell
// folder tree), message boxes printed instead of shown, and a fresh program
// folder in the temp folder.
#pragma once
#include "app/Main.h"
#include "framework/Dialogs.h"
#include "framework/SysUtils.h"
#include "shell/base/ShellUtils.h"
#include <cstdio>
#include <string>

namespace krvbench {

class TBenchWindow {
public:
    explicit TBenchWindow(const char* name) : Form(Prepare(name), {}) {
        krv::Application().MainForm = &Form;
    }
    ~TBenchWindow() { Form.Session.Modified = false; }

    krv::ComInit Com;
    krv::TShellUtilitiesScope Shell;
    krv::TMainForm Form;

    // Ticks folder in the tree as a loaded session does; false when the tree has no node for it.
    bool Tick(const std::string& folder) {
        Form.Session.SubFolders = true;
        Form.Session.SelectedFolders.Add(folder);
        Form.RestoreTreeChecks();
        Form.SubFoldersCheck->SetChecked(true);
        if (!Form.CheckedPaths().empty()) return true;
        std::fprintf(stderr, "the tree has no node for %s\n", folder.c_str());
        return false;
    }

private:
    static std::string Prepare(const char* name) {
        krv::Application().Initialize();
        krv::SetMessageBoxHook([](const std::string& text, const std::string&, UINT) {
            std::fprintf(stderr, "box: %s\n", text.c_str());
            return IDOK;
        });
        char tmp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, tmp);
        std::string appDir = krv::Format("%skrv_%s_%lu\\", tmp, name, ::GetCurrentProcessId());
        ::CreateDirectoryA(appDir.c_str(), nullptr);
        return appDir;
    }
};

} // namespace krvbench
