// The quick pins store, writing side: pinning, unpinning, renaming and the cross-process lock.

#include "quick_pins/quick_pins_store.h"

#include "base/log.h"
#include "base/module_folder.h"
#include "quick_pins/folder_enumeration.h"
#include "quick_pins/pin_names.h"
#include "quick_pins/shell_link.h"

#include <shellapi.h>

#include <system_error>

namespace
{
constexpr wchar_t lock_name[] = L"Local\\Velmora.Menuwright.QuickPins";

bool exists(const std::wstring& path) noexcept
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_link_name(std::wstring_view name) noexcept
{
    return name.size() >= 4 && equal_ignoring_case(name.substr(name.size() - 4), L".lnk");
}

// The raw targets of the shortcuts in `folder`: what the pins there stand for. Read once per call;
// under the store lock only this call adds to the folder.
std::vector<std::wstring> pinned_targets(const std::wstring& folder)
{
    std::vector<std::wstring> targets;
    WIN32_FIND_DATAW found{};
    folder_enumeration enumeration(folder, found);
    if (!enumeration)
        return targets;
    do
    {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !is_link_name(found.cFileName))
            continue;
        std::wstring target = read_link_raw_path(join_path(folder, found.cFileName));
        if (!target.empty())
            targets.push_back(std::move(target));
    } while (enumeration.next(found));
    return targets;
}

bool is_pinned(const std::vector<std::wstring>& targets, const std::wstring& path) noexcept
{
    for (const auto& target : targets)
    {
        if (equal_ignoring_case(target, path))
            return true;
    }
    return false;
}

// The first free name of "N.lnk", "N (2).lnk" ... "N (999).lnk" in the folder. When every one is taken
// the last is returned all the same: writing it would replace a pin, so the caller checks it again.
std::wstring free_pin_file(const std::wstring& folder, const std::wstring& pinned_path)
{
    const std::wstring name = sanitized_pin_name(pinned_path);
    std::wstring candidate = join_path(folder, name + L".lnk");
    for (int number = 2; exists(candidate) && number <= quick_pins_limits::max_pin_number; ++number)
        candidate = join_path(folder, name + L" (" + std::to_wstring(number) + L").lnk");
    return candidate;
}

std::wstring_view without_trailing_backslashes(std::wstring_view path) noexcept
{
    while (!path.empty() && path.back() == L'\\')
        path.remove_suffix(1);
    return path;
}

std::wstring_view parent_folder(std::wstring_view path) noexcept
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? std::wstring_view() : without_trailing_backslashes(path.substr(0, slash));
}
} // namespace

quick_pins_lock::quick_pins_lock() noexcept : mutex_(CreateMutexW(nullptr, FALSE, lock_name))
{
    // The result is deliberately not looked at: after 10 s, or when a holder died, pinning goes on
    // rather than failing the user's drop.
    if (mutex_)
        WaitForSingleObject(mutex_, quick_pins_limits::lock_wait_ms);
}

quick_pins_lock::~quick_pins_lock()
{
    if (mutex_)
    {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
}

std::optional<std::size_t> pin_items(const std::wstring& group_folder, const std::vector<std::wstring>& paths)
{
    if (group_folder.empty() || paths.empty() || paths.size() > quick_pins_limits::max_paths_per_operation)
        return std::nullopt;

    const quick_pins_lock lock;
    std::error_code error;
    std::filesystem::create_directories(group_folder, error);
    if (error && !exists(group_folder))
    {
        log_message(log_level::error, L"[quick-pins] Could not create '{}': {}", group_folder, error.value());
        return std::nullopt;
    }

    std::vector<std::wstring> targets = pinned_targets(group_folder);
    std::size_t written = 0;
    for (const auto& path : paths)
    {
        if (path.empty() || is_pinned(targets, path))
            continue;
        const std::wstring pin_file = free_pin_file(group_folder, path);
        // All 999 names taken: never replace a pin, and say so rather than drop the path quietly.
        if (exists(pin_file) || !write_shortcut(pin_file, path))
        {
            log_message(log_level::error, L"[quick-pins] Could not write '{}'", pin_file);
            return std::nullopt;
        }
        targets.push_back(path);
        ++written;
    }
    log_message(log_level::info, L"[quick-pins] Pinned {} item(s) to '{}'", written, group_folder);
    return written;
}

bool unpin_items(const std::wstring& group_folder, const std::vector<std::wstring>& pin_files)
{
    if (group_folder.empty() || pin_files.empty() || pin_files.size() > quick_pins_limits::max_paths_per_operation)
        return false;

    const quick_pins_lock lock;
    const std::wstring_view folder = without_trailing_backslashes(group_folder);
    std::vector<const std::wstring*> removed;
    for (const auto& file : pin_files)
    {
        if (file.empty())
            continue;
        if (!equal_ignoring_case(parent_folder(file), folder))
        {
            log_message(log_level::error, L"[quick-pins] '{}' is not in '{}' and was not removed", file, group_folder);
            return false;
        }
        if (exists(file))
            removed.push_back(&file);
    }
    if (removed.empty())
        return true;

    std::wstring sources;
    for (const auto* file : removed)
    {
        sources += *file;
        sources += L'\0';
    }
    sources += L'\0';

    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = sources.c_str();
    // To the Recycle Bin, with no dialog of any kind: the user chose "Unpin" and expects no question.
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
    const int result = SHFileOperationW(&operation);
    if (result != 0 || operation.fAnyOperationsAborted)
    {
        log_message(log_level::error, L"[quick-pins] Could not unpin from '{}': {}", group_folder, result);
        return false;
    }
    log_message(log_level::info, L"[quick-pins] Unpinned {} item(s) from '{}'", removed.size(), group_folder);
    return true;
}

pin_rename_result rename_pin_file(const std::wstring& old_path, bool is_group, std::wstring_view new_name)
{
    if (new_name.find_first_of(L"/:*?<>|\\") != std::wstring_view::npos)
        return {ERROR_INVALID_NAME, {}};
    while (!new_name.empty() && (new_name.back() == L' ' || new_name.back() == L'.'))
        new_name.remove_suffix(1);
    if (new_name.empty())
        return {ERROR_INVALID_NAME, {}};

    const std::size_t slash = old_path.find_last_of(L"\\/");
    const std::wstring_view old_name =
        slash == std::wstring::npos ? std::wstring_view(old_path) : std::wstring_view(old_path).substr(slash + 1);
    const std::wstring_view extension = is_group ? std::wstring_view() : pin_file_extension(old_name);
    const std::wstring_view prefix = old_name.substr(0, order_prefix_length(old_name, is_group));

    std::wstring new_path = slash == std::wstring::npos ? std::wstring() : old_path.substr(0, slash + 1);
    new_path.append(prefix).append(new_name).append(extension);
    if (equal_ignoring_case(new_path, old_path))
        return {ERROR_SUCCESS, old_path};

    if (!MoveFileExW(old_path.c_str(), new_path.c_str(), 0))
    {
        const DWORD error = GetLastError();
        log_message(log_level::error, L"SetNameOf: could not rename pin {} -> {}, error {}", old_path, new_path, error);
        return {error, {}};
    }
    return {ERROR_SUCCESS, std::move(new_path)};
}
