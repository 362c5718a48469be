// The result-item context menu: command placement, dispatch, the delete dialog, renaming and
// unpinning of quick pins, and the refresh after the real menu's commands.

#include "commands/search_result_context_menu.h"

#include "base/com_boundary.h"
#include "base/log.h"
#include "items/search_and_action_item_data.h"
#include "quick_pins/quick_pins_store.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace
{
constexpr char open_file_location_verb[] = "VLM.OpenFileLocation";
constexpr wchar_t open_file_location_verb_w[] = L"VLM.OpenFileLocation";
constexpr UINT verb_buffer_size = 64;
constexpr UINT watcher_checks = 20;
constexpr DWORD watcher_interval_ms = 200;

constexpr HRESULT menu_result(UINT count) noexcept
{
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, count);
}

bool any_file_missing(const std::vector<std::wstring>& paths) noexcept
{
    return std::any_of(paths.begin(), paths.end(), [](const std::wstring& path) {
        return !path.empty() && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    });
}

void notify_updated(PCIDLIST_ABSOLUTE folder) noexcept
{
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, folder, nullptr);
}

std::wstring path_of(PCIDLIST_ABSOLUTE id_list)
{
    wchar_t path[MAX_PATH] = {};
    if (!id_list || !SHGetPathFromIDListW(id_list, path))
        return {};
    return path;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

// The real menu's verbs that would act on the target of a quick pin behind the user's back.
enum class guarded_verb
{
    other,
    remove, // "delete"
    rename, // "rename"
    cut,    // "cut"
};

guarded_verb guarded_verb_of(const wchar_t* verb) noexcept
{
    if (!verb || IS_INTRESOURCE(verb))
        return guarded_verb::other;
    if (lstrcmpiW(verb, L"delete") == 0)
        return guarded_verb::remove;
    if (lstrcmpiW(verb, L"rename") == 0)
        return guarded_verb::rename;
    if (lstrcmpiW(verb, L"cut") == 0)
        return guarded_verb::cut;
    return guarded_verb::other;
}

guarded_verb guarded_verb_of(const char* verb) noexcept
{
    if (!verb || IS_INTRESOURCE(verb))
        return guarded_verb::other;
    wchar_t wide[verb_buffer_size] = {};
    for (std::size_t i = 0; i + 1 < std::size(wide) && verb[i]; ++i)
        wide[i] = static_cast<unsigned char>(verb[i]);
    return guarded_verb_of(wide);
}

// The string verb of an invocation, narrow or (in the wide structure) wide.
guarded_verb guarded_verb_of(const CMINVOKECOMMANDINFO* info) noexcept
{
    const guarded_verb narrow_verb = guarded_verb_of(info->lpVerb);
    if (narrow_verb != guarded_verb::other || info->cbSize < sizeof(CMINVOKECOMMANDINFOEX))
        return narrow_verb;
    return guarded_verb_of(reinterpret_cast<const CMINVOKECOMMANDINFOEX*>(info)->lpVerbW);
}

// The "Delete" question, in a task dialog when comctl32 offers one (version 6, in Explorer), else in a
// message box. The pressed button: 6 for "Move to Recycle Bin", anything else for no.
int ask_delete(HWND owner, const std::wstring& instruction, const std::wstring& content)
{
    HMODULE comctl32 = GetModuleHandleW(L"comctl32.dll");
    HMODULE loaded = nullptr;
    if (!comctl32)
        comctl32 = loaded = LoadLibraryW(L"comctl32.dll");
    using task_dialog_indirect = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
    const auto task_dialog = comctl32 ? reinterpret_cast<task_dialog_indirect>(
                                            reinterpret_cast<void*>(GetProcAddress(comctl32, "TaskDialogIndirect")))
                                      : nullptr;
    int button = 0;
    HRESULT hr = E_NOTIMPL;
    if (task_dialog)
    {
        const TASKDIALOG_BUTTON buttons[] = {
            {search_result_context_menu::move_to_recycle_bin_button, L"Move to Recycle Bin"}};
        TASKDIALOGCONFIG config{};
        config.cbSize = sizeof(config);
        config.hwndParent = owner;
        config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
        config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
        config.pszWindowTitle = L"Delete";
        config.pszMainIcon = TD_WARNING_ICON;
        config.pszMainInstruction = instruction.c_str();
        config.pszContent = content.c_str();
        config.cButtons = static_cast<UINT>(std::size(buttons));
        config.pButtons = buttons;
        config.nDefaultButton = IDCANCEL;
        hr = task_dialog(&config, &button, nullptr, nullptr);
        if (FAILED(hr))
            log_message(log_level::warning, "InvokeCommand: TaskDialogIndirect failed 0x{:X}", hresult_bits(hr));
    }
    if (FAILED(hr))
        button = MessageBoxW(owner, content.c_str(), L"Delete", MB_OKCANCEL | MB_ICONWARNING) == IDOK
                     ? search_result_context_menu::move_to_recycle_bin_button
                     : IDCANCEL;
    if (loaded)
        FreeLibrary(loaded);
    return button;
}

// A small bitmap of the stock folder icon for "Open File Location"; null when the shell gives no icon
// (Wine answers S_OK without one).
HBITMAP make_folder_bitmap() noexcept
{
    SHSTOCKICONINFO info{};
    info.cbSize = sizeof(info);
    if (FAILED(SHGetStockIconInfo(SIID_FOLDER, SHGSI_ICON | SHGSI_SMALLICON, &info)) || !info.hIcon)
        return nullptr;
    const int width = GetSystemMetrics(SM_CXSMICON);
    const int height = GetSystemMetrics(SM_CYSMICON);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = nullptr;
    if (HDC dc = CreateCompatibleDC(nullptr))
    {
        bitmap = CreateDIBSection(dc, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap)
        {
            const HGDIOBJ previous = SelectObject(dc, bitmap);
            const BOOL drawn = DrawIconEx(dc, 0, 0, info.hIcon, width, height, 0, nullptr, DI_NORMAL);
            SelectObject(dc, previous);
            if (!drawn)
            {
                DeleteObject(bitmap);
                bitmap = nullptr;
            }
        }
        DeleteDC(dc);
    }
    DestroyIcon(info.hIcon);
    return bitmap;
}

// The command offsets (relative to `base`) of the items of `menu` and its submenus whose ids lie in
// [base, base + count), each once, in menu order.
void collect_command_offsets(HMENU menu, UINT base, UINT count, std::vector<UINT>& offsets, int depth = 0)
{
    const int items = GetMenuItemCount(menu);
    for (int i = 0; i < items; ++i)
    {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info) || (info.fType & MFT_SEPARATOR))
            continue;
        if (info.hSubMenu && depth < 8)
            collect_command_offsets(info.hSubMenu, base, count, offsets, depth + 1);
        else if (info.wID >= base && info.wID - base < count &&
                 std::find(offsets.begin(), offsets.end(), info.wID - base) == offsets.end())
            offsets.push_back(info.wID - base);
    }
}

struct watch_state
{
    module_lock lock;
    unique_absolute_id_list folder;
    std::vector<std::wstring> paths;
    // The DLL, kept loaded until the thread's last instruction; null in a test executable.
    HMODULE module = nullptr;
};

DWORD WINAPI watch_for_vanished_files(void* parameter)
{
    std::unique_ptr<watch_state> state(static_cast<watch_state*>(parameter));
    for (UINT check = 0; check < watcher_checks; ++check)
    {
        Sleep(watcher_interval_ms);
        if (any_file_missing(state->paths))
        {
            notify_updated(state->folder.get());
            break;
        }
    }
    const HMODULE module = state->module;
    state.reset();
    if (module)
        FreeLibraryAndExitThread(module, 0);
    return 0;
}
} // namespace

namespace search_result_context_menu_detail
{
bool start_vanish_watcher(PCIDLIST_ABSOLUTE folder, const std::vector<std::wstring>& paths) noexcept
{
    try
    {
        auto state = std::make_unique<watch_state>();
        state->folder.reset(ILCloneFull(folder));
        if (!state->folder)
            return false;
        state->paths = paths;
        if (module_instance &&
            !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(module_instance),
                                &state->module))
            return false;
        unique_handle thread(CreateThread(nullptr, 0, watch_for_vanished_files, state.get(), 0, nullptr));
        if (!thread)
        {
            if (state->module)
                FreeLibrary(state->module);
            return false;
        }
        state.release();
        return true;
    }
    catch (...)
    {
        return false;
    }
}
} // namespace search_result_context_menu_detail

HRESULT create_search_result_context_menu(search_result_context_menu** out) noexcept
{
    if (!out)
        return E_POINTER;
    return search_result_context_menu::create(out);
}

HRESULT search_result_context_menu::initialize() noexcept
{
    if (!lock_.initialized())
    {
        const DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_OUTOFMEMORY;
    }
    return S_OK;
}

search_result_context_menu::~search_result_context_menu()
{
    if (folder_bitmap_)
        DeleteObject(folder_bitmap_);
}

HRESULT search_result_context_menu::hold_real_menu(IContextMenu* real) noexcept
{
    real_ = com_ptr<IContextMenu>(real);
    return S_OK;
}

HRESULT search_result_context_menu::initialize_single(IContextMenu* real, PCIDLIST_ABSOLUTE item,
                                                      unique_absolute_id_list working, PCIDLIST_ABSOLUTE folder,
                                                      std::wstring_view path) noexcept
{
    if (!real || !item)
        return E_INVALIDARG;
    unique_absolute_id_list item_copy(ILCloneFull(item));
    unique_absolute_id_list folder_copy(folder ? ILCloneFull(folder) : nullptr);
    if (!item_copy || (folder && !folder_copy))
        return E_OUTOFMEMORY;
    try
    {
        std::vector<std::wstring> paths;
        if (!path.empty())
            paths.emplace_back(path);
        paths_ = std::move(paths);
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
    hold_real_menu(real);
    item_ = std::move(item_copy);
    folder_ = std::move(folder_copy);
    working_ = std::move(working);
    multi_ = false;
    return S_OK;
}

HRESULT search_result_context_menu::initialize_multi(IContextMenu* real, std::vector<std::wstring> paths,
                                                     PCIDLIST_ABSOLUTE folder) noexcept
{
    if (!real)
        return E_INVALIDARG;
    unique_absolute_id_list folder_copy(folder ? ILCloneFull(folder) : nullptr);
    if (folder && !folder_copy)
        return E_OUTOFMEMORY;
    hold_real_menu(real);
    folder_ = std::move(folder_copy);
    paths_ = std::move(paths);
    multi_ = true;
    return S_OK;
}

HRESULT search_result_context_menu::set_pin_data(std::wstring_view pin_path, std::wstring_view location,
                                                 bool is_group) noexcept
{
    try
    {
        pin_path_ = pin_path;
        location_ = location;
        is_group_ = is_group;
        is_pin_ = !is_group;
        return S_OK;
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT search_result_context_menu::set_selected_pins(std::vector<selected_pin> pins) noexcept
{
    selected_pins_ = std::move(pins);
    return S_OK;
}

// One quick pin, or a selection with quick pins among its items.
bool search_result_context_menu::acts_on_pins() const noexcept
{
    return multi_ ? !selected_pins_.empty() : is_pin_;
}

HBITMAP search_result_context_menu::folder_bitmap()
{
    {
        critical_section_lock guard(lock_);
        if (folder_bitmap_made_)
            return folder_bitmap_;
    }
    HBITMAP made = make_folder_bitmap();
    critical_section_lock guard(lock_);
    if (folder_bitmap_made_)
    {
        if (made)
            DeleteObject(made);
        return folder_bitmap_;
    }
    folder_bitmap_made_ = true;
    folder_bitmap_ = made;
    return folder_bitmap_;
}

search_result_context_menu::command_offsets search_result_context_menu::offsets() const
{
    critical_section_lock guard(lock_);
    return offsets_;
}

void search_result_context_menu::notify_folder_updated() const noexcept
{
    if (folder_)
        notify_updated(folder_.get());
}

// Adds "Open File Location" and the pin commands around the real menu's commands, which move up by 100.
STDMETHODIMP search_result_context_menu::QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last,
                                                          UINT flags) noexcept
{
    return com_boundary("QueryContextMenu", [&]() -> HRESULT {
        if (static_cast<ULONGLONG>(first) + delegate_offset > last || !real_)
            return menu_result(0);
        const int before = GetMenuItemCount(menu);
        const HRESULT hr = real_->QueryContextMenu(menu, index, first + delegate_offset, last, flags);
        if (FAILED(hr))
        {
            log_message(log_level::warning, "QueryContextMenu: Delegate failed 0x{:X}", hresult_bits(hr));
            return menu_result(0);
        }
        const UINT count = HRESULT_CODE(hr);

        command_offsets found;
        UINT open_command = no_command;
        // Only the commands the real menu shows (Wine's reports 259 commands for 11 items), submenus too.
        std::vector<UINT> shown;
        collect_command_offsets(menu, first + delegate_offset, count, shown);
        for (const UINT n : shown)
        {
            char verb[verb_buffer_size] = {};
            if (FAILED(real_->GetCommandString(n, GCS_VERBA, nullptr, verb, verb_buffer_size)))
                continue;
            verb[verb_buffer_size - 1] = '\0';
            if (lstrcmpiA(verb, "open") == 0)
            {
                if (found.open == no_command)
                {
                    found.open = n + delegate_offset;
                    open_command = n;
                }
            }
            else if (lstrcmpiA(verb, "delete") == 0)
                found.remove = n + delegate_offset;
            else if (lstrcmpiA(verb, "rename") == 0)
                found.rename = n + delegate_offset;
            else if (lstrcmpiA(verb, "cut") == 0)
                found.cut = n + delegate_offset;
        }

        if (!multi_)
        {
            // Below "open" and its companions, at the separator that ends their group; at the top when
            // there is no "open". Command offsets are not positions (Wine's file menu gives "open" the
            // offset 258 and shows it third), so the item of the "open" command is looked up first.
            const UINT start = std::min(index, static_cast<UINT>(std::max(before, 0)));
            const UINT end = start + static_cast<UINT>(std::max(GetMenuItemCount(menu) - before, 0));
            UINT position = start;
            if (open_command != no_command)
            {
                UINT open_item = end;
                for (UINT p = start; p < end && open_item == end; ++p)
                    if (GetMenuItemID(menu, static_cast<int>(p)) == first + delegate_offset + open_command)
                        open_item = p;
                position = end;
                for (UINT p = open_item + 1; p < end; ++p)
                {
                    MENUITEMINFOW info{};
                    info.cbSize = sizeof(info);
                    info.fMask = MIIM_FTYPE;
                    if (GetMenuItemInfoW(menu, p, TRUE, &info) && (info.fType & MFT_SEPARATOR))
                    {
                        position = p;
                        break;
                    }
                }
            }
            wchar_t text[] = L"Open File Location";
            MENUITEMINFOW item{};
            item.cbSize = sizeof(item);
            item.fMask = MIIM_STATE | MIIM_ID | MIIM_STRING | MIIM_BITMAP;
            item.fState = MFS_ENABLED;
            item.wID = first + open_file_location_command;
            item.dwTypeData = text;
            item.hbmpItem = folder_bitmap();
            InsertMenuItemW(menu, position, TRUE, &item);
        }

        if (found.open == no_command)
        {
            const UINT default_id = GetMenuDefaultItem(menu, FALSE, GMDI_USEDISABLED);
            if (default_id != static_cast<UINT>(-1) && default_id >= first + delegate_offset &&
                default_id < first + delegate_offset + count)
                found.open = default_id - first;
        }

        // A pasted "Cut" moves the file it was given away: for a pin, the target. Pins are not moved.
        if (acts_on_pins() && found.cut != no_command)
        {
            DeleteMenu(menu, first + found.cut, MF_BYCOMMAND);
            found.cut = no_command;
        }

        if (!pin_path_.empty() && !multi_ && !(flags & CMF_DEFAULTONLY))
        {
            // The file system's own rename and delete would act on a pin's target behind the user's
            // back; a group keeps "Delete", which this menu answers with its own question.
            if (found.rename != no_command)
            {
                DeleteMenu(menu, first + found.rename, MF_BYCOMMAND);
                found.rename = no_command;
            }
            if (!is_group_ && found.remove != no_command)
            {
                DeleteMenu(menu, first + found.remove, MF_BYCOMMAND);
                found.remove = no_command;
            }
            const UINT end = static_cast<UINT>(-1);
            InsertMenuW(menu, end, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
            InsertMenuW(menu, end, MF_BYPOSITION | MF_STRING, first + rename_pin_command,
                        is_group_ ? L"Rename group" : L"Rename pin");
            if (!is_group_)
                InsertMenuW(menu, end, MF_BYPOSITION | MF_STRING, first + unpin_command, L"Unpin");
        }

        {
            critical_section_lock guard(lock_);
            offsets_ = found;
        }
        return menu_result(count + delegate_offset);
    });
}

STDMETHODIMP search_result_context_menu::InvokeCommand(CMINVOKECOMMANDINFO* info) noexcept
{
    return com_boundary("InvokeCommand", [&]() -> HRESULT {
        if (!real_)
            return E_NOTIMPL;
        if (!info)
            return E_INVALIDARG;
        if (!IS_INTRESOURCE(info->lpVerb))
        {
            const guarded_verb verb = guarded_verb_of(info);
            if (verb == guarded_verb::remove)
                return remove(info->hwnd);
            if (verb == guarded_verb::rename && acts_on_pins())
                return rename_in_view();
            if (verb == guarded_verb::cut && acts_on_pins())
                return refuse_cut();
            // "VLM.OpenFileLocation" too: by name it is the real menu's, which does not know it.
            const HRESULT hr = real_->InvokeCommand(info);
            if (SUCCEEDED(hr))
                refresh_after_delegation();
            return hr;
        }
        return invoke_offset(info, LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb)));
    });
}

HRESULT search_result_context_menu::invoke_offset(CMINVOKECOMMANDINFO* info, UINT offset)
{
    const command_offsets recorded = offsets();
    if (offset == recorded.remove)
        return remove(info->hwnd);
    if (offset == recorded.open)
        return invoke_open(info);
    if (!pin_path_.empty())
    {
        if (offset == rename_pin_command)
            return rename_in_view();
        if (offset == unpin_command && !is_group_)
            return unpin();
    }
    if (offset == open_file_location_command && !multi_)
    {
        const HRESULT hr = SHOpenFolderAndSelectItems(item_.get(), 0, nullptr, 0);
        if (FAILED(hr))
            log_message(log_level::error, "InvokeCommand: SHOpenFolderAndSelectItems failed 0x{:X}", hresult_bits(hr));
        return hr;
    }
    if (offset >= delegate_offset)
    {
        // Also a real command that is not (or no longer) on the menu, such as the "Delete" taken out
        // for a pin: by its verb.
        if (acts_on_pins())
        {
            wchar_t verb[verb_buffer_size] = {};
            char narrow_verb[verb_buffer_size] = {};
            guarded_verb guarded = guarded_verb::other;
            if (SUCCEEDED(real_->GetCommandString(offset - delegate_offset, GCS_VERBW, nullptr,
                                                  reinterpret_cast<CHAR*>(verb), verb_buffer_size)))
            {
                verb[verb_buffer_size - 1] = L'\0';
                guarded = guarded_verb_of(verb);
            }
            if (guarded == guarded_verb::other &&
                SUCCEEDED(real_->GetCommandString(offset - delegate_offset, GCS_VERBA, nullptr, narrow_verb,
                                                  verb_buffer_size)))
            {
                narrow_verb[verb_buffer_size - 1] = '\0';
                guarded = guarded_verb_of(narrow_verb);
            }
            switch (guarded)
            {
            case guarded_verb::remove:
                return remove(info->hwnd);
            case guarded_verb::rename:
                return rename_in_view();
            case guarded_verb::cut:
                return refuse_cut();
            case guarded_verb::other:
                break;
            }
        }
        return invoke_delegated(info, offset);
    }
    log_message(log_level::warning, "InvokeCommand: ID {} is below Delegate Offset (100) but not processed. Invalid Arg.",
                offset);
    return E_INVALIDARG;
}

// "open" by name, whatever the caller's structure held: the real menu opens the file as a double click.
HRESULT search_result_context_menu::invoke_open(const CMINVOKECOMMANDINFO* info)
{
    CMINVOKECOMMANDINFOEX open{};
    open.cbSize = sizeof(open);
    open.fMask = CMIC_MASK_UNICODE;
    open.hwnd = info->hwnd;
    open.nShow = info->nShow;
    open.lpVerb = "open";
    open.lpVerbW = L"open";
    return real_->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&open));
}

// A command of the real menu, in a structure wide enough for the working folder: the folder that holds
// the file, not the folder the view shows (which is ours and has no file-system path).
HRESULT search_result_context_menu::invoke_delegated(CMINVOKECOMMANDINFO* info, UINT offset)
{
    CMINVOKECOMMANDINFOEX widened{};
    std::memcpy(&widened, info, std::min<std::size_t>(info->cbSize, sizeof(widened)));
    widened.cbSize = sizeof(widened);
    widened.lpVerb = MAKEINTRESOURCEA(offset - delegate_offset);
    widened.lpVerbW = MAKEINTRESOURCEW(offset - delegate_offset);

    std::wstring directory;
    if (working_)
    {
        unique_absolute_id_list parent = working_.clone();
        if (parent && ILRemoveLastID(reinterpret_cast<PUIDLIST_RELATIVE>(parent.get())))
            directory = path_of(parent.get());
    }
    const std::string narrow_directory = narrow(directory);
    widened.lpDirectoryW = directory.empty() ? nullptr : directory.c_str();
    widened.lpDirectory = directory.empty() ? nullptr : narrow_directory.c_str();

    const HRESULT hr = real_->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&widened));
    if (SUCCEEDED(hr))
        refresh_after_delegation();
    return hr;
}

// "delete": pins are unpinned, their targets never touched; anything else goes to the Recycle Bin after
// the question.
HRESULT search_result_context_menu::remove(HWND owner)
{
    if (!acts_on_pins())
        return delete_to_recycle_bin(owner);
    return multi_ ? unpin_selection() : unpin();
}

// Asks, then moves the files to the Recycle Bin through the shell's file operation (never deleting
// outright), and refreshes the view.
HRESULT search_result_context_menu::delete_to_recycle_bin(HWND owner)
{
    std::vector<std::wstring> targets;
    std::wstring instruction;
    std::wstring content;
    if (!multi_)
    {
        std::wstring path = paths_.empty() ? path_of(item_.get()) : paths_.front();
        if (path.empty())
            return E_FAIL;
        const std::size_t slash = path.find_last_of(L'\\');
        instruction = slash == std::wstring::npos ? path : path.substr(slash + 1);
        content = L"This item will be moved to the Recycle Bin.";
        targets.push_back(std::move(path));
    }
    else
    {
        if (paths_.empty())
            return E_FAIL;
        instruction = fmt::format(L"Delete {} items?", paths_.size());
        content = fmt::format(L"These {} items will be moved to the Recycle Bin.", paths_.size());
        targets = paths_;
    }
    if (ask_delete(owner, instruction, content) != move_to_recycle_bin_button)
        return S_OK;

    com_ptr<IFileOperation> operation;
    HRESULT hr = CoCreateInstance(CLSID_FileOperation, nullptr, CLSCTX_ALL, IID_IFileOperation, operation.put_void());
    if (FAILED(hr))
        return hr;
    hr = operation->SetOperationFlags(FOF_NOERRORUI | FOF_ALLOWUNDO | FOF_NOCONFIRMATION);
    if (FAILED(hr))
        return hr;
    for (const auto& target : targets)
    {
        com_ptr<IShellItem> item;
        hr = SHCreateItemFromParsingName(target.c_str(), nullptr, IID_IShellItem, item.put_void());
        if (FAILED(hr))
        {
            if (multi_)
                continue;
            return hr;
        }
        hr = operation->DeleteItem(item.get(), nullptr);
        if (FAILED(hr))
            return hr;
    }
    hr = operation->PerformOperations();
    if (FAILED(hr))
        return hr;
    BOOL aborted = FALSE;
    hr = operation->GetAnyOperationsAborted(&aborted);
    if (FAILED(hr))
        return hr;
    if (aborted)
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    notify_folder_updated();
    return S_OK;
}

// In-place editing in the view; the new name arrives through the folder's SetNameOf.
HRESULT search_result_context_menu::rename_in_view()
{
    com_ptr<IUnknown> site;
    {
        critical_section_lock guard(lock_);
        site = site_;
    }
    com_ptr<IFolderView2> view;
    if (site && SUCCEEDED(IUnknown_QueryService(site.get(), SID_SFolderView, IID_IFolderView2, view.put_void())) &&
        view && SUCCEEDED(view->DoRename()))
        return S_OK;
    log_message(log_level::warning, "InvokeCommand: Rename pin could not reach the folder view");
    return E_FAIL;
}

HRESULT search_result_context_menu::refuse_cut()
{
    log_message(log_level::warning, "InvokeCommand: cut is not offered for quick pins (a paste would move the pinned file)");
    return E_INVALIDARG;
}

HRESULT search_result_context_menu::unpin()
{
    if (!unpin_items(location_, {pin_path_}))
        return E_FAIL;
    notify_folder_updated();
    return S_OK;
}

// Every selected pin's shortcut, group by group, as "Unpin" does for one. Items of the selection that
// are not pins are left alone.
HRESULT search_result_context_menu::unpin_selection()
{
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> groups;
    for (const auto& pin : selected_pins_)
    {
        auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& entry) {
            return CompareStringOrdinal(entry.first.c_str(), -1, pin.group_folder.c_str(), -1, TRUE) == CSTR_EQUAL;
        });
        if (group == groups.end())
            group = groups.insert(groups.end(), {pin.group_folder, {}});
        group->second.push_back(pin.link_path);
    }
    std::size_t unpinned = 0;
    for (const auto& [group, links] : groups)
        unpinned += unpin_items(group, links) ? 1 : 0;
    if (unpinned > 0)
        notify_folder_updated();
    return unpinned == groups.size() ? S_OK : E_FAIL;
}

// After the real menu has acted: a file moved away refreshes the view now or, when the command works on
// in the background (a move started by "Cut" and pasted elsewhere, a slow copy engine), within four
// seconds from the watcher thread. The items themselves are updated in any case.
void search_result_context_menu::refresh_after_delegation() noexcept
{
    if (!folder_)
        return;
    try
    {
        if (!paths_.empty())
        {
            if (any_file_missing(paths_))
                notify_updated(folder_.get());
            else if (!search_result_context_menu_detail::start_vanish_watcher(folder_.get(), paths_))
                log_message(log_level::warning, "InvokeCommand: the refresh watcher could not be started");
        }
        for (const auto& path : paths_)
        {
            if (path.empty())
                continue;
            unique_child_id item = create_empty_result_item();
            auto* data = own_item_data(item.get());
            const std::size_t length = std::min(path.size(), std::size(data->path) - 1);
            std::copy_n(path.c_str(), length, data->path);
            data->path[length] = L'\0';
            refresh_stamp(data);
            unique_absolute_id_list joined(ILCombine(folder_.get(), item.get()));
            if (joined)
                SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, joined.get(), nullptr);
            SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.c_str(), nullptr);
        }
    }
    catch (...)
    {
        log_caught_exception("InvokeCommand");
    }
}

STDMETHODIMP search_result_context_menu::GetCommandString(UINT_PTR command, UINT type, UINT* reserved, CHAR* buffer,
                                                          UINT size) noexcept
{
    return com_boundary("GetCommandString", [&]() -> HRESULT {
        if (command == open_file_location_command)
        {
            if (type == GCS_VERBW)
            {
                if (!buffer || size < std::size(open_file_location_verb_w))
                    return E_FAIL;
                std::copy_n(open_file_location_verb_w, std::size(open_file_location_verb_w),
                            reinterpret_cast<wchar_t*>(buffer));
                return S_OK;
            }
            if (type == GCS_VERBA)
            {
                if (!buffer || size < std::size(open_file_location_verb))
                    return E_FAIL;
                std::copy_n(open_file_location_verb, std::size(open_file_location_verb), buffer);
                return S_OK;
            }
            return E_NOTIMPL;
        }
        if (command < delegate_offset)
            return E_INVALIDARG;
        if (!real_)
            return E_NOTIMPL;
        return real_->GetCommandString(command - delegate_offset, type, reserved, buffer, size);
    });
}

// The real menu's IContextMenu2 and 3 are asked for when a message comes, not when the menu is made:
// most menus are made for a key press or a double click and never drawn.
STDMETHODIMP search_result_context_menu::HandleMenuMsg(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    const auto real = real_.try_query<IContextMenu2>();
    return real ? real->HandleMenuMsg(message, wparam, lparam) : E_NOTIMPL;
}

STDMETHODIMP search_result_context_menu::HandleMenuMsg2(UINT message, WPARAM wparam, LPARAM lparam,
                                                        LRESULT* result) noexcept
{
    const auto real = real_.try_query<IContextMenu3>();
    return real ? real->HandleMenuMsg2(message, wparam, lparam, result) : E_NOTIMPL;
}

STDMETHODIMP search_result_context_menu::SetSite(IUnknown* site) noexcept
{
    {
        critical_section_lock guard(lock_);
        site_ = com_ptr<IUnknown>(site);
    }
    if (const auto with_site = real_.try_query<IObjectWithSite>())
        return with_site->SetSite(site);
    return S_OK;
}

STDMETHODIMP search_result_context_menu::GetSite(REFIID riid, void** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    com_ptr<IUnknown> site;
    {
        critical_section_lock guard(lock_);
        site = site_;
    }
    if (!site)
        return E_FAIL;
    return site->QueryInterface(riid, out);
}
