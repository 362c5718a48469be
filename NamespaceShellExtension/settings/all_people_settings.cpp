#include "settings/all_people_settings.h"

#include "common/setting_utilities/json_document.h"
#include "settings/settings_json.h"

namespace all_people_settings
{
namespace
{
using common::setting_utilities::find_member;
using settings_json::wide_member;

person_record read_person(const rapidjson::Value& element)
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
        rapidjson::Document document;
        read_document(document);
        if (!document.IsObject())
            return false;
        if (auto version = wide_member(document, "version"))
            version_ = std::move(*version);
        const auto* people = find_member(document, "people");
        if (people && people->IsArray())
        {
            std::vector<person_record> records;
            records.reserve(people->Size());
            for (const auto& person : people->GetArray())
                records.push_back(read_person(person));
            people_.swap(records);
        }
        return true;
    }
    catch (...)
    {
        return false;
    }
}
} // namespace all_people_settings
