// Load-flow solutions of a network: the full Newton solution (fnsl) and the robust
// solution (rsol), their options, the solution parameters and the solved status.
//
// A solution derives the solver data from the network (network_to_problem.hpp), runs
// the Newton-Raphson kernel with the chosen start, step control and escalation, and
// writes back bus voltages, machine outputs and adjusted switched shunts. Voltages
// written back are always finite.
#pragma once

#include "core/controls/tap_control.hpp"
#include "core/model/network.hpp"
#include "core/solver/network_to_problem.hpp"
#include "core/solver/newton_raphson.hpp"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace gridfold::pf {

// Value of solved(): the outcome of the most recent solution attempt.
enum SolvedCode : int {
    kSolved = 0,
    kIterationLimit = 1,      // the tolerance was not met within the iteration limit
    kDiverged = 2,            // the iterations blew up or the Jacobian was singular
    kIslandWithoutSwing = 3,  // every solved island met the tolerance, but an island had no swing bus
    kNoSolutionYet = 4,       // no solution attempted since the case was created or read
};

// Settable through solution_parameters_4.
struct SolutionParameters {
    int max_iterations = 20;          // Newton iterations per attempt
    double tolerance_mva = 0.1;       // largest bus mismatch accepted, MW and Mvar
    double divergence_mva = 10000.0;  // growing mismatch above this counts as divergence (fnsl)
    double v_ceiling_pu = 5.0;        // magnitudes above this count as divergence (fnsl)
};

// Start of an attempt.
enum class StartMode : int {
    present = 0,           // the case's present voltages
    flat = 1,              // held buses at their setpoint, others 1 pu, angles 0
    flat_angles = 2,       // flat, then angles from a linear (dc) estimate
    flat_magnitudes = 3,   // flat, then magnitudes from one reactive-power step
    flat_both = 4,         // flat, then both estimates
};

struct SolutionOptions {
    StartMode start = StartMode::present;
    int var_limit_iteration = 99;  // as NewtonSettings::var_limit_iteration
    bool adjust_shunts = false;
    TapControlSettings taps;           // transformer ratio and phase-angle adjustment
    int area_interchange = 0;          // 0 off, 1 tie lines, 2 tie lines and loads
    bool dc_taps = false;              // dc converter transformer taps (not modelled: reported)
    StepControl step = StepControl::full;
    // Escalation of rsol: 0 step halving; 1 step-length search; 2 also retries from flat
    // starts; 3 also solves without reactive limits first, then with them; 4 also walks the
    // load and generation up from zero (continuation) when the attempts above fail.
    int robustness = -1;               // -1: fnsl, a single attempt
    bool repair_start = false;         // reset non-finite or implausible starting voltages
    bool restore_on_failure = false;   // leave the case unchanged when the solution fails
    double divergence_mva = 10000.0;
    double v_ceiling_pu = 5.0;
};

struct SolutionReport {
    int code = kNoSolutionYet;
    int iterations = 0;
    long factorizations = 0;
    double largest_mismatch_mva = 0.0;
    int worst_bus = 0;  // bus number
};

// Receives each progress line.
using ProgressLines = std::function<void(const std::string&)>;

// Asked between Newton iterations whether the caller wants the solution stopped (a user
// pressed Ctrl-C). When it answers true, solve() throws SolutionInterrupted at once: the
// network is left exactly as it was, and the caller must invalidate() the solver, whose
// derived data may hold a half-finished attempt.
using InterruptCheck = std::function<bool()>;

class SolutionInterrupted : public std::runtime_error {
public:
    SolutionInterrupted() : std::runtime_error("solution interrupted") {}
};

// The values of a problem a flat start's result is a function of: admittance matrix,
// injections and shunt steps. Kept results on equal values share one copy.
struct ProblemValues {
    std::vector<Complex> y_values;
    Eigen::VectorXcd s_power, s_current;
    std::vector<double> shunt_b;
};

// A converged solution from a flat start and what it was computed from. A flat start reads
// nothing of the case's present state: its result is a function of the problem's values and
// of the options alone, so the same flat start on the same problem is answered with this
// result instead of iterating again.
struct FlatStartMemo {
    StartMode start = StartMode::flat;
    int robustness = -1;           // compared only when the first attempt did not converge
    bool first_converged = false;  // the first attempt converged (no escalation stage ran)
    NewtonSettings settings;       // of the first attempt
    double growth_threshold_pu = 0;  // the divergence thresholds from this one up take the same path
    bool adjust_shunts = false;
    // No switched shunt would step at the solution: adjusting them or not gives this result.
    bool shunts_idle = false;
    TapControlSettings taps;
    int area_interchange = 0;
    bool dc_taps = false;
    std::shared_ptr<const ProblemValues> problem;
    NewtonResult result;
    Eigen::VectorXcd v, current;
    std::vector<ControlState> states;
    int iterations = 0;
    long factorizations = 0;
    std::vector<std::string> lines;  // progress lines of the iterations
};

class LoadFlowSolver {
public:
    // Runs one solution on the network; `name` ("fnsl", "rsol") heads the progress lines.
    SolutionReport solve(Network& network, const SolutionParameters& parameters, const SolutionOptions& options,
                         const std::string& name, const ProgressLines& progress);

    // Forgets the derived solver data (the working case was replaced, or a solution was
    // interrupted).
    void invalidate() {
        derived_.reset();
        memos_.clear();
    }

    void set_interrupt_check(InterruptCheck check) { interrupt_check_ = std::move(check); }

private:
    // Solver data of the network, reused while its structure and bus data are unchanged.
    DerivedProblem& derive(const Network& network);
    // The kept result of this flat start on this problem, or null.
    const FlatStartMemo* find_memo(const AcProblem& problem, const SolutionOptions& options,
                                   const NewtonSettings& first) const;
    void remember(const AcProblem& problem, const SolutionOptions& options, const NewtonSettings& first,
                  bool first_converged, double growth_threshold_pu, const NewtonResult& result,
                  const Eigen::VectorXcd& v, const std::vector<ControlState>& states, const SolutionReport& report,
                  std::vector<std::string> lines);

    NewtonRaphson newton_;  // kept across solutions: its Jacobian pattern and analysis are reused
    std::unique_ptr<DerivedProblem> derived_;
    const Network* derived_network_ = nullptr;
    std::uint64_t derived_revision_ = 0;
    std::uint64_t derived_fingerprint_ = 0;
    std::vector<int> derived_bus_numbers_;  // bus number of each bus of the derived problem
    InterruptCheck interrupt_check_;
    // Flat-start results on the present derived problem (a few option sets at most).
    std::vector<FlatStartMemo> memos_;
};

// What the working case keeps between solutions.
struct SolutionState {
    int solved = kNoSolutionYet;          // value of solved()
    SolutionParameters parameters;
    std::shared_ptr<LoadFlowSolver> solver;  // created by the first solution
    // A new or newly read case has not been solved.
    void case_replaced() {
        solved = kNoSolutionYet;
        if (solver) solver->invalidate();
    }
};

}  // namespace gridfold::pf
