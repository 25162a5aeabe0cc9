// Reader of RAW case text, versions 32 to 35 (raw_reader.cpp).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/raw_format.hpp"
#include "core/model/network.hpp"

namespace gridfold::pf::formats {

// Section names as terminator records spell them ("BUS", "LOAD", ...), in the file order of
// a version, after the system-wide data. The writer writes them in this order.
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

// Reads a whole case. Throws RawFault. notes receives one line for every conversion made
// and every reference completed, so that nothing is changed without a word.
Network read_raw(std::string_view text, const RawReadOptions& options, std::vector<std::string>& notes);

// One line naming the count of every kind of record the network holds ("9 buses, 3 loads,
// 1 fixed shunt, ..."); kinds with no record are left out, buses never.
std::string record_summary(const Network& net);

}  // namespace gridfold::pf::formats
