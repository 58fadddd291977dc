// Scripts the console stand-ins (build/tests/tools) for one test: a scratch
// folder holding the script and the log of the command lines they received,
// handed to them through the environment.
#pragma once
#include "framework/Handle.h"
#include "TempFolder.h"
#include "framework/SysUtils.h"
#include <windows.h>
#include <fstream>
#include <string>
#include <vector>

class StandInFixture {
public:
    StandInFixture() : dir_(krvtest::NewTempFolder("krv_standin")) {
        ::SetEnvironmentVariableA("KRV_STANDIN_SCRIPT", (dir_ + "standin.script").c_str());
        ::SetEnvironmentVariableA("KRV_STANDIN_LOG", (dir_ + "standin.log").c_str());
    }
    ~StandInFixture() {
        ::SetEnvironmentVariableA("KRV_STANDIN_SCRIPT", nullptr);
        ::SetEnvironmentVariableA("KRV_STANDIN_LOG", nullptr);
        krvtest::RemoveFolderTree(dir_);
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

private:
    std::string dir_;
};
