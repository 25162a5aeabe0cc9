#include "core/model/elements/switched_shunt.hpp"

#include "core/model/elements/solution_hooks.hpp"
#include "core/model/identifiers.hpp"
#include "core/model/units.hpp"

namespace gridfold::pf {

int check_switched_shunt(const Network& net, const SwitchedShunt& s) {
    if (!in_range(s.modsw, 0, 6) || !flag(s.adjm) || !flag(s.stat) || s.nreg < 0) return kInvalidCode;
    if (!bus_or_zero(net, s.swreg)) return kBusNotFound;
    if (!finite({s.vswhi, s.vswlo, s.rmpct, s.binit_mvar}) || s.rmpct < 0.0) return kInvalidValue;
    for (const auto& block : s.blocks) {
        if (block.n < 0 || !flag(block.s)) return kInvalidCode;
        if (!magnitude_within(block.b_mvar, kMaxEnteredPowerMw)) return kInvalidValue;
    }
    if (!normalize_name(s.rmidnt, kMaxNameLength) || !normalize_name(s.name, kMaxNameLength))
        return kInvalidIdentifier;
    return kOk;
}

void stamp_admittances(const SwitchedShunt& sw, const SolutionContext& at, AdmittanceStamps& stamps) {
    const int b = at.bus(sw.bus);
    if (sw.stat == 0 || b < 0) return;
    stamps.add(b, b, Complex(0.0, sw.binit_mvar / at.sbase_mva));
}

bool shunt_control(const SwitchedShunt& sw, const SolutionContext& at, ShuntControl& sc) {
    const int b = at.bus(sw.bus);
    if (sw.stat == 0 || b < 0 || (sw.modsw != 1 && sw.modsw != 2)) return false;
    const double sbase = at.sbase_mva;
    sc = ShuntControl{};
    sc.bus = b;
    sc.regulated_bus = sw.swreg != 0 ? at.bus(sw.swreg) : b;
    if (sc.regulated_bus < 0) sc.regulated_bus = b;
    sc.v_low_pu = sw.vswlo;
    sc.v_high_pu = sw.vswhi;
    for (const auto& blk : sw.blocks)
        if (blk.n > 0 && blk.s != 0 && blk.b_mvar != 0.0) {
            sc.steps_pu.push_back(blk.b_mvar / sbase);
            sc.max_steps.push_back(blk.n);
        }
    sc.b_present_pu = sw.binit_mvar / sbase;
    return !sc.steps_pu.empty();
}

}  // namespace gridfold::pf
