// The DLL's entry points. Registration is written by the suite's installer, so there is no
// DllRegisterServer.

#include "base/log.h"
#include "base/namespace_module.h"
#include "base/process_object.h"
#include "module/class_object_gate.h"
#include "namespace/real_parent_cache.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH)
    {
        // Unloaded by FreeLibrary while the process goes on (DllCanUnloadNow said yes): give back what
        // the caches, the settings and the log hold. At process exit (`reserved` set) other threads are
        // gone mid-flight and may hold their locks: the system takes everything back.
        if (!reserved)
            destroy_process_objects();
        return TRUE;
    }
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    module_instance = instance;
    open_log();
    return the_module().initialization_failed() ? FALSE : TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return gated_get_class_object(rclsid, riid, ppv);
}

extern "C" HRESULT __stdcall DllCanUnloadNow()
{
    if (the_module().lock_count() != 0)
        return S_FALSE;
    // The unload may follow: the shell folders the real-parent cache holds are the shell's objects, not
    // ours, and go back now, on a COM thread, rather than in DllMain under the loader lock.
    clear_real_parents();
    return S_OK;
}
