// The integration run: the module's entry point and its case-list step.
#pragma once

#include <pybind11/pybind11.h>

namespace gridfold::driver {

namespace py = pybind11;

// The whole run for the workbook `file_name` in the folder `file_path`. Beyond the
// specified run: dispatch_check puts every fully solved plant at full output after its main
// case; run_details, a dict, receives per (main case, small case) what the additions found.
void run_integration(py::object file_path, py::object file_name, bool dispatch_check = false,
                     py::object run_details = py::none());

// Run steps 1 to 5 only: (engine settings, main_case_dict, small_case_dict).
py::tuple build_case_lists_for_python(py::object file_path, py::object file_name);

}  // namespace gridfold::driver
