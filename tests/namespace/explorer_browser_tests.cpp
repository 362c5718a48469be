// The namespace in the shell's own browser control: Wine's ExplorerBrowser (navigation tree and default
// view, as Explorer's window hosts it) in a headless window browses to places of both roots by their
// parsing names, and the view must show what the configuration, the search stand-in's index and the
// pins say. The DLL is reached only through its registration, as Explorer reaches it.

#include "base/log.h"
#include "menuwright_snapshot_writer/menuwright_snapshot_writer.h"
#include "base/raii.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace
{
using names = std::vector<std::wstring>;
namespace fs = std::filesystem;

const std::wstring sortwell_root = L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}";
const std::wstring pins_root = L"::{EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}";

names sorted(names list)
{
    std::sort(list.begin(), list.end());
    return list;
}

void pump_messages(std::chrono::milliseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    do
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < end);
}

// Beside the settings folder: %LOCALAPPDATA%\Quenbrook\Velmora\Menuwright.
fs::path menuwright_folder()
{
    return test_support::settings_folder().parent_path() / L"Menuwright";
}

void write_bytes(const fs::path& file, const std::vector<std::byte>& bytes)
{
    test_support::write_file(file, std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void write_shortcut(const fs::path& link, const fs::path& target)
{
    com_ptr<IShellLinkW> shell_link;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shell_link.put_void()),
              S_OK);
    ASSERT_EQ(shell_link->SetPath(target.c_str()), S_OK);
    com_ptr<IPersistFile> file;
    ASSERT_EQ(shell_link->QueryInterface(IID_IPersistFile, file.put_void()), S_OK);
    fs::create_directories(link.parent_path());
    ASSERT_EQ(file->Save(link.c_str(), TRUE), S_OK);
}

// A headless top-level window hosting the shell's browser control with its navigation tree.
class hosted_browser
{
public:
    hosted_browser()
    {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = DefWindowProcW;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"velmora_browser_host";
        RegisterClassW(&window_class);
        window_ = CreateWindowExW(0, L"velmora_browser_host", L"Sortwell", WS_OVERLAPPEDWINDOW, 0, 0, 1000, 700,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!window_)
            return;
        if (FAILED(CoCreateInstance(CLSID_ExplorerBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IExplorerBrowser,
                                    browser_.put_void())))
            return;
        RECT area{0, 0, 1000, 700};
        FOLDERSETTINGS settings{FVM_DETAILS, 0};
        if (FAILED(browser_->Initialize(window_, &area, &settings)))
            browser_.reset();
        else
            browser_->SetOptions(EBO_SHOWFRAMES);
    }
    ~hosted_browser() { close(); }

    explicit operator bool() const { return window_ && browser_; }

    // Browses to a parsing name and returns the names the view shows once it holds `expected` items or,
    // at the latest, after ten seconds (the view may enumerate in the background).
    HRESULT browse(const std::wstring& parsing_name, std::size_t expected, names& shown)
    {
        shown.clear();
        PIDLIST_ABSOLUTE target = nullptr;
        HRESULT hr = SHParseDisplayName(parsing_name.c_str(), nullptr, &target, 0, nullptr);
        if (FAILED(hr))
            return hr;
        hr = browser_->BrowseToIDList(target, SBSP_ABSOLUTE);
        CoTaskMemFree(target);
        if (FAILED(hr))
            return hr;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        do
        {
            pump_messages(std::chrono::milliseconds(50));
            shown = view_names();
        } while (shown.size() < expected && std::chrono::steady_clock::now() < deadline);
        return S_OK;
    }

    void close()
    {
        if (browser_)
        {
            browser_->Destroy();
            browser_.reset();
        }
        if (window_)
            DestroyWindow(std::exchange(window_, nullptr));
        pump_messages(std::chrono::milliseconds(100));
    }

private:
    names view_names()
    {
        names result;
        com_ptr<IFolderView> view;
        if (FAILED(browser_->GetCurrentView(IID_IFolderView, view.put_void())))
            return result;
        int count = 0;
        if (FAILED(view->ItemCount(SVGIO_ALLVIEW, &count)))
            return result;
        com_ptr<IShellFolder> folder;
        if (FAILED(view->GetFolder(IID_IShellFolder, folder.put_void())))
            return result;
        for (int index = 0; index < count; ++index)
        {
            PITEMID_CHILD child = nullptr;
            if (FAILED(view->Item(index, &child)))
                continue;
            STRRET name{};
            wchar_t* text = nullptr;
            if (SUCCEEDED(folder->GetDisplayNameOf(child, SHGDN_INFOLDER, &name)) &&
                SUCCEEDED(StrRetToStrW(&name, child, &text)))
                result.push_back(text);
            CoTaskMemFree(text);
            CoTaskMemFree(child);
        }
        return result;
    }

    HWND window_ = nullptr;
    com_ptr<IExplorerBrowser> browser_;
};

class explorer_browser_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The default configuration, people for the People folder, and nothing left by other tests.
        const fs::path defaults = test_support::executable_folder() / L"Content" / L"Configurations";
        const fs::path settings = test_support::settings_folder();
        fs::create_directories(settings);
        for (const wchar_t* file : {L"Namespace.json", L"All Tags.json", L"High Level Settings.json"})
            fs::copy_file(defaults / file, settings / file, fs::copy_options::overwrite_existing);
        test_support::write_file(settings / L"All People.json",
                                 R"({"version": "1.0", "people": [{"name": "Ann Lee"}, {"name": "Ben Okafor"}]})");

        // Real files and what the index records for them.
        const fs::path files = library_.path();
        for (const wchar_t* name : {L"beach.jpg", L"budget.csv", L"garden.png", L"notes.txt", L"plan.txt"})
            test_support::write_file(files / name, "content of " + to_utf8(name));
        index_file_ = files / L"index.json";
        const std::string folder = to_utf8(files.wstring());
        std::string items;
        for (const auto& [name, extra] : std::vector<std::pair<std::string, std::string>>{
                 {"beach.jpg", R"("rating": 75, "keywords": ["Travel", "Family"], "people": ["Ann Lee"])"},
                 {"budget.csv", R"("rating": 99, "keywords": ["Work"])"},
                 {"garden.png", R"("rating": 75, "keywords": ["Family"])"},
                 {"notes.txt", R"("keywords": ["Travel"])"},
                 {"plan.txt", R"("rating": 75)"}})
        {
            items += (items.empty() ? "" : ",") + std::string("{\"path\": ") + json_string(folder + "\\" + name) +
                     ", " + extra + "}";
        }
        // The index also names a file that is gone: the view must not show it.
        test_support::write_file(index_file_, "{\"items\": [" + items + ", {\"path\": " +
                                                  json_string(folder + "\\gone.jpg") + ", \"rating\": 75}]}");
        SetEnvironmentVariableW(L"VELMORA_SEARCH_INDEX", index_file_.c_str());

        // Menuwright's model with two groups in their default folders, and their pins.
        const fs::path published = menuwright_folder() / L"published";
        fs::remove_all(menuwright_folder() / L"Quick pins");
        menuwright_writer::snapshot_builder model;
        model.add_quick_pins_group(u"Work", u"");
        model.add_quick_pins_group(u"Photos", u"");
        write_bytes(published / menuwright_writer::snapshot_file_name(7), model.build());
        write_bytes(published / std::string(menuwright_writer::control_file_name), menuwright_writer::control_file(7));
        const fs::path work = menuwright_folder() / L"Quick pins" / L"Work";
        write_shortcut(work / L"2. plan.txt.lnk", files / L"plan.txt");
        write_shortcut(work / L"10. budget.csv.lnk", files / L"budget.csv");
        write_shortcut(work / L"notes.txt.lnk", files / L"notes.txt");
        write_shortcut(menuwright_folder() / L"Quick pins" / L"Photos" / L"beach.jpg.lnk", files / L"beach.jpg");
    }

    void TearDown() override
    {
        SetEnvironmentVariableW(L"VELMORA_SEARCH_INDEX", nullptr);
        std::error_code ignored;
        fs::remove_all(menuwright_folder() / L"published", ignored);
        fs::remove_all(menuwright_folder() / L"Quick pins", ignored);
    }

    static std::string json_string(const std::string& text)
    {
        std::string result = "\"";
        for (char c : text)
            result += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
        return result + "\"";
    }

    test_support::scratch_folder library_{L"explorer browser library"};
    fs::path index_file_;
};

HRESULT dll_can_unload_now()
{
    HMODULE module = GetModuleHandleW(L"Sortwell.NamespaceShellExtension.dll");
    if (!module)
        return S_OK;  // already unloaded: nothing was alive
    auto can_unload = reinterpret_cast<HRESULT(__stdcall*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return can_unload ? can_unload() : E_FAIL;
}

TEST_F(explorer_browser_test, view_shows_folders_searches_results_and_pins_then_everything_is_released)
{
    struct place
    {
        std::wstring parsing_name;
        names expected;
        bool in_order = false; // else sorted
    };
    const std::vector<place> places = {
        // The default configuration's organised folders (default_configurations_tests).
        {sortwell_root, sorted({L"Ratings", L"Tags", L"People", L"Recent files"})},
        {sortwell_root + L"\\Ratings", sorted({L"★★★★★", L"★★★★", L"★★★", L"★★", L"★"})},
        // Results of the stand-in's index, the vanished file left out.
        {sortwell_root + L"\\Ratings\\★★★★", {L"beach.jpg", L"garden.png", L"plan.txt"}},
        {sortwell_root + L"\\Tags\\Travel", {L"beach.jpg", L"notes.txt"}},
        {sortwell_root + L"\\People\\Ann Lee", {L"beach.jpg"}},
        // Two groups: the root lists them; a group lists its pins without order prefix and extension, in
        // the order of the prefixes (2 before 10, unnumbered last), not the alphabetical one.
        {pins_root, {L"Photos", L"Work"}},
        {pins_root + L"\\Work", {L"plan.txt", L"budget.csv", L"notes.txt"}, true},
    };

    {
        hosted_browser browser;
        ASSERT_TRUE(browser) << "no ExplorerBrowser";
        for (const auto& [parsing_name, expected, in_order] : places)
        {
            SCOPED_TRACE(to_utf8(parsing_name));
            names shown;
            ASSERT_EQ(browser.browse(parsing_name, expected.size(), shown), S_OK);
            EXPECT_EQ(in_order ? shown : sorted(shown), expected);
        }
        browser.close();
    }

    // Search threads finish on their own; give them a moment, then nothing of the DLL may be alive.
    HRESULT unload = S_FALSE;
    for (int attempt = 0; attempt < 50 && unload != S_OK; ++attempt)
    {
        pump_messages(std::chrono::milliseconds(100));
        unload = dll_can_unload_now();
    }
    EXPECT_EQ(unload, S_OK);
}

} // namespace
