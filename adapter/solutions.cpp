// Load-flow solutions and the solved check.
#include <pybind11/stl.h>

#include <vector>

#include "common/solve_calls.hpp"
#include "psse_engine.hpp"

namespace gridfold::adapter {

namespace plans = study::solve_plans;

void PsseEngine::run_load_flow() {
    // Every result is discarded and nothing is tested between calls: a failing solution
    // shows only in a later check_solved.
    psspy.attr("rsol")(**plans::as_keywords(plans::kSequenceFirstCall));
    for (const plans::PositionalCall& call : plans::kSequencePositionalCalls) {
        const py::list options = py::cast(std::vector<int>(call.options.begin(), call.options.begin() + call.size));
        if (call.solver == plans::Solver::Rsol)
            psspy.attr("rsol")(options, py::cast(std::vector<double>(plans::kSequenceRsolReals.begin(),
                                                                     plans::kSequenceRsolReals.end())));
        else
            psspy.attr("fnsl")(options);
    }
}

void PsseEngine::run_load_flow_rsol(const py::kwargs& kwargs) { forward("rsol", kwargs); }

void PsseEngine::run_load_flow_fnsl(const py::kwargs& kwargs) { forward("fnsl", kwargs); }

py::object PsseEngine::check_solved() { return psspy.attr("solved")(); }

}  // namespace gridfold::adapter
