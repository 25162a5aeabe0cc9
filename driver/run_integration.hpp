// The integration run: the module's entry point and its case-list step.
#pragma once

#include <pybind11/pybind11.h>

#include "run_state.hpp"

namespace gridfold::driver {

namespace py = pybind11;

// The whole run for the workbook `file_name` in the folder `file_path`.
// `options` may narrow the run to some main cases and small cases and say where its record goes.
void run_integration(py::object file_path, py::object file_name, RunOptions options = {});

// The configuration read only: (engine settings, main_case_dict, small_case_dict).
py::tuple build_case_lists_for_python(py::object file_path, py::object file_name);

}  // namespace gridfold::driver
