// Lines, fields and numbers of RAW case text (see raw_text.hpp).
#include "core/formats/raw_text.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace gridfold::pf::formats {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

TextLines::TextLines(std::string_view text) : text_(text) {
    // Text editors on some systems start a file with a byte order mark.
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
}

std::optional<std::string_view> TextLines::raw_line() {
    if (pos_ >= text_.size()) return std::nullopt;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    std::string_view raw = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++line_number_;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    return raw;
}

bool TextLines::next(TextLine& line) {
    while (auto raw = raw_line()) {
        if (raw->substr(0, 2) == "@!") continue;
        split_line(*raw, line_number_, line);
        if (!line.fields.empty()) return true;
    }
    return false;
}

void split_line(std::string_view raw, int number, TextLine& line) {
    line.number = number;
    line.fields.clear();
    line.comment = {};
    for (unsigned char c : raw)
        if ((c < 0x20 && c != '\t') || c == 0x7f) throw TextError{number, "binary data: this is not a text case file"};
    std::size_t i = 0;
    const std::size_t n = raw.size();
    bool expecting_field = true;  // at the start or after a comma a field may be empty
    auto push = [&](FieldView field) {
        if (line.fields.size() >= kMaxFieldsPerLine)
            throw TextError{number, "more than " + std::to_string(kMaxFieldsPerLine) +
                                        " fields on one line: no record has that many"};
        line.fields.push_back(field);
    };
    while (i < n) {
        const char c = raw[i];
        if (is_blank(c)) {
            ++i;
        } else if (c == ',') {
            if (expecting_field) push(FieldView{});
            expecting_field = true;
            ++i;
        } else if (c == '/') {
            line.comment = trim(raw.substr(i + 1));
            break;
        } else if (c == '\'' || c == '"') {
            std::size_t close = raw.find(c, i + 1);
            if (close == std::string_view::npos) throw TextError{number, "unterminated quoted text"};
            push(FieldView{raw.substr(i + 1, close - i - 1), true});
            expecting_field = false;
            i = close + 1;
        } else {
            std::size_t start = i;
            while (i < n && !is_blank(raw[i]) && raw[i] != ',' && raw[i] != '/') ++i;
            push(FieldView{raw.substr(start, i - start), false});
            expecting_field = false;
        }
        // A comma directly after a field closes it without opening an empty one.
        while (i < n && is_blank(raw[i])) ++i;
        if (i < n && raw[i] == ',' && !expecting_field) {
            expecting_field = true;
            ++i;
        }
    }
}

std::optional<long long> parse_integer(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    long long value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto result = std::from_chars(begin, end, value);
    if (result.ec == std::errc() && result.ptr == end && !text.empty()) return value;
    if (result.ec == std::errc::result_out_of_range) return std::nullopt;
    // Integers written as reals (1.0) by other tools are accepted when whole.
    auto real = parse_real(text);
    if (real && std::floor(*real) == *real && std::fabs(*real) < 9.0e18) return static_cast<long long>(*real);
    return std::nullopt;
}

std::optional<double> parse_real(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double value = 0.0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto result = std::from_chars(begin, end, value);
    if (result.ec == std::errc() && result.ptr == end) {
        if (!std::isfinite(value)) return std::nullopt;
        return value;
    }
    // Fortran writers spell the exponent with D.
    std::size_t d = text.find_first_of("dD");
    if (d == std::string_view::npos || text.size() > 64) return std::nullopt;
    std::string copy(text);
    copy[d] = 'e';
    result = std::from_chars(copy.data(), copy.data() + copy.size(), value);
    if (result.ec != std::errc() || result.ptr != copy.data() + copy.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void append_real(std::string& out, double value) {
    if (value == 0.0) {  // also folds -0 so that equal cases give equal files
        out += "0.0";
        return;
    }
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    out += text;
    if (text.find_first_of(".eEn") == std::string_view::npos) out += ".0";
}

void append_integer(std::string& out, long long value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void append_quoted(std::string& out, std::string_view text) {
    const char quote = text.find('\'') == std::string_view::npos ? '\'' : '"';
    out += quote;
    out += text;
    out += quote;
}

}  // namespace gridfold::pf::formats
