#pragma once
// The DLL loaded the way Explorer loads it, and the state its class-object gate reads: the suite
// settings file in the per-user folder and the installer-maintenance marker in HKLM. The test prefix is
// disposable, so the helpers only clear what a case wrote.

#include "base/log.h"
#include "support/child_process.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <system_error>

namespace module_test
{
inline constexpr CLSID sortwell_clsid = {0x249ae234, 0x08df, 0x4686, {0xaa, 0xf3, 0x5d, 0x80, 0xa1, 0x54, 0x93, 0xbe}};
inline constexpr CLSID quick_pins_clsid = {0xea1cd75e, 0xc7fd, 0x4ff7, {0xb0, 0xa1, 0x22, 0xfe, 0x9b, 0x59, 0x4a, 0x6e}};

inline std::string hex(HRESULT hr)
{
    return fmt::format("0x{:08X}", hresult_bits(hr));
}

// The built DLL: the one named by VELMORA_TEST_DLL when set (children started from a copy of the test
// executable elsewhere), else the one beside the test executable.
inline std::filesystem::path dll_path()
{
    const std::wstring named = test_support::environment_value(L"VELMORA_TEST_DLL");
    return named.empty() ? test_support::executable_folder() / L"Sortwell.NamespaceShellExtension.dll"
                         : std::filesystem::path(named);
}

// LoadLibrary on construction, FreeLibrary on destruction, as the host's COM runtime does.
struct loaded_dll
{
    loaded_dll()
    {
        if (!module)
            return;
        get_class_object = reinterpret_cast<decltype(get_class_object)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        can_unload_now = reinterpret_cast<decltype(can_unload_now)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    }
    ~loaded_dll()
    {
        if (module)
            FreeLibrary(module);
    }
    loaded_dll(const loaded_dll&) = delete;
    loaded_dll& operator=(const loaded_dll&) = delete;
    explicit operator bool() const noexcept { return get_class_object && can_unload_now; }

    HMODULE module = LoadLibraryW(dll_path().c_str());
    HRESULT(__stdcall* get_class_object)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(__stdcall* can_unload_now)() = nullptr;
};

// Asks for IClassFactory; checks that *ppv is set exactly on success, and releases it.
inline HRESULT ask(const loaded_dll& dll, REFCLSID clsid)
{
    void* factory = reinterpret_cast<void*>(1);
    const HRESULT hr = dll.get_class_object(clsid, IID_IClassFactory, &factory);
    if (SUCCEEDED(hr) && factory)
        static_cast<IClassFactory*>(factory)->Release();
    EXPECT_EQ(factory != nullptr, SUCCEEDED(hr)) << "*ppv on " << hex(hr);
    return hr;
}

inline std::filesystem::path suite_settings_path()
{
    return test_support::settings_folder() / L"High Level Settings.json";
}

// Writes the suite settings with a last-write time later than any before, so the DLL sees the change.
inline void write_suite_settings(const std::string& bytes)
{
    static std::atomic<int> generation{0};
    test_support::write_file(suite_settings_path(), bytes);
    test_support::touch_file(suite_settings_path(), ++generation);
}

// The suite settings with the "sortwell" record's status and two switches as given.
inline std::string suite_settings_json(bool show_in_explorer_panel, bool show_quick_pins, const char* status = "enabled")
{
    return fmt::format(R"({{"apps": [{{"app_id": "sortwell", "status": "{}", "settings": {{"general":
        {{"showInExplorerPanel": {}, "showQuickPinsInExplorerPanel": {}}}}}}}]}})",
                       status, show_in_explorer_panel, show_quick_pins);
}

// HKLM\SOFTWARE\Quenbrook\Velmora\InstallerMaintenance in the 64-bit view, removed on construction and
// on destruction.
struct maintenance_marker
{
    static constexpr wchar_t key[] = L"SOFTWARE\\Quenbrook\\Velmora\\InstallerMaintenance";
    maintenance_marker() { clear(); }
    ~maintenance_marker() { clear(); }
    static void clear() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY, 0); }
    static void set(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, type, data, size) != ERROR_SUCCESS)
            throw std::runtime_error("cannot write an installer-maintenance value");
    }
};

// The creation time of a process as FILETIME ticks.
inline std::uint64_t process_creation_time(HANDLE process)
{
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user))
        throw std::runtime_error("GetProcessTimes failed");
    return (static_cast<std::uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}

// Each case starts with both roots switched on and no maintenance marker, and ends with nothing alive.
class dll_fixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        write_suite_settings(suite_settings_json(true, true));
        ASSERT_TRUE(dll_) << "cannot load " << dll_path().string() << ": error " << GetLastError();
        ASSERT_EQ(dll_.can_unload_now(), S_OK);
    }
    void TearDown() override
    {
        EXPECT_EQ(dll_.can_unload_now(), S_OK) << "an object or lock is still alive";
        std::error_code ec;
        std::filesystem::remove(suite_settings_path(), ec);
    }

    maintenance_marker marker_;
    loaded_dll dll_;
};
} // namespace module_test
