// Runs the image and burn steps over an archive with three volumes through
// the console stand-ins, for tests/e2e/disc_image.sh to check the "burnt"
// image with isoinfo and xorriso. Argument: a work folder. Leaves there
// orig\ (copies of what was archived) and disc.iso (what reached the "disc");
// exits 0 when both steps succeeded and the temp folder is empty again.
#include "app/DiscSteps.h"
#include "app/Lang.h"
#include "app/Messages.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include <cstdio>
#include <fstream>
#include <random>

using namespace krv;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    Application().Initialize();
    TLang english;
    LoadLanguageStrings(english);
    SetMessageBoxHook([](const std::string& text, const std::string&, UINT) {
        std::printf("unexpected box: %s\n", text.c_str());
        return IDNO;
    });
    const std::string work = IncludeTrailingBackslash(argv[1]);
    const std::string temp = work + "temp";
    ForceDirectories(temp);
    ForceDirectories(work + "orig");
    ::SetEnvironmentVariableA("KRV_STANDIN_DISC", (work + "disc.iso").c_str());
    ::SetEnvironmentVariableA("KRV_STANDIN_LOG", (work + "standin.log").c_str());

    std::mt19937 rng(42);
    auto make = [&](const std::string& name, size_t size) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        std::ofstream(temp + "\\" + name, std::ios::binary) << bytes;
        std::ofstream(work + "orig\\" + name, std::ios::binary) << bytes;
    };
    make("Disc Backup.zip", 70000);
    make("Disc Backup.z01", 65536);
    make("Disc Backup.z02", 65536);
    make("Disc Backup.z03", 65536);

    // The program folder is the one above tools\, where the stand-ins are.
    TDiscJob job{ProgramFolder() + "..\\", temp, "Disc Backup.zip", "0,0,0", true};
    TDiscSteps steps(nullptr, job, [](const std::string& m, int c, int, int) { std::printf("log[%d] %s\n", c, m.c_str()); });
    steps.MakeIso();
    if (!steps.Cancel) steps.BlankDisc();
    if (!steps.Cancel) steps.BurnIso();
    WIN32_FIND_DATAA fd;
    FindHandle left(::FindFirstFileA((temp + "\\*.*").c_str(), &fd));
    int files = 0;
    if (left)
        do files += (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
        while (::FindNextFileA(left.get(), &fd));
    std::printf("cancel=%d files left in temp=%d\n", steps.Cancel ? 1 : 0, files);
    return steps.Cancel || files != 0 ? 1 : 0;
}
