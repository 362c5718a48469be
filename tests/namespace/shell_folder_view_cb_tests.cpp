// The folder view callback against the recording stand-in for the view (the columns, view mode and texts
// that only Windows' view takes), against Wine's answers (no column manager, E_NOTIMPL for the texts and
// the icon size), and its live rows on a real window: the registration, the registered message, the
// filter of our own items and of files no search lists, and the end of the registration with the window.

#include "namespace/shell_folder_view_cb.h"

#include "items/path_cache.h"
#include "namespace/folder_columns.h"
#include "items/search_and_action_item_data.h"
#include "search/search_cache.h"

#include "folder_test_support.h"
#include "recording_folder_view.h"

#include <cstring>

namespace
{
using folder_test::pump_until;

// A one-item absolute list standing for a saved search of ours.
unique_absolute_id_list our_folder_list()
{
    const auto item = create_folder_item({.name = L"Photos"});
    return unique_absolute_id_list(reinterpret_cast<PIDLIST_ABSOLUTE>(ILClone(item.get())));
}

com_ptr<shell_folder_view_cb> make_callback(FOLDERVIEWMODE mode, int icon_size,
                                            PCIDLIST_ABSOLUTE folder = our_folder_list().get())
{
    shell_folder_view_cb* callback = nullptr;
    EXPECT_EQ(shell_folder_view_cb::create_callback(folder, mode, icon_size, &callback), S_OK);
    return com_ptr<shell_folder_view_cb>::attach(callback);
}

FOLDERVIEWMODE ask_view_mode(shell_folder_view_cb& callback)
{
    FOLDERVIEWMODE mode{};
    EXPECT_EQ(callback.MessageSFVCB(SFVM_DEFVIEWMODE, 0, reinterpret_cast<LPARAM>(&mode)), S_OK);
    return mode;
}

// A window of the test's own that records the paths of the search results announced as updated.
class update_listener
{
public:
    update_listener()
    {
        SetWindowSubclass(window_, procedure, 1, reinterpret_cast<DWORD_PTR>(this));
        unique_absolute_id_list desktop;
        SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, desktop.put());
        SHChangeNotifyEntry entry{desktop.get(), TRUE};
        registration_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_NewDelivery, SHCNE_UPDATEITEM,
                                               WM_APP + 7, 1, &entry);
    }
    ~update_listener()
    {
        SHChangeNotifyDeregister(registration_);
        RemoveWindowSubclass(window_, procedure, 1);
        DestroyWindow(window_);
    }
    std::vector<std::wstring> announced;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data)
    {
        if (message != WM_APP + 7)
            return DefSubclassProc(window, message, wparam, lparam);
        PIDLIST_ABSOLUTE* lists = nullptr;
        LONG event = 0;
        if (const HANDLE lock =
                SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wparam), static_cast<DWORD>(lparam), &lists, &event))
        {
            const auto* last = lists && lists[0] ? own_item_data(ILFindLastID(lists[0])) : nullptr;
            if (last && last->kind == static_cast<std::uint8_t>(item_kind::search_result))
                reinterpret_cast<update_listener*>(data)->announced.push_back(item_path(last));
            SHChangeNotification_Unlock(lock);
        }
        return 0;
    }
    HWND window_ =
        CreateWindowExW(0, L"STATIC", L"listener", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ULONG registration_ = 0;
};

// The eight columns, and for an icon view the icon mode at 256, on every kind of view: applied once the
// view has asked for its mode and the callback has the view, whichever comes first and whatever becomes of
// the columns. Failures are logged; Wine's default view (no IColumnManager, E_NOTIMPL for SetText and
// SetViewModeAndIconSize) is taken without a word.
TEST(shell_folder_view_cb, the_view_gets_its_columns_and_mode_once_it_is_handed_over_whatever_it_answers)
{
    struct row
    {
        const char* name;
        FOLDERVIEWMODE mode;
        bool asked_first;
        HRESULT set_columns;
        int failing_column;
        bool column_manager;
        HRESULT not_implemented;
        std::size_t infos;
        std::vector<std::string> warnings;
    };
    const row rows[] = {
        {"a details view that takes everything", FVM_DETAILS, true, S_OK, -1, true, S_OK, 8, {}},
        {"an icon view that takes everything", FVM_ICON, false, S_OK, -1, true, S_OK, 8, {}},
        {"SetColumns fails", FVM_ICON, true, E_ACCESSDENIED, -1, true, S_OK, 0,
         {"WARNING Unable to set default search-folder columns: 0x80070005"}},
        {"one column fails", FVM_ICON, true, S_OK, 3, true, S_OK, 8,
         {"WARNING Unable to initialize a default search-folder column: 0x80004005"}},
        {"Wine's view", FVM_ICON, false, S_OK, -1, false, E_NOTIMPL, 0, {}},
    };
    const PROPERTYKEY people = {{0xE8309B6E, 0x084C, 0x49B4, {0xB1, 0xFC, 0x90, 0xA8, 0x03, 0x31, 0xB6, 0x38}}, 100};
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        test_support::log_capture log;
        recording_folder_view view;
        view.set_columns_result = r.set_columns;
        view.failing_column = r.failing_column;
        view.offers_column_manager = r.column_manager;
        view.set_text_result = view.view_mode_result = r.not_implemented;
        {
            auto callback = make_callback(r.mode, r.mode == FVM_ICON ? 256 : shell_folder_view_cb::default_icon_size);
            if (r.asked_first)
            {
                EXPECT_EQ(ask_view_mode(*callback.get()), r.mode);
                EXPECT_TRUE(view.columns_set.empty()) << "no view yet: the defaults wait";
            }
            callback->set_folder_view(&view);
            callback->set_folder_view(&view);
            if (!r.asked_first)
            {
                EXPECT_TRUE(view.view_modes.empty()) << "the view has not asked for its mode yet";
                EXPECT_EQ(ask_view_mode(*callback.get()), r.mode);
            }
            EXPECT_EQ(view.view_modes, (r.mode == FVM_ICON ? std::vector<std::pair<FOLDERVIEWMODE, int>>{{FVM_ICON, 256}}
                                                           : std::vector<std::pair<FOLDERVIEWMODE, int>>{}))
                << "applied once; a details view keeps the view's own icon size";
            ASSERT_EQ(view.columns_set.size(), r.column_manager ? 8u : 0u);
            ASSERT_EQ(view.column_infos.size(), r.infos);
            for (std::size_t i = 0; i < r.infos; ++i)
            {
                const auto& [key, info] = view.column_infos[i];
                EXPECT_TRUE(same_property_key(key, view.columns_set[i])) << i;
                EXPECT_EQ(info.cbSize, 184u);
                EXPECT_EQ(info.dwMask, 0x11u);
                EXPECT_EQ(info.dwState, 1u);
                EXPECT_EQ(info.uWidth, 0xFFFFFFFFu);
                EXPECT_EQ(info.uDefaultWidth + info.uIdealWidth + info.wszName[0], 0u);
            }
            if (r.infos)
            {
                EXPECT_TRUE(same_property_key(view.columns_set[5], people));
            }
            EXPECT_EQ(callback->MessageSFVCB(SFVM_WINDOWCREATED, 0, 0), S_OK);
            EXPECT_EQ(callback->MessageSFVCB(SFVM_BACKGROUNDENUMDONE, 0, 0), S_OK);
            EXPECT_EQ(view.texts, (std::vector<std::pair<FVTEXTTYPE, std::wstring>>{
                                      {FVST_EMPTYTEXT, L"Searching..."}, {FVST_EMPTYTEXT, L"No matching files were found."}}));
            if (r.mode == FVM_DETAILS)
            {
                view.columns_set.clear();
                ask_view_mode(*callback.get());
                EXPECT_EQ(view.columns_set.size(), 8u) << "asked again, applied again";
            }
        }
        EXPECT_EQ(view.references(), 1u) << "the callback keeps no reference to the view that owns it";
        EXPECT_EQ(log.messages(), r.warnings);
    }

    // A view without IFolderView2 at all, and no view.
    recording_folder_view bare;
    bare.offers_column_manager = false;
    bare.offers_folder_view2 = false;
    auto second = make_callback(FVM_ICON, 256);
    second->set_folder_view(&bare);
    ask_view_mode(*second.get());
    EXPECT_EQ(second->MessageSFVCB(SFVM_BACKGROUNDENUMDONE, 0, 0), S_OK);
    auto viewless = make_callback(FVM_DETAILS, -1);
    EXPECT_EQ(viewless->MessageSFVCB(SFVM_BACKGROUNDENUMDONE, 0, 0), S_OK);
    EXPECT_EQ(ask_view_mode(*viewless.get()), FVM_DETAILS);
}

TEST(shell_folder_view_cb, answers_each_message_as_the_view_expects)
{
    const auto folder = our_folder_list();
    auto callback = make_callback(FVM_DETAILS, -1, folder.get());

    const std::tuple<const char*, UINT, WPARAM, LPARAM, HRESULT> rows[] = {
        {"an update", SFVM_FSNOTIFY, 0, SHCNE_UPDATEITEM, S_OK},
        {"a rename", SFVM_FSNOTIFY, 0, SHCNE_RENAMEITEM, E_NOTIMPL},
        {"background enumeration", SFVM_BACKGROUNDENUM, 0, 0, S_OK},
        {"a message we leave alone", SFVM_COLUMNCLICK, 3, 0, E_NOTIMPL},
        {"notify without pointers", SFVM_GETNOTIFY, 0, 0, S_OK},
    };
    for (const auto& [name, message, wparam, lparam, expected] : rows)
    {
        SCOPED_TRACE(name);
        EXPECT_EQ(callback->MessageSFVCB(message, wparam, lparam), expected);
    }

    PIDLIST_ABSOLUTE monitored = nullptr;
    LONG events = 0;
    EXPECT_EQ(callback->MessageSFVCB(SFVM_GETNOTIFY, reinterpret_cast<WPARAM>(&monitored),
                                     reinterpret_cast<LPARAM>(&events)),
              S_OK);
    ASSERT_NE(monitored, nullptr);
    EXPECT_NE(monitored, folder.get());
    ASSERT_EQ(ILGetSize(monitored), ILGetSize(folder.get()));
    EXPECT_EQ(memcmp(monitored, folder.get(), ILGetSize(monitored)), 0);
    PIDLIST_ABSOLUTE again = nullptr;
    callback->MessageSFVCB(SFVM_GETNOTIFY, reinterpret_cast<WPARAM>(&again), reinterpret_cast<LPARAM>(&events));
    EXPECT_EQ(again, monitored) << "one list, owned by the callback";
    EXPECT_EQ(events, SHCNE_UPDATEITEM);

    EXPECT_EQ(callback->MessageSFVCB(SFVM_WINDOWCREATED, 0, 0), S_OK);
    EXPECT_EQ(shell_folder_view_cb::live_registrations(), 0) << "no window, no registration";
}

// The live rows on a real (headless) window, with a finished search listing one scratch file.
class view_live_rows : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = CreateWindowExW(0, L"STATIC", L"view", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                 nullptr);
        ASSERT_NE(window, nullptr);
        test_support::write_file(listed, "listed");
        test_support::write_file(unlisted, "unlisted");
        auto& cache = process_search_cache();
        ASSERT_TRUE(cache.lookup(key).must_search || cache.lookup(key).ready);
        cache.store(key, {{.path = listed.wstring(), .keywords = {L"Sea", L"Beach"}, .people = {L"Bo"}}});
    }
    void TearDown() override
    {
        if (IsWindow(window))
            DestroyWindow(window);
    }

    // Announces an update of `path` the way a program saving a file does, and lets the window see it.
    void announce(const std::wstring& path, std::size_t expected_updates)
    {
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSH, path.c_str(), nullptr);
        pump_until([&] { return view.updates.size() >= expected_updates; }, std::chrono::milliseconds(1500));
    }

    test_support::scratch_folder scratch{L"view-live-rows"};
    std::filesystem::path listed = scratch.path() / L"Listed.txt";
    std::filesystem::path unlisted = scratch.path() / L"unlisted.txt";
    const std::wstring key = L"view live rows test query";
    HWND window = nullptr;
    recording_folder_view view;
};

TEST_F(view_live_rows, a_listed_file_saved_anywhere_updates_its_row_until_the_window_closes)
{
    const auto folder = our_folder_list();
    auto callback = make_callback(FVM_DETAILS, -1, folder.get());
    callback->set_folder_view(&view);
    const long before = shell_folder_view_cb::live_registrations();
    ASSERT_EQ(callback->MessageSFVCB(SFVM_WINDOWCREATED, reinterpret_cast<WPARAM>(window), 0), S_OK);
    ASSERT_EQ(shell_folder_view_cb::live_registrations(), before + 1);
    ASSERT_EQ(callback->MessageSFVCB(SFVM_WINDOWCREATED, reinterpret_cast<WPARAM>(window), 0), S_OK);
    EXPECT_EQ(shell_folder_view_cb::live_registrations(), before + 1) << "one registration per view";

    announce(unlisted.wstring(), 1);
    EXPECT_TRUE(view.updates.empty()) << "no cached search lists that file";

    // The extension's own item, as the callback itself announces it: ignored.
    const auto own_item = create_result_item(listed.wstring(), {}, {});
    unique_absolute_id_list own(ILCombine(folder.get(), own_item.get()));
    SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_IDLIST | SHCNF_FLUSH, own.get(), nullptr);
    pump_until([&] { return !view.updates.empty(); }, std::chrono::milliseconds(500));
    EXPECT_TRUE(view.updates.empty());

    PIDLIST_ABSOLUTE parsed = nullptr;
    ASSERT_EQ(path_cache_lookup(listed.wstring(), &parsed), S_OK);
    CoTaskMemFree(parsed);
    const auto cached_paths = path_cache_size();
    update_listener listener;
    test_support::write_file(listed, "saved again, longer");
    announce(listed.wstring(), 1);
    pump_until([&] { return !listener.announced.empty(); }, std::chrono::milliseconds(1500));
    EXPECT_EQ(listener.announced, std::vector<std::wstring>{listed.wstring()}) << "the update announced for the row";
    ASSERT_EQ(view.updates.size(), 1u);
    EXPECT_EQ(path_cache_size(), cached_paths - 1) << "the saved file is parsed afresh next time";
    const auto& [old_item, new_item] = view.updates[0];
    EXPECT_EQ(old_item, new_item);
    ASSERT_EQ(new_item.size(), 12066u);
    const auto* data = own_item_data(reinterpret_cast<PCUITEMID_CHILD>(new_item.data()));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->kind, static_cast<std::uint8_t>(item_kind::search_result));
    EXPECT_EQ(item_path(data), listed.wstring());
    EXPECT_EQ(std::wstring(data->keywords), L"Beach;Sea");
    EXPECT_EQ(data->stamp, file_stamp(listed.c_str())) << "the fresh stamp of the saved file";

    DestroyWindow(window);
    EXPECT_EQ(shell_folder_view_cb::live_registrations(), before) << "the window took its registration along";
    announce(listed.wstring(), 2);
    EXPECT_EQ(view.updates.size(), 1u);
}

TEST_F(view_live_rows, a_callback_released_before_its_window_closes_lives_on_with_the_window)
{
    const long before = shell_folder_view_cb::live_registrations();
    {
        auto callback = make_callback(FVM_DETAILS, -1);
        callback->set_folder_view(&view);
        callback->MessageSFVCB(SFVM_WINDOWCREATED, reinterpret_cast<WPARAM>(window), 0);
    }
    EXPECT_EQ(shell_folder_view_cb::live_registrations(), before + 1) << "the subclassed window keeps it";
    test_support::write_file(listed, "saved");
    announce(listed.wstring(), 1);
    EXPECT_EQ(view.updates.size(), 1u);
    DestroyWindow(window);
    EXPECT_EQ(shell_folder_view_cb::live_registrations(), before);
}
} // namespace
