#include "items/action_type.h"

#include <array>

namespace
{
struct action_name
{
    action_type value;
    std::wstring_view text;
    // Actions that other suite applications own keep their name for reading only.
    bool written;
};

constexpr std::array<action_name, 24> action_names{{
    {action_type::set_rating, L"set_rating", true},
    {action_type::remove_rating, L"remove_rating", true},
    {action_type::remove_tags, L"remove_tags", true},
    {action_type::toggle_tags, L"toggle_tags", true},
    {action_type::update_tags, L"update_tags", true},
    {action_type::auto_tag, L"auto_tag", true},
    {action_type::paste_as_plain_text, L"paste_as_plain_text", false},
    {action_type::media_volume_up, L"media_volume_up", false},
    {action_type::media_volume_down, L"media_volume_down", false},
    {action_type::media_play_pause, L"media_play_pause", false},
    {action_type::media_prev_track, L"media_prev_track", false},
    {action_type::media_next_track, L"media_next_track", false},
    {action_type::media_microphone_mute, L"media_microphone_mute", false},
    {action_type::media_microphone_unmute, L"media_microphone_unmute", false},
    {action_type::icon_set_builtin_icon, L"icon_set_builtin_icon", true},
    {action_type::icon_set_default_icon, L"icon_set_default_icon", true},
    {action_type::icon_set_custom_icon, L"icon_set_custom_icon", true},
    {action_type::run_context_menu_command, L"run_context_menu_command", true},
    {action_type::organize_folder, L"organize_folder", true},
    {action_type::organize_undo, L"organize_undo", true},
    {action_type::recognize_faces, L"recognize_faces", true},
    {action_type::revoke_faces, L"revoke_faces", true},
    {action_type::forget_person, L"forget_person", true},
    {action_type::wipe_all_people, L"wipe_all_people", true},
}};
} // namespace

action_type action_type_from_text(std::wstring_view text) noexcept
{
    for (const auto& name : action_names)
        if (name.text == text)
            return name.value;
    return action_type::unknown;
}

std::wstring action_type_to_text(action_type value)
{
    for (const auto& name : action_names)
        if (name.value == value)
            return std::wstring(name.written ? name.text : std::wstring_view(L"unknown"));
    return L"unknown";
}
