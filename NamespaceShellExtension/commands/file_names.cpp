#include "commands/file_names.h"

#include "commands/module_folder.h"
#include "diagnostics/log.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>

std::string guid_text(const GUID& guid)
{
    // Data4 reads as one big-endian 16-bit and one big-endian 48-bit number, as in the registry form.
    const unsigned clock_sequence = (static_cast<unsigned>(guid.Data4[0]) << 8) | guid.Data4[1];
    unsigned long long node = 0;
    for (int i = 2; i < 8; ++i)
        node = (node << 8) | guid.Data4[i];
    char text[40] = {};
    std::snprintf(text, sizeof(text), "%08lX-%04X-%04X-%04X-%012llX", static_cast<unsigned long>(guid.Data1),
                  static_cast<unsigned>(guid.Data2), static_cast<unsigned>(guid.Data3), clock_sequence, node);
    return text;
}

std::wstring job_file_name(std::string_view identifier)
{
    return L"velmora_" + from_utf8(identifier) + L".json.tmp";
}

namespace
{
bool is_reserved_device_name(std::wstring_view name)
{
    // The part before the first full stop counts: "CON.txt" is the console as well.
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && name.back() == L' ')
        name.remove_suffix(1);
    std::wstring upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return std::towupper(c); });
    for (const wchar_t* reserved : {L"CON", L"PRN", L"AUX", L"NUL"})
        if (upper == reserved)
            return true;
    return upper.size() == 4 && (upper.starts_with(L"COM") || upper.starts_with(L"LPT")) && upper[3] >= L'1' &&
           upper[3] <= L'9';
}
} // namespace

std::wstring shortcut_detail::clean_file_name(std::wstring_view display_name)
{
    std::wstring name(display_name);
    for (wchar_t& c : name)
        if (c < 32 || std::wstring_view(L"\"\\/:*?<>|").find(c) != std::wstring_view::npos)
            c = L'-';
    while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
        name.pop_back();
    if (name.empty())
        return L"Sortwell item";
    if (is_reserved_device_name(name))
        name += L'-';
    return name;
}

std::wstring shortcut_detail::shortcut_file_path(const std::wstring& folder, std::wstring_view name, int number)
{
    std::wstring path = join_path(folder, name);
    if (number > 1)
        path += L" (" + std::to_wstring(number) + L")";
    path += L".lnk";
    return path;
}
