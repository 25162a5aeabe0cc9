#include "core/controls/area_interchange.hpp"

#include "core/solver/branch_model.hpp"
#include "core/session/progress.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace gridfold::pf {

namespace {

// Active power (pu) entering a two-port at its first end.
double flow_in(const TwoPort& y, Complex vf, Complex vt) { return (vf * std::conj(y.yff * vf + y.yft * vt)).real(); }

}  // namespace

std::vector<double> area_exports(const Network& net, const DerivedProblem& d, const Eigen::VectorXcd& v,
                                 InterchangeMode mode) {
    const double base = d.problem.base_mva;
    std::unordered_map<int, std::size_t> area_index;
    for (std::size_t a = 0; a < net.areas.size(); ++a) area_index.emplace(net.areas[a].number, a);
    std::vector<double> exports(net.areas.size(), 0.0);
    auto problem_bus = [&](int number) {
        const auto index = net.bus_index.find(number);
        return index ? d.problem_bus[*index] : -1;
    };
    auto area_of = [&](int number) {
        const Bus* bus = net.bus(number);
        return bus ? bus->area : 0;
    };
    auto add = [&](int area, double mw) {
        if (auto it = area_index.find(area); it != area_index.end()) exports[it->second] += mw;
    };
    // A two-port between areas: what enters it at the metered end leaves that end's area and
    // reaches the other's (losses fall to the other end).
    auto tie = [&](int from, int to, int metered, const TwoPort& y) {
        const int area_from = area_of(from), area_to = area_of(to);
        if (area_from == area_to) return;
        const int f = problem_bus(from), t = problem_bus(to);
        if (f < 0 || t < 0) return;
        if (metered == to) {
            const TwoPort reversed{y.ytt, y.ytf, y.yft, y.yff};
            const double p = flow_in(reversed, v[t], v[f]) * base;
            add(area_to, p);
            add(area_from, -p);
        } else {
            const double p = flow_in(y, v[f], v[t]) * base;
            add(area_from, p);
            add(area_to, -p);
        }
    };
    for (const auto& br : net.branches)
        if (br.status != 0) tie(br.from_bus, br.to_bus, br.metbus, line_two_port(br));
    for (const auto& tr : net.transformers) {
        if (tr.status == 0) continue;
        if (!tr.three_winding()) {
            tie(tr.buses[0], tr.buses[1], tr.metbus, two_winding_two_port(net, tr, base));
            continue;
        }
        const int a0 = area_of(tr.buses[0]);
        if (a0 == area_of(tr.buses[1]) && a0 == area_of(tr.buses[2])) continue;
        const int star = problem_bus(tr.star_bus);
        if (star < 0) continue;
        const auto z_star = star_impedances(net, tr, base);
        for (int w = 0; w < 3; ++w) {
            const int b = problem_bus(tr.buses[w]);
            if (b < 0 || !winding_in_service(tr, w)) continue;
            add(area_of(tr.buses[w]), flow_in(winding_two_port(net, tr, w, z_star[w], base), v[b], v[star]) * base);
        }
    }
    if (mode == InterchangeMode::tie_lines_and_loads)
        for (const auto& ld : net.loads) {
            const int b = problem_bus(ld.bus);
            const int bus_area = area_of(ld.bus);
            if (ld.status == 0 || b < 0 || ld.area == bus_area) continue;
            const double vm = std::abs(v[b]);
            double p = ld.pl_mw + ld.ip_mw * vm + ld.yp_mw * vm * vm;
            if (ld.dgenm != 0) p -= ld.dgenp_mw;
            add(bus_area, p);
            add(ld.area, -p);
        }
    return exports;
}

void AreaInterchange::build(const Network& net, const DerivedProblem& d, InterchangeMode mode,
                            const std::string& name, const Lines& say) {
    slacks_.clear();
    moved_ = false;
    mode_ = mode;
    if (mode == InterchangeMode::off) return;
    for (std::size_t a = 0; a < net.areas.size(); ++a) {
        const Area& area = net.areas[a];
        if (area.isw == 0) continue;
        const auto index = net.bus_index.find(area.isw);
        const int k = index ? d.problem_bus[*index] : -1;
        Slack slack{a, k, {}, 0.0};
        if (k >= 0)
            for (int m = 0; m < static_cast<int>(net.machines.size()); ++m)
                if (net.machines[m].bus == area.isw && net.machines[m].status != 0) slack.machines.push_back(m);
        if (k >= 0 && d.problem.is_swing[k]) {
            say(format_line("%s area %d: slack bus %d is a swing bus, its interchange follows the other areas'",
                       name.c_str(), area.number, area.isw));
            continue;
        }
        if (k < 0 || slack.machines.empty()) {
            say(format_line("%s area %d: slack bus %d has no machine in service, interchange not held", name.c_str(),
                       area.number, area.isw));
            continue;
        }
        slacks_.push_back(std::move(slack));
    }
}

int AreaInterchange::adjust(const Network& net, const DerivedProblem& d, AcProblem& p, Eigen::VectorXcd& scheduled,
                            const Eigen::VectorXcd& v, const std::string& name, const Lines& say) {
    if (slacks_.empty()) return 0;
    const std::vector<double> exports = area_exports(net, d, v, mode_);
    int moved = 0;
    for (Slack& slack : slacks_) {
        const Area& area = net.areas[slack.area];
        if (slack.stopped) continue;
        const double error = area.pdes_mw - exports[slack.area];
        if (std::abs(error) <= area.ptol_mw) continue;
        if (slack.last_error_mw != 0.0 && std::abs(error) > 0.9 * std::abs(slack.last_error_mw)) {
            // Its moves are taken back: they did nothing for the schedule.
            slack.stopped = true;
            say(format_line("%s area %d interchange %.2f MW does not follow slack bus %d, schedule %.2f MW not held, "
                       "its moves taken back",
                       name.c_str(), area.number, exports[slack.area], area.isw, area.pdes_mw));
            const Complex back(-slack.moved_mw / p.base_mva, 0.0);
            scheduled[slack.bus] += back;
            p.s_power[slack.bus] += back;
            slack.moved_mw = 0.0;
            ++moved;
            continue;
        }
        slack.last_error_mw = error;
        const Complex delta(error / p.base_mva, 0.0);
        scheduled[slack.bus] += delta;
        p.s_power[slack.bus] += delta;
        slack.moved_mw += error;
        moved_ = true;
        ++moved;
        say(format_line("%s area %d interchange %.2f MW, schedule %.2f +- %.2f MW: slack bus %d moved by %+.2f MW",
                   name.c_str(), area.number, exports[slack.area], area.pdes_mw, area.ptol_mw, area.isw, error));
    }
    return moved;
}

void AreaInterchange::write_back(Network& net) const {
    for (const Slack& slack : slacks_) {
        if (slack.moved_mw == 0.0) continue;
        double total = 0.0;
        for (int m : slack.machines) total += std::max(net.machines[m].mbase_mva, 1e-6);
        for (int m : slack.machines)
            net.machines[m].pg_mw += slack.moved_mw * std::max(net.machines[m].mbase_mva, 1e-6) / total;
    }
}

}  // namespace gridfold::pf
