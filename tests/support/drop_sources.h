#pragma once
// What a drag brings to a drop target: the data object the real file-system folder makes for files (as
// Explorer's own views hand out), a data object without any file list (text dragged from a browser),
// and one whose file list is empty. Also a watcher for the shell change notifications a drop sends.

#include "module/raii.h"

#include <windows.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support
{
// The data object that the real folder holding `files` makes for them (all in one folder), in this
// order, through its own GetUIObjectOf. Empty on failure.
inline com_ptr<IDataObject> file_data_object(const std::vector<std::filesystem::path>& files)
{
    if (files.empty())
        return {};
    com_ptr<IShellFolder> desktop, parent;
    unique_absolute_id_list folder_list;
    if (FAILED(SHGetDesktopFolder(desktop.put())) ||
        FAILED(SHParseDisplayName(files.front().parent_path().c_str(), nullptr, folder_list.put(), 0, nullptr)) ||
        FAILED(desktop->BindToObject(folder_list.get(), nullptr, IID_IShellFolder, parent.put_void())))
        return {};
    std::vector<unique_relative_id_list> children;
    std::vector<PCUITEMID_CHILD> items;
    for (const auto& file : files)
    {
        std::wstring name = file.filename().wstring();
        children.emplace_back();
        if (FAILED(parent->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, children.back().put(), nullptr)))
            return {};
        items.push_back(reinterpret_cast<PCUITEMID_CHILD>(children.back().get()));
    }
    com_ptr<IDataObject> data;
    parent->GetUIObjectOf(nullptr, static_cast<UINT>(items.size()), items.data(), IID_IDataObject, nullptr,
                          data.put_void());
    return data;
}

// A data object that offers one format in global memory, or nothing at all for GetData.
class fixed_data_object : public IDataObject
{
public:
    // Text only: CF_UNICODETEXT.
    static com_ptr<IDataObject> text(const std::wstring& text)
    {
        return make(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
    // CF_HDROP with a list of no files: a DROPFILES header and the list's closing NUL.
    static com_ptr<IDataObject> empty_file_list()
    {
        struct
        {
            DROPFILES header;
            wchar_t end[2];
        } list{{sizeof(DROPFILES), {0, 0}, FALSE, TRUE}, {0, 0}};
        return make(CF_HDROP, &list, sizeof(list));
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject) ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = --references_;
        if (!count)
            delete this;
        return count;
    }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (QueryGetData(format) != S_OK)
            return DV_E_FORMATETC;
        medium->tymed = TYMED_HGLOBAL;
        medium->pUnkForRelease = nullptr;
        medium->hGlobal = GlobalAlloc(GMEM_MOVEABLE, bytes_.size());
        if (!medium->hGlobal)
            return E_OUTOFMEMORY;
        std::memcpy(GlobalLock(medium->hGlobal), bytes_.data(), bytes_.size());
        GlobalUnlock(medium->hGlobal);
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override
    {
        return format && format->cfFormat == format_ && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override
    {
        if (out)
            out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    fixed_data_object(CLIPFORMAT format, const void* bytes, std::size_t size)
        : format_(format), bytes_(static_cast<const char*>(bytes), static_cast<const char*>(bytes) + size)
    {
    }
    virtual ~fixed_data_object() = default;
    static com_ptr<IDataObject> make(CLIPFORMAT format, const void* bytes, std::size_t size)
    {
        return com_ptr<IDataObject>::attach(new fixed_data_object(format, bytes, size));
    }

    CLIPFORMAT format_;
    std::vector<char> bytes_;
    std::atomic<ULONG> references_{1};
};

// Counts the SHCNE_UPDATEDIR notifications for one folder, delivered to a message-only window of the
// constructing thread while wait() pumps its messages.
class update_dir_watcher
{
public:
    explicit update_dir_watcher(const std::filesystem::path& folder)
    {
        SHParseDisplayName(folder.c_str(), nullptr, folder_.put(), 0, nullptr);
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = window_procedure;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"velmora_update_dir_watcher";
        RegisterClassW(&window_class);
        window_ = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  window_class.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SHChangeNotifyEntry entry{folder_.get(), FALSE};
        registration_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_NewDelivery, SHCNE_UPDATEDIR,
                                               notify_message, 1, &entry);
    }
    ~update_dir_watcher()
    {
        if (registration_)
            SHChangeNotifyDeregister(registration_);
        if (window_)
            DestroyWindow(window_);
    }
    update_dir_watcher(const update_dir_watcher&) = delete;
    update_dir_watcher& operator=(const update_dir_watcher&) = delete;

    bool registered() const { return folder_ && window_ && registration_; }
    PCIDLIST_ABSOLUTE folder_id_list() const { return folder_.get(); }

    // Pumps messages for `milliseconds`; answers the notifications for the folder counted so far.
    int wait(DWORD milliseconds)
    {
        const ULONGLONG end = GetTickCount64() + milliseconds;
        for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64())
        {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
        return count_;
    }

private:
    static constexpr UINT notify_message = WM_APP + 17;

    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
    {
        if (message != notify_message)
            return DefWindowProcW(window, message, wparam, lparam);
        auto* self = reinterpret_cast<update_dir_watcher*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        PIDLIST_ABSOLUTE* lists = nullptr;
        LONG event = 0;
        if (HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wparam), static_cast<DWORD>(lparam),
                                                    &lists, &event))
        {
            if (self && event == SHCNE_UPDATEDIR && lists && lists[0] && ILIsEqual(lists[0], self->folder_.get()))
                ++self->count_;
            SHChangeNotification_Unlock(lock);
        }
        return 0;
    }

    unique_absolute_id_list folder_;
    HWND window_ = nullptr;
    ULONG registration_ = 0;
    int count_ = 0;
};
} // namespace test_support
