// Working copies of case files under names no file has yet. Plain C++.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace gridfold::study {

// Candidates beside `source`, for stem N and extension E (from the last dot of the file name, may
// be empty): N_copy E, then N_copy_1 E, N_copy_2 E, ... The first for which `exists` is false.
std::filesystem::path free_copy_path(const std::filesystem::path& folder, const std::string& file_name,
                                     const std::function<bool(const std::filesystem::path&)>& exists);

}  // namespace gridfold::study
