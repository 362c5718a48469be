#include "dll_test_support.h"

#include "diagnostics/log.h"
#include "support/child_process.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace module_test
{
namespace
{
constexpr wchar_t marker_key[] = L"SOFTWARE\\Quenbrook\\Velmora\\InstallerMaintenance";
} // namespace

std::string hex(HRESULT hr)
{
    return fmt::format("0x{:08X}", hresult_bits(hr));
}

std::filesystem::path dll_path()
{
    const std::wstring named = test_support::environment_value(L"VELMORA_TEST_DLL");
    return named.empty() ? test_support::executable_folder() / L"Sortwell.NamespaceShellExtension.dll"
                         : std::filesystem::path(named);
}

loaded_dll::loaded_dll() : module(LoadLibraryW(dll_path().c_str()))
{
    if (!module)
        return;
    get_class_object = reinterpret_cast<decltype(get_class_object)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    can_unload_now =
        reinterpret_cast<decltype(can_unload_now)>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
}

loaded_dll::~loaded_dll()
{
    if (module)
        FreeLibrary(module);
}

HRESULT ask(const loaded_dll& dll, REFCLSID clsid)
{
    void* factory = reinterpret_cast<void*>(1);
    const HRESULT hr = dll.get_class_object(clsid, IID_IClassFactory, &factory);
    if (SUCCEEDED(hr) && factory)
        static_cast<IClassFactory*>(factory)->Release();
    EXPECT_EQ(factory != nullptr, SUCCEEDED(hr)) << "*ppv on " << hex(hr);
    return hr;
}

std::filesystem::path suite_settings_path()
{
    return test_support::settings_folder() / L"High Level Settings.json";
}

void write_suite_settings(const std::string& bytes)
{
    static std::atomic<int> generation{0};
    test_support::write_file(suite_settings_path(), bytes);
    test_support::touch_file(suite_settings_path(), ++generation);
}

std::string suite_settings_json(bool show_in_explorer_panel, bool show_quick_pins, const char* status)
{
    return fmt::format(R"({{"apps": [{{"app_id": "sortwell", "status": "{}", "settings": {{"general":
        {{"showInExplorerPanel": {}, "showQuickPinsInExplorerPanel": {}}}}}}}]}})",
                       status, show_in_explorer_panel, show_quick_pins);
}

void maintenance_marker::clear()
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, marker_key, KEY_WOW64_64KEY, 0);
}

void maintenance_marker::set(const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, marker_key, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the installer-maintenance key");
    const LSTATUS status = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        throw std::runtime_error("cannot write an installer-maintenance value");
}

std::uint64_t process_creation_time(HANDLE process)
{
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user))
        throw std::runtime_error("GetProcessTimes failed");
    return (static_cast<std::uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}
} // namespace module_test
