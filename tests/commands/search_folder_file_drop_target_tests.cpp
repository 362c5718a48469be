// Dropping files onto an organised search: real data objects in, job files and worker starts out (the
// worker stand-in beside the test executable records both).

#include "commands/search_folder_file_drop_target.h"

#include "commands_test_support.h"
#include "base/namespace_module.h"
#include "items/search_and_action_item_data.h"
#include "support/drop_sources.h"

#include <gtest/gtest.h>

using namespace commands_test;

namespace
{
using test_support::fixed_data_object;

constexpr DWORD key_states[] = {0, MK_LBUTTON, MK_RBUTTON, MK_SHIFT, MK_CONTROL, MK_ALT,
                                MK_LBUTTON | MK_CONTROL | MK_SHIFT | MK_ALT};

unique_child_id organised_search(const std::wstring& name, std::optional<std::wstring> action_type = {},
                                 std::optional<std::wstring> action_parameters = {})
{
    return create_search_item({L"Photos"}, {name, {}, {}, {}, L"kind:picture", action_type, action_parameters}, {}, {});
}

com_ptr<IDropTarget> drop_target(PCUITEMID_CHILD item)
{
    com_ptr<IDropTarget> target;
    EXPECT_EQ(hresult_bits(create_search_folder_file_drop_target(item, IID_IDropTarget, target.put_void())),
              hresult_bits(S_OK));
    return target;
}

// The job's action type, its parameters and then the file paths, as the worker stand-in read them.
std::vector<std::string> job_summary(const std::string& job)
{
    rapidjson::Document document;
    if (document.Parse(job.data(), job.size()).HasParseError())
        return {"<not JSON>"};
    std::vector<std::string> summary{document["job"]["action_type"].GetString(),
                                     document["job"]["action_parameters"].GetString()};
    for (const auto& file : document["files"].GetArray())
        summary.emplace_back(file["path"].GetString());
    return summary;
}

// Job files go to a folder of their own, so that a drop that must write none can be seen to write none.
class search_drop_test : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(the_module().lock_count(), locks_before_) << "a drop target is still alive"; }

    std::vector<std::filesystem::path> make_files(const std::vector<std::wstring>& names)
    {
        std::vector<std::filesystem::path> files;
        for (const auto& name : names)
            test_support::write_file(files.emplace_back(dropped.path() / name), "x");
        return files;
    }

    LONG locks_before_ = the_module().lock_count();
    test_support::scratch_folder dropped{L"search drop files"};
    test_support::scratch_folder jobs{L"search drop jobs"};
    temp_folder_override temp{jobs.path()};
};

TEST_F(search_drop_test, only_an_organised_search_takes_drops_and_always_as_a_link)
{
    const auto data = test_support::file_data_object(make_files({L"a.txt"}));
    ASSERT_TRUE(data);
    const auto text = fixed_data_object::text(L"from a browser");
    const unique_child_id folder = create_folder_item({L"Photos"});
    unique_child_id foreign = organised_search(L"\u2605");
    own_item_data(foreign.get())->cb = 12062;
    for (const auto& [name, item] : {std::pair{"organised folder", folder.get()}, {"foreign identifier", foreign.get()},
                                     {"no item", nullptr}})
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

    const unique_child_id search = organised_search(L"Holiday", L"toggle_tags", L"Holiday");
    const auto target = drop_target(search.get());
    for (const DWORD keys : key_states)
    {
        SCOPED_TRACE(keys);
        DWORD enter = DROPEFFECT_MOVE, over = DROPEFFECT_COPY, drop = DROPEFFECT_MOVE;
        EXPECT_EQ(hresult_bits(target->DragEnter(data.get(), keys, {}, &enter)), hresult_bits(S_OK));
        EXPECT_EQ(hresult_bits(target->DragOver(keys, {}, &over)), hresult_bits(S_OK));
        // Text alone is taken quietly and starts nothing.
        EXPECT_EQ(hresult_bits(target->Drop(text.get(), keys, {}, &drop)), hresult_bits(S_OK));
        EXPECT_EQ(std::vector<DWORD>({enter, over, drop}), std::vector<DWORD>(3, DROPEFFECT_LINK));
    }
    EXPECT_TRUE(std::filesystem::is_empty(jobs.path()));
    EXPECT_EQ(hresult_bits(target->DragEnter(data.get(), 0, {}, nullptr)), hresult_bits(E_POINTER));
    EXPECT_EQ(hresult_bits(target->Drop(nullptr, 0, {}, nullptr)), hresult_bits(E_INVALIDARG));
    com_ptr<IDataObject> none;
    EXPECT_EQ(hresult_bits(target->QueryInterface(IID_IDataObject, none.put_void())), hresult_bits(E_NOINTERFACE));
}

TEST_F(search_drop_test, star_names_rate_and_other_names_toggle_the_search_own_tags)
{
    // Drop order, not name order.
    const auto files = make_files({L"c.jpg", L"a \u00e9.jpg", L"b.jpg"});
    const auto data = test_support::file_data_object(files);
    ASSERT_TRUE(data);
    const auto with_paths = [&](std::vector<std::string> summary) {
        for (const auto& file : files)
            summary.push_back(to_utf8(file.wstring()));
        return summary;
    };
    const struct { const char* name; unique_child_id item; com_ptr<IDataObject> offered;
                   std::vector<std::string> summary; } rows[] = {
        {"three stars", organised_search(L"\u2605\u2605\u2605"), data, with_paths({"set_rating", "3"})},
        {"one star, whatever the configured action", organised_search(L"\u2605", L"toggle_tags", L"Best"), data,
         with_paths({"set_rating", "1"})},
        {"a tag search configured with another action", organised_search(L"Holiday", L"set_rating", L"tag:\"Holiday\";Family"),
         data, with_paths({"toggle_tags", "tag:\"Holiday\";Family"})},
        {"a file list without files", organised_search(L"Holiday", L"toggle_tags", L"Holiday"),
         fixed_data_object::file_list({}), {"toggle_tags", "Holiday"}},
    };
    for (const auto& [name, item, offered, summary] : rows)
    {
        SCOPED_TRACE(name);
        batch_worker_recorder recorder;
        test_support::log_capture log;
        DWORD effect = DROPEFFECT_COPY;
        EXPECT_EQ(hresult_bits(drop_target(item.get())->Drop(offered.get(), MK_CONTROL, {}, &effect)), hresult_bits(S_OK));
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
        const auto records = recorder.wait_for(1);
        ASSERT_EQ(records.size(), 1u);
        ASSERT_TRUE(records[0].job_file);
        EXPECT_EQ(std::filesystem::path(records[0].arguments).parent_path(), jobs.path());
        EXPECT_EQ(job_summary(*records[0].job_file), summary);
        EXPECT_EQ(log.messages(), std::vector<std::string>{});
    }
}

TEST_F(search_drop_test, a_failing_submission_is_logged_and_answers_e_fail)
{
    const auto data = test_support::file_data_object(make_files({L"a.txt"}));
    ASSERT_TRUE(data);
    const unique_child_id search = organised_search(L"\u2605\u2605");
    test_support::log_capture log;
    shell_routes_override routes;
    DWORD effect = 0;
    EXPECT_EQ(hresult_bits(drop_target(search.get())->Drop(data.get(), 0, {}, &effect)), hresult_bits(E_FAIL));
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"ERROR Error handling drop of files. Details: Failed to launch "
                                                       "process via Explorer (ShellExecute fallback failed)."});
}
} // namespace
