// What several element kinds share: owner slots, rating sets and the helpers of their checks.
// A check returns kOk or the error code of the first value at fault and changes nothing.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <memory>

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

// Rating sets of a branch or a transformer winding, MVA. Cases fill the first three at most,
// as a rule: the other nine are held apart, and only once one of them is set to something
// other than zero, so that each line and winding of a large case does not carry 72 bytes of
// zeros (some 1.2 MB on a 10,000-bus case).
class Ratings {
public:
    Ratings() = default;
    Ratings(const Ratings& other)
        : first_(other.first_), rest_(other.rest_ ? std::make_unique<Rest>(*other.rest_) : nullptr) {}
    Ratings& operator=(const Ratings& other) {
        if (this != &other) {
            first_ = other.first_;
            rest_ = other.rest_ ? std::make_unique<Rest>(*other.rest_) : nullptr;
        }
        return *this;
    }
    Ratings(Ratings&&) noexcept = default;
    Ratings& operator=(Ratings&&) noexcept = default;

    // Rating set k + 1 (k from 0 to kRatingCount - 1).
    double operator[](int k) const { return k < kHeld ? first_[k] : rest_ ? (*rest_)[k - kHeld] : 0.0; }
    void set(int k, double value) {
        if (k < kHeld) {
            first_[k] = value;
            return;
        }
        // A negative zero is kept as given, so that the case is written back as it was read.
        if (!rest_ && value == 0.0 && !std::signbit(value)) return;
        if (!rest_) rest_ = std::make_unique<Rest>();
        (*rest_)[k - kHeld] = value;
    }

private:
    static constexpr int kHeld = 3;
    using Rest = std::array<double, kRatingCount - kHeld>;
    std::array<double, kHeld> first_{};
    std::unique_ptr<Rest> rest_;
};

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
