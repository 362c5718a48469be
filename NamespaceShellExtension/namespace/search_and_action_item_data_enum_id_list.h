#pragma once
// The enumerator a folder hands out from EnumObjects. Organised folders, searches and pins are all in
// the list when EnumObjects returns, as identifiers. A saved search's results are kept as checked rows
// (path, keywords, people, stamp; see result_row), not identifiers: Next makes each identifier once, for
// the caller who owns it, so a listing of 25,000 results holds one set of 12066-byte identifiers (the
// view's), not two. The rows arrive from a search or waiting thread while the query runs; Next hands out
// n items as soon as n are there and waits, in 75 ms slices, only while fewer are there and the search
// still runs. The list only grows, so a position handed out stays valid, and Reset starts again.

#include "base/com_object.h"
#include "base/raii.h"
#include "items/search_and_action_item_data.h"
#include "search/search_thread.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

class search_and_action_item_data_enum_id_list final
    : public com_object<search_and_action_item_data_enum_id_list, IEnumIDList>,
      public search_results_target
{
public:
    // How long one wait of Next lasts before it looks at the list again.
    static constexpr std::chrono::milliseconds wait_slice{75};

    // An empty enumerator for `folder` (kept alive while the enumerator lives), with one reference.
    static HRESULT create_enumerator(IUnknown* folder, SHCONTF flags,
                                     search_and_action_item_data_enum_id_list** out) noexcept;

    // IEnumIDList
    STDMETHODIMP Next(ULONG count, PITEMID_CHILD* out, ULONG* fetched) noexcept override;
    STDMETHODIMP Skip(ULONG count) noexcept override;
    STDMETHODIMP Reset() noexcept override;
    STDMETHODIMP Clone(IEnumIDList** out) noexcept override;

    // search_results_target: the worker threads' side.
    void add_reference() noexcept override;
    void release_reference() noexcept override;
    void append_results(std::span<const search_result_record> records) override;
    void complete() noexcept override;
    bool wants_results() const noexcept override;

    // The folder's side while it fills the list.
    SHCONTF flags() const noexcept { return flags_; }
    void append(std::vector<unique_child_id> items);
    // A search thread is about to fill the list: Next waits for it.
    void mark_searching() noexcept;

    bool is_complete() const noexcept;
    std::size_t item_count() const noexcept;

private:
    friend class com_object<search_and_action_item_data_enum_id_list, IEnumIDList>;
    // May throw std::bad_alloc: an empty deque already allocates its map. com_object::create turns that
    // into E_OUTOFMEMORY; declared noexcept, it ended the process instead.
    search_and_action_item_data_enum_id_list() = default;
    ~search_and_action_item_data_enum_id_list() override = default;
    HRESULT initialize(IUnknown* folder, SHCONTF flags) noexcept;

    // Under items_lock_.
    std::size_t size_locked() const noexcept { return items_.size() + rows_.size(); }
    // Wakes a Next that waits for fewer items than the list now holds.
    void wake_waiter(std::size_t size) noexcept;
    // Waits until the list holds `wanted` items or is complete, or the slice has passed.
    void wait_for_items(std::uint64_t wanted);
    // No search thread fills the list, or it has finished.
    bool searching_done() const noexcept;

    com_ptr<IUnknown> folder_;
    SHCONTF flags_ = 0;

    mutable critical_section items_lock_;
    // Guarded by items_lock_. Positions count the identifiers first, then the rows (an enumerator holds
    // one kind or the other). A deque: a row once appended never moves, so Next makes identifiers from
    // it outside the lock while a search thread appends.
    std::uint64_t position_ = 0;
    std::vector<unique_child_id> items_;
    std::deque<result_row> rows_;

    mutable std::mutex state_mutex_;
    std::condition_variable state_changed_;
    // Guarded by state_mutex_.
    bool complete_ = false;
    bool searching_ = false;
    // The item count a waiting Next needs; 0 when none waits. Appends wake it only when that is reached.
    std::atomic<std::uint64_t> waiting_for_{0};
    // References held by worker threads.
    std::atomic<ULONG> worker_references_{0};
};
