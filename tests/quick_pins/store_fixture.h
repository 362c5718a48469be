#pragma once
// A fixture for the quick pins store: a clean Menuwright data folder (no published model, no default
// group folders), a scratch folder for targets, and a volume guard whose Z: drive does not answer.

#include "quick_pins/quick_pins_store.h"

#include "base/log.h"
#include "menuwright_snapshot_writer/menuwright_snapshot_writer.h"
#include "quick_pins/menuwright_model.h"
#include "quick_pins/shell_link.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quick_pins_test
{
using strings = std::vector<std::string>;
using wstrings = std::vector<std::wstring>;

inline std::filesystem::path published_folder()
{
    return menuwright_data_folder() / L"published";
}

inline std::filesystem::path default_groups_folder()
{
    return menuwright_data_folder() / L"Quick pins";
}

inline void remove_tree(const std::filesystem::path& folder)
{
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

inline void write_bytes(const std::filesystem::path& file, const std::vector<std::byte>& bytes)
{
    test_support::write_file(file, std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// The control file naming snapshot `number`, and that snapshot.
inline void publish(std::int32_t number, const std::vector<std::byte>& snapshot)
{
    write_bytes(published_folder() / std::string(menuwright_writer::control_file_name),
                menuwright_writer::control_file(number));
    write_bytes(published_folder() / menuwright_writer::snapshot_file_name(number), snapshot);
}

// Publishes a model with these quick pins groups (name, folder text), in this order.
inline void publish_groups(const std::vector<std::pair<std::u16string, std::u16string>>& groups)
{
    menuwright_writer::snapshot_builder model;
    for (const auto& [name, folder] : groups)
        model.add_quick_pins_group(name, folder);
    publish(1, model.build());
}

inline std::u16string u16(const std::wstring& text)
{
    return std::u16string(text.begin(), text.end());
}

inline void make_file(const std::filesystem::path& file, const std::string& content = "x")
{
    test_support::write_file(file, content);
}

// The real system, except that every volume on drive Z answers "no".
inline volume_guard::environment z_drive_unresponsive()
{
    auto environment = volume_guard::system_environment();
    environment.probe = [](const std::wstring& root) {
        return root[0] != L'Z' && root[0] != L'z' && GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    environment.read_switch = [] { return DWORD{0}; };
    environment.debug_output = [](const wchar_t*) {};
    return environment;
}

class store_test : public ::testing::Test
{
protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }
    static void clean()
    {
        remove_tree(published_folder());
        remove_tree(default_groups_folder());
    }

    std::wstring scratch(const std::wstring& relative = {}) const
    {
        return relative.empty() ? scratch_.path().wstring() : (scratch_.path() / relative).wstring();
    }
    std::wstring group() const { return scratch(L"Group"); }

    // A shortcut written by the store's own writer, to a target that need not exist.
    static void make_pin(const std::wstring& link_file, const std::wstring& target)
    {
        std::filesystem::create_directories(std::filesystem::path(link_file).parent_path());
        ASSERT_TRUE(write_shortcut(link_file, target)) << to_utf8(link_file);
    }

    test_support::scratch_folder scratch_{L"quick-pins"};
    volume_guard guard_{z_drive_unresponsive()};
};

inline std::vector<std::wstring> display_names(const std::vector<quick_pin_entry>& entries)
{
    std::vector<std::wstring> names;
    for (const auto& entry : entries)
        names.push_back(entry.display_name);
    return names;
}

// File names in a folder, sorted.
inline std::vector<std::wstring> folder_contents(const std::filesystem::path& folder)
{
    std::vector<std::wstring> names;
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(folder, ec))
        names.push_back(item.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}
} // namespace quick_pins_test
