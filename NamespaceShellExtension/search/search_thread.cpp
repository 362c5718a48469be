#include "search/search_thread.h"

#include "diagnostics/log.h"
#include "search/search_query.h"

#include <objbase.h>

#include <exception>
#include <memory>
#include <system_error>

namespace
{
// Hands the rows over and completes the target whatever happens on the way: an enumerator left
// incomplete would make Explorer's Next wait for ever.
void deliver(search_results_target& target, const std::vector<search_result_record>& records) noexcept
{
    try
    {
        target.append_results(records);
    }
    catch (...)
    {
        log_caught_exception("Search thread");
    }
    target.complete();
}

void log_search_exception(const char* text) noexcept
{
    try
    {
        log_message(log_level::error, "Exception during search: {}", text);
    }
    catch (...)
    {
    }
}

// Runs the query, stores the rows and delivers them; on failure marks the entry failed and completes
// the target empty. COM is initialised by the caller.
void run_and_deliver(search_results_target& target, search_cache& cache, const std::wstring& query,
                     const std::wstring& key) noexcept
{
    std::vector<search_result_record> records;
    try
    {
        records = run_search(L"*", query, L"");
    }
    catch (const std::exception& e)
    {
        log_search_exception(e.what());
        cache.fail(key);
        target.complete();
        return;
    }
    catch (...)
    {
        log_search_exception("unknown exception");
        cache.fail(key);
        target.complete();
        return;
    }
    try
    {
        cache.store(key, records);
    }
    catch (...)
    {
        // No memory for the cache's copy: the rows still reach this enumerator, and the next one
        // searches again.
        cache.fail(key);
    }
    deliver(target, records);
}

struct thread_context
{
    search_results_target* target = nullptr;
    search_cache* cache = nullptr;
    std::wstring query;
    std::wstring key;
    bool waits = false;
    // A reference on the module that holds this code: the thread can outlive every COM object of ours,
    // and Explorer must not unload the DLL under it.
    HMODULE module = nullptr;
};

DWORD WINAPI worker_thread(void* parameter)
{
    HMODULE module = nullptr;
    {
        std::unique_ptr<thread_context> context(static_cast<thread_context*>(parameter));
        module = context->module;
        if (context->waits)
            wait_thread(*context->target, *context->cache, context->query, context->key);
        else
            search_thread(*context->target, *context->cache, context->query, context->key);
        context->target->release_reference();
    }
    if (module)
        FreeLibraryAndExitThread(module, 0);
    return 0;
}

void start_worker(search_results_target& target, search_cache& cache, std::wstring query, std::wstring key,
                  bool waits)
{
    auto context = std::make_unique<thread_context>();
    context->target = &target;
    context->cache = &cache;
    context->query = std::move(query);
    context->key = std::move(key);
    context->waits = waits;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&worker_thread),
                       &context->module);
    target.add_reference();
    HANDLE thread = CreateThread(nullptr, 0, &worker_thread, context.get(), 0, nullptr);
    if (!thread)
    {
        const DWORD error = GetLastError();
        target.release_reference();
        if (context->module)
            FreeLibrary(context->module);
        if (!waits)
            cache.fail(context->key);
        throw std::system_error(static_cast<int>(error), std::system_category(), "CreateThread");
    }
    context.release();
    CloseHandle(thread);
}
} // namespace

void search_thread(search_results_target& target, search_cache& cache, const std::wstring& query,
                   const std::wstring& key)
{
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(initialized) && initialized != RPC_E_CHANGED_MODE)
    {
        try
        {
            log_message(log_level::warning, "Search thread: CoInitializeEx failed with HRESULT 0x{:X}",
                        hresult_bits(initialized));
        }
        catch (...)
        {
        }
    }
    run_and_deliver(target, cache, query, key);
    if (SUCCEEDED(initialized))
        CoUninitialize();
}

void wait_thread(search_results_target& target, search_cache& cache, const std::wstring& query,
                 const std::wstring& key)
{
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try
    {
        for (;;)
        {
            const auto attempt = std::chrono::steady_clock::now();
            auto found = cache.lookup(key);
            if (found.ready)
            {
                deliver(target, found.records);
                break;
            }
            if (found.must_search)
            {
                run_and_deliver(target, cache, query, key);
                break;
            }
            // store and fail wake this early; otherwise look again 100 ms after this attempt began.
            const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
                attempt + search_wait_period - std::chrono::steady_clock::now());
            if (remaining.count() > 0)
                cache.wait_for_change(key, remaining);
        }
    }
    catch (...)
    {
        log_caught_exception("Search thread");
        target.complete();
    }
    if (SUCCEEDED(initialized))
        CoUninitialize();
}

void start_search_thread(search_results_target& target, search_cache& cache, std::wstring query, std::wstring key)
{
    start_worker(target, cache, std::move(query), std::move(key), false);
}

void start_wait_thread(search_results_target& target, search_cache& cache, std::wstring query, std::wstring key)
{
    start_worker(target, cache, std::move(query), std::move(key), true);
}

void start_search_thread(search_results_target& target, std::wstring query, std::wstring key)
{
    start_search_thread(target, process_search_cache(), std::move(query), std::move(key));
}

void start_wait_thread(search_results_target& target, std::wstring query, std::wstring key)
{
    start_wait_thread(target, process_search_cache(), std::move(query), std::move(key));
}
