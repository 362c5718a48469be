#include "sql_query.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <numeric>

namespace search_standin
{
namespace
{
std::string narrow_for_message(std::wstring_view text)
{
    std::string result;
    for (wchar_t c : text)
        result += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return result;
}

int compare_text(std::wstring_view a, std::wstring_view b)
{
    const int result = CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE);
    return result == CSTR_LESS_THAN ? -1 : result == CSTR_GREATER_THAN ? 1 : 0;
}

bool equal_text(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && compare_text(a, b) == 0;
}

// ---- tokens -------------------------------------------------------------------------------------

enum class token_kind
{
    end,
    identifier,  // regular: letters, digits, '_' and '.', starting with a letter
    delimited,   // "..."
    string,      // '...'
    number,
    symbol,
};

struct token
{
    token_kind kind = token_kind::end;
    std::wstring text;
    std::size_t offset = 0;
};

std::vector<token> tokenize(std::wstring_view sql)
{
    std::vector<token> tokens;
    std::size_t i = 0;
    auto error = [&](const std::string& what) {
        throw query_error(what + " at offset " + std::to_string(i));
    };
    while (true)
    {
        while (i < sql.size() && std::iswspace(sql[i]))
            ++i;
        token t;
        t.offset = i;
        if (i == sql.size())
        {
            tokens.push_back(t);
            return tokens;
        }
        const wchar_t c = sql[i];
        if (std::iswalpha(c))
        {
            t.kind = token_kind::identifier;
            while (i < sql.size() && (std::iswalnum(sql[i]) || sql[i] == L'_' || sql[i] == L'.'))
                t.text += sql[i++];
        }
        else if (c == L'"')
        {
            t.kind = token_kind::delimited;
            ++i;
            while (i < sql.size() && sql[i] != L'"')
                t.text += sql[i++];
            if (i == sql.size())
                error("unterminated quoted identifier");
            ++i;
        }
        else if (c == L'\'')
        {
            t.kind = token_kind::string;
            ++i;
            while (true)
            {
                if (i == sql.size())
                    error("unterminated string literal");
                if (sql[i] == L'\'')
                {
                    if (i + 1 < sql.size() && sql[i + 1] == L'\'')
                    {
                        t.text += L'\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                t.text += sql[i++];
            }
        }
        else if (std::iswdigit(c) || (c == L'.' && i + 1 < sql.size() && std::iswdigit(sql[i + 1])))
        {
            t.kind = token_kind::number;
            while (i < sql.size() && std::iswdigit(sql[i]))
                t.text += sql[i++];
            if (i < sql.size() && sql[i] == L'.')
            {
                t.text += sql[i++];
                while (i < sql.size() && std::iswdigit(sql[i]))
                    t.text += sql[i++];
            }
            if (i < sql.size() && (sql[i] == L'e' || sql[i] == L'E'))
            {
                std::size_t j = i + 1;
                if (j < sql.size() && (sql[j] == L'+' || sql[j] == L'-'))
                    ++j;
                if (j < sql.size() && std::iswdigit(sql[j]))
                {
                    t.text.append(sql.substr(i, j - i));
                    i = j;
                    while (i < sql.size() && std::iswdigit(sql[i]))
                        t.text += sql[i++];
                }
            }
            if (i < sql.size() && (std::iswalpha(sql[i]) || sql[i] == L'_'))
                error("malformed number");
        }
        else
        {
            t.kind = token_kind::symbol;
            const std::wstring_view two = sql.substr(i, 2);
            if (two == L"<>" || two == L"!=" || two == L"<=" || two == L">=")
            {
                t.text = two;
                i += 2;
            }
            else if (std::wstring_view(L"(),*[];=<>-:").find(c) != std::wstring_view::npos)
            {
                t.text = c;
                ++i;
            }
            else
                error("unexpected character '" + narrow_for_message(std::wstring(1, c)) + "'");
        }
        tokens.push_back(std::move(t));
    }
}

// ---- full-text conditions -----------------------------------------------------------------------

struct text_condition
{
    enum class node
    {
        term,
        all_of,
        any_of,
        negation,
    };
    node kind = node::term;
    std::vector<std::wstring> words;  // lower-case; consecutive words form a phrase
    bool prefix = false;              // the last word is a prefix ("tag*")
    std::vector<std::unique_ptr<text_condition>> children;
};

void split_words(std::wstring_view text, std::vector<std::wstring>& words)
{
    std::wstring word;
    for (wchar_t c : text)
    {
        if (std::iswalnum(c))
            word += static_cast<wchar_t>(std::towlower(c));
        else if (!word.empty())
            words.push_back(std::move(word)), word.clear();
    }
    if (!word.empty())
        words.push_back(std::move(word));
}

std::unique_ptr<text_condition> make_term(std::wstring_view text)
{
    auto term = std::make_unique<text_condition>();
    std::wstring_view trimmed = text;
    while (!trimmed.empty() && std::iswspace(trimmed.back()))
        trimmed.remove_suffix(1);
    if (!trimmed.empty() && trimmed.back() == L'*')
    {
        term->prefix = true;
        trimmed.remove_suffix(1);
    }
    split_words(trimmed, term->words);
    if (term->words.empty() && !term->prefix)
        throw query_error("empty full-text term");
    return term;
}

// 'word', '"phrase"', '"prefix*"', combined with AND, OR, AND NOT, NOT, &, |, ! and parentheses;
// terms written side by side must all match.
class condition_parser
{
public:
    explicit condition_parser(std::wstring_view text) : text_(text) {}

    std::unique_ptr<text_condition> parse()
    {
        auto result = parse_or();
        skip_space();
        if (position_ != text_.size())
            throw query_error("unexpected text in full-text condition '" + narrow_for_message(text_) + "'");
        return result;
    }

private:
    void skip_space()
    {
        while (position_ < text_.size() && std::iswspace(text_[position_]))
            ++position_;
    }

    // The next bare word without consuming it (empty at a symbol or the end).
    std::wstring_view peek_word()
    {
        skip_space();
        std::size_t end = position_;
        while (end < text_.size() && !std::iswspace(text_[end]) && std::wstring_view(L"\"()&|!").find(text_[end]) == std::wstring_view::npos)
            ++end;
        return text_.substr(position_, end - position_);
    }

    bool take_operator(std::wstring_view word, wchar_t symbol)
    {
        skip_space();
        if (position_ < text_.size() && text_[position_] == symbol)
        {
            ++position_;
            return true;
        }
        const std::wstring_view next = peek_word();
        if (!word.empty() && equal_text(next, word))
        {
            position_ += next.size();
            return true;
        }
        return false;
    }

    bool at_term_start()
    {
        skip_space();
        if (position_ == text_.size() || text_[position_] == L')' || text_[position_] == L'|' || text_[position_] == L'&')
            return false;
        const std::wstring_view next = peek_word();
        return !equal_text(next, L"OR") && !equal_text(next, L"AND");
    }

    std::unique_ptr<text_condition> combine(text_condition::node kind, std::unique_ptr<text_condition> left,
                                            std::unique_ptr<text_condition> right)
    {
        auto node = std::make_unique<text_condition>();
        node->kind = kind;
        node->children.push_back(std::move(left));
        node->children.push_back(std::move(right));
        return node;
    }

    std::unique_ptr<text_condition> parse_or()
    {
        auto left = parse_and();
        while (take_operator(L"OR", L'|'))
            left = combine(text_condition::node::any_of, std::move(left), parse_and());
        return left;
    }

    std::unique_ptr<text_condition> parse_and()
    {
        auto left = parse_unary();
        while (true)
        {
            if (take_operator(L"AND", L'&') || take_operator(L"NEAR", L'~'))
                left = combine(text_condition::node::all_of, std::move(left), parse_unary());
            else if (at_term_start())
                left = combine(text_condition::node::all_of, std::move(left), parse_unary());
            else
                return left;
        }
    }

    std::unique_ptr<text_condition> parse_unary()
    {
        if (take_operator(L"NOT", L'!'))
        {
            auto node = std::make_unique<text_condition>();
            node->kind = text_condition::node::negation;
            node->children.push_back(parse_unary());
            return node;
        }
        skip_space();
        if (position_ == text_.size())
            throw query_error("full-text condition ends early: '" + narrow_for_message(text_) + "'");
        if (text_[position_] == L'(')
        {
            ++position_;
            auto inner = parse_or();
            skip_space();
            if (position_ == text_.size() || text_[position_] != L')')
                throw query_error("unbalanced parenthesis in full-text condition");
            ++position_;
            return inner;
        }
        if (text_[position_] == L'"')
        {
            const std::size_t close = text_.find(L'"', position_ + 1);
            if (close == std::wstring_view::npos)
                throw query_error("unterminated phrase in full-text condition");
            auto term = make_term(text_.substr(position_ + 1, close - position_ - 1));
            position_ = close + 1;
            return term;
        }
        const std::wstring_view word = peek_word();
        if (word.empty())
            throw query_error("unexpected symbol in full-text condition '" + narrow_for_message(text_) + "'");
        position_ += word.size();
        return make_term(word);
    }

    std::wstring_view text_;
    std::size_t position_ = 0;
};

// The words of each text a full-text predicate looks at.
using word_sources = std::vector<std::vector<std::wstring>>;

bool term_matches(const text_condition& term, const word_sources& sources)
{
    for (const auto& words : sources)
    {
        if (term.words.empty())
        {
            if (!words.empty())
                return true;
            continue;
        }
        if (words.size() < term.words.size())
            continue;
        for (std::size_t start = 0; start + term.words.size() <= words.size(); ++start)
        {
            bool all = true;
            for (std::size_t k = 0; k < term.words.size() && all; ++k)
            {
                const std::wstring& have = words[start + k];
                const std::wstring& want = term.words[k];
                const bool last = k + 1 == term.words.size();
                all = (last && term.prefix) ? have.compare(0, want.size(), want) == 0 : have == want;
            }
            if (all)
                return true;
        }
    }
    return false;
}

bool condition_matches(const text_condition& condition, const word_sources& sources)
{
    switch (condition.kind)
    {
    case text_condition::node::term:
        return term_matches(condition, sources);
    case text_condition::node::all_of:
        return std::all_of(condition.children.begin(), condition.children.end(),
                           [&](const auto& child) { return condition_matches(*child, sources); });
    case text_condition::node::any_of:
        return std::any_of(condition.children.begin(), condition.children.end(),
                           [&](const auto& child) { return condition_matches(*child, sources); });
    case text_condition::node::negation:
        return !condition_matches(*condition.children.front(), sources);
    }
    return false;
}

// ---- values ---------------------------------------------------------------------------------------

struct literal
{
    enum class form
    {
        string,
        number,
        boolean,
    };
    form kind = form::string;
    std::wstring text;  // the string's content, or the number or boolean as written
    double number = 0;
    std::optional<date_value> date;
};

std::wstring text_form(const value& v)
{
    if (auto* text = std::get_if<std::wstring>(&v))
        return *text;
    if (auto* integer = std::get_if<std::int64_t>(&v))
        return std::to_wstring(*integer);
    if (auto* real = std::get_if<double>(&v))
    {
        wchar_t buffer[64] = {};
        swprintf(buffer, std::size(buffer), L"%g", *real);
        return buffer;
    }
    if (auto* date = std::get_if<date_value>(&v))
        return format_date(*date);
    return {};
}

// The single values a predicate looks at: the elements of a list, or the value itself.
std::vector<value> elements_of(const value& v)
{
    if (auto* list = std::get_if<text_list>(&v))
        return std::vector<value>(list->begin(), list->end());
    return {v};
}

// Compares a single value with a literal; nullopt when they cannot be compared.
std::optional<int> compare_with(const value& v, const literal& l)
{
    auto sign = [](auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); };
    if (std::holds_alternative<std::monostate>(v))
        return std::nullopt;
    if (auto* date = std::get_if<date_value>(&v))
    {
        if (!l.date)
            return std::nullopt;
        return sign(date->ticks, l.date->ticks);
    }
    const bool numeric_value = std::holds_alternative<std::int64_t>(v) || std::holds_alternative<double>(v);
    if (numeric_value && l.kind != literal::form::string)
    {
        const double number = l.kind == literal::form::boolean ? (equal_text(l.text, L"TRUE") ? 1.0 : 0.0) : l.number;
        if (auto* integer = std::get_if<std::int64_t>(&v))
        {
            if (number == std::floor(number) && std::fabs(number) < 9e18)
                return sign(*integer, static_cast<std::int64_t>(number));
            return sign(static_cast<double>(*integer), number);
        }
        return sign(std::get<double>(v), number);
    }
    // A quoted number compares as a string, as does a number against a text column.
    return compare_text(text_form(v), l.text);
}

enum class compare_op
{
    eq,
    ne,
    lt,
    le,
    gt,
    ge,
};

bool holds(compare_op op, int c)
{
    switch (op)
    {
    case compare_op::eq:
        return c == 0;
    case compare_op::ne:
        return c != 0;
    case compare_op::lt:
        return c < 0;
    case compare_op::le:
        return c <= 0;
    case compare_op::gt:
        return c > 0;
    case compare_op::ge:
        return c >= 0;
    }
    return false;
}

enum class truth
{
    no,
    yes,
    unknown,
};

truth from_bool(bool b)
{
    return b ? truth::yes : truth::no;
}

// Order of values in ORDER BY: missing first, then numbers, dates, texts; a list sorts by its first
// element.
struct sort_view
{
    int rank = 0;  // 0 missing, 1 number, 2 date, 3 text
    bool is_integer = false;
    std::int64_t integer = 0;
    double real = 0;
    std::wstring_view text;
};

sort_view view_of(const value& v)
{
    sort_view view;
    if (auto* list = std::get_if<text_list>(&v))
    {
        if (!list->empty())
        {
            view.rank = 3;
            view.text = list->front();
        }
    }
    else if (auto* text = std::get_if<std::wstring>(&v))
    {
        view.rank = 3;
        view.text = *text;
    }
    else if (auto* integer = std::get_if<std::int64_t>(&v))
    {
        view.rank = 1;
        view.is_integer = true;
        view.integer = *integer;
        view.real = static_cast<double>(*integer);
    }
    else if (auto* real = std::get_if<double>(&v))
    {
        view.rank = 1;
        view.real = *real;
    }
    else if (auto* date = std::get_if<date_value>(&v))
    {
        view.rank = 2;
        view.integer = date->ticks;
    }
    return view;
}

int order_compare(const value& a, const value& b)
{
    const sort_view left = view_of(a), right = view_of(b);
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (left.rank != right.rank)
        return sign(left.rank, right.rank);
    switch (left.rank)
    {
    case 0:
        return 0;
    case 1:
        return left.is_integer && right.is_integer ? sign(left.integer, right.integer) : sign(left.real, right.real);
    case 2:
        return sign(left.integer, right.integer);
    default:
        return compare_text(left.text, right.text);
    }
}

// "file:C:/Files/Reports" -> "c:\files\reports"; "file:" -> "" (every file); nullopt for other schemes.
std::optional<std::wstring> scope_path(std::wstring_view url)
{
    if (url.size() < 5 || !equal_text(url.substr(0, 5), L"file:"))
        return std::nullopt;
    std::wstring path;
    for (std::size_t i = 5; i < url.size(); ++i)
    {
        if (url[i] == L'%' && i + 2 < url.size() && std::iswxdigit(url[i + 1]) && std::iswxdigit(url[i + 2]))
        {
            path += static_cast<wchar_t>(std::stoi(std::wstring(url.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        }
        else
            path += url[i] == L'/' ? L'\\' : url[i];
    }
    // "file:///C:/x" and "file://C:/x" name the same folder as "file:C:/x"; "file://server/share" is UNC.
    std::size_t slashes = 0;
    while (slashes < path.size() && path[slashes] == L'\\')
        ++slashes;
    if (slashes > 0 && slashes + 1 < path.size() && std::iswalpha(path[slashes]) && path[slashes + 1] == L':')
        path.erase(0, slashes);
    else if (slashes >= 2)
        path.erase(0, slashes - 2);
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return lower(path);
}
} // namespace

// ---- predicates -----------------------------------------------------------------------------------

struct predicate
{
    enum class node
    {
        all_of,
        any_of,
        negation,
        constant,
        compare,
        like,
        is_null,
        scope,
        directory,
        contains,
    };
    node kind = node::constant;
    std::unique_ptr<predicate> left, right;
    bool constant = false;
    std::size_t column = 0;
    bool all_text = false;  // CONTAINS(*, ...): every text property
    compare_op op = compare_op::eq;
    enum class quantity
    {
        none,
        some,
        all,
    };
    quantity quantifier = quantity::none;
    std::vector<literal> literals;
    bool negated = false;               // NOT LIKE, IS NOT NULL
    std::optional<std::wstring> scope;  // nullopt: a scheme other than file:, matches nothing
    std::unique_ptr<text_condition> condition;
};

parsed_query::parsed_query() = default;
parsed_query::~parsed_query() = default;
parsed_query::parsed_query(parsed_query&&) noexcept = default;
parsed_query& parsed_query::operator=(parsed_query&&) noexcept = default;

namespace
{
class statement_parser
{
public:
    statement_parser(std::wstring_view sql, const index_data& index) : tokens_(tokenize(sql)), index_(index) {}

    parsed_query parse()
    {
        parsed_query query;
        expect_keyword(L"SELECT");
        if (take_keyword(L"TOP"))
        {
            const token& count = next();
            if (count.kind != token_kind::number || count.text.find_first_not_of(L"0123456789") != std::wstring::npos)
                fail("TOP expects a whole number", count);
            query.top = std::stoll(count.text);
        }
        do
        {
            const token& name = next();
            if (name.kind != token_kind::identifier && name.kind != token_kind::delimited)
                fail("expected a column name", name);
            query.select.push_back({name.text, resolve(name)});
        } while (take_symbol(L","));
        expect_keyword(L"FROM");
        const token& table = next();
        if ((table.kind != token_kind::identifier && table.kind != token_kind::delimited) || !equal_text(table.text, L"SystemIndex"))
            fail("the only catalog is \"SystemIndex\"", table);
        if (take_keyword(L"WHERE"))
            query.where = parse_or();
        if (take_keyword(L"ORDER"))
        {
            expect_keyword(L"BY");
            do
            {
                const token& name = next();
                if (name.kind != token_kind::identifier && name.kind != token_kind::delimited)
                    fail("expected a column name", name);
                sort_key key{resolve(name), false};
                if (take_keyword(L"DESC"))
                    key.descending = true;
                else
                    take_keyword(L"ASC");
                query.order.push_back(key);
            } while (take_symbol(L","));
        }
        take_symbol(L";");
        if (peek().kind != token_kind::end)
            fail("unexpected text", peek());
        return query;
    }

private:
    [[noreturn]] void fail(const std::string& what, const token& at)
    {
        throw query_error(what + " at offset " + std::to_string(at.offset) +
                          (at.kind == token_kind::end ? " (end of statement)" : " ('" + narrow_for_message(at.text) + "')"));
    }

    const token& peek(std::size_t ahead = 0) const
    {
        return tokens_[std::min(position_ + ahead, tokens_.size() - 1)];
    }
    const token& next()
    {
        const token& t = peek();
        if (position_ < tokens_.size() - 1)
            ++position_;
        return t;
    }
    static bool is_keyword(const token& t, std::wstring_view keyword)
    {
        return t.kind == token_kind::identifier && equal_text(t.text, keyword);
    }
    bool take_keyword(std::wstring_view keyword)
    {
        if (!is_keyword(peek(), keyword))
            return false;
        next();
        return true;
    }
    void expect_keyword(std::wstring_view keyword)
    {
        if (!take_keyword(keyword))
            fail("expected " + narrow_for_message(keyword), peek());
    }
    bool take_symbol(std::wstring_view symbol)
    {
        if (peek().kind != token_kind::symbol || peek().text != symbol)
            return false;
        next();
        return true;
    }
    void expect_symbol(std::wstring_view symbol)
    {
        if (!take_symbol(symbol))
            fail("expected '" + narrow_for_message(symbol) + "'", peek());
    }

    std::size_t resolve(const token& name)
    {
        static const wchar_t* const reserved[] = {L"SELECT", L"FROM", L"WHERE", L"AND", L"OR", L"NOT", L"ORDER", L"BY",
                                                  L"LIKE", L"IS", L"NULL", L"TOP", L"CONTAINS", L"FREETEXT"};
        if (name.kind == token_kind::identifier)
            for (const wchar_t* word : reserved)
                if (equal_text(name.text, word))
                    fail("expected a column name", name);
        if (auto column = index_.find_column(name.text))
            return *column;
        fail("unknown column", name);
    }

    std::unique_ptr<predicate> combine(predicate::node kind, std::unique_ptr<predicate> left, std::unique_ptr<predicate> right)
    {
        auto node = std::make_unique<predicate>();
        node->kind = kind;
        node->left = std::move(left);
        node->right = std::move(right);
        return node;
    }

    std::unique_ptr<predicate> parse_or()
    {
        auto left = parse_and();
        while (take_keyword(L"OR"))
            left = combine(predicate::node::any_of, std::move(left), parse_and());
        return left;
    }

    std::unique_ptr<predicate> parse_and()
    {
        auto left = parse_not();
        while (take_keyword(L"AND"))
            left = combine(predicate::node::all_of, std::move(left), parse_not());
        return left;
    }

    std::unique_ptr<predicate> parse_not()
    {
        if (take_keyword(L"NOT"))
            return combine(predicate::node::negation, parse_not(), nullptr);
        auto result = parse_primary();
        skip_rank_by();
        return result;
    }

    // "RANK BY COERCION(Absolute, 1)", "RANK BY WEIGHT(0.5)": ranking hints, which do not filter.
    void skip_rank_by()
    {
        while (is_keyword(peek(), L"RANK") && is_keyword(peek(1), L"BY"))
        {
            next();
            next();
            const token& method = next();
            if (method.kind != token_kind::identifier)
                fail("expected a ranking method after RANK BY", method);
            if (take_symbol(L"("))
                skip_balanced();
        }
    }

    // Skips to the parenthesis that closes one already taken.
    void skip_balanced()
    {
        int depth = 1;
        while (depth > 0)
        {
            const token& t = next();
            if (t.kind == token_kind::end)
                fail("unbalanced parenthesis", t);
            if (t.kind == token_kind::symbol && t.text == L"(")
                ++depth;
            else if (t.kind == token_kind::symbol && t.text == L")")
                --depth;
        }
    }

    static bool is_date_function(const token& t)
    {
        return is_keyword(t, L"DATEADD") || is_keyword(t, L"GETGMTDATE");
    }

    // GETGMTDATE() is the time of the query (UTC, as the index's dates are); DATEADD(<unit>, <whole
    // number>, <date>) moves a date by YEAR, QUARTER, MONTH, WEEK, DAY, HOUR, MINUTE or SECOND; the date
    // is GETGMTDATE(), another DATEADD or a quoted date.
    date_value parse_date_expression()
    {
        const token& name = next();
        if (is_keyword(name, L"GETGMTDATE"))
        {
            expect_symbol(L"(");
            expect_symbol(L")");
            FILETIME now{};
            GetSystemTimeAsFileTime(&now);
            return date_value{static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                                        now.dwLowDateTime)};
        }
        if (name.kind == token_kind::string)
        {
            if (auto date = parse_date(name.text))
                return *date;
            fail("expected a date 'YYYY/MM/DD hh:mm:ss'", name);
        }
        if (!is_keyword(name, L"DATEADD"))
            fail("expected GETGMTDATE(), DATEADD(...) or a quoted date", name);
        expect_symbol(L"(");
        const token& unit = next();
        static const std::pair<const wchar_t*, std::int64_t> fixed_units[] = {
            {L"WEEK", 7 * 86400}, {L"DAY", 86400}, {L"HOUR", 3600}, {L"MINUTE", 60}, {L"SECOND", 1}};
        static const std::pair<const wchar_t*, int> month_units[] = {{L"YEAR", 12}, {L"QUARTER", 3}, {L"MONTH", 1}};
        const auto fixed = std::find_if(std::begin(fixed_units), std::end(fixed_units),
                                        [&](const auto& u) { return is_keyword(unit, u.first); });
        const auto months = std::find_if(std::begin(month_units), std::end(month_units),
                                         [&](const auto& u) { return is_keyword(unit, u.first); });
        if (fixed == std::end(fixed_units) && months == std::end(month_units))
            fail("DATEADD takes YEAR, QUARTER, MONTH, WEEK, DAY, HOUR, MINUTE or SECOND", unit);
        expect_symbol(L",");
        const bool negative = take_symbol(L"-");
        const token& count = next();
        if (count.kind != token_kind::number || count.text.find_first_not_of(L"0123456789") != std::wstring::npos ||
            count.text.size() > 9)
            fail("DATEADD takes a whole number", count);
        const std::int64_t amount = (negative ? -1 : 1) * std::stoll(count.text);
        expect_symbol(L",");
        date_value date = parse_date_expression();
        expect_symbol(L")");
        if (fixed != std::end(fixed_units))
            return date_value{date.ticks + amount * fixed->second * 10'000'000ll};
        return add_months(date, amount * months->second, unit);
    }

    // Calendar months: the day of the month is kept, or the month's last day when it has fewer.
    date_value add_months(date_value date, std::int64_t months, const token& at)
    {
        FILETIME time{static_cast<DWORD>(date.ticks), static_cast<DWORD>(static_cast<std::uint64_t>(date.ticks) >> 32)};
        SYSTEMTIME parts{};
        if (!FileTimeToSystemTime(&time, &parts))
            fail("DATEADD leaves the range of dates", at);
        const std::int64_t month = parts.wYear * 12ll + (parts.wMonth - 1) + months;
        if (month < 1601 * 12 || month > 30827 * 12)
            fail("DATEADD leaves the range of dates", at);
        parts.wYear = static_cast<WORD>(month / 12);
        parts.wMonth = static_cast<WORD>(month % 12 + 1);
        static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (parts.wYear % 4 == 0 && parts.wYear % 100 != 0) || parts.wYear % 400 == 0;
        const int last = days[parts.wMonth - 1] + (parts.wMonth == 2 && leap ? 1 : 0);
        parts.wDay = static_cast<WORD>(std::min<int>(parts.wDay, last));
        if (!SystemTimeToFileTime(&parts, &time))
            fail("DATEADD leaves the range of dates", at);
        return date_value{static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                                    time.dwLowDateTime)};
    }

    literal parse_literal()
    {
        literal result;
        if (is_date_function(peek()) && peek(1).kind == token_kind::symbol && peek(1).text == L"(")
        {
            result.kind = literal::form::string;
            result.date = parse_date_expression();
            result.text = format_date(*result.date);
            return result;
        }
        const bool negative = take_symbol(L"-");
        const token& t = next();
        if (t.kind == token_kind::string && !negative)
        {
            result.kind = literal::form::string;
            result.text = t.text;
            result.date = parse_date(t.text);
        }
        else if (t.kind == token_kind::number)
        {
            result.kind = literal::form::number;
            result.text = (negative ? L"-" : L"") + t.text;
            result.number = std::wcstod(result.text.c_str(), nullptr);
        }
        else if (!negative && (is_keyword(t, L"TRUE") || is_keyword(t, L"FALSE")))
        {
            result.kind = literal::form::boolean;
            result.text = t.text;
        }
        else
            fail("expected a literal", t);
        return result;
    }

    void check_literal(std::size_t column, const literal& l, const token& at)
    {
        if (index_.columns[column].type == column_type::date && !l.date)
            fail("a date column compares with a quoted date 'YYYY/MM/DD hh:mm:ss'", at);
    }

    std::unique_ptr<predicate> parse_scope(predicate::node kind)
    {
        expect_symbol(L"=");
        const token& url = next();
        if (url.kind != token_kind::string)
            fail("SCOPE and DIRECTORY compare with a quoted URL", url);
        auto node = std::make_unique<predicate>();
        node->kind = kind;
        node->scope = scope_path(url.text);
        return node;
    }

    // CONTAINS([<column> | *,] '<condition>' [, <LCID>]) and FREETEXT(...): no column searches the
    // document's contents, '*' every text property; a parenthesised, weighted list counts as '*'.
    std::unique_ptr<predicate> parse_full_text(bool freetext)
    {
        expect_symbol(L"(");
        auto node = std::make_unique<predicate>();
        node->kind = predicate::node::contains;
        node->column = column_contents;
        if (peek().kind != token_kind::string)
        {
            if (take_symbol(L"*"))
                node->all_text = true;
            else if (take_symbol(L"("))
            {
                skip_balanced();
                node->all_text = true;
            }
            else
            {
                const token& name = next();
                if (name.kind != token_kind::identifier && name.kind != token_kind::delimited)
                    fail("expected a column, '*' or the condition", name);
                node->column = resolve(name);
            }
            expect_symbol(L",");
        }
        const token& condition = next();
        if (condition.kind != token_kind::string)
            fail("expected the quoted condition", condition);
        if (freetext)
        {
            // Any of the words.
            std::vector<std::wstring> words;
            split_words(condition.text, words);
            node->condition = std::make_unique<text_condition>();
            node->condition->kind = text_condition::node::any_of;
            for (const auto& word : words)
                node->condition->children.push_back(make_term(word));
        }
        else
            node->condition = condition_parser(condition.text).parse();
        if (take_symbol(L","))
        {
            const token& locale = next();
            if (locale.kind != token_kind::number)
                fail("expected a locale identifier", locale);
        }
        expect_symbol(L")");
        return node;
    }

    std::unique_ptr<predicate> parse_primary()
    {
        const token& first = peek();
        if (take_symbol(L"("))
        {
            auto inner = parse_or();
            expect_symbol(L")");
            return inner;
        }
        if (take_keyword(L"SCOPE"))
            return parse_scope(predicate::node::scope);
        if (take_keyword(L"DIRECTORY"))
            return parse_scope(predicate::node::directory);
        if (is_keyword(first, L"CONTAINS") && peek(1).text == L"(")
        {
            next();
            return parse_full_text(false);
        }
        if (is_keyword(first, L"FREETEXT") && peek(1).text == L"(")
        {
            next();
            return parse_full_text(true);
        }
        if (is_keyword(first, L"TRUE") || is_keyword(first, L"FALSE"))
        {
            next();
            auto node = std::make_unique<predicate>();
            node->kind = predicate::node::constant;
            node->constant = is_keyword(first, L"TRUE");
            return node;
        }
        if (first.kind != token_kind::identifier && first.kind != token_kind::delimited)
            fail("expected a predicate", first);
        next();
        auto node = std::make_unique<predicate>();
        node->column = resolve(first);
        if (take_keyword(L"IS"))
        {
            node->kind = predicate::node::is_null;
            node->negated = take_keyword(L"NOT");
            expect_keyword(L"NULL");
            return node;
        }
        const bool not_like = is_keyword(peek(), L"NOT") && is_keyword(peek(1), L"LIKE");
        if (not_like)
            next();
        if (take_keyword(L"LIKE"))
        {
            node->kind = predicate::node::like;
            node->negated = not_like;
            const token& pattern = next();
            if (pattern.kind != token_kind::string)
                fail("LIKE expects a quoted pattern", pattern);
            literal l;
            l.text = pattern.text;
            node->literals.push_back(std::move(l));
            return node;
        }
        node->kind = predicate::node::compare;
        const token& op = next();
        static const std::pair<const wchar_t*, compare_op> operators[] = {
            {L"=", compare_op::eq}, {L"<>", compare_op::ne}, {L"!=", compare_op::ne}, {L"<", compare_op::lt},
            {L"<=", compare_op::le}, {L">", compare_op::gt}, {L">=", compare_op::ge}};
        const auto found = std::find_if(std::begin(operators), std::end(operators),
                                        [&](const auto& entry) { return op.kind == token_kind::symbol && op.text == entry.first; });
        if (found == std::end(operators))
            fail("expected a comparison, LIKE or IS NULL", op);
        node->op = found->second;
        if (take_keyword(L"SOME") || take_keyword(L"ANY"))
            node->quantifier = predicate::quantity::some;
        else if (take_keyword(L"ALL"))
            node->quantifier = predicate::quantity::all;
        if (node->quantifier != predicate::quantity::none)
        {
            expect_keyword(L"ARRAY");
            expect_symbol(L"[");
            do
            {
                const token& at = peek();
                node->literals.push_back(parse_literal());
                check_literal(node->column, node->literals.back(), at);
            } while (take_symbol(L","));
            expect_symbol(L"]");
        }
        else
        {
            const token& at = peek();
            node->literals.push_back(parse_literal());
            check_literal(node->column, node->literals.back(), at);
        }
        return node;
    }

    std::vector<token> tokens_;
    std::size_t position_ = 0;
    const index_data& index_;
};

truth negate(truth t)
{
    return t == truth::unknown ? t : from_bool(t == truth::no);
}

void add_words(const value& v, word_sources& sources)
{
    for (const auto& element : elements_of(v))
    {
        if (std::holds_alternative<std::monostate>(element))
            continue;
        sources.emplace_back();
        split_words(text_form(element), sources.back());
    }
}

truth evaluate(const predicate& p, const index_data& index, std::size_t item)
{
    const index_item& entry = index.items[item];
    switch (p.kind)
    {
    case predicate::node::all_of:
    {
        const truth left = evaluate(*p.left, index, item);
        if (left == truth::no)
            return truth::no;
        const truth right = evaluate(*p.right, index, item);
        if (right == truth::no)
            return truth::no;
        return left == truth::yes && right == truth::yes ? truth::yes : truth::unknown;
    }
    case predicate::node::any_of:
    {
        const truth left = evaluate(*p.left, index, item);
        if (left == truth::yes)
            return truth::yes;
        const truth right = evaluate(*p.right, index, item);
        if (right == truth::yes)
            return truth::yes;
        return left == truth::no && right == truth::no ? truth::no : truth::unknown;
    }
    case predicate::node::negation:
        return negate(evaluate(*p.left, index, item));
    case predicate::node::constant:
        return from_bool(p.constant);
    case predicate::node::scope:
        if (!p.scope)
            return truth::no;
        if (p.scope->empty())
            return truth::yes;
        return from_bool(entry.path_lower == *p.scope ||
                         (entry.path_lower.size() > p.scope->size() && entry.path_lower.compare(0, p.scope->size(), *p.scope) == 0 &&
                          entry.path_lower[p.scope->size()] == L'\\'));
    case predicate::node::directory:
        return from_bool(p.scope && entry.folder_lower == *p.scope);
    case predicate::node::is_null:
    {
        const bool missing = std::holds_alternative<std::monostate>(entry.values[p.column]);
        return from_bool(missing != p.negated);
    }
    case predicate::node::like:
    {
        const value& v = entry.values[p.column];
        if (std::holds_alternative<std::monostate>(v))
            return truth::unknown;
        bool any = false;
        for (const auto& element : elements_of(v))
            any = any || like_match(text_form(element), p.literals.front().text);
        return from_bool(any != p.negated);
    }
    case predicate::node::contains:
    {
        word_sources sources;
        if (p.all_text)
        {
            for (std::size_t column : {std::size_t{column_name}, std::size_t{column_type_text}, std::size_t{column_keywords},
                                       std::size_t{column_people}, std::size_t{column_contents}})
                add_words(entry.values[column], sources);
            for (std::size_t column = fixed_column_count; column < index.columns.size(); ++column)
                if (index.columns[column].type == column_type::text || index.columns[column].type == column_type::text_list)
                    add_words(entry.values[column], sources);
        }
        else
            add_words(entry.values[p.column], sources);
        return from_bool(!sources.empty() && condition_matches(*p.condition, sources));
    }
    case predicate::node::compare:
    {
        const value& v = entry.values[p.column];
        if (std::holds_alternative<std::monostate>(v))
            return truth::unknown;
        const auto elements = elements_of(v);
        bool any_unknown = false;
        auto element_holds = [&](const value& element) {
            for (const auto& l : p.literals)
            {
                const auto c = compare_with(element, l);
                if (!c)
                    any_unknown = true;
                else if (holds(p.op, *c))
                    return true;
            }
            return false;
        };
        bool result = false;
        if (p.quantifier == predicate::quantity::all)
            result = !elements.empty() && std::all_of(elements.begin(), elements.end(), element_holds);
        else
            result = std::any_of(elements.begin(), elements.end(), element_holds);
        if (!result && any_unknown)
            return truth::unknown;
        return from_bool(result);
    }
    }
    return truth::no;
}
} // namespace

parsed_query parse_query(std::wstring_view sql, const index_data& index)
{
    return statement_parser(sql, index).parse();
}

std::vector<std::size_t> run_query(const parsed_query& query, const index_data& index)
{
    std::vector<std::size_t> result;
    for (std::size_t item = 0; item < index.items.size(); ++item)
        if (!query.where || evaluate(*query.where, index, item) == truth::yes)
            result.push_back(item);
    if (!query.order.empty())
    {
        std::stable_sort(result.begin(), result.end(), [&](std::size_t a, std::size_t b) {
            for (const auto& key : query.order)
            {
                int c = order_compare(index.items[a].values[key.column], index.items[b].values[key.column]);
                if (key.descending)
                    c = -c;
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
    }
    if (query.top && result.size() > static_cast<std::size_t>(*query.top))
        result.resize(static_cast<std::size_t>(*query.top));
    return result;
}

bool like_match(std::wstring_view text, std::wstring_view pattern)
{
    // One step of the pattern at position p against character c; returns the position after the step or
    // npos when the step does not match. '%' is handled by the caller.
    auto step = [&](std::size_t p, wchar_t c) -> std::size_t {
        const wchar_t lc = static_cast<wchar_t>(std::towlower(c));
        if (pattern[p] == L'_')
            return p + 1;
        if (pattern[p] == L'[')
        {
            const std::size_t close = pattern.find(L']', p + 2);
            if (close != std::wstring_view::npos)
            {
                std::size_t q = p + 1;
                const bool negated = pattern[q] == L'^';
                if (negated)
                    ++q;
                bool in = false;
                for (; q < close; ++q)
                {
                    const wchar_t low = static_cast<wchar_t>(std::towlower(pattern[q]));
                    if (q + 2 < close && pattern[q + 1] == L'-')
                    {
                        const wchar_t high = static_cast<wchar_t>(std::towlower(pattern[q + 2]));
                        in = in || (lc >= low && lc <= high);
                        q += 2;
                    }
                    else
                        in = in || lc == low;
                }
                return in != negated ? close + 1 : std::wstring_view::npos;
            }
        }
        return static_cast<wchar_t>(std::towlower(pattern[p])) == lc ? p + 1 : std::wstring_view::npos;
    };
    // Backtracking over the last '%' keeps this linear in practice.
    std::size_t t = 0, p = 0;
    std::size_t star_p = std::wstring_view::npos, star_t = 0;
    while (t < text.size())
    {
        if (p < pattern.size() && pattern[p] == L'%')
        {
            star_p = ++p;
            star_t = t;
            continue;
        }
        if (p < pattern.size())
        {
            const std::size_t after = step(p, text[t]);
            if (after != std::wstring_view::npos)
            {
                p = after;
                ++t;
                continue;
            }
        }
        if (star_p == std::wstring_view::npos)
            return false;
        p = star_p;
        t = ++star_t;
    }
    while (p < pattern.size() && pattern[p] == L'%')
        ++p;
    return p == pattern.size();
}
} // namespace search_standin
