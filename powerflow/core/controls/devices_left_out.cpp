#include "core/controls/devices_left_out.hpp"

namespace gridfold::pf {

void report_devices_left_out(const Network& net, int area_interchange, const std::string& name,
                             const std::function<void(const std::string&)>& say) {
    auto left_out = [&](const std::string& device) { say(name + " " + device + " not modelled, left out of the solution"); };
    for (const auto& mtdc : net.multi_terminal_dc_lines)
        if (mtdc.mdc != 0) left_out("multi-terminal dc line '" + mtdc.name + "'");
    for (const auto& facts : net.facts_devices)
        if (facts.mode != 0) left_out("FACTS device '" + facts.name + "'");
    for (const auto& gne : net.gne_devices)
        if (gne.status != 0) left_out("GNE device '" + gne.name + "'");
    if (area_interchange > 0)
        for (const auto& area : net.areas)
            if (area.isw != 0)
                say(name + " area " + std::to_string(area.number) + " interchange schedule not held: its slack bus " +
                    std::to_string(area.isw) + " is not moved");
}

}  // namespace gridfold::pf
