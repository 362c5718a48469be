#pragma once
// What a drag brings to a drop target: the data object the real file-system folder makes for files (as
// Explorer's own views hand out), or one that offers a single format of our choosing (text from a
// browser, a file list without files). And a watcher for the change notifications a drop sends.

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
class fixed_data_object : public IDataObject
{
public:
    static com_ptr<IDataObject> text(const std::wstring& text)
    {
        return make(CF_UNICODETEXT, std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2));
    }
    // CF_HDROP listing no file: the DROPFILES header and the list's closing NUL.
    static com_ptr<IDataObject> empty_file_list()
    {
        const DROPFILES header{sizeof(DROPFILES), {0, 0}, FALSE, TRUE};
        return make(CF_HDROP, std::string(reinterpret_cast<const char*>(&header), sizeof(header)) + std::string(4, '\0'));
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
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
        medium->hGlobal = GlobalAlloc(GMEM_MOVEABLE, bytes_.size());
        medium->pUnkForRelease = nullptr;
        std::memcpy(GlobalLock(medium->hGlobal), bytes_.data(), bytes_.size());
        GlobalUnlock(medium->hGlobal);
        return S_OK;
    }
    STDMETHODIMP QueryGetData(FORMATETC* format) override
    {
        return format->cfFormat == format_ && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    fixed_data_object(CLIPFORMAT format, std::string bytes) : format_(format), bytes_(std::move(bytes)) {}
    virtual ~fixed_data_object() = default;
    static com_ptr<IDataObject> make(CLIPFORMAT format, std::string bytes)
    {
        return com_ptr<IDataObject>::attach(new fixed_data_object(format, std::move(bytes)));
    }

    CLIPFORMAT format_;
    std::string bytes_;
    std::atomic<ULONG> references_{1};
};

// Counts the SHCNE_UPDATEDIR notifications for one folder; they reach a message-only window of the
// constructing thread while wait() pumps its messages.
class update_dir_watcher
{
public:
    explicit update_dir_watcher(const std::filesystem::path& folder)
    {
        SHParseDisplayName(folder.c_str(), nullptr, folder_.put(), 0, nullptr);
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = on_message;
        window_class.lpszClassName = L"velmora_update_dir_watcher";
        RegisterClassW(&window_class);
        window_ = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        const SHChangeNotifyEntry entry{folder_.get(), FALSE};
        registration_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_NewDelivery, SHCNE_UPDATEDIR,
                                               notify_message, 1, &entry);
    }
    ~update_dir_watcher()
    {
        SHChangeNotifyDeregister(registration_);
        DestroyWindow(window_);
    }
    update_dir_watcher(const update_dir_watcher&) = delete;
    update_dir_watcher& operator=(const update_dir_watcher&) = delete;

    bool registered() const { return folder_ && registration_; }
    PCIDLIST_ABSOLUTE folder_id_list() const { return folder_.get(); }

    // Pumps messages for `milliseconds`; answers the notifications counted so far.
    int wait(DWORD milliseconds)
    {
        for (const ULONGLONG end = GetTickCount64() + milliseconds; GetTickCount64() < end;)
        {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
                DispatchMessageW(&message);
        }
        return count_;
    }

private:
    static constexpr UINT notify_message = WM_APP + 17;

    static LRESULT CALLBACK on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
    {
        if (message != notify_message)
            return DefWindowProcW(window, message, wparam, lparam);
        auto* watcher = reinterpret_cast<update_dir_watcher*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        PIDLIST_ABSOLUTE* lists = nullptr;
        LONG event = 0;
        if (HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wparam), static_cast<DWORD>(lparam),
                                                    &lists, &event))
        {
            watcher->count_ += event == SHCNE_UPDATEDIR && lists[0] && ILIsEqual(lists[0], watcher->folder_.get());
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
