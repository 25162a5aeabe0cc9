#include "core/model/elements/induction_machine.hpp"

#include <cmath>

#include "core/model/elements/solution_hooks.hpp"
#include "core/model/identifiers.hpp"
#include "core/model/units.hpp"

namespace gridfold::pf {

int check_induction_machine(const Network&, const InductionMachine& m) {
    if (!flag(m.status) || !in_range(m.scode, 1, 2) || !in_range(m.dcode, 1, 2) || !in_range(m.tcode, 1, 2) ||
        !in_range(m.bcode, 1, 2) || !in_range(m.pcode, 1, 2) || !in_range(m.area, 1, 9999) ||
        !in_range(m.zone, 1, 9999) || !in_range(m.owner, 1, 9999))
        return kInvalidCode;
    if (!finite({m.mbase_mva, m.ratekv, m.pset_mw, m.h, m.a, m.b, m.d, m.e, m.ra, m.xa, m.xm, m.r1, m.x1, m.r2,
                 m.x2, m.x3, m.e1, m.se1, m.e2, m.se2, m.ia1, m.ia2, m.xamult}))
        return kInvalidValue;
    if (!within(m.mbase_mva, kMinBaseMva, kMaxBaseMva) || !zero_or_within(m.ratekv, kMinVoltageKv, kMaxVoltageKv) ||
        !magnitude_within(m.pset_mw, kMaxEnteredPowerMw) ||
        !(m.xm == 0.0 || within(std::fabs(m.xm), kMinMagnetisingReactancePu, kMaxImpedancePu)))
        return kInvalidValue;
    if (!normalize_name(m.name, kMaxNameLength)) return kInvalidIdentifier;
    return kOk;
}

void stamp_admittances(const InductionMachine& im, const SolutionContext& at, AdmittanceStamps& stamps) {
    const int b = at.bus(im.bus);
    if (im.status == 0 || b < 0) return;
    if (std::abs(im.xm) > 0.0) stamps.add(b, b, Complex(0.0, -1.0 / im.xm) * (im.mbase_mva / at.sbase_mva));
}

void add_injections(const InductionMachine& im, const SolutionContext& at, BusInjections& injections) {
    const int b = at.bus(im.bus);
    if (im.status == 0 || b < 0) return;
    const double p_mw = im.scode == 2 ? -std::abs(im.pset_mw) : std::abs(im.pset_mw);
    injections.power[b] -= Complex(p_mw, 0.0) / at.sbase_mva;
}

}  // namespace gridfold::pf
