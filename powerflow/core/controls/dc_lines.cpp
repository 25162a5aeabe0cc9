#include "core/controls/dc_lines.hpp"

#include "core/controls/vsc_dc_line.hpp"
#include "core/solver/newton_raphson.hpp"
#include "core/session/progress.hpp"

#include <algorithm>
#include <cmath>

namespace gridfold::pf {

namespace {

// The state of an operating point that a progress line names when it changes.
std::string state_text(const LccOperatingPoint& op, const TwoTerminalDcLine& line) {
    if (op.mode == LccMode::blocked) return "blocked, " + op.why_blocked;
    std::string text;
    if (op.mode == LccMode::rectifier_alpha_min)
        text = format_line("rectifier at its minimum firing angle %.2f deg, inverter takes current control at %.4g of the order",
                      op.alpha_deg, 1.0 - line.delti);
    else if (op.rectifier_alpha_max)
        text = format_line("rectifier at its maximum firing angle %.2f deg", op.alpha_deg);
    else
        text = "rectifier controls current, inverter controls voltage";
    if (op.inverter_gamma_limit) text += format_line(", inverter at its extinction angle limit %.2f deg", op.gamma_deg);
    if (op.current_control) text += ", power control switched to current control below the mode switch voltage";
    return text;
}

// Reactive power (Mvar) a converter holding power factor ACSET injects beside active power p_mw.
double power_factor_q(const VscConverter& c, double p_mw) {
    if (c.mode != 2) return 0.0;
    const double q = std::abs(p_mw) * std::tan(std::acos(std::abs(c.acset)));
    return c.acset < 0.0 ? -q : q;
}

}  // namespace

void DcLines::build(const Network& net, const DerivedProblem& d, bool adjust_taps, const std::string& name,
                    const Lines& say) {
    network_ = &net;
    adjust_taps_ = adjust_taps;
    lcc_.clear();
    vsc_.clear();
    applied_ = Eigen::VectorXcd::Zero(d.problem.n);
    auto pb = [&](int number) {
        const auto index = net.bus_index.find(number);
        return index ? d.problem_bus[*index] : -1;
    };
    // Whether a line's data can be solved; when not, says why it is left out.
    auto modelled = [&](const std::string& device, const std::optional<std::string>& why) {
        if (!why) return true;
        say(name + " " + device + " not modelled (" + *why + "), left out of the solution");
        return false;
    };
    auto bus_out = [&](const std::string& device) {
        say(name + " " + device + ": a converter bus is not in service, the line carries nothing");
    };
    for (std::size_t l = 0; l < net.two_terminal_dc_lines.size(); ++l) {
        const TwoTerminalDcLine& line = net.two_terminal_dc_lines[l];
        if (line.mdc == 0) continue;
        const std::string device = "two-terminal dc line '" + line.name + "'";
        if (!modelled(device, lcc_unsupported(line))) continue;
        Lcc lcc;
        lcc.line = l;
        lcc.rectifier = pb(line.rectifier.bus);
        lcc.inverter = pb(line.inverter.bus);
        if (lcc.rectifier < 0 || lcc.inverter < 0) {
            bus_out(device);
            continue;
        }
        lcc.taps.tap_r = line.rectifier.tap;
        lcc.taps.tap_i = line.inverter.tap;
        lcc_.push_back(lcc);
    }
    for (std::size_t l = 0; l < net.vsc_dc_lines.size(); ++l) {
        const VscDcLine& line = net.vsc_dc_lines[l];
        if (line.mdc == 0) continue;
        const std::string device = "VSC dc line '" + line.name + "'";
        if (!modelled(device, vsc_unsupported(line))) continue;
        const VscConverter& a = line.converters[0];
        const VscConverter& b = line.converters[1];
        if (a.bus == 0 || b.bus == 0 || a.type == 0 || b.type == 0) continue;  // a converter out: no flow
        Vsc vsc;
        vsc.line = l;
        vsc.power = a.type == 2 ? 0 : 1;
        for (int k = 0; k < 2; ++k) {
            vsc.bus[k] = pb(line.converters[k].bus);
            if (vsc.bus[k] >= 0) vsc.base_kv[k] = net.buses[d.network_bus[vsc.bus[k]]].base_kv;
        }
        if (vsc.bus[0] < 0 || vsc.bus[1] < 0) {
            bus_out(device);
            continue;
        }
        for (const ConverterControl& cc : d.converter_controls)
            if (cc.line == static_cast<int>(l)) vsc.control[cc.converter] = cc.control;
        for (const ConverterControl& cc : d.converters_not_holding)
            if (cc.line == static_cast<int>(l))
                say(format_line("%s %s converter at bus %d: the bus voltage is held already, the converter holds no voltage",
                           name.c_str(), device.c_str(), line.converters[cc.converter].bus));
        vsc_.push_back(vsc);
    }
}

bool DcLines::update(AcProblem& p, const Eigen::VectorXcd& v, Eigen::VectorXcd& s_power, double tol_pu,
                     const std::string& name, const Lines& say) {
    if (empty()) return false;
    const Network& net = *network_;
    const double base = p.base_mva;
    Eigen::VectorXcd next = Eigen::VectorXcd::Zero(p.n);
    bool moved = false;

    for (Lcc& lcc : lcc_) {
        const TwoTerminalDcLine& line = net.two_terminal_dc_lines[lcc.line];
        const LccTapState before = lcc.taps;
        const LccOperatingPoint previous = lcc.op;
        lcc.op = solve_lcc_line(line, std::abs(v[lcc.rectifier]), std::abs(v[lcc.inverter]), lcc.taps, adjust_taps_);
        std::vector<std::string> changes;
        const std::string state = state_text(lcc.op, line);
        if (lcc.solved ? state != state_text(previous, line) : state != "rectifier controls current, inverter controls voltage")
            changes.push_back(state);
        if (lcc.taps.tap_r != before.tap_r) changes.push_back(format_line("rectifier tap %.5f -> %.5f", before.tap_r, lcc.taps.tap_r));
        if (lcc.taps.tap_i != before.tap_i) changes.push_back(format_line("inverter tap %.5f -> %.5f", before.tap_i, lcc.taps.tap_i));
        if (lcc.taps.held_r && !before.held_r) changes.push_back("rectifier tap held: its angle band is narrower than one step");
        if (lcc.taps.held_i && !before.held_i) changes.push_back("inverter tap held: its angle band is narrower than one step");
        if (!changes.empty()) {
            std::string text = name + " two-terminal dc line '" + line.name + "': " + changes.front();
            for (std::size_t k = 1; k < changes.size(); ++k) text += "; " + changes[k];
            say(text);
            moved = true;
        }
        lcc.solved = true;
        next[lcc.rectifier] -= Complex(lcc.op.pr_mw, lcc.op.qr_mvar) / base;
        next[lcc.inverter] += Complex(lcc.op.pi_mw, -lcc.op.qi_mvar) / base;
    }

    if (!vsc_.empty()) {
        const Eigen::VectorXcd s_inj = NewtonRaphson::injections(p, v);
        for (Vsc& vsc : vsc_) {
            const VscDcLine& line = net.vsc_dc_lines[vsc.line];
            double s_mva[2], v_pu[2];
            for (int k = 0; k < 2; ++k) {
                const int b = vsc.bus[k];
                v_pu[k] = std::abs(v[b]);
                if (vsc.control[k] >= 0) {
                    // Reactive output of a converter holding voltage: what the bus injects
                    // beyond its constant-power and constant-current parts.
                    vsc.q_mvar[k] = (s_inj[b].imag() - (s_power[b] - p.s_current[b] * v_pu[k]).imag()) * base;
                } else {
                    vsc.q_mvar[k] = power_factor_q(line.converters[k], vsc.p_mw[k]);
                }
                s_mva[k] = std::hypot(vsc.p_mw[k], vsc.q_mvar[k]);
            }
            VscFlows flows;
            const bool feasible = vsc_flows(line, vsc.power, s_mva, v_pu, vsc.base_kv, flows);
            if (feasible != vsc.feasible)
                say(feasible ? name + " VSC dc line '" + line.name + "' carries its power again"
                             : name + " VSC dc line '" + line.name +
                                   "': the dc line cannot carry the power at its dc voltage, it carries nothing");
            vsc.feasible = feasible;
            for (int k = 0; k < 2; ++k) {
                vsc.p_mw[k] = feasible ? flows.p_mw[k] : 0.0;
                vsc.vdc_kv[k] = flows.vdc_kv[k];
                const VscConverter& c = line.converters[k];
                if (vsc.control[k] < 0) {
                    vsc.q_mvar[k] = power_factor_q(c, vsc.p_mw[k]);
                    next[vsc.bus[k]] += Complex(vsc.p_mw[k], vsc.q_mvar[k]) / base;
                } else {
                    next[vsc.bus[k]] += Complex(vsc.p_mw[k], 0.0) / base;
                    // Reactive limits: the converter's own, and what its rating leaves beside P.
                    VoltageControl& vc = p.controls[vsc.control[k]];
                    const double rating = vsc_rating_mva(c, v_pu[k], vsc.base_kv[k]);
                    const double room = std::isfinite(rating) ? std::sqrt(std::max(rating * rating - vsc.p_mw[k] * vsc.p_mw[k], 0.0))
                                                              : rating;
                    const double q_max = std::min(c.maxq_mvar, room) / base, q_min = std::max(c.minq_mvar, -room) / base;
                    if (std::abs(q_max - vc.q_max_pu) > tol_pu || std::abs(q_min - vc.q_min_pu) > tol_pu) moved = true;
                    vc.q_max_pu = std::max(q_max, q_min);
                    vc.q_min_pu = std::min(q_max, q_min);
                }
            }
            vsc.idc_ka = feasible ? flows.idc_ka : 0.0;
        }
    }

    if ((next - applied_).cwiseAbs().maxCoeff() > tol_pu) moved = true;
    s_power += next - applied_;
    applied_ = next;
    return moved;
}

void DcLines::report(const std::string& name, const Lines& say) const {
    for (const Lcc& lcc : lcc_) {
        const LccOperatingPoint& op = lcc.op;
        const auto& line = network_->two_terminal_dc_lines[lcc.line];
        say(format_line("%s two-terminal dc line '%s': Id %.3f A, Vdr %.3f kV, Vdi %.3f kV, alpha %.3f deg, gamma %.3f deg, "
                   "taps %.5f/%.5f, rectifier %.3f MW %.3f Mvar, inverter %.3f MW %.3f Mvar",
                   name.c_str(), line.name.c_str(), op.id_ka * 1000.0, op.vdr_kv, op.vdi_kv, op.alpha_deg, op.gamma_deg,
                   op.tap_r, op.tap_i, op.pr_mw, op.qr_mvar, op.pi_mw, op.qi_mvar));
    }
    for (const Vsc& vsc : vsc_) {
        const auto& line = network_->vsc_dc_lines[vsc.line];
        say(format_line("%s VSC dc line '%s': Idc %.2f A, Vdc %.3f/%.3f kV, converter 1 %.3f MW %.3f Mvar, converter 2 "
                   "%.3f MW %.3f Mvar (injected)",
                   name.c_str(), line.name.c_str(), vsc.idc_ka * 1000.0, vsc.vdc_kv[0], vsc.vdc_kv[1], vsc.p_mw[0],
                   vsc.q_mvar[0], vsc.p_mw[1], vsc.q_mvar[1]));
    }
}

void DcLines::write_back(Network& net) const {
    if (!adjust_taps_) return;
    for (const Lcc& lcc : lcc_) {
        TwoTerminalDcLine& line = net.two_terminal_dc_lines[lcc.line];
        line.rectifier.tap = lcc.taps.tap_r;
        line.inverter.tap = lcc.taps.tap_i;
    }
}

}  // namespace gridfold::pf
