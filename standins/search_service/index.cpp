#include "index.h"

#include "standin_object.h"

#include <propkey.h>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace search_standin
{
namespace
{
struct fixed_column_definition
{
    const wchar_t* name;
    column_type type;
    VARTYPE variant_type;
};

constexpr fixed_column_definition fixed_columns[fixed_column_count] = {
    {L"System.ItemPathDisplay", column_type::text, VT_BSTR},
    {L"System.ItemUrl", column_type::text, VT_BSTR},
    {L"System.ItemNameDisplay", column_type::text, VT_BSTR},
    {L"System.FileExtension", column_type::text, VT_BSTR},
    {L"System.ItemFolderPathDisplay", column_type::text, VT_BSTR},
    {L"System.ItemTypeText", column_type::text, VT_BSTR},
    {L"System.Size", column_type::integer, VT_UI8},
    {L"System.DateCreated", column_type::date, VT_DATE},
    {L"System.DateModified", column_type::date, VT_DATE},
    {L"System.DateAccessed", column_type::date, VT_DATE},
    {L"System.Keywords", column_type::text_list, VT_ARRAY | VT_BSTR},
    {L"System.Photo.PeopleNames", column_type::text_list, VT_ARRAY | VT_BSTR},
    {L"System.Rating", column_type::integer, VT_UI4},
    {L"System.Search.Rank", column_type::integer, VT_I4},
    {L"System.FileAttributes", column_type::integer, VT_UI4},
    {L"System.Search.Contents", column_type::text, VT_BSTR},
};

struct column_alias
{
    const wchar_t* name;
    std::size_t column;
};

constexpr column_alias column_aliases[] = {
    {L"Path", column_path},
    {L"System.ItemName", column_name},
    {L"System.FileName", column_name},
    {L"System.ItemType", column_extension},
};

struct column_key
{
    const PROPERTYKEY* key;
    std::size_t column;
};

const column_key column_keys[] = {
    {&PKEY_ItemPathDisplay, column_path},
    {&PKEY_ItemUrl, column_url},
    {&PKEY_ItemNameDisplay, column_name},
    {&PKEY_ItemName, column_name},
    {&PKEY_ItemFolderPathDisplay, column_folder},
    {&PKEY_ItemTypeText, column_type_text},
    {&PKEY_Size, column_size},
    {&PKEY_DateCreated, column_date_created},
    {&PKEY_DateModified, column_date_modified},
    {&PKEY_Keywords, column_keywords},
    {&PKEY_Photo_PeopleNames, column_people},
    {&PKEY_Rating, column_rating},
};

std::wstring widen(std::string_view text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

std::string narrow(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
    return result;
}

std::wstring text_of(const rapidjson::Value& value)
{
    return widen(std::string_view(value.GetString(), value.GetStringLength()));
}

std::int64_t ticks_of(const FILETIME& time)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

[[noreturn]] void fail(const std::string& where, const std::string& what)
{
    throw index_error(where + ": " + what);
}

HRESULT parse_hresult(const rapidjson::Value& value, const std::string& where)
{
    if (value.IsInt64())
        return static_cast<HRESULT>(static_cast<std::uint32_t>(value.GetInt64()));
    if (value.IsUint64())
        return static_cast<HRESULT>(static_cast<std::uint32_t>(value.GetUint64()));
    if (value.IsString())
    {
        const std::string text(value.GetString(), value.GetStringLength());
        try
        {
            std::size_t used = 0;
            const unsigned long long number = std::stoull(text, &used, 0);
            if (used == text.size() && number <= 0xFFFFFFFFull)
                return static_cast<HRESULT>(static_cast<std::uint32_t>(number));
        }
        catch (const std::exception&)
        {
        }
    }
    fail(where, "an HRESULT is a number or a string such as \"0x80004005\"");
}

class index_loader
{
public:
    explicit index_loader(index_data& index) : index_(index)
    {
        for (std::size_t i = 0; i < fixed_column_count; ++i)
        {
            index_.columns.push_back({fixed_columns[i].name, fixed_columns[i].type, fixed_columns[i].variant_type});
            index_.add_name(fixed_columns[i].name, i);
        }
        for (const auto& alias : column_aliases)
            index_.add_name(alias.name, alias.column);
    }

    void load(const rapidjson::Value& root)
    {
        if (!root.IsObject())
            fail("index", "the file holds one JSON object");
        for (auto member = root.MemberBegin(); member != root.MemberEnd(); ++member)
        {
            const std::string name = member->name.GetString();
            if (name != "items" && name != "generate" && name != "columns" && name != "faults")
                fail("index", "unknown member \"" + name + "\"");
        }
        if (root.HasMember("columns"))
            load_columns(root["columns"]);
        if (root.HasMember("items"))
        {
            const auto& items = root["items"];
            if (!items.IsArray())
                fail("items", "an array of objects");
            for (rapidjson::SizeType i = 0; i < items.Size(); ++i)
                load_item(items[i], "items[" + std::to_string(i) + "]");
        }
        if (root.HasMember("generate"))
            generate(root["generate"]);
        if (root.HasMember("faults"))
            load_faults(root["faults"]);
        // Extra columns met late leave earlier items short.
        for (auto& item : index_.items)
            item.values.resize(index_.columns.size());
    }

private:
    std::size_t add_column(const std::wstring& name, column_type type, VARTYPE variant_type)
    {
        if (auto existing = index_.find_column(name))
            return *existing;
        index_.columns.push_back({name, type, variant_type});
        index_.add_name(name, index_.columns.size() - 1);
        return index_.columns.size() - 1;
    }

    void load_columns(const rapidjson::Value& columns)
    {
        if (!columns.IsArray())
            fail("columns", "an array of column names or {\"name\", \"type\"} objects");
        for (const auto& column : columns.GetArray())
        {
            if (column.IsString())
            {
                add_column(text_of(column), column_type::text, VT_BSTR);
                continue;
            }
            if (!column.IsObject() || !column.HasMember("name") || !column["name"].IsString())
                fail("columns", "an array of column names or {\"name\", \"type\"} objects");
            const std::string type = column.HasMember("type") && column["type"].IsString() ? column["type"].GetString() : "text";
            if (type == "text")
                add_column(text_of(column["name"]), column_type::text, VT_BSTR);
            else if (type == "integer")
                add_column(text_of(column["name"]), column_type::integer, VT_I8);
            else if (type == "date")
                add_column(text_of(column["name"]), column_type::date, VT_DATE);
            else if (type == "text_list")
                add_column(text_of(column["name"]), column_type::text_list, VT_ARRAY | VT_BSTR);
            else
                fail("columns", "type is one of text, integer, date, text_list");
        }
    }

    // A multi-valued member: an array of strings, a single string, null, or (to test readers) a number.
    value list_value(const rapidjson::Value& member, const std::string& where)
    {
        if (member.IsNull())
            return std::monostate{};
        if (member.IsString())
            return text_of(member);
        if (member.IsInt64())
            return member.GetInt64();
        if (member.IsArray())
        {
            text_list list;
            for (const auto& element : member.GetArray())
            {
                if (!element.IsString())
                    fail(where, "the elements are strings");
                list.push_back(text_of(element));
            }
            return list;
        }
        fail(where, "an array of strings, a string, a number or null");
    }

    value number_value(const rapidjson::Value& member, const std::string& where, std::int64_t low, std::int64_t high)
    {
        if (member.IsNull())
            return std::monostate{};
        if (!member.IsInt64() || member.GetInt64() < low || member.GetInt64() > high)
            fail(where, "an integer from " + std::to_string(low) + " to " + std::to_string(high) + ", or null");
        return member.GetInt64();
    }

    value date_member(const rapidjson::Value& member, const std::string& where)
    {
        if (member.IsNull())
            return std::monostate{};
        if (member.IsInt64())
            return date_value{member.GetInt64()};
        if (member.IsString())
        {
            if (auto date = parse_date(text_of(member)))
                return *date;
        }
        fail(where, "a date \"YYYY-MM-DD hh:mm:ss\" (UTC), FILETIME ticks, or null");
    }

    value text_member(const rapidjson::Value& member, const std::string& where)
    {
        if (member.IsNull())
            return std::monostate{};
        if (!member.IsString())
            fail(where, "a string or null");
        return text_of(member);
    }

    value property_value(const rapidjson::Value& member, const std::wstring& name, const std::string& where)
    {
        std::size_t column = 0;
        if (member.IsString())
            column = add_column(name, column_type::text, VT_BSTR);
        else if (member.IsInt64() || member.IsDouble())
            column = add_column(name, column_type::integer, VT_I8);
        else if (member.IsArray())
            column = add_column(name, column_type::text_list, VT_ARRAY | VT_BSTR);
        else if (member.IsNull())
            return std::monostate{};
        else
            fail(where, "a string, a number, an array of strings or null");
        switch (index_.columns[column].type)
        {
        case column_type::text:
            return text_member(member, where);
        case column_type::integer:
            if (member.IsInt64())
                return member.GetInt64();
            if (member.IsNumber())
                return member.GetDouble();
            fail(where, "a number (the column is numeric)");
        case column_type::date:
            return date_member(member, where);
        case column_type::text_list:
            return list_value(member, where);
        }
        return std::monostate{};
    }

    void load_item(const rapidjson::Value& item, const std::string& where)
    {
        if (!item.IsObject() || !item.HasMember("path") || !item["path"].IsString())
            fail(where, "an object with a \"path\" string");
        index_item result;
        result.values.resize(index_.columns.size());
        std::wstring path = text_of(item["path"]);
        std::replace(path.begin(), path.end(), L'/', L'\\');
        set_path(result, path);
        bool given[fixed_column_count] = {};
        for (auto member = item.MemberBegin(); member != item.MemberEnd(); ++member)
        {
            const std::string name = member->name.GetString();
            const std::string at = where + "." + name;
            const auto& v = member->value;
            auto set = [&](std::size_t column, value content) {
                result.values[column] = std::move(content);
                given[column] = true;
            };
            if (name == "path")
                continue;
            else if (name == "type")
                set(column_type_text, text_member(v, at));
            else if (name == "keywords")
                set(column_keywords, list_value(v, at));
            else if (name == "people")
                set(column_people, list_value(v, at));
            else if (name == "rating")
                set(column_rating, number_value(v, at, 0, 0xFFFFFFFFll));
            else if (name == "size")
                set(column_size, number_value(v, at, 0, INT64_MAX));
            else if (name == "attributes")
                set(column_attributes, number_value(v, at, 0, 0xFFFFFFFFll));
            else if (name == "rank")
                set(column_rank, number_value(v, at, INT32_MIN, INT32_MAX));
            else if (name == "date_created")
                set(column_date_created, date_member(v, at));
            else if (name == "date_modified")
                set(column_date_modified, date_member(v, at));
            else if (name == "date_accessed")
                set(column_date_accessed, date_member(v, at));
            else if (name == "contents")
                set(column_contents, text_member(v, at));
            else if (name == "properties")
            {
                if (!v.IsObject())
                    fail(at, "an object of property name and value");
                for (auto property = v.MemberBegin(); property != v.MemberEnd(); ++property)
                {
                    const std::wstring property_name = text_of(property->name);
                    const std::string property_at = at + "." + property->name.GetString();
                    value content = property_value(property->value, property_name, property_at);
                    // A null property of a column nobody declared names no column at all.
                    const auto column = index_.find_column(property_name);
                    if (!column)
                        continue;
                    result.values.resize(index_.columns.size());
                    result.values[*column] = std::move(content);
                }
            }
            else
                fail(where, "unknown member \"" + name + "\"");
        }
        if (!given[column_rank])
            result.values[column_rank] = std::int64_t{0};
        // What the index does not say is read from the real file, when there is one.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        {
            if (!given[column_size] && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                result.values[column_size] =
                    static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
            if (!given[column_date_created])
                result.values[column_date_created] = date_value{ticks_of(data.ftCreationTime)};
            if (!given[column_date_modified])
                result.values[column_date_modified] = date_value{ticks_of(data.ftLastWriteTime)};
            if (!given[column_date_accessed])
                result.values[column_date_accessed] = date_value{ticks_of(data.ftLastAccessTime)};
            if (!given[column_attributes])
                result.values[column_attributes] = static_cast<std::int64_t>(data.dwFileAttributes);
        }
        index_.items.push_back(std::move(result));
    }

    static void set_path(index_item& item, const std::wstring& path)
    {
        item.values[column_path] = path;
        std::wstring url;
        if (path.rfind(L"\\\\", 0) == 0)
            url = L"file:" + path;
        else
            url = L"file:///" + path;
        std::replace(url.begin(), url.end(), L'\\', L'/');
        item.values[column_url] = url;
        const std::size_t slash = path.find_last_of(L'\\');
        const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
        item.values[column_name] = name;
        const std::size_t dot = name.find_last_of(L'.');
        item.values[column_extension] = dot == std::wstring::npos ? std::wstring() : lower(name.substr(dot));
        std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
        item.folder_lower = lower(folder);
        if (folder.size() == 2 && folder[1] == L':')
            folder += L'\\';
        item.values[column_folder] = folder;
        item.path_lower = lower(path);
    }

    void generate(const rapidjson::Value& generator)
    {
        if (!generator.IsObject() || !generator.HasMember("count") || !generator["count"].IsUint() || generator["count"].GetUint() > 1000000)
            fail("generate", "an object with a \"count\" from 0 to 1000000");
        const unsigned count = generator["count"].GetUint();
        auto text = [&](const char* name, const wchar_t* fallback) {
            if (!generator.HasMember(name))
                return std::wstring(fallback);
            if (!generator[name].IsString())
                fail(std::string("generate.") + name, "a string");
            return text_of(generator[name]);
        };
        auto strings = [&](const char* name, text_list fallback) {
            if (!generator.HasMember(name))
                return fallback;
            const auto& list = generator[name];
            text_list result;
            if (list.IsArray())
                for (const auto& element : list.GetArray())
                    if (element.IsString())
                        result.push_back(text_of(element));
            if (!list.IsArray() || result.size() != list.Size() || result.empty())
                fail(std::string("generate.") + name, "a non-empty array of strings");
            return result;
        };
        std::wstring folder = text("folder", L"C:\\standin\\generated");
        std::replace(folder.begin(), folder.end(), L'/', L'\\');
        const std::wstring extension = text("extension", L".jpg");
        const std::wstring type = text("type", L"JPEG image");
        const text_list keywords = strings("keywords", {L"alpha", L"beta", L"gamma"});
        const text_list people = strings("people", {L"Ann", L"Ben"});
        std::vector<value> ratings = {std::monostate{}, std::int64_t{1}, std::int64_t{25}, std::int64_t{50}, std::int64_t{75}, std::int64_t{99}};
        if (generator.HasMember("ratings"))
        {
            ratings.clear();
            if (generator["ratings"].IsArray())
                for (const auto& rating : generator["ratings"].GetArray())
                    ratings.push_back(number_value(rating, "generate.ratings", 0, 0xFFFFFFFFll));
            if (ratings.empty())
                fail("generate.ratings", "a non-empty array of ratings (integers or null)");
        }
        date_value start{};
        if (generator.HasMember("date"))
        {
            const auto date = generator["date"].IsString() ? parse_date(text_of(generator["date"])) : std::nullopt;
            if (!date)
                fail("generate.date", "a date \"YYYY-MM-DD hh:mm:ss\"");
            start = *date;
        }
        else
            start = *parse_date(L"2024-01-01 00:00:00");

        constexpr std::int64_t second = 10'000'000;
        index_.items.reserve(index_.items.size() + count);
        wchar_t number[16] = {};
        for (unsigned i = 0; i < count; ++i)
        {
            index_item item;
            item.values.resize(index_.columns.size());
            swprintf(number, std::size(number), L"%05u", i);
            set_path(item, folder + L"\\item-" + number + extension);
            item.values[column_type_text] = type;
            item.values[column_keywords] = text_list{keywords[i % keywords.size()]};
            item.values[column_people] = text_list{people[i % people.size()]};
            item.values[column_rating] = ratings[i % ratings.size()];
            item.values[column_size] = static_cast<std::int64_t>(1000 + i);
            item.values[column_date_created] = date_value{start.ticks + i * second};
            item.values[column_date_modified] = date_value{start.ticks + (i + 3600ll) * second};
            item.values[column_date_accessed] = date_value{start.ticks + (i + 3600ll) * second};
            item.values[column_attributes] = std::int64_t{FILE_ATTRIBUTE_ARCHIVE};
            item.values[column_rank] = std::int64_t{0};
            index_.items.push_back(std::move(item));
        }
    }

    void load_faults(const rapidjson::Value& faults)
    {
        if (!faults.IsObject())
            fail("faults", "an object of method name and HRESULT");
        const auto& names = fault_plan::step_names();
        for (auto member = faults.MemberBegin(); member != faults.MemberEnd(); ++member)
        {
            const std::string step = member->name.GetString();
            const std::string where = "faults." + step;
            if (std::find(names.begin(), names.end(), step) == names.end())
                fail(where, "not a method the stand-in can fail (see README.md)");
            const auto& generator = member->value;
            if (generator.IsObject())
                index_.faults.add(step, parse_fault(generator, where));
            else
                index_.faults.add(step, parse_hresult(generator, where), 0);
        }
    }

    // {"hresult": ..., "after": n, "delay_ms": d, "gate": "event name"}: at least one of hresult,
    // delay_ms and gate.
    static fault_plan::fault parse_fault(const rapidjson::Value& generator, const std::string& where)
    {
        const char* shape = "an object with \"hresult\", \"delay_ms\" or \"gate\", and optionally \"after\"";
        fault_plan::fault f;
        f.result = S_OK;
        bool acts = false;
        for (auto member = generator.MemberBegin(); member != generator.MemberEnd(); ++member)
        {
            const std::string name = member->name.GetString();
            const auto& value = member->value;
            if (name == "hresult")
            {
                f.result = parse_hresult(value, where);
                acts = true;
            }
            else if (name == "after")
            {
                if (!value.IsUint())
                    fail(where + ".after", "a count of calls that succeed first");
                f.after = value.GetUint();
            }
            else if (name == "delay_ms")
            {
                if (!value.IsUint() || value.GetUint() > 60000)
                    fail(where + ".delay_ms", "milliseconds from 0 to 60000 that each call waits");
                f.delay_ms = value.GetUint();
                acts = true;
            }
            else if (name == "gate")
            {
                if (!value.IsString() || value.GetStringLength() == 0)
                    fail(where + ".gate", "the name of an event that calls wait for");
                HANDLE event = CreateEventW(nullptr, TRUE, FALSE, text_of(value).c_str());
                if (!event)
                    fail(where + ".gate", "the event could not be made");
                f.gate = std::shared_ptr<void>(event, CloseHandle);
                acts = true;
            }
            else
                fail(where, shape);
        }
        if (!acts)
            fail(where, shape);
        return f;
    }

    index_data& index_;
};

std::wstring registry_index_file()
{
    wchar_t buffer[MAX_PATH * 4] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Velmora Search Stand-in", L"IndexFile", RRF_RT_REG_SZ, nullptr,
                     buffer, &size) != ERROR_SUCCESS)
        return {};
    return buffer;
}
} // namespace

const std::vector<std::string>& fault_plan::step_names()
{
    static const std::vector<std::string> names = {
        "CreateSearchManager",     "GetCatalog",
        "GetQueryHelper",          "put_QueryMaxResults",
        "put_QuerySelectColumns",  "put_QuerySorting",
        "put_QueryWhereRestrictions", "GenerateSQLFromUserQuery",
        "CreateDataSource",        "Initialize",
        "QueryInterface(IDBCreateSession)", "CreateSession",
        "CreateCommand",           "SetCommandText",
        "Execute",                 "QueryInterface(IAccessor)",
        "QueryInterface(IColumnsInfo)", "GetColumnInfo",
        "MapColumnIDs",            "CreateAccessor",
        "GetNextRows",             "GetData",
        "ReleaseRows",
    };
    return names;
}

void fault_plan::add(const std::string& step, fault f)
{
    std::lock_guard lock(mutex_);
    f.calls = 0;
    faults_[step] = std::move(f);
}

void fault_plan::add(const std::string& step, HRESULT result, unsigned after)
{
    fault f;
    f.result = result;
    f.after = after;
    add(step, std::move(f));
}

HRESULT fault_plan::check(std::string_view step) noexcept
{
    std::shared_ptr<void> gate;
    DWORD delay_ms = 0;
    HRESULT result = S_OK;
    {
        std::lock_guard lock(mutex_);
        const auto found = faults_.find(step);
        if (found == faults_.end())
            return S_OK;
        fault& f = found->second;
        if (f.calls < f.after)
        {
            ++f.calls;
            return S_OK;
        }
        gate = f.gate;
        delay_ms = f.delay_ms;
        result = f.result;
    }
    // Outside the lock: other steps, and other calls of this one, go on meanwhile.
    if (gate)
        WaitForSingleObject(gate.get(), gate_limit_ms);
    if (delay_ms)
        Sleep(delay_ms);
    return result;
}

void index_data::add_name(std::wstring_view name, std::size_t column)
{
    names_[lower(name)] = column;
}

std::optional<std::size_t> index_data::find_column(std::wstring_view name) const
{
    const auto found = names_.find(lower(name));
    if (found == names_.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::size_t> index_data::find_column(const GUID& fmtid, DWORD pid) const
{
    for (const auto& key : column_keys)
        if (IsEqualGUID(key.key->fmtid, fmtid) && key.key->pid == pid)
            return key.column;
    return std::nullopt;
}

std::wstring lower(std::wstring_view text)
{
    std::wstring result(text);
    for (auto& c : result)
        c = static_cast<wchar_t>(std::towlower(c));
    return result;
}

std::optional<date_value> parse_date(std::wstring_view text)
{
    SYSTEMTIME time{};
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    wchar_t separator1 = 0, separator2 = 0, between = 0;
    int used = 0;
    const std::wstring copy(text);
    if (swscanf(copy.c_str(), L"%4u%lc%2u%lc%2u%n", &year, &separator1, &month, &separator2, &day, &used) != 5)
        return std::nullopt;
    if (separator1 != separator2 || (separator1 != L'/' && separator1 != L'-'))
        return std::nullopt;
    std::size_t position = static_cast<std::size_t>(used);
    if (position < copy.size())
    {
        int more = 0;
        if (swscanf(copy.c_str() + position, L"%lc%2u:%2u:%2u%n", &between, &hour, &minute, &second, &more) != 4 ||
            (between != L' ' && between != L'T'))
            return std::nullopt;
        position += static_cast<std::size_t>(more);
        if (position < copy.size() && copy[position] == L'Z')
            ++position;
        if (position != copy.size())
            return std::nullopt;
    }
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    FILETIME file_time{};
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
        !SystemTimeToFileTime(&time, &file_time))
        return std::nullopt;
    // SystemTimeToFileTime accepts 31 February; a round trip does not.
    SYSTEMTIME check{};
    if (!FileTimeToSystemTime(&file_time, &check) || check.wDay != time.wDay)
        return std::nullopt;
    return date_value{ticks_of(file_time)};
}

std::wstring format_date(date_value date)
{
    FILETIME file_time{static_cast<DWORD>(date.ticks & 0xFFFFFFFF), static_cast<DWORD>(static_cast<std::uint64_t>(date.ticks) >> 32)};
    SYSTEMTIME time{};
    if (!FileTimeToSystemTime(&file_time, &time))
        return {};
    wchar_t buffer[32] = {};
    swprintf(buffer, std::size(buffer), L"%04u/%02u/%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
             time.wMinute, time.wSecond);
    return buffer;
}

std::wstring configured_index_file()
{
    wchar_t buffer[MAX_PATH * 4] = {};
    const DWORD length = GetEnvironmentVariableW(search_standin_index_variable, buffer, static_cast<DWORD>(std::size(buffer)));
    if (length > 0 && length < std::size(buffer))
        return buffer;
    return registry_index_file();
}

std::shared_ptr<index_data> load_index_text(std::string_view json)
{
    rapidjson::Document document;
    document.Parse(json.data(), json.size());
    if (document.HasParseError())
        throw index_error("index: not JSON (" + std::string(rapidjson::GetParseError_En(document.GetParseError())) +
                          " at offset " + std::to_string(document.GetErrorOffset()) + ")");
    // An index of generated items alone names no real files and counts no faults: nothing in it can
    // change, so the last one made is kept for the same text. A real index is there before a query
    // runs; making 25,000 items for every search manager and data source would cost more than the query.
    static std::mutex shared_mutex;
    static std::string shared_text;
    static std::shared_ptr<index_data> shared_index;
    const bool shareable = document.IsObject() && document.HasMember("generate") && !document.HasMember("items") &&
                           !document.HasMember("faults");
    if (shareable)
    {
        std::lock_guard lock(shared_mutex);
        if (shared_index && shared_text == json)
        {
            ++counters().indexes_loaded;
            return shared_index;
        }
    }
    auto index = std::make_shared<index_data>();
    index_loader(*index).load(document);
    if (shareable)
    {
        std::lock_guard lock(shared_mutex);
        shared_text.assign(json);
        shared_index = index;
    }
    ++counters().indexes_loaded;
    return index;
}

std::shared_ptr<index_data> load_configured_index()
{
    const std::wstring file = configured_index_file();
    if (file.empty())
        return load_index_text("{}");
    std::ifstream stream(std::filesystem::path(file), std::ios::binary);
    if (!stream)
        throw index_error("index: cannot open " + narrow(file));
    const std::string text((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    return load_index_text(text);
}
HRESULT load_index_for_creation(const IID& source, const char* step, std::shared_ptr<index_data>& index)
{
    try
    {
        index = load_configured_index();
    }
    catch (const index_error& e)
    {
        set_error_info(source, std::wstring(e.what(), e.what() + std::strlen(e.what())));
        OutputDebugStringA((std::string("velmora search stand-in: ") + e.what() + "\n").c_str());
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    return index->faults.check(step);
}
} // namespace search_standin
