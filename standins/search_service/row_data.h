#pragma once
// Filling a consumer's row buffer as its accessor's bindings ask: the value in the bound type, its
// length and its status, written at the binding's offsets.

#include "index.h"

#include <windows.h>
#include <oledb.h>

namespace search_standin
{
// Whether an accessor may bind a column of this type as `type` (checked by CreateAccessor).
bool conversion_supported(column_type from, DBTYPE type) noexcept;

// The type IColumnsInfo reports for a column.
DBTYPE native_type(const column_info& column) noexcept;

// Writes one binding's parts into `row`. Returns the column's status (also written when the status
// part is bound); E_OUTOFMEMORY through `failure` when a string or array could not be allocated.
DBSTATUS write_binding(const value& v, const column_info& column, const DBBINDING& binding, BYTE* row, HRESULT& failure) noexcept;

// Whether a status counts as an error for GetData's answer (DB_S_ERRORSOCCURRED / DB_E_ERRORSOCCURRED).
// A null or truncated value is no error when its status is bound; a null without a status binding is.
bool is_error_status(DBSTATUS status, const DBBINDING& binding) noexcept;
} // namespace search_standin
