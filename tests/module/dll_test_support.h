#pragma once
// The DLL loaded the way Explorer loads it, and the state its class-object gate reads: the suite
// settings file in the per-user folder and the installer-maintenance marker in HKLM. Each guard puts
// back what it found.

#include "module/raii.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace module_test
{
using get_class_object_function = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using can_unload_now_function = HRESULT(__stdcall*)();

inline constexpr CLSID sortwell_clsid = {
    0x249ae234, 0x08df, 0x4686, {0xaa, 0xf3, 0x5d, 0x80, 0xa1, 0x54, 0x93, 0xbe}};
inline constexpr CLSID quick_pins_clsid = {
    0xea1cd75e, 0xc7fd, 0x4ff7, {0xb0, 0xa1, 0x22, 0xfe, 0x9b, 0x59, 0x4a, 0x6e}};

// The built DLL: the one named by VELMORA_TEST_DLL when set (children started from a copy of the test
// executable elsewhere), else the one beside the test executable.
std::filesystem::path dll_path();

// LoadLibrary on construction, FreeLibrary on destruction, as the host's COM runtime does.
class loaded_dll
{
public:
    explicit loaded_dll(const std::filesystem::path& path = dll_path());
    ~loaded_dll();
    loaded_dll(const loaded_dll&) = delete;
    loaded_dll& operator=(const loaded_dll&) = delete;

    explicit operator bool() const noexcept { return module_ && get_class_object_ && can_unload_now_; }
    HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** ppv) const;
    HRESULT can_unload_now() const;

private:
    HMODULE module_ = nullptr;
    get_class_object_function get_class_object_ = nullptr;
    can_unload_now_function can_unload_now_ = nullptr;
};

// %LOCALAPPDATA%\Quenbrook\Velmora\Settings\High Level Settings.json
std::filesystem::path suite_settings_path();

// Saves the suite settings file (or its absence) and restores it on destruction. Every write gives the
// file a new last-write time, later than any before, so the DLL always sees the change.
class suite_settings_guard
{
public:
    suite_settings_guard();
    ~suite_settings_guard();
    suite_settings_guard(const suite_settings_guard&) = delete;
    suite_settings_guard& operator=(const suite_settings_guard&) = delete;

    void write(const std::string& bytes);
    void remove();

private:
    std::optional<std::string> original_;
};

// The suite settings with the "sortwell" record's two switches set as given.
std::string suite_settings_json(bool show_in_explorer_panel, bool show_quick_pins, const char* status = "enabled");

// HKLM\SOFTWARE\Quenbrook\Velmora\InstallerMaintenance in the 64-bit view. The constructor removes
// any marker present (saving its values); the destructor removes what the test wrote and puts back
// what was there.
class maintenance_marker
{
public:
    maintenance_marker();
    ~maintenance_marker();
    maintenance_marker(const maintenance_marker&) = delete;
    maintenance_marker& operator=(const maintenance_marker&) = delete;

    void set_value(const wchar_t* name, DWORD type, const void* data, DWORD size);
    void set_process(DWORD process_id) { set_value(L"Process", REG_DWORD, &process_id, sizeof(process_id)); }
    void set_created(std::uint64_t created) { set_value(L"Created", REG_QWORD, &created, sizeof(created)); }

private:
    struct saved_value
    {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    bool existed_ = false;
    std::vector<saved_value> saved_;
};

// The creation time of a process as FILETIME ticks.
std::uint64_t process_creation_time(HANDLE process);
} // namespace module_test
