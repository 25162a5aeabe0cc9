// Input paths from the workbook arrive lower-cased. On a case-sensitive file system
// such a path may not exist as written although the file is there with capitals.
#pragma once

#include <string>

namespace gridfold::common {

// Returns `path` itself when it exists as written. Otherwise resolves it component by
// component against what exists on disk, trying at each level the exact name first and
// then the entries equal to it ignoring letter case (in sorted order), and returns the first
// combination that exists. When none does, `path` is returned unchanged, so a later open
// fails with the caller's own path in its message.
std::string resolve_path_ignoring_case(const std::string& path);

}  // namespace gridfold::common
