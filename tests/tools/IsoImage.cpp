#include "IsoImage.h"
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <tuple>

namespace {

constexpr uint32_t kSector = 2048;

struct Entry {
    std::string path;
    std::string isoName;       // "NAME.EXT;1"
    std::string jolietName;    // UTF-16BE bytes
    uint32_t size = 0;
    uint32_t extent = 0;
};

using Bytes = std::vector<uint8_t>;

void Put16Both(uint8_t* p, uint16_t v) {
    p[0] = v & 0xFF; p[1] = v >> 8; p[2] = v >> 8; p[3] = v & 0xFF;
}
void Put32LE(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF; }
void Put32BE(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * (3 - i))) & 0xFF; }
void Put32Both(uint8_t* p, uint32_t v) { Put32LE(p, v); Put32BE(p + 4, v); }
void PutText(uint8_t* p, size_t n, const std::string& s) {
    memset(p, ' ', n);
    memcpy(p, s.data(), std::min(n, s.size()));
}
void PutUcs2(uint8_t* p, size_t n, const std::string& s) {   // n bytes, blank-padded
    for (size_t i = 0; i + 1 < n; i += 2) { p[i] = 0; p[i + 1] = ' '; }
    for (size_t i = 0; i < s.size() && 2 * i + 1 < n; ++i) { p[2 * i] = 0; p[2 * i + 1] = static_cast<uint8_t>(s[i]); }
}

std::string BaseName(const std::string& path) {
    size_t p = path.find_last_of("\\/");
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string IsoName(const std::string& name) {
    std::string base = name, ext;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) { base = name.substr(0, dot); ext = name.substr(dot + 1); }
    auto clean = [](std::string s, size_t max) {
        for (char& c : s) {
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) c = '_';
        }
        return s.substr(0, max);
    };
    ext = clean(ext, 3);
    base = clean(base, 30 - 1 - ext.size());
    return base + "." + ext + ";1";
}

std::string Utf16Be(const std::string& ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), static_cast<int>(ansi.size()), w.data(), n);
    std::string out;
    for (wchar_t c : w) { out += static_cast<char>(c >> 8); out += static_cast<char>(c & 0xFF); }
    return out;
}

void RecordDate(uint8_t* p, const tm& t) {
    p[0] = static_cast<uint8_t>(t.tm_year); p[1] = static_cast<uint8_t>(t.tm_mon + 1);
    p[2] = static_cast<uint8_t>(t.tm_mday); p[3] = static_cast<uint8_t>(t.tm_hour);
    p[4] = static_cast<uint8_t>(t.tm_min); p[5] = static_cast<uint8_t>(t.tm_sec); p[6] = 0;
}

void VolumeDate(uint8_t* p, const tm* t) {
    if (!t) { memset(p, '0', 16); p[16] = 0; return; }
    char buf[20];
    snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d00", t->tm_year + 1900, t->tm_mon + 1, t->tm_mday,
             t->tm_hour, t->tm_min, t->tm_sec);
    memcpy(p, buf, 16);
    p[16] = 0;
}

// One directory record; answers its length.
size_t DirRecord(uint8_t* p, const std::string& id, uint32_t extent, uint32_t size, bool dir, const tm& t) {
    size_t len = 33 + id.size();
    if (len & 1) ++len;
    memset(p, 0, len);
    p[0] = static_cast<uint8_t>(len);
    Put32Both(p + 2, extent);
    Put32Both(p + 10, size);
    RecordDate(p + 18, t);
    p[25] = dir ? 2 : 0;
    Put16Both(p + 28, 1);
    p[32] = static_cast<uint8_t>(id.size());
    memcpy(p + 33, id.data(), id.size());
    return len;
}

// Lays the records into sectors (a record never crosses a sector end).
Bytes DirectoryBytes(const std::vector<Entry>& entries, bool joliet, uint32_t selfExtent, uint32_t sectors, const tm& t) {
    Bytes out(sectors * kSector, 0);
    size_t pos = 0;
    uint8_t rec[256];
    auto add = [&](size_t len) {
        if (pos / kSector != (pos + len - 1) / kSector) pos = (pos / kSector + 1) * kSector;
        memcpy(out.data() + pos, rec, len);
        pos += len;
    };
    add(DirRecord(rec, std::string(1, '\0'), selfExtent, sectors * kSector, true, t));
    add(DirRecord(rec, std::string(1, '\1'), selfExtent, sectors * kSector, true, t));
    for (const Entry& e : entries) add(DirRecord(rec, joliet ? e.jolietName : e.isoName, e.extent, e.size, false, t));
    return out;
}

uint32_t DirectorySectors(const std::vector<Entry>& entries, bool joliet) {
    size_t pos = 34 * 2;
    for (const Entry& e : entries) {
        size_t len = 33 + (joliet ? e.jolietName : e.isoName).size();
        if (len & 1) ++len;
        if (pos / kSector != (pos + len - 1) / kSector) pos = (pos / kSector + 1) * kSector;
        pos += len;
    }
    return static_cast<uint32_t>((pos + kSector - 1) / kSector);
}

Bytes PathTable(uint32_t rootExtent, bool bigEndian) {
    Bytes t(10, 0);
    t[0] = 1;
    if (bigEndian) Put32BE(&t[2], rootExtent); else Put32LE(&t[2], rootExtent);
    t[bigEndian ? 7 : 6] = 1;   // parent directory number
    return t;
}

void VolumeDescriptor(uint8_t* d, bool joliet, const std::string& volumeId, uint32_t totalSectors,
                      uint32_t lTable, uint32_t mTable, uint32_t rootExtent, uint32_t rootSectors, const tm& t) {
    memset(d, 0, kSector);
    d[0] = joliet ? 2 : 1;
    memcpy(d + 1, "CD001", 5);
    d[6] = 1;
    if (joliet) {
        PutUcs2(d + 8, 32, "");
        PutUcs2(d + 40, 32, volumeId.substr(0, 16));
        d[88] = '%'; d[89] = '/'; d[90] = 'E';   // UCS-2 level 3
    } else {
        PutText(d + 8, 32, "");
        PutText(d + 40, 32, volumeId);
    }
    Put32Both(d + 80, totalSectors);
    Put16Both(d + 120, 1);
    Put16Both(d + 124, 1);
    Put16Both(d + 128, static_cast<uint16_t>(kSector));
    Put32Both(d + 132, 10);
    Put32LE(d + 140, lTable);
    Put32BE(d + 148, mTable);
    DirRecord(d + 156, std::string(1, '\0'), rootExtent, rootSectors * kSector, true, t);
    for (size_t off : {190u, 318u, 446u, 574u}) {
        if (joliet) PutUcs2(d + off, 128, ""); else PutText(d + off, 128, "");
    }
    for (size_t off : {702u, 739u, 776u}) {
        if (joliet) PutUcs2(d + off, 37, ""), d[off + 36] = 0; else PutText(d + off, 37, "");
    }
    VolumeDate(d + 813, &t);
    VolumeDate(d + 830, &t);
    VolumeDate(d + 847, nullptr);
    VolumeDate(d + 864, nullptr);
    d[881] = 1;
}

}  // namespace

bool WriteIsoImage(const std::string& imagePath, const std::string& volumeId,
                   const std::vector<std::string>& files, std::string& error) {
    std::vector<Entry> entries;
    for (const std::string& f : files) {
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (!GetFileAttributesExA(f.c_str(), GetFileExInfoStandard, &a)) {
            error = "cannot stat " + f;
            return false;
        }
        if (a.nFileSizeHigh != 0) {
            error = "file too large for one extent: " + f;
            return false;
        }
        Entry e;
        e.path = f;
        e.size = a.nFileSizeLow;
        e.isoName = IsoName(BaseName(f));
        e.jolietName = Utf16Be(BaseName(f));
        entries.push_back(e);
    }
    // Primary and Joliet trees each sorted by their own identifiers.
    std::vector<Entry> joliet = entries;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.isoName < b.isoName; });
    std::sort(joliet.begin(), joliet.end(), [](const Entry& a, const Entry& b) { return a.jolietName < b.jolietName; });

    const uint32_t lTable = 19, mTable = 20, jlTable = 21, jmTable = 22;
    uint32_t rootExtent = 23;
    uint32_t rootSectors = DirectorySectors(entries, false);
    uint32_t jRootExtent = rootExtent + rootSectors;
    uint32_t jRootSectors = DirectorySectors(joliet, true);
    uint32_t next = jRootExtent + jRootSectors;
    for (Entry& e : entries) {
        e.extent = next;
        next += (e.size + kSector - 1) / kSector;
        for (Entry& j : joliet)
            if (j.path == e.path) j.extent = e.extent;
    }
    uint32_t total = next;

    time_t now = time(nullptr);
    tm t = *gmtime(&now);

    FILE* out = fopen(imagePath.c_str(), "wb");
    if (!out) {
        error = "cannot create " + imagePath;
        return false;
    }
    Bytes head(23 * kSector, 0);
    VolumeDescriptor(&head[16 * kSector], false, volumeId, total, lTable, mTable, rootExtent, rootSectors, t);
    VolumeDescriptor(&head[17 * kSector], true, volumeId, total, jlTable, jmTable, jRootExtent, jRootSectors, t);
    uint8_t* term = &head[18 * kSector];
    term[0] = 255; memcpy(term + 1, "CD001", 5); term[6] = 1;
    for (auto [sector, extent, big] : {std::tuple{lTable, rootExtent, false}, {mTable, rootExtent, true},
                                       {jlTable, jRootExtent, false}, {jmTable, jRootExtent, true}}) {
        Bytes pt = PathTable(extent, big);
        memcpy(&head[sector * kSector], pt.data(), pt.size());
    }
    bool ok = fwrite(head.data(), 1, head.size(), out) == head.size();
    Bytes dir = DirectoryBytes(entries, false, rootExtent, rootSectors, t);
    ok = ok && fwrite(dir.data(), 1, dir.size(), out) == dir.size();
    dir = DirectoryBytes(joliet, true, jRootExtent, jRootSectors, t);
    ok = ok && fwrite(dir.data(), 1, dir.size(), out) == dir.size();
    std::vector<char> buf(1 << 16);
    for (const Entry& e : entries) {
        FILE* in = fopen(e.path.c_str(), "rb");
        if (!in) { ok = false; break; }
        uint32_t copied = 0;
        size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), in)) > 0) {
            ok = ok && fwrite(buf.data(), 1, n, out) == n;
            copied += static_cast<uint32_t>(n);
        }
        fclose(in);
        if (copied != e.size) ok = false;
        uint32_t pad = (kSector - e.size % kSector) % kSector;
        std::vector<char> zeros(pad, 0);
        if (pad) ok = ok && fwrite(zeros.data(), 1, pad, out) == pad;
    }
    ok = (fclose(out) == 0) && ok;
    if (!ok) error = "write failed: " + imagePath;
    return ok;
}
