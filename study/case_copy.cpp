#include "study/case_copy.hpp"

#include "common/paths.hpp"

namespace gridfold::study {

namespace fs = std::filesystem;

fs::path free_copy_path(const fs::path& folder, const std::string& file_name,
                        const std::function<bool(const fs::path&)>& exists) {
    const auto dot = file_name.rfind('.');
    const std::string stem = dot == std::string::npos ? file_name : file_name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : file_name.substr(dot);
    fs::path candidate = folder / (stem + "_copy" + extension);
    for (unsigned long long counter = 1; exists(candidate); ++counter)
        candidate = folder / (stem + "_copy_" + std::to_string(counter) + extension);
    return candidate;
}

std::string saved_case_path(const std::string& path) {
    return common::path_extension(path).empty() ? path : path + ".sav";
}

}  // namespace gridfold::study
