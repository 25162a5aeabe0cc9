// Input paths from the workbook arrive lower-cased. On a case-sensitive file system
// such a path may not exist as written although the file is there with capitals.
#pragma once

#include <string>

namespace gridfold::common {

// Returns `path` itself when it exists as written. Otherwise resolves it component by
// component against what exists on disk, taking an exact match first and else the first
// entry (in sorted order) whose name matches ignoring letter case. Components that match
// nothing are kept as written, so the result names what the caller asked for and a later
// open fails with the caller's own path in its message.
std::string resolve_path_ignoring_case(const std::string& path);

}  // namespace gridfold::common
