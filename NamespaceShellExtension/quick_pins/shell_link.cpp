#include "quick_pins/shell_link.h"

#include "base/raii.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <filesystem>

namespace
{
com_ptr<IShellLinkW> load_shell_link(const std::wstring& link_file)
{
    com_ptr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return {};
    const auto file = link.try_query<IPersistFile>();
    if (!file || FAILED(file->Load(link_file.c_str(), STGM_READ)))
        return {};
    return link;
}

std::wstring raw_path_of(IShellLinkW* link)
{
    wchar_t raw[MAX_PATH] = {};
    // S_FALSE with an empty buffer: a link to something that is not a file (a shell item only).
    if (FAILED(link->GetPath(raw, MAX_PATH, nullptr, SLGP_RAWPATH)))
        return {};
    raw[MAX_PATH - 1] = L'\0';
    return raw;
}
} // namespace

std::wstring read_link_target(const std::wstring& link_file)
{
    const auto link = load_shell_link(link_file);
    if (!link)
        return {};

    const std::wstring raw = raw_path_of(link.get());
    if (!raw.empty())
    {
        wchar_t expanded[MAX_PATH] = {};
        const DWORD needed = ExpandEnvironmentStringsW(raw.c_str(), expanded, MAX_PATH);
        if (needed == 0 || needed > MAX_PATH)
            return raw;
        return expanded;
    }

    unique_cotaskmem<ITEMIDLIST> id_list;
    if (FAILED(link->GetIDList(id_list.put())) || !id_list)
        return {};
    wchar_t path[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(id_list.get(), path))
        return {};
    return path;
}

std::wstring read_link_raw_path(const std::wstring& link_file)
{
    const auto link = load_shell_link(link_file);
    return link ? raw_path_of(link.get()) : std::wstring();
}

bool write_shortcut(const std::wstring& link_file, const std::wstring& target)
{
    com_ptr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return false;
    if (FAILED(link->SetPath(target.c_str())))
        return false;
    const std::wstring parent = std::filesystem::path(target).parent_path().wstring();
    if (!parent.empty())
        link->SetWorkingDirectory(parent.c_str());
    const auto file = link.try_query<IPersistFile>();
    return file && SUCCEEDED(file->Save(link_file.c_str(), TRUE));
}
