// Lines, fields and numbers of RAW case text (see raw_text.hpp).
#include "core/formats/raw_text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
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

namespace {

// How split_line treats each byte: part of an unquoted field, a separator, the start of a
// comment or of quoted text, or a control character that no text case file holds.
enum CharClass : unsigned char { kFieldChar, kBlankChar, kCommaChar, kSlashChar, kQuoteChar, kControlChar };

constexpr std::array<CharClass, 256> char_classes() {
    std::array<CharClass, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        CharClass k = kFieldChar;
        if ((c < 0x20 && c != '\t') || c == 0x7f)
            k = kControlChar;
        else if (c == ' ' || c == '\t')
            k = kBlankChar;
        else if (c == ',')
            k = kCommaChar;
        else if (c == '/')
            k = kSlashChar;
        else if (c == '\'' || c == '"')
            k = kQuoteChar;
        classes[static_cast<std::size_t>(c)] = k;
    }
    return classes;
}
constexpr std::array<CharClass, 256> kCharClasses = char_classes();

CharClass class_of(char c) { return kCharClasses[static_cast<unsigned char>(c)]; }

// A control character anywhere on the line is reported before any other fault of the line.
void refuse_control_characters(std::string_view raw, int number) {
    for (char c : raw)
        if (class_of(c) == kControlChar) throw TextError{number, "binary data: this is not a text case file"};
}

[[noreturn]] void refuse_long_line(std::string_view raw, int number) {
    refuse_control_characters(raw, number);
    throw TextError{number,
                    "more than " + std::to_string(kMaxFieldsPerLine) + " fields on one line: no record has that many"};
}

}  // namespace

// One pass over the line: each byte is classified once by table lookup.
void split_line(std::string_view raw, int number, TextLine& line) {
    line.number = number;
    line.fields.clear();
    line.comment = {};
    const char* const begin = raw.data();
    const char* const end = begin + raw.size();
    const char* p = begin;
    bool expecting_field = true;  // at the start or after a comma a field may be empty
    auto push = [&](FieldView field) {
        if (line.fields.full()) refuse_long_line(raw, number);
        line.fields.push_back(field);
    };
    while (p < end) {
        switch (class_of(*p)) {
            case kBlankChar:
                ++p;
                continue;
            case kCommaChar:
                if (expecting_field) push(FieldView{});
                expecting_field = true;
                ++p;
                continue;
            case kSlashChar: {
                const std::string_view rest(p + 1, static_cast<std::size_t>(end - p - 1));
                refuse_control_characters(rest, number);
                line.comment = trim(rest);
                return;
            }
            case kQuoteChar: {
                const char quote = *p;
                const char* close = p + 1;
                while (close < end && *close != quote) {
                    if (class_of(*close) == kControlChar) refuse_control_characters(raw, number);
                    ++close;
                }
                if (close == end) {
                    refuse_control_characters(raw, number);
                    throw TextError{number, "unterminated quoted text"};
                }
                push(FieldView{std::string_view(p + 1, static_cast<std::size_t>(close - p - 1)), true});
                p = close + 1;
                break;
            }
            case kFieldChar: {
                const char* start = p;
                while (p < end && class_of(*p) == kFieldChar) ++p;
                // A quote inside an unquoted field belongs to the field.
                while (p < end && class_of(*p) == kQuoteChar) {
                    ++p;
                    while (p < end && class_of(*p) == kFieldChar) ++p;
                }
                push(FieldView{std::string_view(start, static_cast<std::size_t>(p - start)), false});
                break;
            }
            case kControlChar:
                refuse_control_characters(raw, number);
        }
        expecting_field = false;
        // A comma directly after a field closes it without opening an empty one.
        while (p < end && class_of(*p) == kBlankChar) ++p;
        if (p < end && *p == ',') {
            expecting_field = true;
            ++p;
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

namespace {

// Plain decimals ("-12.5", "0.0", "3", "1.5e-05") whose digits make an integer below 2^53
// and whose decimal exponent is at most 22 in size: both the digits and the power of ten are
// then exact doubles, so one multiplication or division rounds correctly and gives what
// from_chars gives. Anything else (more digits, "1.", ".5", Fortran exponents) is left to
// the full parser. Most fields of a case take this path.
std::optional<double> exact_plain_decimal(std::string_view text) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    auto digit = [&] { return p < end && *p >= '0' && *p <= '9'; };
    if (!digit()) return std::nullopt;
    std::uint64_t digits = 0;
    int scale = 0;
    int count = 0;  // significant digits taken, at most 18 so that `digits` cannot overflow
    for (; digit(); ++p) {
        if (digits == 0 && *p == '0') continue;
        if (++count > 18) return std::nullopt;
        digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (p < end && *p == '.') {
        ++p;
        if (!digit()) return std::nullopt;
        for (; digit(); ++p) {
            --scale;
            if (digits == 0 && *p == '0') continue;
            if (++count > 18) return std::nullopt;
            digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
        }
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool minus = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) ++p;
        if (!digit()) return std::nullopt;
        int exponent = 0;
        for (; digit(); ++p) {
            exponent = exponent * 10 + (*p - '0');
            if (exponent > 400) return std::nullopt;
        }
        scale += minus ? -exponent : exponent;
    }
    if (p != end || digits > (std::uint64_t{1} << 53) || scale < -22 || scale > 22) return std::nullopt;
    double value = static_cast<double>(digits);
    value = scale < 0 ? value / kPowers[-scale] : value * kPowers[scale];
    return negative ? -value : value;
}

}  // namespace

std::optional<double> parse_real(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    if (auto plain = exact_plain_decimal(text)) return plain;
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

void TextBuffer::make_room(std::size_t n) {
    if (drain_) {
        drain();
        if (static_cast<std::size_t>(end_ - at_) >= n) return;
    }
    grow(n);
}

void TextBuffer::grow(std::size_t n) {
    const std::size_t filled = used();
    const std::size_t capacity = std::max(capacity_ * 2, filled + n);
    std::unique_ptr<char[]> larger(new char[capacity]);  // not value-initialised: no clearing
    if (filled > 0) std::memcpy(larger.get(), storage_.get(), filled);
    storage_ = std::move(larger);
    capacity_ = capacity;
    at_ = storage_.get() + filled;
    end_ = storage_.get() + capacity;
}

std::string TextBuffer::take() {
    std::string text(view());
    storage_.reset();
    capacity_ = 0;
    at_ = end_ = nullptr;
    return text;
}

namespace {

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

int decimal_digits(std::uint64_t n) {
    int count = 1;
    while (n >= 10) {
        n /= 10;
        ++count;
    }
    return count;
}

// Most reals of a case are short decimals (1.05, 0.0025, 345.0). For those the text to_chars
// gives, the shortest that reads back exactly, is found without its general search: with k
// the fewest decimals for which |value| * 10^k is a whole number m below 10^15, m / 10^k reads
// back to the value, no string with fewer significant digits does (it would make m end in 0,
// which is refused), and of the strings with k decimals m is the nearest. to_chars writes
// such a value in fixed notation when that is no longer than the scientific one; the other
// values are left to it (nullptr).
char* write_short_decimal(char* at, double value) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-7 && magnitude < 1e15)) return nullptr;
    for (int k = 0; k <= 15; ++k) {
        const double scaled = magnitude * kPowersOfTen[k];
        if (scaled >= 1e15) return nullptr;
        const auto m = static_cast<std::uint64_t>(scaled);
        if (static_cast<double>(m) != scaled) continue;
        if ((k > 0 && m % 10 == 0) || static_cast<double>(m) / kPowersOfTen[k] != magnitude) return nullptr;
        const int digits = decimal_digits(m);
        int significant = digits;  // without trailing zeros
        for (std::uint64_t rest = m; k == 0 && rest % 10 == 0; rest /= 10) --significant;
        const int exponent = digits - 1 - k;
        const int exponent_digits = std::abs(exponent) >= 100 ? 3 : 2;
        const int scientific = significant + (significant > 1 ? 1 : 0) + 2 + exponent_digits;
        const int fixed = k == 0 ? digits : (digits > k ? digits + 1 : k + 2);
        if (fixed > scientific) return nullptr;
        char* p = at;
        if (value < 0) *p++ = '-';
        char text[16];
        std::to_chars(text, text + sizeof text, m);
        if (k == 0) {
            std::memcpy(p, text, static_cast<std::size_t>(digits));
            std::memcpy(p + digits, ".0", 2);
            return p + digits + 2;
        }
        if (digits > k) {
            std::memcpy(p, text, static_cast<std::size_t>(digits - k));
            p += digits - k;
            *p++ = '.';
            std::memcpy(p, text + digits - k, static_cast<std::size_t>(k));
            return p + k;
        }
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', static_cast<std::size_t>(k - digits));
        p += k - digits;
        std::memcpy(p, text, static_cast<std::size_t>(digits));
        return p + digits;
    }
    return nullptr;
}

}  // namespace

char* write_real(char* at, double value) {
    if (value == 0.0) {  // also folds -0 so that equal cases give equal files
        std::memcpy(at, "0.0", 3);
        return at + 3;
    }
    if (char* end = write_short_decimal(at, value)) return end;
    char* end = std::to_chars(at, at + kMaxNumberChars - 2, value).ptr;
    for (const char* c = at; c < end; ++c)
        if (*c == '.' || *c == 'e' || *c == 'E' || *c == 'n') return end;
    std::memcpy(end, ".0", 2);
    return end + 2;
}

char* write_integer(char* at, long long value) { return std::to_chars(at, at + kMaxNumberChars, value).ptr; }

void append_real(TextBuffer& out, double value) { out.advance(write_real(out.room(kMaxNumberChars), value)); }

void append_integer(TextBuffer& out, long long value) { out.advance(write_integer(out.room(kMaxNumberChars), value)); }

void append_quoted(TextBuffer& out, std::string_view text) {
    const char quote = text.find('\'') == std::string_view::npos ? '\'' : '"';
    out += quote;
    out += text;
    out += quote;
}

void append_real(std::string& out, double value) {
    char buffer[kMaxNumberChars];
    out.append(buffer, write_real(buffer, value));
}

}  // namespace gridfold::pf::formats
