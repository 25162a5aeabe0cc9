#include "core/model/elements/branch.hpp"

#include <utility>

#include "core/model/elements/solution_hooks.hpp"
#include "core/model/identifiers.hpp"
#include "core/model/units.hpp"
#include "core/solver/branch_model.hpp"

namespace gridfold::pf {

int check_branch(const Network& net, const Branch& b) {
    if (!valid_bus_number(b.from_bus) || !valid_bus_number(b.to_bus)) return kInvalidBusNumber;
    if (!net.bus(b.from_bus) || !net.bus(b.to_bus)) return kBusNotFound;
    if (b.from_bus == b.to_bus) return kInvalidBusNumber;
    if (!flag(b.status)) return kInvalidCode;
    if (b.metbus != b.from_bus && b.metbus != b.to_bus) return kInvalidBusNumber;
    if (!in_range(b.stype, 0, 3) || !flag(b.nstat)) return kInvalidCode;
    if (int r = check_owners(b.owners)) return r;
    if (!finite({b.r_pu, b.x_pu, b.b_pu, b.gi_pu, b.bi_pu, b.gj_pu, b.bj_pu, b.length})) return kInvalidValue;
    if (b.r_pu == 0.0 && b.x_pu == 0.0) return kInvalidValue;
    if (!all_within({b.r_pu, b.x_pu}, kMaxImpedancePu) ||
        !all_within({b.b_pu, b.gi_pu, b.bi_pu, b.gj_pu, b.bj_pu}, kMaxAdmittancePu))
        return kInvalidValue;
    if (int r = check_ratings(b.ratings)) return r;
    if (!normalize_name(b.name, kMaxNameLength)) return kInvalidIdentifier;
    return kOk;
}

void reverse(Branch& b) {
    std::swap(b.from_bus, b.to_bus);
    std::swap(b.gi_pu, b.gj_pu);
    std::swap(b.bi_pu, b.bj_pu);
}

void join_buses(const Branch& br, BusLinks& links) {
    const int f = links.live_bus(br.from_bus), t = links.live_bus(br.to_bus);
    if (br.status != 0 && f >= 0 && t >= 0) links.join(f, t);
}

void stamp_admittances(const Branch& br, const SolutionContext& at, AdmittanceStamps& stamps) {
    const int f = at.bus(br.from_bus), t = at.bus(br.to_bus);
    if (br.status == 0 || f < 0 || t < 0) return;
    const TwoPort e = line_two_port(br);
    stamps.two_port(f, t, e.yff, e.yft, e.ytf, e.ytt);
    stamps.dc(f, t, series_admittance(br.r_pu, br.x_pu), 1.0, 0.0);
}

}  // namespace gridfold::pf
