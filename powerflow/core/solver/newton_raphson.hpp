// Polar Newton-Raphson iterations on an AcProblem.
//
// Inputs: the problem (admittance matrix, injections, voltage controls), starting
// voltages and the settings below. Output: the voltages (updated in place), the
// outcome and statistics. The mismatch is evaluated before any factorization, so a
// problem that already meets the tolerance returns after zero factorizations.
// Unknowns: the angle and the magnitude of every non-swing bus. Equations: the active-
// and reactive-power balance of every non-swing bus, except that an active voltage
// control replaces the reactive balance of its generator bus (whose reactive output is
// free) by "the magnitude of its regulated bus does not move". The Jacobian's sparsity
// pattern and the linear solver's analysis are therefore kept while the admittance
// pattern, the swing buses and the list of controls stay the same, across every switch
// of a control to or from a reactive limit. With reactive limits ignored no control
// switches, and the regulated magnitudes and free reactive balances are left out of the
// system instead, which makes it smaller.
#pragma once

#include "core/solver/ac_problem.hpp"
#include "core/solver/linear_solver.hpp"

#include <functional>

namespace gridfold::pf {

enum class NewtonOutcome { converged = 0, iteration_limit = 1, diverged = 2 };

enum class StepControl {
    full,         // plain Newton steps
    halving,      // halve the step (up to 6 times) while it increases the mismatch
    // Step length from a cubic model of the squared mismatch along the Newton direction
    // (optimal multiplier): keeps an iterate far from the solution from overshooting.
    optimal_multiplier,
};

struct NewtonSettings {
    double tolerance_pu = 0.001;      // largest active or reactive bus mismatch accepted
    int max_iterations = 20;
    StepControl step = StepControl::full;
    // Reactive limits of voltage controls: -1 ignored; 0 checked from the first
    // iteration; n > 0 checked from iteration n, or earlier once the largest
    // mismatch is below 10 times the tolerance. Once checked, controls switch to
    // fixed output at the violated limit and back when the voltage allows it.
    int var_limit_iteration = 0;
    // The starting voltages are a flat start. Reactive outputs computed there say nothing
    // about the solution (a flat magnitude across an off-nominal transformer alone shows
    // thousands of Mvar), so limits asked from iteration 0 take effect at the first iterate
    // whose largest mismatch is below flat_start_limits_pu.
    bool flat_start = false;
    double flat_start_limits_pu = 1.0;
    // Divergence: any non-finite value or magnitude <= 0 or above v_ceiling_pu, or a
    // largest mismatch above divergence_mismatch_pu that grew three iterations running.
    double v_ceiling_pu = 5.0;
    double divergence_mismatch_pu = 100.0;
};

struct NewtonResult {
    NewtonOutcome outcome = NewtonOutcome::iteration_limit;
    int iterations = 0;              // Newton steps taken
    double largest_mismatch_pu = 0;  // at the returned voltages (infinite when none was finite)
    int worst_bus = -1;              // internal index of the bus with the largest mismatch
    bool worst_is_q = false;         // and whether that mismatch is a reactive one
    long factorizations = 0;
    // The smallest divergence_mismatch_pu under which the iterations take this same path: the
    // largest, over every three consecutive iterations whose mismatch grew, of their smallest
    // mismatch (0 when the mismatch never grew three iterations running).
    double growth_threshold_pu = 0;
};

// Called once per iteration before the step: iteration number, largest mismatch
// (pu), internal index of its bus, and whether it is a reactive mismatch.
using IterationObserver = std::function<void(int, double, int, bool)>;

// A control at a limit returns to regulating once its regulated voltage is beyond its
// setpoint by more than this (pu) on the side that shows it would move off the limit.
constexpr double kLimitReleaseMarginPu = 1e-6;

// State of each voltage control during the iterations.
enum class ControlState : uint8_t { regulating, at_max, at_min };

class NewtonRaphson {
public:
    // Runs the iterations. On failure the voltages are left at the iterate with the
    // smallest mismatch (since the last change of control states), which is always finite.
    NewtonResult solve(AcProblem& problem, Eigen::VectorXcd& v, const NewtonSettings& settings,
                       const IterationObserver& observer = {});

    // Control states after the last solve (index as problem.controls).
    const std::vector<ControlState>& control_states() const { return states_; }
    // Sets the control states the next solve starts with (sizes must match, else ignored).
    void set_control_states(const std::vector<ControlState>& states) { preset_ = states; }

    // The next solve is on a new problem whose bus k was bus previous_bus[k] of the present
    // one (-1: a bus it did not have). Its Jacobian then takes the column order of the present
    // one, buses the present problem did not have coming last, instead of a new minimum degree
    // ordering, when few columns are new: bringing a bus back adds a bus and a branch or two,
    // which that order factors with about the same fill. The factors are checked: a fill per
    // column 5 % above that of the last minimum degree ordering is ordered anew.
    void carry_ordering(std::vector<int> previous_bus) { previous_bus_ = std::move(previous_bus); }
    // See SparseLinearSolver::release_factor_values; every iteration factors before it solves.
    void release_factor_values() { linear_.release_factor_values(); }

    // Bus currents Y v at the voltages of the last converged solve (empty after a failure).
    const Eigen::VectorXcd& converged_current() const { return converged_current_; }
    // Complex power (pu) injected into the network at each bus at voltages v.
    static Eigen::VectorXcd injections(const AcProblem& problem, const Eigen::VectorXcd& v);

private:
    void build_indices(const AcProblem& problem);
    // Marks the Jacobian pattern stale when the admittance pattern differs from the last one.
    void check_admittance_pattern(const AcProblem& problem);
    void build_pattern(const AcProblem& problem);
    // carried_order_ from the present analysis and column keys, mapped by previous_bus_.
    void carry_column_order();
    // Orders, analyses and factorises a new Jacobian pattern; false when it is singular.
    bool analyse_and_factorise();
    void fill_jacobian(const AcProblem& problem, const Eigen::VectorXcd& v, const Eigen::VectorXcd& current);
    // Mismatch vector (P rows then Q rows); returns the largest entry in magnitude.
    double mismatch(const AcProblem& problem, const Eigen::VectorXcd& v, Eigen::VectorXd& f, Eigen::VectorXcd& current,
                    int& worst_bus, bool& worst_is_q) const;
    bool apply_var_limits(AcProblem& problem, Eigen::VectorXcd& v, const Eigen::VectorXcd& current);
    // Magnitudes and angles of the iterate v: the Jacobian, the trial steps and the step
    // itself all start from them. Taken from v once per solve; after that the steps keep
    // them (step_iterate), which spares an atan2 and a hypot per bus and iteration.
    void take_polar(const Eigen::VectorXcd& v);
    // Moves the iterate by mu * dx: its polar form, then v from it.
    void step_iterate(Eigen::VectorXcd& v, const Eigen::VectorXd& dx, double mu);
    // v = the iterate taken by take_polar moved by mu * dx.
    void apply_step(Eigen::VectorXcd& v, const Eigen::VectorXd& dx, double mu) const;

    // Squared mismatch norm at the iterate + mu * dx, infinite when the voltages are not sane.
    double trial_norm(const AcProblem& problem, const Eigen::VectorXd& dx, double mu, double ceiling);
    // Step length along dx from the iterate, whose squared mismatch norm is norm0, for the step control.
    double step_length(const AcProblem& problem, const Eigen::VectorXd& dx, double mu, double norm0,
                       const NewtonSettings& settings);

    std::vector<ControlState> states_;
    std::vector<double> magnitude_, angle_;  // polar form of the iterate (take_polar)
    bool polar_valid_ = false;               // magnitude_ and angle_ are those of the iterate
    Eigen::VectorXcd trial_v_, trial_current_;
    Eigen::VectorXd trial_f_;
    Eigen::VectorXcd converged_current_;
    std::vector<ControlState> preset_;
    std::vector<int> back_switches_;
    // Index maps: -1 when the bus has no such row/column.
    std::vector<int> p_index_;   // P row and angle column
    std::vector<int> q_index_;   // Q row (offset by n_p_)
    std::vector<int> vm_index_;  // magnitude column (offset by n_p_)
    std::vector<int> control_pairs_;  // generator and regulated bus of each control, in turn
    std::vector<uint8_t> q_replaced_;  // reactive equation replaced by a regulating control
    std::vector<uint8_t> vm_held_;     // magnitude held by a regulating control
    int n_p_ = 0, n_q_ = 0;
    bool square_ = true;  // every regulating control has an equation and a magnitude of its own
    // Reactive limits apply: every non-swing bus keeps its reactive equation and magnitude
    // (see build_indices); otherwise regulated magnitudes and free reactive balances are left out.
    bool keep_structure_ = true;
    // Jacobian and, for each admittance nonzero, its four positions in J's value array.
    RealSparse jacobian_;
    std::vector<int> pos_pa_, pos_pm_, pos_qa_, pos_qm_;
    std::vector<int> pos_control_;      // position of each control's replaced-equation entry
    std::vector<uint8_t> control_only_;  // that position holds no admittance entry
    std::vector<double> diag_magnitude_q_;  // dQ_i/d|V_i| of each bus, for the control entries
    bool pattern_valid_ = false;
    bool analysed_ = false;
    // 2 * bus + (0 angle, 1 magnitude) of each Jacobian column.
    std::vector<int> column_key_;
    std::vector<int> previous_bus_;   // see carry_ordering; consumed by the next solve
    std::vector<int> carried_order_;  // column order taken over for the next analysis
    double ordered_fill_per_column_ = 0;  // of the last minimum degree ordering's factors
    // Admittance pattern the Jacobian pattern was built from.
    std::vector<int> y_outer_, y_inner_;
    SparseLinearSolver linear_;
};

}  // namespace gridfold::pf
