#include "items/path_cache.h"

#include "base/process_object.h"
#include "base/raii.h"
#include "search/search_cache.h"

#include <shlobj.h>

#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

namespace
{
class path_cache
{
public:
    // A clone of the stored list, or empty on a miss.
    unique_absolute_id_list find(const std::wstring& key) const
    {
        std::lock_guard lock(mutex_);
        const auto found = lists_.find(key);
        if (found == lists_.end())
            return {};
        return found->second.clone();
    }

    void insert(std::wstring key, const unique_absolute_id_list& list)
    {
        auto copy = list.clone();
        if (!copy)
            return;
        std::lock_guard lock(mutex_);
        if (lists_.size() >= path_cache_capacity)
            lists_.clear();
        lists_.insert_or_assign(std::move(key), std::move(copy));
    }

    void erase(const std::wstring& key) noexcept
    {
        std::lock_guard lock(mutex_);
        lists_.erase(key);
    }

    void clear() noexcept
    {
        std::lock_guard lock(mutex_);
        lists_.clear();
    }

    std::size_t size() const noexcept
    {
        std::lock_guard lock(mutex_);
        return lists_.size();
    }

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::wstring, unique_absolute_id_list> lists_;
};

path_cache& the_path_cache()
{
    static process_object<path_cache> cache;
    return cache.get();
}
} // namespace

HRESULT path_cache_lookup(std::wstring_view path, PIDLIST_ABSOLUTE* out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    try
    {
        std::wstring key = search_cache_key(path);
        auto& cache = the_path_cache();
        if (auto cached = cache.find(key))
        {
            *out = cached.release();
            return S_OK;
        }
        const std::wstring text(path);
        unique_absolute_id_list parsed;
        const HRESULT hr = SHParseDisplayName(text.c_str(), nullptr, parsed.put(), 0, nullptr);
        if (FAILED(hr))
            return hr;
        if (!parsed)
            return E_FAIL;
        cache.insert(std::move(key), parsed);
        *out = parsed.release();
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_FAIL;
    }
}

void path_cache_forget(std::wstring_view path) noexcept
{
    try
    {
        the_path_cache().erase(search_cache_key(path));
    }
    catch (...)
    {
    }
}

void path_cache_clear() noexcept
{
    the_path_cache().clear();
}

std::size_t path_cache_size() noexcept
{
    return the_path_cache().size();
}
