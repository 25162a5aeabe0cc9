// Case files on disk: the engine's own cases (RAW version 35, read strictly) and RAW files
// of other tools (versions 32 to 35, read tolerantly), through the one reader and writer in
// formats/. Every real is written to the shortest text that reads back to the same double,
// so that a case saved, read and saved again gives the same bytes.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/files.hpp"
#include "core/model/network.hpp"

namespace gridfold::pf {

inline constexpr int kWrittenRawVersion = 35;

// A case file that cannot be opened (kOpen), is not a readable case (kFormat), or cannot be
// written (kWrite), a case holding a value no file can (kUnwritable), or a case the
// version asked for cannot represent (kUnrepresentable). line is the 1-based
// line at fault, 0 when the fault is not on a line.
class CaseFileError : public std::runtime_error {
public:
    enum Kind { kOpen, kFormat, kWrite, kUnwritable, kUnrepresentable };
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

// The whole content of a regular file. The type is checked before the file is opened, so a
// FIFO or device never blocks the engine. Throws CaseFileError (kOpen).
std::string read_whole_file(const std::string& path);

// Writes to a temporary file beside path what `produce` hands to the sink, piece by piece,
// and renames it over path, so that path holds either the old file or the whole new one.
// Throws CaseFileError (kWrite); an exception of `produce` goes on to the caller, path left
// as it was.
void write_whole_file(const std::string& path, const std::function<void(const common::ContentSink&)>& produce);

// Reads a case from text. version: the record layouts (0: the version the text names);
// strict: every field present and valid, as in the engine's own files. file_name only names
// the file in errors. Throws CaseFileError (kFormat) naming the line at fault. notes
// receives one line for every conversion made and every reference completed.
Network read_raw_case(std::string_view text, const std::string& file_name, std::size_t bus_limit, bool strict,
                      std::vector<std::string>* notes = nullptr, std::optional<int> version = std::nullopt);

// Reads a case file of the engine from disk: version 35 strictly, older versions as
// imports. Throws CaseFileError.
Network load_case_file(const std::string& path, std::size_t bus_limit, std::vector<std::string>* notes = nullptr);

// Renders the network as RAW text of version 33 or 35; notes receives what the version
// cannot hold, line by line. Throws CaseFileError (kUnwritable).
std::string render_raw_case(const Network& net, int version, std::vector<std::string>* notes = nullptr);

// Writes the case as RAW text of version 33 or 35 whole or not at all; notes as for
// render_raw_case. Throws CaseFileError: kWrite when the file could not be written, the
// kinds of render_raw_case when the text could not be made.
void write_raw_file(const Network& net, int version, const std::string& path,
                    std::vector<std::string>* notes = nullptr);

// Writes the case as version 35 whole or not at all. Throws CaseFileError.
void save_case_file(const Network& net, const std::string& path);

// The number formatting used in case files: shortest text that reads back exactly.
std::string format_real(double value);

// "9 buses, 3 loads, 1 fixed shunt, ...": every kind of record the network holds.
std::string case_summary(const Network& net);

}  // namespace gridfold::pf
