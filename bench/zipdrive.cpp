// zipdrive: drives the archiver the way the backup program does, for the
// end-to-end tests.
//   zipdrive ARCHIVE --flat MASKS --recursive MASKS [--exclude MASKS] [--append]
//            [--temp DIR] [--cancel-at N] [--abort-locked] [--retry-locked PATH] [--split BYTES]
//            [--stub PATH] [--span BYTES]
// --span writes a spanned archive with numbered volume names and prints the
// first volume's size on the disk after each chunk copied onto the volumes.
//   zipdrive --hold PATH READYFILE     keep PATH open without sharing until READYFILE is deleted
//                                      (a folder: every file directly in it)
//   zipdrive --hold-shared PATH READYFILE   the same, open for writing and sharing read and write
// MASKS are separated by ";". Prints one line per failure and the entry count.
#include "BenchUtil.h"
#include "zip/ZipArchiver.h"
#include <windows.h>
#include <cstdio>
#include <vector>

using namespace krv;
using bench::SplitInto;

namespace {

HANDLE OpenForWriting(const std::string& path, DWORD share = 0) {
    return ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Hold(const std::string& path, const std::string& ready, DWORD share) {
    std::vector<std::string> paths;
    if (DirectoryExists(path)) {
        WIN32_FIND_DATAA found;
        FindHandle find(::FindFirstFileA((path + "\\*").c_str(), &found));
        if (find)
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) paths.push_back(path + "\\" + found.cFileName);
            } while (::FindNextFileA(find.get(), &found));
    } else {
        paths.push_back(path);
    }
    std::vector<FileHandle> held;
    for (const std::string& p : paths) {
        held.emplace_back(OpenForWriting(p, share));
        if (!held.back()) {
            std::fprintf(stderr, "cannot hold %s\n", p.c_str());
            return 1;
        }
    }
    { FileHandle marker(::CreateFileA(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)); }
    // The test deletes the marker when it is done with the file.
    while (FileExists(ready)) ::Sleep(50);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--hold") return Hold(argv[2], argv[3], 0);
    if (argc == 4 && std::string(argv[1]) == "--hold-shared")
        return Hold(argv[2], argv[3], FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (argc < 2) return 2;
    std::string archive = argv[1], flat, recursive, exclude, temp, retryPath, stub;
    bool append = false, abortLocked = false;
    int cancelAt = -1;
    int64_t split = 0;   // volume size of a new split archive
    int64_t span = 0;    // volume size of a new spanned archive
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--flat") flat = value();
        else if (a == "--recursive") recursive = value();
        else if (a == "--exclude") exclude = value();
        else if (a == "--temp") temp = value();
        else if (a == "--append") append = true;
        else if (a == "--cancel-at") cancelAt = StrToIntDef(value(), -1);
        else if (a == "--abort-locked") abortLocked = true;
        else if (a == "--retry-locked") retryPath = value();
        else if (a == "--split") split = StrToInt64Def(value(), 0);
        else if (a == "--stub") stub = value();
        else if (a == "--span") span = StrToInt64Def(value(), 0);
        else return 2;
    }
    FileHandle retryLock;
    if (!retryPath.empty()) retryLock.reset(OpenForWriting(retryPath));

    TZipArchiver zip;
    zip.SetName("Archiver");
    int started = 0;
    try {
        zip.SetCompressionLevel(clMax);
        zip.SetZip64Mode(zmAuto);
        zip.Options.StorePath = spFullPath;
        zip.Options.OEMFileNames = true;
        zip.TempDir = temp;
        zip.SFXStub = stub;
        zip.FileName = archive;
        zip.SetSpanningMode(span > 0 ? smSpanning : split > 0 ? smSplitting : smNone);
        zip.SpanningOptions.AdvancedNaming = span > 0;
        zip.SpanningOptions.VolumeSize = vsCustom;
        zip.SpanningOptions.SetCustomVolumeSize(span > 0 ? span : split);
        std::string firstVolume;
        zip.OnRequestBlankVolume = [&](TObject*, int number, std::string& name, bool&) {
            if (number == 1) firstVolume = name;
        };
        zip.OnCopyTempFileProgress = [&](TObject*, double, TZipProgressPhase phase, bool&) {
            if (span > 0 && phase == ppProcess)
                std::printf("first volume on disk: %lld\n", static_cast<long long>(FileSizeOf(firstVolume)));
        };
        zip.OnProcessFileFailure = [&](TObject*, const std::string& name, TZipProcessOperation, int native, int code,
                                       const std::string& message, TZipAction& action) {
            std::printf("failure: %s native=%d code=%d %s\n", name.c_str(), native, code, message.c_str());
            if (retryLock && CompareText(name, retryPath) == 0) {
                retryLock.reset();   // let go of the file and try it again
                action = fxaRetry;
            } else if ((code == 6 || code == 12) && !abortLocked) {
                action = fxaIgnore;
            } else {
                action = fxaAbort;
            }
        };
        zip.OnOverallProgress = [&](TObject*, double, TZipProcessOperation, TZipProgressPhase phase, bool& cancel) {
            if (cancelAt == 0 && phase == ppStart) cancel = true;
        };
        zip.OnFileProgress = [&](TObject*, const std::string&, double, TZipProcessOperation, TZipProgressPhase phase,
                                 bool& cancel) {
            if (phase == ppStart && ++started == cancelAt) cancel = true;
        };
        // Every archive begins with one folder per source drive letter.
        zip.OnStoreFile = [](TObject*, std::string& name, uint32_t&, std::string&, const std::string& full) {
            std::string drive = ExtractFileDrive(full);
            if (!drive.empty()) name = drive.substr(0, drive.size() - 1) + "\\" + name;
        };
        if (!append) zip.OpenArchive(fmCreate);
        zip.BeginUpdate();
        zip.FileMasks().Clear();
        zip.ExclusionMasks().Clear();
        SplitInto(zip.ExclusionMasks(), exclude);
        zip.Options.Recurse = false;
        zip.Options.SearchAttr = 47;
        SplitInto(zip.FileMasks(), flat);
        zip.AddFiles();
        zip.Options.Recurse = true;
        zip.Options.SearchAttr = 63;
        zip.FileMasks().Clear();
        SplitInto(zip.FileMasks(), recursive);
        zip.AddFiles();
        zip.EndUpdate();
        std::printf("entries: %d written: %d\n", zip.Count(), zip.ItemsProcessed());
        if (append) std::printf("mode: %d\n", static_cast<int>(zip.SpanningMode()));
        zip.CloseArchive();
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
    return 0;
}
