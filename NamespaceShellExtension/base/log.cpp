#include "base/log.h"

#include "base/known_folders.h"
#include "base/process_object.h"

#include <system_error>

namespace
{
// Local time of the system's current time zone at 100 ns resolution: "2026-12-04 13:26:16.1234567".
std::string local_timestamp()
{
    FILETIME utc{};
    GetSystemTimePreciseAsFileTime(&utc);
    FILETIME local{};
    if (!FileTimeToLocalFileTime(&utc, &local))
        local = utc;
    SYSTEMTIME st{};
    FileTimeToSystemTime(&local, &st);
    const auto ticks = (static_cast<std::uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:07}", st.wYear, st.wMonth, st.wDay, st.wHour,
                       st.wMinute, st.wSecond, ticks % 10'000'000);
}

// NTFS appends each write on an append-only handle whole, but Wine finds the end of the file and
// writes in two steps, and network file systems need not be atomic either: two processes appending at
// once then overwrite parts of each other's lines. Every process that logs here takes an exclusive
// lock on one byte far past any real end of the file around its write. A writer that holds it too
// long (a stuck process elsewhere) is given up on after a short wait: a log line must never hang the
// shell, and an interleaved line is the lesser harm.
constexpr DWORD append_lock_offset_high = 0x7FFFFFFF;
constexpr DWORD append_lock_offset_low = 0xFFFFFFFE;
constexpr ULONGLONG append_lock_patience_ms = 100;

bool lock_appends(HANDLE file) noexcept
{
    OVERLAPPED at{};
    at.Offset = append_lock_offset_low;
    at.OffsetHigh = append_lock_offset_high;
    const ULONGLONG deadline = GetTickCount64() + append_lock_patience_ms;
    for (int attempt = 0;; ++attempt)
    {
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return true;
        if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() >= deadline)
            return false;
        Sleep(attempt < 16 ? 0 : 1);
    }
}

void unlock_appends(HANDLE file) noexcept
{
    OVERLAPPED at{};
    at.Offset = append_lock_offset_low;
    at.OffsetHigh = append_lock_offset_high;
    UnlockFileEx(file, 0, 1, 0, &at);
}

std::wstring local_date()
{
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return fmt::format(L"{:04}-{:02}-{:02}", st.wYear, st.wMonth, st.wDay);
}
} // namespace

std::string_view log_level_text(log_level level) noexcept
{
    switch (level)
    {
    case log_level::debug: return "DEBUG";
    case log_level::info: return "INFO";
    case log_level::warning: return "WARNING";
    case log_level::error: return "ERROR";
    case log_level::critical: return "CRITICAL";
    }
    return "UNKNOWN";
}

plain_text_logger::~plain_text_logger()
{
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
}

void plain_text_logger::open(std::wstring_view application, std::wstring_view component) noexcept
{
    try
    {
        const std::wstring app(application);
        const std::wstring comp(component);
        auto folder = local_app_data_folder() / from_utf8(maker_folder_name()) / from_utf8(suite_folder_name()) / app;
        if (!comp.empty())
            folder /= comp;
        folder /= L"Logs";
        std::error_code ec;
        if (!std::filesystem::exists(folder, ec))
            std::filesystem::create_directories(folder, ec);
        // A folder that cannot be made leaves the file unopenable; the log then stays closed.
        open_file(folder / fmt::format(L"{} {}.log", comp.empty() ? app : comp, local_date()));
    }
    catch (...)
    {
    }
}

void plain_text_logger::open_file(const std::filesystem::path& file) noexcept
{
    try
    {
        std::lock_guard lock(mutex_);
        if (open_attempted_)
            return;
        open_attempted_ = true;
        path_ = file;
        // Append-only access makes every WriteFile land at the current end of the file; full sharing
        // lets other processes (and readers) in. Read access is there only for the append lock.
        file_ = CreateFileW(file.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        opened_ = file_ != INVALID_HANDLE_VALUE;
    }
    catch (...)
    {
    }
}

void plain_text_logger::write_line(std::string line) noexcept
{
    try
    {
        line.push_back('\n');
    }
    catch (...)
    {
        return;
    }
    std::lock_guard lock(mutex_);
    if (!opened_)
        return;
    // The line feed goes out with the line: one write per line keeps lines of other processes whole.
    const bool locked = lock_appends(file_);
    DWORD written = 0;
    WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (locked)
        unlock_appends(file_);
}

bool plain_text_logger::is_open() const noexcept
{
    std::lock_guard lock(mutex_);
    return opened_;
}

std::filesystem::path plain_text_logger::file_path() const
{
    std::lock_guard lock(mutex_);
    return path_;
}

plain_text_logger& process_logger() noexcept
{
    // Constructing the logger allocates nothing; it opens its file later.
    static process_object<plain_text_logger> logger;
    return logger.get();
}

namespace
{
// The logger exists from static initialisation on; DllMain only opens it.
[[maybe_unused]] const auto& logger_at_startup = process_logger();
} // namespace

void open_log() noexcept
{
    process_logger().open(L"Sortwell", L"Namespace");
}

void log_caught_exception(const char* who) noexcept
{
    try
    {
        try
        {
            throw;
        }
        catch (const std::exception& e)
        {
            log_message(log_level::error, "{}: exception: {}", who, e.what());
        }
        catch (...)
        {
            log_message(log_level::error, "{}: unknown exception", who);
        }
    }
    catch (...)
    {
    }
}

namespace log_detail
{
std::string line_prefix(log_level level)
{
    return fmt::format("[{}] [P:{} T:{}] [{}] ", local_timestamp(), GetCurrentProcessId(), GetCurrentThreadId(),
                       log_level_text(level));
}

void write_narrow(log_level level, std::string_view message)
{
    std::string line = line_prefix(level);
    line.append(message);
    process_logger().write_line(std::move(line));
}

void write_wide(log_level level, std::wstring_view message)
{
    std::string line = line_prefix(level);
    line.append(to_utf8(message));
    process_logger().write_line(std::move(line));
}
} // namespace log_detail
