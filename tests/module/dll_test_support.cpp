#include "dll_test_support.h"

#include "support/child_process.h"
#include "support/test_files.h"

#include <fmt/format.h>

#include <atomic>
#include <stdexcept>
#include <system_error>

namespace module_test
{
namespace
{
constexpr wchar_t marker_key[] = L"SOFTWARE\\Quenbrook\\Velmora\\InstallerMaintenance";

// Increases with every write, so each rewrite gets a last-write time later than all before it.
std::atomic<int> write_generation{0};
} // namespace

std::filesystem::path dll_path()
{
    const std::wstring named = test_support::environment_value(L"VELMORA_TEST_DLL");
    if (!named.empty())
        return named;
    return test_support::executable_folder() / L"Sortwell.NamespaceShellExtension.dll";
}

loaded_dll::loaded_dll(const std::filesystem::path& path)
{
    module_ = LoadLibraryW(path.c_str());
    if (!module_)
        return;
    get_class_object_ = reinterpret_cast<get_class_object_function>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    can_unload_now_ = reinterpret_cast<can_unload_now_function>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
}

loaded_dll::~loaded_dll()
{
    if (module_)
        FreeLibrary(module_);
}

HRESULT loaded_dll::get_class_object(REFCLSID clsid, REFIID riid, void** ppv) const
{
    return get_class_object_(clsid, riid, ppv);
}

HRESULT loaded_dll::can_unload_now() const
{
    return can_unload_now_();
}

std::filesystem::path suite_settings_path()
{
    return test_support::settings_folder() / L"High Level Settings.json";
}

suite_settings_guard::suite_settings_guard()
{
    std::error_code ec;
    if (std::filesystem::exists(suite_settings_path(), ec))
        original_ = test_support::read_file(suite_settings_path());
}

suite_settings_guard::~suite_settings_guard()
{
    if (original_)
        write(*original_);
    else
        remove();
}

void suite_settings_guard::write(const std::string& bytes)
{
    test_support::write_file(suite_settings_path(), bytes);
    test_support::touch_file(suite_settings_path(), ++write_generation);
}

void suite_settings_guard::remove()
{
    std::error_code ec;
    std::filesystem::remove(suite_settings_path(), ec);
}

std::string suite_settings_json(bool show_in_explorer_panel, bool show_quick_pins, const char* status)
{
    return fmt::format(R"({{"version": "1.0", "apps": [{{"app_id": "sortwell", "name": "Sortwell", "status": "{}",
  "settings": {{"general": {{"showInExplorerPanel": {}, "showQuickPinsInExplorerPanel": {}}}}}}}]}})",
                       status, show_in_explorer_panel, show_quick_pins);
}

maintenance_marker::maintenance_marker()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, marker_key, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS)
    {
        existed_ = true;
        for (DWORD index = 0;; ++index)
        {
            wchar_t name[256];
            DWORD name_length = static_cast<DWORD>(std::size(name));
            DWORD type = 0;
            BYTE data[1024];
            DWORD size = sizeof(data);
            if (RegEnumValueW(key, index, name, &name_length, nullptr, &type, data, &size) != ERROR_SUCCESS)
                break;
            saved_.push_back({std::wstring(name, name_length), type, std::vector<BYTE>(data, data + size)});
        }
        RegCloseKey(key);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, marker_key, KEY_WOW64_64KEY, 0);
}

maintenance_marker::~maintenance_marker()
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, marker_key, KEY_WOW64_64KEY, 0);
    if (!existed_)
        return;
    for (const auto& value : saved_)
        set_value(value.name.c_str(), value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
}

void maintenance_marker::set_value(const wchar_t* name, DWORD type, const void* data, DWORD size)
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
