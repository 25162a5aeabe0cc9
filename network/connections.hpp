// Conversion of connection records between Python tuples and ConnectionRecord.
#pragma once

#include <pybind11/pybind11.h>

#include "study/connection_order.hpp"

namespace gridfold::network {

// The plain study types and searches (bus numbers, connection order, copy names) are this
// module's vocabulary.
using namespace gridfold::study;

namespace py = pybind11;

// A sequence of bus numbers ending in a circuit identifier (text). `what` names the record's
// role in error messages; `length` (when not 0) is the number of entries the record must have.
ConnectionRecord to_record(py::handle record, const std::string& what, std::size_t length = 0);

// The record as a tuple of plain integers followed by the circuit identifier.
py::tuple to_tuple(const ConnectionRecord& record);

}  // namespace gridfold::network
