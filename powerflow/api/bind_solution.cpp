// Load-flow solutions: fnsl, rsol, solved, solution_parameters_4.
//
// The bindings only translate option arrays into SolutionOptions; the solution itself is
// core/solver/solution.cpp. Option values outside their range return an error code and
// change nothing.
#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/session/working_case.hpp"
#include "core/solver/solution.hpp"

namespace gridfold::api {
namespace {

py::object run_solution(const pf::SolutionOptions& options, const std::string& name) {
    auto& wc = pf::working_case();
    auto& state = wc.solution;
    if (!state.solver) {
        state.solver = std::make_shared<pf::LoadFlowSolver>();
        // Ctrl-C is seen between iterations, not only after a long solution has finished.
        // The GIL is held throughout the solution, so Python's signal handlers can run here.
        state.solver->set_interrupt_check([] { return PyErr_CheckSignals() != 0; });
    }
    try {
        const auto report = state.solver->solve(wc.network, state.parameters, options, name,
                                                [&wc](const std::string& line) { wc.report(line); });
        state.solved = report.code;
    } catch (...) {
        // Interrupted (or a progress line could not be written): the case is unchanged, the
        // solver's derived data are not, and the attempt did not solve.
        state.solver->invalidate();
        state.solved = pf::kIterationLimit;
        if (PyErr_Occurred()) throw py::error_already_set();
        throw;
    }
    return py::int_(pf::kOk);
}

constexpr long kVarLimitsLargest = 99999;

// An option's keyword, its lowest and highest value, and the value it takes when not passed.
struct OptionRange {
    const char* key;
    long low, high, fallback;
};

long option(const Args& a, const char* key, long fallback) { return a.has(key) ? a.integer(key) : fallback; }

// The keyword of an option passed outside its range (the last such one), nullptr when none is.
const char* out_of_range(const Args& a, const std::vector<OptionRange>& ranges) {
    const char* bad = nullptr;
    for (const OptionRange& r : ranges) {
        const long v = option(a, r.key, r.fallback);
        if (v < r.low || v > r.high) bad = r.key;
    }
    return bad;
}

// The ranges of the adjustments (options1-5, set_adjustments) followed by a call's own options.
std::vector<OptionRange> adjustments_and(std::initializer_list<OptionRange> own) {
    std::vector<OptionRange> all{{"options1", 0, 2, 0},
                                 {"options2", 0, 2, 0},
                                 {"options3", 0, 1, 0},
                                 {"options4", 0, 1, 0},
                                 {"options5", 0, 2, 0}};
    all.insert(all.end(), own);
    return all;
}

// The adjustments fnsl and rsol take in the same positions: options1 tap ratios, options2
// area interchange, options3 phase shifters, options4 dc taps, options5 switched shunts.
void set_adjustments(const Args& a, pf::SolutionOptions& o) {
    o.adjust_shunts = option(a, "options5", 0) != 0;
    o.taps.ratios = static_cast<pf::TapAdjustment>(option(a, "options1", 0));
    o.taps.phase_shifters = option(a, "options3", 0) != 0;
    o.area_interchange = static_cast<int>(option(a, "options2", 0));
    o.dc_taps = option(a, "options4", 0) != 0;
}

}  // namespace

void bind_solution(py::module_& m) {
    define(
        m,
        Signature("fnsl").integers(
            "options",
            {"tap adjustment: 0 locked, 1 stepping, 2 direct (continuous, then rounded to a position)",
             "area interchange: 0 off, 1 tie lines, 2 tie lines and loads held at each area's schedule by its slack "
             "bus",
             "phase shift adjustment: 0 locked, 1 angles of active-flow windings adjusted",
             "dc tap adjustment 0-1 (accepted; no dc lines are held)",
             "switched shunts: 0 locked, 1 and 2 stepped toward their voltage band",
             "start: 0 present voltages, 1 flat, 2 flat + angle estimate, 3 flat + magnitude estimate, 4 both",
             "reactive limits: -1 ignored, 0 from the start, n from iteration n or once the mismatch is small",
             "step control: 0 full Newton steps, 1 halve a step that increases the mismatch"}),
        [](const Args& a) -> py::object {
            if (!pf::working_case().initialised) return py::int_(pf::kNotInitialised);
            const char* bad = out_of_range(
                a, adjustments_and(
                       {{"options6", 0, 4, 0}, {"options7", -1, kVarLimitsLargest, 99}, {"options8", 0, 1, 0}}));
            if (bad) {
                pf::working_case().report(std::string("fnsl: ") + bad + " outside its range, nothing done");
                return py::int_(pf::kInvalidCode);
            }
            const auto& par = pf::working_case().solution.parameters;
            pf::SolutionOptions o;
            set_adjustments(a, o);
            o.start = static_cast<pf::StartMode>(option(a, "options6", 0));
            o.var_limit_iteration = static_cast<int>(option(a, "options7", 99));
            o.step = option(a, "options8", 0) ? pf::StepControl::halving : pf::StepControl::full;
            o.divergence_mva = par.divergence_mva;
            o.v_ceiling_pu = par.v_ceiling_pu;
            return run_solution(o, "fnsl");
        },
        "Full Newton-Raphson solution of the working case. Returns ierr; solved() tells the outcome.");

    define(
        m,
        Signature("rsol")
            .integers(
                "options",
                {"tap adjustment: 0 locked, 1 stepping, 2 direct (continuous, then rounded to a position)",
                 "area interchange: 0 off, 1 tie lines, 2 tie lines and loads held at each area's schedule by its "
                 "slack bus",
                 "phase shift adjustment: 0 locked, 1 angles of active-flow windings adjusted",
                 "dc tap adjustment 0-1 (accepted; no dc lines are held)",
                 "switched shunts: 0 locked, 1 and 2 stepped toward their voltage band",
                 "start: 0 present voltages, 1 flat with the dc angle estimate",
                 "robustness 0-4: 0 step halving, 1 step-length search, 2 + flat-start retries, "
                 "3 + solving without reactive limits first, 4 + load continuation",
                 "reactive limits: -1 ignored, 0 from the start, n from iteration n or once the mismatch is small",
                 "starting point repair: 1 resets implausible starting voltages",
                 "on failure: 0 keep the best iterate, 1 leave the case unchanged"})
            .reals("values", {"growing mismatch (MW/Mvar) above which the solution counts as diverging",
                              "voltage magnitude (pu) above which the solution counts as diverging"}),
        [](const Args& a) -> py::object {
            if (!pf::working_case().initialised) return py::int_(pf::kNotInitialised);
            const char* bad = out_of_range(a, adjustments_and({{"options6", 0, 1, 0},
                                                               {"options7", 0, 4, 0},
                                                               {"options8", -1, kVarLimitsLargest, 99},
                                                               {"options9", 0, 1, 0},
                                                               {"options10", 0, 1, 0}}));
            const auto& par = pf::working_case().solution.parameters;
            const double divergence = a.has("values1") ? a.real("values1") : par.divergence_mva;
            const double ceiling = a.has("values2") ? a.real("values2") : par.v_ceiling_pu;
            if (!(divergence > 0.0) || !(ceiling > 1.0)) bad = !(divergence > 0.0) ? "values1" : "values2";
            if (bad) {
                pf::working_case().report(std::string("rsol: ") + bad + " outside its range, nothing done");
                return py::int_(pf::kInvalidCode);
            }
            pf::SolutionOptions o;
            set_adjustments(a, o);
            // The robust solution's flat start carries the dc angle estimate: a plain flat
            // start does not converge on large meshed networks.
            o.start = option(a, "options6", 0) ? pf::StartMode::flat_angles : pf::StartMode::present;
            o.robustness = static_cast<int>(option(a, "options7", 0));
            o.step = pf::StepControl::halving;  // the levels add their own step control
            o.var_limit_iteration = static_cast<int>(option(a, "options8", 99));
            o.repair_start = option(a, "options9", 0) != 0;
            o.restore_on_failure = option(a, "options10", 0) != 0;
            o.divergence_mva = divergence;
            o.v_ceiling_pu = ceiling;
            return run_solution(o, "rsol");
        },
        "Robust solution of the working case, escalating with options7. Returns ierr; solved() tells the outcome.");

    define(
        m, Signature("solved").keeps_case(),
        [](const Args&) -> py::object { return py::int_(pf::working_case().solution.solved); },
        "Outcome of the most recent solution: 0 solved, 1 iteration limit, 2 diverged, 3 an island without "
        "a swing bus, 4 no solution since the case was created or read.");

    define(
        m,
        Signature("solution_parameters_4")
            .integers("intgar", {"Newton iteration limit per attempt (default 20)"})
            .reals("realar", {"mismatch tolerance, MW and Mvar (default 0.1)",
                              "fnsl: growing mismatch (MW/Mvar) counted as divergence (default 10000)",
                              "fnsl: voltage magnitude (pu) counted as divergence (default 5.0)"}),
        [](const Args& a) -> py::object {
            auto& wc = pf::working_case();
            if (!wc.initialised) return py::int_(pf::kNotInitialised);
            pf::SolutionParameters p = wc.solution.parameters;
            if (a.has("intgar1")) {
                const long it = a.integer("intgar1");
                if (it < 1 || it > 10000) return py::int_(pf::kInvalidValue);
                p.max_iterations = static_cast<int>(it);
            }
            a.set_array("realar", {&p.tolerance_mva, &p.divergence_mva, &p.v_ceiling_pu});
            if (!(p.tolerance_mva > 0.0) || !(p.divergence_mva > 0.0) || !(p.v_ceiling_pu > 1.0) ||
                !std::isfinite(p.tolerance_mva + p.divergence_mva + p.v_ceiling_pu))
                return py::int_(pf::kInvalidValue);
            wc.solution.parameters = p;
            return py::int_(pf::kOk);
        },
        "Sets the solution parameters; parameters not passed keep their present value.");
}

}  // namespace gridfold::api
