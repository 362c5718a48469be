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
    STDMETHODIMP Rearrange(LPARAM) override { return unexpected("Rearrange"); }
    STDMETHODIMP GetArrangeParam(LPARAM*) override { return unexpected("GetArrangeParam"); }
    STDMETHODIMP ArrangeGrid() override { return unexpected("ArrangeGrid"); }
    STDMETHODIMP AutoArrange() override { return unexpected("AutoArrange"); }
    STDMETHODIMP GetAutoArrange() override { return unexpected("GetAutoArrange"); }
    STDMETHODIMP AddObject(PUITEMID_CHILD, UINT*) override { return unexpected("AddObject"); }
    STDMETHODIMP GetObject(PITEMID_CHILD*, UINT) override { return unexpected("GetObject"); }
    STDMETHODIMP RemoveObject(PUITEMID_CHILD, UINT*) override { return unexpected("RemoveObject"); }
    STDMETHODIMP GetObjectCount(UINT*) override { return unexpected("GetObjectCount"); }
    STDMETHODIMP SetObjectCount(UINT, UINT) override { return unexpected("SetObjectCount"); }
    STDMETHODIMP RefreshObject(PUITEMID_CHILD, UINT*) override { return unexpected("RefreshObject"); }
    STDMETHODIMP SetRedraw(WINBOOL) override { return unexpected("SetRedraw"); }
    STDMETHODIMP GetSelectedCount(UINT*) override { return unexpected("GetSelectedCount"); }
    STDMETHODIMP GetSelectedObjects(PCUITEMID_CHILD**, UINT*) override { return unexpected("GetSelectedObjects"); }
    STDMETHODIMP IsDropOnSource(IDropTarget*) override { return unexpected("IsDropOnSource"); }
    STDMETHODIMP GetDragPoint(POINT*) override { return unexpected("GetDragPoint"); }
    STDMETHODIMP GetDropPoint(POINT*) override { return unexpected("GetDropPoint"); }
    STDMETHODIMP MoveIcons(IDataObject*) override { return unexpected("MoveIcons"); }
    STDMETHODIMP SetItemPos(PCUITEMID_CHILD, POINT*) override { return unexpected("SetItemPos"); }
    STDMETHODIMP IsBkDropTarget(IDropTarget*) override { return unexpected("IsBkDropTarget"); }
    STDMETHODIMP SetClipboard(WINBOOL) override { return unexpected("SetClipboard"); }
    STDMETHODIMP SetPoints(IDataObject*) override { return unexpected("SetPoints"); }
    STDMETHODIMP GetItemSpacing(ITEMSPACING*) override { return unexpected("GetItemSpacing"); }
    STDMETHODIMP SetCallback(IShellFolderViewCB*, IShellFolderViewCB**) override { return unexpected("SetCallback"); }
    STDMETHODIMP Select(UINT) override { return unexpected("Select"); }
    STDMETHODIMP QuerySupport(UINT*) override { return unexpected("QuerySupport"); }
    STDMETHODIMP SetAutomationObject(IDispatch*) override { return unexpected("SetAutomationObject"); }

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
    STDMETHODIMP GetCurrentViewMode(UINT*) override { return unexpected("GetCurrentViewMode"); }
    STDMETHODIMP SetCurrentViewMode(UINT) override { return unexpected("SetCurrentViewMode"); }
    STDMETHODIMP GetFolder(REFIID, void**) override { return unexpected("GetFolder"); }
    STDMETHODIMP Item(int, PITEMID_CHILD*) override { return unexpected("Item"); }
    STDMETHODIMP ItemCount(UINT, int*) override { return unexpected("ItemCount"); }
    STDMETHODIMP Items(UINT, REFIID, void**) override { return unexpected("Items"); }
    STDMETHODIMP GetSelectionMarkedItem(int*) override { return unexpected("GetSelectionMarkedItem"); }
    STDMETHODIMP GetFocusedItem(int*) override { return unexpected("GetFocusedItem"); }
    STDMETHODIMP GetItemPosition(PCUITEMID_CHILD, POINT*) override { return unexpected("GetItemPosition"); }
    STDMETHODIMP GetSpacing(POINT*) override { return unexpected("GetSpacing"); }
    STDMETHODIMP GetDefaultSpacing(POINT*) override { return unexpected("GetDefaultSpacing"); }
    STDMETHODIMP SelectItem(int, DWORD) override { return unexpected("SelectItem"); }
    STDMETHODIMP SelectAndPositionItems(UINT, PCUITEMID_CHILD_ARRAY, POINT*, DWORD) override
    {
        return unexpected("SelectAndPositionItems");
    }
    STDMETHODIMP SetGroupBy(REFPROPERTYKEY, WINBOOL) override { return unexpected("SetGroupBy"); }
    STDMETHODIMP GetGroupBy(PROPERTYKEY*, WINBOOL*) override { return unexpected("GetGroupBy"); }
    STDMETHODIMP SetViewProperty(PCUITEMID_CHILD, REFPROPERTYKEY, REFPROPVARIANT) override
    {
        return unexpected("SetViewProperty");
    }
    STDMETHODIMP GetViewProperty(PCUITEMID_CHILD, REFPROPERTYKEY, PROPVARIANT*) override
    {
        return unexpected("GetViewProperty");
    }
    STDMETHODIMP SetTileViewProperties(PCUITEMID_CHILD, LPCWSTR) override { return unexpected("SetTileViewProperties"); }
    STDMETHODIMP SetExtendedTileViewProperties(PCUITEMID_CHILD, LPCWSTR) override
    {
        return unexpected("SetExtendedTileViewProperties");
    }
    STDMETHODIMP SetCurrentFolderFlags(DWORD, DWORD) override { return unexpected("SetCurrentFolderFlags"); }
    STDMETHODIMP GetCurrentFolderFlags(DWORD*) override { return unexpected("GetCurrentFolderFlags"); }
    STDMETHODIMP GetSortColumnCount(int*) override { return unexpected("GetSortColumnCount"); }
    STDMETHODIMP SetSortColumns(const SORTCOLUMN*, int) override { return unexpected("SetSortColumns"); }
    STDMETHODIMP GetSortColumns(SORTCOLUMN*, int) override { return unexpected("GetSortColumns"); }
    STDMETHODIMP GetItem(int, REFIID, void**) override { return unexpected("GetItem"); }
    STDMETHODIMP GetVisibleItem(int, WINBOOL, int*) override { return unexpected("GetVisibleItem"); }
    STDMETHODIMP GetSelectedItem(int, int*) override { return unexpected("GetSelectedItem"); }
    STDMETHODIMP GetSelection(WINBOOL, IShellItemArray**) override { return unexpected("GetSelection"); }
    STDMETHODIMP GetSelectionState(PCUITEMID_CHILD, DWORD*) override { return unexpected("GetSelectionState"); }
    STDMETHODIMP InvokeVerbOnSelection(LPCSTR) override { return unexpected("InvokeVerbOnSelection"); }
    STDMETHODIMP GetViewModeAndIconSize(FOLDERVIEWMODE*, int*) override { return unexpected("GetViewModeAndIconSize"); }
    STDMETHODIMP SetGroupSubsetCount(UINT) override { return unexpected("SetGroupSubsetCount"); }
    STDMETHODIMP GetGroupSubsetCount(UINT*) override { return unexpected("GetGroupSubsetCount"); }
    STDMETHODIMP IsMoveInSameFolder() override { return unexpected("IsMoveInSameFolder"); }
    STDMETHODIMP DoRename() override { return unexpected("DoRename"); }

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
    STDMETHODIMP GetColumnInfo(REFPROPERTYKEY, CM_COLUMNINFO*) override { return unexpected("GetColumnInfo"); }
    STDMETHODIMP GetColumnCount(CM_ENUM_FLAGS, UINT*) override { return unexpected("GetColumnCount"); }
    STDMETHODIMP GetColumns(CM_ENUM_FLAGS, PROPERTYKEY*, UINT) override { return unexpected("GetColumns"); }

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
