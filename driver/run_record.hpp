// The run record (run_record.json): what happened to every main case and every pair of a
// run, written whole when the run ends. The summary, the exit status and every later report
// read this record instead of reading back file names.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace gridfold::driver {

namespace py = pybind11;

// Outcomes of a pair, as the record and the summary show them.
inline constexpr const char* kFullySolved = "fully solved";
inline constexpr const char* kNotSolved = "not solved";
inline constexpr const char* kIslanded = "islanded";
inline constexpr const char* kBaseCaseUnsolved = "base case unsolved";
inline constexpr const char* kNotRun = "not run";
inline constexpr const char* kError = "error";

// Exit classes: 0 success, 1 unsolved, partial or refused, 2 error.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUnsolved = 1;
inline constexpr int kExitError = 2;

// "solved up to connection N (connection N+1 failed)"
std::string partial_outcome(long solved);
// "solved, N elements refused"
std::string refused_outcome(long refused);

// A pair's entry before the run reaches it ("not run").
py::dict new_pair_entry(const std::string& main_case, const std::string& small_case, const py::str& small_case_file,
                        const std::string& row, py::handle connecting_bus, const py::str& results_folder);
py::dict new_main_case_entry(const std::string& name, const py::str& file, const std::string& row);

// Fills "elements" from the adders' status sections and the elements left out at the
// connecting bus: per kind the elements accepted, and every call the engine refused.
// Returns the number of refused calls.
long record_elements(py::dict pair, py::handle report_sections, py::handle left_out);

// Sets the outcome and its exit class.
void set_outcome(py::dict pair, const std::string& outcome, int exit_class);

// Current local time as ISO 8601 text (seconds).
std::string local_time_text();
// Seconds of a monotonic clock.
double monotonic_seconds();

// Writes the record as UTF-8 JSON (2-space indent) to `path`, whole or not at all.
void write_run_record(py::handle record, const py::str& path);

}  // namespace gridfold::driver
