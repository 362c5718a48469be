// Every allocation fails once. Each operation that Explorer drives runs from a fresh state with
// allocation N failing, for N = 1, 2, 3 ... until a run reaches no failure. At every N the operation
// must answer E_OUTOFMEMORY or its own failure code (never success with less than the full answer),
// release everything it made (the module's lock count back where it was), and leave nothing broken: the
// same operation run right after, without a failure, gives the full answer again.
//
// Allocations are counted on every thread, so a failure also lands on the search and waiting threads
// that an enumeration starts (see failing_allocator.h). A crash, std::terminate or a hang names the
// operation and the N it happened at. One table lists the operations; one loop drives each in turn.

#include "failing_allocator.h"

#include "namespace/folder_test_support.h"
#include "quick_pins/store_fixture.h"
#include "search_service/standin_client.h"
#include "commands/settings_app_recorder.h"
#include "support/child_process.h"
#include "support/drop_sources.h"

#include "commands/settings_app_launcher.h"
#include "commands/shell_launch.h"
#include "module/class_object_gate.h"
#include "namespace/folder_columns.h"
#include "namespace/path_cache.h"
#include "namespace/real_parent_cache.h"
#include "search/search_cache.h"
#include "search/volume_guard.h"
#include "settings/high_level_settings.h"

#include <propkey.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace folder_test;
namespace fs = std::filesystem;

// ---- What a run answered -------------------------------------------------------------------------

struct outcome
{
    HRESULT hr = S_OK;
    // The full answer, written by the test (uncounted): compared with the plain run's.
    std::string text;
    // Set by a run that found a half-made change (a file renamed although the call failed...).
    std::string broken;
};

template <class... Args>
void note(std::string& text, fmt::format_string<Args...> format, Args&&... args)
{
    failing_allocator::exempt exempt;
    text += fmt::format(format, std::forward<Args>(args)...);
    text += '\n';
}

std::string file_name_of(const wchar_t* path)
{
    failing_allocator::exempt exempt;
    return to_utf8(fs::path(path).filename().wstring());
}

// One operation: a fresh state, the run under test, and the undoing of what it made.
class operation
{
public:
    virtual ~operation() = default;
    virtual void prepare() {}
    // The state before the run that follows a failed one. By default fresh again; an operation whose
    // failure could leave state behind (a settings object, the search cache) keeps it here.
    virtual void prepare_again() { prepare(); }
    virtual outcome run() = 0;
    virtual void cleanup() {}
    // A failed run's answer that the operation allows besides E_OUTOFMEMORY and its failure codes.
    virtual bool allowed(const outcome& /*failed*/, const outcome& /*normal*/) const { return false; }
};

// ---- Crash, terminate and hang reports -------------------------------------------------------------

char current_step[512] = "(setting up)";
std::atomic<ULONGLONG> step_started{0};
constexpr ULONGLONG step_patience_ms = 60'000;

void set_step(const std::string& name, std::uint64_t n)
{
    failing_allocator::exempt exempt;
    std::snprintf(current_step, sizeof(current_step), "%s, allocation %llu failing", name.c_str(),
                  static_cast<unsigned long long>(n));
    step_started = GetTickCount64();
}

LONG WINAPI report_crash(EXCEPTION_POINTERS* exception)
{
    std::fprintf(stderr, "\nCRASH (exception 0x%08lX) during %s\n", exception->ExceptionRecord->ExceptionCode,
                 current_step);
    std::fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

void install_reporters()
{
    SetUnhandledExceptionFilter(report_crash);
    std::set_terminate([] {
        std::fprintf(stderr, "\nstd::terminate during %s\n", current_step);
        std::fflush(stderr);
        std::abort();
    });
    // A run that never ends (an enumeration waiting for a search nobody runs) ends the process instead.
    std::thread([] {
        failing_allocator::exempt exempt;
        for (;;)
        {
            Sleep(1000);
            const ULONGLONG started = step_started.load();
            if (started && GetTickCount64() - started > step_patience_ms)
            {
                std::fprintf(stderr, "\nHANG (over %llu s) during %s\n", step_patience_ms / 1000, current_step);
                std::fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }
    }).detach();
}

// ---- Task memory -----------------------------------------------------------------------------------

// Counts the blocks of the COM task allocator (identifiers, names handed to the shell) that are alive,
// so that a run that fails half-way can be seen to free what it allocated.
class task_memory_spy final : public IMallocSpy
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return size; }
    STDMETHODIMP_(void*) PostAlloc(void* actual) override
    {
        live += actual ? 1 : 0;
        return actual;
    }
    STDMETHODIMP_(void*) PreFree(void* request, BOOL spyed) override
    {
        live -= request && spyed ? 1 : 0;
        return request;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* request, SIZE_T size, void** actual, BOOL spyed) override
    {
        reallocating_ = request && spyed;
        *actual = request;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* actual, BOOL) override
    {
        live += !reallocating_ && actual ? 1 : 0;
        return actual;
    }
    STDMETHODIMP_(void*) PreGetSize(void* request, BOOL) override { return request; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* request, BOOL) override { return request; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    std::atomic<long> live{0};

private:
    bool reallocating_ = false;
};

task_memory_spy task_memory;

// ---- The driver ----------------------------------------------------------------------------------

bool module_idle()
{
    for (int i = 0; i < 500 && the_module().lock_count() != 0; ++i)
        Sleep(10);
    return the_module().lock_count() == 0;
}

struct report
{
    std::string name;
    std::uint64_t points = 0;
    std::uint64_t on_other_threads = 0;
    std::map<std::string, int> answers;
};

std::vector<report> reports;

std::string describe(const outcome& result)
{
    return hex(result.hr) + (result.text.empty() ? std::string() : "\n" + result.text);
}

// Runs `op` plainly, then with allocation N failing for N = 1, 2, 3... Nothing of the module lives between
// operations (worker threads of the walk before give theirs back).
report drive(const std::string& name, operation& op, const std::vector<HRESULT>& failure_codes)
{
    report result;
    result.name = name;
    EXPECT_TRUE(module_idle()) << name << ": an object is alive before the operation";
    int faults = 0;
    const auto fault = [&](std::uint64_t n, const std::string& what) {
        ADD_FAILURE() << name << ", allocation " << n << " failing: " << what;
        return ++faults >= 3;
    };

    set_step(name, 0);
    op.prepare();
    failing_allocator::arm(0);
    const outcome normal = op.run();
    failing_allocator::disarm();
    op.cleanup();
    // The process's caches keep identifiers and folders by design; what stays after they are emptied leaked.
    path_cache_clear();
    clear_real_parents();
    const long task_blocks = task_memory.live;
    EXPECT_TRUE(normal.broken.empty()) << name << ": " << normal.broken;
    if (!test_support::environment_value(L"VELMORA_ALLOCATION_VERBOSE").empty())
        std::printf("%s answers %s\n", name.c_str(), describe(normal).c_str());
    EXPECT_TRUE(module_idle()) << name << ": an object is still alive after the plain run";

    for (std::uint64_t n = 1; faults < 3; ++n)
    {
        set_step(name, n);
        op.prepare();
        failing_allocator::arm(n);
        const outcome failed = op.run();
        failing_allocator::disarm();
        const bool reached = failing_allocator::failure_reached();
        const bool elsewhere = reached && failing_allocator::failed_thread() != GetCurrentThreadId();
        op.cleanup();
        if (!module_idle() && fault(n, "an object is still alive after the run"))
            break;
        path_cache_clear();
        clear_real_parents();
        if (task_memory.live > task_blocks &&
            fault(n, fmt::format("{} blocks of task memory more than after the plain run", task_memory.live - task_blocks)))
            break;
        if (!failed.broken.empty() && fault(n, failed.broken))
            break;
        if (!reached)
        {
            if (failed.hr != normal.hr || failed.text != normal.text)
                fault(n, "the run without a failure answered\n" + describe(failed) + "\ninstead of\n" + describe(normal));
            result.points = n - 1;
            break;
        }
        result.on_other_threads += elsewhere ? 1 : 0;
        ++result.answers[hex(failed.hr)];
        const bool full = failed.hr == normal.hr && failed.text == normal.text;
        const bool own_code = failed.hr == E_OUTOFMEMORY ||
                              std::find(failure_codes.begin(), failure_codes.end(), failed.hr) != failure_codes.end();
        if (!full && !op.allowed(failed, normal) &&
            (SUCCEEDED(failed.hr) ? fault(n, "success with less than the full answer:\n" + describe(failed) +
                                                 "\ninstead of\n" + describe(normal))
                                  : !own_code && fault(n, "answered " + hex(failed.hr))))
            break;

        set_step(name + " (again, no failure)", n);
        op.prepare_again();
        const outcome again = op.run();
        op.cleanup();
        if (again.hr != normal.hr || again.text != normal.text)
            if (fault(n, "the run after it answered\n" + describe(again) + "\ninstead of\n" + describe(normal)))
                break;
        if (!module_idle() && fault(n, "an object is still alive after the run after it"))
            break;
        if (n > 100'000 && fault(n, "the operation never completes"))
            break;
    }
    step_started = 0;
    return result;
}

// ---- The world the operations act on ---------------------------------------------------------------

const fs::path settings = test_support::settings_folder();

std::string namespace_json(const std::wstring& inbox)
{
    return R"({"version": "1.0", "folders": [
    {"name": "Ratings", "order": 1, "icon": "Content\\Icons\\Ratings.ico", "queries": [
        {"name": "★★★", "order": 1, "icon": "Content\\Icons\\Rating 3.ico",
         "query": "System.Rating >= 38 AND System.Rating <= 62", "action_type": "set_rating", "action_parameters": "3"},
        {"name": "$tags[0].name", "order": 2, "icon": "$tags[0].icon", "query": "System.Keywords = '$tags[0].name'",
         "action_type": "toggle_tags", "action_parameters": "$tags[0].name"},
        {"name": "Inbox", "order": 3, "target": )" +
           search_service_test::json_string(inbox) + R"(}]},
    {"name": "Tags", "order": 2, "icon": "Content\\Icons\\Tags.ico", "default_view": "details", "queries": []}]})";
}

constexpr char tags_json[] = R"({"version": "1.0", "tags": [
    {"name": "Favourites", "order": "1", "icon_not_tagged": "Content\\Icons\\Tag Yellow.ico",
     "icon_when_tagged": "Content\\Icons\\Tag Yellow Checked.ico"}]})";
constexpr char people_json[] = R"({"version": "1.0", "people": [{"name": "Ann Lee"}]})";

// The arguments of the starts the product hands to the shell (its routes are replaced: nothing starts).
std::mutex started_mutex;
std::vector<std::wstring> started;

HRESULT record_start(const std::wstring&, const std::wstring& parameters)
{
    failing_allocator::exempt exempt;
    std::lock_guard lock(started_mutex);
    started.push_back(parameters);
    return S_OK;
}

std::vector<std::wstring> take_starts()
{
    failing_allocator::exempt exempt;
    std::lock_guard lock(started_mutex);
    return std::exchange(started, {});
}

class world
{
public:
    world()
    {
        for (const auto* name : {L"a.jpg", L"b.jpg"})
        {
            results.push_back((scratch.path() / L"files" / name).wstring());
            test_support::write_file(results.back(), "x");
        }
        test_support::write_file(scratch.path() / L"drops" / L"dropped.jpg", "x");
        fs::create_directories(group());
        fs::create_directories(inbox());
        quick_pins_test::make_file(scratch.path() / L"files" / L"notes.txt");
        EXPECT_TRUE(write_shortcut((group() / L"1. a.jpg.lnk").wstring(), results[0]));
        EXPECT_TRUE(write_shortcut((group() / L"2. notes.txt.lnk").wstring(),
                                   (scratch.path() / L"files" / L"notes.txt").wstring()));
        quick_pins_test::remove_tree(quick_pins_test::published_folder());
        quick_pins_test::publish_groups({{u"Work", quick_pins_test::u16(group().wstring())},
                                         {u"Inbox", quick_pins_test::u16(inbox().wstring())}});

        std::string items;
        for (const auto& path : results)
            items += (items.empty() ? "" : ", ") + std::string("{\"path\": ") + search_service_test::json_string(path) +
                     ", \"rating\": 50, \"keywords\": [\"Favourites\"]}";
        index.emplace("{\"items\": [" + items + "]}");

        test_support::write_file(settings / L"Namespace.json", namespace_json(inbox().wstring()));
        test_support::write_file(settings / L"All Tags.json", tags_json);
        test_support::write_file(settings / L"All People.json", people_json);
        // Seeds the suite settings file, which the class-object operations touch.
        EXPECT_TRUE(high_level_settings::get_high_level_settings().is_app_enabled());
        routes = shell_launch_detail::replace_shell_routes({record_start, record_start});
        route_choice = settings_app_detail::replace_route_choice(
            []() noexcept { return settings_app_detail::launch_route::shell; });

        // The identifiers a plain walk finds, as Explorer would hold them.
        sortwell_root = root_id_list(CLSID_search_and_action_shell_folder);
        quick_pins_root = root_id_list(CLSID_quick_pins_shell_folder);
        const auto root = make_root(false);
        folder_item = find(root.get(), L"Ratings");
        folder_list = combine(sortwell_root.get(), folder_item.get());
        const auto ratings = make_folder(false, folder_list.get());
        search_item = find(ratings.get(), L"★★★");
        target_item = find(ratings.get(), L"Inbox");
        search_list = combine(folder_list.get(), search_item.get());
        const auto search = make_folder(false, search_list.get());
        result_item = find(search.get(), L"a.jpg");
        changing_result.reset(ILCloneFirst(result_item.get()));
        other_result_item = find(search.get(), L"b.jpg");
        const auto pins_root = make_root(true);
        group_item = find(pins_root.get(), L"Work");
        inbox_item = find(pins_root.get(), L"Inbox");
        group_list = combine(quick_pins_root.get(), group_item.get());
        const auto work = make_folder(true, group_list.get());
        pin_item = find(work.get(), L"a.jpg");
    }

    ~world()
    {
        shell_launch_detail::replace_shell_routes(routes);
        settings_app_detail::replace_route_choice(route_choice);
        quick_pins_test::remove_tree(quick_pins_test::published_folder());
        remove_user_configuration();
    }

    fs::path group() const { return scratch.path() / L"group"; }
    fs::path inbox() const { return scratch.path() / L"inbox"; }
    fs::path dropped() const { return scratch.path() / L"drops" / L"dropped.jpg"; }

    // The Settings app's starts that its stand-in recorded since the last call.
    std::vector<settings_app_test::settings_app_record> direct_starts()
    {
        auto all = app_starts.wait_for(direct_seen + 1, std::chrono::seconds(10));
        std::vector<settings_app_test::settings_app_record> fresh(all.begin() + std::min(direct_seen, all.size()), all.end());
        direct_seen = all.size();
        return fresh;
    }

    static unique_child_id find(IShellFolder* folder, const std::wstring& name)
    {
        for (auto& item : enumerate(folder))
            if (display_name(folder, item.get(), SHGDN_NORMAL) == name)
                return std::move(item);
        ADD_FAILURE() << "no item " << to_utf8(name);
        return {};
    }

    test_support::scratch_folder scratch{L"allocation-failures"};
    settings_app_test::settings_app_recorder app_starts;
    std::size_t direct_seen = 0;
    std::vector<std::wstring> results;
    std::optional<search_service_test::index_file> index;
    shell_launch_detail::shell_routes routes{};
    settings_app_detail::route_choice route_choice = nullptr;
    unique_absolute_id_list sortwell_root, quick_pins_root, folder_list, search_list, group_list;
    unique_child_id folder_item, search_item, target_item, result_item, other_result_item, group_item, inbox_item, pin_item;
    unique_child_id changing_result;
};

world* the_world = nullptr;

// ---- Operations on folders -------------------------------------------------------------------------

// The search cache without the saved search's entry: 30 other queries push it out.
void evict_searches()
{
    static int generation = 0;
    auto& cache = process_search_cache();
    for (std::size_t i = 0; i < search_cache::capacity; ++i)
    {
        const auto key = L"evicting " + std::to_wstring(++generation);
        cache.lookup(key);
        cache.fail(key);
    }
}

std::string describe_items(const std::vector<unique_child_id>& items)
{
    failing_allocator::exempt exempt;
    std::string text;
    for (const auto& item : items)
    {
        const auto* data = own_item_data(item.get());
        text += data ? fmt::format("{} {}\n", data->kind, to_utf8(field_view(data->path))) : "foreign\n";
    }
    return text;
}

std::string list_text(PCUIDLIST_RELATIVE list)
{
    failing_allocator::exempt exempt;
    if (!list)
        return "null";
    std::string text;
    for (auto* item = list; item->mkid.cb; item = ILNext(item))
    {
        const auto* data = own_item_data(reinterpret_cast<PCUITEMID_CHILD>(item));
        text += data ? fmt::format("[{} {}]", data->kind, to_utf8(field_view(data->path))) : "[foreign]";
    }
    return text;
}

// A fresh folder at `list` for every run, made and initialised outside the count, the path cache and
// the real parents empty.
class folder_operation : public operation
{
public:
    folder_operation(bool quick_pins, const unique_absolute_id_list& list) : quick_pins_(quick_pins), list_(list) {}
    void prepare() override
    {
        path_cache_clear();
        clear_real_parents();
        folder_ = make_folder(quick_pins_, list_.get());
    }
    void cleanup() override { folder_.reset(); }

protected:
    bool quick_pins_;
    const unique_absolute_id_list& list_;
    com_ptr<search_and_action_shell_folder> folder_;
};

class enumeration : public folder_operation
{
public:
    enum class cache_state
    {
        none,
        cached,
        evicted,
    };
    enumeration(bool quick_pins, const unique_absolute_id_list& list, cache_state cache = cache_state::none)
        : folder_operation(quick_pins, list), cache_(cache)
    {
        items_.reserve(64);
    }
    void prepare() override
    {
        folder_operation::prepare();
        if (cache_ != cache_state::none)
            evict_searches();
        if (cache_ == cache_state::cached)
            enumerate(folder_.get());
    }
    // After a failure the cache stays as the failed run left it; only the folder is new.
    void prepare_again() override { folder_operation::prepare(); }
    outcome run() override
    {
        items_.clear();
        com_ptr<IEnumIDList> enumerator;
        outcome result;
        result.hr = folder_->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, enumerator.put());
        for (HRESULT next = S_OK; SUCCEEDED(result.hr) && next == S_OK;)
        {
            PITEMID_CHILD item = nullptr;
            ULONG fetched = 0;
            next = enumerator->Next(1, &item, &fetched);
            if (FAILED(next))
                result.hr = next;
            else if (fetched == 1)
                items_.emplace_back(item);
        }
        result.text = describe_items(items_);
        failing_allocator::exempt exempt;
        items_.clear();
        return result;
    }
    // A search streams its rows to the view; one that fails ends the listing with the rows found so far,
    // and the next enumeration runs it again.
    bool allowed(const outcome& failed, const outcome& normal) const override
    {
        return cache_ != cache_state::none && failed.hr == S_OK && normal.text.starts_with(failed.text);
    }

private:
    cache_state cache_;
    std::vector<unique_child_id> items_;
};

// A second view of a saved search whose query another view's enumeration is running: its own enumeration
// waits for that search on a waiting thread. The first view's search runs during the count too.
class waiting_enumeration : public enumeration
{
public:
    explicit waiting_enumeration(const unique_absolute_id_list& list) : enumeration(false, list, cache_state::evicted) {}
    void prepare() override
    {
        enumeration::prepare();
        first_ = make_folder(false, list_.get());
        EXPECT_EQ(first_->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, running_.put()), S_OK);
    }
    void prepare_again() override { enumeration::prepare_again(); }
    void cleanup() override
    {
        // The first view reads its list to the end, as Explorer would.
        for (PITEMID_CHILD item = nullptr; running_ && running_->Next(1, &item, nullptr) == S_OK; item = nullptr)
            CoTaskMemFree(item);
        running_.reset();
        first_.reset();
        enumeration::cleanup();
    }

private:
    com_ptr<search_and_action_shell_folder> first_;
    com_ptr<IEnumIDList> running_;
};

// Any call on a fresh folder: `call` gives the answer and writes the text.
class folder_call : public folder_operation
{
public:
    using body = std::function<HRESULT(search_and_action_shell_folder&, std::string&)>;
    folder_call(bool quick_pins, const unique_absolute_id_list& list, body call)
        : folder_operation(quick_pins, list), call_(std::move(call))
    {
    }
    outcome run() override
    {
        outcome result;
        result.hr = call_(*folder_.get(), result.text);
        return result;
    }

private:
    body call_;
};

std::string strret_text(STRRET& name, PCUITEMID_CHILD child)
{
    failing_allocator::exempt exempt;
    unique_cotaskmem_string text;
    if (FAILED(StrRetToStrW(&name, child, text.put())) || !text)
        return "?";
    return to_utf8(text.get());
}

// Binds, then names the bound folder by its current list.
HRESULT bind_and_name(search_and_action_shell_folder& folder, PCUIDLIST_RELATIVE child, std::string& text)
{
    com_ptr<IPersistFolder2> bound;
    const HRESULT hr = folder.BindToObject(child, nullptr, IID_IPersistFolder2, bound.put_void());
    if (SUCCEEDED(hr))
    {
        unique_absolute_id_list current;
        const HRESULT got = bound->GetCurFolder(current.put());
        note(text, "{} {}", hex(got), list_text(current.get()));
    }
    return hr;
}

HRESULT parse_and_name(search_and_action_shell_folder& folder, const wchar_t* name, std::string& text)
{
    std::wstring copy;
    {
        failing_allocator::exempt exempt;
        copy = name;
    }
    unique_relative_id_list list;
    ULONG eaten = 0;
    const HRESULT hr = folder.ParseDisplayName(nullptr, nullptr, copy.data(), &eaten, list.put(), nullptr);
    note(text, "{} {}", eaten, list_text(list.get()));
    failing_allocator::exempt exempt;
    copy.clear();
    copy.shrink_to_fit();
    return hr;
}

HRESULT names_of(search_and_action_shell_folder& folder, PCUITEMID_CHILD child, std::string& text)
{
    for (const SHGDNF flags : {SHGDNF{SHGDN_NORMAL}, SHGDNF{SHGDN_INFOLDER}, SHGDNF{SHGDN_FORPARSING},
                               SHGDNF{SHGDN_INFOLDER | SHGDN_FORPARSING}, SHGDNF{SHGDN_FORADDRESSBAR}})
    {
        STRRET name{};
        if (const HRESULT hr = folder.GetDisplayNameOf(child, flags, &name); FAILED(hr))
            return hr;
        note(text, "{:x} {}", static_cast<unsigned>(flags), strret_text(name, child));
    }
    return S_OK;
}

HRESULT attributes_of(search_and_action_shell_folder& folder, PCUITEMID_CHILD child, std::string& text)
{
    SFGAOF attributes = SFGAO_CAPABILITYMASK | SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSTEM | SFGAO_STREAM;
    const HRESULT hr = folder.GetAttributesOf(1, &child, &attributes);
    note(text, "{:08X}", static_cast<unsigned>(attributes));
    return hr;
}

HRESULT details_of(search_and_action_shell_folder& folder, PCUITEMID_CHILD child, std::string& text)
{
    for (UINT column = 0; column < 6; ++column)
    {
        SHELLDETAILS details{};
        const HRESULT hr = folder.GetDetailsOf(child, column, &details);
        if (hr == E_OUTOFMEMORY)
            return hr;
        note(text, "{} {} {}", column, hex(hr), SUCCEEDED(hr) ? strret_text(details.str, child) : "");
    }
    for (const auto& key : {PKEY_Keywords, PKEY_Rating, PKEY_ItemNameDisplay, PKEY_DateModified})
    {
        VARIANT value;
        VariantInit(&value);
        const HRESULT hr = folder.GetDetailsEx(child, &key, &value);
        if (hr == E_OUTOFMEMORY)
            return hr;
        {
            failing_allocator::exempt exempt;
            VARIANT text_value;
            VariantInit(&text_value);
            const bool shown = SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&text_value, &value, VARIANT_ALPHABOOL, VT_BSTR));
            note(text, "{} {} {}", key.pid, hex(hr), shown ? to_utf8(text_value.bstrVal) : "");
            VariantClear(&text_value);
        }
        VariantClear(&value);
    }
    return S_OK;
}

HRESULT compare(search_and_action_shell_folder& folder, PCUITEMID_CHILD first, PCUITEMID_CHILD second,
                std::string& text)
{
    for (const LPARAM column : {0, 1, 2, 3})
    {
        const HRESULT hr = folder.CompareIDs(column, first, second);
        if (FAILED(hr))
            return hr;
        note(text, "{} {}", column, static_cast<short>(HRESULT_CODE(hr)));
    }
    return S_OK;
}

// Renames an item to `new_name`; the cleanup gives it back its old name through the folder.
class set_name : public folder_operation
{
public:
    set_name(bool quick_pins, const unique_absolute_id_list& list, const unique_child_id& item, std::wstring new_name,
             std::wstring old_name, fs::path new_file, fs::path old_file)
        : folder_operation(quick_pins, list), item_(item), new_name_(std::move(new_name)), old_name_(std::move(old_name)),
          new_file_(std::move(new_file)), old_file_(std::move(old_file))
    {
    }
    outcome run() override
    {
        outcome result;
        PITEMID_CHILD renamed = nullptr;
        result.hr = folder_->SetNameOf(nullptr, item_.get(), new_name_.c_str(), SHGDN_NORMAL, &renamed);
        failing_allocator::exempt exempt;
        renamed_.reset(renamed);
        result.text = list_text(renamed_.get());
        const bool moved = fs::exists(new_file_) && !fs::exists(old_file_);
        if (SUCCEEDED(result.hr) != moved)
            result.broken = fmt::format("answered {} but the file was {}", hex(result.hr), moved ? "renamed" : "not renamed");
        return result;
    }
    void cleanup() override
    {
        if (renamed_)
        {
            PITEMID_CHILD back = nullptr;
            EXPECT_EQ(hex(folder_->SetNameOf(nullptr, renamed_.get(), old_name_.c_str(), SHGDN_NORMAL, &back)), hex(S_OK));
            CoTaskMemFree(back);
            renamed_.reset();
        }
        if (fs::exists(new_file_) && !fs::exists(old_file_))
            fs::rename(new_file_, old_file_);
        folder_operation::cleanup();
    }

private:
    const unique_child_id& item_;
    std::wstring new_name_, old_name_;
    fs::path new_file_, old_file_;
    unique_child_id renamed_;
};

// ---- UI objects ------------------------------------------------------------------------------------

HRESULT ui_object(search_and_action_shell_folder& folder, PCUITEMID_CHILD child, REFIID riid, std::string& text)
{
    com_ptr<IUnknown> object;
    const HRESULT hr = folder.GetUIObjectOf(nullptr, 1, &child, riid, nullptr, object.put_void());
    if (SUCCEEDED(hr) && IsEqualIID(riid, IID_IExtractIconW))
    {
        com_ptr<IExtractIconW> icon;
        object.query_to(IID_IExtractIconW, icon.put_void());
        wchar_t location[MAX_PATH] = {};
        int index = 0;
        UINT flags = 0;
        const HRESULT got = icon->GetIconLocation(GIL_FORSHELL, location, MAX_PATH, &index, &flags);
        note(text, "{} {} {} {:x}", hex(got), file_name_of(location), index, flags);
        return got;
    }
    if (SUCCEEDED(hr) && IsEqualIID(riid, IID_IDataObject))
    {
        const auto data = object.try_query<IDataObject>();
        FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        const HRESULT got = data->GetData(&format, &medium);
        if (SUCCEEDED(got))
        {
            wchar_t first[MAX_PATH] = {};
            DragQueryFileW(static_cast<HDROP>(medium.hGlobal), 0, first, MAX_PATH);
            note(text, "{}", file_name_of(first));
            ReleaseStgMedium(&medium);
        }
        return got;
    }
    return hr;
}

std::string arguments_of(const std::wstring& start)
{
    failing_allocator::exempt exempt;
    return to_utf8(start);
}

// A menu for the item, filled into a popup, and its command of that verb invoked by offset.
HRESULT menu_command(search_and_action_shell_folder& folder, PCUITEMID_CHILD child, const char* verb, bool starts_app,
                     std::string& text)
{
    constexpr UINT first = 1, last = 0x7FFF;
    com_ptr<IContextMenu> menu;
    HRESULT hr = folder.GetUIObjectOf(nullptr, 1, &child, IID_IContextMenu, nullptr, menu.put_void());
    if (FAILED(hr))
        return hr;
    HMENU popup = CreatePopupMenu();
    hr = menu->QueryContextMenu(popup, 0, first, last, CMF_NORMAL);
    const int count = GetMenuItemCount(popup);
    UINT offset = ~0u;
    for (int i = 0; i < count && SUCCEEDED(hr); ++i)
    {
        const UINT id = GetMenuItemID(popup, i);
        char found[64] = {};
        if (id >= first && id <= last &&
            SUCCEEDED(menu->GetCommandString(id - first, GCS_VERBA, nullptr, found, sizeof(found))) &&
            lstrcmpiA(found, verb) == 0)
            offset = id - first;
    }
    DestroyMenu(popup);
    if (FAILED(hr))
        return hr;
    note(text, "{} items, {} at {}", count, verb, offset == ~0u ? "none" : "an offset");
    CMINVOKECOMMANDINFO invoke{};
    invoke.cbSize = sizeof(invoke);
    invoke.lpVerb = MAKEINTRESOURCEA(offset);
    invoke.nShow = SW_SHOWNORMAL;
    hr = menu->InvokeCommand(&invoke);
    auto starts = take_starts();
    failing_allocator::exempt exempt;
    for (const auto& start : starts)
        note(text, "started {}", arguments_of(start));
    // When the shell's way fails, the Settings app is started directly: its stand-in records that.
    if (starts_app && SUCCEEDED(hr) && starts.empty())
        for (const auto& record : the_world->direct_starts())
            note(text, "started {}", to_utf8(record.arguments));
    return hr;
}

// "copy" from a result's menu. After a command of the real menu, a watcher thread looks for the file
// for four seconds; the cleanup moves the file away, so that the watcher ends at its next look.
class result_menu_command : public folder_operation
{
public:
    explicit result_menu_command(world& w) : folder_operation(false, w.search_list), file_(w.results[0]), item_(w.result_item) {}
    ~result_menu_command() override { restore(); }
    void prepare() override
    {
        restore();
        folder_operation::prepare();
    }
    outcome run() override
    {
        outcome result;
        result.hr = menu_command(*folder_.get(), item_.get(), "copy", false, result.text);
        return result;
    }
    void cleanup() override
    {
        folder_operation::cleanup();
        fs::rename(file_, file_ + L".away");
    }
    void restore()
    {
        if (fs::exists(file_ + L".away"))
            fs::rename(file_ + L".away", file_);
    }

private:
    std::wstring file_;
    const unique_child_id& item_;
};

// A drop of the scratch file onto the item's drop target.
class drop : public folder_operation
{
public:
    drop(bool quick_pins, const unique_absolute_id_list& list, const unique_child_id& item)
        : folder_operation(quick_pins, list), item_(item)
    {
    }
    void prepare() override
    {
        folder_operation::prepare();
        data_ = test_support::file_data_object({the_world->dropped()});
        take_starts();
    }
    outcome run() override
    {
        outcome result;
        com_ptr<IDropTarget> target;
        PCUITEMID_CHILD child = item_.get();
        result.hr = folder_->GetUIObjectOf(nullptr, 1, &child, IID_IDropTarget, nullptr, target.put_void());
        if (FAILED(result.hr))
            return result;
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
        result.hr = target->DragEnter(data_.get(), MK_LBUTTON, {}, &effect);
        if (FAILED(result.hr))
            return result;
        note(result.text, "enter {:x}", effect);
        effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
        result.hr = target->Drop(data_.get(), MK_LBUTTON, {}, &effect);
        note(result.text, "drop {:x}", effect);
        failing_allocator::exempt exempt;
        for (const auto& start : take_starts())
        {
            // The job file named by the worker's start: its action and files.
            const auto job = from_utf8(arguments_of(start));
            rapidjson::Document document;
            const auto text = test_support::read_file(job);
            if (document.Parse(text.data(), text.size()).HasParseError() || !document.IsObject())
                result.broken = "the job file is not JSON: " + text;
            else
                note(result.text, "job {} {} {}", document["job"]["action_type"].GetString(),
                     document["job"]["action_parameters"].GetString(), document["files"].Size());
            std::error_code ec;
            fs::remove(job, ec);
        }
        for (const auto& entry : fs::directory_iterator(the_world->inbox()))
            note(result.text, "pinned {}", to_utf8(entry.path().filename().wstring()));
        return result;
    }
    void cleanup() override
    {
        // Wine's shell reads a new shortcut in the background for a moment.
        for (int attempt = 0; attempt < 100 && !fs::is_empty(the_world->inbox()); ++attempt)
        {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(the_world->inbox()))
                fs::remove(entry.path(), ec);
            if (ec)
                Sleep(10);
        }
        data_.reset();
        folder_operation::cleanup();
    }

private:
    const unique_child_id& item_;
    com_ptr<IDataObject> data_;
};

// ---- Module, settings, model and log ---------------------------------------------------------------

// DllGetClassObject through the gate, after the suite settings changed; or, with `create`, the factory's
// CreateInstance.
class class_object : public operation
{
public:
    class_object(const CLSID& clsid, bool create) : clsid_(clsid), create_(create) {}
    void prepare() override
    {
        if (create_)
        {
            EXPECT_EQ(gated_get_class_object(clsid_, IID_IClassFactory, factory_.put_void()), S_OK);
            return;
        }
        the_module().release_class_objects();
        static int generation = 0;
        test_support::touch_file(settings / L"High Level Settings.json", ++generation);
    }
    void prepare_again() override
    {
        if (create_)
            prepare();
        else
            the_module().release_class_objects();
    }
    outcome run() override
    {
        outcome result;
        result.hr = create_ ? factory_->CreateInstance(nullptr, IID_IShellFolder, folder_.put_void())
                            : gated_get_class_object(clsid_, IID_IClassFactory, factory_.put_void());
        return result;
    }
    void cleanup() override
    {
        folder_.reset();
        factory_.reset();
    }

private:
    CLSID clsid_;
    bool create_;
    com_ptr<IClassFactory> factory_;
    com_ptr<IShellFolder> folder_;
};

class initialize : public operation
{
public:
    initialize(bool quick_pins, const unique_absolute_id_list& list) : quick_pins_(quick_pins), list_(list) {}
    void prepare() override { folder_ = make_folder(quick_pins_, nullptr); }
    outcome run() override
    {
        outcome result;
        result.hr = folder_->Initialize(list_.get());
        failing_allocator::exempt exempt;
        for (const auto& name : folder_->names())
            note(result.text, "{}", to_utf8(name));
        note(result.text, "{}", to_utf8(folder_->group_path()));
        return result;
    }
    void cleanup() override { folder_.reset(); }

private:
    bool quick_pins_;
    const unique_absolute_id_list& list_;
    com_ptr<search_and_action_shell_folder> folder_;
};

// Internal calls that report running out of memory by throwing.
class throwing_call : public operation
{
public:
    using body = std::function<HRESULT(std::string&)>;
    explicit throwing_call(body call, std::function<void()> before = {}, std::string degraded = {})
        : call_(std::move(call)), before_(std::move(before)), degraded_(std::move(degraded))
    {
    }
    void prepare() override
    {
        if (before_)
            before_();
    }
    void prepare_again() override {}
    outcome run() override
    {
        outcome result;
        try
        {
            result.hr = call_(result.text);
        }
        catch (const std::bad_alloc&)
        {
            result.hr = E_OUTOFMEMORY;
        }
        catch (...)
        {
            result.hr = E_UNEXPECTED;
        }
        return result;
    }
    // A success that the call is allowed to give when memory runs out.
    bool allowed(const outcome& failed, const outcome&) const override
    {
        return !degraded_.empty() && failed.hr == S_OK && failed.text == degraded_;
    }

private:
    body call_;
    std::function<void()> before_;
    std::string degraded_;
};

// The first look at a volume: a fresh guard probes it on a thread of its own. The run after a failed one
// asks the same guard, which must not have taken the volume for one that does not answer.
class first_volume_probe : public throwing_call
{
public:
    first_volume_probe()
        : throwing_call([this](std::string& t) {
              try
              {
                  note(t, "{}", guard_->is_responsive(L"C:\\windows\\system32\\shell32.dll"));
              }
              catch (const std::system_error&)
              {
                  return E_FAIL;
              }
              return S_OK;
          })
    {
    }
    void prepare() override { guard_.emplace(volume_guard::system_environment()); }

private:
    std::optional<volume_guard> guard_;
};

// A settings file read by a new object of its class, as the folder reads them, listing what it holds.
template <class Settings, class List>
std::unique_ptr<operation> load(List list)
{
    return std::make_unique<throwing_call>([list](std::string& t) {
        Settings file(module_instance);
        if (!file.load(false))
            return E_FAIL;
        failing_allocator::exempt exempt;
        note(t, "{}", to_utf8(file.version()));
        list(file, t);
        return S_OK;
    });
}

std::string log_tail()
{
    const auto text = test_support::read_file(process_logger().file_path());
    return text.substr(text.size() > 200 ? text.size() - 200 : 0);
}

// ---- The table -------------------------------------------------------------------------------------

struct row
{
    std::string name;
    std::unique_ptr<operation> op;
    // The failure codes the operation may answer besides E_OUTOFMEMORY.
    std::vector<HRESULT> codes = {E_FAIL};
};

template <class T, class... Args>
std::unique_ptr<operation> make(Args&&... args)
{
    return std::make_unique<T>(std::forward<Args>(args)...);
}

// Every operation, in the order they run.
std::vector<row> operations(world& w)
{
    std::vector<row> rows;
    // A call on a fresh folder at `list`.
    const auto call = [&](std::string name, bool quick_pins, const unique_absolute_id_list& list, folder_call::body body) {
        rows.push_back({std::move(name), make<folder_call>(quick_pins, list, std::move(body))});
    };
    const auto object = [&](const char* name, bool quick_pins, const unique_absolute_id_list& list,
                            const unique_child_id& item, REFIID riid) {
        call(std::string("GetUIObjectOf: ") + name, quick_pins, list,
             [&item, riid](auto& f, auto& t) { return ui_object(f, item.get(), riid, t); });
    };
    using cache = enumeration::cache_state;
    const auto files = w.scratch.path() / L"files";

    // The module's entry and the folders' creation.
    rows.push_back({"DllGetClassObject Sortwell", make<class_object>(CLSID_search_and_action_shell_folder, false),
                    {CLASS_E_CLASSNOTAVAILABLE}});
    rows.push_back({"DllGetClassObject Quick pins", make<class_object>(CLSID_quick_pins_shell_folder, false),
                    {CLASS_E_CLASSNOTAVAILABLE}});
    rows.push_back({"CreateInstance Sortwell", make<class_object>(CLSID_search_and_action_shell_folder, true), {}});
    rows.push_back({"CreateInstance Quick pins", make<class_object>(CLSID_quick_pins_shell_folder, true), {}});
    rows.push_back({"Initialize at a saved search", make<initialize>(false, w.search_list), {}});
    rows.push_back({"Initialize at a pin group", make<initialize>(true, w.group_list), {}});

    // Enumerations.
    rows.push_back({"EnumObjects, Next: Sortwell root", make<enumeration>(false, w.sortwell_root)});
    rows.push_back({"EnumObjects, Next: organised folder", make<enumeration>(false, w.folder_list)});
    rows.push_back({"EnumObjects, Next: saved search, cached", make<enumeration>(false, w.search_list, cache::cached)});
    rows.push_back({"EnumObjects, Next: saved search, not cached", make<enumeration>(false, w.search_list, cache::evicted)});
    rows.push_back({"EnumObjects, Next: saved search, waiting for another view's search",
                    make<waiting_enumeration>(w.search_list)});
    rows.push_back({"EnumObjects, Next: Quick pins root", make<enumeration>(true, w.quick_pins_root)});
    rows.push_back({"EnumObjects, Next: pin group", make<enumeration>(true, w.group_list)});

    // Names, attributes, details and renaming.
    call("BindToObject: organised folder and saved search", false, w.sortwell_root, [&](auto& f, auto& t) {
        unique_relative_id_list both(reinterpret_cast<PIDLIST_RELATIVE>(
            ILCombine(reinterpret_cast<PCIDLIST_ABSOLUTE>(w.folder_item.get()), w.search_item.get())));
        return both ? bind_and_name(f, both.get(), t) : E_OUTOFMEMORY;
    });
    call("BindToObject: pin group", true, w.quick_pins_root,
         [&](auto& f, auto& t) { return bind_and_name(f, w.group_item.get(), t); });
    call("ParseDisplayName: folder and saved search", false, w.sortwell_root,
         [](auto& f, auto& t) { return parse_and_name(f, L"ratings\\★★★", t); });
    call("ParseDisplayName: pin group and pin", true, w.quick_pins_root, [](auto& f, auto& t) {
        return parse_and_name(f, L"::{EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}\\Work\\a.jpg", t);
    });
    call("GetDisplayNameOf: saved search", false, w.folder_list,
         [&](auto& f, auto& t) { return names_of(f, w.search_item.get(), t); });
    call("GetDisplayNameOf: result", false, w.search_list, [&](auto& f, auto& t) { return names_of(f, w.result_item.get(), t); });
    call("GetDisplayNameOf: pin group", true, w.quick_pins_root,
         [&](auto& f, auto& t) { return names_of(f, w.group_item.get(), t); });
    call("GetAttributesOf: result", false, w.search_list,
         [&](auto& f, auto& t) { return attributes_of(f, w.result_item.get(), t); });
    call("GetAttributesOf: pin group", true, w.quick_pins_root,
         [&](auto& f, auto& t) { return attributes_of(f, w.group_item.get(), t); });
    // The folder remembers the real parents of the identifiers asked about last; a file whose stamp
    // changed since then is parsed and bound afresh, which every run here makes it do.
    call("GetDetailsOf, GetDetailsEx: result, changed since last asked", false, w.search_list, [&](auto& f, auto& t) {
        static std::uint64_t generation = 0;
        own_item_data(w.changing_result.get())->stamp = ++generation;
        return details_of(f, w.changing_result.get(), t);
    });
    call("GetDetailsOf, GetDetailsEx: saved search", false, w.folder_list,
         [&](auto& f, auto& t) { return details_of(f, w.search_item.get(), t); });
    call("CompareIDs: results", false, w.search_list,
         [&](auto& f, auto& t) { return compare(f, w.result_item.get(), w.other_result_item.get(), t); });
    call("CompareIDs: saved search and target", false, w.folder_list,
         [&](auto& f, auto& t) { return compare(f, w.search_item.get(), w.target_item.get(), t); });
    rows.push_back({"SetNameOf: result", make<set_name>(false, w.search_list, w.result_item, L"a renamed.jpg", L"a.jpg",
                                                        files / L"a renamed.jpg", files / L"a.jpg")});
    rows.push_back({"SetNameOf: pin", make<set_name>(true, w.group_list, w.pin_item, L"a renamed", L"a.jpg",
                                                     w.group() / L"1. a renamed.lnk", w.group() / L"1. a.jpg.lnk")});

    // UI objects, menus and drops.
    object("organised folder, IExtractIconW", false, w.sortwell_root, w.folder_item, IID_IExtractIconW);
    object("organised folder, IDataObject", false, w.sortwell_root, w.folder_item, IID_IDataObject);
    object("saved search, IContextMenu", false, w.folder_list, w.search_item, IID_IContextMenu);
    object("saved search, IDropTarget", false, w.folder_list, w.search_item, IID_IDropTarget);
    object("saved search, IExtractIconW", false, w.folder_list, w.search_item, IID_IExtractIconW);
    object("result, IContextMenu", false, w.search_list, w.result_item, IID_IContextMenu);
    object("result, IDataObject", false, w.search_list, w.result_item, IID_IDataObject);
    object("result, IExtractIconW", false, w.search_list, w.result_item, IID_IExtractIconW);
    object("pin group, IContextMenu", true, w.quick_pins_root, w.group_item, IID_IContextMenu);
    object("pin group, IDataObject", true, w.quick_pins_root, w.group_item, IID_IDataObject);
    object("pin group, IDropTarget", true, w.quick_pins_root, w.group_item, IID_IDropTarget);
    object("pin group, IExtractIconW", true, w.quick_pins_root, w.group_item, IID_IExtractIconW);
    object("pin, IContextMenu", true, w.group_list, w.pin_item, IID_IContextMenu);
    call("GetUIObjectOf: two results, IContextMenu", false, w.search_list, [&](auto& f, auto&) {
        PCUITEMID_CHILD both[] = {w.result_item.get(), w.other_result_item.get()};
        com_ptr<IContextMenu> menu;
        return f.GetUIObjectOf(nullptr, 2, both, IID_IContextMenu, nullptr, menu.put_void());
    });
    call("CreateViewObject: IShellView of a saved search", false, w.search_list, [](auto& f, auto&) {
        com_ptr<IShellView> view;
        return f.CreateViewObject(nullptr, IID_IShellView, view.put_void());
    });
    call("Folder-item menu: QueryContextMenu, InvokeCommand Customize", false, w.folder_list,
         [&](auto& f, auto& t) { return menu_command(f, w.search_item.get(), "VLM.CustomizeSortwell", true, t); });
    rows.push_back({"Result menu: QueryContextMenu, InvokeCommand copy", make<result_menu_command>(w)});
    rows.push_back({"Drop onto a saved search", make<drop>(false, w.folder_list, w.search_item)});
    rows.push_back({"Drop onto a pin group", make<drop>(true, w.quick_pins_root, w.inbox_item)});

    // Settings, the Menuwright model and the log. The process's suite settings read the file again after
    // it changed; a failed read must not make them believe they are up to date.
    rows.push_back({"Load the suite settings", make<throwing_call>(
                                                   [](std::string& t) {
                                                       auto& file = high_level_settings::get_high_level_settings();
                                                       if (!file.load(false))
                                                           return E_FAIL;
                                                       failing_allocator::exempt exempt;
                                                       for (const auto& [id, app] : file.apps())
                                                           note(t, "{} {} {}", id, app.status, app.settings.size());
                                                       return S_OK;
                                                   },
                                                   [] {
                                                       static int generation = 100;
                                                       test_support::touch_file(settings / L"High Level Settings.json",
                                                                                ++generation);
                                                   })});
    rows.push_back({"Load the namespace configuration", load<namespace_settings::settings_file>([](auto& file, auto& t) {
                        for (const auto& folder : file.folders())
                            note(t, "{} {}", to_utf8(folder.name), folder.queries.size());
                    })});
    rows.push_back({"Load the tags configuration", load<all_tags_settings::settings_file>([](auto& file, auto& t) {
                        for (const auto& tag : file.tags())
                            note(t, "{}", to_utf8(tag.name));
                    })});
    rows.push_back({"Load the people configuration", load<all_people_settings::settings_file>([](auto& file, auto& t) {
                        for (const auto& person : file.people())
                            note(t, "{}", to_utf8(person.name));
                    })});
    rows.push_back({"Load the Menuwright model", make<throwing_call>([](std::string& t) {
                        const auto groups = load_pin_group_records();
                        failing_allocator::exempt exempt;
                        for (const auto& group : groups)
                            note(t, "{} {}", to_utf8(group.name), to_utf8(group.folder));
                        return S_OK;
                    }),
                    {}});
    rows.push_back({"Volume guard: first look at a volume", make<first_volume_probe>(), {}});
    // A line that cannot be made is dropped whole.
    rows.push_back({"Write a log line", make<throwing_call>(
                                            [](std::string& t) {
                                                static int line = 0;
                                                const int number = ++line;
                                                log_message(log_level::info, L"allocation failure test line {} ★", number);
                                                failing_allocator::exempt exempt;
                                                note(t, "{}", log_tail().ends_with(fmt::format("test line {} ★\n", number))
                                                                  ? "written"
                                                                  : "missing");
                                                return S_OK;
                                            },
                                            std::function<void()>{}, std::string("missing\n")),
                    {}});
    return rows;
}

TEST(allocation_failures, every_operation_answers_releases_and_recovers_at_every_failing_allocation)
{
    install_reporters();
    ASSERT_EQ(CoRegisterMallocSpy(&task_memory), S_OK);
    {
        world w;
        for (auto& row : operations(w))
        {
            const ULONGLONG started = GetTickCount64();
            the_world = &w;
            auto result = drive(row.name, *row.op, row.codes);
            std::string answers;
            for (const auto& [code, count] : result.answers)
                answers += fmt::format(" {} x{}", code, count);
            std::printf("%-72s %5llu allocation points (%llu on other threads) in %.1f s; answers:%s\n",
                        row.name.c_str(), static_cast<unsigned long long>(result.points),
                        static_cast<unsigned long long>(result.on_other_threads), (GetTickCount64() - started) / 1000.0,
                        answers.c_str());
            std::fflush(stdout);
            reports.push_back(std::move(result));
        }
        the_world = nullptr;
    }
    CoRevokeMallocSpy();
    EXPECT_EQ(the_module().lock_count(), 0) << "an object of the module is still alive";
    // The README's table.
    std::printf("\n| Operation | Allocation points | On other threads |\n|---|---|---|\n");
    for (const auto& report : reports)
        std::printf("| %s | %llu | %llu |\n", report.name.c_str(), static_cast<unsigned long long>(report.points),
                    static_cast<unsigned long long>(report.on_other_threads));
}
} // namespace
