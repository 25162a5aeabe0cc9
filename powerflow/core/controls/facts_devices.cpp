#include "core/controls/facts_devices.hpp"

#include "core/model/error_codes.hpp"
#include "core/solver/network_to_problem.hpp"
#include "core/solver/newton_raphson.hpp"
#include "core/session/progress.hpp"

#include <algorithm>
#include <cmath>

namespace gridfold::pf {

namespace {

// A sending-end reactive draw that moved less than this (pu) since the last solution is kept.
constexpr double kInjectionMovePu = 1e-6;
// A limited quantity within this share of its limit is at the limit.
constexpr double kLimitTolerance = 1e-4;

bool in_service(const FactsDevice& d) { return d.mode != 0; }

// Injections of a set flow at voltages v: S arrives at J; I gives the active power and the
// reactive power of the series current at its own voltage.
void flow_injections(FactsFlow& f, Complex v_from, Complex v_to) {
    const Complex s = f.set_pu * f.scale;
    const Complex current = std::abs(v_to) > 0.0 ? std::conj(s / v_to) : Complex(0.0, 0.0);
    f.at_to = s;
    f.at_from = -Complex(s.real(), (v_from * std::conj(current)).imag());
}

}  // namespace

void add_facts_devices(const Network& net, DerivedProblem& d, std::vector<uint8_t>& held,
                       std::vector<uint8_t>& supplying) {
    AcProblem& p = d.problem;
    FactsProblem& out = d.facts;
    out = FactsProblem{};
    const double base = p.base_mva;
    auto problem_bus = [&](int number) {
        const auto index = net.bus_index.find(number);
        return index ? d.problem_bus[*index] : -1;
    };
    for (std::size_t i = 0; i < net.facts_devices.size(); ++i) {
        const FactsDevice& dev = net.facts_devices[i];
        if (!in_service(dev) || check_facts_mode(dev) != kOk) continue;
        const int from = problem_bus(dev.from_bus);
        if (from < 0) {
            out.notes.push_back(format_line("FACTS device '%s': bus %d is not solved, device left out", dev.name.c_str(),
                                       dev.from_bus));
            continue;
        }
        if (dev.shmx_mva > 0.0) {
            const int reg = dev.fcreg != 0 ? problem_bus(dev.fcreg) : from;
            if (reg < 0) {
                out.notes.push_back(format_line("FACTS device '%s': regulated bus %d is not solved, shunt element left out",
                                           dev.name.c_str(), dev.fcreg));
            } else if (held[reg] || supplying[from]) {
                out.notes.push_back(format_line("FACTS device '%s': bus %d is held by a machine, shunt element left out",
                                           dev.name.c_str(), held[reg] ? net.buses[d.network_bus[reg]].number
                                                                       : dev.from_bus));
            } else {
                held[reg] = supplying[from] = 1;
                VoltageControl vc;
                vc.gen_bus = from;
                vc.regulated_bus = reg;
                vc.v_set_pu = dev.vset_pu;
                const double i_max = dev.shmx_mva / base;
                // The limit at the case's voltage: a solved case at its limit starts right there.
                const double held_vm = std::abs(p.v_case[from]);
                const double vm = held_vm > 0.0 && std::isfinite(held_vm) ? held_vm : dev.vset_pu;
                vc.q_max_pu = i_max * vm;
                vc.q_min_pu = -i_max * vm;
                out.shunts.push_back({i, static_cast<int>(p.controls.size()), i_max});
                p.controls.push_back(vc);
                d.control_machines.emplace_back();
                p.v_start[reg] = std::polar(dev.vset_pu, std::arg(p.v_start[reg]));
                p.v_flat_magnitude[reg] = dev.vset_pu;
            }
        }
        if (dev.to_bus != 0 && dev.mode == 1) {
            const int to = problem_bus(dev.to_bus);
            if (to < 0) {
                out.notes.push_back(format_line("FACTS device '%s': bus %d is not solved, series element left out",
                                           dev.name.c_str(), dev.to_bus));
                continue;
            }
            FactsFlow f;
            f.device = i;
            f.from = from;
            f.to = to;
            f.set_pu = Complex(dev.pdes_mw, dev.qdes_mvar) / base;
            f.linx_pu = dev.linx_pu;
            f.vsmx_pu = std::max(dev.vsmx_pu, 0.0);
            f.imx_pu = std::max(dev.imx_mva, 0.0) / base;
            f.trmx_pu = std::max(dev.trmx_mw, 0.0) / base;
            flow_injections(f, p.v_start[from], p.v_start[to]);
            p.s_power[to] += f.at_to;
            p.s_power[from] += f.at_from;
            out.flows.push_back(f);
        }
    }
}

void recognise_facts_states(const DerivedProblem& d, std::vector<ControlState>& states) {
    const AcProblem& p = d.problem;
    if (d.facts.shunts.empty()) return;
    // The case's voltages show an element at its limit when its regulated bus is off VSET and
    // the reactive power its bus needs from it is the limit (within a solution's tolerance).
    constexpr double kAtLimitPu = 2e-3;
    const Eigen::VectorXcd s_inj = NewtonRaphson::injections(p, p.v_case);
    for (const FactsShunt& s : d.facts.shunts) {
        if (s.control < 0 || static_cast<std::size_t>(s.control) >= states.size()) continue;
        const VoltageControl& vc = p.controls[s.control];
        const double off = std::abs(p.v_case[vc.regulated_bus]) - vc.v_set_pu;
        if (std::abs(off) <= 1e-9) continue;
        const int g = vc.gen_bus;
        const double q = s_inj[g].imag() - (p.s_power[g] - p.s_current[g] * std::abs(p.v_case[g])).imag();
        if (off < 0.0 && std::abs(q - vc.q_max_pu) <= kAtLimitPu) states[s.control] = ControlState::at_max;
        if (off > 0.0 && std::abs(q - vc.q_min_pu) <= kAtLimitPu) states[s.control] = ControlState::at_min;
    }
}

void FactsControls::build(const DerivedProblem& d, const std::string& name, const Lines& say) {
    moved_ = false;
    for (const auto& note : d.facts.notes) say(name + " " + note);
}

int FactsControls::adjust(const Network& net, DerivedProblem& d, Eigen::VectorXcd& scheduled,
                          const Eigen::VectorXcd& v, const std::vector<ControlState>& states, const std::string& name,
                          const Lines& say) {
    AcProblem& p = d.problem;
    const double base = p.base_mva;
    int changed = 0;
    for (const FactsShunt& s : d.facts.shunts) {
        VoltageControl& vc = p.controls[s.control];
        const double limit = s.current_max_pu * std::abs(v[vc.gen_bus]);
        const ControlState state = static_cast<std::size_t>(s.control) < states.size() ? states[s.control]
                                                                                         : ControlState::regulating;
        const bool limited = state != ControlState::regulating;
        const double before = vc.q_max_pu;
        vc.q_max_pu = limit;
        vc.q_min_pu = -limit;
        // A limited element delivers the limit at its present voltage; a regulating one only
        // matters once its output leaves the new band, which the next solution checks.
        if (!limited || std::abs(limit - before) <= kInjectionMovePu) continue;
        ++changed;
        say(format_line("%s FACTS device '%s': shunt current at its limit %.4f pu, %.2f Mvar at %.4f pu", name.c_str(),
                   net.facts_devices[s.device].name.c_str(), s.current_max_pu,
                   (state == ControlState::at_max ? limit : -limit) * base, std::abs(v[vc.gen_bus])));
    }
    for (FactsFlow& f : d.facts.flows) {
        const FactsDevice& dev = net.facts_devices[f.device];
        const Complex old_to = f.at_to, old_from = f.at_from;
        const Complex s = f.set_pu * f.scale;
        const Complex current = std::abs(v[f.to]) > 0.0 ? std::conj(s / v[f.to]) : Complex(0.0, 0.0);
        const Complex v_series = v[f.to] - v[f.from] + Complex(0.0, f.linx_pu) * current;
        const double bridge = std::abs((v_series * std::conj(current)).real());
        // The quantity furthest beyond its limit, as a multiple of the limit.
        static const char* const kLimitNames[] = {"series voltage", "series current", "converter transfer"};
        const double values[] = {std::abs(v_series), std::abs(current), bridge};
        const double maxima[] = {f.vsmx_pu, f.imx_pu, f.trmx_pu};
        int worst = -1;
        double over = 1.0 + kLimitTolerance;
        for (int k = 0; k < 3; ++k)
            if (maxima[k] > 0.0 && values[k] / maxima[k] > over) {
                over = values[k] / maxima[k];
                worst = k;
            }
        // A flow held back by a limit that a secant step left below it moves back up toward it.
        if (worst < 0 && f.limited >= 0 && f.scale < 1.0 && values[f.limited] / maxima[f.limited] < 1.0 - kLimitTolerance) {
            worst = f.limited;
            over = values[worst] / maxima[worst];
        }
        if (worst >= 0 && (f.scale > 0.0 || over < 1.0)) {
            // First step as if the quantity were proportional to the flow, then secant steps.
            double next = over > 0.0 ? f.scale / over : 1.0;
            if (worst == f.limited && std::abs(over - f.previous_share) > 1e-12 && f.previous_scale != f.scale)
                next = f.scale + (1.0 - over) * (f.scale - f.previous_scale) / (over - f.previous_share);
            next = std::clamp(next, 0.0, 1.0);
            f.limited = worst;
            f.previous_scale = f.scale;
            f.previous_share = over;
            f.scale = next;
            const char* limit_name = kLimitNames[worst];
            const Complex now = f.set_pu * f.scale * base;
            say(format_line("%s FACTS device '%s': %s at its limit, flow set to %.2f MW %.2f Mvar (asked %.2f MW %.2f Mvar)",
                       name.c_str(), dev.name.c_str(), limit_name, now.real(), now.imag(), dev.pdes_mw,
                       dev.qdes_mvar));
        }
        flow_injections(f, v[f.from], v[f.to]);
        if (std::abs(f.at_to - old_to) <= kInjectionMovePu && std::abs(f.at_from - old_from) <= kInjectionMovePu) {
            f.at_to = old_to;
            f.at_from = old_from;
            continue;
        }
        for (Eigen::VectorXcd* target : {&scheduled, &p.s_power}) {
            (*target)[f.to] += f.at_to - old_to;
            (*target)[f.from] += f.at_from - old_from;
        }
        ++changed;
    }
    if (changed > 0) moved_ = true;
    return changed;
}

}  // namespace gridfold::pf
