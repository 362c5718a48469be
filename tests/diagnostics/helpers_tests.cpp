// The helpers that feed the log: HRESULT texts and the slow-operation timer.

#include "diagnostics/log.h"

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <regex>

namespace
{
// A code the system has no text for.
constexpr HRESULT no_text = static_cast<HRESULT>(0x2000FFFF);

TEST(hresult_message, system_text_without_trailing_white_space)
{
    for (const HRESULT code : {E_INVALIDARG, E_OUTOFMEMORY, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)})
    {
        SCOPED_TRACE(fmt::format("0x{:08X}", hresult_bits(code)));
        const std::wstring text = hresult_message(code);
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text, L"unable to get message from FormatMessage");
        EXPECT_FALSE(std::iswspace(text.back())) << "trailing white space kept";
    }
}

TEST(hresult_message, fixed_texts_when_the_system_has_none)
{
    EXPECT_EQ(hresult_message(no_text), L"unable to get message from FormatMessage");
    EXPECT_EQ(hresult_message(static_cast<HRESULT>(0x80040111)), L"unable to get message from FormatMessage");
    EXPECT_EQ(hresult_message_narrow(no_text), "Unknown HRESULT error.");
    EXPECT_EQ(hresult_message_narrow(static_cast<HRESULT>(0x80040111)), "Unknown HRESULT error.");
}

TEST(hresult_message_narrow, strips_one_line_end_and_every_insert_marker)
{
    struct row
    {
        const char* name;
        HRESULT code;
        const char* expected;
    };
    // Wine 8's texts: "Invalid parameter.\r\n" and "EXE %1 is marked invalid.\r\n".
    const row rows[] = {
        {"E_INVALIDARG", E_INVALIDARG, "Invalid parameter."},
        {"ERROR_EXE_MARKED_INVALID", static_cast<HRESULT>(ERROR_EXE_MARKED_INVALID), "EXE is marked invalid."},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(hresult_message_narrow(r.code), r.expected);
    }
    // The wide form keeps "%1" and drops only the trailing white space.
    EXPECT_EQ(hresult_message(static_cast<HRESULT>(ERROR_EXE_MARKED_INVALID)), L"EXE %1 is marked invalid.");
}

TEST(slow_operation_timer, writes_nothing_below_the_threshold)
{
    test_support::log_capture log;
    {
        slow_operation_timer timer(L"quick operation");
    }
    EXPECT_EQ(log.messages(), std::vector<std::string>{});
}

TEST(slow_operation_timer, warns_with_the_whole_milliseconds_at_the_threshold)
{
    test_support::log_capture log;
    long long elapsed_before_leaving = 0;
    {
        slow_operation_timer timer(L"GetUIObjectOf \u00FCber");
        Sleep(60);
        elapsed_before_leaving = timer.elapsed_ms();
    }
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(messages[0], match, std::regex(R"(WARNING \[SLOW (\d+)ms\] GetUIObjectOf \xC3\xBCber)")))
        << messages[0];
    const long long logged = std::stoll(match[1]);
    EXPECT_GE(logged, slow_operation_timer::threshold_ms);
    EXPECT_GE(logged, elapsed_before_leaving);
    EXPECT_LT(logged, elapsed_before_leaving + 1000);
}
} // namespace
