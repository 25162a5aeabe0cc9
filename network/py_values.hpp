// Conversions between Python values and the plain C++ values of the network algorithms,
// and the tests of value kinds (list, tuple, numpy array, mapping) that several functions share.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include "study/bus_numbers.hpp"

namespace gridfold::network {

// The plain study types and searches (bus numbers, connection order, copy names) are this
// module's vocabulary.
using namespace gridfold::study;

namespace py = pybind11;

// An integer (Python int, numpy integer, or a real with an integral value) as a bus number.
// `what` names where the value came from; any other value raises TypeError naming it.
BusNumber to_bus_number(py::handle value, const std::string& what);

// None gives no bus; anything else as to_bus_number.
std::optional<BusNumber> to_optional_bus_number(py::handle value, const std::string& what);

// Every element of an iterable column, as bus numbers.
std::vector<BusNumber> to_bus_numbers(py::handle column, const std::string& what);

// Column `key` of a table; a missing column raises KeyError naming the table and the column.
py::object table_column(py::handle table, const char* key, const std::string& table_name);

// numpy, when something has imported it already; None otherwise (then no value can be an array).
py::object loaded_numpy();
bool is_ndarray(py::handle value);
bool is_numpy_scalar(py::handle value);

// The column's entries in the rows where `keep` is true, of the same kind (tuple, list, array).
py::object rows_kept(py::handle column, const std::vector<bool>& keep);

// collections.abc.Mapping
bool is_mapping(py::handle value);

// A list whose elements are all lists (true for an empty list as well).
bool is_list_of_lists(py::handle value);

// A shallow copy of a mapping that keeps its type for dict subclasses (OrderedDict and the like);
// other mappings become a plain dict.
py::object copy_mapping(py::handle mapping);

// The same mapping type as `mapping`, empty.
py::object empty_like_mapping(py::handle mapping);

// Text of a value as Python's str() gives it, in UTF-8.
std::string text_of(py::handle value);

}  // namespace gridfold::network
