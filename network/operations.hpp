// The operations of gridfold_misc on a small case and the engine, as C++ functions: the module
// binds them, and the driver calls them directly. Each takes and returns the Python objects
// its binding does; the docstrings of the bindings say what each does.
#pragma once

#include <pybind11/pybind11.h>

namespace gridfold::network {

namespace py = pybind11;

// Bus tables before renumbering.
py::object exclude_connecting_bus(py::handle small_case, py::object scbus, py::handle connecting_bus);
py::object remove_internal_psse_buses(py::handle pssbus, py::object scbus);

// New numbers for the small case's colliding buses: (small_case, bus_renumber_map).
py::tuple renumber_buses(py::object small_case, py::handle scbus, py::handle mcbus, py::handle connecting_bus);

// The elements at the connecting bus, taken out of the small case.
py::list leave_out_connecting_bus_elements(py::object small_case, py::handle connecting_bus);

// The buses of `bus_numbers` not joined to a swing bus in `case_data`.
py::list buses_cut_off(py::handle case_data, py::handle bus_numbers);

// The small case's connections as the engine walks them: (branches, tx3s).
py::tuple find_buses(py::handle scbus_numbers, py::handle psseng);
py::list organize_connections_of(py::handle main_bus, py::handle branches, py::handle tx3s);
py::list enforce_topological_order_of(py::handle connections, py::handle main_bus);

// Reconnects and solves link by link: (solved status, last solved case or None, count).
py::tuple solve_the_network(py::object psseng, py::handle sav_file_name, py::handle ordered);

// The status report of one small case, one keyword argument a section.
void write_status_report(py::handle filename, const py::kwargs& sections);

// A working copy of a case file beside it, under the first free "_copy" name.
py::str copy_and_rename(py::handle source_file);

}  // namespace gridfold::network
