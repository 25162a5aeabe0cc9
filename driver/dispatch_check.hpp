// After the run of a main case: each plant whose connections all solved is put at full
// output in its final solved case and solved again, and the effect around its connecting
// bus is measured. Also the plant bus voltages after each connection came back. Nothing
// here changes a file the run itself writes; the results go to RunState::pair_details.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace gridfold::driver {

namespace py = pybind11;

struct RunState;
struct MainCaseState;
struct SmallCaseState;

// The details dictionary of one pair (created empty on first use), in RunState::pair_details
// under the key (main case name, small case name).
py::dict pair_details(RunState& run, const std::string& main_case_name, const std::string& small_case_name);

// Records the connections in the order they were brought back, each with whether it
// solved and its saved case ("connections"), and the voltage of the connecting bus and of
// every plant bus in the saved cases <prefix>_0.sav ... <prefix>_<solved_count>.sav
// ("connection_voltages"). A connection listed twice counts once, as the solving does.
void record_connections(RunState& run, const MainCaseState& mc, const SmallCaseState& sc,
                        const py::str& solved_case_prefix, const py::object& ordered, long solved_count);

// The dispatch check of every plant of the main case whose connections all solved, in run
// order; recorded as "dispatch_check" of each pair.
void run_dispatch_checks(RunState& run, MainCaseState& mc);

}  // namespace gridfold::driver
