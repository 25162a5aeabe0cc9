#include "core/model/elements/transformer.hpp"

#include <cmath>

#include "core/model/elements/solution_hooks.hpp"
#include "core/model/identifiers.hpp"
#include "core/model/transformer_values.hpp"
#include "core/model/units.hpp"
#include "core/solver/branch_model.hpp"

namespace gridfold::pf {

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

// cw: how WINDV is given (1 pu of the bus base, 2 kV, 3 pu of NOMV).
int check_winding(const Network& net, const Winding& w, int cw) {
    if (!finite({w.windv, w.nomv_kv, w.ang_deg, w.rma, w.rmi, w.vma, w.vmi, w.cr_pu, w.cx_pu, w.cnxa_deg}))
        return kInvalidValue;
    const bool ratio_ok = cw == 2 ? within(w.windv, kMinVoltageKv, kMaxVoltageKv)
                                  : within(w.windv, kMinRatioPu, kMaxRatioPu);
    if (!ratio_ok || !zero_or_within(w.nomv_kv, kMinVoltageKv, kMaxVoltageKv) ||
        !magnitude_within(w.ang_deg, kMaxPhaseShiftDeg))
        return kInvalidValue;
    if (int r = check_ratings(w.ratings)) return r;
    if (!in_range(w.cod, -5, 5) || !in_range(w.ntp, 2, 9999) || w.tab < 0 || w.node < 0) return kInvalidCode;
    if (w.cont != 0 && !net.bus(std::abs(w.cont))) return kBusNotFound;
    return kOk;
}

// Transformer winding between bus `from` (winding side, complex ratio tap_from with phase
// shift) and bus `to` (complex ratio tap_to: 1 for a star point, the merged winding's ratio
// when the star point is joined to a winding bus), series admittance y, magnetising
// admittance ymag at the winding bus. Ideal ratios on each side of the series impedance.
void add_transformer_two_port(AdmittanceStamps& stamps, int from, int to, Complex tap_from, Complex tap_to, Complex y,
                              Complex ymag) {
    const double shift = std::arg(tap_from) - std::arg(tap_to);
    if (shift != 0.0) stamps.shifts.emplace_back(from, to, -shift);
    const TwoPortEntries e = transformer_two_port(tap_from, tap_to, y, ymag);
    stamps.two_port(from, to, e.ff, e.ft, e.tf, e.tt);
    stamps.dc(from, to, y, std::abs(tap_from) * std::abs(tap_to), shift);
}

}  // namespace

int check_transformer(const Network& net, const Transformer& t) {
    const bool three = t.three_winding();
    const int windings = three ? 3 : 2;
    for (int w = 0; w < windings; ++w) {
        if (!valid_bus_number(t.buses[w])) return kInvalidBusNumber;
        if (!net.bus(t.buses[w])) return kBusNotFound;
    }
    if (t.buses[0] == t.buses[1] || (three && (t.buses[2] == t.buses[0] || t.buses[2] == t.buses[1])))
        return kInvalidBusNumber;
    if (!in_range(t.status, 0, three ? 4 : 1)) return kInvalidCode;
    if (t.metbus != t.buses[0] && t.metbus != t.buses[1] && !(three && t.metbus == t.buses[2]))
        return kInvalidBusNumber;
    if (!in_range(t.cw, 1, 3) || !in_range(t.cz, 1, 3) || !in_range(t.cm, 1, 2) || !flag(t.zcod))
        return kInvalidCode;
    if (int r = check_owners(t.owners)) return r;
    if (!finite({t.mag1, t.mag2, t.r12, t.x12, t.sbase12_mva, t.r23, t.x23, t.sbase23_mva, t.r31, t.x31,
                 t.sbase31_mva}))
        return kInvalidValue;
    auto base_ok = [](double mva) { return within(mva, kMinBaseMva, kMaxBaseMva); };
    if (!base_ok(t.sbase12_mva) || (three && (!base_ok(t.sbase23_mva) || !base_ok(t.sbase31_mva))))
        return kInvalidValue;
    // Impedances are judged on the system base, where the solver uses them.
    auto impedance_ok = [&](double r, double x, double sbase_mva) {
        const auto z = impedance_on_system_base(r, x, sbase_mva, t.cz, net.system.sbase_mva);
        return z && all_within({z->real(), z->imag()}, kMaxImpedancePu);
    };
    if (!impedance_ok(t.r12, t.x12, t.sbase12_mva)) return kInvalidValue;
    if (three && (!impedance_ok(t.r23, t.x23, t.sbase23_mva) || !impedance_ok(t.r31, t.x31, t.sbase31_mva)))
        return kInvalidValue;
    const bool magnetising_ok = t.cm == 2 ? magnitude_within(t.mag1, kMaxNoLoadLossW) &&
                                                magnitude_within(t.mag2, kMaxAdmittancePu)
                                          : all_within({t.mag1, t.mag2}, kMaxAdmittancePu);
    if (!magnetising_ok) return kInvalidValue;
    for (int w = 0; w < 3; ++w)
        if (int r = check_winding(net, t.windings[w], t.cw)) return r;
    if (!normalize_name(t.name, kMaxNameLength) || !normalize_name(t.vecgrp, kMaxVectorGroupLength))
        return kInvalidIdentifier;
    return kOk;
}

TwoPortEntries transformer_two_port(Complex tap_from, Complex tap_to, Complex y, Complex ymag) {
    return {y / std::norm(tap_from) + ymag, -y / (std::conj(tap_from) * tap_to), -y / (tap_from * std::conj(tap_to)),
            y / std::norm(tap_to)};
}

WindingAdmittances winding_admittances(const Network& net, const Transformer& tr, int w, double sbase) {
    if (!tr.three_winding()) return {two_winding_admittance(net, tr, sbase), magnetising_on_system_base(tr, sbase)};
    const Complex z = star_impedances(net, tr, sbase)[w];
    return {series_admittance(z.real(), z.imag()), w == 0 ? magnetising_on_system_base(tr, sbase) : Complex(0.0, 0.0)};
}

bool winding_in_service(const Transformer& t, int w) {
    if (t.status == 0) return false;
    if (!t.three_winding()) return true;
    return !((t.status == 2 && w == 1) || (t.status == 3 && w == 2) || (t.status == 4 && w == 0));
}

int merged_winding(const Transformer& tr, const BusLinks& links, double sbase) {
    if (tr.status == 0 || !tr.three_winding()) return -1;
    const auto zw = star_impedances(links.network(), tr, sbase);
    for (int w = 0; w < 3; ++w)
        if (winding_in_service(tr, w) && links.live_bus(tr.buses[w]) >= 0 && std::abs(zw[w]) < kSmallestImpedance)
            return w;
    return -1;
}

void join_buses(const Transformer& tr, BusLinks& links) {
    if (tr.status == 0) return;
    if (!tr.three_winding()) {
        const int f = links.live_bus(tr.buses[0]), t = links.live_bus(tr.buses[1]);
        if (f >= 0 && t >= 0) links.join(f, t);
        return;
    }
    const int star = links.index_of(tr.star_bus);
    if (star < 0) return;
    bool any = false;
    for (int w = 0; w < 3; ++w) {
        const int b = links.live_bus(tr.buses[w]);
        if (b >= 0 && winding_in_service(tr, w)) {
            if (!any) links.set_live(star);
            any = true;
            links.join(star, b);
        }
    }
}

void stamp_admittances(const Transformer& tr, const SolutionContext& at, AdmittanceStamps& stamps) {
    if (tr.status == 0) return;
    const Network& net = at.network;
    const double sbase = at.sbase_mva;
    if (!tr.three_winding()) {
        const int f = at.bus(tr.buses[0]), t = at.bus(tr.buses[1]);
        if (f < 0 || t < 0) return;
        const Complex tap1 = std::polar(winding_ratio_pu(net, tr, 0), tr.windings[0].ang_deg * kDeg);
        const double tap2 = winding_ratio_pu(net, tr, 1);
        add_transformer_two_port(stamps, f, t, tap1, tap2, two_winding_admittance(net, tr, sbase),
                                 magnetising_on_system_base(tr, sbase));
        return;
    }
    const int star_index = at.index_of(tr.star_bus);
    if (star_index < 0 || !at.solved(star_index)) return;
    const int merged = at.merged_winding(star_index);
    const auto zw = star_impedances(net, tr, sbase);
    auto tap_of = [&](int w) { return std::polar(winding_ratio_pu(net, tr, w), tr.windings[w].ang_deg * kDeg); };
    // The star point's own problem bus, or the merged winding's bus behind its ratio.
    int star = at.bus(tr.star_bus);
    Complex star_tap = 1.0;
    if (merged >= 0) {
        star = at.bus(tr.buses[merged]);
        star_tap = tap_of(merged);
        stamps.merged_stars.push_back({star_index, star, star_tap});
    } else {
        StarStart start{star, {}};
        for (int w = 0; w < 3; ++w)
            if (winding_in_service(tr, w) && at.bus(tr.buses[w]) >= 0)
                start.windings.emplace_back(at.bus(tr.buses[w]), tap_of(w));
        stamps.star_starts.push_back(std::move(start));
    }
    for (int w = 0; w < 3; ++w) {
        const int b = at.bus(tr.buses[w]);
        if (b < 0 || !winding_in_service(tr, w)) continue;
        const Complex ymag = w == 0 ? magnetising_on_system_base(tr, sbase) : Complex(0.0, 0.0);
        if (w == merged) {
            stamps.add(b, b, ymag);
            continue;
        }
        // A winding's share of the star may have a negative resistance or reactance; only a
        // vanishing impedance is replaced.
        add_transformer_two_port(stamps, b, star, tap_of(w), star_tap, series_admittance(zw[w].real(), zw[w].imag()),
                                 ymag);
    }
}

}  // namespace gridfold::pf
