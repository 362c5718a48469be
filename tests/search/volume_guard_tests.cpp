// The unresponsive-volume guard with a simulated system: a clock the test moves, volumes that answer,
// fail or hang, a switch value and a debugger that collects the guard's lines. Only the 400 ms wait on a
// hanging probe is real time.

#include "base/log.h"
#include "base/raii.h"
#include "search/volume_guard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace
{
using namespace std::chrono_literals;

// Shared with the probe threads, which may outlive a test while they hang.
struct simulated_system
{
    // A hanging volume answers once `release` is set.
    enum class volume { answers, dead, hangs, throws };
    std::atomic<long long> now_ms{1'000'000};
    std::atomic<DWORD> switch_value{0};
    std::mutex mutex;
    std::map<std::wstring, volume> volumes;
    std::map<std::wstring, int> probes;
    std::vector<std::wstring> debug_lines;
    unique_handle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};

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
        environment.now = [system] { return volume_guard::clock::time_point(std::chrono::milliseconds(system->now_ms.load())); };
        environment.probe = [system](const std::wstring& root) {
            std::unique_lock lock(system->mutex);
            ++system->probes[root];
            switch (system->volumes[root])
            {
            case simulated_system::volume::throws: throw std::runtime_error("probe failed");
            case simulated_system::volume::dead: return false;
            case simulated_system::volume::hangs: lock.unlock(); WaitForSingleObject(system->release.get(), INFINITE); return true;
            default: return true;
            }
        };
        environment.read_switch = [system] { return system->switch_value.load(); };
        environment.debug_output = [system](const wchar_t* text) {
            std::lock_guard lock(system->mutex);
            system->debug_lines.push_back(text);
        };
        guard_ = std::make_unique<volume_guard>(std::move(environment));
    }
    void TearDown() override { SetEvent(system_->release.get()); }

    // Milliseconds of real time that one call took.
    long long timed_call(const std::wstring& path, bool& answer)
    {
        const auto start = std::chrono::steady_clock::now();
        answer = guard_->is_responsive(path);
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    }

    std::shared_ptr<simulated_system> system_ = std::make_shared<simulated_system>();
    std::unique_ptr<volume_guard> guard_;
};

const std::wstring nas = L"\\\\nas\\photos\\";
const std::wstring active_line = L"[VLM] Unresponsive-volume guard active.\n";
const std::wstring disabled_line = L"[VLM] Unresponsive-volume guard DISABLED by DisableUnresponsiveVolumeGuard.\n";

// A path without a key is allowed at once, without a probe.
TEST_F(volume_guard_test, volume_key_names_the_drive_or_share)
{
    const struct { std::wstring path; std::optional<std::wstring> key; } rows[] = {
        {L"C:\\Users\\a.txt", L"C:\\"},
        {L"c:/users/a.txt", L"c:\\"},
        {L"\\\\?\\C:\\very\\long\\a.txt", L"C:\\"},
        {L"\\\\server\\share\\dir\\a.txt", L"\\\\server\\share\\"},
        {L"\\\\Server\\Share", L"\\\\Server\\Share\\"},
        {L"\\\\?\\UNC\\server\\share\\dir\\a.txt", L"\\\\server\\share\\"},
        {L"relative\\a.txt", std::nullopt},
        {L"C:relative.txt", std::nullopt},
        {L"1:\\x", std::nullopt},
        {L"\\\\server", std::nullopt},
        {L"\\\\server\\", std::nullopt},
        {L"\\\\\\share\\x", std::nullopt},
        {L"\\\\?\\UNC\\server", std::nullopt},
        {L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\x", std::nullopt},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(to_utf8(row.path));
        EXPECT_EQ(to_utf8(volume_key(row.path).value_or(L"(none)")), to_utf8(row.key.value_or(L"(none)")));
        if (!row.key)
        {
            EXPECT_TRUE(guard_->is_responsive(row.path));
        }
    }
    std::lock_guard lock(system_->mutex);
    EXPECT_TRUE(system_->probes.empty());
}

// A probe that ends without an answer (its promise broken) counts as a failure, without waiting out 400 ms.
TEST_F(volume_guard_test, remembers_an_answer_30_seconds_and_a_failure_60)
{
    system_->volumes[L"D:\\"] = simulated_system::volume::dead;
    system_->volumes[L"E:\\"] = simulated_system::volume::throws;
    const struct { std::wstring path; bool answer; std::chrono::seconds lifetime; } rows[] = {
        {L"C:\\a.txt", true, 30s}, {L"D:\\a.txt", false, 60s}, {L"E:\\a.txt", false, 60s}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(to_utf8(row.path));
        const std::wstring root = row.path.substr(0, 3);
        bool answer = !row.answer;
        EXPECT_LT(timed_call(row.path, answer), 390);
        EXPECT_EQ(answer, row.answer);
        system_->advance(row.lifetime - 1ms);
        EXPECT_EQ(guard_->is_responsive(row.path + L"x"), row.answer);
        EXPECT_EQ(system_->probe_count(root), 1);
        system_->advance(1ms);
        EXPECT_EQ(guard_->is_responsive(row.path), row.answer);
        EXPECT_EQ(system_->probe_count(root), 2);
    }
    // Keys keep their case: the same drive written in small letters is another volume.
    EXPECT_TRUE(guard_->is_responsive(L"c:/b.txt"));
    EXPECT_EQ(system_->probe_count(L"c:\\"), 1);
}

TEST_F(volume_guard_test, hanging_volume_costs_one_wait_per_60_seconds)
{
    system_->volumes[nas] = simulated_system::volume::hangs;
    const std::wstring path = nas + L"2024\\a.jpg";
    bool answer = true;
    long long elapsed = timed_call(path, answer);
    EXPECT_FALSE(answer);
    EXPECT_GE(elapsed, 390);
    EXPECT_LT(elapsed, 2000);

    // Answered from the table for a minute, for the long-path form of the share too: no wait, no probe.
    system_->advance(59s);
    elapsed = timed_call(L"\\\\?\\UNC\\nas\\photos\\b.jpg", answer);
    EXPECT_FALSE(answer);
    EXPECT_LT(elapsed, 100);

    // Refreshed: the same probe, still hanging, is waited on again.
    system_->advance(1s);
    elapsed = timed_call(path, answer);
    EXPECT_FALSE(answer);
    EXPECT_GE(elapsed, 390);
    EXPECT_EQ(system_->probe_count(nas), 1);

    // The share answers while the next refresh waits on the old probe: its answer is taken.
    system_->advance(60s);
    std::thread release([this] {
        std::this_thread::sleep_for(150ms);
        SetEvent(system_->release.get());
    });
    elapsed = timed_call(path, answer);
    release.join();
    EXPECT_TRUE(answer);
    EXPECT_LT(elapsed, 390);
    EXPECT_EQ(system_->probe_count(nas), 1);

    // That probe has finished, so the refresh 30 s later starts a new one.
    system_->advance(30s);
    EXPECT_TRUE(guard_->is_responsive(path));
    EXPECT_EQ(system_->probe_count(nas), 2);
}

TEST_F(volume_guard_test, concurrent_callers_on_a_hanging_volume_share_one_probe)
{
    system_->volumes[nas] = simulated_system::volume::hangs;
    std::atomic<int> answered_true{0};
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 8; ++i)
    {
        threads.emplace_back([this, i, &answered_true] {
            const std::wstring name = std::to_wstring(i) + L".jpg";
            answered_true += guard_->is_responsive(i % 2 ? L"\\\\?\\UNC\\nas\\photos\\long\\" + name : nas + name);
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(answered_true.load(), 0);
    EXPECT_EQ(system_->probe_count(nas), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4 * 400ms) << "waited side by side, not one after another";
}

TEST_F(volume_guard_test, switch_takes_effect_within_2_seconds_and_prints_each_change_once)
{
    system_->volumes[nas] = simulated_system::volume::hangs;
    const std::wstring path = nas + L"a.jpg";
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
    const wchar_t key[] = L"Software\\Quenbrook\\Velmora", name[] = L"DisableUnresponsiveVolumeGuard";
    const struct
    {
        const char* name;
        DWORD type; // REG_NONE: no value
        std::vector<BYTE> data;
        DWORD expected;
    } rows[] = {
        {"missing", REG_NONE, {}, 0},
        {"DWORD 7", REG_DWORD, {7, 0, 0, 0}, 7},
        {"binary of four bytes", REG_BINARY, {1, 0, 0, 0}, 0},
    };
    const auto read_switch = volume_guard::system_environment().read_switch;
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name);
        if (row.type != REG_NONE)
        {
            ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, name, row.type, row.data.data(), DWORD(row.data.size())),
                      ERROR_SUCCESS);
        }
        EXPECT_EQ(read_switch(), row.expected);
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name);
}
} // namespace
