#pragma once
// The object map of the DLL: one entry per root, with what makes its class object and the class object
// once made. The module object looks class objects up in it (the_module().get_class_object).

#include "base/namespace_module.h"

#include <windows.h>
#include <objidl.h>

#include <atomic>

using instance_creator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

struct object_map_entry
{
    const CLSID* clsid;
    HRESULT (*update_registry)(BOOL do_register);
    // Creates the class object (a cached class factory around create_instance).
    HRESULT (*create_class_object)(instance_creator create_instance, REFIID riid, void** ppv);
    instance_creator create_instance;
    // The cached class object, stored encoded with EncodePointer; null until first created. Read
    // without the module's critical section, so it is published with release and read with acquire:
    // on ARM64 a plain pointer could be seen before the factory it points to.
    std::atomic<void*> cached_class_object;
    void (*object_main)(bool starting);
};

// The two entries, "Sortwell" first, then "Quick pins". Defined with the instance creators.
object_map_entry* object_map_begin() noexcept;
object_map_entry* object_map_end() noexcept;

// A class factory that holds a module lock only for references beyond the cache's own (so a cached
// factory does not keep the DLL loaded).
HRESULT create_cached_class_factory(instance_creator create_instance, REFIID riid, void** ppv) noexcept;
