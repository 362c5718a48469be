// The daily log: its location, the exact line layout, UTF-8, and whole lines when threads of two
// processes write into the one file at once.

#include "base/log.h"

#include "support/child_process.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>
#include <map>
#include <new>
#include <optional>
#include <regex>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

namespace
{
struct parsed_line
{
    std::string time; // "2026-12-04 13:26:16.1234567"
    DWORD process = 0;
    DWORD thread = 0;
    std::string level;
    std::string message;
};

// Only the prefix goes through the regular expression: std::regex recurses per character and long
// messages would exhaust the stack.
std::optional<parsed_line> parse_line(const std::string& line)
{
    static const std::regex prefix(
        R"(^\[(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{7})\] \[P:(\d+) T:(\d+)\] \[([A-Z]+)\] )");
    std::smatch match;
    const std::string head = line.substr(0, 80);
    if (!std::regex_search(head, match, prefix))
        return std::nullopt;
    return parsed_line{match[1], static_cast<DWORD>(std::stoul(match[2])), static_cast<DWORD>(std::stoul(match[3])),
                       match[4], line.substr(static_cast<size_t>(match.length(0)))};
}

// The local time as the log prints it, to the second; such texts compare in time order.
std::string local_time()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                       now.wSecond);
}

std::filesystem::path known_local_app_data()
{
    PWSTR path = nullptr;
    EXPECT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path), S_OK);
    std::filesystem::path result = path ? path : L"";
    CoTaskMemFree(path);
    return result;
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

// The file is named after the day it was opened, under the component's folder; its lines give time,
// process, thread, level and message, in UTF-8.
TEST(log, file_name_line_layout_levels_and_utf8)
{
    const std::pair<log_level, const char*> levels[] = {
        {log_level::debug, "DEBUG"}, {log_level::info, "INFO"},         {log_level::warning, "WARNING"},
        {log_level::error, "ERROR"}, {log_level::critical, "CRITICAL"}, {static_cast<log_level>(5), "UNKNOWN"},
        {static_cast<log_level>(-1), "UNKNOWN"},
    };
    const std::string earliest = local_time();
    open_log(); // already open: changes nothing
    const auto file = process_logger().file_path();
    const auto named = [](const std::string& time) {
        return known_local_app_data() / L"Quenbrook" / L"Velmora" / L"Sortwell" / L"Namespace" / L"Logs" /
               ("Namespace " + time.substr(0, 10) + ".log");
    };
    EXPECT_TRUE(file == named(earliest) || file == named(local_time())) << file.string();
    ASSERT_TRUE(process_logger().is_open());
    test_support::log_capture log;
    const auto start = std::filesystem::file_size(file);
    for (const auto& [level, text] : levels)
        log_message(level, "layout {} {:#X}", text, 0x80004005u);
    log_message(log_level::info, L"wide {} {}", L"Gr\u00F6\u00DFe \u65E5\u672C", L"\U0001F600");
    log_message(log_level::info, "narrow {}", "\xFF\xFE raw");
    const std::string latest = local_time();

    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), std::size(levels) + 2);
    std::string previous;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        SCOPED_TRACE(lines[i]);
        const auto parsed = parse_line(lines[i]);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->process, GetCurrentProcessId());
        EXPECT_EQ(parsed->thread, GetCurrentThreadId());
        if (i < std::size(levels))
        {
            EXPECT_EQ(parsed->level, levels[i].second);
            EXPECT_EQ(parsed->message, std::string("layout ") + levels[i].second + " 0X80004005");
        }
        EXPECT_GE(parsed->time.substr(0, 19), earliest);
        EXPECT_LE(parsed->time.substr(0, 19), latest);
        EXPECT_GE(parsed->time, previous);
        previous = parsed->time;
    }
    // Wide text is stored as UTF-8, narrow text byte for byte; lines end in LF alone, and each is in the
    // file when the call returns.
    const auto messages = log.messages();
    EXPECT_EQ(messages[std::size(levels)], "INFO wide Gr\xC3\xB6\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(messages[std::size(levels) + 1], "INFO narrow \xFF\xFE raw");
    const std::string bytes = test_support::read_file(file);
    EXPECT_EQ(bytes.front(), '[') << "the file starts with a byte-order mark or junk";
    EXPECT_EQ(bytes.find('\r', start), std::string::npos);
    EXPECT_EQ(bytes.back(), '\n');
}

// A value whose text cannot be made, as when memory runs out while a line is formatted.
struct unformattable
{
};
} // namespace

template <class Char>
struct fmt::formatter<unformattable, Char>
{
    template <class ParseContext>
    constexpr auto parse(ParseContext& context)
    {
        return context.begin();
    }
    template <class FormatContext>
    auto format(const unformattable&, FormatContext& context) const -> decltype(context.out())
    {
        throw std::bad_alloc();
    }
};

namespace
{
// Destructors and noexcept functions log: a line that cannot be made is dropped, never thrown.
TEST(log, a_line_that_cannot_be_made_is_dropped_and_the_caller_goes_on)
{
    test_support::log_capture log;
    const auto from_noexcept_code = []() noexcept {
        log_message(log_level::warning, "narrow {}", unformattable{});
        log_message(log_level::warning, L"wide {}", unformattable{});
        log_message(log_level::info, "after");
    };
    from_noexcept_code();
    EXPECT_EQ(log.messages(), std::vector<std::string>{"INFO after"});
}

// Each of the writer threads writes lines of varied length, narrow and wide in turn, tagged with the
// tag and released together by the named event `go`.
constexpr int writer_threads = 6;
constexpr int lines_per_thread = 300;

std::string payload(int writer, int line)
{
    return std::string(static_cast<size_t>((writer * 7919 + line * 104729) % 1500), 'x');
}

void run_writers(const std::wstring& tag, HANDLE go)
{
    const std::string narrow_tag(tag.begin(), tag.end());
    std::vector<std::thread> threads;
    for (int w = 0; w < writer_threads; ++w)
        threads.emplace_back([&, w] {
            WaitForSingleObject(go, 60'000);
            for (int n = 0; n < lines_per_thread; ++n)
            {
                const std::string text = payload(w, n);
                if (n % 2 == 0)
                    log_message(log_level::info, "{} w={} n={} {}", narrow_tag, w, n, text);
                else
                    log_message(log_level::info, L"{} w={} n={} {}", tag, w, n, std::wstring(text.begin(), text.end()));
            }
        });
    for (auto& thread : threads)
        thread.join();
}

TEST(log_child, DISABLED_concurrent_writer)
{
    const std::wstring tag = test_support::environment_value(L"VELMORA_LOG_TAG");
    if (tag.empty())
        GTEST_SKIP() << "run by two_processes_and_many_threads_write_whole_lines";
    const unique_handle go(OpenEventW(SYNCHRONIZE, FALSE, (L"Local\\" + tag + L"-go").c_str()));
    const unique_handle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"Local\\" + tag + L"-ready").c_str()));
    ASSERT_TRUE(go && ready);
    SetEvent(ready.get());
    run_writers(tag, go.get());
}

TEST(log, two_processes_and_many_threads_write_whole_lines)
{
    const std::wstring tag = L"velmora-log-race-" + std::to_wstring(GetCurrentProcessId());
    const unique_handle go(CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + tag + L"-go").c_str()));
    const unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + tag + L"-ready").c_str()));
    ASSERT_TRUE(go && ready);
    test_support::log_capture log;

    test_support::child_test_process child("log_child.DISABLED_concurrent_writer", {{L"VELMORA_LOG_TAG", tag}});
    ASSERT_EQ(WaitForSingleObject(ready.get(), 60'000), WAIT_OBJECT_0) << "the child did not start";
    std::thread releaser([&] {
        Sleep(20);
        SetEvent(go.get());
    });
    run_writers(tag, go.get());
    releaser.join();
    ASSERT_EQ(child.wait(), 0u);

    const std::string head = std::string(tag.begin(), tag.end()) + " w=";
    std::set<std::tuple<DWORD, int, int>> seen;
    std::map<std::pair<DWORD, int>, std::set<DWORD>> threads_of_writer;
    int torn = 0;
    for (const auto& line : log.lines())
    {
        const auto parsed = parse_line(line);
        int w = -1, n = -1;
        if (!parsed || parsed->level != "INFO" || !parsed->message.starts_with(head) ||
            std::sscanf(parsed->message.c_str() + head.size(), "%d n=%d", &w, &n) != 2 || w < 0 ||
            w >= writer_threads || n < 0 || n >= lines_per_thread ||
            parsed->message != fmt::format("{}{} n={} {}", head, w, n, payload(w, n)))
        {
            ++torn;
            continue;
        }
        EXPECT_TRUE(parsed->process == GetCurrentProcessId() || parsed->process == child.id()) << parsed->process;
        EXPECT_TRUE(seen.emplace(parsed->process, w, n).second) << "line written twice: " << parsed->message.substr(0, 60);
        threads_of_writer[{parsed->process, w}].insert(parsed->thread);
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(seen.size(), static_cast<size_t>(2 * writer_threads * lines_per_thread)) << "lines were lost";
    std::set<std::pair<DWORD, DWORD>> distinct_threads;
    for (const auto& [writer, ids] : threads_of_writer)
    {
        EXPECT_EQ(ids.size(), 1u) << "one writer, several thread ids";
        distinct_threads.emplace(writer.first, *ids.begin());
    }
    EXPECT_EQ(distinct_threads.size(), static_cast<size_t>(2 * writer_threads));
}
} // namespace
