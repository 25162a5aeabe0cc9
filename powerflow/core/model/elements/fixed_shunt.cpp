#include "core/model/elements/fixed_shunt.hpp"

#include "core/model/elements/solution_hooks.hpp"

namespace gridfold::pf {

int check_fixed_shunt(const Network&, const FixedShunt& s) {
    if (!flag(s.status)) return kInvalidCode;
    if (!all_within({s.gl_mw, s.bl_mvar}, kMaxEnteredPowerMw)) return kInvalidValue;
    return kOk;
}

void stamp_admittances(const FixedShunt& sh, const SolutionContext& at, AdmittanceStamps& stamps) {
    const int b = at.bus(sh.bus);
    if (sh.status != 0 && b >= 0) stamps.add(b, b, Complex(sh.gl_mw, sh.bl_mvar) / at.sbase_mva);
}

}  // namespace gridfold::pf
