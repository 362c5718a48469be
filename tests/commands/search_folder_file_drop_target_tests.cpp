// Dropping files onto an organised search: real data objects in, job files and worker starts out (the
// worker stand-in beside the test executable records both).

#include "commands/search_folder_file_drop_target.h"

#include "commands_test_support.h"
#include "module/namespace_module.h"
#include "namespace/search_and_action_item_data.h"
#include "support/drop_sources.h"

#include <gtest/gtest.h>

using namespace commands_test;

namespace
{
using test_support::fixed_data_object;

constexpr DWORD key_states[] = {0, MK_LBUTTON, MK_RBUTTON, MK_SHIFT, MK_CONTROL, MK_CONTROL | MK_SHIFT, MK_ALT,
                                MK_LBUTTON | MK_CONTROL | MK_SHIFT | MK_ALT};

unique_child_id organised_search(const std::wstring& name, const std::optional<std::wstring>& action_type,
                                 const std::optional<std::wstring>& action_parameters)
{
    namespace_settings::query_record query;
    query.name = name;
    query.query = L"kind:picture";
    query.action_type = action_type;
    query.action_parameters = action_parameters;
    return create_search_item({L"Photos"}, query, {}, {});
}

com_ptr<IDropTarget> drop_target(PCUITEMID_CHILD item)
{
    com_ptr<IDropTarget> target;
    EXPECT_EQ(hresult_bits(create_search_folder_file_drop_target(item, IID_IDropTarget, target.put_void())),
              hresult_bits(S_OK));
    return target;
}

// The "files" of a job file as the worker stand-in read it: "path" values in order.
std::vector<std::string> job_paths(const std::string& job)
{
    rapidjson::Document document;
    std::vector<std::string> paths;
    if (document.Parse(job.data(), job.size()).HasParseError() || !document.HasMember("files"))
        return {"<not a job>"};
    for (const auto& file : document["files"].GetArray())
        paths.emplace_back(file["path"].GetString(), file["path"].GetStringLength());
    return paths;
}

std::string job_text(const std::string& job, const char* member)
{
    rapidjson::Document document;
    if (document.Parse(job.data(), job.size()).HasParseError() || !document.HasMember("job"))
        return "<not a job>";
    return document["job"][member].GetString();
}

// Job files go to a folder of their own, so that a drop that must not write one can be seen to write
// none; the dropped files lie in another.
class search_drop_test : public ::testing::Test
{
protected:
    std::vector<std::filesystem::path> make_files(const std::vector<std::wstring>& names)
    {
        std::vector<std::filesystem::path> files;
        for (const auto& name : names)
        {
            files.push_back(dropped.path() / name);
            test_support::write_file(files.back(), "x");
        }
        return files;
    }
    bool no_job_written() const { return std::filesystem::is_empty(jobs.path()); }

    LONG locks_before = the_module().lock_count();
    test_support::scratch_folder dropped{L"search drop files"};
    test_support::scratch_folder jobs{L"search drop jobs"};
    temp_folder_override temp{jobs.path()};
};

TEST_F(search_drop_test, only_an_organised_search_takes_drops_and_always_as_a_link)
{
    const unique_child_id search = organised_search(L"Holiday", L"toggle_tags", L"Holiday");
    const unique_child_id folder = create_folder_item({L"Photos"});
    unique_child_id foreign = create_search_item({L"Photos"}, {L"x"}, {}, {});
    own_item_data(foreign.get())->cb = 12062;
    const auto files = make_files({L"a.txt"});
    const auto data = test_support::file_data_object(files);
    ASSERT_TRUE(data);
    const auto text = fixed_data_object::text(L"from a browser");

    for (const auto& [name, item] : {std::pair{"organised folder", folder.get()},
                                     std::pair{"foreign identifier", foreign.get()},
                                     std::pair{"no item", static_cast<PITEMID_CHILD>(nullptr)}})
    {
        SCOPED_TRACE(name);
        const auto target = drop_target(item);
        DWORD effect = DROPEFFECT_COPY;
        EXPECT_EQ(hresult_bits(target->DragEnter(data.get(), 0, {}, &effect)), hresult_bits(E_FAIL));
        EXPECT_EQ(hresult_bits(target->DragOver(0, {}, &effect)), hresult_bits(E_FAIL));
        EXPECT_EQ(hresult_bits(target->Drop(data.get(), 0, {}, &effect)), hresult_bits(E_FAIL));
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
        EXPECT_EQ(hresult_bits(target->DragLeave()), hresult_bits(S_OK));
    }

    const auto target = drop_target(search.get());
    for (const DWORD keys : key_states)
    {
        SCOPED_TRACE(keys);
        for (IDataObject* offered : {data.get(), text.get()})
        {
            DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
            EXPECT_EQ(hresult_bits(target->DragEnter(offered, keys, {}, &effect)), hresult_bits(S_OK));
            EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
            effect = DROPEFFECT_MOVE;
            EXPECT_EQ(hresult_bits(target->DragOver(keys, {}, &effect)), hresult_bits(S_OK));
            EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
        }
        // Text alone is taken quietly and starts nothing.
        DWORD effect = DROPEFFECT_MOVE;
        EXPECT_EQ(hresult_bits(target->Drop(text.get(), keys, {}, &effect)), hresult_bits(S_OK));
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
    }
    EXPECT_EQ(hresult_bits(target->DragEnter(data.get(), 0, {}, nullptr)), hresult_bits(E_POINTER));
    EXPECT_EQ(hresult_bits(target->Drop(nullptr, 0, {}, nullptr)), hresult_bits(E_INVALIDARG));
    EXPECT_TRUE(no_job_written());
}

TEST_F(search_drop_test, star_names_rate_and_other_names_toggle_the_search_own_tags)
{
    // Drop order, not name order.
    const auto files = make_files({L"c.jpg", L"a \u00e9.jpg", L"b.jpg"});
    const auto data = test_support::file_data_object(files);
    ASSERT_TRUE(data);
    struct row
    {
        const char* name;
        unique_child_id item;
        com_ptr<IDataObject> data;
        std::string action;
        std::string parameters;
        std::vector<std::string> paths;
    };
    std::vector<std::string> dropped_paths;
    for (const auto& file : files)
        dropped_paths.push_back(to_utf8(file.wstring()));
    row rows[] = {
        {"three stars", organised_search(L"\u2605\u2605\u2605", std::nullopt, std::nullopt), data, "set_rating", "3",
         dropped_paths},
        {"one star whatever the configured action", organised_search(L"\u2605", L"toggle_tags", L"Best"), data,
         "set_rating", "1", dropped_paths},
        // The configured action type names another action: still the tags of the search.
        {"tag search", organised_search(L"Holiday", L"set_rating", L"tag:\"Holiday\";Family"), data, "toggle_tags",
         "tag:\"Holiday\";Family", dropped_paths},
        {"a file list without files", organised_search(L"Holiday", L"toggle_tags", L"Holiday"),
         fixed_data_object::empty_file_list(), "toggle_tags", "Holiday", {}},
    };
    for (auto& [name, item, offered, action, parameters, paths] : rows)
    {
        SCOPED_TRACE(name);
        batch_worker_recorder recorder;
        test_support::log_capture log;
        DWORD effect = DROPEFFECT_COPY;
        EXPECT_EQ(hresult_bits(drop_target(item.get())->Drop(offered.get(), MK_CONTROL, {}, &effect)),
                  hresult_bits(S_OK));
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
        const auto records = recorder.wait_for(1);
        ASSERT_EQ(records.size(), 1u);
        ASSERT_TRUE(records[0].job_file);
        EXPECT_EQ(std::filesystem::path(records[0].arguments).parent_path(), jobs.path());
        EXPECT_EQ(job_text(*records[0].job_file, "action_type"), action);
        EXPECT_EQ(job_text(*records[0].job_file, "action_parameters"), parameters);
        EXPECT_EQ(job_paths(*records[0].job_file), paths);
        EXPECT_EQ(log.messages(), std::vector<std::string>{});
    }
}

TEST_F(search_drop_test, a_failing_submission_is_logged_and_answers_e_fail)
{
    const auto files = make_files({L"a.txt"});
    const auto data = test_support::file_data_object(files);
    ASSERT_TRUE(data);
    const unique_child_id search = organised_search(L"\u2605\u2605", std::nullopt, std::nullopt);
    test_support::log_capture log;
    {
        shell_routes_override routes;
        DWORD effect = 0;
        EXPECT_EQ(hresult_bits(drop_target(search.get())->Drop(data.get(), 0, {}, &effect)), hresult_bits(E_FAIL));
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
    }
    {
        // No temporary folder: the file-system error's own text.
        temp_folder_override missing(jobs.path() / L"missing");
        EXPECT_EQ(hresult_bits(drop_target(search.get())->Drop(data.get(), 0, {}, nullptr)), hresult_bits(E_FAIL));
    }
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "ERROR Error handling drop of files. Details: Failed to launch process via Explorer "
                           "(ShellExecute fallback failed).");
    EXPECT_TRUE(messages[1].starts_with("ERROR Error handling drop of files. Details: ")) << messages[1];
    EXPECT_NE(messages[1].find("temp_directory_path"), std::string::npos) << messages[1];
}

TEST_F(search_drop_test, targets_leave_no_module_lock_behind)
{
    {
        const unique_child_id search = organised_search(L"\u2605", std::nullopt, std::nullopt);
        const auto target = drop_target(search.get());
        EXPECT_GT(the_module().lock_count(), locks_before);
        com_ptr<IUnknown> unknown;
        EXPECT_EQ(hresult_bits(target->QueryInterface(IID_IUnknown, unknown.put_void())), hresult_bits(S_OK));
        com_ptr<IDataObject> none;
        EXPECT_EQ(hresult_bits(target->QueryInterface(IID_IDataObject, none.put_void())), hresult_bits(E_NOINTERFACE));
        EXPECT_EQ(hresult_bits(create_search_folder_file_drop_target(search.get(), IID_IDataObject, none.put_void())),
                  hresult_bits(E_NOINTERFACE));
        EXPECT_EQ(hresult_bits(create_search_folder_file_drop_target(search.get(), IID_IDropTarget, nullptr)),
                  hresult_bits(E_POINTER));
    }
    EXPECT_EQ(the_module().lock_count(), locks_before);
}
} // namespace
