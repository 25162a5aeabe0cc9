#include "common/paths.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
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

// Entries of `dir` that may stand for `name`: the exact name first when it exists, then
// every other entry equal to it ignoring case, in sorted order.
std::vector<fs::path> candidates(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    std::vector<fs::path> found;
    const fs::path exact = dir / name;
    if (fs::exists(exact, ec)) found.push_back(exact);
    std::vector<std::string> others;
    for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (entry != name && equal_ignoring_case(entry, name)) others.push_back(entry);
    }
    std::sort(others.begin(), others.end());
    for (const std::string& entry : others) found.push_back(dir / entry);
    return found;
}

// Depth-first search over the remaining components. An exact folder that leads nowhere
// (for example a lower-case results folder created beside the real input folder) gives
// way to its case-insensitive siblings.
std::optional<fs::path> resolve_from(const fs::path& dir, std::vector<fs::path>::const_iterator part,
                                     std::vector<fs::path>::const_iterator end) {
    if (part == end) return dir;
    const std::string name = part->string();
    if (name == "." || name == "..") return resolve_from(dir / *part, part + 1, end);
    for (const fs::path& candidate : candidates(dir, name)) {
        if (auto resolved = resolve_from(candidate, part + 1, end)) return resolved;
    }
    return std::nullopt;
}

}  // namespace

std::string resolve_path_ignoring_case(const std::string& path) {
    std::error_code ec;
    const fs::path given(path);
    if (path.empty() || fs::exists(given, ec)) return path;
    const fs::path relative = given.relative_path();
    const std::vector<fs::path> parts(relative.begin(), relative.end());
    if (auto resolved = resolve_from(given.root_path(), parts.begin(), parts.end())) return resolved->string();
    return path;  // nothing matches: the caller's own path appears in its error
}

}  // namespace gridfold::common
