// Record-level reading of RAW text: lines, fields and typed access with defaults.
//
// The format as found in the wild: fields separated by commas, blanks or both; quoted
// strings (single or double quotes) that may hold commas, slashes and blanks; '/' starting
// a comment outside quotes; "@!" lines that only annotate; CRLF or LF line ends; records
// whose trailing fields are missing (their defaults apply) and empty fields between two
// commas (the default applies too).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gridfold::pf::io {

// A fault in the file: the line and what was expected there.
struct RawError {
    int line;
    std::string what;
};

struct RawField {
    std::string text;    // without quotes; blanks inside quotes kept
    bool quoted = false;
    bool empty() const { return !quoted && text.empty(); }
};

struct RawRecord {
    int line = 0;                  // 1-based line number of the record
    std::vector<RawField> fields;  // comment removed
    std::string comment;           // text after '/', trimmed

    // A section ends with a record whose first field is the number 0 ("0 / END OF ...").
    bool is_terminator() const;
    // The file ends with a record "Q".
    bool is_quit() const;
    // A record without any field (blank line or comment only).
    bool blank() const;
};

// Splits one line into fields. Throws RawError on an unterminated quote.
RawRecord split_record(std::string_view line, int line_number);

// The lines of a RAW file, read record by record.
class RawLines {
public:
    explicit RawLines(const std::string& text);

    bool at_end() const { return next_ >= lines_.size(); }
    int line_number() const { return static_cast<int>(next_) + 1; }
    // The next line as written (without its line end); for heading lines.
    std::string raw_line();
    // The next data record, skipping "@!" annotation lines and blank lines; nullopt at the
    // end of the text.
    std::optional<RawRecord> next_record();
    // Like next_record, but the end of the text is a fault: "expected <what>".
    RawRecord require_record(const std::string& what);

private:
    std::vector<std::string_view> lines_;
    std::size_t next_ = 0;
};

// Typed, positional access to the fields of one record. A missing or empty field gives the
// default; a field that is there but not of the expected kind is a RawError naming the field
// and the record kind.
class FieldReader {
public:
    FieldReader(const RawRecord& record, std::string kind) : record_(record), kind_(std::move(kind)) {}

    int integer(const char* name, int fallback);
    int required_integer(const char* name);
    double real(const char* name, double fallback);
    std::string text(const char* name, const std::string& fallback);  // trimmed
    void skip(std::size_t count = 1) { next_ += count; }
    std::size_t position() const { return next_; }
    std::size_t size() const { return record_.fields.size(); }
    bool has_more() const;
    int line() const { return record_.line; }

private:
    const RawField* take();
    [[noreturn]] void fail(const char* name, const char* expected) const;

    const RawRecord& record_;
    std::string kind_;
    std::size_t next_ = 0;
};

// Parses a whole integer (accepting "3", "3.0", "+3"); nullopt when the text is none.
std::optional<int> parse_integer(std::string_view text);
// Parses a real, accepting Fortran "D" exponents; nullopt when the text is none.
std::optional<double> parse_real(std::string_view text);

}  // namespace gridfold::pf::io
