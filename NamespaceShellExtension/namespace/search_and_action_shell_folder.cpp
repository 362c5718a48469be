// The folder's identity, initialisation, enumeration, binding, parsing, display names and attributes.

#include "namespace/search_and_action_shell_folder.h"

#include "base/log.h"
#include "items/configuration_references.h"
#include "items/folder_tree.h"
#include "items/path_cache.h"
#include "items/search_and_action_item_data.h"
#include "namespace/quick_pins_shell_folder.h"
#include "namespace/search_and_action_item_data_enum_id_list.h"
#include "quick_pins/quick_pins_store.h"
#include "search/search_cache.h"
#include "search/search_thread.h"

#include <shlwapi.h>

#include <cstring>
#include <new>

namespace
{
// The pane the namespace forces open. {D27524A8-C9F2-4834-A106-DF8889FD4F37} is what earlier builds
// answered for (the SDK names it EP_Ribbon); {893C63D1-45C8-4D17-BE19-223BE71BE365} is the SDK's
// EP_PreviewPane. Both get the forced state, so views keep behaving as before and the preview pane opens.
constexpr GUID forced_pane = {0xd27524a8, 0xc9f2, 0x4834, {0xa1, 0x06, 0xdf, 0x88, 0x89, 0xfd, 0x4f, 0x37}};
constexpr GUID preview_pane = {0x893c63d1, 0x45c8, 0x4d17, {0xbe, 0x19, 0x22, 0x3b, 0xe7, 0x1b, 0xe3, 0x65}};

constexpr SFGAOF organized_folder_attributes = 0xB8000004;
constexpr SFGAOF organized_search_attributes = 0x38000004;
// A pin is its shortcut, not its target: the target's move, rename, delete and sub-folders are not the pin's.
constexpr SFGAOF quick_pin_kept = 0x7FFFFFCD;
// A group browses as our folder, not as the real one.
constexpr SFGAOF group_kept = 0xBFBFFFFF;
constexpr SFGAOF group_added = 0x38000000;

std::uint8_t kind_byte(item_kind kind) noexcept
{
    return static_cast<std::uint8_t>(kind);
}

bool is_virtual_folder_kind(std::uint8_t kind) noexcept
{
    return kind == kind_byte(item_kind::organized_folder) || kind == kind_byte(item_kind::organized_search) ||
           kind == kind_byte(item_kind::quick_pins_group);
}

USHORT item_size(const void* item) noexcept
{
    USHORT size = 0;
    std::memcpy(&size, item, sizeof(size));
    return size;
}

const void* next_item(const void* item) noexcept
{
    return static_cast<const std::uint8_t*>(item) + item_size(item);
}

// A copy of the first `bytes` of a relative list, with a terminator.
unique_relative_id_list copy_list_prefix(PCUIDLIST_RELATIVE list, std::size_t bytes)
{
    auto* memory = static_cast<std::uint8_t*>(CoTaskMemAlloc(bytes + sizeof(USHORT)));
    if (!memory)
        throw std::bad_alloc();
    std::memcpy(memory, list, bytes);
    std::memset(memory + bytes, 0, sizeof(USHORT));
    return unique_relative_id_list(reinterpret_cast<PIDLIST_RELATIVE>(memory));
}

HRESULT return_name(const std::wstring& text, STRRET* name) noexcept
{
    name->uType = STRRET_WSTR;
    return SHStrDupW(text.c_str(), &name->pOleStr);
}

std::vector<std::wstring> split_components(std::wstring_view text)
{
    std::vector<std::wstring> components;
    std::size_t start = 0;
    while (start <= text.size())
    {
        auto end = text.find(L'\\', start);
        if (end == std::wstring_view::npos)
            end = text.size();
        if (end > start)
            components.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view prefix) noexcept
{
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}
} // namespace

HRESULT search_and_action_shell_folder::create_folder(bool is_quick_pins, search_and_action_shell_folder** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (is_quick_pins)
        return quick_pins_shell_folder::create_quick_pins_folder(out);
    search_and_action_shell_folder* folder = nullptr;
    const HRESULT hr = create(&folder);
    if (FAILED(hr))
        return hr;
    if (!folder->lock_.initialized())
    {
        folder->Release();
        return E_OUTOFMEMORY;
    }
    *out = folder;
    return S_OK;
}

unique_absolute_id_list search_and_action_shell_folder::absolute_id_list() const noexcept
{
    critical_section_lock lock(lock_);
    return absolute_id_list_.clone();
}

std::vector<std::wstring> search_and_action_shell_folder::names() const
{
    critical_section_lock lock(lock_);
    return names_;
}

std::wstring search_and_action_shell_folder::group_path() const
{
    critical_section_lock lock(lock_);
    return group_path_;
}

com_ptr<IShellFolder2> search_and_action_shell_folder::desktop_folder() const noexcept
{
    critical_section_lock lock(lock_);
    return desktop_folder_;
}

STDMETHODIMP search_and_action_shell_folder::GetClassID(CLSID* clsid) noexcept
{
    if (!clsid)
        return E_POINTER;
    *clsid = is_quick_pins_ ? CLSID_quick_pins_shell_folder : CLSID_search_and_action_shell_folder;
    return S_OK;
}

// Learns the folder's place from its absolute list: the display names of our organised folders,
// searches and groups on the way, and the deepest group's disk folder. Other items (the root's own
// registry item, the desktop's) are passed over.
STDMETHODIMP search_and_action_shell_folder::Initialize(PCIDLIST_ABSOLUTE id_list) noexcept
{
    if (!id_list)
        return E_INVALIDARG;
    return com_boundary("Initialize", [&]() -> HRESULT {
        unique_absolute_id_list copy(static_cast<PIDLIST_ABSOLUTE>(ILClone(id_list)));
        if (!copy)
            return E_OUTOFMEMORY;
        std::vector<std::wstring> names;
        std::wstring group_path;
        for (const void* item = id_list; item_size(item) != 0; item = next_item(item))
        {
            const auto* data = own_item_data(static_cast<PCUITEMID_CHILD>(item));
            if (!data || !is_virtual_folder_kind(data->kind))
                continue;
            names.push_back(item_display_name(data));
            if (data->kind == kind_byte(item_kind::quick_pins_group))
                group_path = item_path(data);
        }
        com_ptr<IShellFolder2> desktop = desktop_folder();
        if (!desktop)
        {
            com_ptr<IShellFolder> shell_desktop;
            HRESULT hr = SHGetDesktopFolder(shell_desktop.put());
            if (SUCCEEDED(hr))
                hr = shell_desktop.query_to(IID_IShellFolder2, desktop.put_void());
            if (FAILED(hr))
                return hr;
        }
        critical_section_lock lock(lock_);
        absolute_id_list_ = std::move(copy);
        names_ = std::move(names);
        group_path_ = std::move(group_path);
        if (!desktop_folder_)
            desktop_folder_ = std::move(desktop);
        return S_OK;
    });
}

STDMETHODIMP search_and_action_shell_folder::GetCurFolder(PIDLIST_ABSOLUTE* out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = absolute_id_list().release();
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The preview pane is forced open in every view of the namespace.
STDMETHODIMP search_and_action_shell_folder::GetPaneState(REFEXPLORERPANE pane, EXPLORERPANESTATE* state) noexcept
{
    if (!state)
        return E_POINTER;
    *state = IsEqualGUID(pane, forced_pane) || IsEqualGUID(pane, preview_pane) ? (EPS_DEFAULT_ON | EPS_FORCE) : 0;
    return S_OK;
}

namespace
{
HRESULT fill_enumerator(bool is_quick_pins, search_and_action_item_data_enum_id_list& enumerator,
                        const std::vector<std::wstring>& names, const std::wstring& group_path)
{
    if (is_quick_pins)
    {
        enumerator.append(list_quick_pins(group_path, enumerator.flags()));
        enumerator.complete();
        return S_OK;
    }
    const auto configuration = load_namespace_configuration();
    if (!configuration)
        return E_FAIL;
    if (names.size() != 2)
    {
        std::vector<unique_child_id> items;
        const HRESULT hr = list_main_tree(*configuration, names, items);
        if (FAILED(hr))
            return hr;
        enumerator.append(std::move(items));
        enumerator.complete();
        return S_OK;
    }
    const auto* query = find_saved_search(*configuration, names);
    if (!query)
        return E_FAIL;
    enumerator.mark_searching();
    auto resolved = resolve_references(query->query, configuration->tags, configuration->people);
    auto key = search_cache_key(resolved);
    auto found = process_search_cache().lookup(key);
    if (found.ready)
    {
        enumerator.append_results(found.records);
        enumerator.complete();
    }
    else if (found.must_search)
        // The claim goes with the thread; should the start fail, it marks the entry failed on its way out.
        start_search_thread(enumerator, std::move(found.run), std::move(resolved));
    else
        start_wait_thread(enumerator, std::move(resolved), std::move(key));
    return S_OK;
}
} // namespace

// Lists the folder's children. Virtual children are all there when this returns; a saved search's
// results come from a search or waiting thread, and the enumerator's Next waits for them.
STDMETHODIMP search_and_action_shell_folder::EnumObjects(HWND, SHCONTF flags, IEnumIDList** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return com_boundary("EnumObjects", [&]() -> HRESULT {
        critical_section_lock lock(lock_);
        if (!(flags & SHCONTF_FOLDERS))
            return S_OK;
        com_ptr<search_and_action_item_data_enum_id_list> enumerator;
        if (FAILED(search_and_action_item_data_enum_id_list::create_enumerator(static_cast<IShellFolder2*>(this),
                                                                                flags, enumerator.put())))
            return E_OUTOFMEMORY;
        const HRESULT hr = fill_enumerator(is_quick_pins_, *enumerator.get(), names_, group_path_);
        if (FAILED(hr))
        {
            log_message(log_level::error, "Failed to complete folder enumeration 0x{:X}", hresult_bits(hr));
            return hr;
        }
        *out = enumerator.detach();
        return S_OK;
    });
}


namespace
{
// The real folder that holds a file and the file's last item in it.
struct real_parent
{
    unique_absolute_id_list full;
    com_ptr<IShellFolder> folder;
    PCUITEMID_CHILD last = nullptr;
};

// The messages name the method; a failure is logged at WARNING and its HRESULT returned.
HRESULT bind_real_parent(const char* method, const std::wstring& path, real_parent& parent)
{
    HRESULT hr = path_cache_lookup(path, parent.full.put());
    if (FAILED(hr))
    {
        log_message(log_level::warning, "{}: filesystem pidl parse failed with HRESULT 0x{:X}", method, hresult_bits(hr));
        return hr;
    }
    hr = SHBindToParent(parent.full.get(), IID_IShellFolder, parent.folder.put_void(), &parent.last);
    if (FAILED(hr))
        log_message(log_level::warning, "{}: SHBindToParent failed with HRESULT 0x{:X}", method, hresult_bits(hr));
    return hr;
}

std::string interface_text(REFIID riid)
{
    unique_cotaskmem_string text;
    if (FAILED(StringFromIID(riid, text.put())) || !text)
        return "{?}";
    return to_utf8(text.get());
}
} // namespace

// Virtual children become folder objects of their own; results and pins are the real file system's.
STDMETHODIMP search_and_action_shell_folder::BindToObject(PCUIDLIST_RELATIVE child, IBindCtx* bind_context,
                                                          REFIID riid, void** out) noexcept
{
    if (out)
        *out = nullptr;
    if (!out || !child)
        return E_INVALIDARG;
    const auto* data = own_item_data(static_cast<PCUITEMID_CHILD>(static_cast<const void*>(child)));
    if (!data || !is_valid_item_kind(data->kind) || data->kind == kind_byte(item_kind::root))
        return E_INVALIDARG;
    return com_boundary("BindToObject", [&]() -> HRESULT {
        const void* rest = next_item(child);
        if (data->kind == kind_byte(item_kind::search_result) || data->kind == kind_byte(item_kind::quick_pin))
        {
            const auto path = item_path(data);
            real_parent parent;
            HRESULT hr = path_cache_lookup(path, parent.full.put());
            if (FAILED(hr))
                return hr;
            hr = SHBindToParent(parent.full.get(), IID_IShellFolder, parent.folder.put_void(), &parent.last);
            if (FAILED(hr))
            {
                log_message(log_level::warning, L"BindToObject: {} failed with HRESULT 0x{:X} file: {}",
                            from_utf8(interface_text(riid)), hresult_bits(hr), path);
                return hr;
            }
            if (item_size(rest) == 0)
                return parent.folder->BindToObject(parent.last, bind_context, riid, out);
            // Deeper items lie inside the real folder: its own binding takes the whole remainder.
            unique_relative_id_list deeper(reinterpret_cast<PIDLIST_RELATIVE>(
                ILCombine(reinterpret_cast<PCIDLIST_ABSOLUTE>(parent.last), static_cast<PCUIDLIST_RELATIVE>(rest))));
            if (!deeper)
                return E_OUTOFMEMORY;
            return parent.folder->BindToObject(deeper.get(), bind_context, riid, out);
        }

        // The run of our own folder items at the head of the list becomes one subfolder at once; what
        // follows it (a result, a pin, anything foreign) is that subfolder's to bind.
        for (;;)
        {
            const auto* next = own_item_data(static_cast<PCUITEMID_CHILD>(rest));
            if (item_size(rest) == 0 || !next || !is_virtual_folder_kind(next->kind))
                break;
            rest = next_item(rest);
        }
        const auto head_bytes = static_cast<std::size_t>(static_cast<const std::uint8_t*>(rest) -
                                                         reinterpret_cast<const std::uint8_t*>(child));
        const auto head = copy_list_prefix(child, head_bytes);

        com_ptr<search_and_action_shell_folder> subfolder;
        HRESULT hr = create_folder(is_quick_pins_, subfolder.put());
        if (FAILED(hr))
            return hr;
        {
            unique_absolute_id_list combined;
            {
                critical_section_lock lock(lock_);
                combined.reset(ILCombine(absolute_id_list_.get(), head.get()));
            }
            if (!combined)
                return E_OUTOFMEMORY;
            hr = subfolder->Initialize(combined.get());
        }
        if (FAILED(hr))
        {
            log_message(log_level::error, "BindToObject: Initalizing subfolder failed with HRESULT 0x{:X}",
                        hresult_bits(hr));
            return hr;
        }
        if (item_size(rest) != 0)
            return subfolder->BindToObject(static_cast<PCUIDLIST_RELATIVE>(rest), bind_context, riid, out);
        return subfolder->QueryInterface(riid, out);
    });
}

STDMETHODIMP search_and_action_shell_folder::BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void** out) noexcept
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

// Turns "Folder\Search" (relative to this folder) or "::{root}\Folder\Search" into the items below
// this folder. Names are compared ignoring case, so an address typed in another case still opens.
STDMETHODIMP search_and_action_shell_folder::ParseDisplayName(HWND, IBindCtx*, LPWSTR name, ULONG* eaten,
                                                              PIDLIST_RELATIVE* out, ULONG* attributes) noexcept
{
    if (out)
        *out = nullptr;
    if (!name || !out)
        return E_INVALIDARG;
    if (eaten)
        *eaten = 0;
    if (attributes)
        *attributes = 0;
    return com_boundary("ParseDisplayName", [&]() -> HRESULT {
        std::wstring_view rest(name);
        const std::wstring_view root = is_quick_pins_ ? quick_pins_root_parsing_name : main_root_parsing_name;
        bool absolute = false;
        if (starts_with_ignoring_case(rest, root))
        {
            rest.remove_prefix(root.size());
            if (!rest.empty() && rest.front() == L'\\')
                rest.remove_prefix(1);
            absolute = true;
        }
        else if (rest.substr(0, 3) == L"::{")
            return E_FAIL;
        auto components = split_components(rest);
        if (components.empty())
            return E_FAIL;

        std::vector<std::wstring> full_names;
        std::size_t depth = 0;
        {
            critical_section_lock lock(lock_);
            depth = names_.size();
            if (absolute)
            {
                if (components.size() <= depth)
                    return E_FAIL;
                for (std::size_t i = 0; i < depth; ++i)
                    if (!equal_ignoring_case(components[i], names_[i]))
                        return E_FAIL;
                full_names = std::move(components);
            }
            else
            {
                full_names = names_;
                full_names.insert(full_names.end(), std::make_move_iterator(components.begin()),
                                  std::make_move_iterator(components.end()));
            }
        }

        std::vector<unique_child_id> items;
        if (is_quick_pins_)
            items = resolve_quick_pins_names(full_names);
        else
        {
            if (full_names.size() > 2)
                return E_FAIL;
            const auto configuration = load_namespace_configuration();
            if (!configuration)
                return E_FAIL;
            items = resolve_main_tree_names(*configuration, full_names);
        }
        if (items.size() != full_names.size())
            return E_FAIL;
        *out = join_items(items, depth).release();
        if (eaten)
            *eaten = static_cast<ULONG>(std::wcslen(name));
        return S_OK;
    });
}

STDMETHODIMP search_and_action_shell_folder::GetDisplayNameOf(PCUITEMID_CHILD child, SHGDNF flags, STRRET* name) noexcept
{
    if (!child || !name)
        return E_INVALIDARG;
    const auto* data = own_item_data(child);
    if (!data || !is_valid_item_kind(data->kind))
        return E_INVALIDARG;
    return com_boundary("GetDisplayNameOf", [&]() -> HRESULT {
        const bool for_parsing = (flags & SHGDN_FORPARSING) != 0;
        const bool in_folder = (flags & SHGDN_INFOLDER) != 0;
        const bool for_address_bar = (flags & SHGDN_FORADDRESSBAR) != 0;
        switch (static_cast<item_kind>(data->kind))
        {
        case item_kind::root:
            if (!for_parsing)
                return E_FAIL;
            return return_name(is_quick_pins_ ? quick_pins_root_parsing_name : main_root_parsing_name, name);
        case item_kind::organized_search:
            if (for_parsing || (for_address_bar && !in_folder))
                return return_name(item_path(data), name);
            return return_name(item_display_name(data), name);
        case item_kind::quick_pins_group:
            if ((for_parsing && !in_folder) || (!for_parsing && for_address_bar && !in_folder))
            {
                std::wstring path = is_quick_pins_ ? quick_pins_root_parsing_name : main_root_parsing_name;
                for (const auto& entry : names())
                {
                    path += L'\\';
                    path += entry;
                }
                path += L'\\';
                path += item_display_name(data);
                return return_name(path, name);
            }
            return return_name(item_display_name(data), name);
        default: // organised folders, results, pins
            if (for_parsing && !in_folder)
                return return_name(item_path(data), name);
            return return_name(item_display_name(data), name);
        }
    });
}

// The first item answers for the whole selection. Results, pins and groups ask the real folder that
// holds them and adjust its answer; organised folders and searches are answered here.
STDMETHODIMP search_and_action_shell_folder::GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY children,
                                                             SFGAOF* in_out) noexcept
{
    if (!in_out)
        return E_POINTER;
    if (count == 0 || !children || !children[0])
        return E_INVALIDARG;
    const auto* data = own_item_data(children[0]);
    if (!data || !is_valid_item_kind(data->kind) || data->kind == kind_byte(item_kind::root))
        return E_INVALIDARG;
    return com_boundary("GetAttributesOf", [&]() -> HRESULT {
        if (data->kind == kind_byte(item_kind::organized_folder) || data->kind == kind_byte(item_kind::organized_search))
        {
            critical_section_lock lock(lock_);
            *in_out = data->kind == kind_byte(item_kind::organized_folder) ? organized_folder_attributes
                                                                           : organized_search_attributes;
            return S_OK;
        }
        const SFGAOF requested = *in_out;
        const auto path = item_path(data);
        real_parent parent;
        HRESULT hr = bind_real_parent("GetAttributesOf", path, parent);
        if (FAILED(hr))
            return hr;
        SFGAOF attributes = requested;
        hr = parent.folder->GetAttributesOf(1, &parent.last, &attributes);
        if (FAILED(hr))
        {
            log_message(log_level::warning, "GetAttributesOf: Parent folder GetAttributesOf failed with HRESULT 0x{:X}",
                        hresult_bits(hr));
            return hr;
        }
        if (data->kind == kind_byte(item_kind::quick_pin))
            attributes &= quick_pin_kept;
        else if (data->kind == kind_byte(item_kind::quick_pins_group))
        {
            attributes = (attributes & group_kept) | group_added;
            if (requested & SFGAO_HASSUBFOLDER)
            {
                if (group_has_folder_pins(path))
                    attributes |= SFGAO_HASSUBFOLDER;
                else
                    attributes &= ~static_cast<SFGAOF>(SFGAO_HASSUBFOLDER);
            }
        }
        *in_out = attributes;
        return S_OK;
    });
}

STDMETHODIMP search_and_action_shell_folder::GetDefaultSearchGUID(GUID*) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP search_and_action_shell_folder::EnumSearches(IEnumExtraSearch** out) noexcept
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP search_and_action_shell_folder::GetDefaultColumn(DWORD, ULONG*, ULONG*) noexcept
{
    return E_NOTIMPL;
}
