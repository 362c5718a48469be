#include "settings/all_people_settings.h"

#include "settings/settings_json.h"

namespace all_people_settings
{
namespace
{
using settings_json::wide_member;

person_record read_person(const common::setting_utilities::json_value& element)
{
    person_record record;
    if (!element.IsObject())
        return record;
    if (auto text = wide_member(element, "name"))
        record.name = std::move(*text);
    record.main_photo = wide_member(element, "main_photo");
    return record;
}
} // namespace

settings_file::settings_file(HMODULE module) : common_settings_file(module, L"Settings", L"All People")
{
}

bool settings_file::read()
{
    try
    {
        common::setting_utilities::json_document document;
        read_document(document);
        if (!document.IsObject())
            return false;
        if (auto version = wide_member(document, "version"))
            version_ = std::move(*version);
        settings_json::read_list(document, "people", people_, read_person);
        return true;
    }
    catch (...)
    {
        return false;
    }
}
} // namespace all_people_settings
