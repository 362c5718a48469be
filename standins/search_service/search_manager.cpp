// The search manager, the "SystemIndex" catalog manager and the query helper of the stand-in.

#include "index.h"
#include "search_objects.h"
#include "standin_object.h"

#include <cstring>
#include <cwctype>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace search_standin
{
namespace
{
constexpr wchar_t connection_string[] = L"Provider=Search.CollatorDSO;Extended Properties='Application=Windows';";

std::wstring_view trim(std::wstring_view text)
{
    while (!text.empty() && std::iswspace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && std::iswspace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Splits a comma-separated list, keeping commas inside double quotes.
std::vector<std::wstring_view> split_list(std::wstring_view list)
{
    std::vector<std::wstring_view> parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= list.size(); ++i)
    {
        if (i < list.size() && list[i] == L'"')
            quoted = !quoted;
        if (i == list.size() || (list[i] == L',' && !quoted))
        {
            parts.push_back(trim(list.substr(start, i - start)));
            start = i + 1;
        }
    }
    return parts;
}

// A column name as a delimited identifier: "System.Size" stays, System.Size gains its quotes.
std::wstring quoted_column(std::wstring_view name)
{
    if (name.size() >= 2 && name.front() == L'"' && name.back() == L'"')
    {
        const std::wstring_view inner = name.substr(1, name.size() - 2);
        if (inner.empty() || inner.find(L'"') != std::wstring_view::npos)
            throw std::invalid_argument("malformed quoted column name");
        return std::wstring(name);
    }
    if (name.empty() || !std::iswalpha(name.front()))
        throw std::invalid_argument("a column name starts with a letter");
    for (wchar_t c : name)
        if (!std::iswalnum(c) && c != L'_' && c != L'.')
            throw std::invalid_argument("a column name holds letters, digits, '_' and '.'");
    return L"\"" + std::wstring(name) + L"\"";
}

// The user query's words, with "quoted phrases" kept whole.
std::vector<std::wstring> user_terms(std::wstring_view query)
{
    std::vector<std::wstring> terms;
    std::size_t i = 0;
    while (i < query.size())
    {
        while (i < query.size() && std::iswspace(query[i]))
            ++i;
        if (i == query.size())
            break;
        std::wstring term;
        if (query[i] == L'"')
        {
            const std::size_t close = query.find(L'"', i + 1);
            term = query.substr(i + 1, (close == std::wstring_view::npos ? query.size() : close) - i - 1);
            i = close == std::wstring_view::npos ? query.size() : close + 1;
        }
        else
        {
            while (i < query.size() && !std::iswspace(query[i]))
                term += query[i++];
        }
        std::wstring clean;
        for (wchar_t c : trim(term))
        {
            if (c == L'"')
                continue;
            clean += c;
            if (c == L'\'')
                clean += L'\'';
        }
        if (!clean.empty())
            terms.push_back(std::move(clean));
    }
    return terms;
}
} // namespace

std::wstring generate_sql(const query_helper_settings& settings, std::wstring_view user_query)
{
    std::wstring sql = L"SELECT ";
    if (settings.max_results > 0)
        sql += L"TOP " + std::to_wstring(settings.max_results) + L" ";
    const std::wstring_view columns = settings.select_columns.empty() ? std::wstring_view(L"System.ItemUrl") : settings.select_columns;
    bool first = true;
    for (auto column : split_list(columns))
    {
        sql += (first ? L"" : L", ") + quoted_column(column);
        first = false;
    }
    sql += L" FROM \"SystemIndex\"";

    // The user query becomes one full-text group; "*" and an empty query select everything.
    std::wstring predicate;
    const std::wstring_view query = trim(user_query);
    if (!query.empty() && query != L"*")
    {
        std::vector<std::wstring> targets;
        for (auto property : split_list(settings.content_properties))
            if (!property.empty())
                targets.push_back(quoted_column(property));
        if (targets.empty())
            targets.push_back(L"*");
        const std::wstring locale = std::to_wstring(settings.content_locale);
        std::wstring group;
        for (const auto& term : user_terms(query))
        {
            const bool prefix = settings.term_expansion == SEARCH_TERM_PREFIX_ALL && term.back() != L'*';
            std::wstring alternatives;
            for (const auto& target : targets)
                alternatives += (alternatives.empty() ? L"" : L" OR ") + (L"CONTAINS(" + target + L",'\"" + term +
                                                                          (prefix ? L"*" : L"") + L"\"'," + locale + L")");
            if (targets.size() > 1)
                alternatives = L"(" + alternatives + L")";
            group += (group.empty() ? L"" : L" AND ") + alternatives;
        }
        if (!group.empty())
            predicate = L"(" + group + L")";
    }
    std::wstring_view restrictions = trim(settings.where_restrictions);
    if (predicate.empty())
    {
        // Nothing to join the restriction to: its leading AND or OR goes.
        for (std::wstring_view word : {std::wstring_view(L"AND"), std::wstring_view(L"OR")})
            if (restrictions.size() > word.size() && CompareStringOrdinal(restrictions.data(), static_cast<int>(word.size()), word.data(),
                                                                          static_cast<int>(word.size()), TRUE) == CSTR_EQUAL &&
                (std::iswspace(restrictions[word.size()]) || restrictions[word.size()] == L'('))
                restrictions = trim(restrictions.substr(word.size()));
        if (!restrictions.empty())
            sql += L" WHERE " + std::wstring(restrictions);
    }
    else
    {
        sql += L" WHERE " + predicate;
        if (!restrictions.empty())
            sql += L" " + std::wstring(restrictions);
    }

    if (!trim(settings.sorting).empty())
    {
        sql += L" ORDER BY ";
        first = true;
        for (auto key : split_list(settings.sorting))
        {
            std::wstring_view name = key;
            std::wstring_view direction;
            const std::size_t space = key.find_last_of(L" \t");
            if (space != std::wstring_view::npos)
            {
                const std::wstring_view last = key.substr(space + 1);
                if (CompareStringOrdinal(last.data(), static_cast<int>(last.size()), L"ASC", 3, TRUE) == CSTR_EQUAL)
                    direction = L"ASC";
                else if (CompareStringOrdinal(last.data(), static_cast<int>(last.size()), L"DESC", 4, TRUE) == CSTR_EQUAL)
                    direction = L"DESC";
                if (!direction.empty())
                    name = trim(key.substr(0, space));
            }
            sql += (first ? L"" : L", ") + quoted_column(name) + (direction.empty() ? L"" : L" " + std::wstring(direction));
            first = false;
        }
    }
    return sql;
}

namespace
{
class query_helper final : public standin_object<query_helper, ISearchQueryHelper>
{
public:
    explicit query_helper(std::shared_ptr<index_data> index) : index_(std::move(index))
    {
        settings_.content_locale = LOWORD(reinterpret_cast<ULONG_PTR>(GetKeyboardLayout(0)));
        settings_.keyword_locale = GetUserDefaultLCID();
    }

    STDMETHODIMP get_ConnectionString(LPWSTR* value) noexcept override { return put_task_string(connection_string, value); }

    STDMETHODIMP put_QueryContentLocale(LCID lcid) noexcept override { return set([&] { settings_.content_locale = lcid; }); }
    STDMETHODIMP get_QueryContentLocale(LCID* lcid) noexcept override { return get(lcid, [&] { return settings_.content_locale; }); }
    STDMETHODIMP put_QueryKeywordLocale(LCID lcid) noexcept override { return set([&] { settings_.keyword_locale = lcid; }); }
    STDMETHODIMP get_QueryKeywordLocale(LCID* lcid) noexcept override { return get(lcid, [&] { return settings_.keyword_locale; }); }

    STDMETHODIMP put_QueryTermExpansion(SEARCH_TERM_EXPANSION expansion) noexcept override
    {
        if (expansion < SEARCH_TERM_NO_EXPANSION || expansion > SEARCH_TERM_STEM_ALL)
            return E_INVALIDARG;
        return set([&] { settings_.term_expansion = expansion; });
    }
    STDMETHODIMP get_QueryTermExpansion(SEARCH_TERM_EXPANSION* expansion) noexcept override
    {
        return get(expansion, [&] { return static_cast<SEARCH_TERM_EXPANSION>(settings_.term_expansion); });
    }
    STDMETHODIMP put_QuerySyntax(SEARCH_QUERY_SYNTAX syntax) noexcept override
    {
        if (syntax < SEARCH_NO_QUERY_SYNTAX || syntax > SEARCH_NATURAL_QUERY_SYNTAX)
            return E_INVALIDARG;
        return set([&] { settings_.query_syntax = syntax; });
    }
    STDMETHODIMP get_QuerySyntax(SEARCH_QUERY_SYNTAX* syntax) noexcept override
    {
        return get(syntax, [&] { return static_cast<SEARCH_QUERY_SYNTAX>(settings_.query_syntax); });
    }

    STDMETHODIMP put_QueryContentProperties(LPCWSTR value) noexcept override
    {
        return set_text(nullptr, value, settings_.content_properties);
    }
    STDMETHODIMP get_QueryContentProperties(LPWSTR* value) noexcept override { return get_text(settings_.content_properties, value); }
    STDMETHODIMP put_QuerySelectColumns(LPCWSTR value) noexcept override
    {
        return set_text("put_QuerySelectColumns", value, settings_.select_columns);
    }
    STDMETHODIMP get_QuerySelectColumns(LPWSTR* value) noexcept override { return get_text(settings_.select_columns, value); }
    STDMETHODIMP put_QueryWhereRestrictions(LPCWSTR value) noexcept override
    {
        return set_text("put_QueryWhereRestrictions", value, settings_.where_restrictions);
    }
    STDMETHODIMP get_QueryWhereRestrictions(LPWSTR* value) noexcept override { return get_text(settings_.where_restrictions, value); }
    STDMETHODIMP put_QuerySorting(LPCWSTR value) noexcept override { return set_text("put_QuerySorting", value, settings_.sorting); }
    STDMETHODIMP get_QuerySorting(LPWSTR* value) noexcept override { return get_text(settings_.sorting, value); }

    // Builds the statement; a malformed column list answers E_INVALIDARG.
    STDMETHODIMP GenerateSQLFromUserQuery(LPCWSTR query, LPWSTR* sql) noexcept override
    {
        if (!sql)
            return E_POINTER;
        *sql = nullptr;
        if (const HRESULT fault = index_->faults.check("GenerateSQLFromUserQuery"); FAILED(fault))
            return fault;
        return guarded([&] {
            std::wstring text;
            try
            {
                std::lock_guard lock(mutex_);
                text = generate_sql(settings_, query ? query : L"");
            }
            catch (const std::invalid_argument& e)
            {
                set_error_info(IID_ISearchQueryHelper, std::wstring(e.what(), e.what() + std::strlen(e.what())));
                return E_INVALIDARG;
            }
            return put_task_string(text, sql);
        });
    }

    STDMETHODIMP WriteProperties(ITEMID, DWORD, PROPERTYKEY*, SEARCH_COLUMN_PROPERTIES*, FILETIME*) noexcept override
    {
        return E_NOTIMPL;
    }

    STDMETHODIMP put_QueryMaxResults(LONG max_results) noexcept override
    {
        if (const HRESULT fault = index_->faults.check("put_QueryMaxResults"); FAILED(fault))
            return fault;
        return set([&] { settings_.max_results = max_results; });
    }
    STDMETHODIMP get_QueryMaxResults(LONG* max_results) noexcept override
    {
        return get(max_results, [&] { return static_cast<LONG>(settings_.max_results); });
    }

private:
    template <class Body>
    HRESULT set(Body&& body) noexcept
    {
        std::lock_guard lock(mutex_);
        body();
        return S_OK;
    }
    template <class T, class Body>
    HRESULT get(T* out, Body&& body) noexcept
    {
        if (!out)
            return E_POINTER;
        std::lock_guard lock(mutex_);
        *out = body();
        return S_OK;
    }
    // A null text resets the setting to its default (empty).
    HRESULT set_text(const char* step, LPCWSTR value, std::wstring& field) noexcept
    {
        if (step)
            if (const HRESULT fault = index_->faults.check(step); FAILED(fault))
                return fault;
        return guarded([&] {
            std::lock_guard lock(mutex_);
            field = value ? value : L"";
            return S_OK;
        });
    }
    HRESULT get_text(const std::wstring& field, LPWSTR* out) noexcept
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return guarded([&] {
            std::wstring copy;
            {
                std::lock_guard lock(mutex_);
                copy = field;
            }
            return put_task_string(copy, out);
        });
    }

    std::shared_ptr<index_data> index_;
    std::mutex mutex_;
    query_helper_settings settings_;
};

class catalog_manager final : public standin_object<catalog_manager, ISearchCatalogManager>
{
public:
    explicit catalog_manager(std::shared_ptr<index_data> index) : index_(std::move(index)) {}

    STDMETHODIMP get_Name(LPWSTR* name) noexcept override { return put_task_string(search_system_index_catalog, name); }
    STDMETHODIMP GetParameter(LPCWSTR, PROPVARIANT** value) noexcept override
    {
        if (value)
            *value = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetParameter(LPCWSTR, PROPVARIANT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetCatalogStatus(CatalogStatus* status, CatalogPausedReason* reason) noexcept override
    {
        if (!status || !reason)
            return E_POINTER;
        *status = CATALOG_STATUS_IDLE;
        *reason = CATALOG_PAUSED_REASON_NONE;
        return S_OK;
    }
    STDMETHODIMP Reset() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Reindex() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ReindexMatchingURLs(LPCWSTR) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ReindexSearchRoot(LPCWSTR) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_ConnectTimeout(DWORD seconds) noexcept override
    {
        connect_timeout_ = seconds;
        return S_OK;
    }
    STDMETHODIMP get_ConnectTimeout(DWORD* seconds) noexcept override
    {
        if (!seconds)
            return E_POINTER;
        *seconds = connect_timeout_;
        return S_OK;
    }
    STDMETHODIMP put_DataTimeout(DWORD seconds) noexcept override
    {
        data_timeout_ = seconds;
        return S_OK;
    }
    STDMETHODIMP get_DataTimeout(DWORD* seconds) noexcept override
    {
        if (!seconds)
            return E_POINTER;
        *seconds = data_timeout_;
        return S_OK;
    }
    STDMETHODIMP NumberOfItems(LONG* count) noexcept override
    {
        if (!count)
            return E_POINTER;
        *count = static_cast<LONG>(index_->items.size());
        return S_OK;
    }
    STDMETHODIMP NumberOfItemsToIndex(LONG* incremental, LONG* notifications, LONG* high_priority) noexcept override
    {
        if (!incremental || !notifications || !high_priority)
            return E_POINTER;
        *incremental = *notifications = *high_priority = 0;
        return S_OK;
    }
    STDMETHODIMP URLBeingIndexed(LPWSTR* url) noexcept override { return put_task_string(L"", url); }
    STDMETHODIMP GetURLIndexingState(LPCWSTR, DWORD* state) noexcept override
    {
        if (state)
            *state = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetPersistentItemsChangedSink(ISearchPersistentItemsChangedSink** sink) noexcept override
    {
        if (sink)
            *sink = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP RegisterViewForNotification(LPCWSTR, ISearchViewChangedSink*, DWORD* cookie) noexcept override
    {
        if (cookie)
            *cookie = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetItemsChangedSink(ISearchNotifyInlineSite*, REFIID, void** ppv, GUID*, GUID*, DWORD*) noexcept override
    {
        if (ppv)
            *ppv = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP UnregisterViewForNotification(DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetExtensionClusion(LPCWSTR, BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP EnumerateExcludedExtensions(IEnumString** extensions) noexcept override
    {
        if (extensions)
            *extensions = nullptr;
        return E_NOTIMPL;
    }

    // A new helper for each call, as the indexer hands out.
    STDMETHODIMP GetQueryHelper(ISearchQueryHelper** helper) noexcept override
    {
        if (!helper)
            return E_POINTER;
        *helper = nullptr;
        if (const HRESULT fault = index_->faults.check("GetQueryHelper"); FAILED(fault))
            return fault;
        return query_helper::create_instance(IID_ISearchQueryHelper, reinterpret_cast<void**>(helper), index_);
    }

    STDMETHODIMP put_DiacriticSensitivity(BOOL sensitive) noexcept override
    {
        diacritic_sensitive_ = sensitive;
        return S_OK;
    }
    STDMETHODIMP get_DiacriticSensitivity(BOOL* sensitive) noexcept override
    {
        if (!sensitive)
            return E_POINTER;
        *sensitive = diacritic_sensitive_;
        return S_OK;
    }
    STDMETHODIMP GetCrawlScopeManager(ISearchCrawlScopeManager** manager) noexcept override
    {
        if (manager)
            *manager = nullptr;
        return E_NOTIMPL;
    }

private:
    std::shared_ptr<index_data> index_;
    std::atomic<DWORD> connect_timeout_{0};
    std::atomic<DWORD> data_timeout_{0};
    std::atomic<BOOL> diacritic_sensitive_{FALSE};
};

class search_manager final : public standin_object<search_manager, ISearchManager>
{
public:
    explicit search_manager(std::shared_ptr<index_data> index) : index_(std::move(index)) {}

    STDMETHODIMP GetIndexerVersionStr(LPWSTR* version) noexcept override { return put_task_string(L"7.0 (Velmora stand-in)", version); }
    STDMETHODIMP GetIndexerVersion(DWORD* major, DWORD* minor) noexcept override
    {
        if (!major || !minor)
            return E_POINTER;
        *major = 7;
        *minor = 0;
        return S_OK;
    }
    STDMETHODIMP GetParameter(LPCWSTR, PROPVARIANT** value) noexcept override
    {
        if (value)
            *value = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetParameter(LPCWSTR, const PROPVARIANT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_ProxyName(LPWSTR* name) noexcept override { return locked_text(proxy_name_, name); }
    STDMETHODIMP get_BypassList(LPWSTR* list) noexcept override { return locked_text(bypass_list_, list); }
    STDMETHODIMP SetProxy(PROXY_ACCESS use_proxy, BOOL local_bypass, DWORD port, LPCWSTR name, LPCWSTR bypass) noexcept override
    {
        return guarded([&] {
            std::lock_guard lock(mutex_);
            use_proxy_ = use_proxy;
            local_bypass_ = local_bypass;
            port_ = port;
            proxy_name_ = name ? name : L"";
            bypass_list_ = bypass ? bypass : L"";
            return S_OK;
        });
    }

    // Only the system index exists.
    STDMETHODIMP GetCatalog(LPCWSTR catalog, ISearchCatalogManager** manager) noexcept override
    {
        if (!manager)
            return E_POINTER;
        *manager = nullptr;
        if (!catalog)
            return E_INVALIDARG;
        if (const HRESULT fault = index_->faults.check("GetCatalog"); FAILED(fault))
            return fault;
        if (CompareStringOrdinal(catalog, -1, search_system_index_catalog, -1, TRUE) != CSTR_EQUAL)
            return E_INVALIDARG;
        return catalog_manager::create_instance(IID_ISearchCatalogManager, reinterpret_cast<void**>(manager), index_);
    }

    STDMETHODIMP get_UserAgent(LPWSTR* agent) noexcept override { return locked_text(user_agent_, agent); }
    STDMETHODIMP put_UserAgent(LPCWSTR agent) noexcept override
    {
        return guarded([&] {
            std::lock_guard lock(mutex_);
            user_agent_ = agent ? agent : L"";
            return S_OK;
        });
    }
    STDMETHODIMP get_UseProxy(PROXY_ACCESS* use_proxy) noexcept override
    {
        if (!use_proxy)
            return E_POINTER;
        std::lock_guard lock(mutex_);
        *use_proxy = use_proxy_;
        return S_OK;
    }
    STDMETHODIMP get_LocalBypass(BOOL* local_bypass) noexcept override
    {
        if (!local_bypass)
            return E_POINTER;
        std::lock_guard lock(mutex_);
        *local_bypass = local_bypass_;
        return S_OK;
    }
    STDMETHODIMP get_PortNumber(DWORD* port) noexcept override
    {
        if (!port)
            return E_POINTER;
        std::lock_guard lock(mutex_);
        *port = port_;
        return S_OK;
    }

private:
    HRESULT locked_text(const std::wstring& field, LPWSTR* out) noexcept
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return guarded([&] {
            std::lock_guard lock(mutex_);
            return put_task_string(field, out);
        });
    }

    std::shared_ptr<index_data> index_;
    std::mutex mutex_;
    PROXY_ACCESS use_proxy_ = PROXY_ACCESS_PRECONFIG;
    BOOL local_bypass_ = FALSE;
    DWORD port_ = 0;
    std::wstring proxy_name_, bypass_list_, user_agent_ = L"Velmora search stand-in";
};
} // namespace

HRESULT create_search_manager(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return guarded([&] {
        std::shared_ptr<index_data> index;
        if (const HRESULT hr = load_index_for_creation(IID_ISearchManager, "CreateSearchManager", index); FAILED(hr))
            return hr;
        return search_manager::create_instance(riid, ppv, std::move(index));
    });
}
} // namespace search_standin
