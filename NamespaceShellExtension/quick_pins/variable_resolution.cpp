#include "quick_pins/variable_resolution.h"

#include "base/log.h"
#include "base/module_folder.h"

#include <cwctype>
#include <optional>
#include <utility>

// Every pass scans the text it was given and builds its result as it goes: a pass continues after what
// it inserted, so a match always lies wholly in the part of the input not yet scanned. That keeps a
// hostile model text (Menuwright's texts may run to megabytes) linear instead of quadratic.
namespace
{
// The placeholders are the regular expressions "\$[A-Za-z][A-Za-z0-9_]*" and
// "%([A-Za-z_][A-Za-z0-9_]*)%", scanned by hand: libstdc++'s std::regex recurses once per character it
// matches, and a long enough run of name characters would overflow the stack of the Explorer thread that
// resolves it. The scanners find the same leftmost, longest matches.
bool is_ascii_letter(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool is_name_character(wchar_t c) noexcept
{
    return is_ascii_letter(c) || (c >= L'0' && c <= L'9') || c == L'_';
}

std::size_t name_end(std::wstring_view text, std::size_t position) noexcept
{
    while (position < text.size() && is_name_character(text[position]))
        ++position;
    return position;
}

struct placeholder_match
{
    std::size_t start;
    std::size_t length;
};

// The next "$name" at or after `position`.
std::optional<placeholder_match> find_custom_placeholder(std::wstring_view text, std::size_t position) noexcept
{
    for (std::size_t i = position; i + 1 < text.size(); ++i)
    {
        if (text[i] == L'$' && is_ascii_letter(text[i + 1]))
            return placeholder_match{i, name_end(text, i + 2) - i};
    }
    return std::nullopt;
}

// The next "%NAME%" at or after `position`.
std::optional<placeholder_match> find_environment_placeholder(std::wstring_view text, std::size_t position) noexcept
{
    for (std::size_t i = position; i + 2 < text.size(); ++i)
    {
        if (text[i] != L'%' || !(is_ascii_letter(text[i + 1]) || text[i + 1] == L'_'))
            continue;
        const std::size_t end = name_end(text, i + 2);
        if (end < text.size() && text[end] == L'%')
            return placeholder_match{i, end + 1 - i};
        // No "%" ends this run of name characters, so no match can start inside it either.
        i = end - 1;
    }
    return std::nullopt;
}

std::wstring lower_case(std::wstring_view text)
{
    std::wstring result(text);
    for (auto& c : result)
        c = static_cast<wchar_t>(std::towlower(c));
    return result;
}

// One pass: every placeholder that `find` reports is replaced by what `value_of` answers for it; one
// that has no value is logged at level ERROR with `unknown` and stays as written.
template <class Find, class ValueOf>
std::wstring replace_placeholders(std::wstring_view text, fmt::wformat_string<std::wstring_view> unknown, Find find,
                                  ValueOf value_of)
{
    std::wstring result;
    std::size_t position = 0;
    while (const auto match = find(text, position))
    {
        result.append(text, position, match->start - position);
        const std::wstring_view found = text.substr(match->start, match->length);
        if (const auto value = value_of(found))
        {
            result += *value;
        }
        else
        {
            // A copy: the format was checked for a std::wstring_view, and a const reference to one is
            // another argument type to fmt.
            log_message(log_level::error, unknown, std::wstring_view(found));
            result += found;
        }
        position = match->start + match->length;
    }
    result.append(text, position);
    return result;
}

std::wstring resolve_custom_variables(std::wstring_view text, HMODULE module)
{
    // Built afresh for every call: the module's folder is read again each time.
    const std::pair<std::wstring, std::wstring> variables[] = {
        {L"$VLM_Directory", module_folder(module)},
    };
    return replace_placeholders(text, L"variable_resolution: unknown custom variable '{}'", find_custom_placeholder,
                                [&](std::wstring_view found) -> const std::wstring* {
                                    const std::wstring found_lower = lower_case(found);
                                    for (const auto& [name, value] : variables)
                                    {
                                        if (lower_case(name) == found_lower)
                                            return &value;
                                    }
                                    return nullptr;
                                });
}

// The expansion of one "%NAME%", or nothing when the system does not know NAME.
std::optional<std::wstring> expand_environment_variable(const std::wstring& placeholder)
{
    const DWORD needed = ExpandEnvironmentStringsW(placeholder.c_str(), nullptr, 0);
    if (needed == 0)
        return std::nullopt;
    std::wstring expansion(needed, L'\0');
    if (ExpandEnvironmentStringsW(placeholder.c_str(), expansion.data(), needed) == 0)
        return std::nullopt;
    // Drops the terminating NUL; a variable that grew between the two calls is cut where the buffer ends.
    expansion.resize(wcsnlen(expansion.c_str(), expansion.size()));
    // The system leaves an undefined variable exactly as it was written.
    if (expansion == placeholder)
        return std::nullopt;
    return expansion;
}

std::wstring resolve_environment_variables(std::wstring_view text)
{
    return replace_placeholders(text, L"variable_resolution: unknown environment variable '{}'",
                                find_environment_placeholder, [](std::wstring_view found) {
                                    return expand_environment_variable(std::wstring(found));
                                });
}

std::wstring quoted(const std::wstring& path)
{
    std::wstring result = L"\"";
    for (const wchar_t c : path)
    {
        if (c == L'"')
            result += L'"';
        result += c;
    }
    result += L'"';
    return result;
}

// Replaces every `name` (any case) and every `alias` (as written) by `value`, left to right. From any
// position the name is looked for first, and the alias only when no name follows at all: so an alias
// before the last name stays in the text.
std::wstring replace_selection_placeholder(std::wstring_view text, std::wstring_view name, std::wstring_view alias,
                                           const std::wstring& value)
{
    const std::wstring lower = lower_case(text);
    std::wstring result;
    std::size_t position = 0;
    std::size_t next_name = lower.find(name);
    for (;;)
    {
        std::size_t found = next_name;
        std::size_t length = name.size();
        if (found == std::wstring::npos)
        {
            found = text.find(alias, position);
            length = alias.size();
        }
        if (found == std::wstring::npos)
            break;
        result.append(text, position, found - position);
        result += value;
        position = found + length;
        if (next_name != std::wstring::npos)
            next_name = lower.find(name, position);
    }
    result.append(text, position);
    return result;
}

std::wstring resolve_selected_paths(std::wstring_view text, const std::vector<std::wstring>& selected_paths,
                                    const std::vector<std::wstring>& primary_paths)
{
    const std::wstring first = primary_paths.empty() ? std::wstring() : quoted(primary_paths.front());
    const std::wstring with_first = replace_selection_placeholder(text, L"$first_selected_path", L"%1", first);

    std::wstring all;
    for (const auto& path : selected_paths)
    {
        if (!all.empty())
            all += L' ';
        all += quoted(path);
    }
    return replace_selection_placeholder(with_first, L"$all_selected_paths", L"%*", all);
}
} // namespace

std::wstring resolve_variables(std::wstring_view text, HMODULE module, const std::vector<std::wstring>& selected_paths,
                               const std::vector<std::wstring>& primary_paths)
{
    const std::wstring custom = resolve_custom_variables(text, module);
    const std::wstring environment = resolve_environment_variables(custom);
    return resolve_selected_paths(environment, selected_paths, primary_paths);
}
