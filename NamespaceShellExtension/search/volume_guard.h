#pragma once
// The unresponsive-volume guard. Search results and pins can point at shares and removable drives that
// no longer answer, and touching such a path from one of Explorer's threads blocks the view for the
// system's whole network time-out. The guard probes each volume on a thread of its own, waits for the
// probe 400 ms at most, and remembers the answer: 30 s for a volume that answered, 60 s for one that did
// not. A probe that hangs is waited on again at the next refresh instead of being joined by a second one.
//
// HKEY_CURRENT_USER\Software\Quenbrook\Velmora "DisableUnresponsiveVolumeGuard" (REG_DWORD, non-zero)
// turns the guard off; it is read at most once every 2 s.

#include <windows.h>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// True when `path` may be touched now: the guard is off, the path names no volume (a relative path, a
// bare server), or its volume answered. Any thread may ask. Raises std::system_error when a probe
// thread cannot be started.
bool is_volume_responsive(std::wstring_view path);

// The volume a path lies on: "C:\" for a drive path, "\\server\share\" for a UNC path, with or without
// the "\\?\" (and "\\?\UNC\") long-path prefix; nothing for any other path. The case is kept as written.
std::optional<std::wstring> volume_key(std::wstring_view path);

// The guard's clock: GetTickCount64, monotonic and a few nanoseconds to read, against a hundred and more
// for QueryPerformanceCounter under Wine. Its 10-16 ms steps are nothing against 2, 30 and 60 seconds.
struct tick_clock
{
    using rep = long long;
    using period = std::milli;
    using duration = std::chrono::milliseconds;
    using time_point = std::chrono::time_point<tick_clock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept { return time_point(duration(static_cast<rep>(GetTickCount64()))); }
};

class volume_guard
{
public:
    using clock = tick_clock;

    // What the guard asks of the system. Tests replace each part to simulate hanging volumes, time
    // passing and a debugger listening.
    struct environment
    {
        std::function<clock::time_point()> now;
        // Runs on the probe thread: true when the volume root answered.
        std::function<bool(const std::wstring& volume_root)> probe;
        // The switch value; 0 when it is missing or cannot be read.
        std::function<DWORD()> read_switch;
        std::function<void(const wchar_t* text)> debug_output;
    };
    // tick_clock, GetFileAttributesW, RegGetValueW, OutputDebugStringW.
    static environment system_environment();

    static constexpr std::chrono::milliseconds probe_wait{400};
    static constexpr std::chrono::seconds responsive_lifetime{30};
    static constexpr std::chrono::seconds unresponsive_lifetime{60};
    static constexpr std::chrono::seconds switch_lifetime{2};

    explicit volume_guard(environment environment);
    volume_guard(const volume_guard&) = delete;
    volume_guard& operator=(const volume_guard&) = delete;

    bool is_responsive(std::wstring_view path);

private:
    struct volume_state
    {
        bool known = false;
        bool responsive = false;
        clock::time_point checked_at{};
        // The probe started last while it may still be running; let go once its answer is recorded.
        std::shared_future<bool> probe;
    };
    // Looked up by a view of the key, so that a hit allocates nothing.
    struct key_hash
    {
        using is_transparent = void;
        std::size_t operator()(std::wstring_view key) const noexcept { return std::hash<std::wstring_view>{}(key); }
    };
    using volume_state_table = std::unordered_map<std::wstring, volume_state, key_hash, std::equal_to<>>;

    // The entry of `key`, made when there is none. Called under the table mutex.
    volume_state& state_of(std::wstring_view key);

    bool switched_off(clock::time_point now);
    std::shared_future<bool> start_probe(const std::wstring& volume_root);

    environment environment_;

    std::mutex switch_mutex_;
    bool switch_read_ = false;
    bool switched_off_ = false;
    clock::time_point switch_read_at_{};

    std::mutex table_mutex_;
    volume_state_table table_;
};

// The guard behind is_volume_responsive: one per process.
volume_guard& process_volume_guard();
