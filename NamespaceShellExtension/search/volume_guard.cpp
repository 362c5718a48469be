#include "search/volume_guard.h"

#include "base/process_object.h"

#include <algorithm>
#include <memory>
#include <system_error>

namespace
{
constexpr wchar_t switch_key[] = L"Software\\Quenbrook\\Velmora";
constexpr wchar_t switch_value[] = L"DisableUnresponsiveVolumeGuard";
constexpr wchar_t guard_disabled_text[] =
    L"[VLM] Unresponsive-volume guard DISABLED by DisableUnresponsiveVolumeGuard.\n";
constexpr wchar_t guard_active_text[] = L"[VLM] Unresponsive-volume guard active.\n";

bool is_ascii_letter(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

struct probe_context
{
    std::promise<bool> promise;
    std::function<bool(const std::wstring&)> probe;
    std::wstring volume_root;
    // A reference on the module that holds this code. A probe of a dead share can outlast every COM
    // object of ours; without it Explorer could unload the DLL under the blocked thread.
    HMODULE module = nullptr;
};

DWORD WINAPI probe_thread(void* parameter)
{
    std::unique_ptr<probe_context> context(static_cast<probe_context*>(parameter));
    const HMODULE module = context->module;
    try
    {
        context->promise.set_value(context->probe(context->volume_root));
    }
    catch (...)
    {
        // The promise then dies without a value, and the waiting caller counts the volume unresponsive.
    }
    context.reset();
    if (module)
        FreeLibraryAndExitThread(module, 0);
    return 0;
}
} // namespace

namespace
{
// A volume key, kept in the object itself when it is short: most calls are answered from the table, and
// a share's key would otherwise cost an allocation on each of them.
class volume_key_text
{
public:
    // False when the path names no volume.
    bool assign(std::wstring_view path)
    {
        bool unc = false;
        if (path.starts_with(L"\\\\?\\"))
        {
            path.remove_prefix(4);
            if (path.starts_with(L"UNC\\"))
            {
                path.remove_prefix(4);
                unc = true;
            }
        }
        if (!unc && path.size() >= 3 && is_ascii_letter(path[0]) && path[1] == L':' &&
            (path[2] == L'\\' || path[2] == L'/'))
        {
            const wchar_t key[] = {path[0], L':', L'\\'};
            set(std::wstring_view(key, std::size(key)), {}, {});
            return true;
        }
        if (!unc)
        {
            if (!path.starts_with(L"\\\\"))
                return false;
            path.remove_prefix(2);
        }
        // "server\share", then anything.
        const std::size_t server_end = path.find(L'\\');
        if (server_end == std::wstring_view::npos || server_end == 0)
            return false;
        const std::size_t share_end = std::min(path.find(L'\\', server_end + 1), path.size());
        if (share_end == server_end + 1)
            return false;
        set(L"\\\\", path.substr(0, share_end), L"\\");
        return true;
    }

    std::wstring_view view() const noexcept { return view_; }

private:
    void set(std::wstring_view head, std::wstring_view middle, std::wstring_view tail)
    {
        const std::size_t length = head.size() + middle.size() + tail.size();
        wchar_t* target = inline_;
        if (length > std::size(inline_))
        {
            heap_.resize(length);
            target = heap_.data();
        }
        target = std::copy(head.begin(), head.end(), target);
        target = std::copy(middle.begin(), middle.end(), target);
        std::copy(tail.begin(), tail.end(), target);
        view_ = std::wstring_view(length > std::size(inline_) ? heap_.data() : inline_, length);
    }

    wchar_t inline_[96];
    std::wstring heap_;
    std::wstring_view view_;
};
} // namespace

std::optional<std::wstring> volume_key(std::wstring_view path)
{
    volume_key_text key;
    if (!key.assign(path))
        return std::nullopt;
    return std::wstring(key.view());
}

volume_guard::environment volume_guard::system_environment()
{
    environment result;
    result.now = [] { return clock::now(); };
    result.probe = [](const std::wstring& volume_root) {
        return GetFileAttributesW(volume_root.c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    result.read_switch = []() -> DWORD {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (RegGetValueW(HKEY_CURRENT_USER, switch_key, switch_value, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
            ERROR_SUCCESS)
            return 0;
        return value;
    };
    result.debug_output = [](const wchar_t* text) { OutputDebugStringW(text); };
    return result;
}

volume_guard::volume_guard(environment environment) : environment_(std::move(environment))
{
}

bool volume_guard::switched_off(clock::time_point now)
{
    std::lock_guard lock(switch_mutex_);
    if (switch_read_ && now - switch_read_at_ < switch_lifetime)
        return switched_off_;
    const bool off = environment_.read_switch() != 0;
    // One line per change of state, so that a debugger shows when the switch took effect.
    if (!switch_read_ || off != switched_off_)
        environment_.debug_output(off ? guard_disabled_text : guard_active_text);
    switch_read_ = true;
    switched_off_ = off;
    switch_read_at_ = now;
    return off;
}

std::shared_future<bool> volume_guard::start_probe(const std::wstring& volume_root)
{
    auto context = std::make_unique<probe_context>();
    context->probe = environment_.probe;
    context->volume_root = volume_root;
    std::shared_future<bool> result = context->promise.get_future().share();
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&probe_thread),
                       &context->module);
    HANDLE thread = CreateThread(nullptr, 0, &probe_thread, context.get(), 0, nullptr);
    if (!thread)
    {
        const DWORD error = GetLastError();
        if (context->module)
            FreeLibrary(context->module);
        throw std::system_error(static_cast<int>(error), std::system_category(), "CreateThread");
    }
    context.release();
    CloseHandle(thread);
    return result;
}

volume_guard::volume_state& volume_guard::state_of(std::wstring_view key)
{
    const auto found = table_.find(key);
    if (found != table_.end())
        return found->second;
    return table_.try_emplace(std::wstring(key)).first->second;
}

bool volume_guard::is_responsive(std::wstring_view path)
{
    // One clock reading serves the switch and the table on the common path.
    const auto now = environment_.now();
    if (switched_off(now))
        return true;
    volume_key_text key;
    if (!key.assign(path))
        return true;

    std::shared_future<bool> probe;
    {
        std::lock_guard lock(table_mutex_);
        auto& state = state_of(key.view());
        if (state.known && now - state.checked_at < (state.responsive ? responsive_lifetime : unresponsive_lifetime))
            return state.responsive;
        if (!state.probe.valid() || state.probe.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            state.probe = start_probe(std::wstring(key.view()));
        probe = state.probe;
    }

    bool responsive = false;
    if (probe.wait_for(probe_wait) == std::future_status::ready)
    {
        try
        {
            responsive = probe.get();
        }
        catch (const std::future_error&)
        {
            // The probe ended without an answer.
        }
    }

    std::lock_guard lock(table_mutex_);
    auto& state = state_of(key.view());
    state.known = true;
    state.responsive = responsive;
    state.checked_at = environment_.now();
    // Only a probe that still runs is worth keeping; a finished one would hold its synchronisation
    // objects (handles of the future's condition variable) until the volume's next refresh.
    if (state.probe.valid() && state.probe.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
        state.probe = {};
    return responsive;
}

volume_guard& process_volume_guard()
{
    // Probe threads never touch the guard, so it can die with the module; a thread still probing holds
    // the module loaded.
    static process_object<volume_guard> guard(volume_guard::system_environment());
    return guard.get();
}

bool is_volume_responsive(std::wstring_view path)
{
    return process_volume_guard().is_responsive(path);
}
