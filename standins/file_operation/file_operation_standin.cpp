// The FileOperation stand-in: IFileOperation with what the extension uses (SetOperationFlags,
// SetOwnerWindow, DeleteItem, PerformOperations, GetAnyOperationsAborted), carried out by
// SHFileOperationW. Every other method answers E_NOTIMPL, as all of Wine 8's do.
//
// With VELMORA_FILE_OPERATION_ABORT set in the environment, PerformOperations touches nothing and
// reports the operations aborted, as Windows does when the user cancels its progress dialog.

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <atomic>
#include <new>
#include <string>
#include <vector>

namespace
{
HINSTANCE module_instance = nullptr;
std::atomic<LONG> live_objects{0};
std::atomic<LONG> server_locks{0};

class file_operation final : public IFileOperation
{
public:
    file_operation() noexcept { ++live_objects; }
    ~file_operation() { --live_objects; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IFileOperation))
            return E_NOINTERFACE;
        *ppv = static_cast<IFileOperation*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const ULONG count = --references_;
        if (count == 0)
            delete this;
        return count;
    }

    STDMETHODIMP SetOperationFlags(DWORD flags) noexcept override
    {
        flags_ = flags;
        return S_OK;
    }
    STDMETHODIMP SetOwnerWindow(HWND owner) noexcept override
    {
        owner_ = owner;
        return S_OK;
    }
    STDMETHODIMP DeleteItem(IShellItem* item, IFileOperationProgressSink* sink) noexcept override
    {
        if (!item)
            return E_INVALIDARG;
        if (sink)
            return E_NOTIMPL;
        wchar_t* path = nullptr;
        const HRESULT hr = item->GetDisplayName(SIGDN_FILESYSPATH, &path);
        if (FAILED(hr))
            return hr;
        try
        {
            deletions_.emplace_back(path);
        }
        catch (...)
        {
            CoTaskMemFree(path);
            return E_OUTOFMEMORY;
        }
        CoTaskMemFree(path);
        return S_OK;
    }
    STDMETHODIMP PerformOperations() noexcept override
    {
        if (deletions_.empty())
            return S_OK;
        if (GetEnvironmentVariableW(L"VELMORA_FILE_OPERATION_ABORT", nullptr, 0) != 0)
        {
            aborted_ = TRUE;
            deletions_.clear();
            return S_OK;
        }
        std::wstring sources;
        try
        {
            for (const auto& path : deletions_)
                sources.append(path).push_back(L'\0');
            sources.push_back(L'\0');
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
        deletions_.clear();
        SHFILEOPSTRUCTW operation{};
        operation.hwnd = owner_;
        operation.wFunc = FO_DELETE;
        operation.pFrom = sources.c_str();
        // The FOF_ flags are the low word of the operation flags.
        operation.fFlags = static_cast<FILEOP_FLAGS>(flags_ & 0xFFFF);
        const int result = SHFileOperationW(&operation);
        if (operation.fAnyOperationsAborted)
            aborted_ = TRUE;
        return result == 0 ? S_OK : HRESULT_FROM_WIN32(result);
    }
    STDMETHODIMP GetAnyOperationsAborted(BOOL* aborted) noexcept override
    {
        if (!aborted)
            return E_POINTER;
        *aborted = aborted_;
        return S_OK;
    }

    STDMETHODIMP Advise(IFileOperationProgressSink*, DWORD*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetProgressMessage(LPCWSTR) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetProgressDialog(IOperationsProgressDialog*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetProperties(IPropertyChangeArray*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ApplyPropertiesToItem(IShellItem*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ApplyPropertiesToItems(IUnknown*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP RenameItem(IShellItem*, LPCWSTR, IFileOperationProgressSink*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP RenameItems(IUnknown*, LPCWSTR) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP MoveItem(IShellItem*, IShellItem*, LPCWSTR, IFileOperationProgressSink*) noexcept override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP MoveItems(IUnknown*, IShellItem*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP CopyItem(IShellItem*, IShellItem*, LPCWSTR, IFileOperationProgressSink*) noexcept override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP CopyItems(IUnknown*, IShellItem*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP DeleteItems(IUnknown*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP NewItem(IShellItem*, DWORD, LPCWSTR, LPCWSTR, IFileOperationProgressSink*) noexcept override
    {
        return E_NOTIMPL;
    }

private:
    std::atomic<ULONG> references_{1};
    DWORD flags_ = FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR;
    HWND owner_ = nullptr;
    BOOL aborted_ = FALSE;
    std::vector<std::wstring> deletions_;
};

class class_factory final : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // A static object: no count of its own.
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) file_operation();
        if (!object)
            return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) noexcept override
    {
        lock ? ++server_locks : --server_locks;
        return S_OK;
    }
};

class_factory factory;

std::wstring class_key()
{
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_FileOperation, clsid, static_cast<int>(std::size(clsid)));
    return std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
}

LSTATUS set_value(HKEY key, const wchar_t* name, const std::wstring& data)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

HRESULT write_server(const std::wstring& path, const wchar_t* threading_model)
{
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, class_key().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS)
    {
        status = set_value(key, nullptr, path);
        if (status == ERROR_SUCCESS)
            status = set_value(key, L"ThreadingModel", threading_model);
        RegCloseKey(key);
    }
    return HRESULT_FROM_WIN32(status);
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        module_instance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_FileOperation))
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return live_objects == 0 && server_locks == 0 ? S_OK : S_FALSE;
}

// HKCR\CLSID\{3AD05575-8857-4850-9277-11B85BDB8E09}\InprocServer32: this DLL, ThreadingModel "Both".
STDAPI DllRegisterServer()
{
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(module_instance, path, static_cast<DWORD>(std::size(path)));
    if (length == 0 || length == std::size(path))
        return HRESULT_FROM_WIN32(GetLastError());
    try
    {
        return write_server(path, L"Both");
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

// Gives the class back to Wine's shell32, as Wine registers it.
STDAPI DllUnregisterServer()
{
    try
    {
        return write_server(L"C:\\windows\\system32\\shell32.dll", L"Apartment");
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}
