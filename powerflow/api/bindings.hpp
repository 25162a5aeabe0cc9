// The areas of the psspy module; psspy_module.cpp joins them.
#pragma once

#include <pybind11/pybind11.h>

namespace gridfold::api {

namespace py = pybind11;

void bind_session(py::module_& m);       // psseinit, progress output, case files
void bind_walks(py::module_& m);         // busdat, branch and machine walks, dscn/recn
void bind_buses(py::module_& m);         // bus_data_4, bus_chng_4
void bind_branches(py::module_& m);      // line branches, two- and three-winding transformers
void bind_machines(py::module_& m);      // plants, machines, induction machines
void bind_shunts_loads(py::module_& m);  // fixed and switched shunts, loads
void bind_solution(py::module_& m);      // fnsl, rsol, solved, solution_parameters_4
void bind_import(py::module_& m);        // RAW 32-35 and MATPOWER reading, RAW 33/35 writing
void bind_flows(py::module_& m);         // brnmsc, wnddat: flows of the last solution
void bind_areas_dc_facts(py::module_& m);  // areas, zones, owners, dc lines, FACTS devices
void bind_subsystem(py::module_& m);    // abusint, abrnint, atr3int: quantities of every bus and branch

}  // namespace gridfold::api
