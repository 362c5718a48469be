#pragma once
// Watches the COM task allocator (CoRegisterMallocSpy), which holds the identifiers and names handed to
// the shell and the ID lists the caches keep: counts the blocks alive, and once told a report file,
// appends "free" to it for every block freed, straight to the file, so that the lines outlive a process
// that ends. It lives as long as the test and counts no references.

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <cstring>
#include <string>

namespace test_support
{
class task_memory_spy final : public IMallocSpy
{
public:
    void report_frees_to(std::wstring file) noexcept
    {
        report_ = std::move(file);
        write("armed\n");
        armed_ = true;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) noexcept override { return size; }
    STDMETHODIMP_(void*) PostAlloc(void* actual) noexcept override
    {
        live += actual ? 1 : 0;
        return actual;
    }
    STDMETHODIMP_(void*) PreFree(void* request, BOOL spyed) noexcept override
    {
        live -= request && spyed ? 1 : 0;
        if (armed_ && request)
            write("free\n");
        return request;
    }
    STDMETHODIMP_(void) PostFree(BOOL) noexcept override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* request, SIZE_T size, void** actual, BOOL spyed) noexcept override
    {
        reallocating_ = request && spyed;
        *actual = request;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* actual, BOOL) noexcept override
    {
        live += !reallocating_ && actual ? 1 : 0;
        return actual;
    }
    STDMETHODIMP_(void*) PreGetSize(void* request, BOOL) noexcept override { return request; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) noexcept override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* request, BOOL) noexcept override { return request; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) noexcept override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() noexcept override {}
    STDMETHODIMP_(void) PostHeapMinimize() noexcept override {}

    std::atomic<long> live{0};

private:
    void write(const char* line) noexcept
    {
        const HANDLE file = CreateFileW(report_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
        CloseHandle(file);
    }

    bool reallocating_ = false;
    std::wstring report_;
    std::atomic<bool> armed_{false};
};
} // namespace test_support
