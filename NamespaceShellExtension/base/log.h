#pragma once
// The daily diagnostic log: one plain-text UTF-8 file per day and component, shared by every process
// that loads the DLL. Each line is appended and flushed in a single write, so lines of different
// threads and processes interleave whole.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <fmt/xchar.h>

enum class log_level : int
{
    debug = 0,
    info = 1,
    warning = 2,
    error = 3,
    critical = 4,
};

// "DEBUG" ... "CRITICAL"; any other value reads "UNKNOWN".
std::string_view log_level_text(log_level level) noexcept;

// An HRESULT as the unsigned 32-bit value that "0x{:X}" and "{:#X}" print (HRESULT is a signed LONG).
constexpr std::uint32_t hresult_bits(HRESULT hr) noexcept
{
    return static_cast<std::uint32_t>(hr);
}

class plain_text_logger
{
public:
    plain_text_logger() noexcept = default;
    ~plain_text_logger();
    plain_text_logger(const plain_text_logger&) = delete;
    plain_text_logger& operator=(const plain_text_logger&) = delete;

    // Builds %LOCALAPPDATA%\Quenbrook\Velmora\<application>\<component>\Logs, creates it and opens
    // "<component> YYYY-MM-DD.log" for appending. Only the first call opens; later calls do nothing.
    // Never throws: when the folder or the file cannot be made the log stays closed and lines are dropped.
    void open(std::wstring_view application, std::wstring_view component) noexcept;

    // Opens an explicit file (tests and benchmarks). Same rules as open().
    void open_file(const std::filesystem::path& file) noexcept;

    // Appends the finished line (given without its line feed) and a line feed in one write.
    void write_line(std::string line) noexcept;

    bool is_open() const noexcept;
    std::filesystem::path file_path() const;

private:
    mutable std::mutex mutex_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    bool opened_ = false;
    bool open_attempted_ = false;
    std::filesystem::path path_;
};

// The process-wide logger.
plain_text_logger& process_logger() noexcept;

// Opens the log of this DLL: application "Sortwell", component "Namespace".
void open_log() noexcept;

namespace log_detail
{
std::string line_prefix(log_level level);
void write_narrow(log_level level, std::string_view message);
void write_wide(log_level level, std::wstring_view message);
} // namespace log_detail

// Writes "[date time.fffffff] [P:pid T:tid] [LEVEL] " and the formatted message as one line. Never
// throws, so that any code may log, noexcept functions and destructors included: a line that cannot be
// made (memory exhausted) or written is dropped.
template <class... Args>
void log_message(log_level level, fmt::wformat_string<Args...> format, Args&&... args) noexcept
{
    try
    {
        log_detail::write_wide(level, fmt::format(format, std::forward<Args>(args)...));
    }
    catch (...)
    {
    }
}

template <class... Args>
void log_message(log_level level, fmt::format_string<Args...> format, Args&&... args) noexcept
{
    try
    {
        log_detail::write_narrow(level, fmt::format(format, std::forward<Args>(args)...));
    }
    catch (...)
    {
    }
}

// Inside a catch block only: logs the exception being handled at level ERROR as "<who>: exception: "
// followed by its text, or "<who>: unknown exception" for one that is not a standard exception. A line
// that cannot be written is dropped.
void log_caught_exception(const char* who) noexcept;

// The system's text for an HRESULT, trailing white space removed, or
// "unable to get message from FormatMessage".
std::wstring hresult_message(HRESULT code);

// The same through the ANSI API; "Unknown HRESULT error." when there is none. One trailing line feed and
// then one trailing carriage return are removed, and every "%1 " is taken out.
std::string hresult_message_narrow(HRESULT code);

// Warns "[SLOW {}ms] {}" when the scope it guards ran for 50 ms or more.
class slow_operation_timer
{
public:
    explicit slow_operation_timer(std::wstring name) noexcept;
    ~slow_operation_timer();
    slow_operation_timer(const slow_operation_timer&) = delete;
    slow_operation_timer& operator=(const slow_operation_timer&) = delete;

    static constexpr long long threshold_ms = 50;

    // The elapsed whole milliseconds so far.
    long long elapsed_ms() const noexcept;

private:
    std::wstring name_;
    LARGE_INTEGER start_{};
};

// UTF-16 <-> UTF-8 conversions used by the log and by the settings files.
std::string to_utf8(std::wstring_view text);
std::wstring from_utf8(std::string_view text);
