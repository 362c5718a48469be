#pragma once
// The folder behind the "Quick pins" root and every group below it: the same folder as the "Sortwell"
// root's, with its own class id and the quick pins flag, which every subfolder it binds inherits.

#include "namespace/search_and_action_shell_folder.h"

class quick_pins_shell_folder final : public search_and_action_shell_folder
{
public:
    // A Quick pins folder with one reference. Reports E_OUTOFMEMORY instead of throwing.
    static HRESULT create_quick_pins_folder(search_and_action_shell_folder** out) noexcept;

private:
    quick_pins_shell_folder() noexcept { is_quick_pins_ = true; }
    ~quick_pins_shell_folder() override = default;
};
