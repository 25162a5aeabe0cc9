#include "core/model/elements/machine.hpp"

#include <cmath>

#include "core/model/network.hpp"
#include "core/model/identifiers.hpp"
#include "core/model/model_edit.hpp"
#include "core/model/units.hpp"

namespace gridfold::pf {

int check_plant(const Network& net, const Plant& p) {
    if (p.nreg < 0) return kInvalidCode;
    if (!bus_or_zero(net, p.ireg)) return kBusNotFound;
    if (!std::isfinite(p.rmpct) || p.rmpct < 0.0 || !within(p.vs_pu, kMinScheduledVoltagePu, kMaxScheduledVoltagePu))
        return kInvalidValue;
    return kOk;
}

int check_machine(const Network& net, const Machine& m) {
    if (!find_plant(net, m.bus)) return kPlantMissing;
    if (!flag(m.status) || !in_range(m.wmod, 0, 4) || !in_range(m.baslod, 0, 3)) return kInvalidCode;
    if (int r = check_owners(m.owners)) return r;
    if (!finite({m.pg_mw, m.qg_mvar, m.qt_mvar, m.qb_mvar, m.pt_mw, m.pb_mw, m.mbase_mva, m.zr_pu, m.zx_pu,
                 m.rt_pu, m.xt_pu, m.gtap_pu, m.wpf}))
        return kInvalidValue;
    if (!within(m.mbase_mva, kMinBaseMva, kMaxBaseMva) || !within(m.gtap_pu, kMinRatioPu, kMaxRatioPu))
        return kInvalidValue;
    if (!normalize_name(m.name, kMaxNameLength)) return kInvalidIdentifier;
    return kOk;
}

bool machine_regulates(const Machine& m) { return m.wmod != 3 && m.wmod != 4; }

namespace {

// Whether WPF is a power factor the renewable modes can use.
bool usable_power_factor(const Machine& m) { return std::abs(m.wpf) > 0.0 && std::abs(m.wpf) <= 1.0; }

// Reactive power (Mvar, not negative) that the power factor |WPF| gives at PG.
double power_factor_q(const Machine& m) { return std::abs(m.pg_mw) * std::tan(std::acos(std::abs(m.wpf))); }

}  // namespace

double fixed_reactive_output(const Machine& m) {
    if (m.wmod == 3 && usable_power_factor(m)) {
        const double q = power_factor_q(m);
        return m.wpf < 0.0 ? -q : q;
    }
    return m.qg_mvar;
}

ReactiveLimits reactive_limits(const Machine& m) {
    if (m.wmod == 2 && usable_power_factor(m)) {
        const double q = power_factor_q(m);
        return {q, -q};
    }
    return {m.qt_mvar, m.qb_mvar};
}

}  // namespace gridfold::pf
