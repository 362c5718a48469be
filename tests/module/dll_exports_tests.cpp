// The DLL's exports, called through LoadLibrary as Explorer does: the cached class factories, the lock
// count that DllCanUnloadNow reads, and DllGetClassObject from many threads at once.

#include "dll_test_support.h"

#include "diagnostics/log.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

using namespace module_test;

namespace
{
std::string hex(HRESULT hr)
{
    return fmt::format("0x{:08X}", hresult_bits(hr));
}

class dll_exports : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings_.write(suite_settings_json(true, true));
        ASSERT_TRUE(dll_) << "cannot load " << dll_path().string() << ": error " << GetLastError();
        ASSERT_EQ(dll_.can_unload_now(), S_OK);
    }

    IClassFactory* factory(REFCLSID clsid)
    {
        IClassFactory* result = nullptr;
        EXPECT_EQ(hex(dll_.get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&result))), hex(S_OK));
        return result;
    }

    suite_settings_guard settings_;
    maintenance_marker marker_;
    loaded_dll dll_;
};

TEST_F(dll_exports, class_factory_references_keep_the_dll_loaded)
{
    IClassFactory* sortwell = factory(sortwell_clsid);
    ASSERT_NE(sortwell, nullptr);
    EXPECT_EQ(dll_.can_unload_now(), S_FALSE);

    // The factory is cached: a second lookup hands out the same object, one per root.
    IClassFactory* again = factory(sortwell_clsid);
    IClassFactory* quick_pins = factory(quick_pins_clsid);
    ASSERT_NE(quick_pins, nullptr);
    EXPECT_EQ(again, sortwell);
    EXPECT_NE(quick_pins, sortwell);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(hex(sortwell->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown))), hex(S_OK));
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(sortwell));

    const std::vector<IUnknown*> references = {sortwell, again, quick_pins, unknown};
    for (size_t i = 0; i < references.size(); ++i)
    {
        EXPECT_EQ(dll_.can_unload_now(), S_FALSE) << i << " references released";
        references[i]->Release();
    }
    EXPECT_EQ(dll_.can_unload_now(), S_OK);

    // Asked for IUnknown, the lookup answers the same factory and holds the DLL the same way.
    IUnknown* as_unknown = nullptr;
    ASSERT_EQ(hex(dll_.get_class_object(quick_pins_clsid, IID_IUnknown, reinterpret_cast<void**>(&as_unknown))),
              hex(S_OK));
    EXPECT_EQ(dll_.can_unload_now(), S_FALSE);
    as_unknown->Release();
    EXPECT_EQ(dll_.can_unload_now(), S_OK);
}

TEST_F(dll_exports, server_locks_keep_the_dll_loaded)
{
    IClassFactory* sortwell = factory(sortwell_clsid);
    ASSERT_NE(sortwell, nullptr);
    EXPECT_EQ(hex(sortwell->LockServer(TRUE)), hex(S_OK));
    EXPECT_EQ(hex(sortwell->LockServer(TRUE)), hex(S_OK));
    sortwell->Release();
    EXPECT_EQ(dll_.can_unload_now(), S_FALSE) << "two server locks are held";

    // The locks outlive the caller's reference to the factory; the cached factory is still there.
    IClassFactory* again = factory(sortwell_clsid);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(hex(again->LockServer(FALSE)), hex(S_OK));
    again->Release();
    EXPECT_EQ(dll_.can_unload_now(), S_FALSE) << "one server lock is held";
    EXPECT_EQ(hex(again->LockServer(FALSE)), hex(S_OK));
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
        void* other = reinterpret_cast<void*>(1);
        EXPECT_EQ(hex(f->QueryInterface(IID_IDispatch, &other)), hex(E_NOINTERFACE));
        EXPECT_EQ(other, nullptr);
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
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::set<void*>> seen(thread_count * 2);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t)
    {
        threads.emplace_back([&, t] {
            ++ready;
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < calls_per_thread; ++i)
            {
                const bool quick_pins = (i + t) % 2 != 0;
                void* object = nullptr;
                if (dll_.get_class_object(quick_pins ? quick_pins_clsid : sortwell_clsid, IID_IClassFactory,
                                          &object) != S_OK ||
                    !object)
                {
                    ++failures;
                    continue;
                }
                seen[t * 2 + (quick_pins ? 1 : 0)].insert(object);
                static_cast<IClassFactory*>(object)->Release();
            }
        });
    }
    while (ready.load() != thread_count)
        std::this_thread::yield();
    go = true;
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(failures.load(), 0);
    std::set<void*> sortwell, quick_pins;
    for (int t = 0; t < thread_count; ++t)
    {
        sortwell.insert(seen[t * 2].begin(), seen[t * 2].end());
        quick_pins.insert(seen[t * 2 + 1].begin(), seen[t * 2 + 1].end());
    }
    EXPECT_EQ(sortwell.size(), 1u) << "the first creation of the Sortwell factory raced";
    EXPECT_EQ(quick_pins.size(), 1u) << "the first creation of the Quick pins factory raced";
    EXPECT_EQ(log.messages(), std::vector<std::string>{});
    EXPECT_EQ(dll_.can_unload_now(), S_OK);
}
} // namespace
