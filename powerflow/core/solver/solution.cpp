#include "core/solver/solution.hpp"

#include "core/solver/network_to_problem.hpp"

#include <Eigen/SparseLU>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace gridfold::pf {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kShuntRounds = 20;  // switched-shunt adjustments after a converged solution
// Adjustment rounds of all controls after converged solutions: enough for a tap to cross
// its whole range one position at a time.
constexpr int kAdjustmentRounds = 40;
constexpr int kContinuationSteps = 60;

std::string format(const char* fmt, auto... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

// Magnitude of every bus held by a swing bus or a control set to its setpoint, angles kept.
void hold_setpoints(const AcProblem& p, Eigen::VectorXcd& v) {
    for (int k = 0; k < p.n; ++k)
        if (p.is_swing[k]) v[k] = std::polar(p.v_flat_magnitude[k], std::arg(v[k]));
    for (const auto& c : p.controls) v[c.regulated_bus] = std::polar(c.v_set_pu, std::arg(v[c.regulated_bus]));
}

// Buses whose magnitude is free (not swing, not regulated) for the estimates below.
std::vector<uint8_t> magnitude_free(const AcProblem& p) {
    std::vector<uint8_t> free(p.n, 1);
    for (int k = 0; k < p.n; ++k)
        if (p.is_swing[k]) free[k] = 0;
    for (const auto& c : p.controls) free[c.regulated_bus] = 0;
    return free;
}

// Solves -Im(Y) x = rhs for the selected buses, the others held at `fixed`; false when
// the reduced matrix is singular. result_full holds x at selected buses, `fixed` elsewhere.
bool solve_reduced_susceptance(const AcProblem& p, const std::vector<uint8_t>& selected, const Eigen::VectorXd& rhs_full,
                               const Eigen::VectorXd& fixed, Eigen::VectorXd& result_full) {
    std::vector<int> index(p.n, -1);
    int m = 0;
    for (int k = 0; k < p.n; ++k)
        if (selected[k]) index[k] = m++;
    if (m == 0) return false;
    std::vector<Eigen::Triplet<double, int>> t;
    Eigen::VectorXd rhs(m);
    for (int k = 0; k < p.n; ++k)
        if (index[k] >= 0) rhs[index[k]] = rhs_full[k];
    for (int k = 0; k < p.ybus.outerSize(); ++k)
        for (ComplexSparse::InnerIterator it(p.ybus, k); it; ++it) {
            const int row = index[it.row()];
            if (row < 0) continue;
            if (index[k] >= 0) t.emplace_back(row, index[k], -it.value().imag());
            else rhs[row] += it.value().imag() * fixed[k];
        }
    RealSparse b(m, m);
    b.setFromTriplets(t.begin(), t.end());
    b.makeCompressed();
    Eigen::SparseLU<RealSparse, Eigen::COLAMDOrdering<int>> lu;
    lu.compute(b);
    if (lu.info() != Eigen::Success) return false;
    Eigen::VectorXd x = lu.solve(rhs);
    if (lu.info() != Eigen::Success || !x.allFinite()) return false;
    result_full = fixed;
    for (int k = 0; k < p.n; ++k)
        if (index[k] >= 0) result_full[k] = x[index[k]];
    return true;
}

// Linear (dc) estimate of the angles: -Im(Y) theta = P over the non-swing buses, swing
// angles held.
void estimate_angles(const AcProblem& p, Eigen::VectorXcd& v) {
    std::vector<uint8_t> selected(p.n);
    Eigen::VectorXd fixed(p.n);
    for (int k = 0; k < p.n; ++k) {
        selected[k] = !p.is_swing[k];
        fixed[k] = std::arg(v[k]);
    }
    Eigen::VectorXd rhs = (p.s_power - p.s_current).real();
    Eigen::VectorXd theta;
    if (!solve_reduced_susceptance(p, selected, rhs, fixed, theta)) return;
    // Estimates far beyond any operating point would only mislead the iterations.
    if ((theta - fixed).cwiseAbs().maxCoeff() > 2.0 * kPi) return;
    for (int k = 0; k < p.n; ++k)
        if (selected[k]) v[k] = std::polar(std::abs(v[k]), theta[k]);
}

// One reactive-power step for the free magnitudes: -Im(Y) dV = dQ / V.
void estimate_magnitudes(const AcProblem& p, Eigen::VectorXcd& v) {
    const auto selected = magnitude_free(p);
    const Eigen::VectorXcd s_inj = NewtonRaphson::injections(p, v);
    Eigen::VectorXd rhs(p.n);
    for (int k = 0; k < p.n; ++k) {
        const double q_scheduled = (p.s_power[k] - p.s_current[k] * std::abs(v[k])).imag();
        rhs[k] = (q_scheduled - s_inj[k].imag()) / std::abs(v[k]);
    }
    Eigen::VectorXd dv;
    if (!solve_reduced_susceptance(p, selected, rhs, Eigen::VectorXd::Zero(p.n), dv)) return;
    for (int k = 0; k < p.n; ++k)
        if (selected[k]) {
            const double m = std::abs(v[k]) + std::clamp(dv[k], -0.3, 0.3);
            v[k] = std::polar(std::clamp(m, 0.5, 1.5), std::arg(v[k]));
        }
}

Eigen::VectorXcd starting_voltages(const AcProblem& p, StartMode mode, bool repair) {
    Eigen::VectorXcd v = p.v_start;
    if (mode == StartMode::present) {
        if (repair)
            for (int k = 0; k < p.n; ++k) {
                const double m = std::abs(v[k]);
                const double a = std::arg(v[k]);
                if (!std::isfinite(m) || m < 0.5 || m > 1.5 || !std::isfinite(a))
                    v[k] = std::polar(p.v_flat_magnitude[k], std::isfinite(a) ? a : 0.0);
            }
        hold_setpoints(p, v);
        return v;
    }
    // The swing buses keep their angle (data: the reference of their island); the others
    // follow it through the phase shifts on their way from it.
    for (int k = 0; k < p.n; ++k) v[k] = std::polar(p.v_flat_magnitude[k], p.v_flat_angle[k]);
    hold_setpoints(p, v);
    if (mode == StartMode::flat_angles || mode == StartMode::flat_both) estimate_angles(p, v);
    if (mode == StartMode::flat_magnitudes || mode == StartMode::flat_both) estimate_magnitudes(p, v);
    return v;
}

// Achievable susceptances of a switched shunt: capacitor or reactor steps switched on in
// block order, starting from none.
std::vector<double> shunt_levels(const ShuntControl& sc) {
    std::vector<double> up{0.0}, down;
    double cap = 0.0, rea = 0.0;
    for (size_t b = 0; b < sc.steps_pu.size(); ++b)
        for (int s = 0; s < sc.max_steps[b]; ++s) {
            if (sc.steps_pu[b] > 0) up.push_back(cap += sc.steps_pu[b]);
            else down.push_back(rea += sc.steps_pu[b]);
        }
    std::reverse(down.begin(), down.end());
    down.insert(down.end(), up.begin(), up.end());
    return down;
}

// One step of every switched shunt whose watched voltage is outside its band; true when
// any changed. The admittance matrix diagonal is updated in place.
bool adjust_switched_shunts(AcProblem& p, const Eigen::VectorXcd& v) {
    bool changed = false;
    for (auto& sc : p.shunt_controls) {
        const double vm = std::abs(v[sc.regulated_bus]);
        const int dir = vm < sc.v_low_pu ? 1 : vm > sc.v_high_pu ? -1 : 0;
        if (dir == 0) continue;
        const auto levels = shunt_levels(sc);
        size_t at = 0;
        for (size_t i = 1; i < levels.size(); ++i)
            if (std::abs(levels[i] - sc.b_present_pu) < std::abs(levels[at] - sc.b_present_pu)) at = i;
        const long next = static_cast<long>(at) + dir;
        if (next < 0 || next >= static_cast<long>(levels.size())) continue;
        const double b_new = levels[static_cast<size_t>(next)];
        p.ybus.coeffRef(sc.bus, sc.bus) += Complex(0.0, b_new - sc.b_present_pu);
        sc.b_present_pu = b_new;
        changed = true;
    }
    return changed;
}

const char* outcome_text(NewtonOutcome o) {
    switch (o) {
    case NewtonOutcome::converged: return "converged";
    case NewtonOutcome::iteration_limit: return "iteration limit reached";
    default: return "diverged";
    }
}

}  // namespace

DerivedProblem& LoadFlowSolver::derive(const Network& net, bool adjust_shunts) {
    const std::uint64_t fingerprint = bus_fingerprint(net);
    if (derived_ && derived_network_ == &net && derived_revision_ == net.structure_revision &&
        derived_fingerprint_ == fingerprint && derived_with_shunts_ == adjust_shunts) {
        refresh_voltages(*derived_, net);
        return *derived_;
    }
    derived_ = std::make_unique<DerivedProblem>(build_ac_problem(net, adjust_shunts));
    derived_network_ = &net;
    derived_revision_ = net.structure_revision;
    derived_fingerprint_ = fingerprint;
    derived_with_shunts_ = adjust_shunts;
    return *derived_;
}

SolutionReport LoadFlowSolver::solve(Network& net, const SolutionParameters& par, const SolutionOptions& opt,
                                     const std::string& name, const ProgressLines& progress) {
    SolutionReport report;
    auto say = [&](const std::string& line) {
        if (progress) progress(line);
    };
    DerivedProblem& derived = derive(net, opt.adjust_shunts);
    AcProblem& p = derived.problem;
    const double base = p.base_mva;
    auto bus_number = [&](int k) { return k >= 0 ? net.buses[derived.network_bus[k]].number : 0; };

    NewtonSettings settings;
    settings.tolerance_pu = par.tolerance_mva / base;
    settings.max_iterations = par.max_iterations;
    settings.var_limit_iteration = opt.var_limit_iteration;
    settings.step = opt.step;
    settings.divergence_mismatch_pu = opt.divergence_mva / base;
    settings.v_ceiling_pu = opt.v_ceiling_pu;

    const Eigen::VectorXcd s_power0 = p.s_power;
    bool shunts_moved = false;
    TapControls taps;
    taps.build(net, derived, opt.taps, name, say);
    const Eigen::VectorXcd s_current0 = p.s_current;
    int iteration_base = 0;
    auto observer = [&](int it, double mismatch, int bus, bool is_q) {
        say(format("%s %3d  largest mismatch %12.4f %s at bus %d", name.c_str(), iteration_base + it,
                   mismatch * base, is_q ? "Mvar" : "MW  ", bus_number(bus)));
    };
    // One Newton run (followed by switched-shunt rounds when converged) from v.
    auto attempt = [&](Eigen::VectorXcd& v, const NewtonSettings& s,
                       const std::vector<ControlState>* preset) -> NewtonResult {
        NewtonResult r;
        Eigen::VectorXcd v_adjusted;  // converged voltages the last tap moves started from
        for (int round = 0;; ++round) {
            p.s_power = s_power0;
            if (preset) newton_.set_control_states(*preset);
            r = newton_.solve(p, v, s, observer);
            report.iterations += r.iterations;
            report.factorizations += r.factorizations;
            iteration_base += r.iterations + 1;
            if (r.outcome != NewtonOutcome::converged && v_adjusted.size() > 0) {
                // The last tap moves made the case unsolvable: take them back and solve again
                // from the voltages they started from.
                if (const int undone = taps.undo_last_round(p)) {
                    say(format("%s no solution after the last tap moves: %d winding(s) back to their positions",
                               name.c_str(), undone));
                    v = v_adjusted;
                    v_adjusted.resize(0);
                    continue;
                }
            }
            if (r.outcome != NewtonOutcome::converged || round >= kAdjustmentRounds) break;
            // Every control acts on the same converged voltages, then the network is solved again.
            const bool shunts = round < kShuntRounds && adjust_switched_shunts(p, v);
            if (shunts) {
                shunts_moved = true;
                say(format("%s switched shunts stepped toward their voltage bands", name.c_str()));
            }
            const int taps_moved = taps.adjust(p, v, name, say);
            if (!shunts && taps_moved == 0) break;
            if (taps_moved > 0) v_adjusted = v;
            else v_adjusted.resize(0);
        }
        return r;
    };

    if (p.n == 0) {
        say(format("%s: no bus to solve", name.c_str()));
        // Nothing solved: an empty case has no solution to report.
        report.code = derived.islands_without_swing > 0 ? kIslandWithoutSwing : kNoSolutionYet;
        if (derived.islands_without_swing > 0)
            say(format("%s: %d island(s) without a swing bus or machine not solved", name.c_str(),
                       derived.islands_without_swing));
        return report;
    }

    const Eigen::VectorXcd v_initial = p.v_start;
    Eigen::VectorXcd v = starting_voltages(p, opt.start, opt.repair_start);
    NewtonResult r = attempt(v, settings, nullptr);

    const int level = opt.robustness;
    if (r.outcome != NewtonOutcome::converged && level >= 2) {
        // Fresh starts: flat, then with the linear angle estimate and a magnitude step.
        for (StartMode mode : {StartMode::flat_angles, StartMode::flat_both, StartMode::flat}) {
            say(format("%s retry from a flat start (estimate %d)", name.c_str(), static_cast<int>(mode)));
            v = starting_voltages(p, mode, false);
            NewtonSettings s = settings;
            s.max_iterations = 2 * settings.max_iterations;
            r = attempt(v, s, nullptr);
            if (r.outcome == NewtonOutcome::converged) break;
        }
    }
    if (r.outcome != NewtonOutcome::converged && level >= 3 && settings.var_limit_iteration >= 0 && !p.controls.empty()) {
        say(format("%s solving without reactive limits, then with them", name.c_str()));
        v = starting_voltages(p, StartMode::flat_angles, false);
        NewtonSettings s = settings;
        s.var_limit_iteration = -1;
        s.max_iterations = 2 * settings.max_iterations;
        r = attempt(v, s, nullptr);
        if (r.outcome == NewtonOutcome::converged) r = attempt(v, settings, nullptr);
    }
    if (r.outcome != NewtonOutcome::converged && level >= 4) {
        // Continuation: scale every load and generation injection by lambda, from a level
        // that solves up to 1, halving the increment after a failed step.
        say(format("%s continuation on load and generation", name.c_str()));
        Eigen::VectorXcd v_good = starting_voltages(p, StartMode::flat, false);
        double lambda = 0.0, step = 0.25;
        bool reached = false;
        NewtonSettings s = settings;
        s.step = StepControl::line_search;
        for (int k = 0; k < kContinuationSteps && step > 1e-3; ++k) {
            const double target = std::min(1.0, lambda + (k == 0 ? 0.0 : step));
            Eigen::VectorXcd trial = v_good;
            p.s_power = s_power0 * target;
            p.s_current = s_current0 * target;
            NewtonResult rs = newton_.solve(p, trial, s, {});
            report.iterations += rs.iterations;
            report.factorizations += rs.factorizations;
            if (rs.outcome == NewtonOutcome::converged) {
                v_good = trial;
                lambda = target;
                step *= 1.5;
                say(format("%s continuation reached %.4f of load and generation", name.c_str(), lambda));
                if (lambda >= 1.0) {
                    reached = true;
                    break;
                }
            } else {
                step *= 0.5;
            }
        }
        p.s_current = s_current0;
        v = v_good;
        if (reached || lambda > 0.0) r = attempt(v, settings, nullptr);
    }
    p.s_current = s_current0;

    // Outcome.
    report.code = r.outcome == NewtonOutcome::converged ? kSolved
                  : r.outcome == NewtonOutcome::iteration_limit ? kIterationLimit : kDiverged;
    if (report.code == kSolved && derived.islands_without_swing > 0) report.code = kIslandWithoutSwing;
    report.largest_mismatch_mva = r.largest_mismatch_pu * base;
    report.worst_bus = bus_number(r.worst_bus);

    // Write back, unless a failed solution must leave the case as it was.
    if (r.outcome == NewtonOutcome::converged || !opt.restore_on_failure) {
        if (!v.allFinite()) v = v_initial;
        // Buses whose voltage moved by no more than rounding keep their values exactly, so
        // that solving a solved case changes nothing.
        for (int k = 0; k < p.n; ++k) {
            if (std::abs(v[k] - p.v_case[k]) <= 1e-14) continue;
            Bus& bus = net.buses[derived.network_bus[k]];
            bus.vm_pu = std::abs(v[k]);
            bus.va_deg = std::arg(v[k]) * 180.0 / kPi;
        }
        // The converged iterations already hold Y v at these voltages.
        const Eigen::VectorXcd& current = newton_.converged_current();
        const bool reuse = r.outcome == NewtonOutcome::converged && current.size() == p.n;
        const Eigen::VectorXcd s_inj = reuse ? Eigen::VectorXcd(v.cwiseProduct(current.conjugate()))
                                   : NewtonRaphson::injections(p, v);
        // Output shared among the machines of a bus in proportion to their bases.
        auto share = [&](const std::vector<int>& machines, double p_mw, double q_mvar, bool set_p) {
            double total = 0.0;
            for (int m : machines) total += std::max(net.machines[m].mbase_mva, 1e-6);
            for (int m : machines) {
                const double f = std::max(net.machines[m].mbase_mva, 1e-6) / total;
                if (set_p) net.machines[m].pg_mw = p_mw * f;
                net.machines[m].qg_mvar = q_mvar * f;
            }
        };
        for (size_t s = 0; s < derived.swing_buses.size(); ++s) {
            const int k = derived.swing_buses[s];
            const double sched_p = derived.swing_scheduled_p_pu[s];
            const Complex other = p.s_power[k] - Complex(sched_p, 0.0) - p.s_current[k] * std::abs(v[k]);
            const Complex gen = s_inj[k] - other;
            share(derived.swing_machines[s], gen.real() * base, gen.imag() * base, true);
        }
        for (size_t c = 0; c < p.controls.size(); ++c)
            share(derived.control_machines[c], 0.0, newton_.control_q(p, v, s_inj, static_cast<int>(c)) * base, false);
        if (r.outcome == NewtonOutcome::converged) {
            for (size_t s = 0; s < p.shunt_controls.size(); ++s)
                net.switched_shunts[derived.shunt_of_control[s]].binit_mvar = p.shunt_controls[s].b_present_pu * base;
            taps.write_back(net);
        }
    }
    p.s_power = s_power0;
    // Shunt steps kept in the admittance matrix but not in the case: derive afresh next time.
    const bool drop_derived = (shunts_moved || taps.any_moved()) && r.outcome != NewtonOutcome::converged;

    std::string closing = format("%s %s after %d iterations (%ld factorizations): largest mismatch %.4f MVA at bus %d",
                                 name.c_str(), outcome_text(r.outcome), report.iterations, report.factorizations,
                                 report.largest_mismatch_mva, report.worst_bus);
    if (derived.islands_without_swing > 0)
        closing += format("; %d island(s) without a swing bus or machine not solved (bus %d among them)",
                          derived.islands_without_swing, derived.buses_without_swing.front());
    say(closing);
    if (drop_derived) derived_.reset();
    return report;
}

}  // namespace gridfold::pf
