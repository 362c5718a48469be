#include "namespace/search_and_action_item_data_enum_id_list.h"

#include "search/volume_guard.h"

#include <iterator>
#include <new>

HRESULT search_and_action_item_data_enum_id_list::create_enumerator(
    IUnknown* folder, SHCONTF flags, search_and_action_item_data_enum_id_list** out) noexcept
{
    if (!out)
        return E_POINTER;
    return create(out, folder, flags);
}

HRESULT search_and_action_item_data_enum_id_list::initialize(IUnknown* folder, SHCONTF flags) noexcept
{
    if (!items_lock_.initialized())
        return E_OUTOFMEMORY;
    folder_ = com_ptr<IUnknown>(folder);
    flags_ = flags;
    return S_OK;
}

void search_and_action_item_data_enum_id_list::add_reference() noexcept
{
    // Counted after the reference itself, and given back before it: a count read in between errs
    // towards a reader who still wants the rows.
    AddRef();
    ++worker_references_;
}

void search_and_action_item_data_enum_id_list::release_reference() noexcept
{
    --worker_references_;
    Release();
}

bool search_and_action_item_data_enum_id_list::wants_results() const noexcept
{
    return reference_count() > worker_references_.load();
}

void search_and_action_item_data_enum_id_list::wake_waiter(std::size_t size) noexcept
{
    const std::uint64_t wanted = waiting_for_.load();
    if (wanted == 0 || size < wanted)
        return;
    std::lock_guard state(state_mutex_);
    state_changed_.notify_all();
}

void search_and_action_item_data_enum_id_list::append(std::vector<unique_child_id> items)
{
    if (items.empty())
        return;
    std::size_t size = 0;
    {
        critical_section_lock lock(items_lock_);
        items_.reserve(items_.size() + items.size());
        std::move(items.begin(), items.end(), std::back_inserter(items_));
        size = size_locked();
    }
    wake_waiter(size);
}

// Each row is checked outside the lock (the checks read the file's attributes) and appended on its own,
// so that Next can hand it out while the next one is checked.
void search_and_action_item_data_enum_id_list::append_results(std::span<const search_result_record> records)
{
    auto& guard = process_volume_guard();
    std::size_t size = 0;
    for (const auto& record : records)
    {
        auto row = check_result(record.path, record.keywords, record.people, guard);
        if (!row)
            continue;
        critical_section_lock lock(items_lock_);
        rows_.push_back(std::move(*row));
        size = size_locked();
    }
    if (size > 0)
        wake_waiter(size);
}

void search_and_action_item_data_enum_id_list::complete() noexcept
{
    std::lock_guard state(state_mutex_);
    complete_ = true;
    state_changed_.notify_all();
}

void search_and_action_item_data_enum_id_list::mark_searching() noexcept
{
    std::lock_guard state(state_mutex_);
    searching_ = true;
}

bool search_and_action_item_data_enum_id_list::searching_done() const noexcept
{
    std::lock_guard state(state_mutex_);
    return complete_ || !searching_;
}

bool search_and_action_item_data_enum_id_list::is_complete() const noexcept
{
    std::lock_guard state(state_mutex_);
    return complete_;
}

std::size_t search_and_action_item_data_enum_id_list::item_count() const noexcept
{
    critical_section_lock lock(items_lock_);
    return size_locked();
}

void search_and_action_item_data_enum_id_list::wait_for_items(std::uint64_t wanted)
{
    // Announced before the list is looked at under the state mutex: an append after that look sees it
    // and wakes this wait, one before it is seen by the look.
    waiting_for_ = wanted;
    const auto deadline = std::chrono::steady_clock::now() + wait_slice;
    std::unique_lock state(state_mutex_);
    state_changed_.wait_until(state, deadline, [&] { return complete_ || item_count() >= wanted; });
    waiting_for_ = 0;
}

// Hands out the next `count` items. While a search still fills the list and fewer than `count` are
// there, it waits for them in slices (so it never misses an append); S_FALSE only at the real end of the
// list, which Explorer takes as the end. Identifiers of rows are made here, outside the items lock.
STDMETHODIMP search_and_action_item_data_enum_id_list::Next(ULONG count, PITEMID_CHILD* out, ULONG* fetched) noexcept
{
    if (!out)
        return E_POINTER;
    if (fetched)
        *fetched = 0;
    if (count == 0)
        return S_OK;
    for (;;)
    {
        // Read before the list: the threads append before they complete, so a list seen complete here
        // already holds everything that the loop below must take.
        const bool done = searching_done();
        std::uint64_t wanted = 0;
        {
            critical_section_lock lock(items_lock_);
            wanted = position_ + count;
            if (done || size_locked() >= wanted)
                break;
        }
        try
        {
            wait_for_items(wanted);
        }
        catch (...)
        {
            // Waiting cannot fail on a healthy system; without it the loop polls.
            waiting_for_ = 0;
            Sleep(static_cast<DWORD>(wait_slice.count()));
        }
    }

    ULONG copied = 0;
    while (copied < count)
    {
        // Rows taken under the lock in groups; their identifiers are made after it is released.
        const result_row* group[64];
        ULONG taken = 0;
        std::uint64_t start = 0;
        {
            critical_section_lock lock(items_lock_);
            start = position_;
            while (copied + taken < count && taken < std::size(group) && position_ < size_locked())
            {
                const auto at = static_cast<std::size_t>(position_);
                group[taken] = nullptr;
                if (at < items_.size())
                {
                    auto* copy = static_cast<PITEMID_CHILD>(ILClone(items_[at].get()));
                    if (!copy)
                    {
                        if (fetched)
                            *fetched = copied + taken;
                        return E_OUTOFMEMORY;
                    }
                    out[copied + taken] = copy;
                }
                else
                    group[taken] = &rows_[at - items_.size()];
                ++taken;
                ++position_;
            }
        }
        if (taken == 0)
            break;
        for (ULONG i = 0; i < taken; ++i)
        {
            if (!group[i])
                continue;
            try
            {
                out[copied + i] = create_result_item(*group[i]).release();
            }
            catch (...)
            {
                // The ones made so far are the caller's; the position stops at the first one not made.
                critical_section_lock lock(items_lock_);
                if (position_ == start + taken)
                    position_ = start + i;
                if (fetched)
                    *fetched = copied + i;
                return E_OUTOFMEMORY;
            }
        }
        copied += taken;
    }
    if (fetched)
        *fetched = copied;
    return copied == count ? S_OK : S_FALSE;
}

// No bound check: a later Next simply finds nothing.
STDMETHODIMP search_and_action_item_data_enum_id_list::Skip(ULONG count) noexcept
{
    critical_section_lock lock(items_lock_);
    position_ += count;
    return S_OK;
}

STDMETHODIMP search_and_action_item_data_enum_id_list::Reset() noexcept
{
    critical_section_lock lock(items_lock_);
    position_ = 0;
    return S_OK;
}

STDMETHODIMP search_and_action_item_data_enum_id_list::Clone(IEnumIDList** out) noexcept
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}
