#include "commands/file_names.h"

#include "base/log.h"
#include "base/module_folder.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <string>

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
// The longest name that leaves room for " (99).lnk" within the 255 UTF-16 units of a file name.
constexpr std::size_t longest_shortcut_name = 255 - std::char_traits<wchar_t>::length(L" (99).lnk");

// The length of the device name that `name` stands for (the part before its first full stop, without
// trailing blanks: "CON", "nul" of "nul.txt", "COM1"), or 0 when it names no device.
std::size_t reserved_device_name_length(std::wstring_view name)
{
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && name.back() == L' ')
        name.remove_suffix(1);
    std::wstring upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return std::towupper(c); });
    for (const wchar_t* reserved : {L"CON", L"PRN", L"AUX", L"NUL"})
        if (upper == reserved)
            return upper.size();
    if (upper.size() != 4 || !(upper.starts_with(L"COM") || upper.starts_with(L"LPT")))
        return 0;
    // Windows takes the superscript digits 1, 2 and 3 for digits here too.
    const wchar_t number = upper[3];
    const bool digit =
        (number >= L'1' && number <= L'9') || number == L'\u00B9' || number == L'\u00B2' || number == L'\u00B3';
    return digit ? upper.size() : 0;
}

// Cuts `name` to `length` units at most, never between the two halves of a surrogate pair, then drops
// trailing full stops and blanks, which Windows drops from file names.
void cut_and_trim(std::wstring& name, std::size_t length)
{
    if (name.size() > length)
    {
        name.resize(length);
        if (name.back() >= 0xD800 && name.back() <= 0xDBFF)
            name.pop_back();
    }
    while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
        name.pop_back();
}
} // namespace

std::wstring shortcut_detail::clean_file_name(std::wstring_view display_name)
{
    std::wstring name(display_name);
    for (wchar_t& c : name)
        if (c < 32 || std::wstring_view(L"\"\\/:*?<>|").find(c) != std::wstring_view::npos)
            c = L'-';
    cut_and_trim(name, longest_shortcut_name);
    if (name.empty())
        return L"Sortwell item";
    if (reserved_device_name_length(name) != 0)
    {
        // The "-" goes right after the device name: "NUL.txt" stands for the device as "NUL" does, and
        // so would "NUL.txt-".
        cut_and_trim(name, longest_shortcut_name - 1);
        name.insert(reserved_device_name_length(name), 1, L'-');
    }
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
