// The DLL's exports, called through LoadLibrary as Explorer does.

#include "module/namespace_module.h"

#include <gtest/gtest.h>

namespace
{
TEST(dll_exports, loads_and_unloads_with_no_objects_alive)
{
    HMODULE dll = LoadLibraryW(L"Sortwell.NamespaceShellExtension.dll");
    ASSERT_NE(dll, nullptr) << GetLastError();
    auto can_unload = reinterpret_cast<HRESULT(__stdcall*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(can_unload, nullptr);
    EXPECT_EQ(can_unload(), S_OK);
    FreeLibrary(dll);
}
} // namespace
