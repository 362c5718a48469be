#pragma once
// A recording stand-in for the shell's side of a folder view: IShellFolderView, IFolderView2 and
// IColumnManager as Windows' default view offers them, with each interface and each answer switchable,
// so that the view callback's paths can be checked that Wine's view does not take (Wine offers no
// IColumnManager and answers E_NOTIMPL to SetText and SetViewModeAndIconSize). A method the callback has
// no business calling fails the test.

#include "namespace/shell_folder_view_cb.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <string>
#include <vector>

// A method the callback has no business calling.
#define UNEXPECTED(method, ...) \
    STDMETHODIMP method(__VA_ARGS__) override { return unexpected(#method); }

class recording_folder_view final : public IShellFolderView, public IFolderView2, public IColumnManager
{
public:
    // What the callback did.
    std::vector<PROPERTYKEY> columns_set;
    std::vector<std::pair<PROPERTYKEY, CM_COLUMNINFO>> column_infos;
    std::vector<std::pair<FOLDERVIEWMODE, int>> view_modes;
    std::vector<std::pair<FVTEXTTYPE, std::wstring>> texts;
    // Copies of the identifiers handed to UpdateObject (old, new).
    std::vector<std::pair<std::vector<BYTE>, std::vector<BYTE>>> updates;

    // How the stand-in answers.
    bool offers_column_manager = true;
    bool offers_folder_view2 = true;
    HRESULT set_columns_result = S_OK;
    // SetColumnInfo of this column (index into the keys) fails with E_FAIL; -1 for none.
    int failing_column = -1;
    HRESULT set_text_result = S_OK;
    HRESULT view_mode_result = S_OK;

    ULONG references() const { return references_; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == __uuidof(IShellFolderView))
            *ppv = static_cast<IShellFolderView*>(this);
        else if (offers_folder_view2 && (riid == IID_IFolderView || riid == IID_IFolderView2))
            *ppv = static_cast<IFolderView2*>(this);
        else if (offers_column_manager && riid == IID_IColumnManager)
            *ppv = static_cast<IColumnManager*>(this);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }

    // IShellFolderView
    STDMETHODIMP UpdateObject(PUITEMID_CHILD old_item, PUITEMID_CHILD new_item, UINT* index) override
    {
        updates.emplace_back(bytes_of(old_item), bytes_of(new_item));
        if (index)
            *index = 0;
        return S_OK;
    }
    UNEXPECTED(Rearrange, LPARAM) UNEXPECTED(GetArrangeParam, LPARAM*) UNEXPECTED(ArrangeGrid, )
    UNEXPECTED(AutoArrange, ) UNEXPECTED(GetAutoArrange, ) UNEXPECTED(AddObject, PUITEMID_CHILD, UINT*)
    UNEXPECTED(GetObject, PITEMID_CHILD*, UINT) UNEXPECTED(RemoveObject, PUITEMID_CHILD, UINT*)
    UNEXPECTED(GetObjectCount, UINT*) UNEXPECTED(SetObjectCount, UINT, UINT)
    UNEXPECTED(RefreshObject, PUITEMID_CHILD, UINT*) UNEXPECTED(SetRedraw, WINBOOL)
    UNEXPECTED(GetSelectedCount, UINT*) UNEXPECTED(GetSelectedObjects, PCUITEMID_CHILD**, UINT*)
    UNEXPECTED(IsDropOnSource, IDropTarget*) UNEXPECTED(GetDragPoint, POINT*) UNEXPECTED(GetDropPoint, POINT*)
    UNEXPECTED(MoveIcons, IDataObject*) UNEXPECTED(SetItemPos, PCUITEMID_CHILD, POINT*)
    UNEXPECTED(IsBkDropTarget, IDropTarget*) UNEXPECTED(SetClipboard, WINBOOL) UNEXPECTED(SetPoints, IDataObject*)
    UNEXPECTED(GetItemSpacing, ITEMSPACING*) UNEXPECTED(SetCallback, IShellFolderViewCB*, IShellFolderViewCB**)
    UNEXPECTED(Select, UINT) UNEXPECTED(QuerySupport, UINT*) UNEXPECTED(SetAutomationObject, IDispatch*)

    // IFolderView2
    STDMETHODIMP SetText(FVTEXTTYPE type, LPCWSTR text) override
    {
        texts.emplace_back(type, text ? text : L"(null)");
        return set_text_result;
    }
    STDMETHODIMP SetViewModeAndIconSize(FOLDERVIEWMODE mode, int size) override
    {
        view_modes.emplace_back(mode, size);
        return view_mode_result;
    }
    UNEXPECTED(GetCurrentViewMode, UINT*) UNEXPECTED(SetCurrentViewMode, UINT) UNEXPECTED(GetFolder, REFIID, void**)
    UNEXPECTED(Item, int, PITEMID_CHILD*) UNEXPECTED(ItemCount, UINT, int*) UNEXPECTED(Items, UINT, REFIID, void**)
    UNEXPECTED(GetSelectionMarkedItem, int*) UNEXPECTED(GetFocusedItem, int*)
    UNEXPECTED(GetItemPosition, PCUITEMID_CHILD, POINT*) UNEXPECTED(GetSpacing, POINT*)
    UNEXPECTED(GetDefaultSpacing, POINT*) UNEXPECTED(SelectItem, int, DWORD)
    UNEXPECTED(SelectAndPositionItems, UINT, PCUITEMID_CHILD_ARRAY, POINT*, DWORD)
    UNEXPECTED(SetGroupBy, REFPROPERTYKEY, WINBOOL) UNEXPECTED(GetGroupBy, PROPERTYKEY*, WINBOOL*)
    UNEXPECTED(SetViewProperty, PCUITEMID_CHILD, REFPROPERTYKEY, REFPROPVARIANT)
    UNEXPECTED(GetViewProperty, PCUITEMID_CHILD, REFPROPERTYKEY, PROPVARIANT*)
    UNEXPECTED(SetTileViewProperties, PCUITEMID_CHILD, LPCWSTR)
    UNEXPECTED(SetExtendedTileViewProperties, PCUITEMID_CHILD, LPCWSTR)
    UNEXPECTED(SetCurrentFolderFlags, DWORD, DWORD) UNEXPECTED(GetCurrentFolderFlags, DWORD*)
    UNEXPECTED(GetSortColumnCount, int*) UNEXPECTED(SetSortColumns, const SORTCOLUMN*, int)
    UNEXPECTED(GetSortColumns, SORTCOLUMN*, int) UNEXPECTED(GetItem, int, REFIID, void**)
    UNEXPECTED(GetVisibleItem, int, WINBOOL, int*) UNEXPECTED(GetSelectedItem, int, int*)
    UNEXPECTED(GetSelection, WINBOOL, IShellItemArray**) UNEXPECTED(GetSelectionState, PCUITEMID_CHILD, DWORD*)
    UNEXPECTED(InvokeVerbOnSelection, LPCSTR) UNEXPECTED(GetViewModeAndIconSize, FOLDERVIEWMODE*, int*)
    UNEXPECTED(SetGroupSubsetCount, UINT) UNEXPECTED(GetGroupSubsetCount, UINT*) UNEXPECTED(IsMoveInSameFolder, )
    UNEXPECTED(DoRename, )

    // IColumnManager
    STDMETHODIMP SetColumns(const PROPERTYKEY* keys, UINT count) override
    {
        columns_set.assign(keys, keys + count);
        return set_columns_result;
    }
    STDMETHODIMP SetColumnInfo(REFPROPERTYKEY key, const CM_COLUMNINFO* info) override
    {
        column_infos.emplace_back(key, *info);
        return failing_column >= 0 && static_cast<std::size_t>(failing_column) + 1 == column_infos.size() ? E_FAIL
                                                                                                          : S_OK;
    }
    UNEXPECTED(GetColumnInfo, REFPROPERTYKEY, CM_COLUMNINFO*) UNEXPECTED(GetColumnCount, CM_ENUM_FLAGS, UINT*)
    UNEXPECTED(GetColumns, CM_ENUM_FLAGS, PROPERTYKEY*, UINT)

    // IShellFolderView::SetRedraw and IFolderView2::SetRedraw share a name and a signature.

private:
    static std::vector<BYTE> bytes_of(PCUITEMID_CHILD item)
    {
        if (!item)
            return {};
        const auto* bytes = reinterpret_cast<const BYTE*>(item);
        return std::vector<BYTE>(bytes, bytes + ILGetSize(item));
    }
    static HRESULT unexpected(const char* method)
    {
        ADD_FAILURE() << "the view callback called " << method;
        return E_NOTIMPL;
    }

    std::atomic<ULONG> references_{1};
};

#undef UNEXPECTED
