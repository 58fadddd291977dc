// casebench FOLDER [--files N] [--spelled same|other]
// Makes N small files (default 4,000) in one folder "data" under FOLDER and
// an archive of them whose entries spell that folder "data" (same) or "Data"
// (other), then updates the archive with the same files found again and
// prints the update's time. Removes what it made. Exit code 0 only when the
// update took every old entry: N files and their folder, each spelled as the disk.
#include "BenchUtil.h"
#include "BenchZip.h"
#include <cstdio>

using namespace krv;

namespace {

// One update of archive with every file of folder; entries spelled as given.
int Update(const std::string& archive, const std::string& folder, unsigned mode, const std::string& spelled) {
    TZipArchiver zip;
    bench::ArchiveFolder(zip, archive, folder, 1);
    zip.OnStoreFile = [&](TObject*, std::string& name, uint32_t&, std::string&, const std::string&) {
        name = spelled + name.substr(spelled.size());
    };
    zip.OpenArchive(mode);
    bench::AddEverything(zip);
    int taken = 0;
    for (int i = 0; i < zip.Count(); ++i) taken += zip.Items(i).name.rfind("data/", 0) == 0 ? 1 : 0;
    if (taken != zip.Count()) taken = -1;
    zip.CloseArchive();
    return taken;
}

} // namespace

int main(int argc, char** argv) {
    const auto usage = [] {
        std::fprintf(stderr, "usage: casebench FOLDER [--files N] [--spelled same|other]\n");
        return 2;
    };
    if (argc < 2) return usage();
    const std::string root = ZipTrailingSeparator(ZipExpandPath(argv[1], "")) + "casebench\\";
    int files = 4000;
    std::string spelled = "same";
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--files") files = StrToIntDef(argv[i + 1], 0);
        else if (a == "--spelled") spelled = argv[i + 1];
        else return usage();
    }
    if (files <= 0 || (spelled != "same" && spelled != "other")) return usage();
    const std::string data = root + "data\\", archive = root + "case.zip";
    ::CreateDirectoryA(root.c_str(), nullptr);
    ::CreateDirectoryA(data.c_str(), nullptr);
    for (int i = 0; i < files; ++i) {
        const std::string text = Format("file %d", i);
        TFileStream(data + Format("f%05d.txt", i), fmCreate).WriteBuffer(text.data(), text.size());
    }
    int taken = -1;
    double seconds = 0;
    try {
        Update(archive, root, fmCreate, spelled == "same" ? "data\\" : "Data\\");
        const double t0 = bench::Now();
        taken = Update(archive, root, fmOpenReadWrite, "data\\");
        seconds = bench::Now() - t0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
    }
    for (int i = 0; i < files; ++i) ::DeleteFileA((data + Format("f%05d.txt", i)).c_str());
    ::RemoveDirectoryA(data.c_str());
    ::DeleteFileA(archive.c_str());
    ::RemoveDirectoryA(root.c_str());
    std::printf("files: %d spelled: %s\nupdate: %.3f s\nentries: %d\n", files, spelled.c_str(), seconds, taken);
    return taken == files + 1 ? 0 : 1;
}
