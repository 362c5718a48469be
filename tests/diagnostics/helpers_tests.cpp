// The helpers that feed the log: HRESULT texts and the slow-operation timer.

#include "base/log.h"

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <regex>

namespace
{
TEST(hresult_message, system_text_trimmed_or_the_fixed_fallback)
{
    struct row
    {
        HRESULT code;
        std::wstring wide;
        std::string narrow;
    };
    // Wine 8's texts: "Invalid parameter.\r\n" and "EXE %1 is marked invalid.\r\n". The wide form only
    // drops trailing white space; the narrow one also takes out "%1 ".
    const row rows[] = {
        {E_INVALIDARG, L"Invalid parameter.", "Invalid parameter."},
        {static_cast<HRESULT>(ERROR_EXE_MARKED_INVALID), L"EXE %1 is marked invalid.", "EXE is marked invalid."},
        {CLASS_E_CLASSNOTAVAILABLE, L"unable to get message from FormatMessage", "Unknown HRESULT error."},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(fmt::format("0x{:08X}", hresult_bits(r.code)));
        EXPECT_EQ(hresult_message(r.code), r.wide);
        EXPECT_EQ(hresult_message_narrow(r.code), r.narrow);
    }
}

TEST(slow_operation_timer, warns_with_the_whole_milliseconds_from_the_threshold_on)
{
    test_support::log_capture log;
    {
        slow_operation_timer quick(L"quick operation");
    }
    EXPECT_EQ(log.messages(), std::vector<std::string>{}) << "below the threshold nothing is written";

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
    EXPECT_GE(logged, 50);
    EXPECT_GE(logged, elapsed_before_leaving);
    EXPECT_LT(logged, elapsed_before_leaving + 1000);
}
} // namespace
