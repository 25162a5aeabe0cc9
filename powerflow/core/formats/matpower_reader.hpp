// Reader of MATPOWER case files (.m text, format versions 1 and 2) into a Network.
//
// Read: baseMVA, bus, gen, branch and the optional bus_name cell array; every other
// assignment (gencost, areas, user fields) is parsed for syntax and then ignored.
// Conversion to the engine's elements:
//  - bus rows become buses (type 2 without an in-service generator becomes a load bus, as
//    MATPOWER itself treats it); Pd/Qd become constant-power load "1", Gs/Bs fixed shunt "1";
//  - gen rows become machines "1", "2", ... per bus, with one plant per generator bus whose
//    scheduled voltage is the first in-service generator's Vg;
//  - branch rows with tap ratio 0 and shift 0 become lines, the others two-winding
//    transformers (ratio in pu of the bus base, impedance on the system base); circuit
//    identifiers count "1", "2", ... per bus pair. The line charging of a transformer, which
//    MATPOWER splits between its two ends, becomes one fixed shunt at each end (identifier
//    "T1", "T2", ...) so that the network's admittances stay exactly as in the file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/model/network.hpp"

namespace gridfold::pf::formats {

// Reads `text`, a case of at most `bus_limit` buses. file_name only names the file in
// errors. Throws CaseFileError (kFormat) naming the line at fault and what was expected
// there. notes receives the progress lines of a successful read: the case read, the
// conversions made and the data the model cannot hold.
Network read_matpower_case(const std::string& text, const std::string& file_name, std::size_t bus_limit,
                           std::vector<std::string>* notes = nullptr);

// True when `text` looks like a MATPOWER case (a function header or an mpc assignment
// before any data), so that a generic "read" can pick this reader.
bool looks_like_matpower(const std::string& text);

}  // namespace gridfold::pf::formats
