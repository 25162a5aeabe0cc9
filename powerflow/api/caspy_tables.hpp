// Tables of caspy's case data object.
#pragma once

#include <pybind11/pybind11.h>

#include "core/network.hpp"

namespace gridfold::api {

namespace py = pybind11;

// Sets the table attributes (pssbus, pssgen, ..., casbrn, cas_nbrn, castrn, cas_ntrn) on
// `target` from the network.
void fill_case_tables(py::object target, const pf::Network& net);

}  // namespace gridfold::api
