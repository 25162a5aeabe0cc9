// The RAW case format, versions 32 to 35: the one reader and the one writer of the engine.
//
// Own case files (written by `save`, version 35) are read strictly: every field of a record
// present and valid. Files from other tools are read tolerantly: missing trailing fields
// and empty fields take the format's defaults. Both go through the same record layouts
// (raw_layouts.hpp) and the same checks as the engine's data calls.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/model/network.hpp"

namespace gridfold::pf::formats {

inline constexpr int kOldestRawVersion = 32;
inline constexpr int kNewestRawVersion = 35;

// Section names as terminator records spell them ("BUS", "LOAD", ...), in the file order of
// a version, after the system-wide data.
const std::vector<std::string>& raw_sections(int version);

// The version written in the first record of the text (REV, third field); 0 when the text
// has no such record. "@!" annotation lines before it are skipped.
int raw_header_version(std::string_view text);

// Which record layouts a text is read with: the forced version when given, else the one the
// text names (0 when it names none).
int raw_layout_version(std::string_view text, std::optional<int> forced);

enum class Strictness { kCaseFile, kImport };

struct RawReadOptions {
    int version = 0;                 // record layouts (raw_layout_version)
    Strictness strictness = Strictness::kImport;
    std::size_t bus_limit = 0;       // most buses the case may hold, star points included
};

// A fault in a file: the 1-based line (0 when not on a line) and what is wrong.
struct RawFault {
    int line = 0;
    std::string what;
};

// Reads a whole case. Throws RawFault. notes receives one line for every conversion made
// and every reference completed, so that nothing is changed without a word.
Network read_raw(std::string_view text, const RawReadOptions& options, std::vector<std::string>& notes);

// Renders the network as RAW text of version 33 or 35. notes receives, line by line, what
// the version cannot hold. Throws RawFault: line -1 for a case the version cannot
// represent, line 0 for a value that is not finite.
std::string write_raw(const Network& net, int version, std::vector<std::string>& notes);
class TextBuffer;
// The same into `out`, emptied first (its storage is kept for the next case).
void write_raw(const Network& net, int version, std::vector<std::string>& notes, TextBuffer& out);

// One line naming the count of every kind of record the network holds ("9 buses, 3 loads,
// 1 fixed shunt, ..."); kinds with no record are left out, buses never.
std::string record_summary(const Network& net);

}  // namespace gridfold::pf::formats
