// The integration run: the module's entry point and its case-list step.
#pragma once

#include <pybind11/pybind11.h>

namespace gridfold::driver {

namespace py = pybind11;

// The whole run for the workbook `file_name` in the folder `file_path`. A callable
// `select_cases` (none for the whole study) narrows the run to a part of the study: it is
// given the main-case and small-case lists and returns the two lists to run.
void run_integration(py::object file_path, py::object file_name, py::object select_cases = py::none());

// Run steps 1 to 5 only: (engine settings, main_case_dict, small_case_dict).
py::tuple build_case_lists_for_python(py::object file_path, py::object file_name);

}  // namespace gridfold::driver
