#include "common/paths.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace gridfold::common {

namespace {

bool equal_ignoring_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The entry of `dir` named `name` ignoring case, or an empty path when none is.
fs::path find_ignoring_case(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    std::vector<std::string> matches;
    for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (equal_ignoring_case(entry, name)) matches.push_back(entry);
    }
    if (matches.empty()) return {};
    std::sort(matches.begin(), matches.end());
    return dir / matches.front();
}

}  // namespace

std::string resolve_path_ignoring_case(const std::string& path) {
    std::error_code ec;
    fs::path given(path);
    if (path.empty() || fs::exists(given, ec)) return path;

    fs::path resolved = given.root_path();
    bool matching = true;
    for (const fs::path& part : given.relative_path()) {
        const std::string name = part.string();
        if (matching && name != "." && name != "..") {
            fs::path exact = resolved / part;
            if (fs::exists(exact, ec)) {
                resolved = exact;
                continue;
            }
            fs::path found = find_ignoring_case(resolved, name);
            if (!found.empty()) {
                resolved = found;
                continue;
            }
            matching = false;  // nothing further down can exist
        }
        resolved /= part;
    }
    return resolved.string();
}

}  // namespace gridfold::common
