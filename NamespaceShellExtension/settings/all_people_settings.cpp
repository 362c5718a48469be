#include "settings/all_people_settings.h"

namespace all_people_settings
{
settings_file::settings_file(HMODULE module) : common_settings_file(module, L"Settings", L"All People")
{
}

bool settings_file::read()
{
    try
    {
        common::setting_utilities::settings_file_stream text(full_path());
        auto contents = read_contents(text);
        if (!contents)
            return false;
        if (contents->version)
            version_ = std::move(*contents->version);
        if (contents->people)
            people_.swap(*contents->people);
        return true;
    }
    catch (...)
    {
        return false;
    }
}
} // namespace all_people_settings
