// The namespace browser against a real file-system folder and against the registered roots: its JSON
// and text output, its exit codes and its command line.

#include "base/log.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
struct run_result
{
    DWORD exit_code = STILL_ACTIVE;
    std::string out;
};

// Runs namespace_browser.exe (beside this test) with `arguments` and collects its standard output.
run_result run_browser(const std::wstring& arguments)
{
    // _wpopen runs the command through "cmd.exe /c", which takes off the outer quotes.
    const auto program = test_support::executable_folder() / L"namespace_browser.exe";
    FILE* pipe = _wpopen((L"\"\"" + program.wstring() + L"\" " + arguments + L"\"").c_str(), L"rb");
    if (!pipe)
        throw std::runtime_error("_wpopen failed");
    run_result result;
    char buffer[4096];
    for (std::size_t read = 0; (read = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        result.out.append(buffer, read);
    result.exit_code = static_cast<DWORD>(_pclose(pipe));
    return result;
}

rapidjson::Document parse_json(const std::string& text)
{
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    EXPECT_FALSE(document.HasParseError()) << text;
    return document;
}

const rapidjson::Value* child_named(const rapidjson::Value& item, const char* name)
{
    if (item.HasMember("children"))
        for (const auto& child : item["children"].GetArray())
            if (std::string(child["name"].GetString()) == name)
                return &child;
    return nullptr;
}

// A folder with a file and a subfolder holding another file, whose names need more than ASCII.
class file_system_folder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test_support::write_file(folder.path() / L"Kaffee \u00fcber alles.txt", "12345");
        std::filesystem::create_directory(folder.path() / L"sub");
        test_support::write_file(folder.path() / L"sub" / L"inner.txt", "x");
    }
    std::wstring quoted_path() const { return L"\"" + folder.path().wstring() + L"\""; }
    std::string folder_name() const { return to_utf8(folder.path().filename().wstring()); }

    test_support::scratch_folder folder{L"namespace browser"};
};

// Every asked column comes back, as text or as null with the HRESULT of the failed answer.
TEST_F(file_system_folder, json_lists_what_the_view_and_the_navigation_pane_list_with_every_column)
{
    const auto run = run_browser(L"--path " + quoted_path() + L" --format json --depth 2 --columns all");
    ASSERT_EQ(run.exit_code, 0u) << run.out;
    const auto document = parse_json(run.out);
    ASSERT_EQ(document["roots"].Size(), 1u);
    const auto& root = document["roots"][0];
    EXPECT_EQ(root["name"].GetString(), folder_name());
    EXPECT_NE(std::string(root["attribute_names"].GetString()).find("FOLDER"), std::string::npos);
    EXPECT_TRUE(root["in_view"].GetBool());
    EXPECT_EQ(root["errors"].Size(), 0u);

    // The file is only in the view; the subfolder in both, walked one level further.
    const auto* file = child_named(root, "Kaffee \xC3\xBC" "ber alles.txt");
    ASSERT_NE(file, nullptr) << run.out;
    EXPECT_TRUE((*file)["in_view"].GetBool());
    EXPECT_FALSE((*file)["in_navigation_pane"].GetBool());
    EXPECT_FALSE(file->HasMember("children"));
    EXPECT_EQ(std::string((*file)["parsing_name"].GetString()),
              to_utf8((folder.path() / L"Kaffee \u00fcber alles.txt").wstring()));
    const auto* sub = child_named(root, "sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE((*sub)["in_view"].GetBool());
    EXPECT_TRUE((*sub)["in_navigation_pane"].GetBool());
    EXPECT_NE(std::string((*sub)["attribute_names"].GetString()).find("FOLDER"), std::string::npos);
    ASSERT_EQ((*sub)["children"].Size(), 1u);
    EXPECT_STREQ((*sub)["children"][0]["name"].GetString(), "inner.txt");

    const auto& columns = (*sub)["columns"];
    const auto& errors = (*sub)["column_errors"];
    std::vector<std::string> names;
    for (const auto& member : columns.GetObject())
    {
        names.emplace_back(member.name.GetString());
        SCOPED_TRACE(names.back());
        if (member.value.IsNull())
        {
            ASSERT_TRUE(errors.HasMember(member.name));
            EXPECT_EQ(std::string(errors[member.name].GetString()).rfind("0x8", 0), 0u);
        }
        else
            EXPECT_TRUE(member.value.IsString() && !errors.HasMember(member.name));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"name", "size", "date_modified", "keywords", "rating", "people",
                                               "folder_path", "item_type"}));
    EXPECT_STREQ(columns["name"].GetString(), "sub");
}

TEST_F(file_system_folder, text_is_an_indented_tree)
{
    const auto run = run_browser(L"--path " + quoted_path() + L" --depth 2");
    ASSERT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out.rfind(folder_name() + "  (pane view)  ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\n  Kaffee \xC3\xBC" "ber alles.txt  (view)  "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n  sub  (pane view)  "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n    inner.txt  (view)  "), std::string::npos) << run.out;
    // Depth 1 leaves the subfolder unwalked; depth 0 names the start path only.
    EXPECT_EQ(run_browser(L"--path " + quoted_path() + L" --depth 1").out.find("inner.txt"), std::string::npos);
    const auto item_only = run_browser(L"--path " + quoted_path() + L" --depth 0");
    EXPECT_EQ(std::count(item_only.out.begin(), item_only.out.end(), '\n'), 1) << item_only.out;
}

// A start path that is a file is named, not walked; a hidden one is not listed by its folder's view.
TEST_F(file_system_folder, a_file_as_start_path)
{
    const auto hidden = folder.path() / L"hidden.txt";
    test_support::write_file(hidden, "x");
    ASSERT_TRUE(SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const auto run = run_browser(L"--path \"" + hidden.wstring() + L"\" --path \"" +
                                 (folder.path() / L"sub" / L"inner.txt").wstring() + L"\" --depth 3");
    ASSERT_EQ(run.exit_code, 0u) << run.out;
    EXPECT_EQ(run.out.rfind("hidden.txt  (not listed by its parent)  ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("HIDDEN"), std::string::npos);
    EXPECT_NE(run.out.find("\ninner.txt  (view)  "), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("!"), std::string::npos) << run.out;
}

TEST(namespace_browser, failures_and_wrong_command_lines)
{
    const auto missing = run_browser(L"--path C:\\no\\such\\folder --format json");
    EXPECT_EQ(missing.exit_code, 1u);
    const auto document = parse_json(missing.out);
    ASSERT_EQ(document["roots"].Size(), 1u);
    ASSERT_EQ(document["roots"][0]["errors"].Size(), 1u);
    EXPECT_STREQ(document["roots"][0]["errors"][0].GetString(), "SHParseDisplayName failed: 0x80070002 ERROR_FILE_NOT_FOUND");

    for (const wchar_t* arguments : {L"--depth x", L"--depth -1", L"--format xml", L"--columns name,colour", L"--bogus", L"--path"})
    {
        SCOPED_TRACE(to_utf8(arguments));
        const auto run = run_browser(arguments);
        EXPECT_EQ(run.exit_code, 2u);
        EXPECT_TRUE(run.out.empty());
    }
}

// The roots as the shell finds them through the registration: children of the desktop that the navigation
// pane and the view list, under their registered names and with their registered attributes.
TEST(namespace_browser, both_roots_are_registered_children_of_the_desktop)
{
    const auto run = run_browser(L"--format json --depth 0");
    ASSERT_EQ(run.exit_code, 0u) << run.out;
    const auto document = parse_json(run.out);
    ASSERT_EQ(document["roots"].Size(), 2u);
    const char* names[] = {"Sortwell", "Quick pins"};
    for (int i = 0; i < 2; ++i)
    {
        const auto& root = document["roots"][i];
        SCOPED_TRACE(names[i]);
        EXPECT_STREQ(root["name"].GetString(), names[i]);
        EXPECT_TRUE(root["in_navigation_pane"].GetBool());
        EXPECT_TRUE(root["in_view"].GetBool());
        EXPECT_STREQ(root["attribute_names"].GetString(), "FILESYSANCESTOR|FOLDER|HASSUBFOLDER");
        EXPECT_EQ(root["errors"].Size(), 0u);
    }
}
} // namespace
