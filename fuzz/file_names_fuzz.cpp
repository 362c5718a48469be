// The names of the files the commands write, on arbitrary names: the batch job's file (from the job's
// GUID, the input's first 16 bytes) and the desktop shortcut of a virtual folder (from its display name,
// the whole input as UTF-8 that may encode lone surrogates). Every name must be one that Windows takes
// for a file in the folder it is meant for, and every path must stay in that folder.

#include "fuzz_support.h"

#include "commands/file_names.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwctype>

namespace
{
wchar_t upper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// The names that Windows keeps for devices in every folder: the part before the first full stop, without
// trailing blanks, in any case. COM and LPT take the digits 1 to 9 and the superscripts 1, 2 and 3.
bool is_device_name(std::wstring_view name)
{
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && name.back() == L' ')
        name.remove_suffix(1);
    std::wstring base;
    for (const wchar_t c : name)
        base += upper(c);
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL")
        return true;
    if (base.size() != 4 || !(base.starts_with(L"COM") || base.starts_with(L"LPT")))
        return false;
    const wchar_t digit = base[3];
    return (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

// A name that Windows takes for a file of its own in a folder.
bool is_valid_file_name(std::wstring_view name)
{
    if (name.empty() || name.size() > 255 || name.back() == L' ' || name.back() == L'.')
        return false;
    for (const wchar_t c : name)
    {
        if (c < 32 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos)
            return false;
    }
    return !is_device_name(name);
}

void check_in_folder(const std::wstring& path, const std::wstring& folder)
{
    const std::wstring prefix = folder.ends_with(L'\\') ? folder : folder + L'\\';
    FUZZ_REQUIRE(path.starts_with(prefix));
    FUZZ_REQUIRE(is_valid_file_name(std::wstring_view(path).substr(prefix.size())));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    GUID guid{};
    std::memcpy(&guid, data, std::min(size, sizeof guid));
    const std::string identifier = guid_text(guid);
    FUZZ_REQUIRE(identifier.size() == 36);
    for (std::size_t i = 0; i < identifier.size(); ++i)
    {
        const char c = identifier[i];
        if (i == 8 || i == 13 || i == 18 || i == 23)
            FUZZ_REQUIRE(c == '-');
        else
            FUZZ_REQUIRE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    }
    const std::wstring job_file = job_file_name(identifier);
    FUZZ_REQUIRE(job_file == L"velmora_" + std::wstring(identifier.begin(), identifier.end()) + L".json.tmp");
    FUZZ_REQUIRE(is_valid_file_name(job_file));

    const std::wstring display_name = fuzz_support::wide_text(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::wstring name = shortcut_detail::clean_file_name(display_name);
    for (const std::wstring desktop : {L"C:\\Users\\Fuzz\\Desktop", L"D:\\"})
    {
        for (const int number : {1, 2, 10, 99})
            check_in_folder(shortcut_detail::shortcut_file_path(desktop, name, number), desktop);
    }
    return 0;
}
