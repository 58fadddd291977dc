// hdbench: one hard-disk backup run of a folder through the main window, as
// the Start button runs it, timed from the start of the run to "Backup done".
//   hdbench SOURCE_FOLDER DEST_FOLDER
// Prints the bytes read, the seconds, MB/s and the archive size.
#include "BenchWindow.h"
#include <chrono>
#include <cstdio>

using namespace krv;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hdbench SOURCE_FOLDER DEST_FOLDER\n");
        return 2;
    }
    krvbench::TBenchWindow bench("hdbench");
    TMainForm& form = bench.Form;
    form.FormShow();
    form.Mode = bmHardDisk;
    form.ComboLog->SetItemIndex(3);
    form.HDFolderEdit->SetText(argv[2]);
    form.EditArchiveName->SetText("hdbench.zip");
    if (!bench.Tick(argv[1])) return 1;
    form.ButtonUpdateSizeClick();
    int64_t input = form.SelectedSize;

    auto start = std::chrono::steady_clock::now();
    form.ButtonStartClick();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (form.Cancel) {
        for (int i = 0; i < form.ReportLines.Count(); ++i) std::fprintf(stderr, "%s\n", form.ReportLines[i].c_str());
        return 1;
    }
    std::string archive = IncludeTrailingBackslash(argv[2]) + "hdbench.zip";
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExA(archive.c_str(), GetFileExInfoStandard, &data);
    int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    std::printf("input_bytes %lld\nseconds %.2f\nmb_per_s %.1f\narchive_bytes %lld\narchive %s\n",
                static_cast<long long>(input), seconds, input / 1048576.0 / seconds, static_cast<long long>(size),
                archive.c_str());
    return 0;
}
