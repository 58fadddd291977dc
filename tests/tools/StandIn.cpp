// Stand-in for the image maker and the disc recorder console programs. The
// same source builds mkisofs.exe and cdrecord.exe; the file name decides the
// defaults. Each start appends its whole command line to the log file, then
// plays the section of the script that matches it.
//
// Files: the script is %KRV_STANDIN_SCRIPT% or "standin.script" beside the
// program; the log is %KRV_STANDIN_LOG% or "standin.log" beside the program.
//
// Script: sections headed "[<program> <text>]" apply when the program's name
// matches and <text> occurs in its arguments (empty text: any call). The first
// header that matches wins; when the same header appears several times, the
// n-th call matching it plays the n-th such section (the last one repeats).
// Directives, one per line ("#" starts a comment):
//   out TEXT     print TEXT and a line feed on standard output
//   err TEXT     the same on standard error
//   raw TEXT     print TEXT without a line end
//   read         wait for one input line and print "read: " + the line
//   wait         wait for one input line, print nothing
//   sleep MS     pause
//   iso          (image maker) write the image named by -o from the listed files
//   burn [PATH]  (recorder) copy the image, its last argument, to PATH or to
//                %KRV_STANDIN_DISC% (nothing when neither is given): the "disc"
//   exit CODE    end with CODE (the end of the section ends with 0)
//   crash        end as a program killed by an access violation
// TEXT takes the escapes \t \r \n \\ and \xHH.
// Without a matching section the defaults play: the image maker writes the
// image, the recorder finds one writer on 0,0,0 and blanks or burns fine.
#include "IsoImage.h"
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ProgramPath() {
    char buf[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    return std::string(buf, n);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string ProgramName() {
    std::string p = Lower(ProgramPath());
    size_t slash = p.find_last_of("\\/");
    p = p.substr(slash + 1);
    if (p.size() > 4 && p.substr(p.size() - 4) == ".exe") p.resize(p.size() - 4);
    return p;
}

std::string Beside(const std::string& name) {
    std::string p = ProgramPath();
    return p.substr(0, p.find_last_of("\\/") + 1) + name;
}

std::string FileSetting(const char* var, const char* name) {
    const char* v = getenv(var);
    return v && *v ? std::string(v) : Beside(name);
}

// The arguments after the program path, as the raw command line holds them.
std::string ArgumentsOf(const std::string& commandLine) {
    size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        i = commandLine.find('"', 1);
        i = i == std::string::npos ? commandLine.size() : i + 1;
    } else {
        while (i < commandLine.size() && commandLine[i] != ' ' && commandLine[i] != '\t') ++i;
    }
    while (i < commandLine.size() && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
    return commandLine.substr(i);
}

std::string ProgramOf(const std::string& commandLine) {
    std::string p = commandLine.substr(0, commandLine.size() - ArgumentsOf(commandLine).size());
    while (!p.empty() && (p.back() == ' ' || p.back() == '"' || p.back() == '\t')) p.pop_back();
    p = Lower(p);
    size_t slash = p.find_last_of("\\/");
    if (slash != std::string::npos) p = p.substr(slash + 1);
    if (p.size() > 4 && p.substr(p.size() - 4) == ".exe") p.resize(p.size() - 4);
    return p;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) { out += s[i]; continue; }
        char c = s[++i];
        if (c == 't') out += '\t';
        else if (c == 'r') out += '\r';
        else if (c == 'n') out += '\n';
        else if (c == 'x' && i + 2 < s.size() + 1) {
            out += static_cast<char>(strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else out += c;
    }
    return out;
}

struct Section {
    std::string program, text;
    std::vector<std::string> lines;
};

std::vector<Section> ReadScript(std::istream& in) {
    std::vector<Section> sections;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[' && line.back() == ']') {
            std::string head = line.substr(1, line.size() - 2);
            size_t sp = head.find(' ');
            Section s;
            s.program = Lower(head.substr(0, sp));
            s.text = sp == std::string::npos ? "" : head.substr(sp + 1);
            sections.push_back(s);
        } else if (!sections.empty()) {
            sections.back().lines.push_back(line);
        }
    }
    return sections;
}

bool Matches(const Section& s, const std::string& program, const std::string& args) {
    return s.program == program && args.find(s.text) != std::string::npos;
}

// Earlier calls recorded in the log (before this one) that match the header.
int EarlierCalls(const std::vector<std::string>& log, const Section& s) {
    int n = 0;
    for (const std::string& cmd : log)
        if (Matches(s, ProgramOf(cmd), ArgumentsOf(cmd))) ++n;
    return n;
}

const Section* PickSection(const std::vector<Section>& sections, const std::vector<std::string>& log,
                           const std::string& program, const std::string& args) {
    for (const Section& s : sections) {
        if (!Matches(s, program, args)) continue;
        std::vector<const Section*> same;
        for (const Section& o : sections)
            if (o.program == s.program && o.text == s.text) same.push_back(&o);
        size_t n = static_cast<size_t>(EarlierCalls(log, s));
        return same[std::min(n, same.size() - 1)];
    }
    return nullptr;
}

void Print(FILE* f, const std::string& s) {
    fwrite(s.data(), 1, s.size(), f);
    fflush(f);
}

int MakeImage(int argc, char** argv) {
    std::string output, volume = "CDROM";
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-o" && i + 1 < argc) output = argv[++i];
        else if (a == "-V" && i + 1 < argc) volume = argv[++i];
        else if (a == "-iso-level" && i + 1 < argc) ++i;
        else if (!a.empty() && a[0] == '-') continue;
        else files.push_back(a);
    }
    if (output.empty()) {
        Print(stderr, "mkisofs: no output file given\n");
        return 1;
    }
    Print(stderr, "Using " + std::to_string(files.size()) + " input files\n");
    std::string error;
    if (!WriteIsoImage(output, volume, files, error)) {
        Print(stderr, "mkisofs: " + error + "\n");
        return 1;
    }
    Print(stderr, "100.00% done\nTotal extents written\n");
    return 0;
}

const char* kDefaultScript =
    "[mkisofs]\n"
    "iso\n"
    "[cdrecord --scanbus]\n"
    "out scsibus0:\n"
    "out \\t0,0,0\\t  0) 'STANDIN ' 'DVD-RW WRITER   ' '1.00' Removable CD-ROM\n"
    "out \\t0,1,0\\t  1) *\n"
    "[cdrecord -checkdrive]\n"
    "out Device type    : Removable CD-ROM\n"
    "[cdrecord blank=]\n"
    "out Last chance to quit... starting real write in 2 seconds.\n"
    "out Blanking time:    1.000s\n"
    "[cdrecord -dao]\n"
    "out Last chance to quit... starting real write in 2 seconds.\n"
    "burn\n"
    "out Track 01:    1 of    1 MB written.\n"
    "out Fixating...\n";

std::vector<Section> DefaultSections() {
    std::istringstream in(kDefaultScript);
    return ReadScript(in);
}

}  // namespace

int main(int argc, char** argv) {
    // The real programs write bare line feeds; so do we.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const std::string commandLine = GetCommandLineA();
    const std::string program = ProgramName();
    const std::string args = ArgumentsOf(commandLine);
    const std::string logPath = FileSetting("KRV_STANDIN_LOG", "standin.log");

    std::vector<std::string> log;
    {
        std::ifstream in(logPath);
        std::string l;
        while (std::getline(in, l)) log.push_back(l);
    }
    {
        std::ofstream out(logPath, std::ios::app | std::ios::binary);
        out << commandLine << "\n";
    }

    std::ifstream script(FileSetting("KRV_STANDIN_SCRIPT", "standin.script"));
    std::vector<Section> sections = ReadScript(script);
    const Section* section = PickSection(sections, log, program, args);
    std::vector<Section> defaults;
    if (!section) {
        defaults = DefaultSections();
        section = PickSection(defaults, {}, program, args);
    }
    if (!section) return 0;

    for (const std::string& line : section->lines) {
        size_t sp = line.find(' ');
        std::string cmd = line.substr(0, sp);
        std::string rest = sp == std::string::npos ? "" : Unescape(line.substr(sp + 1));
        if (cmd == "out") Print(stdout, rest + "\n");
        else if (cmd == "err") Print(stderr, rest + "\n");
        else if (cmd == "raw") Print(stdout, rest);
        else if (cmd == "sleep") Sleep(static_cast<DWORD>(atoi(rest.c_str())));
        else if (cmd == "read" || cmd == "wait") {
            std::string in;
            int c;
            while ((c = fgetc(stdin)) != EOF && c != '\n')
                if (c != '\r') in += static_cast<char>(c);
            if (cmd == "read") Print(stdout, "read: " + in + "\n");
        } else if (cmd == "iso") {
            int rc = MakeImage(argc, argv);
            if (rc) return rc;
        } else if (cmd == "burn") {
            const char* disc = getenv("KRV_STANDIN_DISC");
            std::string target = !rest.empty() ? rest : disc ? disc : "";
            if (!target.empty() && argc > 1 && !CopyFileA(argv[argc - 1], target.c_str(), FALSE)) {
                Print(stderr, "Could not write Lead-in\n");
                return 1;
            }
        } else if (cmd == "exit") return atoi(rest.c_str());
        else if (cmd == "crash") {
            TerminateProcess(GetCurrentProcess(), 0xC0000005u);
        }
    }
    return 0;
}
