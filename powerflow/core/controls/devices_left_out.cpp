#include "core/controls/devices_left_out.hpp"

#include "core/controls/facts_devices.hpp"
#include "core/model/error_codes.hpp"

namespace gridfold::pf {

void report_devices_left_out(const Network& net, const std::string& name,
                             const std::function<void(const std::string&)>& say) {
    auto left_out = [&](const std::string& device) {
        say(name + " " + device + " not modelled, left out of the solution");
    };
    for (const auto& mtdc : net.multi_terminal_dc_lines)
        if (mtdc.mdc != 0) left_out("multi-terminal dc line '" + mtdc.name + "'");
    // A case file may hold FACTS modes the solution does not model (a data call refuses them).
    for (const auto& facts : net.facts_devices)
        if (facts.mode != 0 && check_facts_mode(facts) != kOk)
            left_out("FACTS device '" + facts.name + "' in mode " + std::to_string(facts.mode) +
                     (facts.to_bus == 0 ? " without a series element" : ""));
    for (const auto& gne : net.gne_devices)
        if (gne.status != 0) left_out("GNE device '" + gne.name + "'");
}

}  // namespace gridfold::pf
