// State of an integration run at its three levels: the run, one main case, one small case.
#pragma once

#include <pybind11/pybind11.h>

#include <set>
#include <string>
#include <vector>

#include "case_lists.hpp"

namespace gridfold::driver {

namespace py = pybind11;

// What a caller may ask of a run beyond the whole study: a subset of it, and where its
// record goes.
struct RunOptions {
    py::object main_cases = py::none();   // positions in the enabled main cases, or None for all
    py::object small_cases = py::none();  // positions in the enabled small cases, or None for all
    py::object record_path = py::none();  // None: run_record.json in the first small case's results folder
    bool remove_earlier_outputs = true;   // working copies and main-case outputs an earlier run left
    // None, or select_cases(main_case_dict, small_case_dict) -> the two lists with their rows
    // rewritten (same entries, same order), e.g. another results folder for a pair run alone.
    py::object select_cases = py::none();
};

struct RunState {
    CaseLists lists;
    RunOptions options;
    double version = 0.0;  // the engine version of the run, for version-dependent warnings
    py::dict record;       // the run record (run_record.hpp)
    py::list record_main_cases;
    py::list record_pairs;
    std::string position;  // where the run is, for a message when it is interrupted
    py::object psseng;  // the one engine object of the run
    // Normalised paths of the main case files of the run: never written by the driver.
    std::set<std::string> main_case_files;
};

struct MainCaseState {
    std::string main_case_name;
    py::str main_case_path;
    py::str temp_mc_filepath;
    py::object sc_gen_dict;  // OrderedDict small_case_name -> small case data object
    py::object last_sc_accessed = py::none();
    bool last_case = false;
    std::vector<std::string> directory_list;  // parent folders that already got an unsolved line
    long position = 0;                        // of the main case in the run's list
    py::dict record;                          // its entry in the run record
};

struct SmallCaseState {
    long jjj = 0;
    py::object row;  // the small_case_dict entry
    std::string small_case_name;
    py::object small_case;
    py::object connecting_bus;
    py::str parent_path;
    py::str directory_to_save_files;
    py::dict record;  // the pair's entry in the run record
    long refused = 0;  // engine calls refused while adding the small case
};

// Engine calls whose failure would leave the run working on the wrong case: a case that
// did not open or save raises instead of being silently skipped.
void open_case_or_raise(const RunState& run, const py::str& path);
void save_case_or_raise(const RunState& run, const py::str& path);
// The case data object of a saved case; a case whose text cannot be decoded names its file.
py::object read_case_data(const RunState& run, const py::str& path);

// Solving one small case after its status report: connection order, out of service, base
// case, then connection by connection. Fills the pair's outcome in the run record.
void solve_small_case(RunState& run, MainCaseState& main_case, const SmallCaseState& small_case);

// The final pass over the final solved main case: machine reactive data of every small case.
void finish_main_case(RunState& run, MainCaseState& main_case);

// "M_solved.sav" in the parent folder of a small case.
py::str final_solved_case_path(const py::str& parent_path, const std::string& main_case_name);

// Normalised form of a path for comparisons (absolute, real, case-folded where the
// platform folds case).
std::string normalised_path(const py::str& path);

}  // namespace gridfold::driver
