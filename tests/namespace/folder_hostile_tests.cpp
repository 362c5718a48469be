// Identifier lists that Explorer may hand back from its history, from another extension or from a
// corrupt store, given to every folder method that takes one. Each list lies flush against a page the
// process may not read, so a method that reads past the list's end crashes the test instead of
// passing by luck. Nothing may crash or leak (the fixture checks that every object is gone), and each
// method answers what it answers for such input.
//
// To cover another method, add a row to `methods` with its answer for every class of identifier.

#include "folder_test_support.h"

#include <propkey.h>

#include <array>
#include <functional>
#include <stdexcept>

namespace
{
using namespace folder_test;

// A list of bytes in memory that ends where a no-access page begins.
class guarded_list
{
public:
    explicit guarded_list(const std::vector<std::uint8_t>& bytes)
    {
        SYSTEM_INFO system{};
        GetSystemInfo(&system);
        const std::size_t page = system.dwPageSize;
        const std::size_t readable = (bytes.size() + page - 1) / page * page;
        base_ = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, readable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (!base_ || !VirtualProtect(base_ + readable, page, PAGE_NOACCESS, &old))
            throw std::runtime_error("cannot make the guard page");
        list_ = base_ + readable - bytes.size();
        std::memcpy(list_, bytes.data(), bytes.size());
    }
    ~guarded_list() { VirtualFree(base_, 0, MEM_RELEASE); }
    guarded_list(const guarded_list&) = delete;
    guarded_list& operator=(const guarded_list&) = delete;

    PCUIDLIST_RELATIVE get() const { return reinterpret_cast<PCUIDLIST_RELATIVE>(list_); }

private:
    std::uint8_t* base_ = nullptr;
    std::uint8_t* list_ = nullptr;
};

enum class id_class
{
    foreign,      // another namespace's item
    truncated,    // a size field below 12064, or no item at all
    root_kind,    // ours, kind 0
    unknown_kind, // ours, a kind above 5
    cut_list,     // one good item, then one cut inside its record
    long_fields,  // ours, every text field filled to its end without a NUL
    long_result,  // a result whose path fills its field without a NUL
    deep_list,    // 64 organised folders in one list
};

std::vector<std::uint8_t> bytes_of(const unique_child_id& item)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(item.get());
    return std::vector<std::uint8_t>(data, data + item_data_size);
}

std::vector<std::uint8_t> terminated(std::vector<std::uint8_t> bytes)
{
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

// An item of `size` bytes whose size field says so; its kind byte is 1 when it has one.
std::vector<std::uint8_t> sized_item(std::uint16_t size)
{
    std::vector<std::uint8_t> bytes(size, 0);
    std::memcpy(bytes.data(), &size, std::min<std::size_t>(size, 2));
    if (size > 2)
        bytes[2] = 1;
    return bytes;
}

std::vector<std::uint8_t> with_kind(std::uint8_t kind)
{
    auto item = bytes_of(create_folder_item({.name = L"Ratings"}));
    item[2] = kind;
    return terminated(item);
}

template <std::size_t N>
void fill(wchar_t (&field)[N], wchar_t c)
{
    std::fill(std::begin(field), std::end(field), c);
}

struct hostile_id
{
    const char* name;
    id_class kind;
    std::vector<std::uint8_t> bytes;
};

std::vector<hostile_id> hostile_ids(std::wstring& long_result_path)
{
    std::vector<hostile_id> ids;
    // The desktop's registry item of "This PC" and a file-system item.
    std::vector<std::uint8_t> registry = sized_item(20);
    registry[2] = 0x1F;
    ids.push_back({"registry item", id_class::foreign, terminated(registry)});
    std::vector<std::uint8_t> file_item = sized_item(40);
    file_item[2] = 0x32;
    ids.push_back({"file-system item", id_class::foreign, terminated(file_item)});
    for (const std::uint16_t size : {12063, 6000, 3, 2, 1})
        ids.push_back({"size field below 12064", id_class::truncated, terminated(sized_item(size))});
    ids.push_back({"size field 12065", id_class::foreign, terminated(sized_item(12065))});
    ids.push_back({"lone terminator", id_class::truncated, {0, 0}});
    ids.push_back({"kind 0", id_class::root_kind, with_kind(0)});
    ids.push_back({"kind 6", id_class::unknown_kind, with_kind(6)});
    ids.push_back({"kind 255", id_class::unknown_kind, with_kind(255)});

    auto cut = bytes_of(create_folder_item({.name = L"Ratings"}));
    auto second = bytes_of(create_search_item({.name = L"Ratings"}, {.name = L"★★★"}, {}, {}));
    second.resize(3000);
    const std::uint16_t cut_size = 3000;
    std::memcpy(second.data(), &cut_size, 2);
    cut.insert(cut.end(), second.begin(), second.end());
    ids.push_back({"list cut inside its second item", id_class::cut_list, terminated(cut)});

    auto full = create_folder_item({.name = L"x"});
    auto* data = own_item_data(full.get());
    fill(data->path, L'p');
    fill(data->icon, L'i');
    fill(data->query, L'q');
    fill(data->action_parameters, L'a');
    fill(data->keywords, L'k');
    fill(data->people, L'e');
    fill(data->name, L'n');
    fill(data->link_path, L'l');
    ids.push_back({"organised folder without NULs", id_class::long_fields, terminated(bytes_of(full))});

    auto result = create_empty_result_item();
    auto* result_data = own_item_data(result.get());
    fill(result_data->path, L'p');
    result_data->path[0] = L'C';
    result_data->path[1] = L':';
    result_data->path[2] = L'\\';
    long_result_path = item_path(result_data);
    ids.push_back({"result path without NUL", id_class::long_result, terminated(bytes_of(result))});

    std::vector<std::uint8_t> deep;
    for (int i = 0; i < 64; ++i)
    {
        const auto item = bytes_of(create_folder_item({.name = L"Level " + std::to_wstring(i)}));
        deep.insert(deep.end(), item.begin(), item.end());
    }
    ids.push_back({"64 organised folders", id_class::deep_list, terminated(deep)});
    return ids;
}

// A method's answer for each class of identifier, in the order of `id_class`.
using answers = std::array<HRESULT, 8>;

struct method_row
{
    const char* method;
    std::function<HRESULT(search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id)> call;
    answers expected;
};

using hostile_identifiers = folder_fixture;

TEST_F(hostile_identifiers, every_method_that_takes_an_identifier_answers_without_crashing_or_leaking)
{
    std::wstring long_result_path;
    const auto ids = hostile_ids(long_result_path);
    // What parsing that path answers: the delegating methods pass it on.
    PIDLIST_ABSOLUTE parsed = nullptr;
    const HRESULT long_parse = SHParseDisplayName(long_result_path.c_str(), nullptr, &parsed, 0, nullptr);
    ASSERT_TRUE(FAILED(long_parse));
    // A result's path without NUL names no file: the rename fails as MoveFileExW does, nothing moves.
    MoveFileExW(long_result_path.c_str(), L"C:\\renamed", MOVEFILE_COPY_ALLOWED);
    const HRESULT long_rename = HRESULT_FROM_WIN32(GetLastError());
    constexpr HRESULT invalid = E_INVALIDARG;

    const auto child = [](PCUIDLIST_RELATIVE id) { return reinterpret_cast<PCUITEMID_CHILD>(id); };
    const auto name_of = [&](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id, SHGDNF flags) {
        STRRET name{};
        const HRESULT hr = folder.GetDisplayNameOf(child(id), flags, &name);
        if (SUCCEEDED(hr) && name.uType == STRRET_WSTR)
            CoTaskMemFree(name.pOleStr);
        return hr;
    };
    // GetUIObjectOf examines the first item only; a well-formed organised folder gets its own objects,
    // and Wine has no SHCreateDataObject (E_NOTIMPL).
    const auto ui_object = [&](const IID& iid) {
        return [&iid, child](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id) {
            PCUITEMID_CHILD children[] = {child(id)};
            com_ptr<IUnknown> object;
            const HRESULT hr = folder.GetUIObjectOf(nullptr, 1, children, iid, nullptr, object.put_void());
            EXPECT_EQ(SUCCEEDED(hr), static_cast<bool>(object));
            return hr;
        };
    };
    const auto ui_answers = [&](HRESULT root_kind, HRESULT organised) {
        return answers{invalid, invalid, root_kind, invalid, organised, organised, long_parse, organised};
    };
    const method_row methods[] = {
        {"BindToObject",
         [](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id) {
             com_ptr<IShellFolder> bound;
             const HRESULT hr = folder.BindToObject(id, nullptr, IID_IShellFolder, bound.put_void());
             EXPECT_EQ(SUCCEEDED(hr), static_cast<bool>(bound));
             return hr;
         },
         {invalid, invalid, invalid, invalid, invalid, S_OK, long_parse, S_OK}},
        {"GetDisplayNameOf",
         [&](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id) { return name_of(folder, id, SHGDN_NORMAL); },
         {invalid, invalid, E_FAIL, invalid, S_OK, S_OK, S_OK, S_OK}},
        {"GetDisplayNameOf for parsing",
         [&](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id) {
             return name_of(folder, id, SHGDN_FORPARSING | SHGDN_FORADDRESSBAR);
         },
         {invalid, invalid, S_OK, invalid, S_OK, S_OK, S_OK, S_OK}},
        {"GetAttributesOf",
         [&](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id) {
             PCUITEMID_CHILD children[] = {child(id)};
             SFGAOF attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
             return folder.GetAttributesOf(1, children, &attributes);
         },
         {invalid, invalid, invalid, invalid, S_OK, S_OK, long_parse, S_OK}},
        // A folder initialised below the identifier: foreign items are passed over, and a place that
        // the configuration does not have cannot be listed.
        {"Initialize, then EnumObjects",
         [](search_and_action_shell_folder&, PCUIDLIST_RELATIVE id) {
             const auto list = combine(root_id_list(CLSID_search_and_action_shell_folder).get(), id);
             com_ptr<search_and_action_shell_folder> below;
             EXPECT_EQ(search_and_action_shell_folder::create_folder(false, below.put()), S_OK);
             const HRESULT initialized = below->Initialize(list.get());
             if (FAILED(initialized))
                 return initialized;
             com_ptr<IEnumIDList> enumerator;
             return below->EnumObjects(nullptr, SHCONTF_FOLDERS, enumerator.put());
         },
         {S_OK, S_OK, S_OK, S_OK, S_OK, E_FAIL, S_OK, E_FAIL}},
        // The descriptive methods: details, sort order (each identifier against itself) and renaming.
        {"GetDetailsOf",
         [&](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id) {
             SHELLDETAILS details{};
             const HRESULT hr = folder.GetDetailsOf(child(id), 0, &details);
             if (SUCCEEDED(hr) && details.str.uType == STRRET_WSTR)
                 CoTaskMemFree(details.str.pOleStr);
             return hr;
         },
         {invalid, invalid, invalid, invalid, S_OK, S_OK, long_parse, S_OK}},
        {"GetDetailsEx",
         [&](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id) {
             VARIANT value{};
             const HRESULT hr = folder.GetDetailsEx(child(id), &PKEY_ItemName, &value);
             VariantClear(&value);
             return hr;
         },
         {invalid, invalid, invalid, invalid, S_OK, S_OK, long_parse, S_OK}},
        {"CompareIDs",
         [](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id) {
             return folder.CompareIDs(SHCIDS_ALLFIELDS, id, id);
         },
         {invalid, invalid, S_OK, invalid, invalid, S_OK, S_OK, S_OK}},
        {"SetNameOf",
         [&](search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE id) {
             PITEMID_CHILD out = nullptr;
             const HRESULT hr = folder.SetNameOf(nullptr, child(id), L"renamed", SHGDN_NORMAL, &out);
             EXPECT_EQ(out, nullptr);
             return hr;
         },
         {E_NOTIMPL, E_NOTIMPL, E_NOTIMPL, E_NOTIMPL, E_NOTIMPL, E_NOTIMPL, long_rename, E_NOTIMPL}},
        {"GetUIObjectOf(IContextMenu)", ui_object(IID_IContextMenu), ui_answers(S_OK, S_OK)},
        {"GetUIObjectOf(IDataObject)", ui_object(IID_IDataObject), ui_answers(E_NOINTERFACE, E_NOTIMPL)},
        {"GetUIObjectOf(IExtractIconW)", ui_object(IID_IExtractIconW), ui_answers(E_NOINTERFACE, S_OK)},
        {"GetUIObjectOf(IDropTarget)", ui_object(IID_IDropTarget), ui_answers(E_NOINTERFACE, S_OK)},
    };

    const auto root = make_root(false);
    for (const auto& id : ids)
    {
        const guarded_list list(id.bytes);
        for (const auto& method : methods)
        {
            SCOPED_TRACE(std::string(method.method) + " of " + id.name);
            EXPECT_EQ(hex(method.call(*root.get(), list.get())), hex(method.expected[static_cast<std::size_t>(id.kind)]));
        }
    }
}
} // namespace
