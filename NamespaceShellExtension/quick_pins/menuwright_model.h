#pragma once
// Menuwright's published custom model, as the quick pins store reads it: the files in Menuwright's data
// folder, read whole and afresh on every call while Menuwright may be replacing them.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// %LOCALAPPDATA%\Quenbrook\Velmora\Menuwright; relative (Quenbrook\Velmora\Menuwright) while the local
// application data folder cannot be had.
std::filesystem::path menuwright_data_folder();

// One quick pins group record of the model. The folder text may be empty (the store then uses the
// group's default folder) and may hold variables the store resolves.
struct pin_group_record
{
    std::wstring name;
    std::wstring folder;

    friend bool operator==(const pin_group_record&, const pin_group_record&) = default;
};

// The quick pins group records of the published model, in model order; empty when there is no valid
// model (no control file, no snapshot, or any check failed). Writes no log line: a missing or broken
// model is an ordinary state, and the store then uses its default group. Throws std::bad_alloc only.
std::vector<pin_group_record> load_pin_group_records();

// The whole content of a file that its publisher may replace at any time: opened for reading with full
// sharing, existing files only. Nothing when the file cannot be opened, is empty, is larger than
// `max_size`, or cannot be read whole. Throws std::bad_alloc only.
std::optional<std::vector<std::byte>> read_published_file(const std::filesystem::path& file, std::size_t max_size);
