#include "support/child_process.h"

#include <stdexcept>

namespace test_support
{
std::filesystem::path executable_path()
{
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(length);
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

    // The parent's environment block with the extra variables in front (the first of a name wins).
    std::wstring block;
    for (const auto& [name, value] : extra)
        block += name + L"=" + value + L'\0';
    if (wchar_t* strings = GetEnvironmentStringsW())
    {
        const wchar_t* entry = strings;
        while (*entry)
        {
            const std::wstring text(entry);
            bool overridden = false;
            for (const auto& [name, value] : extra)
                overridden = overridden || (_wcsnicmp(text.c_str(), (name + L"=").c_str(), name.size() + 1) == 0);
            if (!overridden)
                block += text + L'\0';
            entry += text.size() + 1;
        }
        FreeEnvironmentStringsW(strings);
    }
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
    if (WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0)
    {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 10'000);
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}
} // namespace test_support
