// splitbench FOLDER [--files N] [--rounds R]
// Makes N small files (1 to 200 bytes, 1,000 per folder; default 10,000)
// under FOLDER, then commits them R times (default 5) as one archive and as
// a split one (100 MB volumes), in turn, and prints the median time of each,
// their ratio and how often the split commit asked for the disk's free space
// per file. Removes what it made. Exit code 0 only when every commit wrote
// every file.
#include "BenchUtil.h"
#include "BenchZip.h"
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace krv;

namespace {

struct Result {
    double seconds = 0;
    int64_t queries = 0;
    int entries = 0;
};

Result Commit(const std::string& archive, const std::string& folder, bool split) {
    TZipArchiver zip;
    Result r;
    bench::ArchiveFolder(zip, archive, folder, 9);
    zip.FreeSpace = [&](const std::string& path) {
        ++r.queries;
        return ZipFreeSpace(path);
    };
    if (split) {
        zip.SetSpanningMode(smSplitting);
        zip.SpanningOptions.VolumeSize = vs100MB;
    }
    double t0 = bench::Now();
    zip.OpenArchive(fmCreate);
    bench::AddEverything(zip);
    r.entries = zip.Count();
    zip.CloseArchive();
    r.seconds = bench::Now() - t0;
    ::DeleteFileA(archive.c_str());
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: splitbench FOLDER [--files N] [--rounds R]\n");
        return 2;
    }
    const std::string root = ZipTrailingSeparator(ZipExpandPath(argv[1], "")) + "splitbench\\";
    int files = 10000, rounds = 5;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--files") files = StrToIntDef(argv[i + 1], 0);
        else if (a == "--rounds") rounds = StrToIntDef(argv[i + 1], 0);
    }
    if (files <= 0 || rounds <= 0) return 2;
    const std::string src = root + "src\\";
    ::CreateDirectoryA(root.c_str(), nullptr);
    ::CreateDirectoryA(src.c_str(), nullptr);
    std::vector<std::string> made;
    for (int i = 0; i < files; ++i) {
        std::string folder = src + Format("d%04d\\", i / 1000);
        if (i % 1000 == 0) ::CreateDirectoryA(folder.c_str(), nullptr);
        std::string name = folder + Format("f%03d.txt", i % 1000), text;
        while (text.size() < static_cast<size_t>(i % 200 + 1)) text += Format("file %d ", i);
        text.resize(static_cast<size_t>(i % 200 + 1));
        TFileStream(name, fmCreate).WriteBuffer(text.data(), text.size());
        made.push_back(name);
    }
    std::vector<double> plain, split;
    int64_t queries = 0;
    bool whole = true;
    try {
        for (int r = 0; r < rounds; ++r) {
            Result p = Commit(root + "plain.zip", src, false);
            Result s = Commit(root + "split.zip", src, true);
            plain.push_back(p.seconds);
            split.push_back(s.seconds);
            queries = s.queries;
            whole = whole && p.entries == files && s.entries == files;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        whole = false;
    }
    for (const auto& name : made) ::DeleteFileA(name.c_str());
    for (int i = 0; i < files; i += 1000) ::RemoveDirectoryA((src + Format("d%04d", i / 1000)).c_str());
    ::RemoveDirectoryA(src.c_str());
    ::RemoveDirectoryA(root.c_str());
    if (plain.empty() || split.size() != plain.size()) return 1;
    const double p = Median(plain), s = Median(split);
    std::printf("files: %d rounds: %d\nunsplit: %.3f s\nsplit: %.3f s\nratio: %.2f\nfree-space queries: %lld (%.4f per file)\n",
                files, rounds, p, s, p > 0 ? s / p : 0.0, static_cast<long long>(queries),
                static_cast<double>(queries) / files);
    return whole ? 0 : 1;
}
