// The pass-through data object and its check when the last reference goes.

#include "namespace/search_result_data_object.h"

#include "base/log.h"
#include "search/search_cache.h"

#include <shlobj.h>

HRESULT search_result_data_object::initialize(IDataObject* inner, PCIDLIST_ABSOLUTE folder,
                                              std::vector<std::wstring> paths) noexcept
{
    if (folder)
    {
        folder_.reset(ILCloneFull(folder));
        if (!folder_)
            return E_OUTOFMEMORY;
    }
    inner_ = com_ptr<IDataObject>(inner);
    paths_ = std::move(paths);
    return S_OK;
}

namespace
{
// A file of `paths` is gone, and not because the folder renamed it.
bool any_file_vanished_unrenamed(const std::vector<std::wstring>& paths)
{
    for (const auto& path : paths)
    {
        if (path.empty() || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (!process_search_cache().is_moved_path(path))
            return true;
    }
    return false;
}
} // namespace

search_result_data_object::~search_result_data_object()
{
    // Released on any thread, possibly by a drop target in another window: nothing here may throw.
    try
    {
        if (folder_ && !paths_.empty() && any_file_vanished_unrenamed(paths_))
            SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, folder_.get(), nullptr);
    }
    catch (...)
    {
        log_caught_exception("search_result_data_object::Release");
    }
}

HRESULT search_result_data_object::query_other_interface(REFIID riid, void** ppv) noexcept
{
    return inner_->QueryInterface(riid, ppv);
}

STDMETHODIMP search_result_data_object::GetData(FORMATETC* format, STGMEDIUM* medium) noexcept
{
    return inner_->GetData(format, medium);
}

STDMETHODIMP search_result_data_object::GetDataHere(FORMATETC* format, STGMEDIUM* medium) noexcept
{
    return inner_->GetDataHere(format, medium);
}

STDMETHODIMP search_result_data_object::QueryGetData(FORMATETC* format) noexcept
{
    return inner_->QueryGetData(format);
}

STDMETHODIMP search_result_data_object::GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) noexcept
{
    return inner_->GetCanonicalFormatEtc(in, out);
}

STDMETHODIMP search_result_data_object::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) noexcept
{
    return inner_->SetData(format, medium, release);
}

STDMETHODIMP search_result_data_object::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) noexcept
{
    return inner_->EnumFormatEtc(direction, out);
}

STDMETHODIMP search_result_data_object::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                                                DWORD* connection) noexcept
{
    return inner_->DAdvise(format, flags, sink, connection);
}

STDMETHODIMP search_result_data_object::DUnadvise(DWORD connection) noexcept
{
    return inner_->DUnadvise(connection);
}

STDMETHODIMP search_result_data_object::EnumDAdvise(IEnumSTATDATA** out) noexcept
{
    return inner_->EnumDAdvise(out);
}

HRESULT create_search_result_data_object(IDataObject* inner, PCIDLIST_ABSOLUTE folder, std::vector<std::wstring> paths,
                                         REFIID riid, void** out) noexcept
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (!inner)
        return E_INVALIDARG;
    return search_result_data_object::create_instance(riid, out, inner, folder, std::move(paths));
}
