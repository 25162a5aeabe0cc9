// Checks made before a run writes anything, and the removal of what an earlier run left
// under the names this run writes.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "run_state.hpp"

namespace gridfold::driver {

// Every enabled small case has a results folder of its own, its file exists, and its
// connecting bus is a bus of the small case and of every enabled main case. Raises
// ValueError naming the workbook row, the case file and the bus.
void check_before_run(const RunState& run);

// <main>_copy.sav and <main>_copy_<n>.sav beside the main case: working copies a stopped run
// left behind.
std::vector<py::str> leftover_working_copies(const RunState& run, const py::str& main_case_path);

// The final solved main case and the unsolved logs an earlier run left in the results
// folders of this main case (only when the run is asked to remove earlier outputs).
void remove_stale_main_case_outputs(const RunState& run, const std::string& main_case_name);

// Every file of a pair's results folder that the pair writes under its own names. A main case
// file of the run is never removed by any of these.
void remove_stale_pair_outputs(const RunState& run, const py::str& folder, const std::string& main_case_name,
                               const std::string& small_case_name);

}  // namespace gridfold::driver
