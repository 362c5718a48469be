#pragma once
// Owning wrappers for COM pointers, item identifier lists, handles and task-allocator memory.
// All are move-only and noexcept; empty wrappers test false.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shtypes.h>

#include <utility>

template <class T>
class com_ptr
{
public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    // Takes a new reference to p.
    explicit com_ptr(T* p) noexcept : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    com_ptr(const com_ptr& other) noexcept : com_ptr(other.p_) {}
    com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    com_ptr& operator=(com_ptr other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }
    ~com_ptr() { reset(); }

    // Adopts a reference the caller already owns.
    static com_ptr attach(T* p) noexcept
    {
        com_ptr result;
        result.p_ = p;
        return result;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    void reset() noexcept
    {
        if (auto* p = std::exchange(p_, nullptr))
            p->Release();
    }
    // Releases what is held and hands out the address for an out-parameter.
    T** put() noexcept
    {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    // Hands the reference over (to the shell, usually).
    T* detach() noexcept { return std::exchange(p_, nullptr); }

    template <class U>
    HRESULT copy_to(U** out) const noexcept
    {
        if (!out)
            return E_POINTER;
        *out = p_;
        if (p_)
            p_->AddRef();
        return S_OK;
    }
    HRESULT query_to(REFIID riid, void** ppv) const noexcept
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        return p_ ? p_->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    // Empty when the object does not implement U.
    template <class U>
    com_ptr<U> try_query() const noexcept
    {
        com_ptr<U> result;
        if (p_)
            p_->QueryInterface(__uuidof(U), result.put_void());
        return result;
    }

private:
    T* p_ = nullptr;
};

// Task-allocator memory (CoTaskMemAlloc / CoTaskMemFree).
template <class T>
class unique_cotaskmem
{
public:
    unique_cotaskmem() noexcept = default;
    explicit unique_cotaskmem(T* p) noexcept : p_(p) {}
    unique_cotaskmem(unique_cotaskmem&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    unique_cotaskmem& operator=(unique_cotaskmem&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    unique_cotaskmem(const unique_cotaskmem&) = delete;
    unique_cotaskmem& operator=(const unique_cotaskmem&) = delete;
    ~unique_cotaskmem() { reset(); }

    T* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset(T* p = nullptr) noexcept
    {
        if (auto* old = std::exchange(p_, p))
            CoTaskMemFree(const_cast<void*>(static_cast<const void*>(old)));
    }
    T** put() noexcept
    {
        reset();
        return &p_;
    }
    // Hands the memory to a caller that frees it with CoTaskMemFree (the shell).
    T* release() noexcept { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

using unique_cotaskmem_string = unique_cotaskmem<wchar_t>;

// Item identifier lists. The aliases carry the shell's split of absolute, relative and child lists.
template <class T>
class unique_id_list_t : public unique_cotaskmem<T>
{
public:
    using unique_cotaskmem<T>::unique_cotaskmem;
    // A copy; empty when the list is empty or memory ran out.
    unique_id_list_t clone() const noexcept
    {
        return unique_id_list_t(this->get() ? reinterpret_cast<T*>(ILClone(reinterpret_cast<LPCITEMIDLIST>(this->get())))
                                            : nullptr);
    }
};
using unique_id_list = unique_id_list_t<ITEMIDLIST>;
using unique_absolute_id_list = unique_id_list_t<ITEMIDLIST_ABSOLUTE>;
using unique_relative_id_list = unique_id_list_t<ITEMIDLIST_RELATIVE>;
using unique_child_id = unique_id_list_t<ITEMID_CHILD>;

// Handles. Two flavours, since APIs disagree on the invalid value: null (events, threads, processes,
// mutexes) and INVALID_HANDLE_VALUE (CreateFileW, FindFirstFileW needs FindClose and is not covered).
// Closing keeps GetLastError as it was.
template <HANDLE (*Invalid)()>
class unique_handle_t
{
public:
    unique_handle_t() noexcept = default;
    explicit unique_handle_t(HANDLE h) noexcept : h_(h) {}
    unique_handle_t(unique_handle_t&& other) noexcept : h_(std::exchange(other.h_, Invalid())) {}
    unique_handle_t& operator=(unique_handle_t&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.h_, Invalid()));
        return *this;
    }
    unique_handle_t(const unique_handle_t&) = delete;
    unique_handle_t& operator=(const unique_handle_t&) = delete;
    ~unique_handle_t() { reset(); }

    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Invalid() && h_ != nullptr; }
    void reset(HANDLE h = Invalid()) noexcept
    {
        const HANDLE old = std::exchange(h_, h);
        if (old != Invalid() && old != nullptr)
        {
            const DWORD error = GetLastError();
            CloseHandle(old);
            SetLastError(error);
        }
    }
    HANDLE* put() noexcept
    {
        reset();
        return &h_;
    }
    HANDLE release() noexcept { return std::exchange(h_, Invalid()); }

private:
    HANDLE h_ = Invalid();
};

namespace raii_detail
{
inline HANDLE null_handle() { return nullptr; }
inline HANDLE invalid_handle() { return INVALID_HANDLE_VALUE; }
} // namespace raii_detail

using unique_handle = unique_handle_t<raii_detail::null_handle>;
using unique_hfile = unique_handle_t<raii_detail::invalid_handle>;

class unique_hkey
{
public:
    unique_hkey() noexcept = default;
    unique_hkey(unique_hkey&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    unique_hkey& operator=(unique_hkey&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.h_, nullptr));
        return *this;
    }
    unique_hkey(const unique_hkey&) = delete;
    unique_hkey& operator=(const unique_hkey&) = delete;
    ~unique_hkey() { reset(); }
    HKEY get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != nullptr; }
    void reset(HKEY h = nullptr) noexcept
    {
        if (auto old = std::exchange(h_, h))
            RegCloseKey(old);
    }
    HKEY* put() noexcept
    {
        reset();
        return &h_;
    }

private:
    HKEY h_ = nullptr;
};

// A critical section and its scoped lock. Initialisation can fail only on very old systems; the
// flag lets owners report it (the module does).
class critical_section
{
public:
    critical_section() noexcept { ok_ = InitializeCriticalSectionEx(&cs_, 0, 0) != FALSE; }
    ~critical_section()
    {
        if (ok_)
            DeleteCriticalSection(&cs_);
    }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;
    bool initialized() const noexcept { return ok_; }
    void lock() noexcept { EnterCriticalSection(&cs_); }
    void unlock() noexcept { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_{};
    bool ok_ = false;
};

class critical_section_lock
{
public:
    explicit critical_section_lock(critical_section& cs) noexcept : cs_(cs) { cs_.lock(); }
    ~critical_section_lock() { cs_.unlock(); }
    critical_section_lock(const critical_section_lock&) = delete;
    critical_section_lock& operator=(const critical_section_lock&) = delete;

private:
    critical_section& cs_;
};
