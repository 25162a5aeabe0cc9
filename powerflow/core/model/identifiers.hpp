// Element identifiers and names as the engine stores them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace gridfold::pf {

inline constexpr std::size_t kMaxIdentifierLength = 2;  // load, machine, shunt ids; circuits
inline constexpr std::size_t kMaxBusNameLength = 12;
inline constexpr std::size_t kMaxNameLength = 40;
inline constexpr std::size_t kMaxVectorGroupLength = 12;

// Identifier as stored: surrounding blanks removed, "1" when nothing is left. Empty result
// (nullopt) when the identifier is too long or holds a character a case file cannot carry.
std::optional<std::string> normalize_identifier(std::string_view id);

// The first `count` characters of UTF-8 text (never a part of a character).
std::string_view leading_characters(std::string_view text, std::size_t count);

// Name as stored: trailing blanks removed. nullopt when longer than max_length or holding a
// quote or a control character.
std::optional<std::string> normalize_name(std::string_view name, std::size_t max_length);

}  // namespace gridfold::pf
