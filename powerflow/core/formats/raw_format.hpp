// The RAW case format, versions 32 to 35: what its one reader (raw_reader.hpp) and its one
// writer (raw_writer.hpp) share.
//
// Own case files (written by `save`, version 35) are read strictly: every field of a record
// present and valid. Files from other tools are read tolerantly: missing trailing fields
// and empty fields take the format's defaults. Both go through the same record layouts
// (raw_layouts.hpp) and the same checks as the engine's data calls.
#pragma once

#include <string>

namespace gridfold::pf::formats {

inline constexpr int kOldestRawVersion = 32;
inline constexpr int kNewestRawVersion = 35;

// A fault in a file: the 1-based line (0 when not on a line) and what is wrong. It stays
// inside formats/: case_file.hpp turns it into a CaseFileError naming the file.
struct RawFault {
    int line = 0;
    std::string what;
};

}  // namespace gridfold::pf::formats
