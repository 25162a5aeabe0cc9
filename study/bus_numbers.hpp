// Bus numbers and the reserved range that renumbered buses are given.
#pragma once

#include <cstdint>

namespace gridfold::study {

using BusNumber = std::int64_t;

// Buses of a small case that collide with the main case move into this range.
inline constexpr BusNumber kFirstNewBusNumber = 900000;
inline constexpr BusNumber kLastNewBusNumber = 999999;

// The engine numbers its internal buses (star points of three-winding transformers) above this.
inline constexpr BusNumber kHighestUserBusNumber = 999999;

}  // namespace gridfold::study
