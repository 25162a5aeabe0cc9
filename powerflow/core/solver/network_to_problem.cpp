#include "core/solver/network_to_problem.hpp"

#include "core/controls/facts_devices.hpp"
#include "core/controls/vsc_dc_line.hpp"
#include "core/model/elements/solution_hooks.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace gridfold::pf {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
// The kinds whose elements stamp admittances and add injections, in the order their
// contributions are summed: the admittance matrix and the injections depend on that order in
// their last bits, and a case solved again must give the same voltages to the bit.
template <class Each>
void for_each_stamped_kind(const Network& net, Each each) {
    each(net.branches);
    each(net.transformers);
    each(net.facts_devices);
    each(net.loads);
    each(net.fixed_shunts);
    each(net.induction_machines);
    each(net.switched_shunts);
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
        if (std::isfinite(mean.real()) && std::isfinite(mean.imag()) && std::abs(mean) > 0.0)
            p.v_start[star.bus] = mean;
    }
}

}  // namespace

DerivedProblem build_ac_problem(const Network& net, bool adjust_shunts) {
    DerivedProblem d;
    const int nb = static_cast<int>(net.buses.size());
    const double sbase = net.system.sbase_mva > 0.0 ? net.system.sbase_mva : 100.0;

    // In-service buses: not isolated, and star points only of in-service three-winding transformers.
    std::vector<uint8_t> live(nb, 0);
    for (int i = 0; i < nb; ++i) live[i] = net.buses[i].ide != kIsolatedBus && !net.buses[i].star_point;
    std::vector<std::vector<int>> adjacent(nb);
    BusLinks links(net, live, adjacent);
    // Connectivity over the in-service series elements whose ends are both in service (the
    // star point of a three-winding transformer comes into service with its windings).
    for (const auto& br : net.branches) join_buses(br, links);
    for (const auto& dev : net.facts_devices) join_buses(dev, links);
    for (const auto& tr : net.transformers) join_buses(tr, links);

    // Machines by bus, and what each bus can offer as an island reference.
    std::vector<std::vector<int>> machines_at(nb);
    for (int m = 0; m < static_cast<int>(net.machines.size()); ++m) {
        const auto& mc = net.machines[m];
        const int b = links.live_bus(mc.bus);
        if (mc.status != 0 && b >= 0) machines_at[b].push_back(m);
    }
    std::vector<const Plant*> plant_at(nb, nullptr);
    for (const auto& pl : net.plants) {
        const int b = links.index_of(pl.bus);
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
    std::vector<int> merged_at(nb, -1);  // the winding merged into each star point
    for (const auto& tr : net.transformers) {
        if (tr.status == 0 || !tr.three_winding()) continue;
        const int star = links.index_of(tr.star_bus);
        if (star >= 0 && solved_bus[star]) merged_at[star] = merged_winding(tr, links, sbase);
    }

    d.problem_bus.assign(nb, -1);
    for (int i = 0; i < nb; ++i)
        if (solved_bus[i] && merged_at[i] < 0) {
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
    const SolutionContext at(net, sbase, d.problem_bus, solved_bus, merged_at);

    AdmittanceStamps yb(n);
    // Two entries off the diagonal per branch and winding, and the diagonal.
    yb.triplets.reserve(static_cast<size_t>(n) +
                        2 * (net.branches.size() + net.facts_devices.size() + 3 * net.transformers.size()));
    for (int k = 0; k < n; ++k) {
        const Bus& bus = net.buses[d.network_bus[k]];
        p.v_case[k] = std::polar(bus.vm_pu, bus.va_deg * kDeg);
        p.v_start[k] = std::polar(bus.vm_pu > 0.0 ? bus.vm_pu : 1.0, bus.va_deg * kDeg);
    }

    // Every element's admittances and injections, kind by kind.
    BusInjections injections{p.s_power, p.s_current};
    for_each_stamped_kind(net, [&](const auto& elements) {
        for (const auto& element : elements) {
            stamp_admittances(element, at, yb);
            add_injections(element, at, injections);
        }
    });
    d.merged_stars = std::move(yb.merged_stars);
    d.star_starts = std::move(yb.star_starts);

    // Switched shunts in voltage-control modes listed for adjustment when asked.
    for (int s = 0; adjust_shunts && s < static_cast<int>(net.switched_shunts.size()); ++s) {
        ShuntControl sc;
        if (!shunt_control(net.switched_shunts[s], at, sc)) continue;
        p.shunt_controls.push_back(std::move(sc));
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
            if (machine_regulates(mc) && net.buses[b].ide != kLoadBus)
                c.regulating.push_back(m);
            else
                p.s_power[k] += Complex(0.0, fixed_reactive_output(mc)) / sbase;
        }
        if (c.regulating.empty()) continue;
        if (const Plant* pl = plant_at[b]) {
            c.vs = pl->vs_pu;
            if (pl->ireg != 0 && pl->ireg != net.buses[b].number) {
                const int r = at.bus(pl->ireg);
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
            const ReactiveLimits limits = reactive_limits(net.machines[m]);
            vc.q_max_pu += limits.max_mvar / sbase;
            vc.q_min_pu += limits.min_mvar / sbase;
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

    // Every bus has its diagonal entry, zero or not, so that the pattern holds each bus.
    for (int k = 0; k < n; ++k) yb.triplets.emplace_back(k, k, yb.diagonal[static_cast<std::size_t>(k)]);
    yb.diagonal = {};
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
    if (d.unit_of_angle.size() != static_cast<size_t>(p.n)) {
        d.unit_angle_deg.assign(p.n, std::nan(""));
        d.unit_of_angle.assign(p.n, Complex());
    }
    for (int k = 0; k < p.n; ++k) {
        const Bus& bus = net.buses[d.network_bus[k]];
        // Most angles are those of the last solution: their unit phasor is kept.
        if (!(bus.va_deg == d.unit_angle_deg[k])) {
            d.unit_angle_deg[k] = bus.va_deg;
            d.unit_of_angle[k] = std::polar(1.0, bus.va_deg * kDeg);
        }
        const Complex unit = d.unit_of_angle[k];
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
