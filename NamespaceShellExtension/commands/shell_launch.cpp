#include "commands/shell_launch.h"

#include "base/raii.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <servprov.h>


#include <atomic>
#include <new>
#include <stdexcept>

namespace
{
// A VARIANT that clears itself. ShellExecute takes its VARIANTs by value and does not free them.
class variant_value
{
public:
    variant_value() noexcept { VariantInit(&value_); }
    ~variant_value() { VariantClear(&value_); }
    variant_value(const variant_value&) = delete;
    variant_value& operator=(const variant_value&) = delete;

    static void text(variant_value& target, const std::wstring& text)
    {
        BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!copy)
            throw std::bad_alloc();
        VariantClear(&target.value_);
        target.value_.vt = VT_BSTR;
        target.value_.bstrVal = copy;
    }
    static void int32(variant_value& target, LONG number) noexcept
    {
        VariantClear(&target.value_);
        target.value_.vt = VT_I4;
        target.value_.lVal = number;
    }

    VARIANT& get() noexcept { return value_; }

private:
    VARIANT value_;
};

// The five values both routes hand to IShellDispatch2::ShellExecute. Their copies are the only thing
// on either route that can throw.
HRESULT shell_execute(IShellDispatch2* shell, const std::wstring& file, const std::wstring& parameters) noexcept
{
    variant_value file_text, arguments, directory, operation, show;
    try
    {
        variant_value::text(file_text, file);
        variant_value::text(arguments, parameters);
        variant_value::text(directory, L"");
        variant_value::text(operation, L"open");
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    variant_value::int32(show, SW_SHOWNORMAL);
    // Windows answers S_OK or an error; Wine answers S_FALSE when ShellExecuteW refused, so only S_OK
    // counts as started.
    const HRESULT hr = shell->ShellExecute(file_text.get().bstrVal, arguments.get(), directory.get(),
                                           operation.get(), show.get());
    return hr == S_OK ? S_OK : (FAILED(hr) ? hr : E_FAIL);
}

// A "%" in the program's path could be read as the start of an environment variable: Wine's
// ShellExecute expands its file always, Windows' when asked to (SEE_MASK_DOENVSUBST). The short form
// of such a path, when it has no "%", names the same program without that risk; otherwise the path
// goes as it is.
std::wstring file_for_shell(const std::wstring& program)
{
    if (program.find(L'%') == std::wstring::npos)
        return program;
    std::wstring short_path(GetShortPathNameW(program.c_str(), nullptr, 0), L'\0');
    const DWORD length = short_path.empty() ? 0
                                            : GetShortPathNameW(program.c_str(), short_path.data(),
                                                                static_cast<DWORD>(short_path.size()));
    if (length == 0 || length >= short_path.size())
        return program;
    short_path.resize(length);
    return short_path.find(L'%') == std::wstring::npos ? short_path : program;
}

std::atomic<shell_launch_detail::shell_execute_route> first_route{
    &shell_launch_detail::execute_through_shell_object};
std::atomic<shell_launch_detail::shell_execute_route> second_route{
    &shell_launch_detail::execute_through_desktop_view};
} // namespace

namespace shell_launch_detail
{
HRESULT execute_through_shell_object(const std::wstring& file, const std::wstring& parameters)
{
    com_ptr<IShellDispatch2> shell;
    const HRESULT hr = CoCreateInstance(CLSID_Shell, nullptr, CLSCTX_ALL, IID_IShellDispatch2, shell.put_void());
    if (FAILED(hr))
        return hr;
    if (!shell)
        return E_NOINTERFACE;
    return shell_execute(shell.get(), file, parameters);
}

HRESULT execute_through_desktop_view(const std::wstring& file, const std::wstring& parameters)
{
    com_ptr<IShellWindows> windows;
    HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows, windows.put_void());
    if (FAILED(hr))
        return hr;
    if (!windows)
        return E_NOINTERFACE;

    variant_value location, root;
    variant_value::int32(location, CSIDL_DESKTOP);
    LONG window = 0;
    com_ptr<IDispatch> desktop;
    hr = windows->FindWindowSW(&location.get(), &root.get(), SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                               desktop.put());
    // S_FALSE: there is no desktop window (no Explorer shell running).
    if (hr != S_OK || !desktop)
        return FAILED(hr) ? hr : E_FAIL;

    com_ptr<IServiceProvider> services;
    hr = desktop->QueryInterface(IID_IServiceProvider, services.put_void());
    if (FAILED(hr))
        return hr;
    com_ptr<IShellBrowser> browser;
    hr = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void());
    if (FAILED(hr) || !browser)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    com_ptr<IShellView> view;
    hr = browser->QueryActiveShellView(view.put());
    if (FAILED(hr) || !view)
        return FAILED(hr) ? hr : E_FAIL;
    com_ptr<IDispatch> background;
    hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void());
    if (FAILED(hr) || !background)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    com_ptr<IShellFolderViewDual> folder_view;
    hr = background->QueryInterface(IID_IShellFolderViewDual, folder_view.put_void());
    if (FAILED(hr))
        return hr;
    com_ptr<IDispatch> application;
    hr = folder_view->get_Application(application.put());
    if (FAILED(hr) || !application)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    com_ptr<IShellDispatch2> shell;
    hr = application->QueryInterface(IID_IShellDispatch2, shell.put_void());
    if (FAILED(hr))
        return hr;
    return shell_execute(shell.get(), file, parameters);
}

shell_routes replace_shell_routes(shell_routes routes) noexcept
{
    return {first_route.exchange(routes.first), second_route.exchange(routes.second)};
}
} // namespace shell_launch_detail

bool launch_via_shell(const std::wstring& program, const std::wstring& arguments)
{
    // Explorer's UI thread is already a single-threaded apartment (S_FALSE); a multi-threaded caller
    // gets RPC_E_CHANGED_MODE and the objects below come through the apartment it has. Only our own
    // successful call is balanced.
    struct com_scope
    {
        bool initialized;
        ~com_scope()
        {
            if (initialized)
                CoUninitialize();
        }
    } com{SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))};

    const std::wstring file = file_for_shell(program);
    if (first_route.load()(file, arguments) == S_OK)
        return true;
    if (second_route.load()(file, arguments) == S_OK)
        return true;
    throw std::runtime_error("Failed to launch process via Explorer (ShellExecute fallback failed).");
}
