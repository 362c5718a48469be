#pragma once
// The process-wide path cache: real file-system paths and their absolute ID lists, so that every
// operation delegating to the real folder of a result or a pin parses its path once. Keys are the paths
// lower-cased with towlower. The cache holds at most 4096 lists; an insertion that finds it full empties
// it first. The parse runs outside the cache's mutex. Emptied when the module unloads.

#include <windows.h>
#include <shtypes.h>

#include <cstddef>
#include <string_view>

// A new copy of the path's ID list for the caller to free (ILFree), from the cache or, on a miss, from
// SHParseDisplayName, whose failure is returned unchanged. E_POINTER without `out`, E_OUTOFMEMORY when
// the copy cannot be made.
HRESULT path_cache_lookup(std::wstring_view path, PIDLIST_ABSOLUTE* out) noexcept;

// Forgets one path, so that the next lookup parses it afresh: a file-system item's ID list carries the
// file's size and times as they were when it was parsed, and the real folder answers those columns from
// it. Called when a listed file is saved.
void path_cache_forget(std::wstring_view path) noexcept;

// Frees every stored list.
void path_cache_clear() noexcept;

// How many paths are stored (tests).
std::size_t path_cache_size() noexcept;

inline constexpr std::size_t path_cache_capacity = 4096;
