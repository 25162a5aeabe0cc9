// Names of the case files a study writes: working copies under names no file has yet, and
// saved cases. Plain C++.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace gridfold::study {

// Candidates beside `source`, for stem N and extension E (from the last dot of the file name, may
// be empty): N_copy E, then N_copy_1 E, N_copy_2 E, ... The first for which `exists` is false.
std::filesystem::path free_copy_path(const std::filesystem::path& folder, const std::string& file_name,
                                     const std::function<bool(const std::filesystem::path&)>& exists);

// The path a case is saved under: `path` itself, or with ".sav" written out when the engine
// would read what follows the last dot of its name as an extension of its own ("solar_v1.2"),
// so that every saved case ends in ".sav".
std::string saved_case_path(const std::string& path);

}  // namespace gridfold::study
