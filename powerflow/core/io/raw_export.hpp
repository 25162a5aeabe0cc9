// Writer of a Network as RAW version 33 text, for tools that read that version.
//
// Every section of version 33 is written, the ones the model does not hold empty. Numbers
// are written in their shortest exact form, so reading the file back gives the same
// values. Data version 33 cannot hold are named in the outcome's notes: ratings 4 to 12,
// switched shunt block status, load distributed generation, the machine's BASLOD, node
// numbers. A case that version 33 cannot represent at all (two switched shunts at one
// bus) is refused.
#pragma once

#include <string>

#include "core/io/import_outcome.hpp"
#include "core/network.hpp"

namespace gridfold::pf::io {

// Renders `network` as RAW 33 text into `text`. On failure `text` is left empty and the
// outcome says why (line 0).
ImportOutcome render_raw33(const Network& network, std::string& text);

// Writes `text` to `path` whole or not at all: a temporary file beside it, then a rename.
// Returns an empty string on success, else what went wrong.
std::string write_file_whole(const std::string& path, const std::string& text);

}  // namespace gridfold::pf::io
