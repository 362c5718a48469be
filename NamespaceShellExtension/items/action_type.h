#pragma once
// The actions that the suite's batch worker performs, and the texts that name them in the namespace
// configuration and in job files.

#include <cstdint>
#include <string>
#include <string_view>

enum class action_type : std::uint8_t
{
    set_rating = 0,
    remove_rating = 1,
    remove_tags = 2,
    toggle_tags = 3,
    update_tags = 4,
    auto_tag = 5,
    // 6 to 8 are unused by this extension; no text reads as them.
    reserved_6 = 6,
    reserved_7 = 7,
    reserved_8 = 8,
    // 9 to 16 are actions of other suite applications: they can be read but are no batch actions and
    // are written as "unknown".
    paste_as_plain_text = 9,
    media_volume_up = 10,
    media_volume_down = 11,
    media_play_pause = 12,
    media_prev_track = 13,
    media_next_track = 14,
    media_microphone_mute = 15,
    media_microphone_unmute = 16,
    icon_set_builtin_icon = 17,
    icon_set_default_icon = 18,
    icon_set_custom_icon = 19,
    run_context_menu_command = 20,
    organize_folder = 21,
    organize_undo = 22,
    recognize_faces = 23,
    revoke_faces = 24,
    forget_person = 25,
    wipe_all_people = 26,
    unknown = 27,
};

// Exact, case-sensitive match against the action names; anything else is `unknown`.
action_type action_type_from_text(std::wstring_view text) noexcept;

// The name written into job files: "unknown" for 6 to 16, for `unknown` and for values out of range.
std::wstring action_type_to_text(action_type value);
