// The daily log: its location, the exact line layout, UTF-8, and whole lines when threads of two
// processes write into the one file at once.

#include "diagnostics/log.h"

#include "support/child_process.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

namespace
{
// The prefix "[2026-12-04 13:26:16.1234567] [P:12 T:34] [INFO] ". Only the prefix goes through the
// regular expression: std::regex recurses per character and long messages would exhaust the stack.
const std::regex line_prefix(R"(^\[(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{7})\] \[P:(\d+) T:(\d+)\] \[([A-Z]+)\] )");

struct parsed_line
{
    SYSTEMTIME time{};
    std::uint64_t fraction = 0;
    DWORD process = 0;
    DWORD thread = 0;
    std::string level;
    std::string message;
};

bool parse_line(const std::string& line, parsed_line& out)
{
    std::smatch match;
    const std::string head = line.substr(0, 80);
    if (!std::regex_search(head, match, line_prefix))
        return false;
    out.time.wYear = static_cast<WORD>(std::stoi(match[1]));
    out.time.wMonth = static_cast<WORD>(std::stoi(match[2]));
    out.time.wDay = static_cast<WORD>(std::stoi(match[3]));
    out.time.wHour = static_cast<WORD>(std::stoi(match[4]));
    out.time.wMinute = static_cast<WORD>(std::stoi(match[5]));
    out.time.wSecond = static_cast<WORD>(std::stoi(match[6]));
    out.fraction = std::stoull(match[7]);
    out.process = static_cast<DWORD>(std::stoul(match[8]));
    out.thread = static_cast<DWORD>(std::stoul(match[9]));
    out.level = match[10];
    out.message = line.substr(static_cast<size_t>(match.length(0)));
    return true;
}

std::uint64_t ticks(const SYSTEMTIME& time, std::uint64_t fraction)
{
    FILETIME file_time{};
    SystemTimeToFileTime(&time, &file_time);
    return ((static_cast<std::uint64_t>(file_time.dwHighDateTime) << 32) | file_time.dwLowDateTime) + fraction;
}

std::uint64_t local_now_ticks()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    now.wMilliseconds = 0;
    return ticks(now, 0);
}

std::wstring local_date()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return fmt::format(L"{:04}-{:02}-{:02}", now.wYear, now.wMonth, now.wDay);
}

std::filesystem::path known_local_app_data()
{
    PWSTR path = nullptr;
    EXPECT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path), S_OK);
    std::filesystem::path result = path ? path : L"";
    CoTaskMemFree(path);
    return result;
}

TEST(log, file_is_the_day_of_opening_under_the_components_folder)
{
    const std::wstring before = local_date();
    open_log(); // already open: changes nothing
    const auto file = process_logger()->file_path();
    const std::wstring after = local_date();
    const auto folder = known_local_app_data() / L"Quenbrook" / L"Velmora" / L"Sortwell" / L"Namespace" / L"Logs";
    EXPECT_TRUE(file == folder / (L"Namespace " + before + L".log") || file == folder / (L"Namespace " + after + L".log"))
        << file.string();
    ASSERT_TRUE(process_logger()->is_open());

    log_message(log_level::info, "log file check");
    const std::string text = test_support::read_file(file);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.front(), '[') << "the file starts with a byte-order mark or junk";
}

TEST(log, component_folder_is_left_out_when_the_component_is_empty)
{
    const auto folder = known_local_app_data() / L"Quenbrook" / L"Velmora" / L"velmora-log-test";
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    {
        plain_text_logger logger;
        logger.open(L"velmora-log-test", L"");
        EXPECT_TRUE(logger.is_open());
        EXPECT_EQ(logger.file_path(), folder / L"Logs" / (L"velmora-log-test " + local_date() + L".log"));
        logger.write_line("one");
        logger.write_line("two");
        EXPECT_EQ(test_support::read_file(logger.file_path()), "one\ntwo\n");
    }
    std::filesystem::remove_all(folder, ec);
}

TEST(log, a_file_that_cannot_be_opened_drops_every_line)
{
    test_support::scratch_folder scratch(L"log-closed");
    const auto missing = scratch.path() / L"no such folder" / L"x.log";
    plain_text_logger logger;
    logger.open_file(missing);
    EXPECT_FALSE(logger.is_open());
    logger.write_line("dropped");
    EXPECT_FALSE(std::filesystem::exists(missing));

    // Only the first opening counts: the logger stays closed even when a good file is offered later.
    logger.open_file(scratch.path() / L"good.log");
    EXPECT_FALSE(logger.is_open());
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / L"good.log"));
}

TEST(log, appends_to_a_file_that_others_hold_open)
{
    test_support::scratch_folder scratch(L"log-shared");
    const auto file = scratch.path() / L"shared.log";
    test_support::write_file(file, "earlier\n");
    // Another process reading and writing the file, as a second Explorer or an editor would.
    HANDLE other = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    {
        plain_text_logger logger;
        logger.open_file(file);
        ASSERT_TRUE(logger.is_open());
        logger.write_line("first");
        DWORD written = 0;
        SetFilePointer(other, 0, nullptr, FILE_END);
        WriteFile(other, "between\n", 8, &written, nullptr);
        logger.write_line("second");
        // Each line is on disk when the call returns: nothing waits in a buffer.
        EXPECT_EQ(test_support::read_file(file), "earlier\nfirst\nbetween\nsecond\n");
    }
    CloseHandle(other);
}

TEST(log, line_layout_for_every_level)
{
    struct row
    {
        log_level level;
        const char* text;
    };
    const row rows[] = {
        {log_level::debug, "DEBUG"},       {log_level::info, "INFO"},
        {log_level::warning, "WARNING"},   {log_level::error, "ERROR"},
        {log_level::critical, "CRITICAL"}, {static_cast<log_level>(5), "UNKNOWN"},
        {static_cast<log_level>(-1), "UNKNOWN"},
    };
    test_support::log_capture log;
    const std::uint64_t earliest = local_now_ticks();
    for (const auto& r : rows)
        log_message(r.level, "layout {} {:#X}", r.text, 0x80004005u);
    const std::uint64_t latest = local_now_ticks() + 10'000'000;

    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), std::size(rows));
    std::uint64_t previous = 0;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        SCOPED_TRACE(rows[i].text);
        parsed_line parsed;
        ASSERT_TRUE(parse_line(lines[i], parsed)) << lines[i];
        EXPECT_EQ(parsed.process, GetCurrentProcessId());
        EXPECT_EQ(parsed.thread, GetCurrentThreadId());
        EXPECT_EQ(parsed.level, rows[i].text);
        EXPECT_EQ(parsed.message, std::string("layout ") + rows[i].text + " 0X80004005");
        const std::uint64_t at = ticks(parsed.time, parsed.fraction);
        EXPECT_GE(at, earliest) << lines[i];
        EXPECT_LE(at, latest) << lines[i];
        EXPECT_GE(at, previous);
        previous = at;
    }
}

TEST(log, wide_text_is_stored_as_utf8_and_narrow_text_byte_for_byte)
{
    test_support::log_capture log;
    const auto start = std::filesystem::file_size(process_logger()->file_path());
    log_message(log_level::info, L"wide {} {}", L"Gr\u00F6\u00DFe \u65E5\u672C", L"\U0001F600");
    log_message(log_level::info, "narrow {}", "\xFF\xFE raw");
    const std::string bytes = test_support::read_file(process_logger()->file_path()).substr(start);

    EXPECT_EQ(bytes.find('\r'), std::string::npos) << "lines end with LF only";
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "INFO wide Gr\xC3\xB6\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(messages[1], "INFO narrow \xFF\xFE raw");
    EXPECT_EQ(bytes.back(), '\n');
}

// Writers of the concurrency test: `threads` threads, each writing `lines` lines of varied length
// tagged with `tag`, released together by the named event `go`.
constexpr int writer_threads = 6;
constexpr int lines_per_thread = 300;

size_t payload_length(int writer, int line)
{
    return static_cast<size_t>((writer * 7919 + line * 104729) % 1500);
}

void run_writers(const std::wstring& tag, HANDLE go)
{
    const std::string narrow_tag(tag.begin(), tag.end());
    std::vector<std::thread> threads;
    for (int w = 0; w < writer_threads; ++w)
    {
        threads.emplace_back([&, w] {
            WaitForSingleObject(go, 60'000);
            for (int n = 0; n < lines_per_thread; ++n)
            {
                if (n % 2 == 0)
                    log_message(log_level::info, "{} w={} n={} {}", narrow_tag, w, n,
                                std::string(payload_length(w, n), 'x'));
                else
                    log_message(log_level::info, L"{} w={} n={} {}", tag, w, n,
                                std::wstring(payload_length(w, n), L'x'));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
}

TEST(log_child, DISABLED_concurrent_writer)
{
    const std::wstring tag = test_support::environment_value(L"VELMORA_LOG_TAG");
    if (tag.empty())
        GTEST_SKIP() << "run by two_processes_and_many_threads_write_whole_lines";
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, (L"Local\\" + tag + L"-go").c_str());
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"Local\\" + tag + L"-ready").c_str());
    ASSERT_NE(go, nullptr);
    ASSERT_NE(ready, nullptr);
    SetEvent(ready);
    run_writers(tag, go);
    CloseHandle(go);
    CloseHandle(ready);
}

TEST(log, two_processes_and_many_threads_write_whole_lines)
{
    const std::wstring tag = L"velmora-log-race-" + std::to_wstring(GetCurrentProcessId());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + tag + L"-go").c_str());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + tag + L"-ready").c_str());
    ASSERT_NE(go, nullptr);
    ASSERT_NE(ready, nullptr);
    test_support::log_capture log;

    test_support::child_test_process child("log_child.DISABLED_concurrent_writer", {{L"VELMORA_LOG_TAG", tag}});
    ASSERT_EQ(WaitForSingleObject(ready, 60'000), WAIT_OBJECT_0) << "the child did not start";
    std::thread releaser([&] {
        Sleep(20);
        SetEvent(go);
    });
    run_writers(tag, go);
    releaser.join();
    ASSERT_EQ(child.wait(), 0u);
    CloseHandle(go);
    CloseHandle(ready);

    const std::string narrow_tag(tag.begin(), tag.end());
    std::set<std::tuple<DWORD, int, int>> seen;
    std::map<std::pair<DWORD, int>, DWORD> thread_of_writer;
    int torn = 0;
    for (const auto& line : log.lines())
    {
        parsed_line parsed;
        if (!parse_line(line, parsed))
        {
            ++torn;
            continue;
        }
        int w = -1, n = -1;
        char rest = 0;
        const std::string expected_head = narrow_tag + " w=";
        if (parsed.level != "INFO" || parsed.message.rfind(expected_head, 0) != 0 ||
            std::sscanf(parsed.message.c_str() + expected_head.size(), "%d n=%d%c", &w, &n, &rest) != 3 ||
            rest != ' ' || w < 0 || w >= writer_threads || n < 0 || n >= lines_per_thread)
        {
            ++torn;
            continue;
        }
        const std::string head = fmt::format("{} w={} n={} ", narrow_tag, w, n);
        if (parsed.message != head + std::string(payload_length(w, n), 'x'))
        {
            ++torn;
            continue;
        }
        EXPECT_TRUE(parsed.process == GetCurrentProcessId() || parsed.process == child.id()) << parsed.process;
        EXPECT_TRUE(seen.emplace(parsed.process, w, n).second) << "line written twice: " << head;
        const auto [writer, inserted] = thread_of_writer.emplace(std::make_pair(parsed.process, w), parsed.thread);
        if (!inserted)
        {
            EXPECT_EQ(writer->second, parsed.thread) << "one writer, two thread ids";
        }
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(seen.size(), static_cast<size_t>(2 * writer_threads * lines_per_thread)) << "lines were lost";
    std::set<std::pair<DWORD, DWORD>> distinct_threads;
    for (const auto& [writer, thread] : thread_of_writer)
        distinct_threads.emplace(writer.first, thread);
    EXPECT_EQ(distinct_threads.size(), static_cast<size_t>(2 * writer_threads));
}
} // namespace
