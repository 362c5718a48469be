#pragma once
// What the native fuzz build puts in place of the system for the fuzz targets: the log lines the
// product wrote (the log is a sink here, not a file).

#include <string>
#include <vector>

namespace fuzz_platform
{
// The level's number, a blank and the message, for every line logged since the last clear.
std::vector<std::string>& logged_lines();
} // namespace fuzz_platform
