// The namespace browser against a real file-system folder and against the registered roots: its JSON
// and text output, its exit codes and its command line.

#include "base/log.h"
#include "base/raii.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <windows.h>

#include <algorithm>
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
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0))
        throw std::runtime_error("CreatePipe failed");
    unique_handle reader(read_end), writer(write_end);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring command = L"\"" + (test_support::executable_folder() / L"namespace_browser.exe").wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        throw std::runtime_error("CreateProcessW failed");
    unique_handle process_handle(process.hProcess), thread_handle(process.hThread);
    writer.reset();

    run_result result;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) && read)
        result.out.append(buffer, read);
    if (WaitForSingleObject(process_handle.get(), 120'000) != WAIT_OBJECT_0)
        TerminateProcess(process_handle.get(), 1);
    GetExitCodeProcess(process_handle.get(), &result.exit_code);
    return result;
}

rapidjson::Document parse_json(const std::string& text)
{
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    EXPECT_FALSE(document.HasParseError()) << text;
    return document;
}

// The names of an item's children, in the order listed.
std::vector<std::string> child_names(const rapidjson::Value& item)
{
    std::vector<std::string> names;
    if (item.HasMember("children"))
        for (const auto& child : item["children"].GetArray())
            names.emplace_back(child["name"].GetString());
    return names;
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
    EXPECT_STREQ(document["navigation_pane_flags"].GetString(), "0x1020");
    EXPECT_STREQ(document["view_flags"].GetString(), "0x60");
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
    EXPECT_EQ(child_names(*sub), std::vector<std::string>{"inner.txt"});

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

    const auto table = run_browser(L"--path " + quoted_path() + L" --depth 1 --columns name,item_type");
    ASSERT_EQ(table.exit_code, 0u);
    EXPECT_NE(table.out.find("\n  name "), std::string::npos) << table.out;
    EXPECT_NE(table.out.find(" | item_type\n"), std::string::npos) << table.out;
    EXPECT_EQ(table.out.find("inner.txt"), std::string::npos) << table.out;
    // Depth 0 names the start path only.
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

// The roots through the shell, with the configuration a user gets on first start. Registered as the
// shell finds them, both roots are children of the desktop that the navigation pane and the view list,
// under their registered names and with their registered attributes; "Sortwell" lists the organised
// folders of the default "Namespace.json" in file order.
class default_configuration : public ::testing::Test
{
protected:
    void SetUp() override { remove_user_settings(); }
    void TearDown() override { remove_user_settings(); }
    static void remove_user_settings()
    {
        std::error_code ec;
        for (const auto* name : {L"High Level Settings.json", L"Namespace.json", L"All Tags.json", L"All People.json"})
            std::filesystem::remove(test_support::settings_folder() / name, ec);
    }
};

TEST_F(default_configuration, both_roots_are_registered_children_of_the_desktop)
{
    const auto run = run_browser(L"--format json --depth 1 --columns all");
    ASSERT_EQ(run.exit_code, 0u) << run.out;
    const auto document = parse_json(run.out);
    ASSERT_EQ(document["roots"].Size(), 2u);
    const char* names[] = {"Sortwell", "Quick pins"};
    const char* parsing_names[] = {"::{249AE234-08DF-4686-AAF3-5D80A15493BE}", "::{EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}"};
    for (int i = 0; i < 2; ++i)
    {
        const auto& root = document["roots"][i];
        SCOPED_TRACE(names[i]);
        EXPECT_STREQ(root["name"].GetString(), names[i]);
        EXPECT_EQ(_stricmp(root["parsing_name"].GetString(), parsing_names[i]), 0) << root["parsing_name"].GetString();
        EXPECT_TRUE(root["in_navigation_pane"].GetBool());
        EXPECT_TRUE(root["in_view"].GetBool());
        EXPECT_STREQ(root["attribute_names"].GetString(), "FILESYSANCESTOR|FOLDER|HASSUBFOLDER");
        EXPECT_TRUE(root.HasMember("children"));
        EXPECT_EQ(root["errors"].Size(), 0u);
    }

    EXPECT_EQ(child_names(document["roots"][0]), (std::vector<std::string>{"Ratings", "Tags", "People", "Recent files"}));
}
} // namespace
