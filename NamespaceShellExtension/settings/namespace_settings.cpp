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
        in_record([&](auto& record) {
            if (key_ == key::enabled)
                record.enabled = value;
        });
        return scalar();
    }
    bool Int(int value) { return integer(value); }
    bool Uint(unsigned value) { return value <= 0x7FFFFFFFu ? integer(static_cast<int>(value)) : scalar(); }
    bool Int64(std::int64_t) { return scalar(); }
    bool Uint64(std::uint64_t) { return scalar(); }
    bool Double(double) { return scalar(); }
    bool String(const char* text, rapidjson::SizeType length, bool)
    {
        const std::string_view value(text, length);
        if (skip_ == 0 && level_ == level::root && key_ == key::version)
            version = widen(value);
        in_record([&](auto& record) { set_text(record, value); });
        return scalar();
    }

    bool StartObject()
    {
        if (skip_ > 0)
            return ++skip_, true;
        if (level_ == level::top)
        {
            root_is_object = true;
            level_ = level::root;
        }
        else if (append_element())
            level_ = level_ == level::folders ? level::folder : level::query;
        else
        {
            // No member of a record holds an object.
            ++skip_;
            return true;
        }
        seen() = 0;
        key_ = key::none;
        return true;
    }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        if (skip_ > 0)
            return true;
        key_ = key_named(std::string_view(text, length));
        const unsigned bit = 1u << static_cast<unsigned>(key_);
        if (seen() & bit)
            key_ = key::none;
        seen() |= bit;
        return true;
    }
    bool EndObject(rapidjson::SizeType) { return close(); }

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
            if (key_ == key::folders)
            {
                folders.emplace();
                level_ = level::folders;
                key_ = key::none;
                return true;
            }
            break;
        case level::folder:
            if (key_ == key::queries)
            {
                level_ = level::queries;
                key_ = key::none;
                return true;
            }
            break;
        default:
            append_element();
            break;
        }
        ++skip_;
        return true;
    }
    bool EndArray(rapidjson::SizeType) { return close(); }

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
    // The members that the root, a folder and a query have.
    enum class key : unsigned
    {
        version,
        folders,
        name,
        order,
        hint,
        icon,
        enabled,
        default_view,
        queries,
        query,
        action_type,
        action_parameters,
        target,
        other,
        none,
    };

    key key_named(std::string_view name) const
    {
        if (level_ == level::root)
            return name == "version" ? key::version : name == "folders" ? key::folders : key::other;
        if (level_ != level::folder && level_ != level::query)
            return key::other;
        // Both records have these.
        if (name == "name")
            return key::name;
        if (name == "order")
            return key::order;
        if (name == "hint")
            return key::hint;
        if (name == "icon")
            return key::icon;
        if (name == "enabled")
            return key::enabled;
        if (level_ == level::folder)
        {
            if (name == "default_view")
                return key::default_view;
            if (name == "queries")
                return key::queries;
            return key::other;
        }
        if (name == "query")
            return key::query;
        if (name == "action_type")
            return key::action_type;
        if (name == "action_parameters")
            return key::action_parameters;
        if (name == "target")
            return key::target;
        return key::other;
    }

    unsigned& seen() { return seen_[level_ == level::root ? 0 : level_ == level::folder ? 1 : 2]; }
    folder_record& folder() { return folders->back(); }
    query_record& query() { return folder().queries.back(); }

    // Hands the record that the current member belongs to, the folder's or the query's, to apply; a
    // member of the root or inside a skipped value has none.
    template <class Apply>
    void in_record(Apply&& apply)
    {
        if (skip_ > 0)
            return;
        if (level_ == level::folder)
            apply(folder());
        else if (level_ == level::query)
            apply(query());
    }

    // Text members that both records have.
    template <class Record>
    bool set_shared_text(Record& record, std::string_view text) const
    {
        switch (key_)
        {
        case key::name:
            record.name = widen(text);
            return true;
        case key::hint:
            record.hint = widen(text);
            return true;
        case key::icon:
            record.icon = widen(text);
            return true;
        default:
            return false;
        }
    }
    void set_text(folder_record& record, std::string_view text) const
    {
        if (!set_shared_text(record, text) && key_ == key::default_view)
            record.default_view = widen(text);
    }
    void set_text(query_record& record, std::string_view text) const
    {
        if (set_shared_text(record, text))
            return;
        switch (key_)
        {
        case key::query:
            record.query = widen(text);
            break;
        case key::action_type:
            record.action_type = widen(text);
            break;
        case key::action_parameters:
            record.action_parameters = widen(text);
            break;
        case key::target:
            record.target = widen(text);
            break;
        default:
            break;
        }
    }

    // After every value that is not a container: in a list it is an element that is not an object, and
    // still takes its place; a member's value has been stored already if it had the right type.
    bool scalar()
    {
        if (skip_ > 0)
            return true;
        if (level_ == level::top)
            return false;
        append_element();
        key_ = key::none;
        return true;
    }

    // Inside the folders or the queries list every value is an element, an empty record where it is
    // not an object. False elsewhere.
    bool append_element()
    {
        if (level_ == level::folders)
            folders->emplace_back();
        else if (level_ == level::queries)
            folder().queries.emplace_back();
        else
            return false;
        return true;
    }

    bool integer(int value)
    {
        in_record([&](auto& record) {
            if (key_ == key::order)
                record.order = value;
        });
        return scalar();
    }

    // The end of an object or a list: back to the level that holds it.
    bool close()
    {
        if (skip_ > 0)
        {
            if (--skip_ == 0)
                key_ = key::none;
            return true;
        }
        switch (level_)
        {
        case level::root:
            level_ = level::done;
            break;
        case level::folders:
            level_ = level::root;
            break;
        case level::folder:
            level_ = level::folders;
            break;
        case level::queries:
            level_ = level::folder;
            break;
        case level::query:
            level_ = level::queries;
            break;
        default:
            break;
        }
        key_ = key::none;
        return true;
    }

    level level_ = level::top;
    key key_ = key::none;
    // Members met in the root, the current folder and the current query, one bit per key.
    unsigned seen_[3] = {};
    std::size_t skip_ = 0;     // depth inside a value that is not read
};

// The members that lead both records.
template <class Record>
void write_leading_members(indented_writer& writer, const Record& record)
{
    write_member(writer, "name", record.name);
    write_optional_member(writer, "order", record.order);
    write_optional_member(writer, "hint", record.hint);
    write_member(writer, "icon", record.icon);
}

void write_query(indented_writer& writer, const query_record& record)
{
    writer.StartObject();
    write_leading_members(writer, record);
    write_member(writer, "query", record.query);
    write_optional_member(writer, "action_type", record.action_type);
    write_optional_member(writer, "action_parameters", record.action_parameters);
    write_optional_member(writer, "enabled", record.enabled);
    write_optional_member(writer, "target", record.target);
    writer.EndObject();
}

void write_folder(indented_writer& writer, const folder_record& record)
{
    writer.StartObject();
    write_leading_members(writer, record);
    write_optional_member(writer, "enabled", record.enabled);
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
        common::setting_utilities::json_reader parser;
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
    common::setting_utilities::json_string_buffer buffer;
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
    return write_settings_text(full_path(), [this] { return to_json(); });
}
} // namespace namespace_settings
