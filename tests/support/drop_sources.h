#pragma once
// What a drag brings to a drop target: the data object the real file-system folder makes for files (as
// Explorer's own views hand out), or one that offers a single format of our choosing (text from a
// browser, a file list without files).

#include "base/com_object.h"
#include "base/raii.h"

#include <windows.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support
{
// The real folder's data object for `files` (all in one folder), in this order. Empty on failure.
inline com_ptr<IDataObject> file_data_object(const std::vector<std::filesystem::path>& files)
{
    com_ptr<IShellFolder> desktop, parent;
    unique_absolute_id_list folder;
    if (files.empty() || FAILED(SHGetDesktopFolder(desktop.put())) ||
        FAILED(SHParseDisplayName(files.front().parent_path().c_str(), nullptr, folder.put(), 0, nullptr)) ||
        FAILED(desktop->BindToObject(folder.get(), nullptr, IID_IShellFolder, parent.put_void())))
        return {};
    std::vector<unique_relative_id_list> children(files.size());
    std::vector<PCUITEMID_CHILD> items;
    for (std::size_t i = 0; i < files.size(); ++i)
    {
        std::wstring name = files[i].filename().wstring();
        if (FAILED(parent->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, children[i].put(), nullptr)))
            return {};
        items.push_back(reinterpret_cast<PCUITEMID_CHILD>(children[i].get()));
    }
    com_ptr<IDataObject> data;
    parent->GetUIObjectOf(nullptr, static_cast<UINT>(items.size()), items.data(), IID_IDataObject, nullptr,
                          data.put_void());
    return data;
}

// Offers `bytes` in global memory as `format`, and nothing else.
class fixed_data_object final : public com_object<fixed_data_object, IDataObject>
{
public:
    static com_ptr<IDataObject> text(const std::wstring& text)
    {
        return make(CF_UNICODETEXT, std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2));
    }
    // CF_HDROP listing `paths`: the DROPFILES header, each path with its NUL, and the list's closing NUL
    // (and one more, so that a reader that looks past an empty list still stays inside).
    static com_ptr<IDataObject> file_list(const std::vector<std::wstring>& paths)
    {
        const DROPFILES header{sizeof(DROPFILES), {0, 0}, FALSE, TRUE};
        std::wstring list;
        for (const auto& path : paths)
            list += path + L'\0';
        list += std::wstring(2, L'\0');
        return make(CF_HDROP, std::string(reinterpret_cast<const char*>(&header), sizeof(header)) +
                                  std::string(reinterpret_cast<const char*>(list.data()), list.size() * sizeof(wchar_t)));
    }

    fixed_data_object(CLIPFORMAT format, std::string bytes) : format_(format), bytes_(std::move(bytes)) {}
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) noexcept override
    {
        if (QueryGetData(format) != S_OK)
            return DV_E_FORMATETC;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = GlobalAlloc(GMEM_MOVEABLE, bytes_.size());
        medium->pUnkForRelease = nullptr;
        std::memcpy(GlobalLock(medium->hGlobal), bytes_.data(), bytes_.size());
        GlobalUnlock(medium->hGlobal);
        return S_OK;
    }
    STDMETHODIMP QueryGetData(FORMATETC* format) noexcept override
    {
        return format->cfFormat == format_ && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    static com_ptr<IDataObject> make(CLIPFORMAT format, std::string bytes)
    {
        return com_ptr<IDataObject>::attach(new fixed_data_object(format, std::move(bytes)));
    }

    CLIPFORMAT format_;
    std::string bytes_;
};
} // namespace test_support
