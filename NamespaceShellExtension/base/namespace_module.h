#pragma once
// The module object: one per process. It keeps the lock count that DllCanUnloadNow reads and the global
// interface table, and looks the two roots' class objects up in the DLL's object map, caching one class
// factory per root. The lookup and the release of the cache are defined with the object map
// (module/class_objects.cpp, module/object_map.h), which creates the folders: every room may use the
// module object, and only the DLL's entry knows the folders.

#include "base/raii.h"

#include <windows.h>
#include <objidl.h>

#include <atomic>

// {249AE234-08DF-4686-AAF3-5D80A15493BE}: the "Sortwell" root, also the module's application id.
inline constexpr CLSID CLSID_search_and_action_shell_folder = {
    0x249ae234, 0x08df, 0x4686, {0xaa, 0xf3, 0x5d, 0x80, 0xa1, 0x54, 0x93, 0xbe}};
// {EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}: the "Quick pins" root.
inline constexpr CLSID CLSID_quick_pins_shell_folder = {
    0xea1cd75e, 0xc7fd, 0x4ff7, {0xb0, 0xa1, 0x22, 0xfe, 0x9b, 0x59, 0x4a, 0x6e}};

inline constexpr wchar_t module_app_id[] = L"{249AE234-08DF-4686-AAF3-5D80A15493BE}";

class namespace_module
{
public:
    namespace_module() noexcept;
    ~namespace_module();
    namespace_module(const namespace_module&) = delete;
    namespace_module& operator=(const namespace_module&) = delete;

    LONG lock() noexcept { return ++lock_count_; }
    LONG unlock() noexcept { return --lock_count_; }
    LONG lock_count() const noexcept { return lock_count_; }

    bool initialization_failed() const noexcept { return initialization_failed_; }

    // The standard lookup in the object map: E_POINTER, E_UNEXPECTED, the cached class object queried
    // for riid, or CLASS_E_CLASSNOTAVAILABLE when no entry matches. Defined with the object map.
    HRESULT get_class_object(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;

    // The global interface table, created on first request.
    HRESULT global_interface_table(IGlobalInterfaceTable** git) noexcept;

    // Releases the cached class objects (process detach). Defined with the object map.
    void release_class_objects() noexcept;

private:
    std::atomic<LONG> lock_count_{0};
    bool initialization_failed_ = false;
    // Serialises the first creation of each cached class object.
    critical_section class_object_lock_;
    std::atomic<IGlobalInterfaceTable*> git_{nullptr};
};

namespace_module& the_module() noexcept;

// The HINSTANCE of this DLL (null in a test executable that links the libraries directly).
extern HINSTANCE module_instance;
