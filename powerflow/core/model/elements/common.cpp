#include "core/model/elements/common.hpp"

#include <cmath>

#include "core/model/network.hpp"

namespace gridfold::pf {

int check_owners(const Owners& owners) {
    for (const auto& o : owners) {
        if (!in_range(o.owner, 0, 9999)) return kInvalidCode;
        if (!std::isfinite(o.fraction) || o.fraction < 0.0) return kInvalidValue;
    }
    return kOk;
}

int check_ratings(const Ratings& ratings) {
    for (int k = 0; k < kRatingCount; ++k)
        if (!std::isfinite(ratings[k]) || ratings[k] < 0.0) return kInvalidValue;
    return kOk;
}

bool bus_or_zero(const Network& net, int number) { return number == 0 || net.bus(number) != nullptr; }

bool bus_reference_ok(const Network& net, int number, bool zero_allowed) {
    if (number == 0) return zero_allowed;
    const Bus* bus = net.bus(number);
    return bus && !bus->star_point;
}

Owners default_owners(int owner) {
    Owners owners{};
    owners[0].owner = owner;
    return owners;
}

}  // namespace gridfold::pf
