// Every allocation fails once: each operation that Explorer drives, from a fresh state, with allocation N
// failing on any thread (failing_allocator.h) for N = 1, 2, 3 ... until a run reaches no failure; the
// README ("Every allocation fails once") says what each run must answer. A crash, std::terminate or a
// hang names the operation and its N. One table lists the operations; one loop drives each in turn.

#include "failing_allocator.h"

#include "namespace/folder_test_support.h"
#include "quick_pins/store_fixture.h"
#include "search_service/standin_client.h"
#include "commands/settings_app_recorder.h"
#include "support/child_process.h"
#include "support/drop_sources.h"
#include "support/task_memory_spy.h"

#include "commands/settings_app_launcher.h"
#include "commands/shell_launch.h"
#include "module/class_object_gate.h"
#include "namespace/folder_columns.h"
#include "items/path_cache.h"
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

// One operation: a fresh state, the run under test (its answer, and its text in the outcome), and the
// undoing of what it made. Operations run one at a time.
struct operation
{
    std::string name;
    std::function<HRESULT(outcome&)> run;
    std::function<void()> prepare = [] {};
    // The state before the run that follows a failed one. By default fresh again; an operation whose
    // failure could leave state behind (a settings object, the search cache) keeps it here.
    std::function<void()> prepare_again = {};
    std::function<void()> cleanup = [] {};
    // The failure codes the operation may answer besides E_OUTOFMEMORY.
    std::vector<HRESULT> codes = {E_FAIL};
    // A failed run's answer that the operation allows besides those.
    std::function<bool(const outcome& failed, const outcome& normal)> allowed = [](auto&, auto&) { return false; };

    outcome answer() const
    {
        outcome result;
        result.hr = run(result);
        return result;
    }
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

// Counts the blocks of the COM task allocator that are alive, so that a run that fails half-way can be
// seen to free what it allocated.
test_support::task_memory_spy task_memory;

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
report drive(const operation& op)
{
    const std::string& name = op.name;
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
    const outcome normal = op.answer();
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
        const outcome failed = op.answer();
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
                              std::find(op.codes.begin(), op.codes.end(), failed.hr) != op.codes.end();
        if (!full && !op.allowed(failed, normal) &&
            (SUCCEEDED(failed.hr) ? fault(n, "success with less than the full answer:\n" + describe(failed) +
                                                 "\ninstead of\n" + describe(normal))
                                  : !own_code && fault(n, "answered " + hex(failed.hr))))
            break;

        set_step(name + " (again, no failure)", n);
        (op.prepare_again ? op.prepare_again : op.prepare)();
        const outcome again = op.answer();
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
        return unique_child_id(ILCloneChild(find_item(folder, enumerate(folder), name)));
    }

    test_support::scratch_folder scratch{L"allocation-failures"};
    settings_app_test::settings_app_recorder app_starts;
    std::size_t direct_seen = 0;
    std::vector<std::wstring> results;
    std::optional<search_service_test::index_file> index;
    shell_launch_detail::shell_routes routes{};
    settings_app_detail::route_choice route_choice = nullptr;
    unique_absolute_id_list sortwell_root, quick_pins_root, folder_list, search_list, group_list;
    unique_child_id folder_item, search_item, result_item, other_result_item, group_item, inbox_item, pin_item;
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

// What the operation at hand made: the folder it calls, the enumeration's items, a factory and its object,
// a volume guard.
com_ptr<search_and_action_shell_folder> the_folder;
std::vector<unique_child_id> listed;
com_ptr<IClassFactory> the_factory;
com_ptr<IUnknown> the_object;
std::optional<volume_guard> the_guard;

using folder_body = std::function<HRESULT(search_and_action_shell_folder&, std::string&)>;

// A call on a fresh folder at `list`, made and initialised outside the count, the path cache and the
// real parents empty.
operation on_folder(std::string name, bool quick_pins, const unique_absolute_id_list& list, folder_body call)
{
    return {.name = std::move(name),
            .run = [call](outcome& result) { return call(*the_folder.get(), result.text); },
            .prepare =
                [quick_pins, &list] {
                    path_cache_clear();
                    clear_real_parents();
                    the_folder = make_folder(quick_pins, list.get());
                },
            .cleanup = [] { the_folder.reset(); }};
}

HRESULT list_all(search_and_action_shell_folder& folder, std::string& text)
{
    listed.clear();
    com_ptr<IEnumIDList> enumerator;
    HRESULT hr = folder.EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, enumerator.put());
    for (HRESULT next = S_OK; SUCCEEDED(hr) && next == S_OK;)
    {
        PITEMID_CHILD item = nullptr;
        ULONG fetched = 0;
        next = enumerator->Next(1, &item, &fetched);
        if (FAILED(next))
            hr = next;
        else if (fetched == 1)
            listed.emplace_back(item);
    }
    failing_allocator::exempt exempt;
    for (const auto& item : listed)
        note(text, "{}", list_text(item.get()));
    listed.clear();
    return hr;
}

enum class cache_state { none, cached, evicted };

operation enumeration(std::string name, bool quick_pins, const unique_absolute_id_list& list,
                      cache_state cache = cache_state::none)
{
    auto op = on_folder(std::move(name), quick_pins, list, list_all);
    if (cache == cache_state::none)
        return op;
    // After a failure the cache stays as the failed run left it; only the folder is new.
    op.prepare_again = op.prepare;
    op.prepare = [fresh = op.prepare, cache] {
        fresh();
        evict_searches();
        if (cache == cache_state::cached)
            enumerate(the_folder.get());
    };
    // A search streams its rows to the view; one that fails ends the listing with the rows found so far,
    // and the next enumeration runs it again.
    op.allowed = [](const outcome& failed, const outcome& normal) {
        return failed.hr == S_OK && normal.text.starts_with(failed.text);
    };
    return op;
}

// A second view of a saved search whose query another view's enumeration is running: its own enumeration
// waits for that search on a waiting thread. The first view's search runs during the count too.
operation waiting_enumeration(std::string name, const unique_absolute_id_list& list)
{
    static com_ptr<search_and_action_shell_folder> first;
    static com_ptr<IEnumIDList> running;
    auto op = enumeration(std::move(name), false, list, cache_state::evicted);
    op.prepare = [evicted = op.prepare, &list] {
        evicted();
        first = make_folder(false, list.get());
        EXPECT_EQ(first->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, running.put()), S_OK);
    };
    op.cleanup = [] {
        // The first view reads its list to the end, as Explorer would.
        for (PITEMID_CHILD item = nullptr; running && running->Next(1, &item, nullptr) == S_OK; item = nullptr)
            CoTaskMemFree(item);
        running.reset();
        first.reset();
        the_folder.reset();
    };
    return op;
}

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
operation set_name(std::string name, bool quick_pins, const unique_absolute_id_list& list, const unique_child_id& item,
                   std::wstring new_name, std::wstring old_name, fs::path new_file, fs::path old_file)
{
    static unique_child_id renamed;
    auto op = on_folder(std::move(name), quick_pins, list, {});
    op.run = [&item, new_name, new_file, old_file](outcome& result) {
        PITEMID_CHILD out = nullptr;
        const HRESULT hr = the_folder->SetNameOf(nullptr, item.get(), new_name.c_str(), SHGDN_NORMAL, &out);
        failing_allocator::exempt exempt;
        renamed.reset(out);
        result.text = list_text(renamed.get());
        const bool moved = fs::exists(new_file) && !fs::exists(old_file);
        if (SUCCEEDED(hr) != moved)
            result.broken = fmt::format("answered {} but the file was {}", hex(hr), moved ? "renamed" : "not renamed");
        return hr;
    };
    op.cleanup = [old_name, new_file, old_file] {
        if (renamed)
        {
            PITEMID_CHILD back = nullptr;
            EXPECT_EQ(hex(the_folder->SetNameOf(nullptr, renamed.get(), old_name.c_str(), SHGDN_NORMAL, &back)), hex(S_OK));
            CoTaskMemFree(back);
            renamed.reset();
        }
        if (fs::exists(new_file) && !fs::exists(old_file))
            fs::rename(new_file, old_file);
        the_folder.reset();
    };
    return op;
}

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
operation result_menu_copy(world& w)
{
    const std::wstring file = w.results[0], away = file + L".away";
    auto op = on_folder("Result menu: QueryContextMenu, InvokeCommand copy", false, w.search_list, [&w](auto& f, auto& t) {
        return menu_command(f, w.result_item.get(), "copy", false, t);
    });
    op.prepare = [fresh = op.prepare, file, away] {
        if (fs::exists(away))
            fs::rename(away, file);
        fresh();
    };
    op.cleanup = [file, away] {
        the_folder.reset();
        fs::rename(file, away);
    };
    return op;
}

// A drop of the scratch file onto the item's drop target.
operation drop(std::string name, bool quick_pins, const unique_absolute_id_list& list, const unique_child_id& item)
{
    static com_ptr<IDataObject> data;
    auto op = on_folder(std::move(name), quick_pins, list, {});
    op.prepare = [fresh = op.prepare] {
        fresh();
        data = test_support::file_data_object({the_world->dropped()});
        take_starts();
    };
    op.run = [&item](outcome& result) {
        com_ptr<IDropTarget> target;
        PCUITEMID_CHILD child = item.get();
        HRESULT hr = the_folder->GetUIObjectOf(nullptr, 1, &child, IID_IDropTarget, nullptr, target.put_void());
        if (FAILED(hr))
            return hr;
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
        hr = target->DragEnter(data.get(), MK_LBUTTON, {}, &effect);
        if (FAILED(hr))
            return hr;
        note(result.text, "enter {:x}", effect);
        effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
        hr = target->Drop(data.get(), MK_LBUTTON, {}, &effect);
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
        return hr;
    };
    op.cleanup = [] {
        // Wine's shell reads a new shortcut in the background for a moment.
        for (int attempt = 0; attempt < 100 && !fs::is_empty(the_world->inbox()); ++attempt)
        {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(the_world->inbox()))
                fs::remove(entry.path(), ec);
            if (ec)
                Sleep(10);
        }
        data.reset();
        the_folder.reset();
    };
    return op;
}

// ---- Module, settings, model and log ---------------------------------------------------------------

// DllGetClassObject through the gate, after the suite settings changed.
operation get_class_object(std::string name, const CLSID& clsid)
{
    return {.name = std::move(name),
            .run = [clsid](outcome&) { return gated_get_class_object(clsid, IID_IClassFactory, the_factory.put_void()); },
            .prepare =
                [] {
                    the_module().release_class_objects();
                    static int generation = 0;
                    test_support::touch_file(settings / L"High Level Settings.json", ++generation);
                },
            .prepare_again = [] { the_module().release_class_objects(); },
            .cleanup = [] { the_factory.reset(); },
            .codes = {CLASS_E_CLASSNOTAVAILABLE}};
}

operation create_instance(std::string name, const CLSID& clsid)
{
    return {.name = std::move(name),
            .run = [](outcome&) { return the_factory->CreateInstance(nullptr, IID_IShellFolder, the_object.put_void()); },
            .prepare = [clsid] { EXPECT_EQ(gated_get_class_object(clsid, IID_IClassFactory, the_factory.put_void()), S_OK); },
            .cleanup =
                [] {
                    the_object.reset();
                    the_factory.reset();
                },
            .codes = {}};
}

operation initialize(std::string name, bool quick_pins, const unique_absolute_id_list& list)
{
    return {.name = std::move(name),
            .run =
                [&list](outcome& result) {
                    const HRESULT hr = the_folder->Initialize(list.get());
                    failing_allocator::exempt exempt;
                    for (const auto& folder_name : the_folder->names())
                        note(result.text, "{}", to_utf8(folder_name));
                    note(result.text, "{}", to_utf8(the_folder->group_path()));
                    return hr;
                },
            .prepare = [quick_pins] { the_folder = make_folder(quick_pins, nullptr); },
            .cleanup = [] { the_folder.reset(); },
            .codes = {}};
}

// Internal calls that report running out of memory by throwing; the run after a failed one finds the
// state the failure left.
operation throwing(std::string name, std::function<HRESULT(std::string&)> call, std::vector<HRESULT> codes = {E_FAIL})
{
    return {.name = std::move(name),
            .run =
                [call](outcome& result) {
                    try
                    {
                        return call(result.text);
                    }
                    catch (const std::bad_alloc&)
                    {
                        return E_OUTOFMEMORY;
                    }
                    catch (...)
                    {
                        return E_UNEXPECTED;
                    }
                },
            .prepare_again = [] {},
            .codes = std::move(codes)};
}

// A settings file read by a new object of its class, as the folder reads them, listing what it holds.
template <class Settings, class List>
operation load(std::string name, List list)
{
    return throwing(std::move(name), [list](std::string& t) {
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

// Every operation, in the order they run.
std::vector<operation> operations(world& w)
{
    const auto object = [&](const char* name, bool quick_pins, const unique_absolute_id_list& list,
                            const unique_child_id& item, REFIID riid) {
        return on_folder(std::string("GetUIObjectOf: ") + name, quick_pins, list,
                         [&item, riid](auto& f, auto& t) { return ui_object(f, item.get(), riid, t); });
    };
    const auto files = w.scratch.path() / L"files";
    // A fresh guard probes a volume on a thread of its own; the run after a failed one asks the same
    // guard, which must not have taken the volume for one that does not answer.
    auto first_look = throwing("Volume guard: first look at a volume", [](std::string& t) {
        try
        {
            note(t, "{}", the_guard->is_responsive(L"C:\\windows\\system32\\shell32.dll"));
        }
        catch (const std::system_error&)
        {
            return E_FAIL;
        }
        return S_OK;
    }, {});
    first_look.prepare = [] { the_guard.emplace(volume_guard::system_environment()); };
    // A line that cannot be made is dropped whole.
    auto log_line = throwing("Write a log line", [](std::string& t) {
        static int line = 0;
        const int number = ++line;
        log_message(log_level::info, L"allocation failure test line {} ★", number);
        failing_allocator::exempt exempt;
        note(t, "{}", log_tail().ends_with(fmt::format("test line {} ★\n", number)) ? "written" : "missing");
        return S_OK;
    }, {});
    log_line.allowed = [](const outcome& failed, const outcome&) { return failed.hr == S_OK && failed.text == "missing\n"; };
    // The process's suite settings read the file again after it changed; a failed read must not make them
    // believe they are up to date.
    auto suite_settings = throwing("Load the suite settings", [](std::string& t) {
        auto& file = high_level_settings::get_high_level_settings();
        if (!file.load(false))
            return E_FAIL;
        failing_allocator::exempt exempt;
        for (const auto& [id, app] : file.apps())
            note(t, "{} {} {}", id, app.status, app.settings.size());
        return S_OK;
    });
    suite_settings.prepare = [] {
        static int generation = 100;
        test_support::touch_file(settings / L"High Level Settings.json", ++generation);
    };

    return {
             // The module's entry and the folders' creation.
             get_class_object("DllGetClassObject Sortwell", CLSID_search_and_action_shell_folder),
             get_class_object("DllGetClassObject Quick pins", CLSID_quick_pins_shell_folder),
             create_instance("CreateInstance Sortwell", CLSID_search_and_action_shell_folder),
             create_instance("CreateInstance Quick pins", CLSID_quick_pins_shell_folder),
             initialize("Initialize at a saved search", false, w.search_list),
             initialize("Initialize at a pin group", true, w.group_list),
             // Enumerations.
             enumeration("EnumObjects, Next: Sortwell root", false, w.sortwell_root),
             enumeration("EnumObjects, Next: organised folder", false, w.folder_list),
             enumeration("EnumObjects, Next: saved search, cached", false, w.search_list, cache_state::cached),
             enumeration("EnumObjects, Next: saved search, not cached", false, w.search_list, cache_state::evicted),
             waiting_enumeration("EnumObjects, Next: saved search, waiting for another view's search", w.search_list),
             enumeration("EnumObjects, Next: Quick pins root", true, w.quick_pins_root),
             enumeration("EnumObjects, Next: pin group", true, w.group_list),
             // Names, attributes, details and renaming.
             on_folder("BindToObject: organised folder and saved search", false, w.sortwell_root,
                       [&](auto& f, auto& t) {
                           unique_relative_id_list both(reinterpret_cast<PIDLIST_RELATIVE>(
                               ILCombine(reinterpret_cast<PCIDLIST_ABSOLUTE>(w.folder_item.get()), w.search_item.get())));
                           return both ? bind_and_name(f, both.get(), t) : E_OUTOFMEMORY;
                       }),
             on_folder("BindToObject: pin group", true, w.quick_pins_root,
                       [&](auto& f, auto& t) { return bind_and_name(f, w.group_item.get(), t); }),
             on_folder("ParseDisplayName: folder and saved search", false, w.sortwell_root,
                       [](auto& f, auto& t) { return parse_and_name(f, L"ratings\\★★★", t); }),
             on_folder("ParseDisplayName: pin group and pin", true, w.quick_pins_root,
                       [](auto& f, auto& t) {
                           return parse_and_name(f, L"::{EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}\\Work\\a.jpg", t);
                       }),
             on_folder("GetDisplayNameOf: saved search", false, w.folder_list,
                       [&](auto& f, auto& t) { return names_of(f, w.search_item.get(), t); }),
             on_folder("GetDisplayNameOf: result", false, w.search_list,
                       [&](auto& f, auto& t) { return names_of(f, w.result_item.get(), t); }),
             on_folder("GetDisplayNameOf: pin group", true, w.quick_pins_root,
                       [&](auto& f, auto& t) { return names_of(f, w.group_item.get(), t); }),
             on_folder("GetAttributesOf: result", false, w.search_list,
                       [&](auto& f, auto& t) { return attributes_of(f, w.result_item.get(), t); }),
             on_folder("GetAttributesOf: pin group", true, w.quick_pins_root,
                       [&](auto& f, auto& t) { return attributes_of(f, w.group_item.get(), t); }),
             // The folder remembers the real parents of the identifiers asked about last; a file whose stamp
             // changed since then is parsed and bound afresh, which every run here makes it do.
             on_folder("GetDetailsOf, GetDetailsEx: result, changed since last asked", false, w.search_list,
                       [&](auto& f, auto& t) {
                           static std::uint64_t generation = 0;
                           own_item_data(w.changing_result.get())->stamp = ++generation;
                           return details_of(f, w.changing_result.get(), t);
                       }),
             on_folder("GetDetailsOf, GetDetailsEx: saved search", false, w.folder_list,
                       [&](auto& f, auto& t) { return details_of(f, w.search_item.get(), t); }),
             on_folder("CompareIDs: results", false, w.search_list,
                       [&](auto& f, auto& t) { return compare(f, w.result_item.get(), w.other_result_item.get(), t); }),
             set_name("SetNameOf: result", false, w.search_list, w.result_item, L"a renamed.jpg", L"a.jpg",
                      files / L"a renamed.jpg", files / L"a.jpg"),
             set_name("SetNameOf: pin", true, w.group_list, w.pin_item, L"a renamed", L"a.jpg",
                      w.group() / L"1. a renamed.lnk", w.group() / L"1. a.jpg.lnk"),
             // UI objects, menus and drops.
             object("organised folder, IExtractIconW", false, w.sortwell_root, w.folder_item, IID_IExtractIconW),
             object("result, IDataObject", false, w.search_list, w.result_item, IID_IDataObject),
             object("pin, IContextMenu", true, w.group_list, w.pin_item, IID_IContextMenu),
             on_folder("GetUIObjectOf: two results, IContextMenu", false, w.search_list,
                       [&](auto& f, auto&) {
                           PCUITEMID_CHILD both[] = {w.result_item.get(), w.other_result_item.get()};
                           com_ptr<IContextMenu> menu;
                           return f.GetUIObjectOf(nullptr, 2, both, IID_IContextMenu, nullptr, menu.put_void());
                       }),
             on_folder("CreateViewObject: IShellView of a saved search", false, w.search_list,
                       [](auto& f, auto&) {
                           com_ptr<IShellView> view;
                           return f.CreateViewObject(nullptr, IID_IShellView, view.put_void());
                       }),
             on_folder("Folder-item menu: QueryContextMenu, InvokeCommand Customize", false, w.folder_list,
                       [&](auto& f, auto& t) { return menu_command(f, w.search_item.get(), "VLM.CustomizeSortwell", true, t); }),
             result_menu_copy(w),
             drop("Drop onto a saved search", false, w.folder_list, w.search_item),
             drop("Drop onto a pin group", true, w.quick_pins_root, w.inbox_item),
             // Settings, the Menuwright model and the log.
             suite_settings,
             load<namespace_settings::settings_file>("Load the namespace configuration",
                                                     [](auto& file, auto& t) {
                                                         for (const auto& folder : file.folders())
                                                             note(t, "{} {}", to_utf8(folder.name), folder.queries.size());
                                                     }),
             load<all_tags_settings::settings_file>("Load the tags configuration",
                                                    [](auto& file, auto& t) {
                                                        for (const auto& tag : file.tags())
                                                            note(t, "{}", to_utf8(tag.name));
                                                    }),
             load<all_people_settings::settings_file>("Load the people configuration",
                                                      [](auto& file, auto& t) {
                                                          for (const auto& person : file.people())
                                                              note(t, "{}", to_utf8(person.name));
                                                      }),
             throwing("Load the Menuwright model",
                      [](std::string& t) {
                          const auto groups = load_pin_group_records();
                          failing_allocator::exempt exempt;
                          for (const auto& group : groups)
                              note(t, "{} {}", to_utf8(group.name), to_utf8(group.folder));
                          return S_OK;
                      },
                      {}),
             first_look,
             log_line,
    };
}

TEST(allocation_failures, every_operation_answers_releases_and_recovers_at_every_failing_allocation)
{
    install_reporters();
    ASSERT_EQ(CoRegisterMallocSpy(&task_memory), S_OK);
    {
        world w;
        the_world = &w;
        listed.reserve(64);
        for (const auto& op : operations(w))
        {
            const ULONGLONG started = GetTickCount64();
            auto result = drive(op);
            std::string answers;
            for (const auto& [code, count] : result.answers)
                answers += fmt::format(" {} x{}", code, count);
            std::printf("%-72s %5llu allocation points (%llu on other threads) in %.1f s; answers:%s\n",
                        op.name.c_str(), static_cast<unsigned long long>(result.points),
                        static_cast<unsigned long long>(result.on_other_threads), (GetTickCount64() - started) / 1000.0,
                        answers.c_str());
            std::fflush(stdout);
            reports.push_back(std::move(result));
        }
        the_guard.reset();
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
