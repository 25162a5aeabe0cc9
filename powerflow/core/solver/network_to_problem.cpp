#include "core/solver/network_to_problem.hpp"

#include "core/controls/facts_devices.hpp"
#include "core/controls/vsc_dc_line.hpp"
#include "core/solver/branch_model.hpp"

#include "core/model/transformer_values.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <tuple>

namespace gridfold::pf {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
// Collects the admittance matrix as triplets; every bus gets a diagonal entry so that the
// Jacobian always holds its diagonal.
struct YBuilder {
    std::vector<Eigen::Triplet<Complex, int>> triplets;
    // Phase shift (radians) from the first bus to the second of each shifting two-port.
    std::vector<std::tuple<int, int, double>> shifts;
    std::vector<DcBranch> dc_branches;
    void add(int i, int j, Complex y) { triplets.emplace_back(i, j, y); }
    // The series admittance y as the linear (dc) model sees it: its susceptance at flat
    // magnitudes, divided by the product of the ratios around it.
    void dc(int f, int t, Complex y, double ratios, double shift) {
        if (f == t) return;
        dc_branches.push_back({f, t, -y.imag() / ratios, shift});
    }
    // Two-port between problem buses f and t with the four admittance entries.
    void two_port(int f, int t, Complex yff, Complex yft, Complex ytf, Complex ytt) {
        add(f, f, yff);
        add(t, t, ytt);
        add(f, t, yft);
        add(t, f, ytf);
    }
};

// Transformer winding between bus `from` (winding side, complex ratio tap_from with phase
// shift) and bus `to` (complex ratio tap_to: 1 for a star point, the merged winding's ratio
// when the star point is joined to a winding bus), series admittance y, magnetising
// admittance ymag at the winding bus. Ideal ratios on each side of the series impedance.
void add_transformer_two_port(YBuilder& yb, int from, int to, Complex tap_from, Complex tap_to, Complex y,
                              Complex ymag) {
    const double shift = std::arg(tap_from) - std::arg(tap_to);
    if (shift != 0.0) yb.shifts.emplace_back(from, to, -shift);
    const TwoPortEntries e = transformer_two_port(tap_from, tap_to, y, ymag);
    yb.two_port(from, to, e.ff, e.ft, e.tf, e.tt);
    yb.dc(from, to, y, std::abs(tap_from) * std::abs(tap_to), shift);
}

bool machine_regulates(const Machine& m) { return m.wmod != 3 && m.wmod != 4; }

// Reactive output of a machine that does not regulate voltage.
double fixed_machine_q(const Machine& m) {
    if (m.wmod == 3 && std::abs(m.wpf) > 0.0 && std::abs(m.wpf) <= 1.0) {
        const double q = std::abs(m.pg_mw) * std::tan(std::acos(std::abs(m.wpf)));
        return m.wpf < 0.0 ? -q : q;
    }
    return m.qg_mvar;
}

// A star point read from a case holds 1 pu at 0 degrees until it is solved; a start from
// there sets it against windings whose buses lie well away from 0 degrees. Such a star
// point starts from the mean of its windings' bus voltages seen through their ratios.
void start_star_points(DerivedProblem& d, const Network& net) {
    AcProblem& p = d.problem;
    for (const auto& star : d.star_starts) {
        if (star.bus < 0 || star.windings.empty()) continue;
        const Bus& bus = net.buses[d.network_bus[star.bus]];
        if (bus.vm_pu != 1.0 || bus.va_deg != 0.0) continue;
        Complex sum = 0.0;
        for (const auto& [b, ratio] : star.windings) sum += p.v_start[b] / ratio;
        const Complex mean = sum / static_cast<double>(star.windings.size());
        if (std::isfinite(mean.real()) && std::isfinite(mean.imag()) && std::abs(mean) > 0.0) p.v_start[star.bus] = mean;
    }
}

}  // namespace

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

DerivedProblem build_ac_problem(const Network& net, bool adjust_shunts) {
    DerivedProblem d;
    const int nb = static_cast<int>(net.buses.size());
    const double sbase = net.system.sbase_mva > 0.0 ? net.system.sbase_mva : 100.0;

    // In-service buses: not isolated, and star points only of in-service three-winding transformers.
    std::vector<uint8_t> live(nb, 0);
    for (int i = 0; i < nb; ++i) live[i] = net.buses[i].ide != kIsolatedBus && !net.buses[i].star_point;
    auto index_of = [&](int number) -> int {
        auto idx = net.bus_index.find(number);
        return idx ? static_cast<int>(*idx) : -1;
    };
    auto live_bus = [&](int number) {
        const int i = index_of(number);
        return i >= 0 && live[i] ? i : -1;
    };

    // Connectivity over in-service branches whose ends are both in service.
    std::vector<std::vector<int>> adjacent(nb);
    auto connect = [&](int a, int b) {
        adjacent[a].push_back(b);
        adjacent[b].push_back(a);
    };
    for (const auto& br : net.branches) {
        const int f = live_bus(br.from_bus), t = live_bus(br.to_bus);
        if (br.status != 0 && f >= 0 && t >= 0) connect(f, t);
    }
    // Series elements of FACTS devices that join their buses by an impedance.
    for (const auto& dev : net.facts_devices) {
        Complex y;
        const int f = live_bus(dev.from_bus), t = live_bus(dev.to_bus);
        if (facts_series_admittance(dev, &y) && f >= 0 && t >= 0) connect(f, t);
    }
    // Windings of three-winding transformers in service, by status code.
    auto winding_on = [](const Transformer& t, int w) { return winding_in_service(t, w); };
    for (const auto& tr : net.transformers) {
        if (tr.status == 0) continue;
        if (!tr.three_winding()) {
            const int f = live_bus(tr.buses[0]), t = live_bus(tr.buses[1]);
            if (f >= 0 && t >= 0) connect(f, t);
            continue;
        }
        const int star = index_of(tr.star_bus);
        if (star < 0) continue;
        bool any = false;
        for (int w = 0; w < 3; ++w) {
            const int b = live_bus(tr.buses[w]);
            if (b >= 0 && winding_on(tr, w)) {
                if (!any) live[star] = 1;
                any = true;
                connect(star, b);
            }
        }
    }

    // Machines by bus, and what each bus can offer as an island reference.
    std::vector<std::vector<int>> machines_at(nb);
    for (int m = 0; m < static_cast<int>(net.machines.size()); ++m) {
        const auto& mc = net.machines[m];
        const int b = live_bus(mc.bus);
        if (mc.status != 0 && b >= 0) machines_at[b].push_back(m);
    }
    std::vector<const Plant*> plant_at(nb, nullptr);
    for (const auto& pl : net.plants) {
        const int b = index_of(pl.bus);
        if (b >= 0 && !plant_at[b]) plant_at[b] = &pl;
    }
    auto regulating_capacity = [&](int b) {
        double cap = 0.0;
        bool any = false;
        for (int m : machines_at[b])
            if (machine_regulates(net.machines[m])) {
                any = true;
                cap += std::max(net.machines[m].pt_mw, 0.0) + 1e-9;
            }
        return any ? cap : -1.0;
    };

    // Islands: breadth-first over live buses. An island keeps its swing buses (type 3 with an
    // in-service machine); without one, the generator bus with the largest active-power
    // capacity of regulating machines takes the swing role; without that, it is not solved.
    std::vector<int> island(nb, -1);
    std::vector<uint8_t> swing(nb, 0);
    std::vector<uint8_t> solved_bus(nb, 0);
    std::vector<int> queue;
    int island_count = 0;
    for (int s = 0; s < nb; ++s) {
        if (!live[s] || island[s] >= 0) continue;
        queue.assign(1, s);
        island[s] = island_count;
        for (size_t q = 0; q < queue.size(); ++q)
            for (int nbh : adjacent[queue[q]])
                if (island[nbh] < 0) {
                    island[nbh] = island_count;
                    queue.push_back(nbh);
                }
        bool has_swing = false;
        int best = -1;
        double best_cap = -1.0;
        for (int b : queue) {
            if (net.buses[b].ide == kSwingBus && !machines_at[b].empty()) {
                swing[b] = 1;
                has_swing = true;
            }
            const double cap = regulating_capacity(b);
            if (cap > best_cap) {
                best_cap = cap;
                best = b;
            }
        }
        if (!has_swing && best >= 0 && best_cap > 0.0) {
            swing[best] = 1;
            has_swing = true;
        }
        if (has_swing) {
            ++d.islands_solved;
            for (int b : queue) solved_bus[b] = 1;
        } else {
            ++d.islands_without_swing;
            for (int b : queue) d.buses_without_swing.push_back(net.buses[b].number);
        }
        ++island_count;
    }

    // A star point one of whose windings has no impedance is that winding's bus seen through
    // the winding's ideal ratio: it is left out of the problem and its voltage follows the bus.
    std::vector<int> merged_winding(net.transformers.size(), -1);
    std::vector<uint8_t> merged_star(nb, 0);
    for (size_t t = 0; t < net.transformers.size(); ++t) {
        const auto& tr = net.transformers[t];
        if (tr.status == 0 || !tr.three_winding()) continue;
        const int star = index_of(tr.star_bus);
        if (star < 0 || !solved_bus[star]) continue;
        const auto zw = star_impedances(net, tr, sbase);
        for (int w = 0; w < 3; ++w)
            if (winding_on(tr, w) && live_bus(tr.buses[w]) >= 0 && std::abs(zw[w]) < kSmallestImpedance) {
                merged_winding[t] = w;
                merged_star[star] = 1;
                break;
            }
    }

    d.problem_bus.assign(nb, -1);
    for (int i = 0; i < nb; ++i)
        if (solved_bus[i] && !merged_star[i]) {
            d.problem_bus[i] = static_cast<int>(d.network_bus.size());
            d.network_bus.push_back(i);
        }
    const int n = static_cast<int>(d.network_bus.size());
    AcProblem& p = d.problem;
    p.n = n;
    p.base_mva = sbase;
    p.s_power = Eigen::VectorXcd::Zero(n);
    p.s_current = Eigen::VectorXcd::Zero(n);
    p.is_swing.assign(n, 0);
    p.v_start.resize(n);
    p.v_case.resize(n);
    p.v_flat_magnitude = Eigen::VectorXd::Ones(n);
    auto pb = [&](int number) {
        const int i = index_of(number);
        return i >= 0 ? d.problem_bus[i] : -1;
    };

    YBuilder yb;
    yb.triplets.reserve(static_cast<size_t>(n) + 4 * (net.branches.size() + 3 * net.transformers.size()));
    for (int k = 0; k < n; ++k) {
        yb.add(k, k, Complex(0.0, 0.0));
        const Bus& bus = net.buses[d.network_bus[k]];
        p.v_case[k] = std::polar(bus.vm_pu, bus.va_deg * kDeg);
        p.v_start[k] = std::polar(bus.vm_pu > 0.0 ? bus.vm_pu : 1.0, bus.va_deg * kDeg);
    }

    // Line branches: pi model with charging split between the ends, plus the line shunts.
    for (const auto& br : net.branches) {
        const int f = pb(br.from_bus), t = pb(br.to_bus);
        if (br.status == 0 || f < 0 || t < 0) continue;
        const Complex y = series_admittance(br.r_pu, br.x_pu);
        const Complex half_b(0.0, br.b_pu / 2.0);
        yb.two_port(f, t, y + half_b + Complex(br.gi_pu, br.bi_pu), -y, -y, y + half_b + Complex(br.gj_pu, br.bj_pu));
        yb.dc(f, t, y, 1.0, 0.0);
    }

    // Transformers.
    for (const auto& tr : net.transformers) {
        if (tr.status == 0) continue;
        if (!tr.three_winding()) {
            const int f = pb(tr.buses[0]), t = pb(tr.buses[1]);
            if (f < 0 || t < 0) continue;
            const Complex tap1 = std::polar(winding_ratio_pu(net, tr, 0), tr.windings[0].ang_deg * kDeg);
            const double tap2 = winding_ratio_pu(net, tr, 1);
            add_transformer_two_port(yb, f, t, tap1, tap2, two_winding_admittance(net, tr, sbase),
                                     magnetising_on_system_base(tr, sbase));
            continue;
        }
        const int star_index = index_of(tr.star_bus);
        if (star_index < 0 || !solved_bus[star_index]) continue;
        const int merged = merged_winding[&tr - net.transformers.data()];
        const auto zw = star_impedances(net, tr, sbase);
        auto tap_of = [&](int w) { return std::polar(winding_ratio_pu(net, tr, w), tr.windings[w].ang_deg * kDeg); };
        // The star point's own problem bus, or the merged winding's bus behind its ratio.
        int star = pb(tr.star_bus);
        Complex star_tap = 1.0;
        if (merged >= 0) {
            star = pb(tr.buses[merged]);
            star_tap = tap_of(merged);
            d.merged_stars.push_back({star_index, star, star_tap});
        } else {
            StarStart start{star, {}};
            for (int w = 0; w < 3; ++w)
                if (winding_on(tr, w) && pb(tr.buses[w]) >= 0) start.windings.emplace_back(pb(tr.buses[w]), tap_of(w));
            d.star_starts.push_back(std::move(start));
        }
        for (int w = 0; w < 3; ++w) {
            const int b = pb(tr.buses[w]);
            if (b < 0 || !winding_on(tr, w)) continue;
            const Complex ymag = w == 0 ? magnetising_on_system_base(tr, sbase) : Complex(0.0, 0.0);
            if (w == merged) {
                yb.add(b, b, ymag);
                continue;
            }
            // A winding's share of the star may have a negative resistance or reactance; only a
            // vanishing impedance is replaced.
            add_transformer_two_port(yb, b, star, tap_of(w), star_tap, series_admittance(zw[w].real(), zw[w].imag()),
                                     ymag);
        }
    }

    for (const auto& dev : net.facts_devices) {
        Complex y;
        const int f = pb(dev.from_bus), t = pb(dev.to_bus);
        if (!facts_series_admittance(dev, &y) || f < 0 || t < 0) continue;
        yb.two_port(f, t, y, -y, -y, y);
        yb.dc(f, t, y, 1.0, 0.0);
    }

    // Loads: constant power, current and admittance parts; distributed generation.
    for (const auto& ld : net.loads) {
        const int b = pb(ld.bus);
        if (ld.status == 0 || b < 0) continue;
        Complex s_const(ld.pl_mw, ld.ql_mvar);
        if (ld.dgenm != 0) s_const -= Complex(ld.dgenp_mw, ld.dgenq_mvar);
        p.s_power[b] -= s_const / sbase;
        p.s_current[b] += Complex(ld.ip_mw, ld.iq_mvar) / sbase;
        // YQ follows the case-file sign: negative for an inductive load, which draws -YQ Mvar.
        yb.add(b, b, Complex(ld.yp_mw, ld.yq_mvar) / sbase);
    }
    for (const auto& sh : net.fixed_shunts) {
        const int b = pb(sh.bus);
        if (sh.status != 0 && b >= 0) yb.add(b, b, Complex(sh.gl_mw, sh.bl_mvar) / sbase);
    }
    // Induction machines: scheduled active power at constant power (drawn by a motor,
    // injected by a generator) and the magnetising branch as a shunt reactance.
    for (const auto& im : net.induction_machines) {
        const int b = pb(im.bus);
        if (im.status == 0 || b < 0) continue;
        const double p_mw = im.scode == 2 ? -std::abs(im.pset_mw) : std::abs(im.pset_mw);
        p.s_power[b] -= Complex(p_mw, 0.0) / sbase;
        if (std::abs(im.xm) > 0.0) yb.add(b, b, Complex(0.0, -1.0 / im.xm) * (im.mbase_mva / sbase));
    }

    // Switched shunts at their present admittance; those in voltage-control modes listed
    // for adjustment when asked.
    for (int s = 0; s < static_cast<int>(net.switched_shunts.size()); ++s) {
        const auto& sw = net.switched_shunts[s];
        const int b = pb(sw.bus);
        if (sw.stat == 0 || b < 0) continue;
        yb.add(b, b, Complex(0.0, sw.binit_mvar / sbase));
        if (!adjust_shunts || (sw.modsw != 1 && sw.modsw != 2)) continue;
        ShuntControl sc;
        sc.bus = b;
        sc.regulated_bus = sw.swreg != 0 ? pb(sw.swreg) : b;
        if (sc.regulated_bus < 0) sc.regulated_bus = b;
        sc.v_low_pu = sw.vswlo;
        sc.v_high_pu = sw.vswhi;
        for (const auto& blk : sw.blocks)
            if (blk.n > 0 && blk.s != 0 && blk.b_mvar != 0.0) {
                sc.steps_pu.push_back(blk.b_mvar / sbase);
                sc.max_steps.push_back(blk.n);
            }
        sc.b_present_pu = sw.binit_mvar / sbase;
        if (sc.steps_pu.empty()) continue;
        p.shunt_controls.push_back(sc);
        d.shunt_of_control.push_back(s);
    }

    // Machines: swing buses take the slack; regulating machines form voltage controls,
    // local controls first so that a remote control never takes a bus already held.
    std::vector<uint8_t> held(n, 0);  // magnitude held by a swing bus or a control
    std::vector<uint8_t> supplying(n, 0);
    for (int k = 0; k < n; ++k) {
        const int b = d.network_bus[k];
        if (!swing[b]) continue;
        p.is_swing[k] = 1;
        held[k] = supplying[k] = 1;
        const double vs = plant_at[b] ? plant_at[b]->vs_pu : net.buses[b].vm_pu;
        p.v_start[k] = std::polar(vs, std::arg(p.v_start[k]));
        p.v_flat_magnitude[k] = vs;
        d.swing_buses.push_back(k);
        d.swing_machines.push_back(machines_at[b]);
        double scheduled = 0.0;
        for (int m : machines_at[b]) scheduled += net.machines[m].pg_mw / sbase;
        p.s_power[k] += Complex(scheduled, 0.0);
        d.swing_scheduled_p_pu.push_back(scheduled);
    }
    struct Candidate {
        int gen, reg;
        double vs;
        std::vector<int> regulating;
    };
    std::vector<Candidate> local, remote;
    for (int k = 0; k < n; ++k) {
        const int b = d.network_bus[k];
        if (swing[b] || machines_at[b].empty()) continue;
        Candidate c{k, k, net.buses[b].vm_pu, {}};
        for (int m : machines_at[b]) {
            const auto& mc = net.machines[m];
            p.s_power[k] += Complex(mc.pg_mw, 0.0) / sbase;
            if (machine_regulates(mc) && net.buses[b].ide != kLoadBus) c.regulating.push_back(m);
            else p.s_power[k] += Complex(0.0, fixed_machine_q(mc)) / sbase;
        }
        if (c.regulating.empty()) continue;
        if (const Plant* pl = plant_at[b]) {
            c.vs = pl->vs_pu;
            if (pl->ireg != 0 && pl->ireg != net.buses[b].number) {
                const int r = pb(pl->ireg);
                if (r >= 0) c.reg = r;
            }
        }
        (c.reg == k ? local : remote).push_back(std::move(c));
    }
    for (const auto& c : local) held[c.gen] = supplying[c.gen] = 1;
    auto add_control = [&](const Candidate& c, int reg) {
        VoltageControl vc;
        vc.gen_bus = c.gen;
        vc.regulated_bus = reg;
        vc.v_set_pu = c.vs;
        vc.q_min_pu = vc.q_max_pu = 0.0;
        for (int m : c.regulating) {
            const auto& mc = net.machines[m];
            double qt = mc.qt_mvar, qb = mc.qb_mvar;
            if (mc.wmod == 2 && std::abs(mc.wpf) > 0.0 && std::abs(mc.wpf) <= 1.0) {
                qt = std::abs(mc.pg_mw) * std::tan(std::acos(std::abs(mc.wpf)));
                qb = -qt;
            }
            vc.q_max_pu += qt / sbase;
            vc.q_min_pu += qb / sbase;
        }
        if (vc.q_min_pu > vc.q_max_pu) std::swap(vc.q_min_pu, vc.q_max_pu);
        p.controls.push_back(vc);
        d.control_machines.push_back(c.regulating);
        p.v_start[reg] = std::polar(c.vs, std::arg(p.v_start[reg]));
        p.v_flat_magnitude[reg] = c.vs;
    };
    for (const auto& c : local) add_control(c, c.gen);
    for (const auto& c : remote) {
        if (!held[c.reg] && !supplying[c.gen]) {
            held[c.reg] = supplying[c.gen] = 1;
            add_control(c, c.reg);
        } else if (!supplying[c.gen] && !held[c.gen]) {
            // The remote bus is already held: the plant holds its own bus instead.
            held[c.gen] = supplying[c.gen] = 1;
            add_control(c, c.gen);
        } else {
            for (int m : c.regulating) p.s_power[c.gen] += Complex(0.0, net.machines[m].qg_mvar) / sbase;
        }
    }
    // VSC converters holding an ac voltage, on the buses the machines left free.
    add_vsc_voltage_controls(net, d, held, supplying);

    // FACTS shunt elements hold voltages where no machine does; set flows become injections.
    add_facts_devices(net, d, held, supplying);

    p.ybus.resize(n, n);
    p.ybus.setFromTriplets(yb.triplets.begin(), yb.triplets.end());
    p.ybus.makeCompressed();
    p.dc_branches = std::move(yb.dc_branches);
    start_star_points(d, net);

    // Flat-start angles: breadth-first from each swing bus over the admittance pattern,
    // adding the phase shift of each shifting two-port crossed.
    std::vector<std::vector<std::pair<int, double>>> shift_of(n);
    for (const auto& [a, b, angle] : yb.shifts) {
        shift_of[a].emplace_back(b, angle);
        shift_of[b].emplace_back(a, -angle);
    }
    p.v_flat_angle = Eigen::VectorXd::Zero(n);
    std::vector<uint8_t> reached(n, 0);
    std::vector<int> order;
    for (int s = 0; s < n; ++s) {
        if (!p.is_swing[s] || reached[s]) continue;
        reached[s] = 1;
        p.v_flat_angle[s] = std::arg(p.v_start[s]);
        order.assign(1, s);
        for (size_t q = 0; q < order.size(); ++q) {
            const int k = order[q];
            for (ComplexSparse::InnerIterator it(p.ybus, k); it; ++it) {
                const int j = static_cast<int>(it.row());
                if (reached[j]) continue;
                // Parallel shifting two-ports carry the same shift (or none can be met):
                // the first one's counts once.
                double angle = p.v_flat_angle[k];
                for (const auto& [other, shift] : shift_of[k])
                    if (other == j) {
                        angle += shift;
                        break;
                    }
                p.v_flat_angle[j] = angle;
                reached[j] = 1;
                order.push_back(j);
            }
        }
    }
    return d;
}

void refresh_voltages(DerivedProblem& d, const Network& net) {
    AcProblem& p = d.problem;
    for (int k = 0; k < p.n; ++k) {
        const Bus& bus = net.buses[d.network_bus[k]];
        const Complex unit = std::polar(1.0, bus.va_deg * kDeg);
        p.v_case[k] = bus.vm_pu * unit;
        p.v_start[k] = (p.is_swing[k] ? p.v_flat_magnitude[k] : bus.vm_pu > 0.0 ? bus.vm_pu : 1.0) * unit;
    }
    for (const auto& c : p.controls)
        p.v_start[c.regulated_bus] = std::polar(c.v_set_pu, std::arg(p.v_start[c.regulated_bus]));
    start_star_points(d, net);
}

std::uint64_t bus_fingerprint(const Network& net) {
    std::uint64_t h = 1469598103934665603ull;
    auto mix = [&h](std::uint64_t x) {
        h ^= x;
        h *= 1099511628211ull;
    };
    for (const auto& b : net.buses) {
        mix(static_cast<std::uint64_t>(b.ide) * 2 + (b.star_point ? 1 : 0));
        mix(std::hash<double>{}(b.base_kv));
        if (b.ide == kSwingBus) mix(std::hash<double>{}(b.va_deg));
    }
    return h;
}

}  // namespace gridfold::pf
