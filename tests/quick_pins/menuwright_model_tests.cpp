// The published model on disk: which files are read, with what sharing, and what a missing, empty,
// oversized or truncated file gives.

#include "quick_pins/menuwright_model.h"

#include "diagnostics/known_folders.h"
#include "menuwright_snapshot_writer/menuwright_snapshot_writer.h"
#include "module/raii.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <system_error>
#include <vector>

using namespace menuwright_writer;

namespace
{

const std::vector<pin_group_record> sample_records = {
    {L"Reports", L"%USERPROFILE%\\Reports"},
    {L"Inbox", L""},
};

class menuwright_model : public ::testing::Test
{
protected:
    void SetUp() override
    {
        remove_published();
        std::filesystem::create_directories(published());
    }
    void TearDown() override { remove_published(); }

    static std::filesystem::path published() { return menuwright_data_folder() / L"published"; }
    static std::filesystem::path control_path() { return published() / std::string(control_file_name); }
    static std::filesystem::path snapshot_path(std::int32_t number)
    {
        return published() / snapshot_file_name(number);
    }

    static void write(const std::filesystem::path& file, const std::vector<std::byte>& bytes)
    {
        test_support::write_file(file, std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }

    static void publish(std::int32_t number, const std::vector<std::byte>& snapshot)
    {
        write(control_path(), control_file(number));
        write(snapshot_path(number), snapshot);
    }

    static void remove_published()
    {
        std::error_code ec;
        std::filesystem::remove_all(published(), ec);
    }
};

TEST_F(menuwright_model, data_folder_lies_in_local_app_data)
{
    EXPECT_EQ(menuwright_data_folder().wstring(),
              local_app_data_folder().wstring() + L"\\Quenbrook\\Velmora\\Menuwright");
    EXPECT_TRUE(menuwright_data_folder().is_absolute());
}

TEST_F(menuwright_model, reads_the_snapshot_the_control_file_names)
{
    publish(7, sample_model().build());
    ASSERT_TRUE(std::filesystem::exists(published() / L"custom-model-snapshot-7.bin"));
    EXPECT_EQ(load_pin_group_records(), sample_records);
}

TEST_F(menuwright_model, published_files_that_give_no_model)
{
    const std::vector<std::byte> sample = sample_model().build();
    const auto padded_to = [](std::size_t size) {
        snapshot_builder model = sample_model();
        return model.build(size - model.size());
    };
    const struct
    {
        const char* name;
        std::function<void()> prepare;
        bool has_groups;
    } rows[] = {
        {"valid", [&] { publish(1, sample); }, true},
        {"snapshot of exactly 4 MiB", [&] { publish(3, padded_to(0x400000)); }, true},
        {"no published folder", [] { remove_published(); }, false},
        {"no control file", [&] { write(snapshot_path(1), sample); }, false},
        {"empty control file",
         [&] {
             publish(1, sample);
             write(control_path(), {});
         },
         false},
        {"control file of 13 bytes",
         [&] {
             publish(1, sample);
             auto control = control_file(1);
             control.push_back(std::byte{0});
             write(control_path(), control);
         },
         false},
        {"control file of 11 bytes",
         [&] {
             publish(1, sample);
             const auto control = control_file(1);
             write(control_path(), std::vector<std::byte>(control.begin(), control.end() - 1));
         },
         false},
        {"control file of version 17",
         [&] {
             publish(1, sample);
             write(control_path(), control_file(1, magic, 17));
         },
         false},
        {"snapshot number 0", [&] { publish(0, sample); }, false},
        {"control file is a folder",
         [&] {
             write(snapshot_path(1), sample);
             std::filesystem::create_directories(control_path());
         },
         false},
        {"named snapshot missing",
         [&] {
             publish(4, sample);
             write(control_path(), control_file(5));
         },
         false},
        {"snapshot name with a leading zero",
         [&] {
             write(control_path(), control_file(7));
             write(published() / L"custom-model-snapshot-07.bin", sample);
         },
         false},
        {"empty snapshot", [&] { publish(2, {}); }, false},
        {"snapshot one byte over 4 MiB", [&] { publish(2, padded_to(0x400001)); }, false},
        {"truncated snapshot",
         [&] {
             publish(2, std::vector<std::byte>(sample.begin(), sample.end() - 1));
         },
         false},
        {"snapshot with a tab in a group name",
         [&] {
             snapshot_builder model = sample_model();
             model.add_quick_pins_group(u"Tab\there", u"");
             publish(2, model.build());
         },
         false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        SetUp();
        row.prepare();
        const auto records = load_pin_group_records();
        if (row.has_groups)
            EXPECT_EQ(records, sample_records);
        else
            EXPECT_TRUE(records.empty());
    }
}

// Menuwright may hold its files open, for writing and deleting, while we read them.
TEST_F(menuwright_model, reads_files_the_publisher_holds_open)
{
    publish(9, sample_model().build());
    const auto hold = [](const std::filesystem::path& file, DWORD share) {
        return unique_hfile(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, share, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    {
        const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        const unique_hfile control = hold(control_path(), all);
        const unique_hfile snapshot = hold(snapshot_path(9), all);
        ASSERT_TRUE(control && snapshot);
        EXPECT_EQ(load_pin_group_records(), sample_records);
    }
    {
        // A publisher that shuts readers out gives no model for that call, and nothing worse.
        const unique_hfile snapshot = hold(snapshot_path(9), 0);
        ASSERT_TRUE(snapshot);
        EXPECT_TRUE(load_pin_group_records().empty());
    }
}

// Nothing stays open after a call, so the publisher can replace the files; the next call reads them anew.
TEST_F(menuwright_model, keeps_no_file_open_and_reads_afresh)
{
    publish(1, sample_model().build());
    ASSERT_EQ(load_pin_group_records(), sample_records);

    for (const auto& file : {control_path(), snapshot_path(1)})
    {
        const unique_hfile exclusive(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(exclusive) << file.string() << " error " << GetLastError();
    }

    snapshot_builder next;
    next.header_text = next.text(u"next");
    next.add_quick_pins_group(u"Clients", u"D:\\Clients");
    publish(2, next.build());
    ASSERT_TRUE(std::filesystem::remove(snapshot_path(1)));
    const std::vector<pin_group_record> expected = {{L"Clients", L"D:\\Clients"}};
    EXPECT_EQ(load_pin_group_records(), expected);
}

} // namespace
