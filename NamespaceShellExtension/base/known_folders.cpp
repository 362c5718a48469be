#include "base/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <mutex>

std::filesystem::path local_app_data_folder()
{
    static std::mutex mutex;
    static std::filesystem::path cached;
    {
        std::lock_guard lock(mutex);
        if (!cached.empty())
            return cached;
    }
    // Asked outside the lock; two first callers may both ask, and the first answer is kept.
    std::filesystem::path fetched;
    PWSTR path = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path)) && path)
        fetched = path;
    CoTaskMemFree(path);
    std::lock_guard lock(mutex);
    if (cached.empty())
        cached = std::move(fetched);
    return cached;
}

std::string maker_folder_name()
{
    static const std::string name = "Quenbrook";
    return name;
}

std::string suite_folder_name()
{
    static const std::string name = "Velmora";
    return name;
}

std::filesystem::path suite_data_folder()
{
    return local_app_data_folder() / maker_folder_name() / suite_folder_name();
}
