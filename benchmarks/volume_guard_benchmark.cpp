// The unresponsive-volume guard answering from its table (the case of every call but one per volume and
// half minute), against the least any such table costs: one hash-map lookup of a ready-made key under a
// mutex. The guard adds the switch check, the clock and working out the volume key of the path.

#include "benchmark_support.h"

#include "search/volume_guard.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>

namespace
{
volatile int sink;

struct bare_table
{
    std::mutex mutex;
    std::unordered_map<std::wstring, bool> entries;

    bool lookup(const std::wstring& key)
    {
        std::lock_guard lock(mutex);
        const auto found = entries.find(key);
        return found != entries.end() && found->second;
    }
};

void run(const char* name, volume_guard& guard, const std::wstring& path, const std::wstring& key)
{
    if (!guard.is_responsive(path))
    {
        std::printf("%s: the volume did not answer; nothing to measure\n", name);
        return;
    }
    bare_table table;
    for (int i = 0; i < 64; ++i)
        table.entries[L"\\\\server" + std::to_wstring(i) + L"\\share\\"] = true;
    table.entries[key] = true;

    constexpr int iterations = 200000;
    const double guard_ns =
        benchmark_support::nanoseconds_per_call([&] { sink = sink + guard.is_responsive(path); }, iterations);
    const double table_ns =
        benchmark_support::nanoseconds_per_call([&] { sink = sink + table.lookup(key); }, iterations);
    benchmark_support::print_ratio(name, guard_ns, "map lookup under a mutex", table_ns);
}
} // namespace

int main()
{
    // The process's own guard: the real clock, registry switch and GetFileAttributesW probe.
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring drive_path = std::wstring(windows) + L"\\Fonts\\some font file.ttf";
    run("is_volume_responsive, drive path (table hit)", process_volume_guard(), drive_path,
        drive_path.substr(0, 3));

    // A share that answers (the probe is simulated; there is no network here). Its key is too long for a
    // string's inline buffer: the guard must build it without allocating.
    auto environment = volume_guard::system_environment();
    environment.probe = [](const std::wstring&) { return true; };
    volume_guard share_guard(std::move(environment));
    run("volume_guard, long-path UNC path (table hit)", share_guard,
        L"\\\\?\\UNC\\fileserver\\photos\\2024\\holiday\\IMG_0001.jpg", L"\\\\fileserver\\photos\\");
    return 0;
}
