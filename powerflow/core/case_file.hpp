// Case files: text in the layout of the RAW format, version 35, every real written to the
// shortest text that reads back to the same double, so that a case saved, read and saved
// again gives the same bytes. Star points of three-winding transformers are not written:
// their voltage travels as the transformer's VMSTAR/ANSTAR and the reader makes them anew.
#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/network.hpp"

namespace gridfold::pf {

inline constexpr int kWrittenRawVersion = 35;

// A case file that cannot be opened (kOpen) or is not a readable case (kFormat). line is
// the 1-based line at fault, 0 when the fault is not on a line.
class CaseFileError : public std::runtime_error {
public:
    enum Kind { kOpen, kFormat, kWrite };
    CaseFileError(Kind kind, std::string file, int line, const std::string& message);
    Kind kind() const { return kind_; }
    const std::string& file() const { return file_; }
    int line() const { return line_; }
    const std::string& reason() const { return reason_; }

private:
    Kind kind_;
    std::string file_;
    int line_;
    std::string reason_;
};

// RAW versions read_raw_case understands; the version is taken from the file's first line.
const std::vector<int>& readable_raw_versions();

// Writes the network in the RAW version 35 layout.
void write_raw_case(const Network& net, std::ostream& out);

// Reads a whole case from text. file_name only names the file in errors. Throws
// CaseFileError (kFormat) naming the line at fault. bus_limit bounds the number of buses
// (star points included). When notes is given, it receives one line for every kind of
// record the model does not keep (section and count) and every conversion made, so that
// nothing of the file is dropped without a word.
Network read_raw_case(std::string_view text, const std::string& file_name, std::size_t bus_limit,
                      std::vector<std::string>* notes = nullptr);

// Reads a case file from disk; throws CaseFileError (kOpen for a file that cannot be read,
// kFormat for one that is not a text case). notes as for read_raw_case.
Network load_case_file(const std::string& path, std::size_t bus_limit, std::vector<std::string>* notes = nullptr);

// Writes the case to a temporary file beside path and renames it over path, so that path
// holds either the old file or the whole new one. Throws CaseFileError (kWrite).
void save_case_file(const Network& net, const std::string& path);

// The number formatting used in case files: shortest text that reads back exactly.
std::string format_real(double value);

}  // namespace gridfold::pf
