#pragma once
// The settings stream under the name the settings tests know it by; it lives with the settings base.

#include "common/setting_utilities/settings_file_stream.h"

namespace settings_json
{
using common::setting_utilities::settings_file_stream;
}
