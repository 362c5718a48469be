// The unresponsive-volume guard with a simulated system: a clock the test moves, volumes that answer,
// fail or hang, a switch value and a debugger that collects the guard's lines. Only the 400 ms wait on a
// hanging probe is real time.

#include "diagnostics/log.h"
#include "search/volume_guard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace
{
using namespace std::chrono_literals;

// Shared with the probe threads, which may outlive a test while they hang.
struct simulated_system
{
    std::atomic<long long> now_ms{1'000'000};
    std::atomic<DWORD> switch_value{0};

    std::mutex mutex;
    std::map<std::wstring, int> probes;
    std::set<std::wstring> dead;
    std::set<std::wstring> hanging;
    std::set<std::wstring> throwing;
    std::vector<std::wstring> debug_lines;
    // Hanging probes wait for this; set when the test ends.
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool hanging_answer = true;

    ~simulated_system() { CloseHandle(release); }

    int probe_count(const std::wstring& root)
    {
        std::lock_guard lock(mutex);
        return probes[root];
    }
    std::vector<std::wstring> lines()
    {
        std::lock_guard lock(mutex);
        return debug_lines;
    }
    void advance(std::chrono::milliseconds by) { now_ms += by.count(); }
};

class volume_guard_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto system = system_;
        volume_guard::environment environment;
        environment.now = [system] {
            return volume_guard::clock::time_point(std::chrono::milliseconds(system->now_ms.load()));
        };
        environment.probe = [system](const std::wstring& root) {
            bool hang = false;
            {
                std::lock_guard lock(system->mutex);
                ++system->probes[root];
                if (system->throwing.count(root))
                    throw std::runtime_error("probe failed");
                if (system->dead.count(root))
                    return false;
                hang = system->hanging.count(root) != 0;
            }
            if (hang)
            {
                WaitForSingleObject(system->release, INFINITE);
                std::lock_guard lock(system->mutex);
                return system->hanging_answer;
            }
            return true;
        };
        environment.read_switch = [system] { return system->switch_value.load(); };
        environment.debug_output = [system](const wchar_t* text) {
            std::lock_guard lock(system->mutex);
            system->debug_lines.push_back(text);
        };
        guard_ = std::make_unique<volume_guard>(std::move(environment));
    }

    void TearDown() override { SetEvent(system_->release); }

    // Milliseconds of real time that one call took.
    long long timed_call(const std::wstring& path, bool& answer)
    {
        const auto start = std::chrono::steady_clock::now();
        answer = guard_->is_responsive(path);
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    }

    std::shared_ptr<simulated_system> system_ = std::make_shared<simulated_system>();
    std::unique_ptr<volume_guard> guard_;
};

const std::wstring active_line = L"[VLM] Unresponsive-volume guard active.\n";
const std::wstring disabled_line = L"[VLM] Unresponsive-volume guard DISABLED by DisableUnresponsiveVolumeGuard.\n";
} // namespace

TEST(volume_key, names_the_drive_or_share)
{
    struct row
    {
        std::wstring path;
        std::optional<std::wstring> key;
    };
    const row rows[] = {
        {L"C:\\Users\\a.txt", L"C:\\"},
        {L"c:/users/a.txt", L"c:\\"},
        {L"\\\\?\\C:\\very\\long\\a.txt", L"C:\\"},
        {L"D:\\", L"D:\\"},
        {L"\\\\server\\share\\dir\\a.txt", L"\\\\server\\share\\"},
        {L"\\\\Server\\Share", L"\\\\Server\\Share\\"},
        {L"\\\\?\\UNC\\server\\share\\dir\\a.txt", L"\\\\server\\share\\"},
        {L"\\\\?\\UNC\\server\\share", L"\\\\server\\share\\"},
        {L"relative\\a.txt", std::nullopt},
        {L"a.txt", std::nullopt},
        {L"", std::nullopt},
        {L"C:", std::nullopt},
        {L"C:relative.txt", std::nullopt},
        {L"1:\\x", std::nullopt},
        {L"\\\\server", std::nullopt},
        {L"\\\\server\\", std::nullopt},
        {L"\\\\\\share\\x", std::nullopt},
        {L"\\\\?\\", std::nullopt},
        {L"\\\\?\\UNC\\server", std::nullopt},
        {L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\x", std::nullopt},
        {L"\\x\\y", std::nullopt},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(to_utf8(r.path));
        const auto key = volume_key(r.path);
        EXPECT_EQ(to_utf8(key.value_or(L"(none)")), to_utf8(r.key.value_or(L"(none)")));
    }
}

TEST_F(volume_guard_test, remembers_an_answer_30_seconds_and_a_failure_60)
{
    system_->dead.insert(L"D:\\");
    struct row
    {
        const char* name;
        std::wstring path;
        std::wstring root;
        bool answer;
        std::chrono::seconds lifetime;
    };
    const row rows[] = {
        {"answering volume", L"C:\\a.txt", L"C:\\", true, 30s},
        {"failing volume", L"D:\\a.txt", L"D:\\", false, 60s},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(guard_->is_responsive(r.path), r.answer);
        EXPECT_EQ(system_->probe_count(r.root), 1);
        system_->advance(r.lifetime - 1ms);
        EXPECT_EQ(guard_->is_responsive(r.path + L"x"), r.answer);
        EXPECT_EQ(system_->probe_count(r.root), 1);
        system_->advance(1ms);
        EXPECT_EQ(guard_->is_responsive(r.path), r.answer);
        EXPECT_EQ(system_->probe_count(r.root), 2);
    }
    // Keys keep their case: the same drive written in small letters is another volume.
    EXPECT_TRUE(guard_->is_responsive(L"c:/b.txt"));
    EXPECT_EQ(system_->probe_count(L"c:\\"), 1);
}

TEST_F(volume_guard_test, paths_without_a_volume_are_allowed_without_a_probe)
{
    for (const std::wstring path : {L"relative\\a.txt", L"\\\\server", L"\\\\server\\", L""})
    {
        SCOPED_TRACE(to_utf8(path));
        EXPECT_TRUE(guard_->is_responsive(path));
    }
    std::lock_guard lock(system_->mutex);
    EXPECT_TRUE(system_->probes.empty());
}

TEST_F(volume_guard_test, hanging_volume_costs_one_wait_per_60_seconds)
{
    system_->hanging.insert(L"\\\\nas\\photos\\");
    const std::wstring path = L"\\\\nas\\photos\\2024\\a.jpg";
    bool answer = true;

    long long elapsed = timed_call(path, answer);
    EXPECT_FALSE(answer);
    EXPECT_GE(elapsed, 390);
    EXPECT_LT(elapsed, 2000);

    // Answered from the table for a minute: no wait, no second probe.
    system_->advance(59s);
    elapsed = timed_call(L"\\\\?\\UNC\\nas\\photos\\b.jpg", answer);
    EXPECT_FALSE(answer);
    EXPECT_LT(elapsed, 100);

    // Refreshed: the same probe, still hanging, is waited on again.
    system_->advance(1s);
    elapsed = timed_call(path, answer);
    EXPECT_FALSE(answer);
    EXPECT_GE(elapsed, 390);
    EXPECT_EQ(system_->probe_count(L"\\\\nas\\photos\\"), 1);

    // The share answers while the next refresh waits on the old probe: its answer is taken.
    system_->advance(60s);
    std::thread release([this] {
        std::this_thread::sleep_for(150ms);
        SetEvent(system_->release);
    });
    elapsed = timed_call(path, answer);
    release.join();
    EXPECT_TRUE(answer);
    EXPECT_LT(elapsed, 390);
    EXPECT_EQ(system_->probe_count(L"\\\\nas\\photos\\"), 1);

    // That probe has finished, so the refresh 30 s later starts a new one.
    system_->advance(30s);
    EXPECT_TRUE(guard_->is_responsive(path));
    EXPECT_EQ(system_->probe_count(L"\\\\nas\\photos\\"), 2);
}

TEST_F(volume_guard_test, concurrent_callers_on_a_hanging_volume_share_one_probe)
{
    system_->hanging.insert(L"\\\\nas\\photos\\");
    constexpr int callers = 8;
    std::atomic<int> answered_true{0};
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < callers; ++i)
    {
        threads.emplace_back([this, i, &answered_true] {
            const std::wstring path = i % 2 ? L"\\\\?\\UNC\\nas\\photos\\long\\" + std::to_wstring(i) + L".jpg"
                                             : L"\\\\nas\\photos\\" + std::to_wstring(i) + L".jpg";
            answered_true += guard_->is_responsive(path) ? 1 : 0;
        });
    }
    for (auto& thread : threads)
        thread.join();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(answered_true.load(), 0);
    EXPECT_EQ(system_->probe_count(L"\\\\nas\\photos\\"), 1);
    // Waited side by side, not one after another.
    EXPECT_LT(elapsed, 4 * 400);
}

TEST_F(volume_guard_test, probe_ending_without_an_answer_counts_as_unresponsive)
{
    system_->throwing.insert(L"E:\\");
    bool answer = true;
    const long long elapsed = timed_call(L"E:\\x", answer);
    EXPECT_FALSE(answer);
    // A broken promise is an answer too: no waiting out the 400 ms.
    EXPECT_LT(elapsed, 390);
    system_->advance(59s);
    EXPECT_FALSE(guard_->is_responsive(L"E:\\y"));
    EXPECT_EQ(system_->probe_count(L"E:\\"), 1);
}

TEST_F(volume_guard_test, switch_takes_effect_within_2_seconds_and_prints_each_change_once)
{
    system_->hanging.insert(L"\\\\nas\\photos\\");
    const std::wstring path = L"\\\\nas\\photos\\a.jpg";

    EXPECT_FALSE(guard_->is_responsive(path));
    EXPECT_EQ(system_->lines(), std::vector<std::wstring>{active_line});

    system_->switch_value = 1;
    system_->advance(1999ms);
    EXPECT_FALSE(guard_->is_responsive(path)) << "the switch was read again before 2 s";
    system_->advance(1ms);
    EXPECT_TRUE(guard_->is_responsive(path));
    EXPECT_TRUE(guard_->is_responsive(L"B:\\anything"));
    system_->advance(2s);
    system_->switch_value = 7;
    EXPECT_TRUE(guard_->is_responsive(path));
    EXPECT_EQ(system_->lines(), (std::vector<std::wstring>{active_line, disabled_line}));
    EXPECT_EQ(system_->probe_count(L"B:\\"), 0);

    system_->switch_value = 0;
    system_->advance(2s);
    EXPECT_FALSE(guard_->is_responsive(path));
    system_->advance(2s);
    EXPECT_FALSE(guard_->is_responsive(path));
    EXPECT_EQ(system_->lines(), (std::vector<std::wstring>{active_line, disabled_line, active_line}));
}

// The real switch reader: only a REG_DWORD counts, anything else reads as 0 (guard active).
TEST(volume_guard_switch, reads_only_a_dword_value)
{
    const wchar_t key[] = L"Software\\Quenbrook\\Velmora";
    const wchar_t name[] = L"DisableUnresponsiveVolumeGuard";
    struct row
    {
        const char* name;
        DWORD type; // REG_NONE: no value
        std::vector<BYTE> data;
        DWORD expected;
    };
    const row rows[] = {
        {"missing", REG_NONE, {}, 0},
        {"DWORD 0", REG_DWORD, {0, 0, 0, 0}, 0},
        {"DWORD 1", REG_DWORD, {1, 0, 0, 0}, 1},
        {"DWORD 7", REG_DWORD, {7, 0, 0, 0}, 7},
        {"string", REG_SZ, {'1', 0, 0, 0}, 0},
        {"QWORD", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"binary of four bytes", REG_BINARY, {1, 0, 0, 0}, 0},
    };
    const auto read_switch = volume_guard::system_environment().read_switch;
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name);
        if (r.type != REG_NONE)
        {
            ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, name, r.type, r.data.data(),
                                      static_cast<DWORD>(r.data.size())),
                      ERROR_SUCCESS);
        }
        EXPECT_EQ(read_switch(), r.expected);
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name);
}

// The process-wide guard with the system's own probe.
TEST(is_volume_responsive, probes_real_volumes)
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_TRUE(is_volume_responsive(std::wstring(windows) + L"\\win.ini"));
    // No such drive in the prefix: the probe fails at once.
    ASSERT_EQ(GetFileAttributesW(L"B:\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(is_volume_responsive(L"B:\\a.txt"));
    EXPECT_TRUE(is_volume_responsive(L"relative.txt"));
}
