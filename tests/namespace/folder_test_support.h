#pragma once
// Helpers for the folder tests: the roots' ID lists, folders made and initialised directly, enumeration
// and names through the shell's interfaces, and a fixture that gives every case the default
// configuration (or one it writes) and checks that every object it made is gone at the end.

#include "items/folder_tree.h"
#include "items/search_and_action_item_data.h"
#include "namespace/search_and_action_shell_folder.h"

#include "base/log.h"
#include "base/namespace_module.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <string>
#include <vector>

namespace folder_test
{
// The roots' parsing names.
inline const std::wstring main_root = L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}";
inline const std::wstring quick_pins_root = L"::{EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}";

inline std::string hex(HRESULT hr)
{
    return fmt::format("0x{:08X}", hresult_bits(hr));
}

// Delivers this thread's window messages until `done` answers true or `limit` has passed.
inline void pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until)
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A root's absolute list as the desktop makes it: one registry item (0x1F) naming the class.
inline unique_absolute_id_list root_id_list(const CLSID& clsid)
{
    constexpr USHORT size = 2 + 2 + sizeof(CLSID);
    auto* memory = static_cast<std::uint8_t*>(CoTaskMemAlloc(size + 2));
    std::memset(memory, 0, size + 2);
    std::memcpy(memory, &size, 2);
    memory[2] = 0x1F;
    memory[3] = 0x50;
    std::memcpy(memory + 4, &clsid, sizeof(CLSID));
    return unique_absolute_id_list(reinterpret_cast<PIDLIST_ABSOLUTE>(memory));
}

inline unique_absolute_id_list combine(PCIDLIST_ABSOLUTE parent, PCUIDLIST_RELATIVE child)
{
    return unique_absolute_id_list(ILCombine(parent, child));
}

// A folder made as the object map makes one and initialised with `list`.
inline com_ptr<search_and_action_shell_folder> make_folder(bool quick_pins, PCIDLIST_ABSOLUTE list)
{
    com_ptr<search_and_action_shell_folder> folder;
    EXPECT_EQ(search_and_action_shell_folder::create_folder(quick_pins, folder.put()), S_OK);
    if (folder && list)
    {
        EXPECT_EQ(folder->Initialize(list), S_OK);
    }
    return folder;
}

inline com_ptr<search_and_action_shell_folder> make_root(bool quick_pins)
{
    const auto root = root_id_list(quick_pins ? CLSID_quick_pins_shell_folder : CLSID_search_and_action_shell_folder);
    return make_folder(quick_pins, root.get());
}

// Every item, fetched one at a time, or the failure of EnumObjects.
inline std::vector<unique_child_id> enumerate(IShellFolder* folder, SHCONTF flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS,
                                              HRESULT* result = nullptr)
{
    std::vector<unique_child_id> items;
    com_ptr<IEnumIDList> enumerator;
    const HRESULT hr = folder->EnumObjects(nullptr, flags, enumerator.put());
    if (result)
        *result = hr;
    else
        EXPECT_EQ(hex(hr), hex(S_OK));
    if (FAILED(hr) || !enumerator)
        return items;
    for (;;)
    {
        PITEMID_CHILD item = nullptr;
        ULONG fetched = 0;
        if (enumerator->Next(1, &item, &fetched) != S_OK)
        {
            EXPECT_EQ(fetched, 0u);
            break;
        }
        items.emplace_back(item);
    }
    return items;
}

inline std::wstring display_name(IShellFolder* folder, PCUITEMID_CHILD child, SHGDNF flags, HRESULT* result = nullptr)
{
    STRRET name{};
    const HRESULT hr = folder->GetDisplayNameOf(child, flags, &name);
    if (result)
        *result = hr;
    else
        EXPECT_EQ(hex(hr), hex(S_OK));
    if (FAILED(hr))
        return {};
    EXPECT_EQ(name.uType, static_cast<UINT>(STRRET_WSTR));
    unique_cotaskmem_string text;
    StrRetToStrW(&name, nullptr, text.put());
    return text ? std::wstring(text.get()) : std::wstring();
}

inline std::vector<std::wstring> display_names(IShellFolder* folder, const std::vector<unique_child_id>& items)
{
    std::vector<std::wstring> names;
    for (const auto& item : items)
        names.push_back(display_name(folder, item.get(), SHGDN_NORMAL));
    return names;
}

// The child of that display name among `items`, or null.
inline PCUITEMID_CHILD find_item(IShellFolder* folder, const std::vector<unique_child_id>& items, const std::wstring& name)
{
    for (const auto& item : items)
        if (display_name(folder, item.get(), SHGDN_NORMAL) == name)
            return item.get();
    ADD_FAILURE() << "no item " << to_utf8(name);
    return nullptr;
}

// The subfolder of that display name, bound through BindToObject.
inline com_ptr<IShellFolder> bind(IShellFolder* folder, const std::wstring& name)
{
    const auto items = enumerate(folder);
    com_ptr<IShellFolder> subfolder;
    if (const auto* child = find_item(folder, items, name))
    {
        EXPECT_EQ(hex(folder->BindToObject(child, nullptr, IID_IShellFolder, subfolder.put_void())), hex(S_OK));
    }
    return subfolder;
}

inline std::filesystem::path user_configuration(const wchar_t* name)
{
    return test_support::settings_folder() / name;
}

inline void remove_user_configuration()
{
    std::error_code ec;
    for (const auto* name : {L"Namespace.json", L"All Tags.json", L"All People.json"})
        std::filesystem::remove(user_configuration(name), ec);
}

// Each case starts from the default configuration and ends with no object of the module alive.
class folder_fixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        remove_user_configuration();
        // Seeded from the default copies before the log is watched.
        ASSERT_TRUE(load_namespace_configuration());
        log_.emplace();
        locks_before_ = the_module().lock_count();
    }
    void TearDown() override
    {
        // Worker threads give their enumerator back just after completing it.
        for (int i = 0; i < 200 && the_module().lock_count() != locks_before_; ++i)
            Sleep(10);
        EXPECT_EQ(the_module().lock_count(), locks_before_) << "an object of the module is still alive";
        remove_user_configuration();
    }

    // Writes "Namespace.json" with a last-write time later than any before.
    void write_namespace(const std::string& json)
    {
        test_support::write_file(user_configuration(L"Namespace.json"), json);
        test_support::touch_file(user_configuration(L"Namespace.json"), ++generation_);
    }

    std::optional<test_support::log_capture> log_;

private:
    LONG locks_before_ = 0;
    int generation_ = 0;
};
} // namespace folder_test
