#pragma once
// A fixture for the namespace, tags and people files: each case starts without them in the per-user
// settings folder and leaves none behind.

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace configuration_test
{
inline std::filesystem::path namespace_file()
{
    return test_support::settings_folder() / L"Namespace.json";
}
inline std::filesystem::path tags_file()
{
    return test_support::settings_folder() / L"All Tags.json";
}
inline std::filesystem::path people_file()
{
    return test_support::settings_folder() / L"All People.json";
}

inline void remove_configuration_files()
{
    std::error_code ec;
    for (const auto& file : {namespace_file(), tags_file(), people_file()})
        std::filesystem::remove_all(file, ec);
}

// Expected outputs live in tests/settings/data and are copied beside the test executable.
inline std::string expected_output(const wchar_t* name)
{
    return test_support::read_file(test_support::executable_folder() / L"settings-test-data" / name);
}

class configuration_files : public ::testing::Test
{
protected:
    void SetUp() override { remove_configuration_files(); }
    void TearDown() override { remove_configuration_files(); }
};
} // namespace configuration_test
