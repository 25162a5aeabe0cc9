#include "case_copy.hpp"

#include <system_error>

namespace gridfold::network {

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

void copy_file_whole(const fs::path& source, const fs::path& target) {
    fs::path temporary = target;
    temporary.replace_filename("." + target.filename().string() + ".partial");
    try {
        fs::copy_file(source, temporary, fs::copy_options::overwrite_existing);
        fs::permissions(temporary, fs::status(source).permissions(), fs::perm_options::replace);
        fs::rename(temporary, target);
    } catch (...) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
}

}  // namespace gridfold::network
