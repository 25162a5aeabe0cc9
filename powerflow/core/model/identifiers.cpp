#include "core/model/identifiers.hpp"

namespace gridfold::pf {
namespace {

bool storable(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f || c == '\'' || c == '"') return false;
    return true;
}

// Limits count characters, not bytes: a name of 12 accented letters is 12 characters long,
// though UTF-8 takes 24 bytes for it. Continuation bytes (10xxxxxx) start no character.
std::size_t characters(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

std::string_view trim(std::string_view text) {
    auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string_view leading_characters(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (seen == count) return text.substr(0, i);
        ++seen;
    }
    return text;
}

std::optional<std::string> normalize_identifier(std::string_view id) {
    std::string_view trimmed = trim(id);
    if (trimmed.empty()) return std::string("1");
    if (characters(trimmed) > kMaxIdentifierLength || !storable(trimmed) ||
        trimmed.find(',') != std::string_view::npos || trimmed.find('/') != std::string_view::npos)
        return std::nullopt;
    return std::string(trimmed);
}

std::optional<std::string> normalize_name(std::string_view name, std::size_t max_length) {
    auto last = name.find_last_not_of(' ');
    std::string_view kept = last == std::string_view::npos ? std::string_view{} : name.substr(0, last + 1);
    if (characters(kept) > max_length || !storable(kept)) return std::nullopt;
    return std::string(kept);
}

}  // namespace gridfold::pf
