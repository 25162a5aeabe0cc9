#include "core/model/elements/load.hpp"

#include "core/model/elements/solution_hooks.hpp"
#include "core/model/identifiers.hpp"
#include "core/model/units.hpp"

namespace gridfold::pf {

int check_load(const Network&, const Load& l) {
    if (!flag(l.status) || !flag(l.scale) || !flag(l.intrpt) || !flag(l.dgenm) || !in_range(l.area, 1, 9999) ||
        !in_range(l.zone, 1, 9999) || !in_range(l.owner, 1, 9999))
        return kInvalidCode;
    if (!all_within({l.pl_mw, l.ql_mvar, l.ip_mw, l.iq_mvar, l.yp_mw, l.yq_mvar, l.dgenp_mw, l.dgenq_mvar},
                    kMaxEnteredPowerMw))
        return kInvalidValue;
    if (!normalize_name(l.name, kMaxNameLength)) return kInvalidIdentifier;
    return kOk;
}

void stamp_admittances(const Load& ld, const SolutionContext& at, AdmittanceStamps& stamps) {
    const int b = at.bus(ld.bus);
    if (ld.status == 0 || b < 0) return;
    // YQ follows the case-file sign: negative for an inductive load, which draws -YQ Mvar.
    stamps.add(b, b, Complex(ld.yp_mw, ld.yq_mvar) / at.sbase_mva);
}

void add_injections(const Load& ld, const SolutionContext& at, BusInjections& injections) {
    const int b = at.bus(ld.bus);
    if (ld.status == 0 || b < 0) return;
    Complex s_const(ld.pl_mw, ld.ql_mvar);
    if (ld.dgenm != 0) s_const -= Complex(ld.dgenp_mw, ld.dgenq_mvar);
    injections.power[b] -= s_const / at.sbase_mva;
    injections.current[b] += Complex(ld.ip_mw, ld.iq_mvar) / at.sbase_mva;
}

}  // namespace gridfold::pf
