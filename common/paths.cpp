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
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
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

#ifdef _WIN32
// Windows: drive letters, both separators and UNC names follow std::filesystem, which treats
// them as ntpath does; the POSIX forms below give os.path's strings to the character.

std::string join_path(std::string_view folder, std::string_view name) {
    return (fs::path(folder) / fs::path(name)).string();
}

std::string normal_path(std::string_view path) {
    if (path.empty()) return ".";
    const std::string normal = fs::path(path).lexically_normal().string();
    return normal.empty() ? "." : normal;
}

std::string absolute_path(std::string_view path) { return fs::absolute(fs::path(path)).lexically_normal().string(); }

std::string parent_folder(std::string_view path) { return fs::path(path).parent_path().string(); }

std::string base_name(std::string_view path) { return fs::path(path).filename().string(); }

std::string path_extension(std::string_view path) { return fs::path(path).extension().string(); }

std::string canonical_path(std::string_view path) {
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(fs::path(path)), ec);
    // Names on Windows are compared without regard to case (os.path.normcase).
    std::string text = ec ? normal_path(path) : resolved.string();
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

#else

std::string join_path(std::string_view folder, std::string_view name) {
    if (name.starts_with('/') || folder.empty()) return std::string(name);
    std::string joined(folder);
    if (!joined.ends_with('/')) joined += '/';
    joined += name;
    return joined;
}

std::string normal_path(std::string_view path) {
    if (path.empty()) return ".";
    // Two leading slashes may mean something of their own to the system and are kept;
    // one, or three and more, become one.
    const std::size_t leading = !path.starts_with('/') ? 0 : path.starts_with("//") && !path.starts_with("///") ? 2 : 1;
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part != ".." || (leading == 0 && parts.empty()) || (!parts.empty() && parts.back() == ".."))
            parts.push_back(part);
        else if (!parts.empty())
            parts.pop_back();
    }
    std::string normal(leading, '/');
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) normal += '/';
        normal += parts[i];
    }
    return normal.empty() ? "." : normal;
}

std::string absolute_path(std::string_view path) {
    if (path.starts_with('/')) return normal_path(path);
    return normal_path(join_path(fs::current_path().string(), path));
}

std::string parent_folder(std::string_view path) {
    std::string_view head = path.substr(0, path.rfind('/') + 1);
    if (head.find_first_not_of('/') != std::string_view::npos) head = head.substr(0, head.find_last_not_of('/') + 1);
    return std::string(head);
}

std::string base_name(std::string_view path) { return std::string(path.substr(path.rfind('/') + 1)); }

std::string path_extension(std::string_view path) {
    const std::size_t name_start = path.rfind('/') + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < name_start) return "";
    // A name made of leading dots and what follows ("..bashrc") has no extension.
    if (path.find_first_not_of('.', name_start) >= dot) return "";
    return std::string(path.substr(dot));
}

std::string canonical_path(std::string_view path) {
    // ".." is taken back on the disk, after the links before it are resolved, as realpath
    // does: a lexical normal form first would step back from the link, not from its target.
    std::error_code ec;
    const fs::path given = path.starts_with('/') ? fs::path(path) : fs::current_path() / path;
    const fs::path resolved = fs::weakly_canonical(given, ec);
    std::string text = ec ? normal_path(given.string()) : resolved.string();
    while (text.size() > 1 && text.ends_with('/')) text.pop_back();
    return text;
}

#endif

}  // namespace gridfold::common
