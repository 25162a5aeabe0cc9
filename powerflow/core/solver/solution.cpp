#include "core/solver/solution.hpp"

#include "core/controls/area_interchange.hpp"
#include "core/controls/dc_lines.hpp"
#include "core/controls/devices_left_out.hpp"
#include "core/controls/facts_devices.hpp"
#include "core/session/heap_pages.hpp"
#include "core/session/progress.hpp"
#include "core/solver/network_to_problem.hpp"
#include "core/solver/sparse_lu.hpp"

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

// Solves a x = rhs in place with the Newton iterations' sparse LU, Eigen's SparseLU when
// that finds no pivot; false when a is singular or the result is not finite.
bool solve_sparse(const RealSparse& a, Eigen::VectorXd& rhs) {
    GilbertPeierlsLU lu;
    if (lu.analyse(a) == LuStatus::ok && lu.factorise(a) == LuStatus::ok && lu.solve(rhs) == LuStatus::ok)
        return rhs.allFinite();
    Eigen::SparseLU<RealSparse, Eigen::COLAMDOrdering<int>> fallback;
    fallback.compute(a);
    if (fallback.info() != Eigen::Success) return false;
    Eigen::VectorXd x = fallback.solve(rhs);
    if (fallback.info() != Eigen::Success || !x.allFinite()) return false;
    rhs.swap(x);
    return true;
}

// Solves -Im(Y) x = rhs for the selected buses, the others held at `fixed`; false when
// the reduced matrix is singular. result_full holds x at selected buses, `fixed` elsewhere.
bool solve_reduced_susceptance(const AcProblem& p, const std::vector<uint8_t>& selected,
                               const Eigen::VectorXd& rhs_full, const Eigen::VectorXd& fixed,
                               Eigen::VectorXd& result_full) {
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
            if (index[k] >= 0)
                t.emplace_back(row, index[k], -it.value().imag());
            else
                rhs[row] += it.value().imag() * fixed[k];
        }
    RealSparse b(m, m);
    b.setFromTriplets(t.begin(), t.end());
    b.makeCompressed();
    Eigen::VectorXd x = rhs;
    if (!solve_sparse(b, x)) return false;
    result_full = fixed;
    for (int k = 0; k < p.n; ++k)
        if (index[k] >= 0) result_full[k] = x[index[k]];
    return true;
}

// Angles of the linear (dc) load flow: B theta = P + the injections equivalent to the phase
// shifts, over the non-swing buses, swing angles held. B is built from the series
// susceptances alone (no shunts), which is what makes the estimate a load flow. Computed
// once per derived problem (its topology), then reused by every start that asks for it.
const Eigen::VectorXd* dc_angles(AcProblem& p) {
    if (p.dc_angle.size() == p.n) return &p.dc_angle;
    if (p.dc_angle_failed) return nullptr;
    p.dc_angle_failed = true;
    std::vector<int> index(p.n, -1);
    int m = 0;
    for (int k = 0; k < p.n; ++k)
        if (!p.is_swing[k]) index[k] = m++;
    Eigen::VectorXd fixed(p.n);
    for (int k = 0; k < p.n; ++k) fixed[k] = p.v_flat_angle[k];
    if (m == 0) {
        p.dc_angle = fixed;
        p.dc_angle_failed = false;
        return &p.dc_angle;
    }
    Eigen::VectorXd rhs(m);
    for (int k = 0; k < p.n; ++k)
        if (index[k] >= 0) rhs[index[k]] = (p.s_power[k] - p.s_current[k]).real();
    std::vector<Eigen::Triplet<double, int>> t;
    t.reserve(4 * p.dc_branches.size() + static_cast<size_t>(m));
    for (int k = 0; k < m; ++k) t.emplace_back(k, k, 0.0);
    for (const auto& br : p.dc_branches) {
        const int f = index[br.from], to = index[br.to];
        // Flow f -> t is b (theta_f - theta_t - shift): the shift enters as fixed injections.
        if (f >= 0) {
            t.emplace_back(f, f, br.b);
            rhs[f] += br.b * br.shift;
            if (to >= 0)
                t.emplace_back(f, to, -br.b);
            else
                rhs[f] += br.b * fixed[br.to];
        }
        if (to >= 0) {
            t.emplace_back(to, to, br.b);
            rhs[to] -= br.b * br.shift;
            if (f >= 0)
                t.emplace_back(to, f, -br.b);
            else
                rhs[to] += br.b * fixed[br.from];
        }
    }
    RealSparse b(m, m);
    b.setFromTriplets(t.begin(), t.end());
    b.makeCompressed();
    Eigen::VectorXd x = rhs;
    if (!solve_sparse(b, x)) return nullptr;
    p.dc_angle = fixed;
    for (int k = 0; k < p.n; ++k)
        if (index[k] >= 0) p.dc_angle[k] = x[index[k]];
    p.dc_angle_failed = false;
    return &p.dc_angle;
}

void estimate_angles(AcProblem& p, Eigen::VectorXcd& v) {
    const Eigen::VectorXd* theta = dc_angles(p);
    if (!theta) return;
    for (int k = 0; k < p.n; ++k)
        if (!p.is_swing[k]) v[k] = std::polar(std::abs(v[k]), (*theta)[k]);
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

Eigen::VectorXcd starting_voltages(AcProblem& p, StartMode mode, bool repair) {
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
            if (sc.steps_pu[b] > 0)
                up.push_back(cap += sc.steps_pu[b]);
            else
                down.push_back(rea += sc.steps_pu[b]);
        }
    std::reverse(down.begin(), down.end());
    down.insert(down.end(), up.begin(), up.end());
    return down;
}

// The susceptance a switched shunt steps to at voltages v, or its present one when its
// watched voltage is inside its band or it has no step left in that direction.
double next_shunt_level(const ShuntControl& sc, const Eigen::VectorXcd& v) {
    const double vm = std::abs(v[sc.regulated_bus]);
    const int dir = vm < sc.v_low_pu ? 1 : vm > sc.v_high_pu ? -1 : 0;
    if (dir == 0) return sc.b_present_pu;
    const auto levels = shunt_levels(sc);
    size_t at = 0;
    for (size_t i = 1; i < levels.size(); ++i)
        if (std::abs(levels[i] - sc.b_present_pu) < std::abs(levels[at] - sc.b_present_pu)) at = i;
    const long next = static_cast<long>(at) + dir;
    if (next < 0 || next >= static_cast<long>(levels.size())) return sc.b_present_pu;
    return levels[static_cast<size_t>(next)];
}

// One step of every switched shunt whose watched voltage is outside its band; true when
// any changed. The admittance matrix diagonal is updated in place.
bool adjust_switched_shunts(AcProblem& p, const Eigen::VectorXcd& v) {
    bool changed = false;
    for (auto& sc : p.shunt_controls) {
        const double b_new = next_shunt_level(sc, v);
        if (b_new == sc.b_present_pu) continue;
        p.ybus.coeffRef(sc.bus, sc.bus) += Complex(0.0, b_new - sc.b_present_pu);
        sc.b_present_pu = b_new;
        changed = true;
    }
    return changed;
}

// Whether a switched shunt would step at voltages v.
bool shunts_would_step(const AcProblem& p, const Eigen::VectorXcd& v) {
    for (const auto& sc : p.shunt_controls)
        if (next_shunt_level(sc, v) != sc.b_present_pu) return true;
    return false;
}

// The adjustments made between Newton solutions, in this order. Each looks at the solved
// voltages, changes the problem when its device should move, and tells whether it did;
// the solution runs Newton again after any change.
using Adjustment = bool (*)(AcProblem&, const Eigen::VectorXcd&);
constexpr Adjustment kAdjustments[] = {adjust_switched_shunts};

bool adjust_between_solutions(AcProblem& p, const Eigen::VectorXcd& v) {
    bool changed = false;
    for (Adjustment adjust : kAdjustments) changed = adjust(p, v) || changed;
    return changed;
}

// Plants that the case shows at a reactive limit: total reactive output of the machines at
// the upper (lower) limit with the regulated voltage below (above) the schedule. A solution
// writes exactly the limit, so a solved case read again keeps its plants at their limits.
std::vector<ControlState> recognised_control_states(const DerivedProblem& d, const Network& net) {
    const AcProblem& p = d.problem;
    std::vector<ControlState> states(p.controls.size(), ControlState::regulating);
    constexpr double kAtLimitPu = 1e-6;  // 0.0001 Mvar on 100 MVA
    for (size_t c = 0; c < p.controls.size(); ++c) {
        const auto& ctl = p.controls[c];
        double q = 0.0;
        for (int m : d.control_machines[c]) q += net.machines[m].qg_mvar / p.base_mva;
        const double vm = std::abs(p.v_case[ctl.regulated_bus]);
        if (!(vm > 0.0)) continue;
        // A voltage exactly at the schedule is regulating. Off it, the plant holds the limit
        // its output shows, the one consistent with the voltage's side when both match.
        const double off = vm - ctl.v_set_pu;
        if (std::abs(off) <= 1e-12) continue;
        const bool at_max = std::abs(q - ctl.q_max_pu) <= kAtLimitPu;
        const bool at_min = std::abs(q - ctl.q_min_pu) <= kAtLimitPu;
        if (at_max && (off < 0.0 || !at_min))
            states[c] = ControlState::at_max;
        else if (at_min)
            states[c] = ControlState::at_min;
    }
    recognise_facts_states(d, states);
    return states;
}

// Starting voltages from present values (the case's, or `from`): held magnitudes at their
// setpoints, except the buses of plants at a limit, which keep their magnitude.
Eigen::VectorXcd present_voltages(AcProblem& p, const std::vector<ControlState>& states, bool repair,
                                  const Eigen::VectorXcd* from = nullptr) {
    Eigen::VectorXcd v = from ? *from : starting_voltages(p, StartMode::present, repair);
    if (from) hold_setpoints(p, v);
    for (size_t c = 0; c < p.controls.size() && c < states.size(); ++c) {
        if (states[c] == ControlState::regulating) continue;
        const int r = p.controls[c].regulated_bus;
        const double kept = from ? std::abs((*from)[r]) : std::abs(p.v_case[r]);
        if (kept > 0.0 && std::isfinite(kept)) v[r] = std::polar(kept, std::arg(v[r]));
    }
    return v;
}

// A value written back that differs from the stored one by no more than rounding keeps the
// stored value, so that solving a solved case changes nothing.
void set_unless_rounding(double& stored, double value) {
    if (std::abs(value - stored) > 1e-9 * std::max(1.0, std::abs(stored))) stored = value;
}

// Writes the voltages v into the case with the outputs of the swing machines and of the
// regulating machines (control states `states`; a plant at a limit gets exactly the limit).
// `current` is Y v when the caller has it.
void write_back(Network& net, const DerivedProblem& d, const Eigen::VectorXcd& v,
                const std::vector<ControlState>& states, const Eigen::VectorXcd* current) {
    const AcProblem& p = d.problem;
    const double base = p.base_mva;
    auto set_voltage = [&](Bus& bus, Complex value, Complex held) {
        if (std::norm(value - held) <= 1e-28) return;  // |value - held| <= 1e-14
        bus.vm_pu = std::abs(value);
        bus.va_deg = std::arg(value) * 180.0 / kPi;
    };
    for (int k = 0; k < p.n; ++k) set_voltage(net.buses[d.network_bus[k]], v[k], p.v_case[k]);
    for (const auto& star : d.merged_stars) {
        Bus& bus = net.buses[star.network_bus];
        set_voltage(bus, v[star.problem_bus] / star.ratio, std::polar(bus.vm_pu, bus.va_deg * kPi / 180.0));
    }
    const Eigen::VectorXcd s_inj =
        current ? Eigen::VectorXcd(v.cwiseProduct(current->conjugate())) : NewtonRaphson::injections(p, v);
    // Output shared among the machines of a bus in proportion to their bases.
    auto share = [&](const std::vector<int>& machines, double p_mw, double q_mvar, bool set_p) {
        double total = 0.0;
        for (int m : machines) total += std::max(net.machines[m].mbase_mva, 1e-6);
        for (int m : machines) {
            const double f = std::max(net.machines[m].mbase_mva, 1e-6) / total;
            if (set_p) set_unless_rounding(net.machines[m].pg_mw, p_mw * f);
            set_unless_rounding(net.machines[m].qg_mvar, q_mvar * f);
        }
    };
    for (size_t s = 0; s < d.swing_buses.size(); ++s) {
        const int k = d.swing_buses[s];
        const double sched_p = d.swing_scheduled_p_pu[s];
        const Complex other = p.s_power[k] - Complex(sched_p, 0.0) - p.s_current[k] * std::abs(v[k]);
        const Complex gen = s_inj[k] - other;
        share(d.swing_machines[s], gen.real() * base, gen.imag() * base, true);
    }
    for (size_t c = 0; c < p.controls.size(); ++c) {
        const auto& ctl = p.controls[c];
        const ControlState state = c < states.size() ? states[c] : ControlState::regulating;
        const int g = ctl.gen_bus;
        // s_power holds no reactive output of regulating machines at their bus.
        const double q = state == ControlState::at_max ? ctl.q_max_pu
                         : state == ControlState::at_min
                             ? ctl.q_min_pu
                             : s_inj[g].imag() - (p.s_power[g] - p.s_current[g] * std::abs(v[g])).imag();
        share(d.control_machines[c], 0.0, q * base, false);
    }
}

bool same_settings(const NewtonSettings& a, const NewtonSettings& b) {
    return a.tolerance_pu == b.tolerance_pu && a.max_iterations == b.max_iterations && a.step == b.step &&
           a.var_limit_iteration == b.var_limit_iteration && a.flat_start == b.flat_start &&
           a.flat_start_limits_pu == b.flat_start_limits_pu && a.v_ceiling_pu == b.v_ceiling_pu;
}

bool same_values(const Eigen::VectorXcd& a, const Eigen::VectorXcd& b) {
    return a.size() == b.size() && std::equal(a.data(), a.data() + a.size(), b.data());
}

std::vector<double> shunt_susceptances(const AcProblem& p) {
    std::vector<double> b;
    b.reserve(p.shunt_controls.size());
    for (const auto& sc : p.shunt_controls) b.push_back(sc.b_present_pu);
    return b;
}

bool same_problem_values(const ProblemValues& kept, const AcProblem& p) {
    const auto nnz = static_cast<std::size_t>(p.ybus.nonZeros());
    return kept.y_values.size() == nnz && std::equal(kept.y_values.begin(), kept.y_values.end(), p.ybus.valuePtr()) &&
           same_values(kept.s_power, p.s_power) && same_values(kept.s_current, p.s_current) &&
           kept.shunt_b == shunt_susceptances(p);
}

// Flat-start results kept per derived problem: the option sets of the solving strategy's
// flat starts (rsol's and fnsl's) fit.
constexpr std::size_t kMemos = 4;

const char* outcome_text(NewtonOutcome o) {
    switch (o) {
        case NewtonOutcome::converged:
            return "converged";
        case NewtonOutcome::iteration_limit:
            return "iteration limit reached";
        default:
            return "diverged";
    }
}

}  // namespace

const FlatStartMemo* LoadFlowSolver::find_memo(const AcProblem& p, const SolutionOptions& opt,
                                               const NewtonSettings& first) const {
    for (const FlatStartMemo& m : memos_) {
        // The divergence threshold matters only where the mismatch grew three times running.
        if (m.start != opt.start || !same_settings(m.settings, first) ||
            first.divergence_mismatch_pu < m.growth_threshold_pu ||
            (m.adjust_shunts != opt.adjust_shunts && !m.shunts_idle) || m.taps.ratios != opt.taps.ratios ||
            m.taps.phase_shifters != opt.taps.phase_shifters || m.area_interchange != opt.area_interchange ||
            m.dc_taps != opt.dc_taps)
            continue;
        // The escalation stages ran only when the first attempt failed: only then does the
        // level matter.
        if (!m.first_converged && m.robustness != opt.robustness) continue;
        if (!same_problem_values(*m.problem, p)) continue;
        return &m;
    }
    return nullptr;
}

void LoadFlowSolver::remember(const AcProblem& p, const SolutionOptions& opt, const NewtonSettings& first,
                              bool first_converged, double growth_threshold_pu, const NewtonResult& result,
                              const Eigen::VectorXcd& v, const std::vector<ControlState>& states,
                              const SolutionReport& report, std::vector<std::string> lines) {
    if (newton_.converged_current().size() != p.n) return;
    FlatStartMemo m;
    m.start = opt.start;
    m.robustness = opt.robustness;
    m.first_converged = first_converged;
    m.settings = first;
    m.growth_threshold_pu = growth_threshold_pu;
    m.adjust_shunts = opt.adjust_shunts;
    m.shunts_idle = !shunts_would_step(p, v);
    m.taps = opt.taps;
    m.area_interchange = opt.area_interchange;
    m.dc_taps = opt.dc_taps;
    for (const FlatStartMemo& kept : memos_)
        if (same_problem_values(*kept.problem, p)) {
            m.problem = kept.problem;
            break;
        }
    if (!m.problem) {
        auto values = std::make_shared<ProblemValues>();
        values->y_values.assign(p.ybus.valuePtr(), p.ybus.valuePtr() + p.ybus.nonZeros());
        values->s_power = p.s_power;
        values->s_current = p.s_current;
        values->shunt_b = shunt_susceptances(p);
        m.problem = std::move(values);
    }
    m.result = result;
    m.v = v;
    m.current = newton_.converged_current();
    m.states = states;
    m.iterations = report.iterations;
    m.factorizations = report.factorizations;
    m.lines = std::move(lines);
    if (memos_.size() >= kMemos) memos_.erase(memos_.begin());
    memos_.push_back(std::move(m));
}

DerivedProblem& LoadFlowSolver::derive(const Network& net) {
    const std::uint64_t fingerprint = bus_fingerprint(net);
    if (derived_ && derived_network_ == &net && derived_revision_ == net.structure_revision &&
        derived_fingerprint_ == fingerprint) {
        refresh_voltages(*derived_, net);
        return *derived_;
    }
    memos_.clear();
    // The last problem goes before the new one is built, so that the two are never held
    // together (megabytes on a large case); only its bus map is kept, for the ordering below.
    const bool same_network = derived_ && derived_network_ == &net;
    std::vector<int> last_problem_bus;
    if (same_network) last_problem_bus = std::move(derived_->problem_bus);
    derived_.reset();
    return_free_heap_pages();
    // Switched shunts that may step are always listed; a solution that does not adjust them
    // leaves them where they are, so solutions with and without adjustment share the problem.
    auto derived = std::make_unique<DerivedProblem>(build_ac_problem(net, true));
    // Each bus of the new problem that the last one held, found by its place in the network
    // and checked by its number: the linear solver may keep the last column order.
    std::vector<int> previous_bus;
    if (same_network) {
        previous_bus.assign(derived->network_bus.size(), -1);
        for (std::size_t k = 0; k < previous_bus.size(); ++k) {
            const int bus = derived->network_bus[k];
            if (bus < static_cast<int>(last_problem_bus.size())) {
                const int before = last_problem_bus[bus];
                if (before >= 0 && derived_bus_numbers_[before] == net.buses[bus].number) previous_bus[k] = before;
            }
        }
    }
    newton_.carry_ordering(std::move(previous_bus));
    derived_ = std::move(derived);
    derived_bus_numbers_.clear();
    for (const int bus : derived_->network_bus) derived_bus_numbers_.push_back(net.buses[bus].number);
    derived_network_ = &net;
    derived_revision_ = net.structure_revision;
    derived_fingerprint_ = fingerprint;
    return *derived_;
}

SolutionReport LoadFlowSolver::solve(Network& net, const SolutionParameters& par, const SolutionOptions& opt,
                                     const std::string& name, const ProgressLines& progress) {
    SolutionReport report;
    std::vector<std::string>* capture = nullptr;  // also keeps the lines said, while set
    auto say = [&](const std::string& line) {
        if (progress) progress(line);
        if (capture) capture->push_back(line);
    };
    DerivedProblem& derived = derive(net);
    AcProblem& p = derived.problem;
    const double base = p.base_mva;
    auto bus_number = [&](int k) { return k >= 0 ? net.buses[derived.network_bus[k]].number : 0; };

    if (p.n == 0) {
        say(format_line("%s: no bus to solve", name.c_str()));
        // Nothing solved: an empty case has no solution to report.
        report.code = derived.islands_without_swing > 0 ? kIslandWithoutSwing : kNoSolutionYet;
        if (derived.islands_without_swing > 0)
            say(format_line("%s: %d island(s) without a swing bus or machine not solved", name.c_str(),
                            derived.islands_without_swing));
        return report;
    }

    NewtonSettings settings;
    settings.tolerance_pu = par.tolerance_mva / base;
    settings.max_iterations = par.max_iterations;
    settings.var_limit_iteration = opt.var_limit_iteration;
    settings.step = opt.robustness < 0 ? opt.step : StepControl::halving;
    settings.divergence_mismatch_pu = opt.divergence_mva / base;
    settings.v_ceiling_pu = opt.v_ceiling_pu;
    const bool limits_apply = settings.var_limit_iteration >= 0;

    // Scheduled injections: area interchange control moves its slack buses' share in them, and
    // they carry the dc lines' converter injections on top of the case's own.
    Eigen::VectorXcd s_power0 = p.s_power;
    const Eigen::VectorXcd s_current0 = p.s_current;
    bool shunts_moved = false;
    report_devices_left_out(net, name, say);
    TapControls taps;
    taps.build(net, derived, opt.taps, name, say);
    AreaInterchange areas;
    areas.build(net, derived, static_cast<InterchangeMode>(opt.area_interchange), name, say);
    FactsControls facts;
    facts.build(derived, name, say);
    int iteration_base = 0;
    double growth_threshold_pu = 0.0;  // of every Newton run of this solution (see NewtonResult)
    auto stop_if_interrupted = [this](int, double, int, bool) {
        if (interrupt_check_ && interrupt_check_()) throw SolutionInterrupted();
    };
    auto observer = [&](int it, double mismatch, int bus, bool is_q) {
        stop_if_interrupted(it, mismatch, bus, is_q);
        say(format_line("%s %3d  largest mismatch %12.4f %s at bus %d", name.c_str(), iteration_base + it,
                        mismatch * base, is_q ? "Mvar" : "MW  ", bus_number(bus)));
    };

    // The state the case holds: its voltages and the plants its machine outputs show at a
    // reactive limit. A start from present voltages starts from exactly that state.
    const std::vector<ControlState> held_states =
        limits_apply ? recognised_control_states(derived, net) : std::vector<ControlState>(p.controls.size());
    const Eigen::VectorXcd v_held = present_voltages(p, held_states, false);
    DcLines dc_lines;
    dc_lines.build(net, derived, opt.dc_taps, name, say);
    dc_lines.update(p, v_held, s_power0, settings.tolerance_pu, name, say);
    p.s_power = s_power0;  // the held state is judged with the dc lines' injections

    // The requested start. The same flat start on the same problem that converged before is
    // answered with its kept result (below), which takes the place of every state met here.
    const bool from_present = opt.start == StartMode::present;
    NewtonSettings first = settings;
    first.flat_start = !from_present;
    const FlatStartMemo* memo = from_present ? nullptr : find_memo(p, opt, first);

    // The best state met so far, by its largest mismatch; the held state first, so that a
    // failed solution never leaves the case worse than it found it. A kept result replaces
    // it whole, so the held state is not evaluated then.
    struct Best {
        Eigen::VectorXcd v;
        std::vector<ControlState> states;
        double mismatch = INFINITY;
        int worst_bus = -1;
        bool from_attempt = false;
    } best;
    NewtonResult held_result;
    if (!memo) {
        NewtonSettings evaluate = settings;
        evaluate.max_iterations = 0;
        Eigen::VectorXcd v = v_held;
        newton_.set_control_states(held_states);
        held_result = newton_.solve(p, v, evaluate, {});
        p.s_power = s_power0;
        best.v = v_held;
        best.states = held_states;
        best.mismatch = held_result.largest_mismatch_pu;
        best.worst_bus = held_result.worst_bus;
    }

    // A fresh start. Its linear estimates factor matrices of their own (megabytes on a large
    // network); the Newton factor's values, which the next iteration makes anew anyway, go
    // first so that the two are not held together.
    auto fresh_start = [&](StartMode mode) {
        const bool estimates_angles = (mode == StartMode::flat_angles || mode == StartMode::flat_both) &&
                                      p.dc_angle.size() != p.n && !p.dc_angle_failed;
        if (estimates_angles || mode == StartMode::flat_magnitudes || mode == StartMode::flat_both)
            newton_.release_factor_values();
        return starting_voltages(p, mode, false);
    };

    // One Newton run from v, then the adjustments between Newton solutions, each followed by
    // a new Newton run from where the last ended, until no adjustment changes anything.
    // Its result counts toward the best state unless it solves another problem (no limits).
    // `held_converged`: v is the held state with its control states, which met the tolerance
    // above; the first Newton run from it would end at once with the evaluation's result.
    auto attempt = [&](Eigen::VectorXcd& v, const NewtonSettings& s, const std::vector<ControlState>* preset,
                       bool counts = true, bool held_converged = false) -> NewtonResult {
        NewtonResult r;
        std::vector<ControlState> states;
        if (preset) states = *preset;
        bool use_states = preset != nullptr;
        Eigen::VectorXcd v_adjusted;  // converged voltages the last tap moves started from
        std::vector<ControlState> states_adjusted;
        for (int round = 0;; ++round) {
            p.s_power = s_power0;
            if (round == 0 && held_converged) {
                // The newton solver still holds that evaluation's states and bus currents.
                r = held_result;
                observer(0, r.largest_mismatch_pu, r.worst_bus, r.worst_is_q);
            } else {
                if (use_states) newton_.set_control_states(states);
                r = newton_.solve(p, v, s, observer);
            }
            growth_threshold_pu = std::max(growth_threshold_pu, r.growth_threshold_pu);
            report.iterations += r.iterations;
            report.factorizations += r.factorizations;
            iteration_base += r.iterations + 1;
            if (r.outcome != NewtonOutcome::converged && v_adjusted.size() > 0) {
                // The last tap moves made the case unsolvable: take them back and solve again
                // from the state they started from.
                if (const int undone = taps.undo_last_round(p)) {
                    say(format_line("%s no solution after the last tap moves: %d winding(s) back to their positions",
                                    name.c_str(), undone));
                    v = v_adjusted;
                    states = states_adjusted;
                    use_states = true;
                    v_adjusted.resize(0);
                    continue;
                }
            }
            if (r.outcome == NewtonOutcome::converged && round < kAdjustmentRounds) {
                // Every control acts on the same converged voltages, then Newton runs again.
                const bool shunts = opt.adjust_shunts && round < kShuntRounds && adjust_between_solutions(p, v);
                if (shunts) {
                    shunts_moved = true;
                    say(format_line("%s switched shunts stepped toward their voltage bands", name.c_str()));
                }
                const int taps_moved = taps.adjust(p, v, name, say);
                const int areas_moved = areas.adjust(net, derived, p, s_power0, v, name, say);
                const int facts_moved = facts.adjust(net, derived, s_power0, v, newton_.control_states(), name, say);
                const bool dc_moved = dc_lines.update(p, v, s_power0, settings.tolerance_pu, name, say);
                if (taps_moved > 0) {
                    v_adjusted = v;
                    states_adjusted = newton_.control_states();
                } else {
                    v_adjusted.resize(0);
                }
                if (shunts || taps_moved > 0 || areas_moved > 0 || facts_moved > 0 || dc_moved) {
                    // The next run starts where this one ended, control states included.
                    states = newton_.control_states();
                    use_states = true;
                    continue;
                }
            }
            break;
        }
        p.s_power = s_power0;
        if (counts && (r.largest_mismatch_pu < best.mismatch || r.outcome == NewtonOutcome::converged)) {
            best.v = v;
            best.states = newton_.control_states();
            best.mismatch = r.largest_mismatch_pu;
            best.worst_bus = r.worst_bus;
            best.from_attempt = true;
        }
        return r;
    };
    auto twice_the_iterations = [&](StepControl step) {
        NewtonSettings s = settings;
        s.max_iterations = 2 * settings.max_iterations;
        s.step = step;
        return s;
    };

    // A start from present voltages keeps the plants held at their limits.
    const int level = opt.robustness;
    NewtonResult r;
    if (memo) {
        // The same flat start on the same problem converged before: its result, as it came.
        for (const std::string& line : memo->lines) say(line);
        r = memo->result;
        report.iterations = memo->iterations;
        report.factorizations = memo->factorizations;
        best.v = memo->v;
        best.states = memo->states;
        best.mismatch = r.largest_mismatch_pu;
        best.worst_bus = r.worst_bus;
        best.from_attempt = true;
    }
    std::vector<std::string> lines;
    bool first_converged = false;
    if (!memo) {
        if (!from_present) capture = &lines;
        // Without repairs the start from present voltages is the held state itself.
        const bool held_start = from_present && !opt.repair_start;
        const Eigen::VectorXcd v_first = held_start     ? v_held
                                         : from_present ? present_voltages(p, held_states, opt.repair_start)
                                                        : fresh_start(opt.start);
        Eigen::VectorXcd v = v_first;
        const bool held_converged = held_start && held_result.outcome == NewtonOutcome::converged;
        r = attempt(v, first, from_present ? &held_states : nullptr, true, held_converged);
        first_converged = r.outcome == NewtonOutcome::converged;

        // A flat start without the angle estimate fails on large meshed networks, whose angles
        // spread over tens of degrees: the first Newton step from zero angles overshoots into
        // another basin. A full Newton solution asked for such a start that fails runs once more
        // from the flat start with the linear angle estimate (and the same magnitudes), which
        // leaves every solution the plain flat start finds as it was.
        if (r.outcome != NewtonOutcome::converged && level < 0 &&
            (opt.start == StartMode::flat || opt.start == StartMode::flat_magnitudes)) {
            const StartMode with_angles = opt.start == StartMode::flat ? StartMode::flat_angles : StartMode::flat_both;
            say(format_line("%s retry from a flat start (estimate %d)", name.c_str(), static_cast<int>(with_angles)));
            v = fresh_start(with_angles);
            r = attempt(v, first, nullptr);
        }

        // Escalation of rsol: each level runs every stage of the level below it first, so that a
        // level solves every case the level below it solves.
        if (r.outcome != NewtonOutcome::converged && level >= 1) {
            say(format_line("%s retry with the optimal step multiplier", name.c_str()));
            NewtonSettings s = first;
            s.step = StepControl::optimal_multiplier;
            v = v_first;
            r = attempt(v, s, from_present ? &held_states : nullptr);
        }
        if (r.outcome != NewtonOutcome::converged && level >= 2) {
            // Fresh starts: the linear angle estimate, with a magnitude step, and plain flat.
            for (StartMode mode : {StartMode::flat_angles, StartMode::flat_both, StartMode::flat}) {
                if (mode == opt.start) continue;  // tried above
                say(format_line("%s retry from a flat start (estimate %d)", name.c_str(), static_cast<int>(mode)));
                v = fresh_start(mode);
                NewtonSettings s = twice_the_iterations(StepControl::optimal_multiplier);
                s.flat_start = true;
                r = attempt(v, s, nullptr);
                if (r.outcome == NewtonOutcome::converged) break;
            }
        }
        if (r.outcome != NewtonOutcome::converged && level >= 3 && limits_apply && !p.controls.empty()) {
            say(format_line("%s solving without reactive limits, then with them", name.c_str()));
            NewtonSettings s = twice_the_iterations(StepControl::optimal_multiplier);
            s.var_limit_iteration = -1;
            const std::vector<ControlState> regulating(p.controls.size(), ControlState::regulating);
            v = present_voltages(p, regulating, false, &best.v);
            r = attempt(v, s, &regulating, false);
            if (r.outcome == NewtonOutcome::converged)
                r = attempt(v, twice_the_iterations(StepControl::optimal_multiplier), &regulating);
        }
        if (r.outcome != NewtonOutcome::converged && level >= 4) {
            // Continuation: scale every load and generation injection by lambda, from a level
            // that solves up to 1, halving the increment after a failed step; from the best
            // state so far.
            say(format_line("%s continuation on load and generation", name.c_str()));
            const std::vector<ControlState> regulating(p.controls.size(), ControlState::regulating);
            Eigen::VectorXcd v_good = present_voltages(p, regulating, false, &best.v);
            double lambda = 0.0, step = 0.25;
            bool reached = false;
            NewtonSettings s = settings;
            s.step = StepControl::optimal_multiplier;
            for (int k = 0; k < kContinuationSteps && step > 1e-3; ++k) {
                const double target = std::min(1.0, lambda + (k == 0 ? 0.0 : step));
                Eigen::VectorXcd trial = v_good;
                p.s_power = s_power0 * target;
                p.s_current = s_current0 * target;
                NewtonResult rs = newton_.solve(p, trial, s, stop_if_interrupted);
                growth_threshold_pu = std::max(growth_threshold_pu, rs.growth_threshold_pu);
                report.iterations += rs.iterations;
                report.factorizations += rs.factorizations;
                if (rs.outcome == NewtonOutcome::converged) {
                    v_good = trial;
                    lambda = target;
                    step *= 1.5;
                    say(format_line("%s continuation reached %.4f of load and generation", name.c_str(), lambda));
                    if (lambda >= 1.0) {
                        reached = true;
                        break;
                    }
                } else {
                    step *= 0.5;
                }
            }
            p.s_power = s_power0;
            p.s_current = s_current0;
            if (reached || lambda > 0.0) r = attempt(v_good, settings, nullptr);
        }
        capture = nullptr;
    }
    p.s_power = s_power0;
    p.s_current = s_current0;
    // A flat start that converged without moving a shunt or a tap left the problem as it found
    // it: the same flat start on it gives this result again.
    if (!memo && !from_present && r.outcome == NewtonOutcome::converged && !shunts_moved && !taps.any_moved())
        remember(p, opt, first, first_converged, growth_threshold_pu, r, best.v, best.states, report, std::move(lines));

    // Outcome.
    const bool converged = r.outcome == NewtonOutcome::converged;
    report.code = converged ? kSolved : r.outcome == NewtonOutcome::iteration_limit ? kIterationLimit : kDiverged;
    if (report.code == kSolved && derived.islands_without_swing > 0) report.code = kIslandWithoutSwing;
    report.largest_mismatch_mva = (converged ? r.largest_mismatch_pu : best.mismatch) * base;
    report.worst_bus = bus_number(converged ? r.worst_bus : best.worst_bus);

    // Write back the solution, or after a failure the best state met, unless that is the
    // state the case already holds or a failed solution must leave the case as it was.
    const bool write = converged || (!opt.restore_on_failure && best.from_attempt);
    if (write) {
        const Eigen::VectorXcd& current = memo ? memo->current : newton_.converged_current();
        write_back(net, derived, best.v, best.states, converged && current.size() == p.n ? &current : nullptr);
        if (converged) {
            for (size_t c = 0; c < p.shunt_controls.size() && opt.adjust_shunts; ++c)
                net.switched_shunts[derived.shunt_of_control[c]].binit_mvar = p.shunt_controls[c].b_present_pu * base;
            taps.write_back(net);
            areas.write_back(net);
            dc_lines.write_back(net);
            dc_lines.report(name, say);
        }
    }
    // The dc lines' injections are worked out afresh by every solution; the problem keeps the rest.
    if (!dc_lines.empty()) p.s_power -= dc_lines.applied();
    // Shunt steps or tap settings kept in the admittance matrix but not in the case: derive
    // afresh next time.
    const bool drop_derived =
        (shunts_moved || taps.any_moved() || areas.any_moved() || facts.any_moved()) && !converged;

    std::string closing =
        format_line("%s %s after %d iterations (%ld factorizations): largest mismatch %.4f MVA at bus %d", name.c_str(),
                    outcome_text(r.outcome), report.iterations, report.factorizations, report.largest_mismatch_mva,
                    report.worst_bus);
    if (derived.islands_without_swing > 0)
        closing += format_line("; %d island(s) without a swing bus or machine not solved (bus %d among them)",
                               derived.islands_without_swing, derived.buses_without_swing.front());
    say(closing);
    if (drop_derived) invalidate();
    return report;
}

}  // namespace gridfold::pf
