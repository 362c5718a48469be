#include "quick_pins/menuwright_model.h"

#include "base/known_folders.h"
#include "base/raii.h"
#include "quick_pins/menuwright_snapshot.h"

#include <windows.h>

namespace
{

std::wstring to_wide(const std::u16string& text)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");
    return std::wstring(text.begin(), text.end());
}

} // namespace

std::filesystem::path menuwright_data_folder()
{
    return suite_data_folder() / L"Menuwright";
}

std::optional<std::vector<std::byte>> read_published_file(const std::filesystem::path& file, std::size_t max_size)
{
    // Menuwright replaces these files while we may be reading them; full sharing keeps us out of its way,
    // and a file it removed between the control file and the snapshot simply is not there.
    unique_hfile handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle)
        return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle.get(), &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > max_size)
    {
        return std::nullopt;
    }

    std::vector<std::byte> bytes(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size())
    {
        DWORD read = 0;
        if (!ReadFile(handle.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr) ||
            read == 0)
        {
            return std::nullopt;
        }
        done += read;
    }
    return bytes;
}

std::vector<pin_group_record> load_pin_group_records()
{
    const std::filesystem::path published = menuwright_data_folder() / L"published";

    const auto control = read_published_file(published / L"custom-model-control.bin", menuwright::control_file_size);
    if (!control)
        return {};
    const auto number = menuwright::parse_control_file(*control);
    if (!number)
        return {};

    const auto snapshot = read_published_file(
        published / (L"custom-model-snapshot-" + std::to_wstring(*number) + L".bin"), menuwright::max_snapshot_size);
    if (!snapshot)
        return {};

    std::vector<pin_group_record> records;
    for (const auto& group : menuwright::read_pin_group_texts(*snapshot))
        records.push_back({to_wide(group.name), to_wide(group.folder)});
    return records;
}
