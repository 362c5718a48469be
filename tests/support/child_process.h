#pragma once
// A test executable started again as a child process that runs one test only. The child's test is
// named DISABLED_..., so an ordinary run skips it, and it reads what it needs from environment
// variables the parent sets.

#include "base/raii.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace test_support
{
// The full path of the running test executable.
std::filesystem::path executable_path();
// The value of an environment variable, empty when it is not set.
std::wstring environment_value(const wchar_t* name);

class child_test_process
{
public:
    using environment = std::vector<std::pair<std::wstring, std::wstring>>;

    // Starts `executable` (this test executable when empty) with --gtest_filter=<test> and the disabled
    // tests enabled, with the parent's environment plus `extra`. Throws std::runtime_error when the
    // process cannot be started.
    child_test_process(const std::string& test, const environment& extra = {},
                       const std::filesystem::path& executable = {});

    DWORD id() const noexcept { return id_; }
    HANDLE handle() const noexcept { return process_.get(); }
    // The exit code, or STILL_ACTIVE when the child did not end within the time-out (it is then killed).
    DWORD wait(DWORD timeout_ms = 120'000);

private:
    unique_handle process_;
    DWORD id_ = 0;
};
} // namespace test_support
