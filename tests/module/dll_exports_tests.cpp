// The DLL's exports, called through LoadLibrary as Explorer does: the cached class factories, the lock
// count that DllCanUnloadNow reads, and DllGetClassObject from many threads at once.

#include "dll_test_support.h"

#include <set>
#include <thread>

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
    IClassFactory* sortwell = factory(sortwell_clsid);
    IClassFactory* again = factory(sortwell_clsid);
    IClassFactory* quick_pins = factory(quick_pins_clsid);
    IUnknown* unknown = factory<IUnknown>(quick_pins_clsid, IID_IUnknown);
    ASSERT_TRUE(sortwell && again && quick_pins && unknown);
    // The factory is cached: a second lookup hands out the same object, one per root.
    EXPECT_EQ(again, sortwell);
    EXPECT_NE(quick_pins, sortwell);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(quick_pins));

    for (IUnknown* reference : std::vector<IUnknown*>{sortwell, again, quick_pins, unknown})
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

TEST_F(dll_exports, class_factory_refuses_aggregation_and_null_out_pointers)
{
    for (const CLSID* clsid : {&sortwell_clsid, &quick_pins_clsid})
    {
        SCOPED_TRACE(clsid == &sortwell_clsid ? "Sortwell" : "Quick pins");
        IClassFactory* f = factory(*clsid);
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
    }
    EXPECT_EQ(dll_.can_unload_now(), S_OK);
}

TEST_F(dll_exports, many_threads_get_one_cached_factory_per_root)
{
    constexpr int thread_count = 16;
    constexpr int calls_per_thread = 200;
    test_support::log_capture log;
    std::atomic<int> ready{0};
    std::atomic<int> failures{0};
    std::vector<std::set<void*>> seen(thread_count * 2); // [thread * 2 + root]
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t)
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() != thread_count)
                std::this_thread::yield();
            for (int i = 0; i < calls_per_thread; ++i)
            {
                const int root = (i + t) % 2;
                void* object = nullptr;
                if (dll_.get_class_object(root ? quick_pins_clsid : sortwell_clsid, IID_IClassFactory, &object) !=
                        S_OK ||
                    !object)
                    ++failures;
                else
                {
                    seen[t * 2 + root].insert(object);
                    static_cast<IClassFactory*>(object)->Release();
                }
            }
        });
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(failures.load(), 0);
    std::set<void*> per_root[2];
    for (int i = 0; i < thread_count * 2; ++i)
        per_root[i % 2].insert(seen[i].begin(), seen[i].end());
    EXPECT_EQ(per_root[0].size(), 1u) << "the first creation of the Sortwell factory raced";
    EXPECT_EQ(per_root[1].size(), 1u) << "the first creation of the Quick pins factory raced";
    EXPECT_EQ(log.messages(), std::vector<std::string>{});
    EXPECT_EQ(dll_.can_unload_now(), S_OK);
}
} // namespace
