#include "base/log.h"

#include <memory>
#include <type_traits>

namespace
{
struct local_free
{
    void operator()(void* memory) const noexcept { LocalFree(memory); }
};

// The system's text for the code as FormatMessage gives it, line break included; empty when it has none.
template <class Char>
std::basic_string<Char> system_text(HRESULT code)
{
    constexpr DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    constexpr DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    Char* buffer = nullptr;
    DWORD length = 0;
    if constexpr (std::is_same_v<Char, wchar_t>)
        length = FormatMessageW(flags, nullptr, static_cast<DWORD>(code), language, reinterpret_cast<LPWSTR>(&buffer),
                                0, nullptr);
    else
        length = FormatMessageA(flags, nullptr, static_cast<DWORD>(code), language, reinterpret_cast<LPSTR>(&buffer),
                                0, nullptr);
    const std::unique_ptr<Char, local_free> owner(buffer);
    if (length == 0 || buffer == nullptr)
        return {};
    return std::basic_string<Char>(buffer, length);
}
} // namespace

std::wstring hresult_message(HRESULT code)
{
    std::wstring text = system_text<wchar_t>(code);
    if (text.empty())
        return L"unable to get message from FormatMessage";
    const auto end = text.find_last_not_of(L" \t\r\n\v\f");
    text.erase(end == std::wstring::npos ? 0 : end + 1);
    return text;
}

std::string hresult_message_narrow(HRESULT code)
{
    std::string text = system_text<char>(code);
    if (text.empty())
        return "Unknown HRESULT error.";
    if (text.back() == '\n')
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
