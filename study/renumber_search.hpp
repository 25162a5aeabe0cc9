// Choice of new numbers for the buses of a small case that collide with the main case.
// Plain C++: the Python layer converts bus tables to vectors of numbers and back.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "study/bus_numbers.hpp"

namespace gridfold::study {

struct BusRenumbering {
    BusNumber old_number;
    BusNumber new_number;
};

// Raised when no number of 900000..999999 is free for a colliding bus.
class BusNumberRangeExhausted : public std::runtime_error {
public:
    BusNumberRangeExhausted(BusNumber bus, BusNumber first_colliding_bus);
    BusNumber bus;                  // the bus that found no free number
    BusNumber first_colliding_bus;  // the first bus of the small case that collides
};

// For each bus of `small_buses` (in table order) that the main case also uses, except the
// connecting bus, chooses a new number. The search starts at 900000, wraps from 999999 to
// 900000, and lives across buses: the next colliding bus continues from the last number given.
// A number is free when neither the main case, nor the small case's own bus table, nor an
// earlier choice uses it, so two buses of the merged case can never share a number.
// A bus listed twice is searched again and keeps its first place in the result with the
// number found last. Throws BusNumberRangeExhausted rather than loop.
std::vector<BusRenumbering> choose_new_bus_numbers(const std::vector<BusNumber>& main_buses,
                                                   const std::vector<BusNumber>& small_buses,
                                                   std::optional<BusNumber> connecting_bus);

}  // namespace gridfold::study
