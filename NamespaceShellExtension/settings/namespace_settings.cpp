#include "settings/namespace_settings.h"

#include "common/setting_utilities/settings_file_stream.h"
#include "settings/settings_json.h"

#include <rapidjson/reader.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace namespace_settings
{
namespace
{
using namespace settings_json;

// The file is read in one pass, straight into the records: the namespace file is the one that grows
// (every folder and saved search of the user) and the folder code loads it for every enumeration, so
// it skips the document tree that the other settings files go through. What it reads is what
// find_member would read: the first member of a name counts, a member of another type or a later
// duplicate is ignored, an element that is not an object still takes its place in the list.
class namespace_reader : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, namespace_reader>
{
public:
    // The result, valid when the parse succeeded.
    bool root_is_object = false;
    std::optional<std::wstring> version;
    std::optional<std::vector<folder_record>> folders;

    bool Null() { return scalar(); }
    bool Bool(bool value)
    {
        if (skip_ == 0 && (field_ == field::folder_enabled || field_ == field::query_enabled))
            enabled() = value;
        return scalar();
    }
    bool Int(int value) { return integer(value); }
    bool Uint(unsigned value) { return value <= 0x7FFFFFFFu ? integer(static_cast<int>(value)) : scalar(); }
    bool Int64(std::int64_t) { return scalar(); }
    bool Uint64(std::uint64_t) { return scalar(); }
    bool Double(double) { return scalar(); }
    bool String(const char* text, rapidjson::SizeType length, bool)
    {
        if (skip_ == 0 && field_ != field::none)
            store(std::string_view(text, length));
        return scalar();
    }

    bool StartObject()
    {
        if (skip_ > 0)
            return ++skip_, true;
        switch (level_)
        {
        case level::top:
            root_is_object = true;
            level_ = level::root;
            break;
        case level::folders:
            folders->emplace_back();
            level_ = level::folder;
            break;
        case level::queries:
            folder().queries.emplace_back();
            level_ = level::query;
            break;
        default:
            // No member of a record holds an object.
            ++skip_;
            return true;
        }
        seen() = 0;
        field_ = field::none;
        return true;
    }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        if (skip_ > 0)
            return true;
        field_ = field_named(std::string_view(text, length));
        const unsigned bit = 1u << static_cast<unsigned>(field_);
        if (seen() & bit)
            field_ = field::none;
        seen() |= bit;
        return true;
    }
    bool EndObject(rapidjson::SizeType)
    {
        if (skip_ > 0)
            return close_skipped();
        if (level_ == level::root)
            level_ = level::done;
        else if (level_ == level::folder)
            level_ = level::folders;
        else if (level_ == level::query)
            level_ = level::queries;
        field_ = field::none;
        return true;
    }

    bool StartArray()
    {
        if (skip_ > 0)
            return ++skip_, true;
        switch (level_)
        {
        case level::top:
            // A root that is not an object changes nothing: no need to read on.
            return false;
        case level::root:
            if (field_ == field::folders)
            {
                folders.emplace();
                level_ = level::folders;
                field_ = field::none;
                return true;
            }
            break;
        case level::folder:
            if (field_ == field::folder_queries)
            {
                level_ = level::queries;
                field_ = field::none;
                return true;
            }
            break;
        case level::folders:
            folders->emplace_back();
            break;
        case level::queries:
            folder().queries.emplace_back();
            break;
        default:
            break;
        }
        ++skip_;
        return true;
    }
    bool EndArray(rapidjson::SizeType)
    {
        if (skip_ > 0)
            return close_skipped();
        if (level_ == level::folders)
            level_ = level::root;
        else if (level_ == level::queries)
            level_ = level::folder;
        field_ = field::none;
        return true;
    }

private:
    enum class level
    {
        top,
        root,
        folders,
        folder,
        queries,
        query,
        done,
    };
    enum class field : unsigned
    {
        none,
        version,
        folders,
        folder_name,
        folder_order,
        folder_hint,
        folder_icon,
        folder_enabled,
        folder_default_view,
        folder_queries,
        query_name,
        query_order,
        query_hint,
        query_icon,
        query_query,
        query_action_type,
        query_action_parameters,
        query_enabled,
        query_target,
        other,
    };

    field field_named(std::string_view name) const
    {
        switch (level_)
        {
        case level::root:
            if (name == "version")
                return field::version;
            if (name == "folders")
                return field::folders;
            break;
        case level::folder:
            if (name == "name")
                return field::folder_name;
            if (name == "order")
                return field::folder_order;
            if (name == "hint")
                return field::folder_hint;
            if (name == "icon")
                return field::folder_icon;
            if (name == "enabled")
                return field::folder_enabled;
            if (name == "default_view")
                return field::folder_default_view;
            if (name == "queries")
                return field::folder_queries;
            break;
        case level::query:
            if (name == "name")
                return field::query_name;
            if (name == "order")
                return field::query_order;
            if (name == "hint")
                return field::query_hint;
            if (name == "icon")
                return field::query_icon;
            if (name == "query")
                return field::query_query;
            if (name == "action_type")
                return field::query_action_type;
            if (name == "action_parameters")
                return field::query_action_parameters;
            if (name == "enabled")
                return field::query_enabled;
            if (name == "target")
                return field::query_target;
            break;
        default:
            break;
        }
        return field::other;
    }

    unsigned& seen() { return seen_[level_ == level::root ? 0 : level_ == level::folder ? 1 : 2]; }
    folder_record& folder() { return folders->back(); }
    query_record& query() { return folder().queries.back(); }
    std::optional<bool>& enabled() { return field_ == field::folder_enabled ? folder().enabled : query().enabled; }

    // After every value that is not a container: in a list it is an element that is not an object, and
    // still takes its place; a member's value has been stored already if it had the right type.
    bool scalar()
    {
        if (skip_ > 0)
            return true;
        switch (level_)
        {
        case level::top:
            return false;
        case level::folders:
            folders->emplace_back();
            break;
        case level::queries:
            folder().queries.emplace_back();
            break;
        default:
            break;
        }
        field_ = field::none;
        return true;
    }

    bool integer(int value)
    {
        if (skip_ == 0 && field_ == field::folder_order)
            folder().order = value;
        else if (skip_ == 0 && field_ == field::query_order)
            query().order = value;
        return scalar();
    }

    void store(std::string_view text)
    {
        switch (field_)
        {
        case field::version:
            version = widen(text);
            break;
        case field::folder_name:
            folder().name = widen(text);
            break;
        case field::folder_hint:
            folder().hint = widen(text);
            break;
        case field::folder_icon:
            folder().icon = widen(text);
            break;
        case field::folder_default_view:
            folder().default_view = widen(text);
            break;
        case field::query_name:
            query().name = widen(text);
            break;
        case field::query_hint:
            query().hint = widen(text);
            break;
        case field::query_icon:
            query().icon = widen(text);
            break;
        case field::query_query:
            query().query = widen(text);
            break;
        case field::query_action_type:
            query().action_type = widen(text);
            break;
        case field::query_action_parameters:
            query().action_parameters = widen(text);
            break;
        case field::query_target:
            query().target = widen(text);
            break;
        default:
            break;
        }
    }

    bool close_skipped()
    {
        if (--skip_ == 0)
            field_ = field::none;
        return true;
    }

    level level_ = level::top;
    field field_ = field::none;
    // Members met in the root, the current folder and the current query, one bit per field.
    unsigned seen_[3] = {};
    std::size_t skip_ = 0;     // depth inside a value that is not read
};

void write_query(indented_writer& writer, const query_record& record)
{
    writer.StartObject();
    write_member(writer, "name", record.name);
    if (record.order)
    {
        writer.Key("order");
        writer.Int(*record.order);
    }
    write_optional_member(writer, "hint", record.hint);
    write_member(writer, "icon", record.icon);
    write_member(writer, "query", record.query);
    write_optional_member(writer, "action_type", record.action_type);
    write_optional_member(writer, "action_parameters", record.action_parameters);
    if (record.enabled)
    {
        writer.Key("enabled");
        writer.Bool(*record.enabled);
    }
    write_optional_member(writer, "target", record.target);
    writer.EndObject();
}

void write_folder(indented_writer& writer, const folder_record& record)
{
    writer.StartObject();
    write_member(writer, "name", record.name);
    if (record.order)
    {
        writer.Key("order");
        writer.Int(*record.order);
    }
    write_optional_member(writer, "hint", record.hint);
    write_member(writer, "icon", record.icon);
    if (record.enabled)
    {
        writer.Key("enabled");
        writer.Bool(*record.enabled);
    }
    write_optional_member(writer, "default_view", record.default_view);
    writer.Key("queries");
    writer.StartArray();
    for (const auto& query : record.queries)
        write_query(writer, query);
    writer.EndArray();
    writer.EndObject();
}
} // namespace

settings_file::settings_file(HMODULE module) : common_settings_file(module, L"Settings", L"Namespace")
{
}

bool settings_file::read()
{
    try
    {
        namespace_reader reader;
        common::setting_utilities::settings_file_stream stream(full_path());
        rapidjson::Reader parser;
        const bool parsed = !parser.Parse<rapidjson::kParseIterativeFlag>(stream, reader).IsError() &&
                            !stream.held_nul() && reader.root_is_object;
        // Text that does not parse, or a root that is not an object, changes nothing.
        if (!parsed)
            return true;
        if (reader.version)
            version_ = std::move(*reader.version);
        if (reader.folders)
            folders_.swap(*reader.folders);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

std::string settings_file::to_json() const
{
    rapidjson::StringBuffer buffer;
    indented_writer writer(buffer);
    writer.StartObject();
    write_member(writer, "version", version_);
    writer.Key("folders");
    writer.StartArray();
    for (const auto& folder : folders_)
        write_folder(writer, folder);
    writer.EndArray();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

bool settings_file::write()
{
    try
    {
        replace_file_contents(full_path(), to_json());
        return true;
    }
    catch (...)
    {
        return false;
    }
}
} // namespace namespace_settings
