#pragma once
// The DLL loaded the way Explorer loads it, and the state its class-object gate reads: the suite
// settings file in the per-user folder and the installer-maintenance marker in HKLM. The test prefix is
// disposable, so the guards only clear what a case wrote.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace module_test
{
inline constexpr CLSID sortwell_clsid = {
    0x249ae234, 0x08df, 0x4686, {0xaa, 0xf3, 0x5d, 0x80, 0xa1, 0x54, 0x93, 0xbe}};
inline constexpr CLSID quick_pins_clsid = {
    0xea1cd75e, 0xc7fd, 0x4ff7, {0xb0, 0xa1, 0x22, 0xfe, 0x9b, 0x59, 0x4a, 0x6e}};

std::string hex(HRESULT hr);

// The built DLL: the one named by VELMORA_TEST_DLL when set (children started from a copy of the test
// executable elsewhere), else the one beside the test executable.
std::filesystem::path dll_path();

// LoadLibrary on construction, FreeLibrary on destruction, as the host's COM runtime does.
struct loaded_dll
{
    loaded_dll();
    ~loaded_dll();
    loaded_dll(const loaded_dll&) = delete;
    loaded_dll& operator=(const loaded_dll&) = delete;
    explicit operator bool() const noexcept { return get_class_object && can_unload_now; }

    HMODULE module = nullptr;
    HRESULT(__stdcall* get_class_object)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(__stdcall* can_unload_now)() = nullptr;
};

// Asks for IClassFactory; checks that *ppv is set exactly on success, and releases it.
HRESULT ask(const loaded_dll& dll, REFCLSID clsid);

// %LOCALAPPDATA%\Quenbrook\Velmora\Settings\High Level Settings.json
std::filesystem::path suite_settings_path();
// Writes the suite settings with a last-write time later than any before, so the DLL sees the change.
void write_suite_settings(const std::string& bytes);
// The suite settings with the "sortwell" record's status and two switches as given.
std::string suite_settings_json(bool show_in_explorer_panel, bool show_quick_pins, const char* status = "enabled");

// HKLM\SOFTWARE\Quenbrook\Velmora\InstallerMaintenance in the 64-bit view, removed on construction and
// on destruction.
struct maintenance_marker
{
    maintenance_marker() { clear(); }
    ~maintenance_marker() { clear(); }
    static void clear();
    static void set(const wchar_t* name, DWORD type, const void* data, DWORD size);
};

// The creation time of a process as FILETIME ticks.
std::uint64_t process_creation_time(HANDLE process);
} // namespace module_test
