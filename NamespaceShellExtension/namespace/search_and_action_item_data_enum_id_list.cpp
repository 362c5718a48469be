#include "namespace/search_and_action_item_data_enum_id_list.h"

#include "namespace/search_and_action_item_data.h"

#include <iterator>

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

void search_and_action_item_data_enum_id_list::append(std::vector<unique_child_id> items)
{
    if (items.empty())
        return;
    {
        critical_section_lock lock(items_lock_);
        items_.reserve(items_.size() + items.size());
        std::move(items.begin(), items.end(), std::back_inserter(items_));
    }
    // A Next that waits for the first results wakes now rather than at the end of its slice.
    std::lock_guard state(state_mutex_);
    state_changed_.notify_all();
}

void search_and_action_item_data_enum_id_list::append_results(const std::vector<search_result_record>& records)
{
    append(create_result_items(records));
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
    return items_.size();
}

void search_and_action_item_data_enum_id_list::wait_for_items(std::uint64_t position)
{
    const auto deadline = std::chrono::steady_clock::now() + wait_slice;
    std::unique_lock state(state_mutex_);
    state_changed_.wait_until(state, deadline, [&] { return complete_ || item_count() > position; });
}

// Hands out copies of the next items. While a search thread still fills the list and nothing is there
// yet, it waits for the thread (in slices, so it never misses an append); a caller thus gets every
// result without polling, and S_FALSE only at the real end of the list.
STDMETHODIMP search_and_action_item_data_enum_id_list::Next(ULONG count, PITEMID_CHILD* out, ULONG* fetched) noexcept
{
    if (!out)
        return E_POINTER;
    if (fetched)
        *fetched = 0;
    if (count == 0)
        return S_OK;
    ULONG copied = 0;
    for (;;)
    {
        // Read before copying: the threads append before they complete, so a list seen complete here
        // already holds everything the copy below must take.
        bool done = searching_done();
        if (!done)
        {
            std::uint64_t position = 0;
            std::size_t available = 0;
            {
                critical_section_lock lock(items_lock_);
                position = position_;
                available = items_.size();
            }
            if (position >= available)
            {
                try
                {
                    wait_for_items(position);
                }
                catch (...)
                {
                    // Waiting cannot fail on a healthy system; without it the loop polls.
                    Sleep(static_cast<DWORD>(wait_slice.count()));
                }
            }
            done = searching_done();
        }
        {
            critical_section_lock lock(items_lock_);
            while (copied < count && position_ < items_.size())
            {
                auto* copy = static_cast<PITEMID_CHILD>(ILClone(items_[static_cast<std::size_t>(position_)].get()));
                if (!copy)
                {
                    if (fetched)
                        *fetched = copied;
                    return E_OUTOFMEMORY;
                }
                out[copied++] = copy;
                ++position_;
            }
        }
        if (copied > 0 || done)
            break;
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
