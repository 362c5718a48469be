// The icon handler: the locations it gives for each kind of item, how it fills the caller's buffer, and
// the icon files that the default configuration names, loaded as the shell loads them.

#include "icons/icon_handler.h"

#include "base/log.h"
#include "base/namespace_module.h"
#include "items/search_and_action_item_data.h"
#include "search/volume_guard.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <set>

namespace
{
struct location
{
    HRESULT hr = E_UNEXPECTED;
    std::wstring file;
    int index = -99;
    UINT flags = 0xFFFF;
};

location location_of(const unique_child_id& item)
{
    location result;
    wchar_t buffer[MAX_PATH * 2];
    com_ptr<IExtractIconW> handler;
    EXPECT_EQ(create_icon_handler(item.get(), IID_IExtractIconW, handler.put_void()), S_OK);
    if (handler)
    {
        result.hr = handler->GetIconLocation(GIL_FORSHELL, buffer, static_cast<UINT>(std::size(buffer)), &result.index,
                                             &result.flags);
        result.file = buffer;
    }
    return result;
}

std::string warning_for(const std::wstring& path)
{
    return "WARNING Icon file does not exist. Investigate. File: " + to_utf8(path);
}

// The image sizes an .ico file's directory lists (a width byte of 0 means 256).
std::set<int> ico_sizes(const std::filesystem::path& file)
{
    const std::string bytes = test_support::read_file(file);
    std::set<int> sizes;
    if (bytes.size() < 6 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1 || bytes[3] != 0)
        return sizes;
    const int count = static_cast<std::uint8_t>(bytes[4]) | static_cast<std::uint8_t>(bytes[5]) << 8;
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= static_cast<int>(bytes.size()); ++i)
    {
        const int width = static_cast<std::uint8_t>(bytes[6 + 16 * i]);
        sizes.insert(width == 0 ? 256 : width);
    }
    return sizes;
}

// Every icon file the configuration files name, also those of searches hidden while the tags and people
// lists are short, and the "when tagged" variants no folder shows.
TEST(icon_handler, every_icon_file_of_the_default_configuration_is_a_loadable_multi_size_icon)
{
    for (const auto* name : {L"Namespace.json", L"All Tags.json"})
        std::filesystem::remove(test_support::settings_folder() / name);
    namespace_settings::settings_file namespace_file{nullptr};
    all_tags_settings::settings_file tags{nullptr};
    ASSERT_TRUE(namespace_file.load(false) && tags.load(false));

    std::set<std::wstring> files;
    for (const auto& folder : namespace_file.folders())
    {
        files.insert(resolve_icon_path(folder.icon));
        for (const auto& query : folder.queries)
            if (!query.icon.empty() && query.icon.find(L'$') == std::wstring::npos)
                files.insert(resolve_icon_path(query.icon));
    }
    for (const auto& tag : tags.tags())
        for (const auto& icon : {tag.icon_not_tagged, tag.icon_when_tagged})
            if (icon)
                files.insert(resolve_icon_path(*icon));
    // Ratings, five ratings, tags, six tag colours each checked and not, people, person, recent.
    EXPECT_GE(files.size(), 22u);
    for (const auto& file : files)
    {
        SCOPED_TRACE(to_utf8(file));
        EXPECT_EQ(ico_sizes(file), (std::set<int>{16, 32, 48, 256}));
        HICON large = nullptr, small = nullptr;
        EXPECT_GE(ExtractIconExW(file.c_str(), 0, &large, &small, 1), 1u);
        ASSERT_NE(large, nullptr);
        ASSERT_NE(small, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(large, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXICON));
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(large);
        DestroyIcon(small);
    }
}

// A volume guard whose shares answer as the test says, recording every probe.
struct simulated_shares
{
    std::mutex mutex;
    std::vector<std::wstring> probed;
    bool answer = true;
};

std::unique_ptr<volume_guard> guard_for(const std::shared_ptr<simulated_shares>& shares)
{
    volume_guard::environment environment;
    environment.now = [] { return volume_guard::clock::now(); };
    environment.probe = [shares](const std::wstring& root) {
        std::lock_guard lock(shares->mutex);
        shares->probed.push_back(root);
        return shares->answer || root.find(L':') != std::wstring::npos;
    };
    environment.read_switch = [] { return DWORD{0}; };
    environment.debug_output = [](const wchar_t*) {};
    return std::make_unique<volume_guard>(std::move(environment));
}

std::string not_used(const wchar_t* reason, const std::wstring& path)
{
    return to_utf8(L"WARNING GetIconLocation: icon path not used (" + std::wstring(reason) + L"): " + path);
}

TEST(icon_handler, never_hands_the_shell_a_network_path_that_only_an_identifier_names)
{
    SHFILEINFOW generic{};
    ASSERT_NE(SHGetFileInfoW(L"Folder", FILE_ATTRIBUTE_DIRECTORY, &generic, sizeof(generic),
                             SHGFI_ICONLOCATION | SHGFI_USEFILEATTRIBUTES),
              0u);
    ASSERT_NE(generic.szDisplayName[0], L'\0');
    const std::wstring folder = test_support::executable_folder().wstring();
    const std::wstring configured_ratings = folder + L"\\Content\\Icons\\Ratings.ico";
    constexpr auto share = L"a share the configuration does not name";
    constexpr auto elsewhere = L"neither local nor on a share";
    constexpr auto not_answering = L"its share does not answer";
    const auto missing = warning_for;

    // The namespace file names two icons on a share; the default folder "Ratings" stays as shipped.
    const auto namespace_file = test_support::settings_folder() / L"Namespace.json";
    ASSERT_TRUE(namespace_settings::settings_file{nullptr}.load(false)) << "seeds the file when it is missing";
    const std::string original = test_support::read_file(namespace_file);
    ASSERT_NE(original.find("\"Ratings\""), std::string::npos);
    std::string edited = original;
    edited.insert(edited.find('[') + 1, R"({"name": "Shared", "icon": "\\\\server\\share\\shared.ico", "queries": [
        {"name": "Team", "query": "x", "icon": "//server/share/team.ico"},
        {"name": "Pipe", "query": "x", "icon": "\\\\.\\pipe\\icons"}]},)");
    test_support::write_file(namespace_file, edited);
    test_support::touch_file(namespace_file, 60);
    struct restore_file
    {
        std::filesystem::path file;
        std::string bytes;
        ~restore_file()
        {
            test_support::write_file(file, bytes);
            test_support::touch_file(file, 120);
        }
    } restore{namespace_file, original};

    const auto folder_item = [](const wchar_t* name, const wchar_t* icon) {
        return create_folder_item({.name = name, .icon = icon});
    };
    const auto search_item = [](const wchar_t* folder_name, const wchar_t* name, const wchar_t* icon) {
        return create_search_item({.name = folder_name}, {.name = name, .icon = icon, .query = L"x"}, {}, {});
    };
    const struct
    {
        const char* name;
        unique_child_id item;
        bool share_answers;
        std::wstring file;     // empty: the generic folder icon
        std::string warning;   // empty: none
        std::vector<std::wstring> probed;
    } rows[] = {
        {"share", folder_item(L"Holidays", L"\\\\server\\share\\a.ico"), true, {}, not_used(share, L"\\\\server\\share\\a.ico"), {}},
        {"share, forward slashes", folder_item(L"Holidays", L"//server/share/a.ico"), true, {}, not_used(share, L"//server/share/a.ico"), {}},
        {"long-path share", folder_item(L"Holidays", L"\\\\?\\UNC\\server\\share\\a.ico"), true, {},
         not_used(share, L"\\\\?\\UNC\\server\\share\\a.ico"), {}},
        {"device share", search_item(L"Holidays", L"Beach", L"\\\\.\\unc\\server\\share\\a.ico"), true, {},
         not_used(share, L"\\\\.\\unc\\server\\share\\a.ico"), {}},
        // Not absolute for the configuration's rule (one leading separator): a name below the module's folder.
        {"object-manager share", folder_item(L"Holidays", L"\\??\\UNC\\server\\share\\a.ico"), true,
         folder + L"\\??\\UNC\\server\\share\\a.ico", missing(folder + L"\\??\\UNC\\server\\share\\a.ico"), {}},
        {"share through the network provider", folder_item(L"Holidays", L"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\a.ico"),
         true, {}, not_used(elsewhere, L"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\a.ico"), {}},
        {"bare server", folder_item(L"Holidays", L"\\\\server"), true, {}, not_used(elsewhere, L"\\\\server"), {}},
        {"local long path", folder_item(L"Holidays", L"\\\\?\\C:\\Icons\\a.ico"), true, L"\\\\?\\C:\\Icons\\a.ico",
         missing(L"\\\\?\\C:\\Icons\\a.ico"), {}},
        {"drive-absolute with forward slashes", folder_item(L"Holidays", L"d:/Icons/a.ico"), true, L"d:/Icons/a.ico",
         missing(L"d:/Icons/a.ico"), {}},
        {"drive-relative, next to the module", folder_item(L"Holidays", L"C:a.ico"), true, folder + L"\\C:a.ico",
         missing(folder + L"\\C:a.ico"), {}},
        {"configured folder: the configuration's icon", folder_item(L"Ratings", L"\\\\server\\share\\a.ico"), true,
         configured_ratings, {}, {}},
        {"configured share that answers", folder_item(L"Shared", L"C:\\Icons\\a.ico"), true,
         L"\\\\server\\share\\shared.ico", missing(L"\\\\server\\share\\shared.ico"), {L"\\\\server\\share\\"}},
        {"configured share that does not answer", search_item(L"Shared", L"Team", L"C:\\Icons\\a.ico"), false, {},
         not_used(not_answering, L"//server/share/team.ico"), {L"\\\\server\\share\\"}},
        {"configured device path", search_item(L"Shared", L"Pipe", L""), true, {}, not_used(elsewhere, L"\\\\.\\pipe\\icons"), {}},
        {"group folder on a share", create_group_item_from_parts(L"\\\\server\\share\\Trips", L"Trips"), true, {},
         "WARNING GetIconLocation: icon path not used (a share that no quick pins group names): \\\\server\\share\\Trips", {}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        auto shares = std::make_shared<simulated_shares>();
        shares->answer = row.share_answers;
        const auto guard = guard_for(shares);
        test_support::log_capture log;
        const icon_location at = folder_item_icon_location(own_item_data(row.item.get()), *guard);
        EXPECT_EQ(at.file, row.file.empty() ? std::wstring(generic.szDisplayName) : row.file);
        EXPECT_EQ(at.index, row.file.empty() ? generic.iIcon : 0);
        EXPECT_EQ(at.flags, static_cast<UINT>(GIL_PERINSTANCE));
        EXPECT_EQ(log.messages(), row.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.warning});
        std::lock_guard lock(shares->mutex);
        std::vector<std::wstring> shares_probed;
        for (const auto& root : shares->probed)
            if (root.starts_with(L"\\\\"))
                shares_probed.push_back(root);
        EXPECT_EQ(shares_probed, row.probed) << "no share is probed that the configuration does not name";
    }
}

// Through the handler, as the shell asks: a group shows its own folder's icon, not cached, or the generic
// folder icon once its folder is gone; a configured icon file that is missing is still named, with a
// warning at every call; any other kind gets the empty location.
TEST(icon_handler, every_kind_of_item_gets_its_location_and_flags)
{
    test_support::scratch_folder scratch(L"icon handler kinds");
    // A folder's own icon location comes from the folder itself. A desktop.ini with IconFile and
    // IconIndex would be the natural case, but Wine 8 answers it with an unreliable file name (empty for
    // an ANSI desktop.ini, often stale memory for a UTF-16 one): a plain folder, whose location Wine
    // reports reliably, stands in for it.
    const auto custom = scratch.path() / L"Holiday";
    std::filesystem::create_directory(custom);
    SHFILEINFOW own{};
    ASSERT_NE(SHGetFileInfoW(custom.c_str(), 0, &own, sizeof(own), SHGFI_ICONLOCATION), 0u);
    ASSERT_NE(own.szDisplayName[0], L'\0');
    SHFILEINFOW generic{};
    ASSERT_NE(SHGetFileInfoW(L"C:\\no such folder", FILE_ATTRIBUTE_DIRECTORY, &generic, sizeof(generic),
                             SHGFI_ICONLOCATION | SHGFI_USEFILEATTRIBUTES),
              0u);
    ASSERT_NE(generic.szDisplayName[0], L'\0');
    const auto missing = test_support::executable_folder() / L"Content" / L"Icons" / L"Missing rating.ico";
    auto unknown = create_empty_result_item();
    own_item_data(unknown.get())->kind = 9;
    const struct
    {
        const char* name;
        unique_child_id item;
        std::wstring file;
        int index;
        UINT flags;
        std::vector<std::string> warnings;
    } rows[] = {
        {"group", create_group_item_from_parts(custom.wstring(), L"Holiday"), own.szDisplayName, own.iIcon,
         GIL_PERINSTANCE | GIL_DONTCACHE, {}},
        {"group whose folder is gone", create_group_item_from_parts((scratch.path() / L"Gone").wstring(), L"Gone"),
         generic.szDisplayName, generic.iIcon, GIL_PERINSTANCE, {}},
        {"search whose icon file is missing",
         create_search_item({.name = L"Ratings"}, {.name = L"Unrated", .icon = L"Content\\Icons\\Missing rating.ico"}, {}, {}),
         missing.wstring(), 0, GIL_PERINSTANCE, {warning_for(missing.wstring())}},
        {"unknown kind", std::move(unknown), L"", 0, GIL_PERINSTANCE, {}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        for (int call = 0; call < 2; ++call)
        {
            test_support::log_capture log;
            const location at = location_of(row.item);
            EXPECT_EQ(at.hr, S_OK);
            EXPECT_EQ(at.file, row.file);
            EXPECT_EQ(at.index, row.index);
            EXPECT_EQ(at.flags, row.flags);
            EXPECT_EQ(log.messages(), row.warnings);
        }
    }
}

// Only our identifiers make a handler, which keeps its own copy of the item and the module's lock; it
// fills the caller's buffer within its size and checks its arguments.
TEST(icon_handler, takes_only_our_identifiers_keeps_its_own_copy_and_fills_the_buffer_within_its_size)
{
    const LONG locks = the_module().lock_count();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(create_icon_handler(nullptr, IID_IExtractIconW, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    const unsigned char foreign[] = {4, 0, 1, 0, 0, 0};
    EXPECT_EQ(create_icon_handler(reinterpret_cast<PCUITEMID_CHILD>(foreign), IID_IExtractIconW, &out), E_INVALIDARG);
    EXPECT_EQ(create_icon_handler(nullptr, IID_IExtractIconW, nullptr), E_POINTER);
    EXPECT_EQ(the_module().lock_count(), locks);

    // A folder the configuration does not name: its icon comes from the identifier alone.
    auto item = create_folder_item({.name = L"Holidays", .icon = L"C:\\Icons\\Ratings.ico"});
    com_ptr<IUnknown> unknown;
    ASSERT_EQ(create_icon_handler(item.get(), IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(the_module().lock_count(), locks + 1);
    void* narrow = nullptr;
    EXPECT_EQ(unknown->QueryInterface(IID_IExtractIconA, &narrow), E_NOINTERFACE);
    auto handler = unknown.try_query<IExtractIconW>();
    ASSERT_TRUE(handler);
    unknown.reset();
    item.reset();
    int index = 0;
    UINT flags = 0;
    const std::wstring full = L"C:\\Icons\\Ratings.ico";
    const std::pair<UINT, std::wstring> rows[] = {{0, L"untouched"}, {1, L""}, {5, L"C:\\I"}, {21, full},
                                                  {64, full}, {0x80000000u, L""}, {0xFFFFFFFFu, L""}};
    for (const auto& [size, expected] : rows)
    {
        SCOPED_TRACE(size);
        wchar_t buffer[64];
        std::wcscpy(buffer, L"untouched");
        EXPECT_EQ(handler->GetIconLocation(0, buffer, size, &index, &flags), S_OK);
        EXPECT_EQ(std::wstring(buffer), expected);
    }
    wchar_t buffer[64];
    EXPECT_EQ(handler->GetIconLocation(0, nullptr, 64, &index, &flags), E_INVALIDARG);
    EXPECT_EQ(handler->GetIconLocation(0, buffer, 64, nullptr, &flags), E_INVALIDARG);
    EXPECT_EQ(handler->GetIconLocation(0, buffer, 64, &index, nullptr), E_INVALIDARG);

    HICON large = reinterpret_cast<HICON>(1), small = reinterpret_cast<HICON>(1);
    EXPECT_EQ(handler->Extract(L"C:\\Icons\\Ratings.ico", 0, &large, &small, MAKELONG(32, 16)), S_FALSE);
    EXPECT_EQ(large, nullptr);
    EXPECT_EQ(small, nullptr);
    EXPECT_EQ(handler->Extract(L"C:\\Icons\\Ratings.ico", 0, nullptr, nullptr, 0), S_FALSE);
    handler.reset();
    EXPECT_EQ(the_module().lock_count(), locks);
}
} // namespace
