#pragma once
// DllGetClassObject's gate in front of the module's class-object lookup: refuses while the suite's
// installer is in maintenance and refuses a root switched off in the suite settings.

#include <windows.h>

// True while the installer named by HKLM\SOFTWARE\Quenbrook\Velmora\InstallerMaintenance runs.
bool installer_maintenance_running() noexcept;

// True when the root of rclsid may be shown (logs the "disabled" line when not).
bool root_enabled(REFCLSID rclsid) noexcept;

HRESULT gated_get_class_object(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;
