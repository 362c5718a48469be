// The object model of every COM class: the module lock an object holds for its life, QueryInterface
// with implied bases, creation that reports failures without leaking, and the COM boundary.

#include "base/com_boundary.h"
#include "base/com_object.h"

#include "dll_test_support.h"

#include <functional>
#include <tuple>

using module_test::hex;

namespace
{
// Its initialize step runs what the case hands to create_instance.
class persist_object final : public com_object<persist_object, IPersistFolder2>
{
public:
    HRESULT initialize(const std::function<HRESULT()>& start) { return start(); }
    STDMETHODIMP GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE) noexcept override { return S_OK; }
    STDMETHODIMP GetCurFolder(PIDLIST_ABSOLUTE*) noexcept override { return E_NOTIMPL; }
};

const std::function<HRESULT()> ok = [] { return S_OK; };

TEST(com_object, holds_one_module_lock_for_its_life_and_answers_its_implied_bases)
{
    const LONG before = the_module().lock_count();
    IPersistFolder2* folder = nullptr;
    ASSERT_EQ(hex(persist_object::create_instance(IID_IPersistFolder2, reinterpret_cast<void**>(&folder), ok)),
              hex(S_OK));
    EXPECT_EQ(the_module().lock_count(), before + 1);

    // Each answer is one more reference of the same object.
    const std::tuple<const char*, const IID*, HRESULT> rows[] = {
        {"IUnknown", &IID_IUnknown, S_OK},
        {"IPersist", &IID_IPersist, S_OK},
        {"IPersistFolder", &IID_IPersistFolder, S_OK},
        {"IPersistFolder2", &IID_IPersistFolder2, S_OK},
        {"IPersistFolder3 (not implemented)", &IID_IPersistFolder3, E_NOINTERFACE},
    };
    for (const auto& [name, iid, expected] : rows)
    {
        SCOPED_TRACE(name);
        void* answer = reinterpret_cast<void*>(1);
        EXPECT_EQ(hex(folder->QueryInterface(*iid, &answer)), hex(expected));
        if (expected != S_OK)
        {
            EXPECT_EQ(answer, nullptr);
            continue;
        }
        ASSERT_NE(answer, nullptr);
        IUnknown *identity = nullptr, *folder_identity = nullptr;
        static_cast<IUnknown*>(answer)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        folder->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&folder_identity));
        EXPECT_EQ(identity, folder_identity);
        EXPECT_EQ(static_cast<IUnknown*>(answer)->Release(), 3u);
        identity->Release();
        folder_identity->Release();
    }
    EXPECT_EQ(hex(folder->QueryInterface(IID_IUnknown, nullptr)), hex(E_POINTER));
    EXPECT_EQ(folder->Release(), 0u);
    EXPECT_EQ(the_module().lock_count(), before);
}

TEST(com_object, failed_creation_leaves_no_object_and_no_lock)
{
    const LONG before = the_module().lock_count();
    const std::tuple<const char*, std::function<HRESULT()>, const IID*, HRESULT> rows[] = {
        {"initialize fails", [] { return E_ACCESSDENIED; }, &IID_IPersist, E_ACCESSDENIED},
        {"initialize runs out of memory", []() -> HRESULT { throw std::bad_alloc(); }, &IID_IPersist, E_OUTOFMEMORY},
        {"initialize throws a standard exception", []() -> HRESULT { throw std::runtime_error("no"); }, &IID_IPersist,
         E_FAIL},
        {"initialize throws something else", []() -> HRESULT { throw 7; }, &IID_IPersist, E_FAIL},
        {"the object lacks the interface", ok, &IID_IShellFolder, E_NOINTERFACE},
        {"no out-pointer", ok, nullptr, E_POINTER},
    };
    for (const auto& [name, start, iid, expected] : rows)
    {
        SCOPED_TRACE(name);
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(hex(persist_object::create_instance(iid ? *iid : IID_IPersist, iid ? &object : nullptr, start)),
                  hex(expected));
        EXPECT_EQ(object, iid ? nullptr : reinterpret_cast<void*>(1));
        EXPECT_EQ(the_module().lock_count(), before);
    }
    EXPECT_EQ(the_module().lock_count(), before);
}

TEST(com_boundary, answers_a_failure_and_logs_what_escaped)
{
    const struct { const char* name; std::function<HRESULT()> body; HRESULT on_exception; HRESULT expected;
                   const char* log_line; } rows[] = {
        {"success passes through", [] { return S_FALSE; }, E_FAIL, S_FALSE, nullptr},
        {"a failure code passes through unlogged", [] { return E_INVALIDARG; }, E_FAIL, E_INVALIDARG, nullptr},
        {"standard exception", []() -> HRESULT { throw std::runtime_error("disk gone"); }, E_FAIL, E_FAIL,
         "ERROR EnumObjects: exception: disk gone"},
        {"HRESULT carried in an exception",
         []() -> HRESULT { throw_if_failed(E_ACCESSDENIED, "SHBindToParent"); return S_OK; }, E_FAIL, E_FAIL,
         "ERROR EnumObjects: exception: SHBindToParent failed with HRESULT 0x80070005"},
        {"out of memory", []() -> HRESULT { throw std::bad_alloc(); }, E_FAIL, E_OUTOFMEMORY,
         "ERROR EnumObjects: exception: std::bad_alloc"},
        {"unknown exception", []() -> HRESULT { throw 42; }, E_FAIL, E_FAIL, "ERROR EnumObjects: unknown exception"},
        {"the method's own failure code", []() -> HRESULT { throw 1; }, E_NOINTERFACE, E_NOINTERFACE,
         "ERROR EnumObjects: unknown exception"},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        test_support::log_capture log;
        EXPECT_EQ(hex(com_boundary("EnumObjects", r.body, r.on_exception)), hex(r.expected));
        EXPECT_EQ(log.messages(), r.log_line ? std::vector<std::string>{r.log_line} : std::vector<std::string>{});
    }
}
} // namespace
