// Reader of RAW case text of versions 32 to 35 into a Network, for cases written by other
// tools: missing trailing fields and empty fields take their defaults, and every element is
// held to the same rules as the engine's data calls.
//
// Version 32 files use the version 33 record layouts (their extra trailing fields are
// simply absent). Sections the network model holds become elements; the others (areas,
// zones, owners, dc lines, FACTS, impedance correction tables, multi-section line
// groupings, inter-area transfers, GNE devices, substations) are skipped record by record
// and reported once each in the outcome's notes with the count of records left out.
// System switching devices (version 34) become lines with their own reactance, since
// leaving them out would split the network.
#pragma once

#include <cstddef>
#include <string>

#include "core/io/import_outcome.hpp"
#include "core/network.hpp"

namespace gridfold::pf::io {

inline constexpr int kOldestRawVersion = 32;
inline constexpr int kNewestRawVersion = 35;

// The version written in the first record of a RAW file (REV, third field), 0 when the text
// has no such record. "@!" annotation lines before it are skipped.
int raw_header_version(const std::string& text);

// Reads `text` with the record layouts of `version` (32 to 35). When the text is a valid
// case of at most `bus_limit` buses (star points included) the network is replaced by it;
// otherwise it is untouched and the outcome names the line and what was expected there.
ImportOutcome read_raw_text(const std::string& text, int version, Network& network, std::size_t bus_limit);

}  // namespace gridfold::pf::io
