#include "diagnostics/log.h"

std::wstring hresult_message(HRESULT code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0,
        nullptr);
    if (length == 0 || buffer == nullptr)
    {
        if (buffer)
            LocalFree(buffer);
        return L"unable to get message from FormatMessage";
    }
    std::wstring text;
    try
    {
        text.assign(buffer, length);
    }
    catch (...)
    {
        LocalFree(buffer);
        throw;
    }
    LocalFree(buffer);
    const auto end = text.find_last_not_of(L" \t\r\n\v\f");
    text.erase(end == std::wstring::npos ? 0 : end + 1);
    return text;
}

std::string hresult_message_narrow(HRESULT code)
{
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0,
        nullptr);
    if (length == 0 || buffer == nullptr)
    {
        if (buffer)
            LocalFree(buffer);
        return "Unknown HRESULT error.";
    }
    std::string text;
    try
    {
        text.assign(buffer, length);
    }
    catch (...)
    {
        LocalFree(buffer);
        throw;
    }
    LocalFree(buffer);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    for (auto at = text.find("%1 "); at != std::string::npos; at = text.find("%1 ", at))
        text.erase(at, 3);
    return text;
}

slow_operation_timer::slow_operation_timer(std::wstring name) noexcept : name_(std::move(name))
{
    QueryPerformanceCounter(&start_);
}

long long slow_operation_timer::elapsed_ms() const noexcept
{
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const long long ticks = now.QuadPart - start_.QuadPart;
    // Whole nanoseconds first, then truncated to milliseconds.
    const long long ns = static_cast<long long>(static_cast<long double>(ticks) * 1e9L / frequency.QuadPart);
    return ns / 1'000'000;
}

slow_operation_timer::~slow_operation_timer()
{
    try
    {
        const long long ms = elapsed_ms();
        if (ms >= threshold_ms)
            log_message(log_level::warning, L"[SLOW {}ms] {}", ms, name_);
    }
    catch (...)
    {
    }
}
