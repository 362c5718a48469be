#pragma once
// Each settings case starts without the namespace, tags and people files in the per-user settings
// folder, and with an empty private sub-folder for files of its own; it leaves neither behind.

#include "base/known_folders.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace settings_test
{
inline std::filesystem::path configuration_file(const wchar_t* stem)
{
    return test_support::settings_folder() / (std::wstring(stem) + L".json");
}

class settings_fixture : public ::testing::Test
{
protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }

    static std::wstring sub_folder() { return L"settings-tests-" + std::to_wstring(GetCurrentProcessId()); }
    static std::filesystem::path own_folder() { return suite_data_folder() / sub_folder(); }
    static std::filesystem::path own_file(const wchar_t* stem) { return own_folder() / (std::wstring(stem) + L".json"); }
    // Writes the file and gives it a last-write time later than any before, so every load sees it.
    void write(const std::filesystem::path& file, const std::string& bytes)
    {
        test_support::write_file(file, bytes);
        test_support::touch_file(file, ++generation_);
    }

private:
    static void clean()
    {
        std::error_code ec;
        std::filesystem::remove_all(own_folder(), ec);
        for (const wchar_t* stem : {L"Namespace", L"All Tags", L"All People"})
            std::filesystem::remove_all(configuration_file(stem), ec);
    }
    int generation_ = 0;
};
} // namespace settings_test
