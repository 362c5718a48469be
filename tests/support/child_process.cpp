#include "support/child_process.h"

#include <stdexcept>

namespace test_support
{
std::filesystem::path executable_path()
{
    std::wstring buffer(32768, L'\0');
    buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
    return buffer;
}

std::wstring environment_value(const wchar_t* name)
{
    std::wstring value(32767, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

child_test_process::child_test_process(const std::string& test, const environment& extra,
                                       const std::filesystem::path& executable)
{
    const std::filesystem::path program = executable.empty() ? executable_path() : executable;
    std::wstring command_line = L"\"" + program.wstring() + L"\" --gtest_also_run_disabled_tests --gtest_brief=1 " +
                                L"--gtest_filter=" + std::wstring(test.begin(), test.end());

    // The extra variables, then the parent's environment without the names they override.
    std::wstring block;
    for (const auto& [name, value] : extra)
        block += name + L"=" + value + L'\0';
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry && *entry; entry += wcslen(entry) + 1)
    {
        bool overridden = false;
        for (const auto& [name, value] : extra)
            overridden = overridden || _wcsnicmp(entry, (name + L"=").c_str(), name.size() + 1) == 0;
        if (!overridden)
            block += std::wstring(entry) + L'\0';
    }
    FreeEnvironmentStringsW(strings);
    block += L'\0';

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        block.data(), nullptr, &startup, &info))
        throw std::runtime_error("CreateProcessW failed with error " + std::to_string(GetLastError()));
    CloseHandle(info.hThread);
    process_.reset(info.hProcess);
    id_ = info.dwProcessId;
}

DWORD child_test_process::wait(DWORD timeout_ms)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process_.get(), timeout_ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process_.get(), &code);
    else
    {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 10'000);
    }
    return code;
}
} // namespace test_support
