// Paths of the package's files. Input paths from the workbook arrive lower-cased: on a
// case-sensitive file system such a path may not exist as written although the file is
// there with capitals.
#pragma once

#include <string>
#include <string_view>

namespace gridfold::common {

// Returns `path` itself when it exists as written. Otherwise resolves it component by
// component against what exists on disk, trying at each level the exact name first and
// then the entries equal to it ignoring letter case (in sorted order), and returns the first
// combination that exists. When none does, `path` is returned unchanged, so a later open
// fails with the caller's own path in its message.
std::string resolve_path_ignoring_case(const std::string& path);

// Paths as Python's os.path makes them, so that every name the modules write, print and
// record is the string a Python caller would have made: to the character on POSIX, and through
// std::filesystem (drive letters, both separators) on Windows.

// os.path.join(folder, name): `name` alone when it is absolute.
std::string join_path(std::string_view folder, std::string_view name);

// os.path.normpath: "." and empty components dropped, ".." taken back lexically.
std::string normal_path(std::string_view path);

// os.path.abspath: normal_path of the path joined to the current folder.
std::string absolute_path(std::string_view path);

// os.path.dirname and os.path.basename: the parts before and after the last '/'.
std::string parent_folder(std::string_view path);
std::string base_name(std::string_view path);

// os.path.splitext(path)[1]: the last '.' of the file name and what follows it, "" when the
// name has none past its leading dots.
std::string path_extension(std::string_view path);

// One name for one file, for telling whether two paths name the same file: the absolute
// path with every symbolic link that exists resolved (os.path.realpath), lower-cased on
// Windows (os.path.normcase).
std::string canonical_path(std::string_view path);

}  // namespace gridfold::common
