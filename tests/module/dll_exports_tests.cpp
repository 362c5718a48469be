// The DLL's exports, called through LoadLibrary as Explorer does: the cached class factories, the lock
// count that DllCanUnloadNow reads, and a process that ends with the DLL loaded.

#include "dll_test_support.h"

#include "items/search_and_action_item_data.h"
#include "support/task_memory_spy.h"

#include <shlobj.h>

using namespace module_test;

namespace
{
class dll_exports : public dll_fixture
{
protected:
    template <class T = IClassFactory>
    T* factory(REFCLSID clsid, REFIID iid = IID_IClassFactory)
    {
        T* result = nullptr;
        EXPECT_EQ(hex(dll_.get_class_object(clsid, iid, reinterpret_cast<void**>(&result))), hex(S_OK));
        return result;
    }
};

TEST_F(dll_exports, factories_and_server_locks_keep_the_dll_loaded_until_released)
{
    // One cached factory per root; the cache's own reference holds no lock, every reference handed out does.
    IClassFactory* sortwell = factory(sortwell_clsid);
    IClassFactory* quick_pins = factory(quick_pins_clsid);
    IUnknown* unknown = factory<IUnknown>(quick_pins_clsid, IID_IUnknown);
    ASSERT_TRUE(sortwell && quick_pins && unknown);
    EXPECT_NE(quick_pins, sortwell);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(quick_pins));

    for (IUnknown* reference : std::vector<IUnknown*>{sortwell, quick_pins, unknown})
    {
        EXPECT_EQ(dll_.can_unload_now(), S_FALSE) << "a factory reference is held";
        reference->Release();
    }
    EXPECT_EQ(dll_.can_unload_now(), S_OK);

    // Server locks outlive the caller's reference; the factory stays cached for the process.
    sortwell = factory(sortwell_clsid);
    ASSERT_NE(sortwell, nullptr);
    EXPECT_EQ(hex(sortwell->LockServer(TRUE)), hex(S_OK));
    EXPECT_EQ(hex(sortwell->LockServer(TRUE)), hex(S_OK));
    sortwell->Release();
    EXPECT_EQ(dll_.can_unload_now(), S_FALSE) << "two server locks are held";
    EXPECT_EQ(hex(sortwell->LockServer(FALSE)), hex(S_OK));
    EXPECT_EQ(dll_.can_unload_now(), S_FALSE) << "one server lock is held";
    EXPECT_EQ(hex(sortwell->LockServer(FALSE)), hex(S_OK));
    EXPECT_EQ(dll_.can_unload_now(), S_OK);
}

// Both roots' factories are of one class.
TEST_F(dll_exports, class_factory_refuses_aggregation_and_null_out_pointers)
{
    IClassFactory* f = factory(quick_pins_clsid);
    ASSERT_NE(f, nullptr);
    // Never called: the factory must refuse before touching the outer object.
    int outer_stand_in = 0;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(hex(f->CreateInstance(reinterpret_cast<IUnknown*>(&outer_stand_in), IID_IUnknown, &object)),
              hex(CLASS_E_NOAGGREGATION));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(hex(f->CreateInstance(nullptr, IID_IUnknown, nullptr)), hex(E_POINTER));
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(hex(f->QueryInterface(IID_IDispatch, &object)), hex(E_NOINTERFACE));
    EXPECT_EQ(object, nullptr);
    f->Release();
    EXPECT_EQ(dll_.can_unload_now(), S_OK);
}

constexpr UINT exit_code_of_child = 7;

TEST(dll_exit_child, DISABLED_fills_the_caches_and_exits)
{
    const std::wstring report = test_support::environment_value(L"VELMORA_TEST_EXIT_REPORT");
    if (report.empty())
        GTEST_SKIP() << "run by process_exit_leaves_the_caches_to_the_system";
    loaded_dll dll;
    ASSERT_TRUE(dll);
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(hex(dll.get_class_object(sortwell_clsid, IID_IClassFactory, factory.put_void())), hex(S_OK));
    com_ptr<IShellFolder2> folder;
    ASSERT_EQ(hex(factory->CreateInstance(nullptr, IID_IShellFolder2, folder.put_void())), hex(S_OK));
    // A result for a real file: its path is parsed into the path cache, its real parent kept.
    const auto item = create_result_item(test_support::executable_path().wstring(), {}, {});
    PCUITEMID_CHILD child = item.get();
    SFGAOF attributes = SFGAO_FILESYSTEM;
    ASSERT_EQ(hex(folder->GetAttributesOf(1, &child, &attributes)), hex(S_OK));
    SHELLDETAILS details{};
    ASSERT_EQ(hex(folder->GetDetailsOf(child, 0, &details)), hex(S_OK));
    CoTaskMemFree(details.str.pOleStr);
    folder.reset();
    factory.reset();

    // From here every block that COM's task allocator frees is reported: the DLL's caches keep ID lists
    // and shell folders, which free through it.
    static test_support::task_memory_spy spy;
    ASSERT_EQ(hex(CoRegisterMallocSpy(&spy)), hex(S_OK));
    spy.report_frees_to(report);
    // As a process ends: the system stops every other thread, then detaches the DLLs.
    ExitProcess(exit_code_of_child);
}

TEST_F(dll_exports, process_exit_leaves_the_caches_to_the_system)
{
    test_support::scratch_folder scratch(L"process exit");
    const auto report = scratch.path() / L"frees.txt";
    test_support::child_test_process child("dll_exit_child.DISABLED_fills_the_caches_and_exits",
                                           {{L"VELMORA_TEST_EXIT_REPORT", report.wstring()}});
    EXPECT_EQ(child.wait(60'000), exit_code_of_child);
    // A cache torn down at exit would free its ID lists and release its folders: with a thread stopped
    // while holding the cache's lock, taking that lock would hang the process instead.
    EXPECT_EQ(test_support::read_file(report), "armed\n");
}
} // namespace
