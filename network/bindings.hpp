// Each concern of gridfold_misc registers its functions on the module.
#pragma once

#include <pybind11/pybind11.h>

namespace gridfold::network {

void bind_renumbering(pybind11::module_& m);
void bind_bus_tables(pybind11::module_& m);
void bind_connections(pybind11::module_& m);
void bind_solving_strategy(pybind11::module_& m);
void bind_report_and_copies(pybind11::module_& m);
void bind_plant_boundary(pybind11::module_& m);

}  // namespace gridfold::network
