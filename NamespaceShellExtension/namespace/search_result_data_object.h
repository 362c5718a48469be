#pragma once
// The data object of result files and quick pins: the real file system's own data object, passed
// through untouched, that refreshes the folder's view when it is let go and one of its files has gone
// meanwhile (a drag moved it elsewhere). A file renamed through the folder itself is in the search
// cache's moved-path set and refreshes nothing: the rename has refreshed already.

#include "base/com_object.h"
#include "base/raii.h"

#include <windows.h>
#include <objidl.h>
#include <shtypes.h>

#include <string>
#include <vector>

class search_result_data_object : public com_object<search_result_data_object, IDataObject>
{
public:
    // IDataObject: every method goes to the real data object.
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) noexcept override;
    STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) noexcept override;
    STDMETHODIMP QueryGetData(FORMATETC* format) noexcept override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) noexcept override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) noexcept override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) noexcept override;
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) noexcept override;
    STDMETHODIMP DUnadvise(DWORD connection) noexcept override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** out) noexcept override;

protected:
    friend class com_object<search_result_data_object, IDataObject>;
    search_result_data_object() noexcept = default;
    ~search_result_data_object() override;

    HRESULT initialize(IDataObject* inner, PCIDLIST_ABSOLUTE folder, std::vector<std::wstring> paths) noexcept;
    // Interfaces other than IDataObject are the real data object's (IDataObjectAsyncCapability, the
    // shell's private ones): their answer is returned unchanged.
    HRESULT query_other_interface(REFIID riid, void** ppv) noexcept;

private:
    com_ptr<IDataObject> inner_;
    unique_absolute_id_list folder_;
    std::vector<std::wstring> paths_;
};

// Wraps `inner`, the real data object of the files at `paths`, for the view of the folder at `folder`
// (may be null: then nothing is refreshed). E_INVALIDARG for a null inner object or out pointer,
// E_OUTOFMEMORY when the object or the copy of `folder` cannot be made.
HRESULT create_search_result_data_object(IDataObject* inner, PCIDLIST_ABSOLUTE folder, std::vector<std::wstring> paths,
                                         REFIID riid, void** out) noexcept;
