#include "base/dropped_files.h"

#include "base/log.h"

#include <shellapi.h>

#include <string_view>

namespace
{
// Releases the medium that GetData filled, whatever happens while it is read.
class storage_medium
{
public:
    storage_medium() noexcept = default;
    ~storage_medium()
    {
        if (filled_)
            ReleaseStgMedium(&medium_);
    }
    storage_medium(const storage_medium&) = delete;
    storage_medium& operator=(const storage_medium&) = delete;

    STGMEDIUM* out() noexcept { return &medium_; }
    // GetData succeeded: the medium is ours to release.
    void filled() noexcept { filled_ = true; }
    const STGMEDIUM& get() const noexcept { return medium_; }

private:
    STGMEDIUM medium_{};
    bool filled_ = false;
};

class global_lock
{
public:
    explicit global_lock(HGLOBAL memory) noexcept : memory_(memory), data_(memory ? GlobalLock(memory) : nullptr) {}
    ~global_lock()
    {
        if (data_)
            GlobalUnlock(memory_);
    }
    global_lock(const global_lock&) = delete;
    global_lock& operator=(const global_lock&) = delete;
    explicit operator bool() const noexcept { return data_ != nullptr; }

private:
    HGLOBAL memory_;
    void* data_;
};

// The size of the buffer each name is read into, terminator included.
constexpr UINT name_buffer_size = 520;
} // namespace

dropped_files read_dropped_files(IDataObject* data)
{
    dropped_files files;
    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    storage_medium medium;
    if (FAILED(data->GetData(&format, medium.out())))
        return files;
    medium.filled();

    // A data object may answer with another medium than asked for; only global memory holds a list.
    const HGLOBAL memory = medium.get().tymed == TYMED_HGLOBAL ? medium.get().hGlobal : nullptr;
    const global_lock locked(memory);
    if (!locked)
    {
        files.result = dropped_files::outcome::unreadable;
        return files;
    }
    const auto drop = static_cast<HDROP>(memory);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    files.paths.reserve(count);
    for (UINT index = 0; index < count; ++index)
    {
        wchar_t name[name_buffer_size] = {};
        const UINT length = DragQueryFileW(drop, index, name, name_buffer_size);
        // Wine counts one empty name in a list that holds none.
        if (length == 0)
            continue;
        // A longer name would arrive cut short and name another file, or none: rather leave it out.
        if (const UINT needed = DragQueryFileW(drop, index, nullptr, 0); needed >= name_buffer_size)
        {
            log_message(log_level::warning, L"Drop: left out a dropped path of {} characters (at most {} fit): {}",
                        needed, name_buffer_size - 1, std::wstring_view(name, name_buffer_size - 1));
            continue;
        }
        files.paths.emplace_back(name, length);
    }
    files.result = dropped_files::outcome::read;
    return files;
}
