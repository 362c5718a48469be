#include "module/class_object_gate.h"

#include "base/log.h"
#include "base/namespace_module.h"
#include "base/raii.h"
#include "settings/high_level_settings.h"

#include <cstdint>

namespace
{
constexpr wchar_t maintenance_key[] = L"SOFTWARE\\Quenbrook\\Velmora\\InstallerMaintenance";

template <class T>
bool read_registry_value(const wchar_t* name, DWORD type, T& value) noexcept
{
    DWORD size = sizeof(T);
    return RegGetValueW(HKEY_LOCAL_MACHINE, maintenance_key, name,
                        (type == REG_DWORD ? RRF_RT_REG_DWORD : RRF_RT_REG_QWORD) | RRF_SUBKEY_WOW6464KEY, nullptr,
                        &value, &size) == ERROR_SUCCESS;
}
} // namespace

bool installer_maintenance_running() noexcept
{
    DWORD process_id = 0;
    if (!read_registry_value(L"Process", REG_DWORD, process_id) || process_id == 0)
        return false;
    std::uint64_t created = 0;
    if (!read_registry_value(L"Created", REG_QWORD, created))
        return false;

    unique_handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process)
        // An installer we may not look at still counts as running; any other error means it is gone.
        return GetLastError() == ERROR_ACCESS_DENIED;

    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(process.get(), &creation, &exit, &kernel, &user))
        return true;
    const auto creation_ticks = (static_cast<std::uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    // A different creation time means the id was reused by another process.
    return creation_ticks == created && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

bool root_enabled(REFCLSID rclsid) noexcept
{
    const bool quick_pins = IsEqualCLSID(rclsid, CLSID_quick_pins_shell_folder) != FALSE;
    bool app_enabled = false;
    bool switch_on = false;
    try
    {
        auto& settings = high_level_settings::get_high_level_settings();
        app_enabled = settings.is_app_enabled();
        switch_on = settings.get_bool_setting("sortwell", quick_pins ? "general.showQuickPinsInExplorerPanel"
                                                                     : "general.showInExplorerPanel");
    }
    catch (...)
    {
        // The settings folder could not be made (or memory ran out): the root counts as disabled, as
        // when the file cannot be loaded.
        log_caught_exception("DllGetClassObject");
    }
    if (app_enabled && switch_on)
        return true;
    try
    {
        log_message(log_level::info, L"{} is disabled, returning CLASS_E_CLASSNOTAVAILABLE",
                    quick_pins ? L"Quick pins" : L"Sortwell");
    }
    catch (...)
    {
    }
    return false;
}

HRESULT gated_get_class_object(REFCLSID rclsid, REFIID riid, void** ppv) noexcept
{
    if (installer_maintenance_running())
    {
        if (ppv)
            *ppv = nullptr;
        return HRESULT_FROM_WIN32(ERROR_INSTALL_ALREADY_RUNNING);
    }
    if (!root_enabled(rclsid))
    {
        if (ppv)
            *ppv = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    const HRESULT hr = the_module().get_class_object(rclsid, riid, ppv);
    if (FAILED(hr))
    {
        try
        {
            log_message(log_level::critical, L"DllGetClassObject returning FAILED HRESULT: {:#X}", hresult_bits(hr));
        }
        catch (...)
        {
        }
    }
    return hr;
}
