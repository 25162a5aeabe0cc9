#include "core/model/elements/facts_device.hpp"

#include <cmath>

#include "core/model/elements/solution_hooks.hpp"
#include "core/model/identifiers.hpp"

namespace gridfold::pf {

int check_facts_mode(const FactsDevice& d) {
    if (d.to_bus == 0) return d.mode == 0 || d.mode == 1 ? kOk : kInvalidCode;
    return d.mode >= 0 && d.mode <= 3 ? kOk : kInvalidCode;
}

int check_facts_device(const Network& net, const FactsDevice& f) {
    if (!bus_reference_ok(net, f.from_bus, false) || !bus_reference_ok(net, f.to_bus, true) ||
        !bus_reference_ok(net, f.fcreg, true))
        return kBusNotFound;
    if (f.from_bus == f.to_bus) return kDuplicate;
    if (f.mode < 0 || f.mode > 8 || f.vsref < 0 || f.vsref > 1 || f.owner < 0 || f.owner > 9999) return kInvalidCode;
    // A mode the solution cannot hold is refused here rather than ignored later.
    if (int code = check_facts_mode(f)) return code;
    if (!finite({f.pdes_mw, f.qdes_mvar, f.vset_pu, f.shmx_mva, f.trmx_mw, f.vtmn_pu, f.vtmx_pu, f.vsmx_pu, f.imx_mva,
                 f.linx_pu, f.rmpct, f.set1, f.set2}) ||
        f.vtmn_pu > f.vtmx_pu)
        return kInvalidValue;
    if (!normalize_name(f.mname, kMaxBusNameLength)) return kInvalidIdentifier;
    return kOk;
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
