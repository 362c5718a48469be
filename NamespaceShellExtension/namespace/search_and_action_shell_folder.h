#pragma once
// The shell folder behind both navigation-pane roots and every folder below them. One object stands
// for one place in the tree, which it learns from the absolute ID list given to Initialize: the
// "Sortwell" root lists organised folders, an organised folder its saved searches, a saved search the
// files its query finds; the "Quick pins" root lists pin groups and pins, groups nesting as folders.
//
// The methods are spread over several files by concern:
//   search_and_action_shell_folder.cpp  identity, initialisation, enumeration, binding, parsing,
//                                       display names and attributes
//   folder_details.cpp                  columns and their values
//   folder_sort_order.cpp               CompareIDs
//   folder_rename_and_view.cpp          renaming (SetNameOf) and the view (CreateViewObject)
//   folder_ui_objects.cpp               GetUIObjectOf
//   folder_background_menu.cpp          the folder's own "Customize navigation" menu

#include "base/com_boundary.h"
#include "base/com_object.h"
#include "base/raii.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

struct search_and_action_item_data;

class search_and_action_shell_folder : public com_object<search_and_action_shell_folder, IShellFolder2, IPersistFolder2,
                                                         IShellExtInit, IContextMenu, IExplorerPaneVisibility>
{
public:
    // A folder of either root, with one reference. Reports E_OUTOFMEMORY instead of throwing.
    static HRESULT create_folder(bool is_quick_pins, search_and_action_shell_folder** out) noexcept;

    // IShellFolder
    STDMETHODIMP ParseDisplayName(HWND hwnd, IBindCtx* bind_context, LPWSTR name, ULONG* eaten,
                                  PIDLIST_RELATIVE* out, ULONG* attributes) noexcept override;
    STDMETHODIMP EnumObjects(HWND hwnd, SHCONTF flags, IEnumIDList** out) noexcept override;
    STDMETHODIMP BindToObject(PCUIDLIST_RELATIVE child, IBindCtx* bind_context, REFIID riid,
                              void** out) noexcept override;
    STDMETHODIMP BindToStorage(PCUIDLIST_RELATIVE child, IBindCtx* bind_context, REFIID riid,
                               void** out) noexcept override;
    STDMETHODIMP CompareIDs(LPARAM param, PCUIDLIST_RELATIVE first, PCUIDLIST_RELATIVE second) noexcept override;
    STDMETHODIMP CreateViewObject(HWND owner, REFIID riid, void** out) noexcept override;
    STDMETHODIMP GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY children, SFGAOF* in_out) noexcept override;
    STDMETHODIMP GetUIObjectOf(HWND owner, UINT count, PCUITEMID_CHILD_ARRAY children, REFIID riid, UINT* reserved,
                               void** out) noexcept override;
    STDMETHODIMP GetDisplayNameOf(PCUITEMID_CHILD child, SHGDNF flags, STRRET* name) noexcept override;
    STDMETHODIMP SetNameOf(HWND hwnd, PCUITEMID_CHILD child, LPCWSTR new_name, SHGDNF flags,
                           PITEMID_CHILD* out) noexcept override;

    // IShellFolder2
    STDMETHODIMP GetDefaultSearchGUID(GUID* guid) noexcept override;
    STDMETHODIMP EnumSearches(IEnumExtraSearch** out) noexcept override;
    STDMETHODIMP GetDefaultColumn(DWORD reserved, ULONG* sort, ULONG* display) noexcept override;
    STDMETHODIMP GetDefaultColumnState(UINT column, SHCOLSTATEF* state) noexcept override;
    STDMETHODIMP GetDetailsEx(PCUITEMID_CHILD child, const SHCOLUMNID* key, VARIANT* value) noexcept override;
    STDMETHODIMP GetDetailsOf(PCUITEMID_CHILD child, UINT column, SHELLDETAILS* details) noexcept override;
    STDMETHODIMP MapColumnToSCID(UINT column, SHCOLUMNID* key) noexcept override;

    // IPersist, IPersistFolder, IPersistFolder2
    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override;
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE id_list) noexcept override;
    STDMETHODIMP GetCurFolder(PIDLIST_ABSOLUTE* out) noexcept override;

    // IShellExtInit: accepts anything.
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE, IDataObject*, HKEY) noexcept override { return S_OK; }

    // IContextMenu: the folder's background menu, "Customize navigation".
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last, UINT flags) noexcept override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) noexcept override;
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT* reserved, CHAR* buffer,
                                  UINT size) noexcept override;

    // IExplorerPaneVisibility: the preview pane is forced open.
    STDMETHODIMP GetPaneState(REFEXPLORERPANE pane, EXPLORERPANESTATE* state) noexcept override;

    // State read by the objects the folder hands out; each takes the folder lock for the copy.
    bool is_quick_pins() const noexcept { return is_quick_pins_; }
    // A copy of the ID list given to Initialize; empty before Initialize or when memory runs out.
    unique_absolute_id_list absolute_id_list() const noexcept;
    std::vector<std::wstring> names() const;
    std::wstring group_path() const;
    com_ptr<IShellFolder2> desktop_folder() const noexcept;

protected:
    // GetUIObjectOf's paths (folder_ui_objects.cpp).
    HRESULT own_ui_object(UINT count, PCUITEMID_CHILD_ARRAY children, REFIID riid, void** out);
    HRESULT group_data_object(const search_and_action_item_data* item, void** out);
    HRESULT selection_ui_object(UINT count, PCUITEMID_CHILD_ARRAY children, REFIID riid, void** out);
    HRESULT file_ui_object(HWND owner, const search_and_action_item_data* item, REFIID riid, UINT* reserved,
                           void** out);

    friend class com_object<search_and_action_shell_folder, IShellFolder2, IPersistFolder2, IShellExtInit, IContextMenu,
                            IExplorerPaneVisibility>;
    search_and_action_shell_folder() noexcept = default;
    ~search_and_action_shell_folder() override = default;

    bool is_quick_pins_ = false;
    mutable critical_section lock_;
    // Guarded by lock_.
    std::vector<std::wstring> names_;
    std::wstring group_path_;
    unique_absolute_id_list absolute_id_list_;
    com_ptr<IShellFolder2> desktop_folder_;
};
