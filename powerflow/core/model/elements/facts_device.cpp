#include "core/model/elements/facts_device.hpp"

#include <cmath>

#include "core/model/elements/solution_hooks.hpp"

namespace gridfold::pf {

int check_facts_mode(const FactsDevice& d) {
    if (d.to_bus == 0) return d.mode == 0 || d.mode == 1 ? kOk : kInvalidCode;
    return d.mode >= 0 && d.mode <= 3 ? kOk : kInvalidCode;
}

bool facts_series_admittance(const FactsDevice& d, Complex* y) {
    if (d.to_bus == 0 || (d.mode != 2 && d.mode != 3)) return false;
    const Complex z = d.mode == 2 ? Complex(0.0, d.linx_pu) : Complex(d.set1, d.set2);
    // A bypass without reactance is a jumper.
    *y = std::abs(z) > 1e-6 ? 1.0 / z : 1.0 / Complex(0.0, 1e-4);
    return true;
}

void join_buses(const FactsDevice& dev, BusLinks& links) {
    Complex y;
    const int f = links.live_bus(dev.from_bus), t = links.live_bus(dev.to_bus);
    if (facts_series_admittance(dev, &y) && f >= 0 && t >= 0) links.join(f, t);
}

void stamp_admittances(const FactsDevice& dev, const SolutionContext& at, AdmittanceStamps& stamps) {
    Complex y;
    const int f = at.bus(dev.from_bus), t = at.bus(dev.to_bus);
    if (!facts_series_admittance(dev, &y) || f < 0 || t < 0) return;
    stamps.two_port(f, t, y, -y, -y, y);
    stamps.dc(f, t, y, 1.0, 0.0);
}

}  // namespace gridfold::pf
