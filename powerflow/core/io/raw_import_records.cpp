// Record-level reading of RAW text (see raw_import_records.hpp).
#include "core/io/raw_import_records.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace gridfold::pf::io {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string trim(std::string_view s) {
    std::size_t begin = 0, end = s.size();
    while (begin < end && is_blank(s[begin])) ++begin;
    while (end > begin && is_blank(s[end - 1])) --end;
    return std::string(s.substr(begin, end - begin));
}

}  // namespace

bool RawRecord::is_terminator() const {
    if (fields.empty() || fields[0].quoted) return false;
    auto value = parse_integer(fields[0].text);
    return value && *value == 0;
}

bool RawRecord::is_quit() const {
    return fields.size() == 1 && !fields[0].quoted && (fields[0].text == "Q" || fields[0].text == "q");
}

bool RawRecord::blank() const { return fields.empty(); }

RawRecord split_record(std::string_view line, int line_number) {
    RawRecord record;
    record.line = line_number;
    std::size_t i = 0, n = line.size();
    bool expecting_field = true;  // after a comma (or at the start) a field may be empty
    while (i < n) {
        char c = line[i];
        if (is_blank(c)) {
            ++i;
        } else if (c == ',') {
            if (expecting_field) record.fields.push_back(RawField{});
            expecting_field = true;
            ++i;
        } else if (c == '/') {
            record.comment = trim(line.substr(i + 1));
            break;
        } else if (c == '\'' || c == '"') {
            std::size_t close = line.find(c, i + 1);
            if (close == std::string_view::npos) {
                throw RawError{line_number, "expected a closing quote " + std::string(1, c)};
            }
            record.fields.push_back(RawField{std::string(line.substr(i + 1, close - i - 1)), true});
            expecting_field = false;
            i = close + 1;
        } else {
            std::size_t start = i;
            while (i < n && !is_blank(line[i]) && line[i] != ',' && line[i] != '/') ++i;
            record.fields.push_back(RawField{std::string(line.substr(start, i - start)), false});
            expecting_field = false;
        }
    }
    return record;
}

RawLines::RawLines(const std::string& text) {
    std::string_view all(text);
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines_.push_back(line);
        pos = end + 1;
    }
}

std::string RawLines::raw_line() {
    if (at_end()) return {};
    return std::string(lines_[next_++]);
}

std::optional<RawRecord> RawLines::next_record() {
    while (!at_end()) {
        std::string_view line = lines_[next_];
        int number = line_number();
        ++next_;
        std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string_view::npos && line.compare(first, 2, "@!") == 0) continue;
        RawRecord record = split_record(line, number);
        if (record.blank()) continue;
        return record;
    }
    return std::nullopt;
}

RawRecord RawLines::require_record(const std::string& what) {
    auto record = next_record();
    if (!record) throw RawError{line_number(), "expected " + what + ", found the end of the file"};
    return *record;
}

std::optional<int> parse_integer(std::string_view text) {
    auto real = parse_real(text);
    if (!real || *real != std::floor(*real) || std::fabs(*real) > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(*real);
}

std::optional<double> parse_real(std::string_view text) {
    std::string s = trim(text);
    if (s.empty()) return std::nullopt;
    for (char& c : s) {
        if (c == 'D' || c == 'd') c = 'E';  // Fortran double-precision exponent
    }
    const char* begin = s.c_str();
    char* end = nullptr;
    double value = std::strtod(begin, &end);
    if (end != begin + s.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

const RawField* FieldReader::take() {
    if (next_ >= record_.fields.size()) {
        ++next_;
        return nullptr;
    }
    const RawField* field = &record_.fields[next_++];
    return field->empty() ? nullptr : field;
}

bool FieldReader::has_more() const {
    for (std::size_t i = next_; i < record_.fields.size(); ++i) {
        if (!record_.fields[i].empty()) return true;
    }
    return false;
}

void FieldReader::fail(const char* name, const char* expected) const {
    throw RawError{record_.line, std::string("expected ") + expected + " for " + name + " (field " +
                                     std::to_string(next_) + " of a " + kind_ + " record)"};
}

int FieldReader::integer(const char* name, int fallback) {
    const RawField* field = take();
    if (!field) return fallback;
    auto value = parse_integer(field->text);
    if (!value) fail(name, "a whole number");
    return *value;
}

int FieldReader::required_integer(const char* name) {
    const RawField* field = take();
    if (!field) fail(name, "a whole number");
    auto value = parse_integer(field->text);
    if (!value) fail(name, "a whole number");
    return *value;
}

double FieldReader::real(const char* name, double fallback) {
    const RawField* field = take();
    if (!field) return fallback;
    auto value = parse_real(field->text);
    if (!value) fail(name, "a number");
    return *value;
}

std::string FieldReader::text(const char* name, const std::string& fallback) {
    (void)name;
    const RawField* field = take();
    if (!field) return fallback;
    return trim(field->text);
}

}  // namespace gridfold::pf::io
