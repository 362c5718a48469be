// The published model on disk: which files are read, with what sharing, and what a missing, empty,
// oversized or truncated file, or a control file of another kind, gives.

#include "store_fixture.h"

#include "base/known_folders.h"
#include "base/raii.h"

#include <functional>

using namespace menuwright_writer;
using namespace quick_pins_test;

namespace
{
const std::vector<pin_group_record> sample_records = {{L"Reports", L"%USERPROFILE%\\Reports"}, {L"Inbox", L""}};

std::filesystem::path control_path()
{
    return published_folder() / std::string(control_file_name);
}

std::filesystem::path snapshot_path(std::int32_t number)
{
    return published_folder() / snapshot_file_name(number);
}

using menuwright_model = store_test;

TEST_F(menuwright_model, published_files_that_give_no_model)
{
    EXPECT_EQ(menuwright_data_folder().wstring(), local_app_data_folder().wstring() + L"\\Quenbrook\\Velmora\\Menuwright");
    const std::vector<std::byte> sample = sample_model().build();
    const auto padded_to = [](std::size_t size) {
        snapshot_builder model = sample_model();
        return model.build(size - model.size());
    };
    const struct { const char* name; std::function<void()> prepare; bool has_groups; } rows[] = {
        {"valid", [&] { publish(1, sample); }, true},
        {"snapshot of exactly 4 MiB", [&] { publish(3, padded_to(0x400000)); }, true},
        {"no published folder", [] {}, false},
        {"control file of 13 bytes",
         [&] {
             publish(1, sample);
             auto control = control_file(1);
             control.push_back(std::byte{0});
             write_bytes(control_path(), control);
         },
         false},
        {"named snapshot missing", [&] { publish(4, sample); write_bytes(control_path(), control_file(5)); }, false},
        {"snapshot number 2147483647", [&] { publish(0x7FFFFFFF, sample); }, true},
        {"control file of another magic",
         [&] { publish(1, sample); write_bytes(control_path(), control_file(1, 0xD6434250)); }, false},
        {"control file of version 17",
         [&] { publish(1, sample); write_bytes(control_path(), control_file(1, magic, 17)); }, false},
        {"empty snapshot", [&] { publish(2, {}); }, false},
        {"snapshot one byte over 4 MiB", [&] { publish(2, padded_to(0x400001)); }, false},
        {"truncated snapshot", [&] { publish(2, std::vector<std::byte>(sample.begin(), sample.end() - 1)); }, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        clean();
        row.prepare();
        EXPECT_EQ(load_pin_group_records(), row.has_groups ? sample_records : std::vector<pin_group_record>{});
    }
}

// Menuwright may hold its files open, and replace them, while we read; we keep nothing open in between.
TEST_F(menuwright_model, shares_the_files_with_their_publisher_and_reads_them_afresh)
{
    publish(9, sample_model().build());
    const auto hold = [](const std::filesystem::path& file, DWORD share) {
        return unique_hfile(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, share, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    {
        const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        const unique_hfile control = hold(control_path(), all), snapshot = hold(snapshot_path(9), all);
        ASSERT_TRUE(control && snapshot);
        EXPECT_EQ(load_pin_group_records(), sample_records);
    }
    {
        // A publisher that shuts readers out gives no model for that call, and nothing worse.
        const unique_hfile snapshot = hold(snapshot_path(9), 0);
        ASSERT_TRUE(snapshot);
        EXPECT_TRUE(load_pin_group_records().empty());
    }
    EXPECT_EQ(load_pin_group_records(), sample_records);
    for (const auto& file : {control_path(), snapshot_path(9)})
    {
        EXPECT_TRUE(hold(file, 0)) << file.string() << " left open, error " << GetLastError();
    }

    snapshot_builder next;
    next.add_quick_pins_group(u"Clients", u"D:\\Clients");
    publish(10, next.build());
    ASSERT_TRUE(std::filesystem::remove(snapshot_path(9)));
    EXPECT_EQ(load_pin_group_records(), (std::vector<pin_group_record>{{L"Clients", L"D:\\Clients"}}));
}
} // namespace
