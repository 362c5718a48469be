#include "quick_pins/quick_pins_drop_target.h"

#include "base/com_boundary.h"
#include "base/com_object.h"
#include "base/dropped_files.h"
#include "base/log.h"
#include "base/raii.h"
#include "quick_pins/quick_pins_store.h"

#include <string>
#include <vector>

namespace
{
class quick_pins_drop_target : public com_object<quick_pins_drop_target, IDropTarget>
{
public:
    HRESULT initialize(const std::wstring& group_path, PCIDLIST_ABSOLUTE group_id_list)
    {
        group_path_ = group_path;
        if (group_id_list)
        {
            group_id_list_.reset(ILCloneFull(group_id_list));
            if (!group_id_list_)
                return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    STDMETHODIMP DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) noexcept override { return offer_link(effect); }
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) noexcept override { return offer_link(effect); }
    STDMETHODIMP DragLeave() noexcept override { return S_OK; }
    STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) noexcept override
    {
        if (effect)
            *effect = DROPEFFECT_LINK;
        if (!data)
            return E_INVALIDARG;
        return com_boundary("Quick pins drop", [&] { return pin_dropped_files(data); });
    }

private:
    friend class com_object<quick_pins_drop_target, IDropTarget>;
    quick_pins_drop_target() noexcept = default;

    // Whatever is dragged and whatever keys are held: a link, so the files themselves never move.
    static HRESULT offer_link(DWORD* effect) noexcept
    {
        if (!effect)
            return E_POINTER;
        *effect = DROPEFFECT_LINK;
        return S_OK;
    }

    HRESULT pin_dropped_files(IDataObject* data)
    {
        dropped_files files = read_dropped_files(data);
        if (files.result == dropped_files::outcome::no_file_list)
            return S_OK;
        if (files.result == dropped_files::outcome::unreadable)
            return E_FAIL;
        if (files.paths.empty())
            return S_OK;

        // The store takes its own cross-process lock; concurrent drops in other windows and processes
        // wait there.
        const auto pinned = group_path_.empty() || files.paths.size() > quick_pins_limits::max_paths_per_operation
                                ? std::nullopt
                                : pin_items(group_path_, files.paths);
        if (!pinned)
        {
            log_message(log_level::error, L"Quick pins drop: could not pin {} item(s) into {}", files.paths.size(),
                        group_path_);
            return E_FAIL;
        }
        // Refreshes the group's open view and its node in the navigation pane.
        if (*pinned > 0 && group_id_list_)
            SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, group_id_list_.get(), nullptr);
        return S_OK;
    }

    // Set once by initialize and never changed: drops on any thread read them without a lock.
    std::wstring group_path_;
    unique_absolute_id_list group_id_list_;
};
} // namespace

HRESULT create_quick_pins_drop_target(const std::wstring& group_path, PCIDLIST_ABSOLUTE group_id_list, REFIID riid,
                                      void** out) noexcept
{
    return quick_pins_drop_target::create_instance(riid, out, group_path, group_id_list);
}
