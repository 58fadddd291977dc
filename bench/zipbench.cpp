// zipbench ARCHIVE FOLDER [--level N] [--password TEXT] [--volume-size BYTES]
//          [--include MASKS] [--exclude MASKS]
// Archives FOLDER recursively (names relative to it) and prints the time,
// throughput and archive size. Exit code 0 only when the archive was written whole.
#include "BenchUtil.h"
#include "BenchZip.h"
#include <windows.h>
#include <cstdio>
#include <cstring>

using namespace krv;
using bench::SplitInto;

namespace {

int Usage() {
    std::fprintf(stderr, "usage: zipbench ARCHIVE FOLDER [--level N] [--password TEXT] [--volume-size BYTES] "
                         "[--include MASKS] [--exclude MASKS]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    std::string archive = argv[1], folder = argv[2], include = "*.*", exclude, password;
    int level = 9;
    int64_t volumeSize = 0;
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        std::string v = argv[++i];
        if (a == "--level") level = StrToIntDef(v, -1);
        else if (a == "--password") password = v;
        else if (a == "--volume-size") volumeSize = StrToInt64Def(v, -1);
        else if (a == "--include") include = v;
        else if (a == "--exclude") exclude = v;
        else return Usage();
    }
    if (level < 0 || level > 9 || volumeSize < 0) return Usage();

    TZipArchiver zip;
    int failures = 0;
    uint64_t bytes = 0;
    try {
        zip.SetZip64Mode(zmAuto);
        bench::ArchiveFolder(zip, ZipExpandPath(archive, ""), ZipExpandPath(folder, ""), level);
        zip.Password = password;
        if (volumeSize > 0) {
            zip.SetSpanningMode(smSplitting);
            zip.SpanningOptions.AdvancedNaming = false;
            zip.SpanningOptions.VolumeSize = vsCustom;
            zip.SpanningOptions.SetCustomVolumeSize(volumeSize);
        }
        zip.OnProcessFileFailure = [&](TObject*, const std::string& name, TZipProcessOperation, int native, int code,
                                       const std::string& message, TZipAction& action) {
            std::fprintf(stderr, "failed: %s (native %d, code %d): %s\n", name.c_str(), native, code, message.c_str());
            ++failures;
            action = fxaIgnore;
        };
        LARGE_INTEGER freq, t0, t1;
        ::QueryPerformanceFrequency(&freq);
        ::QueryPerformanceCounter(&t0);
        zip.OpenArchive(fmCreate);
        zip.BeginUpdate();
        SplitInto(zip.FileMasks(), include);
        SplitInto(zip.ExclusionMasks(), exclude);
        zip.AddFiles();
        LARGE_INTEGER tSearch;
        ::QueryPerformanceCounter(&tSearch);
        zip.EndUpdate();
        ::QueryPerformanceCounter(&t1);
        for (int i = 0; i < zip.Count(); ++i) bytes += zip.Items(i).uncompressedSize;
        int entries = zip.Count();
        zip.CloseArchive();
        int64_t size = 0;
        for (uint32_t n = 0; volumeSize > 0; ++n) {
            int64_t s = FileSizeOf(ZipVolumeFileName(zip.FileName, n, smSplitting, false, false));
            if (s < 0) break;
            size += s;
        }
        size += FileSizeOf(zip.FileName);
        double seconds = static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart);
        double search = static_cast<double>(tSearch.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart);
        std::printf("entries: %d\nbytes in: %llu\nsearch: %.3f s\ntime: %.3f s\n", entries,
                    static_cast<unsigned long long>(bytes), search, seconds);
        std::printf("MB/s: %.2f size: %lld\n", seconds > 0 ? bytes / 1e6 / seconds : 0.0, static_cast<long long>(size));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
