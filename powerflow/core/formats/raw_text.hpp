// Lines, fields and numbers of RAW case text.
//
// The format as found in the wild: fields separated by commas, blanks or both; quoted text
// (single or double quotes) that may hold commas, slashes and blanks; '/' starting a comment
// outside quotes; "@!" lines that only annotate; CRLF or LF line ends. Fields are views into
// the text, so that a whole case is split without copying it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gridfold::pf::formats {

// A fault in the text: the 1-based line and what is wrong there.
struct TextError {
    int line;
    std::string what;
};

struct FieldView {
    std::string_view text;  // without quotes
    bool quoted = false;
    bool empty() const { return !quoted && text.empty(); }
};

// A line holding more fields than any record kind is refused before its fields are stored,
// so that a corrupted line cannot exhaust memory.
inline constexpr std::size_t kMaxFieldsPerLine = 256;

// The fields of one line, in place: a line's fields are taken millions of times in a large
// case, and a growing container's checks on every field cost a noticeable part of a read.
class FieldList {
public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool full() const { return size_ == kMaxFieldsPerLine; }
    const FieldView& operator[](std::size_t i) const { return fields_[i]; }
    void clear() { size_ = 0; }
    // The caller checks full() first.
    void push_back(const FieldView& field) { fields_[size_++] = field; }

private:
    std::array<FieldView, kMaxFieldsPerLine> fields_{};
    std::size_t size_ = 0;
};

struct TextLine {
    int number = 0;            // 1-based line number
    FieldList fields;          // comment removed
    std::string_view comment;  // text after '/', trimmed

    // A section ends with the single field 0 ("0 / END OF ...").
    bool is_terminator() const { return fields.size() == 1 && !fields[0].quoted && fields[0].text == "0"; }
    // The file ends with the record Q.
    bool is_quit() const {
        return fields.size() == 1 && !fields[0].quoted && (fields[0].text == "Q" || fields[0].text == "q");
    }
};

// Reads text line by line in one pass.
class TextLines {
public:
    explicit TextLines(std::string_view text);

    int line_number() const { return line_number_; }
    bool at_end() const { return pos_ >= text_.size(); }
    // The next physical line (line end removed); nullopt at the end of the text.
    std::optional<std::string_view> raw_line();
    // The next line holding fields ("@!" and blank lines skipped), split into `line`; false
    // at the end of the text.
    bool next(TextLine& line);
    // The text not read yet.
    std::string_view rest() const { return pos_ < text_.size() ? text_.substr(pos_) : std::string_view(); }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int line_number_ = 0;
};

// Splits one line into `line` (its storage reused). Throws TextError on an unterminated
// quote, a control character or more than kMaxFieldsPerLine fields.
void split_line(std::string_view raw, int number, TextLine& line);

// Whole integer of the text ("3", "+3", and "3.0" from tools that write integers as reals);
// nullopt when the text is not one or does not fit in 64 bits.
std::optional<long long> parse_integer(std::string_view text);
// Finite real of the text, accepting Fortran "D" exponents; nullopt when it is none.
std::optional<double> parse_real(std::string_view text);

// Text built by appending, with room made in large steps, so that an append is a bounds check
// and a copy: a whole case is written into one of these. Its storage is left uninitialised,
// so that only the pages written to are ever touched.
class TextBuffer {
public:
    explicit TextBuffer(std::size_t capacity) {
        if (capacity > 0) grow(capacity);
    }
    // Room for n more characters at the end, taken with advance().
    char* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - at_) < n) make_room(n);
        return at_;
    }
    void advance(char* end) { at_ = end; }
    TextBuffer& operator+=(char c) {
        *room(1) = c;
        ++at_;
        return *this;
    }
    TextBuffer& operator+=(std::string_view text) {
        char* to = room(text.size());
        if (!text.empty()) std::memcpy(to, text.data(), text.size());
        at_ = to + text.size();
        return *this;
    }
    // The text; the buffer is empty afterwards.
    std::string take();
    // The text written so far.
    std::string_view view() const { return std::string_view(storage_.get(), used()); }
    // Empties the buffer and makes room for `capacity` characters, keeping the storage it has:
    // a buffer used again and again keeps its pages mapped. A draining buffer keeps its size.
    void restart(std::size_t capacity) {
        at_ = storage_.get();
        if (!drain_) room(capacity);
    }
    // While a drain is set, the text written so far goes to it whenever the room left runs
    // short, and the buffer starts again from its beginning instead of growing: a text of any
    // length then passes through a buffer of the size it has (or of the longest single
    // append). Callers hold no pointer into the buffer across a call of room(). An empty drain
    // ends draining.
    void drain_into(std::function<void(std::string_view)> drain) { drain_ = std::move(drain); }
    // Sends the text written so far to the drain and empties the buffer.
    void drain() {
        if (drain_ && used() > 0) drain_(view());
        at_ = storage_.get();
    }

private:
    void make_room(std::size_t n);  // drains, or grows when that leaves too little room
    void grow(std::size_t n);       // room for n more at least, in doubling steps
    std::size_t used() const { return static_cast<std::size_t>(at_ - storage_.get()); }
    std::unique_ptr<char[]> storage_;
    std::size_t capacity_ = 0;
    char* at_ = nullptr;
    char* end_ = nullptr;
    std::function<void(std::string_view)> drain_;
};

// Room write_real and write_integer need at most.
inline constexpr std::size_t kMaxNumberChars = 32;
// Writes at `at` the shortest text that reads back to the same double ("0.0" for both zeros,
// and a decimal point or exponent always present so that a real never reads as an integer);
// returns the end.
char* write_real(char* at, double value);
char* write_integer(char* at, long long value);
void append_real(TextBuffer& out, double value);
void append_real(std::string& out, double value);
void append_integer(TextBuffer& out, long long value);
// Quoted text; text holding a single quote is written between double quotes.
void append_quoted(TextBuffer& out, std::string_view text);

}  // namespace gridfold::pf::formats
