// Equipment a case holds that the solution does not model: multi-terminal dc lines, FACTS
// devices, GNE devices, and area interchange schedules when area interchange control is asked
// for. The solution names each in a progress line, so that nothing a case holds is dropped
// silently. (Two-terminal and VSC dc lines the solution cannot use are named by DcLines.)
#pragma once

#include "core/network.hpp"

#include <functional>
#include <string>

namespace gridfold::pf {

// Writes one line per in-service device left out (and per area schedule not held when
// area_interchange > 0); `name` heads each line.
void report_devices_left_out(const Network& network, int area_interchange, const std::string& name,
                             const std::function<void(const std::string&)>& say);

}  // namespace gridfold::pf
