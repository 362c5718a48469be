#include "recycle_bin.h"

#include "diagnostics/log.h"
#include "module/raii.h"
#include "support/test_files.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <filesystem>

namespace recycle_bin
{
namespace
{
std::wstring text_of(STRRET& value, PCUITEMID_CHILD child)
{
    unique_cotaskmem_string text;
    if (FAILED(StrRetToStrW(&value, child, text.put())) || !text)
        return {};
    return text.get();
}

// The Unix name Wine gives a Windows path; nothing outside Wine.
std::optional<std::string> unix_name(const std::wstring& path)
{
    using unix_name_function = char*(CDECL*)(const wchar_t*);
    const auto function = reinterpret_cast<unix_name_function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!function)
        return std::nullopt;
    char* name = function(path.c_str());
    if (!name)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// The trash folder as a Windows path (drive Z is the Unix root in every Wine prefix).
std::filesystem::path wine_trash_folder()
{
    wchar_t data_home[MAX_PATH] = {};
    std::wstring unix_folder;
    if (GetEnvironmentVariableW(L"XDG_DATA_HOME", data_home, MAX_PATH) && data_home[0] == L'/')
    {
        unix_folder = std::wstring(data_home) + L"/Trash";
    }
    else
    {
        wchar_t home[MAX_PATH] = {};
        GetEnvironmentVariableW(L"HOME", home, MAX_PATH);
        unix_folder = std::wstring(home) + L"/.local/share/Trash";
    }
    std::wstring windows_folder = L"Z:" + unix_folder;
    std::replace(windows_folder.begin(), windows_folder.end(), L'/', L'\\');
    return windows_folder;
}

// Names (without ".trashinfo") of the trash entries whose original was `original_path`.
std::optional<std::vector<std::wstring>> wine_trash_entries(const std::wstring& original_path)
{
    const auto original = unix_name(original_path);
    if (!original)
        return std::nullopt;
    std::vector<std::wstring> entries;
    std::error_code ec;
    for (const auto& info : std::filesystem::directory_iterator(wine_trash_folder() / L"info", ec))
    {
        if (info.path().extension() != L".trashinfo")
            continue;
        // The Path line is percent-encoded; the test paths hold nothing that needs it.
        if (test_support::read_file(info.path()).find("\nPath=" + *original + "\n") != std::string::npos)
            entries.push_back(info.path().stem().wstring());
    }
    return entries;
}
} // namespace

int shell_items_from(const std::wstring& original_path)
{
    const std::filesystem::path original(original_path);
    unique_absolute_id_list bin;
    com_ptr<IShellFolder> desktop;
    com_ptr<IShellFolder2> folder;
    com_ptr<IEnumIDList> items;
    if (FAILED(SHGetKnownFolderIDList(FOLDERID_RecycleBinFolder, 0, nullptr, bin.put())) ||
        FAILED(SHGetDesktopFolder(desktop.put())) ||
        FAILED(desktop->BindToObject(bin.get(), nullptr, IID_IShellFolder2, folder.put_void())) ||
        folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, items.put()) != S_OK)
    {
        return -1;
    }

    int count = 0;
    for (;;)
    {
        unique_child_id child;
        if (items->Next(1, child.put(), nullptr) != S_OK)
            break;
        STRRET name{};
        SHELLDETAILS location{};
        // Column 1 of the Recycle Bin is the original location.
        if (FAILED(folder->GetDisplayNameOf(child.get(), SHGDN_INFOLDER, &name)) ||
            FAILED(folder->GetDetailsOf(child.get(), 1, &location)))
            continue;
        if (text_of(name, child.get()) == original.filename().wstring() &&
            text_of(location.str, child.get()) == original.parent_path().wstring())
            ++count;
    }
    return count;
}

std::optional<std::vector<std::string>> wine_trash_contents(const std::wstring& original_path)
{
    const auto entries = wine_trash_entries(original_path);
    if (!entries)
        return std::nullopt;
    std::vector<std::string> contents;
    for (const auto& entry : *entries)
        contents.push_back(test_support::read_file(wine_trash_folder() / L"files" / entry));
    return contents;
}

void wine_trash_forget(const std::wstring& original_path)
{
    const auto entries = wine_trash_entries(original_path);
    if (!entries)
        return;
    std::error_code ec;
    for (const auto& entry : *entries)
    {
        std::filesystem::remove(wine_trash_folder() / L"files" / entry, ec);
        std::filesystem::remove(wine_trash_folder() / L"info" / (entry + L".trashinfo"), ec);
    }
}
} // namespace recycle_bin
