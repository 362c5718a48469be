// namespace_browser: shows what a part of the shell namespace contains, asking only shell32, the way
// Explorer's navigation pane and view ask. For support (run it on a user's machine) and for the demo.
//
//   namespace_browser [--path <display name>]... [--depth <levels>] [--format text|json]
//                     [--columns <name>,<name>... | --columns all]
//
// Without --path it shows both roots of the namespace extension, "Sortwell" and "Quick pins". A path is
// anything SHParseDisplayName understands: "::{249AE234-08DF-4686-AAF3-5D80A15493BE}\Ratings",
// "C:\Windows", or "desktop" for the desktop itself. --depth counts the levels of children listed
// below each path (default 2). Exit code 0 when everything answered, 1 when something failed (the
// output says what), 2 for a wrong command line.

#include "output.h"
#include "shell_walk.h"

#include <windows.h>
#include <objbase.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace
{
constexpr const wchar_t* default_paths[] = {
    L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}",
    L"::{EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}",
};

int usage(const char* problem)
{
    std::fprintf(stderr,
                 "namespace_browser: %s\n"
                 "usage: namespace_browser [--path <display name>]... [--depth <levels>] [--format text|json]\n"
                 "                         [--columns <name>,<name>... | --columns all]\n"
                 "columns:",
                 problem);
    for (const auto& column : namespace_browser::known_columns())
        std::fprintf(stderr, " %ls", column.name.c_str());
    std::fprintf(stderr, "\n");
    return 2;
}

bool parse_columns(const std::wstring& list, std::vector<namespace_browser::column>& columns)
{
    if (list == L"all")
    {
        // The eight of the demo; "date_created" only when named.
        for (const auto& column : namespace_browser::known_columns())
            if (column.name != L"date_created")
                columns.push_back(column);
        return true;
    }
    size_t start = 0;
    while (start <= list.size())
    {
        const size_t end = std::min(list.find(L',', start), list.size());
        const auto column = namespace_browser::find_column(list.substr(start, end - start));
        if (!column)
            return false;
        columns.push_back(*column);
        start = end + 1;
    }
    return true;
}

// COM for the whole run, in a single-threaded apartment like Explorer's windows.
class com_apartment
{
public:
    com_apartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~com_apartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};
} // namespace

int wmain(int argc, wchar_t** argv)
{
    namespace_browser::options options;
    std::vector<std::wstring> paths;
    bool json = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring argument = argv[i];
        const bool has_value = i + 1 < argc;
        if (argument == L"--path" && has_value)
            paths.emplace_back(argv[++i]);
        else if (argument == L"--depth" && has_value)
        {
            wchar_t* end = nullptr;
            const long depth = std::wcstol(argv[++i], &end, 10);
            if (!end || *end || depth < 0 || depth > 64)
                return usage("--depth takes a number from 0 to 64");
            options.depth = static_cast<int>(depth);
        }
        else if (argument == L"--format" && has_value)
        {
            const std::wstring format = argv[++i];
            if (format != L"text" && format != L"json")
                return usage("--format takes text or json");
            json = format == L"json";
        }
        else if (argument == L"--columns" && has_value)
        {
            if (!parse_columns(argv[++i], options.columns))
                return usage("unknown column");
        }
        else if (argument == L"--help" || argument == L"-h" || argument == L"/?")
            return usage("shows what a part of the shell namespace contains"), 0;
        else
            return usage("unknown argument");
    }
    if (paths.empty())
        paths.assign(std::begin(default_paths), std::end(default_paths));

    _setmode(_fileno(stdout), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    com_apartment com;
    if (FAILED(com.result()))
    {
        std::fprintf(stderr, "namespace_browser: CoInitializeEx failed: %ls\n",
                     namespace_browser::hresult_text(com.result()).c_str());
        return 1;
    }
    try
    {
        std::vector<namespace_browser::item> roots;
        bool failed = false;
        for (const auto& path : paths)
        {
            // "desktop" names the desktop itself, whose display name for parsing is empty.
            roots.push_back(namespace_browser::walk_path(
                CompareStringOrdinal(path.c_str(), -1, L"desktop", -1, TRUE) == CSTR_EQUAL ? std::wstring() : path,
                options));
            failed = failed || namespace_browser::has_errors(roots.back());
        }
        const std::string out = json ? namespace_browser::json_output(roots, options)
                                     : namespace_browser::text_output(roots, options);
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        return failed ? 1 : 0;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "namespace_browser: %s\n", error.what());
        return 1;
    }
}
