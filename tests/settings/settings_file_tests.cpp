// The settings base class (locating, re-reading only on change, seeding a missing file) and the suite
// settings file, through its public operations.

#include "settings_fixture.h"

#include "common/setting_utilities/common_settings_file.h"
#include "base/log.h"
#include "settings/high_level_settings.h"
#include "settings/namespace_settings.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace
{
using settings_test::configuration_file;
using suite_settings = high_level_settings::settings_file;

// A settings file that counts its reads and answers as told.
class counting_file final : public common::setting_utilities::common_settings_file
{
public:
    using common_settings_file::common_settings_file;
    ~counting_file() = default;
    bool read() override { return ++reads, answer; }
    bool write() override { return false; }
    int reads = 0;
    bool answer = true;
};

class settings_file_test : public settings_test::settings_fixture
{
protected:
    const std::filesystem::path suite_file = own_file(L"High Level Settings");

    std::unique_ptr<suite_settings> load_suite(const std::string& bytes)
    {
        write(suite_file, bytes);
        auto settings = std::make_unique<suite_settings>(nullptr, sub_folder(), L"High Level Settings");
        EXPECT_TRUE(settings->load(false));
        return settings;
    }
};

// The application records in one line, for comparing whole maps.
std::string describe(const suite_settings& settings)
{
    std::string text;
    for (const auto& [id, app] : settings.apps())
    {
        text += "[" + id + "|" + app.app_id + "|" + app.name + "|" + app.version + "|" + app.status;
        for (const auto& [key, value] : app.settings)
        {
            text += "|" + key + "=";
            if (const bool* b = std::get_if<bool>(&value))
                text += *b ? "true" : "false";
            else if (const auto* i = std::get_if<std::int32_t>(&value))
                text += "i" + std::to_string(*i);
            else if (const auto* s = std::get_if<std::string>(&value))
                text += "'" + *s + "'";
            else
                for (const auto& element : std::get<std::vector<std::string>>(value))
                    text += "'" + element + "'";
        }
        text += "]";
    }
    return text;
}

std::string nested(const std::string& open, const std::string& close, int depth, const std::string& middle = "")
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += open;
    text += middle;
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

TEST_F(settings_file_test, constructor_creates_missing_folders_or_raises)
{
    const counting_file settings(nullptr, sub_folder() + L"\\a\\b", L"Stem");
    EXPECT_EQ(settings.full_path(), (own_folder() / L"a" / L"b" / L"Stem.json").wstring());
    EXPECT_TRUE(std::filesystem::is_directory(own_folder() / L"a" / L"b"));
    test_support::write_file(own_folder() / L"blocker", "a file where a folder should be");
    EXPECT_THROW(counting_file(nullptr, sub_folder() + L"\\blocker\\inner", L"Stem"), std::filesystem::filesystem_error);
}

TEST_F(settings_file_test, load_reads_only_when_the_last_write_time_changes)
{
    const auto file = own_file(L"Counted");
    write(file, "{}");
    counting_file settings(nullptr, sub_folder(), L"Counted");
    EXPECT_TRUE(settings.load(false));
    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(settings.reads, 1) << "an unchanged file was read again";

    write(file, R"({"changed": true})");
    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(settings.reads, 2);
    EXPECT_TRUE(settings.load(true));
    EXPECT_EQ(settings.reads, 3) << "force reads an unchanged file";

    // A failed read keeps the stored time, so the next load tries again.
    write(file, "{}");
    settings.answer = false;
    EXPECT_FALSE(settings.load(false));
    EXPECT_FALSE(settings.load(false));
    settings.answer = true;
    EXPECT_TRUE(settings.load(false));
    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(settings.reads, 6);
}

// Seeding copies beside the target and renames without replacing: a target already there (another
// process seeded it) is left alone, and no temporary copy stays behind in any case.
TEST_F(settings_file_test, copy_if_absent_never_replaces_and_leaves_nothing_behind)
{
    const auto folder = own_folder() / L"copies";
    std::filesystem::create_directories(folder);
    const auto source = folder / L"source.json";
    const auto target = folder / L"target.json";
    test_support::write_file(source, R"({"from": "default"})");
    using common::setting_utilities::copy_if_absent;

    EXPECT_TRUE(copy_if_absent(source, target));
    EXPECT_EQ(test_support::read_file(target), R"({"from": "default"})");
    test_support::write_file(target, R"({"from": "another process"})");
    EXPECT_FALSE(copy_if_absent(source, target));
    EXPECT_EQ(test_support::read_file(target), R"({"from": "another process"})");
    std::filesystem::remove(target);
    EXPECT_THROW(copy_if_absent(folder / L"missing.json", target), std::filesystem::filesystem_error);
    EXPECT_THROW(copy_if_absent(source, folder / L"no folder" / L"target.json"), std::filesystem::filesystem_error);
    EXPECT_FALSE(std::filesystem::exists(target));

    std::vector<std::wstring> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        left.push_back(entry.path().filename().wstring());
    EXPECT_EQ(left, std::vector<std::wstring>{L"source.json"});
}

// Several settings objects for one missing file, loaded at once from several threads: one copies the
// default, every load reads it, and nothing is reported as failed.
TEST_F(settings_file_test, a_missing_file_loaded_from_many_threads_is_seeded_once)
{
    const auto source = test_support::executable_folder() / L"Content" / L"Configurations" / L"Namespace.json";
    const std::string copied = "INFO Copied default settings from " + to_utf8(source.wstring()) + " to " +
                               to_utf8(configuration_file(L"Namespace").wstring());
    for (int round = 0; round < 5; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        std::filesystem::remove(configuration_file(L"Namespace"));
        test_support::log_capture log;
        constexpr int threads = 12;
        std::vector<std::unique_ptr<namespace_settings::settings_file>> files;
        for (int t = 0; t < threads; ++t)
            files.push_back(std::make_unique<namespace_settings::settings_file>(nullptr));
        std::atomic<int> arrived{0}, failed{0}, empty{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (++arrived; arrived.load() < threads;)
                    std::this_thread::yield();
                failed += !files[t]->load(false);
                empty += files[t]->folders().empty();
            });
        for (auto& worker : workers)
            worker.join();
        EXPECT_EQ(failed.load(), 0);
        EXPECT_EQ(empty.load(), 0) << "a load read the file before it was whole";
        EXPECT_EQ(log.messages(), std::vector<std::string>{copied});
        EXPECT_EQ(test_support::read_file(configuration_file(L"Namespace")), test_support::read_file(source));
    }
}

TEST_F(settings_file_test, suite_settings_records_from_members_of_every_type)
{
    const std::pair<std::string, const char*> rows[] = {
        {R"({"version": "3.1", "apps": [{"app_id": "sortwell", "name": "Sortwell", "version": "1.2", "status": "on",
             "settings": {"flag": false, "count": -7, "label": "x", "list": ["a", 1, null, "b", {}, []],
                          "none": null, "fraction": 1.5, "big": 2147483648, "smallest": -2147483648,
                          "general": {"showInExplorerPanel": false, "n": 2147483647, "s": "t", "l": ["u"],
                                      "inner": {"showInExplorerPanel": true}, "z": null, "f": 0.5,
                                      "huge": -2147483649}}}]})",
         "[sortwell|sortwell|Sortwell|1.2|on|count=i-7|flag=false|general.l='u'|general.n=i2147483647"
         "|general.s='t'|general.showInExplorerPanel=false|label='x'|list='a''b'|smallest=i-2147483648]"},
        {R"({"apps": [{"app_id": "sortwell", "name": 1, "version": true, "status": ["disabled"], "settings": []}]})",
         "[sortwell|sortwell|||]"},
        {R"({"apps": [1, "sortwell", null, [], {"name": "no id"}, {"app_id": 5}, {"app_id": ""}, {"app_id": null},
                      {"app_id": "menuwright"}]})",
         "[menuwright|menuwright|||]"},
        {R"({"apps": [{"app_id": "sortwell", "name": "first"}, {"app_id": "sortwell", "name": "second"}]})",
         "[sortwell|sortwell|first||]"},
        {R"({"apps": [{"app_id": "b"}, {"app_id": "B"}, {"app_id": "a"}]})", "[B|B|||][a|a|||][b|b|||]"},
        {R"({"apps": []})", ""},
        {R"({"apps": [{"app_id": "sortwell", "settings": {"general": {"deep": )" + nested("[", "]", 100'000) +
             R"(, "deeper": )" + nested("{\"a\":", "}", 100'000, "1") + R"(, "showInExplorerPanel": false}}}]})",
         "[sortwell|sortwell||||general.deep=|general.showInExplorerPanel=false]"},
    };
    for (const auto& [document, expected] : rows)
    {
        SCOPED_TRACE(document.substr(0, 100));
        EXPECT_EQ(describe(*load_suite(document)), expected);
    }
}

// The gate's own cases (a switch false, "false" or 0, "disabled" in either case, no record) run through
// the DLL's export in the module tests; these are the rest.
TEST_F(settings_file_test, suite_settings_answers)
{
    const std::string document = R"({"apps": [{"app_id": "sortwell", "status": "disabled ",
        "settings": {"general": {"off": false, "on": true, "list": []}}}, {"app_id": "other", "status": "disabled"}]})";
    const auto settings = load_suite(document);
    EXPECT_TRUE(settings->is_app_enabled()) << "only \"disabled\" exactly switches the application off";
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"sortwell", "general.off", false}, {"sortwell", "general.on", true}, {"sortwell", "general.list", true},
        {"sortwell", "general.none", true}, {"sortwell", "off", true},         {"other", "general.off", true},
    };
    for (const auto& [app, key, expected] : rows)
        EXPECT_EQ(settings->get_bool_setting(app, key), expected) << app << " " << key;
    EXPECT_FALSE(settings->write()) << "the suite settings are the Settings app's alone";
    EXPECT_EQ(test_support::read_file(suite_file), document);
}

TEST_F(settings_file_test, readers_see_whole_maps_while_the_file_changes)
{
    const std::string a = R"({"apps": [{"app_id": "sortwell", "name": "A", "settings": {"general": {"x": false}}},
                                       {"app_id": "x", "name": "A"}]})";
    const std::string b = R"({"apps": [{"app_id": "sortwell", "name": "B", "status": "disabled"},
                                       {"app_id": "y", "name": "B"}, {"app_id": "z", "name": "B"}]})";
    const std::string a_description = "[sortwell|sortwell|A|||general.x=false][x|x|A||]";
    const std::string b_description = "[sortwell|sortwell|B||disabled][y|y|B||][z|z|B||]";
    const auto settings = load_suite(a);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, snapshots{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&, t] {
            while (!done.load())
            {
                if (t == 0)
                    settings->is_app_enabled(); // loads as well, concurrently with the writer's loads
                const std::string seen = describe(*settings);
                torn += seen != a_description && seen != b_description;
                ++snapshots;
            }
        });
    for (int i = 0; i < 150; ++i)
    {
        write(suite_file, i % 2 ? a : b);
        settings->load(false);
    }
    done = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(snapshots.load(), 0);
}
} // namespace
