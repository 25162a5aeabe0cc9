// Tables of caspy's case data object.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/model/network.hpp"

namespace gridfold::api {

namespace py = pybind11;

// Raises Python's UnicodeDecodeError for the first text of the tables that is not UTF-8, as
// making that table would: callers learn of such a file when they read it.
void check_table_texts(const pf::Network& net);

// Names of the tables of a case data object (pssbus, pssgen, ..., casbrn, cas_nbrn, castrn,
// cas_ntrn, ...).
const std::vector<std::string>& case_table_names();

// The table `name` of the network; a null object for a name that is no table.
py::object case_table(const pf::Network& net, std::string_view name);

}  // namespace gridfold::api
