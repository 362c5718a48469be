#pragma once
// The forward-only rowset an executed command hands back.

#include "index.h"
#include "sql_query.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace search_standin
{
// Creates the rowset over `items` (item indexes in result order) and queries it for riid. The rowset
// keeps a reference to `command` (IRowsetInfo::GetSpecification hands it out).
HRESULT create_rowset(IUnknown* command, std::shared_ptr<index_data> index, std::vector<selected_column> columns,
                      std::vector<std::size_t> items, REFIID riid, void** ppv) noexcept;
} // namespace search_standin
