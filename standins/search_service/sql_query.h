#pragma once
// The subset of Windows Search SQL the stand-in answers:
//   SELECT [TOP n] <column>, ... FROM "SystemIndex" [WHERE <predicate>] [ORDER BY <column> [ASC|DESC], ...]
// with SCOPE/DIRECTORY, CONTAINS, FREETEXT, LIKE, comparisons (also against SOME/ANY/ALL ARRAY[...]),
// IS [NOT] NULL, AND, OR, NOT and parentheses; a "RANK BY ..." suffix is accepted and ignored.

#include "index.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace search_standin
{
// A statement the stand-in cannot answer (DB_E_ERRORSINCOMMAND), with the reason.
class query_error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct predicate;  // the parsed WHERE clause

struct selected_column
{
    std::wstring name;  // as the statement wrote it, without quotes
    std::size_t column = 0;
};

struct sort_key
{
    std::size_t column = 0;
    bool descending = false;
};

class parsed_query
{
public:
    parsed_query();
    ~parsed_query();
    parsed_query(parsed_query&&) noexcept;
    parsed_query& operator=(parsed_query&&) noexcept;

    std::optional<long long> top;
    std::vector<selected_column> select;
    std::unique_ptr<predicate> where;
    std::vector<sort_key> order;
};

// Parses a statement against the columns of an index. Throws query_error.
parsed_query parse_query(std::wstring_view sql, const index_data& index);

// The items the statement selects, in result order (after ORDER BY and TOP).
std::vector<std::size_t> run_query(const parsed_query& query, const index_data& index);

// Matches a LIKE pattern (%, _, [set], [^set]; case-insensitive).
bool like_match(std::wstring_view text, std::wstring_view pattern);
} // namespace search_standin
