#pragma once
// The enumerator a folder hands out from EnumObjects. Organised folders, searches and pins are all in
// the list when EnumObjects returns; a saved search's results arrive later from a search or waiting
// thread (search/search_thread.h), and Next waits for them in 75 ms slices until the thread marks the
// list complete. The items list only grows, so a position handed out stays valid.

#include "module/com_object.h"
#include "module/raii.h"
#include "search/search_thread.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
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
    void add_reference() noexcept override { AddRef(); }
    void release_reference() noexcept override { Release(); }
    void append_results(const std::vector<search_result_record>& records) override;
    void complete() noexcept override;

    // The folder's side while it fills the list.
    SHCONTF flags() const noexcept { return flags_; }
    void append(std::vector<unique_child_id> items);
    // A search thread is about to fill the list: Next waits for it.
    void mark_searching() noexcept;

    bool is_complete() const noexcept;
    std::size_t item_count() const noexcept;

private:
    friend class com_object<search_and_action_item_data_enum_id_list, IEnumIDList>;
    search_and_action_item_data_enum_id_list() noexcept = default;
    ~search_and_action_item_data_enum_id_list() override = default;
    HRESULT initialize(IUnknown* folder, SHCONTF flags) noexcept;

    // Waits until the list holds more than `position` items or is complete, or the slice has passed.
    void wait_for_items(std::uint64_t position);
    // No search thread fills the list, or it has finished.
    bool searching_done() const noexcept;

    com_ptr<IUnknown> folder_;
    SHCONTF flags_ = 0;

    mutable critical_section items_lock_;
    // Guarded by items_lock_.
    std::uint64_t position_ = 0;
    std::vector<unique_child_id> items_;

    mutable std::mutex state_mutex_;
    std::condition_variable state_changed_;
    // Guarded by state_mutex_.
    bool complete_ = false;
    bool searching_ = false;
};
