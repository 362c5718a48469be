#include "search/search_thread.h"

#include "base/log.h"
#include "search/search_query.h"

#include <objbase.h>

#include <exception>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace
{
// Hands rows to the target until it refuses them or nobody reads them any more, and completes it
// exactly once: an enumerator left incomplete would make Explorer's Next wait for ever.
class delivery
{
public:
    explicit delivery(search_results_target& target) noexcept : target_(target) {}
    delivery(const delivery&) = delete;
    delivery& operator=(const delivery&) = delete;
    ~delivery() { complete(); }

    // Whether anyone still takes rows.
    bool open() const noexcept { return !completed_ && target_.wants_results(); }

    void deliver(std::span<const search_result_record> records) noexcept
    {
        if (records.empty() || !open())
            return;
        try
        {
            target_.append_results(records);
        }
        catch (...)
        {
            log_caught_exception("Search thread");
            complete();
        }
    }

    void complete() noexcept
    {
        if (!completed_)
            target_.complete();
        completed_ = true;
    }

private:
    search_results_target& target_;
    bool completed_ = false;
};

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

// Runs the query: each row goes to the cache first (the columns of a row the view shows come from
// there) and then to the target. Ends the run finished, or failed when the search throws; the rows
// delivered so far stay. Completing the target is the caller's. COM is initialised by the caller.
void run_and_deliver(delivery& to, search_run& run, const std::wstring& query) noexcept
{
    try
    {
        run_search(L"*", query, L"", [&](search_result_record&& record) {
            run.append(record);
            to.deliver({&record, 1});
        });
        run.finish();
    }
    catch (const std::exception& e)
    {
        log_search_exception(e.what());
        run.fail();
    }
    catch (...)
    {
        log_search_exception("unknown exception");
        run.fail();
    }
}

// Follows another thread's run of the query, or runs it when that becomes this thread's duty.
void follow_or_run(delivery& to, search_cache& cache, const std::wstring& query, const std::wstring& key)
{
    for (;;)
    {
        auto found = cache.lookup(key);
        if (found.ready)
        {
            to.deliver(found.records);
            return;
        }
        if (found.must_search)
        {
            run_and_deliver(to, found.run, query);
            return;
        }
        // The rows found so far at once, then the rest in batches.
        std::size_t offset = 0;
        auto wait = std::chrono::milliseconds(0);
        search_progress progress;
        do
        {
            // Nobody reads the rows any more: the search goes on without this thread.
            if (!to.open())
                return;
            progress = cache.follow(found.running, offset, wait);
            to.deliver(progress.records);
            offset += progress.records.size();
            wait = search_follow_period;
        } while (progress.state == search_state::running);
        // A run that failed midway ends the list with the rows it found; one that found nothing is
        // looked up again, and may now be this thread's to run.
        if (progress.state == search_state::finished || offset > 0)
            return;
    }
}

struct thread_context
{
    search_results_target* target = nullptr;
    search_cache* cache = nullptr;
    // The search thread's claim; empty for a waiting thread.
    search_run run;
    std::wstring query;
    std::wstring key;
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
        if (context->run)
            search_thread(*context->target, std::move(context->run), context->query);
        else
            wait_thread(*context->target, *context->cache, context->query, context->key);
        context->target->release_reference();
    }
    if (module)
        FreeLibraryAndExitThread(module, 0);
    return 0;
}

// When anything here fails, the context (or, before it is made, the parameter) takes the search
// thread's claim with it, and that marks the cache entry failed.
void start_worker(search_results_target& target, search_cache* cache, search_run run, std::wstring query,
                  std::wstring key)
{
    auto context = std::make_unique<thread_context>();
    context->target = &target;
    context->cache = cache;
    context->run = std::move(run);
    context->query = std::move(query);
    context->key = std::move(key);
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
        throw std::system_error(static_cast<int>(error), std::system_category(), "CreateThread");
    }
    context.release();
    CloseHandle(thread);
}
} // namespace

void search_thread(search_results_target& target, search_run run, const std::wstring& query) noexcept
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
    {
        delivery to(target);
        run_and_deliver(to, run, query);
    }
    if (SUCCEEDED(initialized))
        CoUninitialize();
}

void wait_thread(search_results_target& target, search_cache& cache, const std::wstring& query,
                 const std::wstring& key) noexcept
{
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        delivery to(target);
        try
        {
            follow_or_run(to, cache, query, key);
        }
        catch (...)
        {
            log_caught_exception("Search thread");
        }
    }
    if (SUCCEEDED(initialized))
        CoUninitialize();
}

void start_search_thread(search_results_target& target, search_run run, std::wstring query)
{
    if (!run)
        throw std::invalid_argument("start_search_thread: no search to run");
    start_worker(target, nullptr, std::move(run), std::move(query), std::wstring());
}

void start_wait_thread(search_results_target& target, search_cache& cache, std::wstring query, std::wstring key)
{
    start_worker(target, &cache, search_run(), std::move(query), std::move(key));
}

void start_wait_thread(search_results_target& target, std::wstring query, std::wstring key)
{
    start_wait_thread(target, process_search_cache(), std::move(query), std::move(key));
}
