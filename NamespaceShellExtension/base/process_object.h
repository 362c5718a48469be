#pragma once
// Process-wide objects that the C runtime never destroys. The runtime destroys a DLL's static objects
// at every DLL_PROCESS_DETACH, process exit included, and by then the system has ended every other
// thread wherever it stood: a thread that held a cache's mutex leaves it held for ever, and a destructor
// that takes it hangs the process on its way out; one that releases COM objects calls into a runtime
// that is being torn down. So the caches, the volume guard, the suite settings and the logger live in a
// process_object: at process exit the system takes back their memory and handles; when the DLL is
// unloaded while the process goes on (FreeLibrary after DllCanUnloadNow said yes, so no object and none
// of our threads is left), DllMain destroys them with destroy_process_objects().
//
//   some_cache& the_cache() { static process_object<some_cache> cache; return cache.get(); }
//
// Header-only, so that every room of the DLL can use it; the objects of one binary share one list.

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

class process_object_base
{
public:
    process_object_base(const process_object_base&) = delete;
    process_object_base& operator=(const process_object_base&) = delete;

protected:
    process_object_base() noexcept = default;
    ~process_object_base() = default;

    // Links the object into the list that destroy_process_objects() empties, newest first.
    void enlist(void (*destroy)(process_object_base*) noexcept) noexcept
    {
        destroy_ = destroy;
        next_ = head().load(std::memory_order_relaxed);
        while (!head().compare_exchange_weak(next_, this, std::memory_order_release, std::memory_order_relaxed))
        {
        }
    }

private:
    friend void destroy_process_objects() noexcept;
    static std::atomic<process_object_base*>& head() noexcept
    {
        static constinit std::atomic<process_object_base*> first{nullptr};
        return first;
    }

    process_object_base* next_ = nullptr;
    void (*destroy_)(process_object_base*) noexcept = nullptr;
};

template <class T>
class process_object final : public process_object_base
{
public:
    // Constructs the object; when its constructor throws, nothing is enlisted and the exception goes on
    // (a function-local static then tries again at the next call).
    template <class... Args>
    explicit process_object(Args&&... args) noexcept(std::is_nothrow_constructible_v<T, Args...>)
    {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
        enlist(&destroy);
    }
    // Trivial on purpose: the runtime registers nothing to run at exit.
    ~process_object() = default;

    T& get() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    static void destroy(process_object_base* self) noexcept { static_cast<process_object*>(self)->get().~T(); }

    alignas(T) unsigned char storage_[sizeof(T)];
};

// Destroys every process object made so far, newest first. Only for an unload while the process goes
// on: nothing may use the objects afterwards.
inline void destroy_process_objects() noexcept
{
    auto* object = process_object_base::head().exchange(nullptr, std::memory_order_acquire);
    while (object)
    {
        auto* next = object->next_;
        object->destroy_(object);
        object = next;
    }
}
