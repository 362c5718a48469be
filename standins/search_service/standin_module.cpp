// DLL entry points of the search stand-in: the class objects of the search manager and of the OLE DB
// provider, unloading, self-registration and the counters tests read.

#include "search_objects.h"
#include "standin_object.h"

#include <oleauto.h>

#include <string>

namespace search_standin
{
namespace
{
HINSTANCE module_instance = nullptr;

using creator = HRESULT (*)(REFIID, void**) noexcept;

class class_factory final : public standin_object<class_factory, IClassFactory>
{
public:
    explicit class_factory(creator create) : create_(create) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }

    STDMETHODIMP LockServer(BOOL lock) noexcept override
    {
        if (lock)
            ++counters().server_locks;
        else
            --counters().server_locks;
        return S_OK;
    }

private:
    creator create_;
};

std::wstring guid_text(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, static_cast<int>(std::size(text)));
    return text;
}

LSTATUS set_value(const std::wstring& key, const wchar_t* name, const std::wstring& data)
{
    HKEY handle = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status;
}
} // namespace

module_counters& counters() noexcept
{
    static module_counters instance;
    return instance;
}

void set_error_info(const IID& source, std::wstring_view description) noexcept
{
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)))
        return;
    try
    {
        const std::wstring text(description);
        create->SetGUID(source);
        create->SetSource(const_cast<LPOLESTR>(L"Velmora search stand-in"));
        create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))))
        {
            SetErrorInfo(0, info);
            info->Release();
        }
    }
    catch (...)
    {
    }
    create->Release();
}
} // namespace search_standin

using namespace search_standin;

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
    creator create = nullptr;
    if (IsEqualCLSID(clsid, CLSID_CSearchManager))
        create = create_search_manager;
    else if (IsEqualCLSID(clsid, CLSID_CollatorDataSource))
        create = create_data_source;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    return class_factory::create_instance(riid, ppv, create);
}

STDAPI DllCanUnloadNow()
{
    return counters().live_objects == 0 && counters().server_locks == 0 ? S_OK : S_FALSE;
}

// HKCR\CLSID\{...}\InprocServer32 for both classes (ThreadingModel "Both") and the program id
// "Search.CollatorDSO". Also what "regsvr32 velmora_search_standin.dll" does.
STDAPI DllRegisterServer()
{
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(module_instance, path, static_cast<DWORD>(std::size(path)));
    if (length == 0 || length == std::size(path))
        return HRESULT_FROM_WIN32(GetLastError());
    try
    {
        const std::wstring manager = L"CLSID\\" + guid_text(CLSID_CSearchManager);
        const std::wstring provider = L"CLSID\\" + guid_text(CLSID_CollatorDataSource);
        const std::wstring prog_id = search_provider_prog_id;
        const struct
        {
            std::wstring key;
            const wchar_t* name;
            std::wstring data;
        } values[] = {
            {manager, nullptr, L"Velmora search stand-in: search manager"},
            {manager + L"\\InprocServer32", nullptr, path},
            {manager + L"\\InprocServer32", L"ThreadingModel", L"Both"},
            {provider, nullptr, L"Velmora search stand-in: " + prog_id},
            {provider + L"\\InprocServer32", nullptr, path},
            {provider + L"\\InprocServer32", L"ThreadingModel", L"Both"},
            {provider + L"\\ProgID", nullptr, prog_id},
            {prog_id, nullptr, L"Velmora search stand-in: " + prog_id},
            {prog_id + L"\\CLSID", nullptr, guid_text(CLSID_CollatorDataSource)},
        };
        for (const auto& value : values)
            if (const LSTATUS status = set_value(value.key, value.name, value.data); status != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(status);
        return S_OK;
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer()
{
    try
    {
        for (const std::wstring& key : {L"CLSID\\" + guid_text(CLSID_CSearchManager), L"CLSID\\" + guid_text(CLSID_CollatorDataSource),
                                       std::wstring(search_provider_prog_id)})
        {
            const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return HRESULT_FROM_WIN32(status);
        }
        return S_OK;
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

extern "C" HRESULT STDAPICALLTYPE search_standin_get_counters(search_standin_counters* out)
{
    if (!out)
        return E_POINTER;
    auto& c = counters();
    out->live_objects = c.live_objects;
    out->server_locks = c.server_locks;
    out->indexes_loaded = c.indexes_loaded;
    out->executes = c.executes;
    out->rows_obtained = c.rows_obtained;
    out->rows_released = c.rows_released;
    out->accessors_created = c.accessors_created;
    out->accessors_released = c.accessors_released;
    out->get_data_calls = c.get_data_calls;
    return S_OK;
}
