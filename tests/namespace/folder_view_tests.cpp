// The view that CreateViewObject makes, hosted in a headless window under a minimal shell browser of
// the test's own: a saved search whose results the search cache holds lists exactly those files after
// background enumeration, saving a listed file updates its row through the registered message (seen as
// the update the callback announces for its own item), saving another file does nothing, and closing
// the view ends the registration. Also the view mode each kind of folder opens in.

#include "folder_test_support.h"

#include "namespace/folder_columns.h"
#include "namespace/shell_folder_view_cb.h"
#include "search/search_cache.h"


namespace
{
using namespace folder_test;

// Just enough of a browser for the default view to make its window.
class minimal_browser final : public IShellBrowser
{
public:
    explicit minimal_browser(HWND window) : window_(window) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleWindow || riid == IID_IShellBrowser)
        {
            *ppv = static_cast<IShellBrowser*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }
    STDMETHODIMP GetWindow(HWND* window) override
    {
        *window = window_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusTextSB(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnableModelessSB(WINBOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return E_NOTIMPL; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewStateStream(DWORD, IStream**) override { return E_NOTIMPL; }
    STDMETHODIMP GetControlWindow(UINT, HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT* result) override
    {
        if (result)
            *result = 0;
        return S_OK;
    }
    STDMETHODIMP QueryActiveShellView(IShellView**) override { return E_NOTIMPL; }
    STDMETHODIMP OnViewWindowActive(IShellView*) override { return S_OK; }
    STDMETHODIMP SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }

private:
    HWND window_;
    ULONG references_ = 1;
};

// A window that counts the updates announced for items of the extension (our own identifiers).
class update_listener
{
public:
    update_listener()
    {
        window_ = CreateWindowExW(0, L"STATIC", L"listener", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
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
        const HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wparam), static_cast<DWORD>(lparam), &lists, &event);
        if (!lock)
            return 0;
        if (lists && lists[0])
        {
            const auto* last = own_item_data(ILFindLastID(lists[0]));
            if (last && last->kind == static_cast<std::uint8_t>(item_kind::search_result))
                reinterpret_cast<update_listener*>(data)->announced.push_back(item_path(last));
        }
        SHChangeNotification_Unlock(lock);
        return 0;
    }
    HWND window_ = nullptr;
    ULONG registration_ = 0;
};

class folder_view : public folder_fixture
{
protected:
    void SetUp() override
    {
        folder_fixture::SetUp();
        query = L"System.Keywords = 'view test " + std::to_wstring(GetTickCount64()) + L"'";
        write_namespace(fmt::format(R"({{"folders": [{{"name": "Photos", "queries": [{{"name": "Beach", "query": "{}"}}]}},
            {{"name": "People", "queries": []}}, {{"name": "Big", "default_view": "EXTRA_large_icons", "queries": []}},
            {{"name": "Small", "default_view": "details", "queries": []}}]}})",
                                    to_utf8(query)));
        host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(host, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(host);
        folder_fixture::TearDown();
    }

    test_support::scratch_folder scratch{L"folder-view"};
    std::wstring query;
    HWND host = nullptr;
};

TEST_F(folder_view, a_saved_search_lists_its_results_and_keeps_listed_rows_fresh_until_closed)
{
    std::vector<std::wstring> files;
    std::vector<search_result_record> rows;
    for (const auto* name : {L"Dune.txt", L"Cliff.txt", L"Pier.txt"})
    {
        files.push_back((scratch.path() / name).wstring());
        test_support::write_file(files.back(), "sand");
        rows.push_back({.path = files.back()});
    }
    const auto unlisted = (scratch.path() / L"unlisted.txt").wstring();
    test_support::write_file(unlisted, "x");
    const auto key = search_cache_key(query);
    ASSERT_TRUE(process_search_cache().lookup(key).must_search);
    process_search_cache().store(key, rows);

    const auto root = make_root(false);
    const auto search = bind(bind(root.get(), L"Photos").get(), L"Beach");
    ASSERT_TRUE(search);
    const long registrations = shell_folder_view_cb::live_registrations();
    com_ptr<shell_folder_view_cb> callback;
    {
        com_ptr<IShellView> view;
        ASSERT_EQ(hex(search->CreateViewObject(host, IID_IShellView, view.put_void())), hex(S_OK));
        minimal_browser browser(host);
        FOLDERSETTINGS settings{FVM_DETAILS, 0};
        RECT area{0, 0, 800, 600};
        HWND view_window = nullptr;
        ASSERT_EQ(hex(view->CreateViewWindow(nullptr, &settings, &browser, &area, &view_window)), hex(S_OK));
        ASSERT_NE(view_window, nullptr);

        const auto folder_view = com_ptr<IShellView>(view).try_query<IFolderView>();
        ASSERT_TRUE(folder_view);
        int count = 0;
        pump_until([&] { return SUCCEEDED(folder_view->ItemCount(SVGIO_ALLVIEW, &count)) && count == 3; },
                   std::chrono::seconds(5));
        ASSERT_EQ(count, 3);
        std::vector<std::wstring> names;
        for (int i = 0; i < count; ++i)
        {
            PITEMID_CHILD item = nullptr;
            ASSERT_EQ(folder_view->Item(i, &item), S_OK);
            unique_child_id owned(item);
            names.push_back(display_name(search.get(), item, SHGDN_NORMAL));
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::wstring>{L"Cliff.txt", L"Dune.txt", L"Pier.txt"}));

        // Wine's default view never calls its callback (Windows' sends SFVM_WINDOWCREATED and the rest):
        // give a callback of the same folder the view and its window as Windows' view would.
        if (shell_folder_view_cb::live_registrations() == registrations)
        {
            PIDLIST_ABSOLUTE list = nullptr;
            ASSERT_EQ(com_ptr<IShellFolder>(search).try_query<IPersistFolder2>()->GetCurFolder(&list), S_OK);
            unique_absolute_id_list folder_list(list);
            ASSERT_EQ(shell_folder_view_cb::create_callback(folder_list.get(), FVM_DETAILS, -1, callback.put()), S_OK);
            callback->set_folder_view(com_ptr<IShellView>(view).try_query<IShellFolderView>().get());
            EXPECT_EQ(callback->MessageSFVCB(SFVM_WINDOWCREATED, reinterpret_cast<WPARAM>(view_window), 0), S_OK);
        }
        EXPECT_EQ(shell_folder_view_cb::live_registrations(), registrations + 1) << "registered at window creation";

        update_listener listener;
        test_support::write_file(unlisted, "saved");
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSH, unlisted.c_str(), nullptr);
        test_support::write_file(files[1], "saved again");
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSH, files[1].c_str(), nullptr);
        pump_until([&] { return !listener.announced.empty(); }, std::chrono::seconds(3));
        pump_until([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_EQ(listener.announced, std::vector<std::wstring>{files[1]}) << "only the listed file's row";

        EXPECT_EQ(view->DestroyViewWindow(), S_OK);
        EXPECT_EQ(shell_folder_view_cb::live_registrations(), registrations) << "closing ends the registration";
    }
    pump_until([] { return false; }, std::chrono::milliseconds(100));
}

TEST_F(folder_view, opens_in_large_icons_where_configured_and_for_people_else_in_details)
{
    const std::tuple<const char*, bool, std::vector<std::wstring>, FOLDERVIEWMODE, int> rows[] = {
        {"an organised folder without a default view", false, {L"Photos"}, FVM_DETAILS, -1},
        {"a saved search inside it", false, {L"Photos", L"Beach"}, FVM_DETAILS, -1},
        {"the People folder", false, {L"People"}, FVM_ICON, 256},
        {"the People folder in other letters", false, {L"pEOPLE", L"Bo"}, FVM_ICON, 256},
        {"\"extra_large_icons\" in any case", false, {L"big"}, FVM_ICON, 256},
        {"another default view", false, {L"Small"}, FVM_DETAILS, -1},
        {"the root", false, {}, FVM_DETAILS, -1},
        {"a folder the configuration no longer has", false, {L"Gone"}, FVM_DETAILS, -1},
        {"the Quick pins tree, even a group called People", true, {L"People"}, FVM_DETAILS, -1},
    };
    for (const auto& [name, quick_pins, names, mode, icon_size] : rows)
    {
        SCOPED_TRACE(name);
        const auto choice = choose_view_mode(quick_pins, names);
        EXPECT_EQ(choice.mode, mode);
        EXPECT_EQ(choice.icon_size, icon_size);
    }
}
} // namespace
