#include "namespace/real_parent_cache.h"

#include "base/log.h"
#include "base/process_object.h"
#include "items/path_cache.h"
#include "namespace/folder_columns.h"

#include <algorithm>
#include <cwchar>
#include <utility>
#include <vector>

namespace
{
// CLSID_ShellFSFolder: the file system's own folders, which any apartment may use.
constexpr CLSID file_system_folder_class = {0xF3364BA0, 0x65B9, 0x11CE, {0xA9, 0xBA, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};

class real_parent_cache
{
public:
    using item_entry = std::shared_ptr<const real_parent_of_item>;

    com_ptr<IShellFolder> find_folder(const BYTE* key, std::size_t size) const noexcept
    {
        com_ptr<IShellFolder> found;
        AcquireSRWLockShared(&lock_);
        for (const auto& entry : folders_)
        {
            if (entry.key.size() == size && std::equal(key, key + size, entry.key.begin()))
            {
                found = entry.folder;
                break;
            }
        }
        ReleaseSRWLockShared(&lock_);
        return found;
    }

    // Keeps the folder unless another thread has just kept one for the same list. Running out of memory
    // keeps nothing.
    void store_folder(std::vector<BYTE> key, com_ptr<IShellFolder> folder) noexcept
    {
        folder_entry made{std::move(key), std::move(folder)};
        std::vector<folder_entry> dropped;
        AcquireSRWLockExclusive(&lock_);
        const bool known = std::any_of(folders_.begin(), folders_.end(),
                                       [&](const folder_entry& entry) { return entry.key == made.key; });
        if (!known)
        {
            if (folders_.size() >= real_parent_folder_capacity)
                folders_.swap(dropped);
            try
            {
                folders_.push_back(std::move(made));
            }
            catch (...)
            {
            }
        }
        ReleaseSRWLockExclusive(&lock_);
        // `made` and `dropped` release their folders here, outside the lock.
    }

    // The entry for this identifier; `changed` tells that the file changed since its entry was made.
    item_entry find_item(const search_and_action_item_data* item, bool& changed) const noexcept
    {
        changed = false;
        item_entry found;
        AcquireSRWLockShared(&lock_);
        found = items_[slot(item)];
        ReleaseSRWLockShared(&lock_);
        if (!found || !same_path(*found, item))
            return {};
        if (found->stamp != item->stamp)
        {
            changed = true;
            return {};
        }
        return found;
    }

    void store_item(const search_and_action_item_data* item, item_entry value) noexcept
    {
        AcquireSRWLockExclusive(&lock_);
        items_[slot(item)].swap(value);
        ReleaseSRWLockExclusive(&lock_);
    }

    void clear() noexcept
    {
        std::vector<folder_entry> folders;
        item_entry items[item_slot_count];
        AcquireSRWLockExclusive(&lock_);
        folders.swap(folders_);
        for (std::size_t i = 0; i < item_slot_count; ++i)
            items[i].swap(items_[i]);
        ReleaseSRWLockExclusive(&lock_);
    }

    std::size_t folder_count() const noexcept
    {
        AcquireSRWLockShared(&lock_);
        const std::size_t count = folders_.size();
        ReleaseSRWLockShared(&lock_);
        return count;
    }

private:
    struct folder_entry
    {
        // The parent's ID list, without its terminator.
        std::vector<BYTE> key;
        com_ptr<IShellFolder> folder;
    };

    static constexpr std::size_t item_slot_count = 64;
    static std::size_t slot(const void* item) noexcept
    {
        return (reinterpret_cast<std::uintptr_t>(item) >> 4) % item_slot_count;
    }
    static bool same_path(const real_parent_of_item& parent, const search_and_action_item_data* item) noexcept
    {
        const std::size_t length = parent.path.size();
        constexpr std::size_t capacity = sizeof(item->path) / sizeof(wchar_t);
        return length < capacity && item->path[length] == L'\0' &&
               std::wmemcmp(parent.path.data(), item->path, length) == 0;
    }

    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<folder_entry> folders_;
    item_entry items_[item_slot_count];
};

real_parent_cache& the_real_parent_cache() noexcept
{
    // Constructing it allocates nothing.
    static process_object<real_parent_cache> cache;
    return cache.get();
}

// The parent folder of `list` and whether the cache keeps it (or already kept it).
HRESULT bind_parent(PCIDLIST_ABSOLUTE list, com_ptr<IShellFolder>& parent, PCUITEMID_CHILD& last, bool& shared)
{
    parent.reset();
    last = nullptr;
    shared = false;
    if (!list)
        return E_INVALIDARG;
    auto& cache = the_real_parent_cache();
    const auto* begin = reinterpret_cast<const BYTE*>(list);
    const auto* end = reinterpret_cast<const BYTE*>(ILFindLastID(list));
    if (auto found = cache.find_folder(begin, static_cast<std::size_t>(end - begin)))
    {
        parent = std::move(found);
        last = reinterpret_cast<PCUITEMID_CHILD>(end);
        shared = true;
        return S_OK;
    }
    const HRESULT hr = SHBindToParent(list, IID_IShellFolder, parent.put_void(), &last);
    if (FAILED(hr) || !parent)
    {
        parent.reset();
        last = nullptr;
        return FAILED(hr) ? hr : E_FAIL;
    }
    if (is_file_system_folder(parent.get()))
    {
        cache.store_folder(std::vector<BYTE>(begin, end), parent);
        shared = true;
    }
    return hr;
}
} // namespace

bool is_file_system_folder(IShellFolder* folder) noexcept
{
    if (!folder)
        return false;
    com_ptr<IPersist> persist;
    if (FAILED(folder->QueryInterface(IID_IPersist, persist.put_void())) || !persist)
        return false;
    CLSID clsid{};
    return SUCCEEDED(persist->GetClassID(&clsid)) && IsEqualCLSID(clsid, file_system_folder_class);
}

HRESULT bind_real_parent(PCIDLIST_ABSOLUTE list, com_ptr<IShellFolder>& parent, PCUITEMID_CHILD& last)
{
    bool shared = false;
    return bind_parent(list, parent, last, shared);
}

HRESULT bind_real_parent_of_item(const char* method, const search_and_action_item_data* item,
                                 std::shared_ptr<const real_parent_of_item>& parent)
{
    auto& cache = the_real_parent_cache();
    bool changed = false;
    parent = cache.find_item(item, changed);
    if (parent)
        return S_OK;

    auto made = std::make_shared<real_parent_of_item>();
    made->path.assign(field_view(item->path));
    made->stamp = item->stamp;
    unique_absolute_id_list full;
    HRESULT hr = changed ? SHParseDisplayName(made->path.c_str(), nullptr, full.put(), 0, nullptr)
                         : path_cache_lookup(made->path, full.put());
    if (SUCCEEDED(hr) && !full)
        hr = E_FAIL;
    if (FAILED(hr))
    {
        log_message(log_level::warning, "{}: filesystem pidl parse failed with HRESULT 0x{:X}", method, hresult_bits(hr));
        return hr;
    }
    com_ptr<IShellFolder> folder;
    PCUITEMID_CHILD last = nullptr;
    bool shared = false;
    hr = bind_parent(full.get(), folder, last, shared);
    if (FAILED(hr))
    {
        log_message(log_level::warning, "{}: SHBindToParent failed with HRESULT 0x{:X}", method, hresult_bits(hr));
        return hr;
    }
    hr = folder->QueryInterface(IID_IShellFolder2, made->folder.put_void());
    if (FAILED(hr))
    {
        log_message(log_level::warning, "{}: QueryInterface failed with HRESULT 0x{:X}", method, hresult_bits(hr));
        return hr;
    }
    made->last.reset(ILCloneFirst(last));
    if (!made->last)
        return E_OUTOFMEMORY;
    parent = made;
    if (shared)
        cache.store_item(item, std::move(made));
    return S_OK;
}

void clear_real_parents() noexcept
{
    the_real_parent_cache().clear();
}

std::size_t real_parent_folder_count() noexcept
{
    return the_real_parent_cache().folder_count();
}
