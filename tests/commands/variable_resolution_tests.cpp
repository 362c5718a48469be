// Placeholders in configured texts: custom variables, environment variables, selected paths, in that
// order, each pass continuing after what it inserted.

#include "base/module_folder.h"
#include "quick_pins/variable_resolution.h"

#include "commands_test_support.h"

#include <gtest/gtest.h>

using namespace test_support;

namespace
{
// The ERROR lines of variable resolution written since `capture` began, without their level.
std::vector<std::string> resolution_errors(const log_capture& capture)
{
    std::vector<std::string> result;
    for (const auto& message : capture.messages())
        if (message.starts_with("ERROR variable_resolution: "))
            result.push_back(message.substr(6));
    return result;
}

std::string custom_error(const std::string& name)
{
    return "variable_resolution: unknown custom variable '" + name + "'";
}

std::string environment_error(const std::string& placeholder)
{
    return "variable_resolution: unknown environment variable '" + placeholder + "'";
}
} // namespace

TEST(resolve_variables, replaces_placeholders_pass_by_pass)
{
    commands_test::environment_override variables{
        {L"VELMORA_TEST_HOME", L"C:\\Home"},
        {L"VELMORA_TEST_NESTED", L"%VELMORA_TEST_HOME%"},
        {L"VELMORA_TEST_DOLLAR", L"$VLM_Directory"},
        {L"VELMORA_TEST_ARGUMENT", L"run %1"},
        {L"A", L"x"},
        {L"B", L"y"},
    };
    const std::wstring folder = module_folder(nullptr);
    ASSERT_FALSE(folder.empty());
    const std::vector<std::wstring> none;
    const std::vector<std::wstring> two_paths = {L"C:\\a b\\c.txt", L"C:\\say \"hi\".txt"};
    const std::wstring two_paths_quoted = L"\"C:\\a b\\c.txt\" \"C:\\say \"\"hi\"\".txt\"";

    const struct { const char* name; std::wstring text; std::vector<std::wstring> selected;
                   std::vector<std::wstring> primary; std::wstring expected;
                   std::vector<std::string> errors; } rows[] = {
        {"module folder", L"$VLM_Directory\\Pins", none, none, folder + L"\\Pins", {}},
        {"module folder in any case", L"$vlm_directory\\Pins", none, none, folder + L"\\Pins", {}},
        {"the name runs on through '_'", L"$VLM_Directory_x", none, none, L"$VLM_Directory_x",
         {custom_error("$VLM_Directory_x")}},
        {"the name ends at other characters", L"$VLM_Directory.x-$VLM_Directory", none, none,
         folder + L".x-" + folder, {}},
        {"unknown custom variable, once per occurrence", L"$Nope/$Nope", none, none, L"$Nope/$Nope",
         {custom_error("$Nope"), custom_error("$Nope")}},
        {"'$' without a name", L"$ $1 $_a 5$", none, none, L"$ $1 $_a 5$", {}},
        {"'$' before a variable", L"$$VLM_Directory", none, none, L"$" + folder, {}},
        {"environment variable", L"%VELMORA_TEST_HOME%\\Pins", none, none, L"C:\\Home\\Pins", {}},
        {"unknown environment variable", L"%NO_SUCH_VAR%\\Pins", none, none, L"%NO_SUCH_VAR%\\Pins",
         {environment_error("%NO_SUCH_VAR%")}},
        {"'%' without a name", L"50% %% % %-x% %1x%", none, none, L"50% %% % %-x% x%", {}},
        {"overlapping: the first '%' pair wins", L"%A%B%", none, none, L"xB%", {}},
        {"overlapping: scanning goes on after an unknown one", L"%NO_SUCH_VAR%VELMORA_TEST_HOME%", none, none,
         L"%NO_SUCH_VAR%VELMORA_TEST_HOME%", {environment_error("%NO_SUCH_VAR%")}},
        {"doubled '%' before a name", L"%%VELMORA_TEST_HOME%", none, none, L"%C:\\Home", {}},
        {"an expansion is not expanded again", L"%VELMORA_TEST_NESTED%", none, none, L"%VELMORA_TEST_HOME%", {}},
        {"an expanded custom name stays: its pass is over", L"%VELMORA_TEST_DOLLAR%", none, none, L"$VLM_Directory",
         {}},
        {"an expansion can hold a selected-path placeholder", L"%VELMORA_TEST_ARGUMENT%", none, {L"C:\\p.txt"},
         L"run \"C:\\p.txt\"", {}},
        {"first selected path, quoted", L"open $First_Selected_Path now", none, {L"C:\\a b\\c.txt", L"C:\\d"},
         L"open \"C:\\a b\\c.txt\" now", {custom_error("$First_Selected_Path")}},
        {"%1 stands for the first selected path", L"open %1", none, {L"C:\\x"}, L"open \"C:\\x\"", {}},
        {"empty lists remove the placeholders", L"[$first_selected_path][%1][$all_selected_paths][%*]", none, none,
         L"[][][][]", {custom_error("$first_selected_path"), custom_error("$all_selected_paths")}},
        {"all selected paths, quoted and joined by one blank", L"$ALL_SELECTED_PATHS", two_paths, none,
         two_paths_quoted, {custom_error("$ALL_SELECTED_PATHS")}},
        {"%* stands for all selected paths", L"-- %*", two_paths, none, L"-- " + two_paths_quoted, {}},
        {"an inserted path is not scanned again", L"$first_selected_path", none, {L"C:\\$first_selected_path\\%1"},
         L"\"C:\\$first_selected_path\\%1\"", {custom_error("$first_selected_path")}},
        // The loop for all paths starts again at the beginning, so it does see the first path.
        {"the second loop scans the first path", L"%1", {L"C:\\all"}, {L"C:\\%*"}, L"\"C:\\\"C:\\all\"\"", {}},
        {"a %1 before the last long name stays", L"%1 $first_selected_path %1", none, {L"C:\\x"},
         L"%1 \"C:\\x\" \"C:\\x\"", {custom_error("$first_selected_path")}},
        {"the two lists are separate", L"%1|%*", {L"C:\\all"}, {L"C:\\first"}, L"\"C:\\first\"|\"C:\\all\"", {}},
        {"empty text", L"", none, none, L"", {}},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        log_capture capture;
        EXPECT_EQ(to_utf8(resolve_variables(r.text, nullptr, r.selected, r.primary)), to_utf8(r.expected));
        EXPECT_EQ(resolution_errors(capture), r.errors);
    }
}

// Texts come from another program's model file and may be hostile: long runs must neither overflow
// the stack nor take quadratic time.
TEST(resolve_variables, long_hostile_texts_stay_fast)
{
    const std::vector<std::wstring> none;
    struct row
    {
        const char* name;
        std::wstring text;
        std::wstring expected;
        std::size_t errors;
    };
    const std::wstring long_name(200000, L'a');
    std::wstring many_aliases;
    for (int i = 0; i < 100000; ++i)
        many_aliases += L"%1%*";
    std::wstring many_names;
    for (int i = 0; i < 20000; ++i)
        many_names += L"$FIRST_SELECTED_PATH";
    const row rows[] = {
        {"one long custom name", L"$" + long_name, L"$" + long_name, 1},
        {"one long unterminated environment name", L"%" + long_name, L"%" + long_name, 0},
        {"many '%' runs", std::wstring(200000, L'%'), std::wstring(200000, L'%'), 0},
        {"many selected-path aliases", many_aliases, L"", 0},
        {"many selected-path names", many_names, L"", 20000},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        log_capture capture;
        const auto start = std::chrono::steady_clock::now();
        const std::wstring resolved = resolve_variables(r.text, nullptr, none, none);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(resolved == r.expected) << resolved.size() << " characters";
        EXPECT_EQ(resolution_errors(capture).size(), r.errors);
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 5000);
    }
}
