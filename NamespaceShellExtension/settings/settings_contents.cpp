// The parsing half of every settings file's `read`: the text in, the records out, with no file
// system involved. The namespace file, which grows with the user's folders and searches, is read in one
// streaming pass; the others go through a document tree.

#include "settings/all_people_settings.h"
#include "settings/all_tags_settings.h"
#include "settings/high_level_settings.h"
#include "settings/namespace_settings.h"
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
} // namespace

std::optional<file_contents> read_contents(common::setting_utilities::settings_file_stream& text)
{
    namespace_reader reader;
    common::setting_utilities::json_reader parser;
    if (parser.Parse<rapidjson::kParseIterativeFlag>(text, reader).IsError() || text.held_nul() ||
        !reader.root_is_object)
        return std::nullopt;
    return file_contents{std::move(reader.version), std::move(reader.folders)};
}
} // namespace namespace_settings

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

std::optional<file_contents> read_contents(common::setting_utilities::settings_file_stream& text)
{
    common::setting_utilities::json_document document;
    common::setting_utilities::parse_settings_document(text, document);
    if (!document.IsObject())
        return std::nullopt;
    file_contents contents;
    contents.version = wide_member(document, "version");
    if (const auto* app = find_member(document, "app"))
    {
        if (const auto* window = find_member(*app, "window"))
        {
            contents.window_height = int32_member(*window, "height");
            contents.window_width = int32_member(*window, "width");
        }
    }
    read_list(document, "tags", contents.tags, read_tag);
    return contents;
}
} // namespace all_tags_settings

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

std::optional<file_contents> read_contents(common::setting_utilities::settings_file_stream& text)
{
    common::setting_utilities::json_document document;
    common::setting_utilities::parse_settings_document(text, document);
    if (!document.IsObject())
        return std::nullopt;
    file_contents contents;
    contents.version = wide_member(document, "version");
    settings_json::read_list(document, "people", contents.people, read_person);
    return contents;
}
} // namespace all_people_settings

namespace high_level_settings
{
namespace
{
using common::setting_utilities::find_member;
using common::setting_utilities::find_string;

bool to_setting_value(const common::setting_utilities::json_value& value, setting_value& out)
{
    if (value.IsBool())
        out = value.GetBool();
    else if (value.IsInt())
        out = static_cast<std::int32_t>(value.GetInt());
    else if (value.IsString())
        out = std::string(value.GetString(), value.GetStringLength());
    else if (value.IsArray())
    {
        std::vector<std::string> list;
        for (const auto& element : value.GetArray())
            if (element.IsString())
                list.emplace_back(element.GetString(), element.GetStringLength());
        out = std::move(list);
    }
    else
        return false;
    return true;
}

void read_settings(const common::setting_utilities::json_value& settings, std::map<std::string, setting_value>& out)
{
    if (!settings.IsObject())
        return;
    for (const auto& member : settings.GetObject())
    {
        const std::string name(member.name.GetString(), member.name.GetStringLength());
        if (member.value.IsObject())
        {
            for (const auto& inner : member.value.GetObject())
            {
                setting_value value;
                if (to_setting_value(inner.value, value))
                    out.emplace(name + "." + std::string(inner.name.GetString(), inner.name.GetStringLength()),
                                std::move(value));
            }
            continue;
        }
        setting_value value;
        if (to_setting_value(member.value, value))
            out.emplace(name, std::move(value));
    }
}
} // namespace

std::optional<file_contents> read_contents(common::setting_utilities::settings_file_stream& text)
{
    common::setting_utilities::json_document document;
    common::setting_utilities::parse_settings_document(text, document);
    if (!document.IsObject())
        return std::nullopt;
    file_contents contents;
    if (const char* version = find_string(document, "version"))
        contents.version = version;
    const auto* apps = find_member(document, "apps");
    if (!apps || !apps->IsArray())
        return contents;

    auto& records = contents.apps.emplace();
    for (const auto& element : apps->GetArray())
    {
        if (!element.IsObject())
            continue;
        app_record record;
        if (const char* value = find_string(element, "app_id"))
            record.app_id = value;
        if (const char* value = find_string(element, "name"))
            record.name = value;
        if (const char* value = find_string(element, "version"))
            record.version = value;
        if (const char* value = find_string(element, "status"))
            record.status = value;
        if (const auto* settings = find_member(element, "settings"))
            read_settings(*settings, record.settings);
        if (!record.app_id.empty())
            records.try_emplace(record.app_id, std::move(record));
    }
    return contents;
}
} // namespace high_level_settings
