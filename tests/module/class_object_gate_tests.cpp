// DllGetClassObject's gate, through the DLL's real export: installer maintenance, the two root
// switches of the suite settings, seeding a missing settings file, and the CRITICAL line of a failed
// lookup.

#include "dll_test_support.h"

#include "diagnostics/log.h"
#include "support/child_process.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace module_test;

namespace
{
constexpr HRESULT installer_running = static_cast<HRESULT>(0x80070652);
constexpr char sortwell_disabled[] = "INFO Sortwell is disabled, returning CLASS_E_CLASSNOTAVAILABLE";
constexpr char quick_pins_disabled[] = "INFO Quick pins is disabled, returning CLASS_E_CLASSNOTAVAILABLE";

// {0D3B5F7A-91C4-4E2B-8A77-3C1E5F0B9D21}: registered nowhere, neither root.
constexpr CLSID other_clsid = {0x0d3b5f7a, 0x91c4, 0x4e2b, {0x8a, 0x77, 0x3c, 0x1e, 0x5f, 0x0b, 0x9d, 0x21}};

std::string hex(HRESULT hr)
{
    return fmt::format("0x{:08X}", hresult_bits(hr));
}

// Asks the DLL for IClassFactory; checks that *ppv is set exactly on success and releases it.
HRESULT ask(const loaded_dll& dll, REFCLSID clsid)
{
    void* factory = reinterpret_cast<void*>(1);
    const HRESULT hr = dll.get_class_object(clsid, IID_IClassFactory, &factory);
    if (SUCCEEDED(hr))
    {
        EXPECT_NE(factory, nullptr);
        if (factory)
            static_cast<IClassFactory*>(factory)->Release();
    }
    else
        EXPECT_EQ(factory, nullptr) << "*ppv not cleared on " << hex(hr);
    return hr;
}

class class_object_gate : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings_.write(suite_settings_json(true, true));
        ASSERT_TRUE(dll_) << "cannot load " << dll_path().string() << ": error " << GetLastError();
    }

    void TearDown() override { EXPECT_EQ(dll_.can_unload_now(), S_OK) << "an object or lock is still alive"; }

    suite_settings_guard settings_;
    maintenance_marker marker_;
    loaded_dll dll_;
};

TEST_F(class_object_gate, installer_maintenance_marker)
{
    const std::uint64_t own_creation = process_creation_time(GetCurrentProcess());
    const DWORD own_id = GetCurrentProcessId();

    // A process that has ended while a handle to it is still open here, so its id cannot be reused.
    test_support::child_test_process ended("no_test_at_all");
    ASSERT_EQ(ended.wait(), 0u);
    const std::uint64_t ended_creation = process_creation_time(ended.handle());

    struct row
    {
        const char* name;
        std::function<void(maintenance_marker&)> write_marker;
        HRESULT expected;
    };
    const row rows[] = {
        {"no marker", [](maintenance_marker&) {}, S_OK},
        {"this running process with its creation time",
         [&](maintenance_marker& m) { m.set_process(own_id), m.set_created(own_creation); }, installer_running},
        {"this process with a creation time one tick off (the id was reused)",
         [&](maintenance_marker& m) { m.set_process(own_id), m.set_created(own_creation + 1); }, S_OK},
        {"process id 0", [&](maintenance_marker& m) { m.set_process(0), m.set_created(own_creation); }, S_OK},
        {"no Created value", [&](maintenance_marker& m) { m.set_process(own_id); }, S_OK},
        {"no Process value", [&](maintenance_marker& m) { m.set_created(own_creation); }, S_OK},
        {"Process written as a string",
         [&](maintenance_marker& m) {
             const std::wstring text = std::to_wstring(own_id);
             m.set_value(L"Process", REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
             m.set_created(own_creation);
         },
         S_OK},
        {"Created written as a DWORD",
         [&](maintenance_marker& m) {
             const DWORD low = static_cast<DWORD>(own_creation);
             m.set_process(own_id);
             m.set_value(L"Created", REG_DWORD, &low, sizeof(low));
         },
         S_OK},
        {"a process id that names no process",
         [&](maintenance_marker& m) { m.set_process(0x7FFFFFF0), m.set_created(own_creation); }, S_OK},
        {"an installer that has ended, its handle still open elsewhere",
         [&](maintenance_marker& m) { m.set_process(ended.id()), m.set_created(ended_creation); }, S_OK},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        maintenance_marker marker;
        r.write_marker(marker);
        test_support::log_capture log;
        EXPECT_EQ(hex(ask(dll_, sortwell_clsid)), hex(r.expected));
        EXPECT_EQ(hex(ask(dll_, quick_pins_clsid)), hex(r.expected));
        // Refusal for maintenance is silent; the open roots log nothing either.
        EXPECT_EQ(log.messages(), std::vector<std::string>{});
    }
}

TEST_F(class_object_gate, maintenance_is_checked_before_anything_else)
{
    marker_.set_process(GetCurrentProcessId());
    marker_.set_created(process_creation_time(GetCurrentProcess()));
    settings_.write(suite_settings_json(false, false));
    test_support::log_capture log;

    EXPECT_EQ(hex(ask(dll_, sortwell_clsid)), hex(installer_running));
    EXPECT_EQ(hex(ask(dll_, other_clsid)), hex(installer_running));
    EXPECT_EQ(hex(dll_.get_class_object(quick_pins_clsid, IID_IClassFactory, nullptr)), hex(installer_running));
    EXPECT_EQ(log.messages(), std::vector<std::string>{});
}

TEST_F(class_object_gate, root_switches_in_the_suite_settings)
{
    struct row
    {
        const char* name;
        std::string settings;
        HRESULT sortwell;
        HRESULT quick_pins;
    };
    const auto app = [](const std::string& record) { return R"({"apps": [)" + record + "]}"; };
    const row rows[] = {
        {"both switches on", suite_settings_json(true, true), S_OK, S_OK},
        {"showInExplorerPanel false alone", suite_settings_json(false, true), CLASS_E_CLASSNOTAVAILABLE, S_OK},
        {"showQuickPinsInExplorerPanel false alone", suite_settings_json(true, false), S_OK,
         CLASS_E_CLASSNOTAVAILABLE},
        {"status disabled", suite_settings_json(true, true, "disabled"), CLASS_E_CLASSNOTAVAILABLE,
         CLASS_E_CLASSNOTAVAILABLE},
        {"status Disabled with a capital D", suite_settings_json(true, true, "Disabled"), S_OK, S_OK},
        {"switches holding the string \"false\"",
         app(R"({"app_id": "sortwell", "settings": {"general": {"showInExplorerPanel": "false",
             "showQuickPinsInExplorerPanel": "false"}}})"),
         S_OK, S_OK},
        {"switches holding the number 0",
         app(R"({"app_id": "sortwell", "settings": {"general": {"showInExplorerPanel": 0,
             "showQuickPinsInExplorerPanel": 0}}})"),
         S_OK, S_OK},
        {"switches holding null",
         app(R"({"app_id": "sortwell", "settings": {"general": {"showInExplorerPanel": null,
             "showQuickPinsInExplorerPanel": null}}})"),
         S_OK, S_OK},
        {"a switch outside its section does not count",
         app(R"({"app_id": "sortwell", "settings": {"showInExplorerPanel": false}})"), S_OK, S_OK},
        {"no sortwell record", app(R"({"app_id": "menuwright", "status": "disabled"})"), S_OK, S_OK},
        {"two sortwell records: the first decides",
         app(R"({"app_id": "sortwell", "settings": {"general": {"showInExplorerPanel": false}}},
             {"app_id": "sortwell", "settings": {"general": {"showInExplorerPanel": true}}})"),
         CLASS_E_CLASSNOTAVAILABLE, S_OK},
        {"another application's switches do not count",
         app(R"({"app_id": "menuwright", "settings": {"general": {"showInExplorerPanel": false,
             "showQuickPinsInExplorerPanel": false}}})"),
         S_OK, S_OK},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        settings_.write(r.settings);
        test_support::log_capture log;
        EXPECT_EQ(hex(ask(dll_, sortwell_clsid)), hex(r.sortwell));
        EXPECT_EQ(hex(ask(dll_, quick_pins_clsid)), hex(r.quick_pins));
        std::vector<std::string> expected;
        if (r.sortwell != S_OK)
            expected.push_back(sortwell_disabled);
        if (r.quick_pins != S_OK)
            expected.push_back(quick_pins_disabled);
        EXPECT_EQ(log.messages(), expected);
    }
}

TEST_F(class_object_gate, class_id_that_is_neither_root_takes_the_sortwell_branch)
{
    struct row
    {
        const char* name;
        std::string settings;
        std::vector<std::string> expected_log;
    };
    const row rows[] = {
        {"Sortwell switched off: refused by the switch", suite_settings_json(false, true), {sortwell_disabled}},
        {"only Quick pins switched off: refused by the lookup",
         suite_settings_json(true, false),
         {"CRITICAL DllGetClassObject returning FAILED HRESULT: 0X80040111"}},
        {"both on: refused by the lookup",
         suite_settings_json(true, true),
         {"CRITICAL DllGetClassObject returning FAILED HRESULT: 0X80040111"}},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        settings_.write(r.settings);
        test_support::log_capture log;
        EXPECT_EQ(hex(ask(dll_, other_clsid)), hex(CLASS_E_CLASSNOTAVAILABLE));
        EXPECT_EQ(log.messages(), r.expected_log);
    }
}

TEST_F(class_object_gate, failed_lookups_are_logged_critical)
{
    {
        SCOPED_TRACE("ppv null");
        test_support::log_capture log;
        EXPECT_EQ(hex(dll_.get_class_object(sortwell_clsid, IID_IClassFactory, nullptr)), hex(E_POINTER));
        EXPECT_EQ(log.messages(),
                  std::vector<std::string>{"CRITICAL DllGetClassObject returning FAILED HRESULT: 0X80004003"});
    }
    {
        SCOPED_TRACE("an interface the class factory does not have");
        test_support::log_capture log;
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(hex(dll_.get_class_object(quick_pins_clsid, IID_IDispatch, &object)), hex(E_NOINTERFACE));
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(log.messages(),
                  std::vector<std::string>{"CRITICAL DllGetClassObject returning FAILED HRESULT: 0X80004002"});
    }
    {
        SCOPED_TRACE("ppv null on a disabled root: refused by the switch, no CRITICAL line");
        settings_.write(suite_settings_json(true, false));
        test_support::log_capture log;
        EXPECT_EQ(hex(dll_.get_class_object(quick_pins_clsid, IID_IClassFactory, nullptr)),
                  hex(CLASS_E_CLASSNOTAVAILABLE));
        EXPECT_EQ(log.messages(), std::vector<std::string>{quick_pins_disabled});
    }
}

TEST_F(class_object_gate, switch_flipped_on_disk_takes_effect_at_the_next_call)
{
    EXPECT_EQ(hex(ask(dll_, sortwell_clsid)), hex(S_OK));
    settings_.write(suite_settings_json(false, true));
    EXPECT_EQ(hex(ask(dll_, sortwell_clsid)), hex(CLASS_E_CLASSNOTAVAILABLE));
    // A file that does not parse counts as read and keeps what was read before.
    settings_.write(R"({"apps": [{"app_id": "sortwell", "settings": {"general": {"showInExplorerPanel": true}}},]})");
    EXPECT_EQ(hex(ask(dll_, sortwell_clsid)), hex(CLASS_E_CLASSNOTAVAILABLE));
    settings_.write(suite_settings_json(true, true));
    EXPECT_EQ(hex(ask(dll_, sortwell_clsid)), hex(S_OK));
    EXPECT_EQ(hex(ask(dll_, quick_pins_clsid)), hex(S_OK));
}

TEST_F(class_object_gate, missing_settings_file_is_seeded_from_the_default_beside_the_host)
{
    settings_.remove();
    const auto source = test_support::executable_folder() / L"Content" / L"Configurations" / L"High Level Settings.json";
    test_support::log_capture log;

    EXPECT_EQ(hex(ask(dll_, sortwell_clsid)), hex(S_OK));
    EXPECT_EQ(hex(ask(dll_, quick_pins_clsid)), hex(S_OK));

    EXPECT_EQ(log.messages(), std::vector<std::string>{"INFO Copied default settings from " + to_utf8(source.wstring()) +
                                                       " to " + to_utf8(suite_settings_path().wstring())});
    EXPECT_EQ(test_support::read_file(suite_settings_path()), test_support::read_file(source));
}

// Puts a file where the per-user settings folder belongs; the real folder is moved aside and put back.
class settings_folder_blocked
{
public:
    settings_folder_blocked()
    {
        std::error_code ec;
        moved_ = std::filesystem::exists(folder_, ec);
        if (moved_)
            std::filesystem::rename(folder_, aside_);
        test_support::write_file(folder_, "not a folder");
    }
    ~settings_folder_blocked()
    {
        std::error_code ec;
        std::filesystem::remove(folder_, ec);
        if (moved_)
            std::filesystem::rename(aside_, folder_, ec);
    }

private:
    std::filesystem::path folder_ = test_support::settings_folder();
    std::filesystem::path aside_ = folder_.parent_path() / (L"Settings.aside-" + std::to_wstring(GetCurrentProcessId()));
    bool moved_ = false;
};

TEST_F(class_object_gate, a_file_in_place_of_the_settings_folder_refuses_until_it_is_gone)
{
    {
        settings_folder_blocked blocked;
        test_support::log_capture log;
        EXPECT_EQ(hex(ask(dll_, sortwell_clsid)), hex(CLASS_E_CLASSNOTAVAILABLE));
        const auto messages = log.messages();
        ASSERT_EQ(messages.size(), 3u) << ::testing::PrintToString(messages);
        EXPECT_EQ(messages[0].rfind("CRITICAL Unable to copy settings file. Details ", 0), 0u) << messages[0];
        EXPECT_EQ(messages[1], "ERROR Failed to load from high level settings file " + to_utf8(suite_settings_path().wstring()));
        EXPECT_EQ(messages[2], sortwell_disabled);
    }
    // The same settings object reads the file once the folder is back.
    EXPECT_EQ(hex(ask(dll_, quick_pins_clsid)), hex(S_OK));
}

// Runs in a child process whose executable lies in a folder without "Content": the defaults folder is
// taken from the host executable, not from the DLL (which has one beside it).
TEST(class_object_gate_child, DISABLED_missing_settings_without_default)
{
    if (test_support::environment_value(L"VELMORA_TEST_DLL").empty())
        GTEST_SKIP() << "run by missing_settings_file_without_a_default_refuses_both_roots";
    loaded_dll dll;
    ASSERT_TRUE(dll);
    EXPECT_EQ(hex(ask(dll, sortwell_clsid)), hex(CLASS_E_CLASSNOTAVAILABLE));
    EXPECT_EQ(hex(ask(dll, quick_pins_clsid)), hex(CLASS_E_CLASSNOTAVAILABLE));
    EXPECT_EQ(dll.can_unload_now(), S_OK);
}

TEST_F(class_object_gate, missing_settings_file_without_a_default_refuses_both_roots)
{
    settings_.remove();
    test_support::scratch_folder folder(L"no-content");
    const auto copy = folder.path() / L"host.exe";
    std::filesystem::copy_file(test_support::executable_path(), copy);
    test_support::log_capture log;

    test_support::child_test_process child("class_object_gate_child.DISABLED_missing_settings_without_default",
                                           {{L"VELMORA_TEST_DLL", dll_path().wstring()}}, copy);
    ASSERT_EQ(child.wait(), 0u) << "the child's checks failed";

    EXPECT_FALSE(std::filesystem::exists(suite_settings_path()));
    const auto child_lines = log.messages_from(child.id());
    const std::string failed_load = "ERROR Failed to load from high level settings file " +
                                    to_utf8(suite_settings_path().wstring());
    const std::string copy_failed = "CRITICAL Unable to copy settings file. Details ";
    ASSERT_EQ(child_lines.size(), 6u) << ::testing::PrintToString(child_lines);
    for (int call = 0; call < 2; ++call)
    {
        SCOPED_TRACE(call == 0 ? "Sortwell" : "Quick pins");
        EXPECT_EQ(child_lines[call * 3].rfind(copy_failed, 0), 0u) << child_lines[call * 3];
        EXPECT_EQ(child_lines[call * 3 + 1], failed_load);
        EXPECT_EQ(child_lines[call * 3 + 2], call == 0 ? sortwell_disabled : quick_pins_disabled);
    }
}
} // namespace
