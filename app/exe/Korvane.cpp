// The program's entry point: the framework, the application object and the
// main window, then the message loop until the window closes.
#include "app/RunTrace.h"
#include "app/Log.h"
#include "app/Main.h"
#include "app/Recorders.h"
#include "app/WarmUp.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "shell/base/ShellUtils.h"
#include <cstdlib>
#include <memory>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace krv;
    TraceMark("start");
    Application().Initialize();
    Application().SetTitle("Korvane");
    Application().HelpFile = "krv.chm";
    // The shell components' globals (My Computer, the desktop, the recycle
    // bin, ...) live for the whole program: the folder tree and the run use them.
    ComInit com;
    TShellUtilitiesScope shell;
    // Joined when WinMain returns, before the shell and COM are let go.
    TStartWarmUp warmUp;

    std::vector<std::string> params;
    for (int i = 1; i < __argc; ++i) params.emplace_back(__argv[i]);
    // The program's folder: argument 0 cut after its last "\" (the module's
    // own path when argument 0 is bare, as a shell start may give it).
    std::string arg0 = __argc > 0 ? __argv[0] : "";
    std::string appDir = arg0.find('\\') != std::string::npos ? ExtractFilePath(arg0) : ProgramFolder();

    auto form = std::make_unique<TMainForm>(appDir, params);
    Application().MainForm = form.get();
    form->DiscoverRecorders = [&form] { ScanBus(*form); };
    // A failure inside a handler is logged in red; the program keeps running.
    Application().OnException = [&form](TObject*, const std::string& message) {
        if (form) form->AddLog(message, lcRed, 0, lkNormal);
    };
    // No box may wait for a person during an unattended run: one asked for
    // anyway becomes a red line and takes the answer that loses nothing.
    SetMessageBoxHook([&form](const std::string& text, const std::string& caption, UINT flags) {
        if (KorvaneState().Batch && form) {
            form->AddLog(OneLine(text), lcRed, 0, lkNormal);
            return UnattendedAnswer(flags);
        }
        return ::MessageBoxA(::GetActiveWindow(), text.c_str(), caption.c_str(), flags);
    });
    TraceMark("window made");
    Application().Run();
    TraceMark("message loop ended");
    SetMessageBoxHook(nullptr);
    Application().OnException = nullptr;
    // An unattended run tells its caller how it ended, also when it was
    // closed before it began.
    const bool unattended = KorvaneState().Batch || (!form->Params.empty() && !form->Params[0].empty());
    const int exitCode = unattended ? form->ExitCode : 0;
    form.reset();
    return exitCode;
}
