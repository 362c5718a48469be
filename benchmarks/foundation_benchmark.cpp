// The two costs every Explorer process pays most often in this DLL's foundation:
// - DllGetClassObject on an unchanged suite settings file, through the real export, against the work no
//   gate can avoid: one GetFileAttributesExW of the settings file and the registry read of the
//   installer-maintenance marker (no marker: the "Process" read fails and the gate goes on);
// - one log line, against one bare WriteFile of the same bytes to an append-only shared handle; and,
//   to show what the logger itself adds, against that WriteFile inside the cross-process append lock
//   (an exclusive one-byte LockFileEx far past the end of the file, then UnlockFileEx) that the logger
//   takes around every write. Under Wine each lock call is a wineserver round trip.

#include "benchmark_support.h"

#include "base/known_folders.h"
#include "base/log.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace
{
constexpr CLSID sortwell_clsid = {0x249ae234, 0x08df, 0x4686, {0xaa, 0xf3, 0x5d, 0x80, 0xa1, 0x54, 0x93, 0xbe}};
constexpr wchar_t maintenance_key[] = L"SOFTWARE\\Quenbrook\\Velmora\\InstallerMaintenance";

volatile LONG sink;

std::filesystem::path executable_folder()
{
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    return std::filesystem::path(path).parent_path();
}

bool benchmark_class_object_gate()
{
    HMODULE dll = LoadLibraryW((executable_folder() / L"Sortwell.NamespaceShellExtension.dll").c_str());
    if (!dll)
    {
        std::printf("cannot load the DLL: error %lu\n", GetLastError());
        return false;
    }
    using get_class_object_function = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    const auto get_class_object = reinterpret_cast<get_class_object_function>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));

    // The first call creates the suite settings object (seeding the file if it is missing) and the
    // cached class factory; every later call is the steady state measured here.
    IClassFactory* factory = nullptr;
    const HRESULT first = get_class_object(sortwell_clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (first != S_OK)
    {
        std::printf("DllGetClassObject answers 0x%08lX: is the Sortwell root switched off, or a marker set?\n",
                    static_cast<unsigned long>(first));
        FreeLibrary(dll);
        return false;
    }
    factory->Release();

    constexpr int iterations = 20000;
    const double gate_ns = benchmark_support::nanoseconds_per_call(
        [&] {
            IClassFactory* f = nullptr;
            get_class_object(sortwell_clsid, IID_IClassFactory, reinterpret_cast<void**>(&f));
            sink = sink + static_cast<LONG>(f->Release());
        },
        iterations);

    const std::wstring settings_path = (suite_data_folder() / L"Settings" / L"High Level Settings.json").wstring();
    const double floor_ns = benchmark_support::nanoseconds_per_call(
        [&] {
            WIN32_FILE_ATTRIBUTE_DATA data{};
            sink = sink + GetFileAttributesExW(settings_path.c_str(), GetFileExInfoStandard, &data);
            DWORD process = 0;
            DWORD size = sizeof(process);
            sink = sink + RegGetValueW(HKEY_LOCAL_MACHINE, maintenance_key, L"Process",
                                       RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &process, &size);
        },
        iterations);
    benchmark_support::print_ratio("DllGetClassObject + Release, unchanged settings", gate_ns,
                                   "GetFileAttributesExW + marker read", floor_ns);
    FreeLibrary(dll);
    return true;
}

bool benchmark_log_line()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const auto folder = std::filesystem::path(temp) / (L"velmora-foundation-benchmark-" +
                                                      std::to_wstring(GetCurrentProcessId()));
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const auto log_file = folder / L"log.log";
    const auto bare_file = folder / L"bare.log";

    // This process's logger writes to a file of its own, so the daily log is left alone.
    process_logger().open_file(log_file);
    if (!process_logger().is_open())
    {
        std::printf("cannot open %ls\n", log_file.c_str());
        return false;
    }
    HANDLE bare = CreateFileW(bare_file.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (bare == INVALID_HANDLE_VALUE)
    {
        std::printf("cannot open %ls\n", bare_file.c_str());
        return false;
    }
    HANDLE locked_handle = CreateFileW((folder / L"locked.log").c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (locked_handle == INVALID_HANDLE_VALUE)
    {
        std::printf("cannot open the locked baseline file\n");
        CloseHandle(bare);
        return false;
    }
    // A typical line: a method name, a failure and an HRESULT.
    const std::string line = log_detail::line_prefix(log_level::error) +
                             "GetDetailsOf: SHBindToParent failed with HRESULT 0x80070002\n";

    constexpr int iterations = 5000;
    const double log_ns = benchmark_support::nanoseconds_per_call(
        [&] { log_message(log_level::error, L"GetDetailsOf: SHBindToParent failed with HRESULT 0x{:X}", 0x80070002u); },
        iterations);
    const double write_ns = benchmark_support::nanoseconds_per_call(
        [&] {
            DWORD written = 0;
            WriteFile(bare, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            sink = sink + static_cast<LONG>(written);
        },
        iterations);
    const double locked_write_ns = benchmark_support::nanoseconds_per_call(
        [&] {
            OVERLAPPED at{};
            at.Offset = 0xFFFFFFFE;
            at.OffsetHigh = 0x7FFFFFFF;
            const BOOL locked = LockFileEx(locked_handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
            DWORD written = 0;
            WriteFile(locked_handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            if (locked)
                UnlockFileEx(locked_handle, 0, 1, 0, &at);
            sink = sink + static_cast<LONG>(written);
        },
        iterations);
    benchmark_support::print_ratio("log_message, one line", log_ns, "WriteFile of the same bytes", write_ns);
    benchmark_support::print_ratio("log_message, one line", log_ns, "the same WriteFile inside the append lock",
                                   locked_write_ns);

    CloseHandle(bare);
    CloseHandle(locked_handle);
    std::printf("(%zu bytes a line)\n", line.size());
    // The logger keeps its file open until exit; it was opened with delete sharing.
    std::filesystem::remove_all(folder, ec);
    return true;
}
} // namespace

int main()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool gate = benchmark_class_object_gate();
    const bool log = benchmark_log_line();
    CoUninitialize();
    return gate && log ? 0 : 1;
}
