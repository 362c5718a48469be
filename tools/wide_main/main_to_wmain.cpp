// The entry point of a wmain program where the C runtime starts `main` only (zig's mingw-w64 CRT, which
// ignores -municode). The wide arguments come from the same msvcrt routine the CRT's Unicode start-up
// calls, so the program sees exactly the arguments it would get through wmain.
#include <cstdlib>
#include <cwchar>

namespace {
struct StartupInfo {
    int new_mode;
};
}

extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expand_wildcards,
                              StartupInfo* startup_info);
int wmain(int argc, wchar_t** argv);

int main()
{
    int argc = 0;
    wchar_t** argv = nullptr;
    wchar_t** environment = nullptr;
    StartupInfo startup_info{0};
    if (__wgetmainargs(&argc, &argv, &environment, 0, &startup_info) < 0 || argv == nullptr) {
        return EXIT_FAILURE;
    }
    return wmain(argc, argv);
}
