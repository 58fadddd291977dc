// The main window holds a shell folder tree: as in korvane.exe, COM and the
// shell components' special-folder items live for the whole test run.
#include "framework/Handle.h"
#include "shell/base/ShellUtils.h"
#include <gtest/gtest.h>
#include <memory>

namespace {
class ShellEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        com_ = std::make_unique<krv::ComInit>();
        shell_ = std::make_unique<krv::TShellUtilitiesScope>();
    }
    void TearDown() override {
        shell_.reset();
        com_.reset();
    }

private:
    std::unique_ptr<krv::ComInit> com_;
    std::unique_ptr<krv::TShellUtilitiesScope> shell_;
};
[[maybe_unused]] auto* const g_shellEnvironment = ::testing::AddGlobalTestEnvironment(new ShellEnvironment);
} // namespace
