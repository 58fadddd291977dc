// The main window with a session's ticks in its folder tree, shown for a few
// seconds so that a person can look at it or take a screenshot:
//   foldershow.exe SESSION_FILE [seconds]
// The session is loaded as the Load command loads it; the ticked folders are
// then opened to show their ticks.
#include "BenchWindow.h"
#include "framework/Forms.h"
#include "shell/base/WideStrUtils.h"
#include <cstdio>
#include <cstdlib>

using namespace krv;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: foldershow SESSION_FILE [seconds]\n");
        return 2;
    }
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    krvbench::TBenchWindow bench("foldershow");
    TMainForm& form = bench.Form;
    // Shown before the load: the first showing resets the session controls and ticks.
    form.Show();
    if (!form.Session.LoadFromFile(argv[1])) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    form.AfterSessionLoad(true, argv[1]);
    for (int i = 0; i < form.Session.SelectedFolders.Count(); ++i)
        form.DirTree->BrowseToPath(AnsiToWide(form.Session.SelectedFolders[i]), true, false, false, false);
    TTimer stop;
    stop.SetInterval(static_cast<unsigned>(seconds) * 1000);
    stop.OnTimer = [&](TObject*) { form.Close(); };
    stop.SetEnabled(true);
    Application().Run();
    return 0;
}
