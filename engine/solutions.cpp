// Load-flow solutions and the solved check.
#include <pybind11/stl.h>

#include <vector>

#include "psse_engine.hpp"

namespace gridfold::engine {

namespace {

using Options = std::vector<int>;
// The reals array of every positional rsol call.
const std::vector<double> kRsolReals = {500.0, 5.0};

// One positional solution call of the fixed sequence: the solver and its options array
// (the reals array goes with every rsol call).
struct SolutionStep {
    const char* solver;
    Options options;
};

// The calls run_load_flow makes after its first (a keyword rsol call), in order. The rsol
// arrays differ only in their seventh entry (4 in the eighth call here), the fnsl arrays
// only in their sixth (4 in the sixth and seventh calls here).
const std::vector<SolutionStep> kFixedSequence = {
    {"rsol", {1, 2, 0, 0, 1, 1, 0, 99, 0, 0}},
    {"rsol", {1, 2, 0, 0, 1, 1, 0, 99, 0, 0}},
    {"fnsl", {2, 0, 0, 1, 1, 0, 99, 0}},
    {"fnsl", {2, 0, 0, 1, 1, 0, 99, 0}},
    {"rsol", {1, 2, 0, 0, 1, 1, 0, 99, 0, 0}},
    {"fnsl", {2, 0, 0, 1, 1, 4, 99, 0}},
    {"fnsl", {2, 0, 0, 1, 1, 4, 99, 0}},
    {"rsol", {1, 2, 0, 0, 1, 1, 4, 99, 0, 0}},
    {"rsol", {1, 2, 0, 0, 1, 1, 0, 99, 0, 0}},
};

}  // namespace

void PsseEngine::run_load_flow() {
    using namespace py::literals;
    // Every result is discarded and nothing is tested between calls: a failing solution
    // shows only in a later check_solved.
    psspy.attr("rsol")("options1"_a = 1, "options2"_a = 2, "options6"_a = 1, "options7"_a = 0,
                       "options8"_a = 99, "options9"_a = 0, "options10"_a = 0);
    for (const auto& step : kFixedSequence) {
        py::list options = py::cast(step.options);
        if (std::string_view(step.solver) == "rsol")
            psspy.attr("rsol")(options, py::cast(kRsolReals));
        else
            psspy.attr("fnsl")(options);
    }
}

void PsseEngine::run_load_flow_rsol(const py::kwargs& kwargs) { forward("rsol", kwargs); }

void PsseEngine::run_load_flow_fnsl(const py::kwargs& kwargs) { forward("fnsl", kwargs); }

py::object PsseEngine::check_solved() { return psspy.attr("solved")(); }

}  // namespace gridfold::engine
