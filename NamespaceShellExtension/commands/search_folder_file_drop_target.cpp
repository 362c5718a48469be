#include "commands/search_folder_file_drop_target.h"

#include "base/com_object.h"
#include "base/dropped_files.h"
#include "base/log.h"
#include "base/namespace_module.h"
#include "base/raii.h"
#include "commands/batch_job.h"
#include "items/action_type.h"
#include "items/search_and_action_item_data.h"

#include <exception>
#include <new>
#include <string>
#include <vector>

namespace
{
constexpr wchar_t black_star = L'\u2605';

// With the error's text, or without for an error that carries none.
void log_drop_failure(const char* details) noexcept
{
    try
    {
        if (details && *details)
            log_message(log_level::error, "Error handling drop of files. Details: {}", details);
        else
            log_message(log_level::error, "Error handling drop of files");
    }
    catch (...)
    {
    }
}

class search_folder_file_drop_target : public com_object<search_folder_file_drop_target, IDropTarget>
{
public:
    HRESULT initialize(PCUITEMID_CHILD item) noexcept
    {
        // Only our own identifiers are kept; anything else leaves a target that refuses.
        if (!own_item_data(item))
            return S_OK;
        item_.reset(reinterpret_cast<PITEMID_CHILD>(ILCloneFirst(item)));
        return item_ ? S_OK : E_OUTOFMEMORY;
    }

    // Files may land on a saved search only; the data object is not looked at before the drop.
    STDMETHODIMP DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) noexcept override { return offer_link(effect); }
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) noexcept override { return offer_link(effect); }
    STDMETHODIMP DragLeave() noexcept override { return S_OK; }
    STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) noexcept override;

private:
    friend class com_object<search_folder_file_drop_target, IDropTarget>;
    search_folder_file_drop_target() noexcept = default;

    bool accepts_drops() const noexcept
    {
        const auto* record = item_ ? own_item_data(item_.get()) : nullptr;
        return record && record->kind == static_cast<std::uint8_t>(item_kind::organized_search);
    }

    HRESULT offer_link(DWORD* effect) noexcept
    {
        if (!accepts_drops())
            return E_FAIL;
        if (!effect)
            return E_POINTER;
        *effect = DROPEFFECT_LINK;
        return S_OK;
    }

    HRESULT submit(IDataObject* data);

    // Set once by initialize and never changed: drops on any thread read it without a lock.
    unique_child_id item_;
};

STDMETHODIMP search_folder_file_drop_target::Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) noexcept
{
    if (!accepts_drops())
        return E_FAIL;
    if (effect)
        *effect = DROPEFFECT_LINK;
    if (!data)
        return E_INVALIDARG;
    try
    {
        return submit(data);
    }
    catch (const std::bad_alloc& e)
    {
        log_drop_failure(e.what());
        return E_OUTOFMEMORY;
    }
    catch (const std::exception& e)
    {
        log_drop_failure(e.what());
        return E_FAIL;
    }
    catch (...)
    {
        log_drop_failure(nullptr);
        return E_FAIL;
    }
}

HRESULT search_folder_file_drop_target::submit(IDataObject* data)
{
    dropped_files files = read_dropped_files(data);
    if (files.result == dropped_files::outcome::no_file_list)
        return S_OK;
    if (files.result == dropped_files::outcome::unreadable)
        return E_FAIL;

    const auto* record = own_item_data(item_.get());
    const std::wstring name = item_display_name(record);
    const std::wstring parameters(record->action_parameters,
                                  wcsnlen(record->action_parameters, std::size(record->action_parameters)));
    // "★★★" rates 3. The search's configured action type is not consulted: a star name rates, any
    // other name toggles the search's own tags.
    if (!name.empty() && name.front() == black_star)
        submit_batch_job(module_instance, files.paths, action_type::set_rating, std::to_wstring(name.size()));
    else
        submit_batch_job(module_instance, files.paths, action_type::toggle_tags, parameters);
    return S_OK;
}
} // namespace

HRESULT create_search_folder_file_drop_target(PCUITEMID_CHILD item, REFIID riid, void** out) noexcept
{
    return search_folder_file_drop_target::create_instance(riid, out, item);
}
