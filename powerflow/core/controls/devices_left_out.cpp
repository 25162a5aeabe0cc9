#include "core/controls/devices_left_out.hpp"

namespace gridfold::pf {

void report_devices_left_out(const Network& net, const std::string& name,
                             const std::function<void(const std::string&)>& say) {
    auto left_out = [&](const std::string& device) { say(name + " " + device + " not modelled, left out of the solution"); };
    for (const auto& dc : net.two_terminal_dc_lines)
        if (dc.mdc != 0) left_out("two-terminal dc line '" + dc.name + "'");
    for (const auto& vsc : net.vsc_dc_lines)
        if (vsc.mdc != 0) left_out("VSC dc line '" + vsc.name + "'");
    for (const auto& mtdc : net.multi_terminal_dc_lines)
        if (mtdc.mdc != 0) left_out("multi-terminal dc line '" + mtdc.name + "'");
    for (const auto& gne : net.gne_devices)
        if (gne.status != 0) left_out("GNE device '" + gne.name + "'");
}

}  // namespace gridfold::pf
