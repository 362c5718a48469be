#pragma once
// Per-user folders shared by the log and the settings files.

#include <filesystem>
#include <string>

// The user's local application data folder, fetched once per process and kept; fetched again while it
// is still empty (the call failed). Empty when it cannot be obtained.
std::filesystem::path local_app_data_folder();

// "Quenbrook" and "Velmora": the maker's and the suite's folder names.
std::string maker_folder_name();
std::string suite_folder_name();

// %LOCALAPPDATA%\Quenbrook\Velmora
std::filesystem::path suite_data_folder();
