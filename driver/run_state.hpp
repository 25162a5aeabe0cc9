// State of an integration run at its three levels: the run, one main case, one small case.
#pragma once

#include <pybind11/pybind11.h>

#include <set>
#include <string>
#include <vector>

#include "case_lists.hpp"

namespace gridfold::driver {

namespace py = pybind11;

struct RunState {
    CaseLists lists;
    py::object psseng;  // the one engine object of the run
    // Normalised paths of the main case files of the run: never written by the driver.
    std::set<std::string> main_case_files;
    // Beyond the specified run: whether fully solved plants are checked at full output, and
    // what the additions found for each (main case, small case) pair (dispatch_check.hpp).
    bool dispatch_check = false;
    bool record_details = false;  // fill pair_details with the connection voltages
    py::dict pair_details;
};

// A plant whose connections all solved: what its dispatch check needs.
struct SolvedPlant {
    std::string small_case_name;
    py::object small_case;  // renumbered case data
    py::object connecting_bus;
    py::str directory;      // the pair's results folder
};

struct MainCaseState {
    std::string main_case_name;
    py::str main_case_path;
    py::str temp_mc_filepath;
    py::object sc_gen_dict;  // OrderedDict small_case_name -> small case data object
    py::object last_sc_accessed = py::none();
    bool last_case = false;
    std::vector<std::string> directory_list;  // parent folders that already got an unsolved line
    std::vector<SolvedPlant> solved_plants;   // in run order
};

struct SmallCaseState {
    long jjj = 0;
    py::object row;  // the small_case_dict entry
    std::string small_case_name;
    py::object small_case;
    py::object connecting_bus;
    py::str parent_path;
    py::str directory_to_save_files;
};

// Engine calls whose failure would leave the run working on the wrong case: a case that
// did not open or save raises instead of being silently skipped.
void open_case_or_raise(const RunState& run, const py::str& path);
void save_case_or_raise(const RunState& run, const py::str& path);

// Run steps 24 to 28 for one small case, after its status report.
void solve_small_case(RunState& run, MainCaseState& main_case, const SmallCaseState& small_case);

// The base-case solution: up to three attempts; true when the last one converged.
bool base_case_solves(const py::object& psseng);

// Run step 29: the final pass over the final solved main case.
void finish_main_case(RunState& run, MainCaseState& main_case);

// "M_solved.sav" in the parent folder of a small case.
py::str final_solved_case_path(const py::str& parent_path, const std::string& main_case_name);

// Normalised form of a path for comparisons (absolute, real, case-folded where the
// platform folds case).
std::string normalised_path(const py::str& path);

}  // namespace gridfold::driver
