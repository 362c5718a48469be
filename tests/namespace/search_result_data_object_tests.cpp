// The data object of result files around Wine's real one: everything passes through. What letting it go
// refreshes: folder_ui_objects_tests, through the folder that hands it out.

#include "namespace/search_result_data_object.h"

#include "base/log.h"
#include "base/namespace_module.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

namespace
{
std::string hex(HRESULT hr)
{
    return fmt::format("0x{:08X}", hresult_bits(hr));
}

TEST(result_data_object, passes_everything_through)
{
    // The real file system's data object for two files.
    test_support::scratch_folder scratch{L"result-data-object"};
    std::vector<unique_absolute_id_list> lists(2);
    com_ptr<IShellFolder> files;
    std::vector<PCUITEMID_CHILD> items;
    for (std::size_t i = 0; i < lists.size(); ++i)
    {
        test_support::write_file(scratch.path() / (L"file " + std::to_wstring(i)), "x");
        ASSERT_EQ(SHParseDisplayName((scratch.path() / (L"file " + std::to_wstring(i))).c_str(), nullptr,
                                     lists[i].put(), 0, nullptr),
                  S_OK);
        files.reset();
        ASSERT_EQ(SHBindToParent(lists[i].get(), IID_IShellFolder, files.put_void(), nullptr), S_OK);
        items.push_back(reinterpret_cast<PCUITEMID_CHILD>(ILFindLastID(lists[i].get())));
    }
    com_ptr<IDataObject> real;
    ASSERT_EQ(files->GetUIObjectOf(nullptr, 2, items.data(), IID_IDataObject, nullptr, real.put_void()), S_OK);
    unique_absolute_id_list view;
    ASSERT_EQ(SHParseDisplayName(scratch.path().c_str(), nullptr, view.put(), 0, nullptr), S_OK);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(hex(create_search_result_data_object(nullptr, view.get(), {}, IID_IDataObject, &out)), hex(E_INVALIDARG));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(hex(create_search_result_data_object(real.get(), view.get(), {}, IID_IDataObject, nullptr)),
              hex(E_INVALIDARG));

    com_ptr<IDataObject> wrapped;
    const std::vector<std::wstring> paths = {(scratch.path() / L"file 0").wstring(), (scratch.path() / L"file 1").wstring()};
    ASSERT_EQ(hex(create_search_result_data_object(real.get(), view.get(), paths, IID_IDataObject, wrapped.put_void())),
              hex(S_OK));
    EXPECT_NE(wrapped.get(), real.get());
    EXPECT_EQ(hex(wrapped->QueryInterface(IID_IDataObject, nullptr)), hex(E_POINTER));
    // Interfaces other than its own are the real object's answer, unchanged.
    for (const IID& iid : {IID_IShellFolder, IID_IDataObjectAsyncCapability, IID_IPersistStream})
    {
        com_ptr<IUnknown> mine, theirs;
        EXPECT_EQ(hex(wrapped->QueryInterface(iid, mine.put_void())), hex(real->QueryInterface(iid, theirs.put_void())));
        EXPECT_EQ(mine.get(), theirs.get());
    }

    FORMATETC drop{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(hex(wrapped->QueryGetData(&drop)), hex(S_OK));
    STGMEDIUM medium{};
    ASSERT_EQ(hex(wrapped->GetData(&drop, &medium)), hex(S_OK));
    EXPECT_EQ(DragQueryFileW(static_cast<HDROP>(medium.hGlobal), 0xFFFFFFFF, nullptr, 0), 2u);
    ReleaseStgMedium(&medium);
    com_ptr<IEnumFORMATETC> formats, real_formats;
    EXPECT_EQ(hex(wrapped->EnumFormatEtc(DATADIR_GET, formats.put())),
              hex(real->EnumFormatEtc(DATADIR_GET, real_formats.put())));
    EXPECT_EQ(hex(wrapped->DUnadvise(7)), hex(real->DUnadvise(7)));
    wrapped.reset();
    EXPECT_EQ(the_module().lock_count(), 0) << "DllCanUnloadNow would answer S_FALSE";
}
} // namespace
