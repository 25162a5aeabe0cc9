// Equipment a case holds that the solution does not model: multi-terminal dc lines, GNE
// devices and FACTS devices in a mode the solution has no model for. The solution names each in a progress line, so
// that nothing a case holds is dropped silently. (Two-terminal and VSC dc lines the solution cannot use are named by
// DcLines.)
#pragma once

#include "core/model/network.hpp"

#include <functional>
#include <string>

namespace gridfold::pf {

// Writes one line per in-service device left out; `name` heads each line.
void report_devices_left_out(const Network& network, const std::string& name,
                             const std::function<void(const std::string&)>& say);

}  // namespace gridfold::pf
