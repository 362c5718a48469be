#include "settings/all_tags_settings.h"

#include "settings/settings_json.h"

namespace all_tags_settings
{
namespace
{
using common::setting_utilities::find_member;
using namespace settings_json;

tag_record read_tag(const common::setting_utilities::json_value& element)
{
    tag_record record;
    if (!element.IsObject())
        return record;
    if (auto text = wide_member(element, "name"))
        record.name = std::move(*text);
    // A JSON number here counts as missing: the Settings app always writes the order as a string.
    const auto* order = find_member(element, "order");
    if (order && order->IsString())
        record.order = decimal_prefix(std::string_view(order->GetString(), order->GetStringLength()));
    record.icon_not_tagged = wide_member(element, "icon_not_tagged");
    record.icon_when_tagged = wide_member(element, "icon_when_tagged");
    record.keyboard = wide_member(element, "keyboard");
    return record;
}
} // namespace

settings_file::settings_file(HMODULE module) : common_settings_file(module, L"Settings", L"All Tags")
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
        if (const auto* app = find_member(document, "app"))
        {
            if (const auto* window = find_member(*app, "window"))
            {
                if (auto height = int32_member(*window, "height"))
                    window_height_ = *height;
                if (auto width = int32_member(*window, "width"))
                    window_width_ = *width;
            }
        }
        read_list(document, "tags", tags_, read_tag);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

std::string settings_file::to_json() const
{
    common::setting_utilities::json_string_buffer buffer;
    indented_writer writer(buffer);
    writer.StartObject();
    write_member(writer, "version", version_);
    writer.Key("app");
    writer.StartObject();
    writer.Key("window");
    writer.StartObject();
    writer.Key("height");
    writer.Int(window_height_);
    writer.Key("width");
    writer.Int(window_width_);
    writer.EndObject();
    writer.EndObject();
    writer.Key("tags");
    writer.StartArray();
    for (const auto& tag : tags_)
    {
        writer.StartObject();
        write_member(writer, "name", tag.name);
        if (tag.order)
        {
            const std::string digits = std::to_string(*tag.order);
            writer.Key("order");
            writer.String(digits.data(), static_cast<rapidjson::SizeType>(digits.size()));
        }
        write_optional_member(writer, "icon_not_tagged", tag.icon_not_tagged);
        write_optional_member(writer, "icon_when_tagged", tag.icon_when_tagged);
        write_optional_member(writer, "keyboard", tag.keyboard);
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

bool settings_file::write()
{
    return write_settings_text(full_path(), [this] { return to_json(); });
}
} // namespace all_tags_settings
