// What several element kinds share: owner slots, rating sets and the helpers of their checks.
// A check returns kOk or the error code of the first value at fault and changes nothing.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>

#include "core/model/error_codes.hpp"
#include "core/model/value_ranges.hpp"

namespace gridfold::pf {

struct Network;

inline constexpr int kOwnerCount = 4;    // owners per branch, transformer and machine
inline constexpr int kRatingCount = 12;  // rating sets per branch and transformer winding

// One owner of an element and the fraction of the element it owns.
struct Ownership {
    int owner = 0;          // owner number, 0 = unused slot
    double fraction = 1.0;  // ownership fraction (the engine does not normalise them)
};
using Owners = std::array<Ownership, kOwnerCount>;
using Ratings = std::array<double, kRatingCount>;  // MVA

inline bool finite(std::initializer_list<double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}
inline bool in_range(int value, int low, int high) { return value >= low && value <= high; }
inline bool all_within(std::initializer_list<double> values, double limit) {
    return std::all_of(values.begin(), values.end(), [limit](double v) { return magnitude_within(v, limit); });
}
inline bool flag(int value) { return value == 0 || value == 1; }

// Owner numbers 0..9999 (0 an unused slot), fractions finite and not negative.
int check_owners(const Owners& owners);
// Ratings finite and not negative.
int check_ratings(const Ratings& ratings);
// A regulated or controlled bus: 0 (none / own bus) or an existing bus.
bool bus_or_zero(const Network& net, int number);
// A bus a record refers to: 0 (none) when zero_allowed, else a bus of the case that is not a
// star point.
bool bus_reference_ok(const Network& net, int number, bool zero_allowed);
// Owner 1 is `owner`, the other slots unused: the owners of a new element.
Owners default_owners(int owner);

}  // namespace gridfold::pf
