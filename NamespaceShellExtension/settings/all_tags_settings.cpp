#include "settings/all_tags_settings.h"

#include "settings/settings_json.h"

namespace all_tags_settings
{
namespace
{
using namespace settings_json;
} // namespace

settings_file::settings_file(HMODULE module) : common_settings_file(module, L"Settings", L"All Tags")
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
        if (contents->window_height)
            window_height_ = *contents->window_height;
        if (contents->window_width)
            window_width_ = *contents->window_width;
        if (contents->tags)
            tags_.swap(*contents->tags);
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
