// Bus renumbering of a small case's data object (Python layer over renumber_search).
#pragma once

#include <pybind11/pybind11.h>

namespace gridfold::network {

namespace py = pybind11;

// Turns numpy arrays and scalars inside nested mappings, tuples and lists into plain values.
py::object convert_np_types(py::handle data);

}  // namespace gridfold::network
