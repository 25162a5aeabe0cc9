// After the run of a main case: each plant whose connections all solved is put at full
// output in its final solved case and solved again, and the effect around its connecting
// bus is measured. Also the plant bus voltages after each connection came back. Nothing
// here changes a file the run itself writes; the results go into the run record.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace gridfold::driver {

namespace py = pybind11;

struct RunState;
struct MainCaseState;
struct SmallCaseState;

// When the run asks for it, records in the pair's run-record entry, as "connection_voltages",
// the voltage of the connecting bus and of every plant bus in each of the saved cases
// <prefix>_0.sav ... <prefix>_<solved_count>.sav.
void record_connection_voltages(const RunState& run, const SmallCaseState& sc, const py::str& solved_case_prefix,
                                long solved_count);

// The dispatch check of every plant of the main case whose connections all solved, in run
// order, when the run asks for it; recorded as "dispatch_check" of each pair.
void run_dispatch_checks(RunState& run, MainCaseState& mc);

}  // namespace gridfold::driver
