// Scripts the console stand-ins (build/tests/tools) for one test: a scratch
// folder holding the script and the log of the command lines they received,
// handed to them through the environment.
#pragma once
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include <windows.h>
#include <fstream>
#include <string>
#include <vector>

class StandInFixture {
public:
    StandInFixture() {
        char tmp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, tmp);
        dir_ = krv::Format("%skrv_standin_%lu_%d\\", tmp, ::GetCurrentProcessId(), counter_++);
        ::CreateDirectoryA(dir_.c_str(), nullptr);
        ::SetEnvironmentVariableA("KRV_STANDIN_SCRIPT", (dir_ + "standin.script").c_str());
        ::SetEnvironmentVariableA("KRV_STANDIN_LOG", (dir_ + "standin.log").c_str());
    }
    ~StandInFixture() {
        ::SetEnvironmentVariableA("KRV_STANDIN_SCRIPT", nullptr);
        ::SetEnvironmentVariableA("KRV_STANDIN_LOG", nullptr);
        RemoveTree(dir_);
    }
    StandInFixture(const StandInFixture&) = delete;
    StandInFixture& operator=(const StandInFixture&) = delete;

    // The scratch folder, with a trailing "\".
    const std::string& Dir() const { return dir_; }
    static std::string ToolsDir() { return krv::ProgramFolder() + "tools\\"; }
    static std::string Tool(const std::string& name) { return ToolsDir() + name + ".exe"; }
    void Script(const std::string& text) const {
        std::ofstream(dir_ + "standin.script", std::ios::binary) << text;
    }
    // Every command line the stand-ins received, in order.
    std::vector<std::string> Calls() const {
        std::vector<std::string> calls;
        std::ifstream in(dir_ + "standin.log");
        std::string line;
        while (std::getline(in, line)) calls.push_back(line);
        return calls;
    }
    void WriteFile(const std::string& path, const std::string& bytes) const {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    static void RemoveTree(const std::string& dir) {
        WIN32_FIND_DATAA fd;
        krv::FindHandle h(::FindFirstFileA((dir + "*").c_str(), &fd));
        if (h) {
            do {
                std::string n = fd.cFileName;
                if (n == "." || n == "..") continue;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(dir + n + "\\");
                else
                    ::DeleteFileA((dir + n).c_str());
            } while (::FindNextFileA(h.get(), &fd));
        }
        ::RemoveDirectoryA(dir.c_str());
    }

private:
    static inline int counter_ = 0;
    std::string dir_;
};
