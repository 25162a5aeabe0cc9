// Writer of RAW case text, versions 33 and 35 (raw_writer.cpp).
#pragma once

#include <string>
#include <vector>

#include "core/formats/raw_format.hpp"
#include "core/model/network.hpp"

namespace gridfold::pf::formats {

// Renders the network as RAW text of version 33 or 35. notes receives, line by line, what
// the version cannot hold. Throws RawFault: line -1 for a case the version cannot
// represent, line 0 for a value that is not finite.
std::string write_raw(const Network& net, int version, std::vector<std::string>& notes);

class TextBuffer;
// The same into `out`, emptied first (its storage is kept for the next case).
void write_raw(const Network& net, int version, std::vector<std::string>& notes, TextBuffer& out);

}  // namespace gridfold::pf::formats
