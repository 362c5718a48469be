#pragma once
// One row of a Windows Search query: what the search cache keeps and what result items are made of.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct search_result_record
{
    // System.ItemPathDisplay, at most 259 characters.
    std::wstring path{};
    // System.Size.
    std::uint64_t size = 0;
    // System.DateCreated.
    FILETIME date_created{};
    // System.Rating on the 1-99 scale; 0 when the file has none.
    std::uint32_t rating = 0;
    // System.ItemTypeText, at most 255 characters.
    std::wstring type_text{};
    // System.Keywords and System.Photo.PeopleNames, empty values left out, in the index's order.
    std::vector<std::wstring> keywords{};
    std::vector<std::wstring> people{};
};
