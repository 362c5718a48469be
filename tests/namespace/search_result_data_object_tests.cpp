// The data object of result files around Wine's real one: everything passes through. What letting it go
// refreshes: folder_ui_objects_tests, through the folder that hands it out.

#include "namespace/search_result_data_object.h"

#include "diagnostics/log.h"
#include "module/namespace_module.h"
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

class result_data_object_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const auto* name : {L"a.txt", L"b.txt"})
            test_support::write_file(scratch.path() / L"files" / name, "x");
        std::filesystem::create_directories(scratch.path() / L"view");
        ASSERT_EQ(SHParseDisplayName((scratch.path() / L"view").c_str(), nullptr, view.put(), 0, nullptr), S_OK);
    }
    void TearDown() override { EXPECT_EQ(the_module().lock_count(), 0) << "DllCanUnloadNow would answer S_FALSE"; }

    std::wstring file(const wchar_t* name) const { return (scratch.path() / L"files" / name).wstring(); }

    // The real file system's data object for a.txt and b.txt.
    com_ptr<IDataObject> real_data_object() const
    {
        unique_absolute_id_list folder;
        com_ptr<IShellFolder> desktop, files;
        unique_relative_id_list a, b;
        com_ptr<IDataObject> result;
        if (SUCCEEDED(SHParseDisplayName((scratch.path() / L"files").c_str(), nullptr, folder.put(), 0, nullptr)) &&
            SUCCEEDED(SHGetDesktopFolder(desktop.put())) &&
            SUCCEEDED(desktop->BindToObject(folder.get(), nullptr, IID_IShellFolder, files.put_void())) &&
            SUCCEEDED(files->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(L"a.txt"), nullptr, a.put(), nullptr)) &&
            SUCCEEDED(files->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(L"b.txt"), nullptr, b.put(), nullptr)))
        {
            PCUITEMID_CHILD items[] = {reinterpret_cast<PCUITEMID_CHILD>(a.get()), reinterpret_cast<PCUITEMID_CHILD>(b.get())};
            files->GetUIObjectOf(nullptr, 2, items, IID_IDataObject, nullptr, result.put_void());
        }
        return result;
    }

    test_support::scratch_folder scratch{L"result-data-object"};
    unique_absolute_id_list view;
};

TEST_F(result_data_object_test, passes_everything_through)
{
    const auto real = real_data_object();
    ASSERT_TRUE(real);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(hex(create_search_result_data_object(nullptr, view.get(), {}, IID_IDataObject, &out)), hex(E_INVALIDARG));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(hex(create_search_result_data_object(real.get(), view.get(), {}, IID_IDataObject, nullptr)),
              hex(E_INVALIDARG));

    com_ptr<IDataObject> wrapped;
    ASSERT_EQ(hex(create_search_result_data_object(real.get(), view.get(), {file(L"a.txt"), file(L"b.txt")},
                                                   IID_IDataObject, wrapped.put_void())),
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
}

} // namespace
