#include "study/renumber_search.hpp"

#include <algorithm>
#include <unordered_set>

namespace gridfold::study {

namespace {

std::string exhausted_message(BusNumber bus, BusNumber first_colliding_bus) {
    return "bus renumbering: no free bus number is left from " + std::to_string(kFirstNewBusNumber) + " to " +
           std::to_string(kLastNewBusNumber) + " for bus " + std::to_string(bus) +
           " of the small case whose first colliding bus is " + std::to_string(first_colliding_bus) +
           "; the main case, the small case and the numbers already given use all of them";
}

}  // namespace

BusNumberRangeExhausted::BusNumberRangeExhausted(BusNumber bus_, BusNumber first_colliding_bus_)
    : std::runtime_error(exhausted_message(bus_, first_colliding_bus_)),
      bus(bus_),
      first_colliding_bus(first_colliding_bus_) {}

std::vector<BusRenumbering> choose_new_bus_numbers(const std::vector<BusNumber>& main_buses,
                                                   const std::vector<BusNumber>& small_buses,
                                                   std::optional<BusNumber> connecting_bus) {
    const std::unordered_set<BusNumber> main_set(main_buses.begin(), main_buses.end());
    const std::unordered_set<BusNumber> small_set(small_buses.begin(), small_buses.end());
    std::unordered_set<BusNumber> given;  // new numbers handed out so far
    std::vector<BusRenumbering> result;

    const auto taken = [&](BusNumber n) {
        return main_set.count(n) != 0 || given.count(n) != 0 || small_set.count(n) != 0;
    };
    constexpr BusNumber range_size = kLastNewBusNumber - kFirstNewBusNumber + 1;

    std::optional<BusNumber> first_colliding_bus;
    BusNumber new_number = kFirstNewBusNumber;
    for (const BusNumber bus : small_buses) {
        if (connecting_bus && bus == *connecting_bus) continue;  // shared by both cases
        if (main_set.count(bus) == 0) continue;                  // keeps its number
        if (!first_colliding_bus) first_colliding_bus = bus;
        // A bus listed twice is searched again like any other; its entry keeps its place
        // in the map and takes the number found last.
        BusNumber tested = 0;
        while (taken(new_number)) {
            if (++tested == range_size) throw BusNumberRangeExhausted(bus, *first_colliding_bus);
            new_number = new_number == kLastNewBusNumber ? kFirstNewBusNumber : new_number + 1;
        }
        given.insert(new_number);
        const auto earlier =
            std::find_if(result.begin(), result.end(), [&](const BusRenumbering& r) { return r.old_number == bus; });
        if (earlier != result.end()) {
            earlier->new_number = new_number;
        } else {
            result.push_back({bus, new_number});
        }
    }
    return result;
}

}  // namespace gridfold::study
