// Preparation of a small case's bus table before renumbering: the connecting bus and the
// engine's internal buses (numbered above 999999) leave the table, row by row in every column.
#include <vector>

#include "bindings.hpp"
#include "operations.hpp"
#include "py_values.hpp"
#include "renumbering.hpp"

namespace gridfold::network {

namespace {

// A column holds one entry per bus when it is a tuple, a list or an array with at least one
// dimension; single entries such as "IERR" are not columns.
bool is_column(py::handle value) {
    if (PyTuple_Check(value.ptr()) || PyList_Check(value.ptr())) return true;
    return is_ndarray(value) && py::int_(value.attr("ndim")).cast<int>() >= 1;
}

Py_ssize_t column_length(py::handle column) { return static_cast<Py_ssize_t>(py::len(column)); }

// The column without its entry at `position` (a column that short keeps everything), same kind.
py::object without_row(py::handle column, Py_ssize_t position) {
    if (column_length(column) <= position) return py::reinterpret_borrow<py::object>(column);
    if (is_ndarray(column)) return loaded_numpy().attr("delete")(column, position, py::arg("axis") = 0);
    py::list kept;
    Py_ssize_t row = 0;
    for (py::handle entry : column)
        if (row++ != position) kept.append(entry);
    if (PyTuple_Check(column.ptr())) return py::tuple(kept);
    return kept;
}

}  // namespace

py::object exclude_connecting_bus(py::handle small_case, py::object scbus, py::handle connecting_bus) {
    if (connecting_bus.is_none()) return scbus;
    const py::object numbers = table_column(scbus, "NUM", "the small case's bus table");
    Py_ssize_t index_to_remove = -1;
    Py_ssize_t row = 0;
    for (py::handle number : numbers) {
        const int equal = PyObject_RichCompareBool(number.ptr(), connecting_bus.ptr(), Py_EQ);
        if (equal < 0) throw py::error_already_set();
        if (equal == 1) {
            index_to_remove = row;
            break;
        }
        ++row;
    }
    if (index_to_remove < 0) return scbus;

    // Every per-bus column loses the connecting bus's row; entries that are not columns are carried
    // over as they are, so that no data of the table is lost.
    py::object table = empty_like_mapping(scbus);
    for (py::handle item : scbus.attr("items")()) {
        const py::tuple key_value = py::reinterpret_borrow<py::tuple>(item);
        table[key_value[0]] =
            is_column(key_value[1]) ? without_row(key_value[1], index_to_remove) : py::object(key_value[1]);
    }
    const py::object own_table = py::getattr(small_case, "pssbus", py::none());
    if (is_mapping(own_table) && own_table.contains(py::str("IERR")))
        table[py::str("IERR")] = own_table[py::str("IERR")];
    return table;
}

py::object remove_internal_psse_buses(py::handle pssbus, py::object scbus) {
    const py::object numbers = table_column(pssbus, "NUM", "the bus table");
    const std::vector<BusNumber> bus_nums = to_bus_numbers(numbers, "the bus table column 'NUM'");
    std::vector<bool> mask;
    mask.reserve(bus_nums.size());
    for (BusNumber bus : bus_nums) mask.push_back(bus <= kHighestUserBusNumber);

    const Py_ssize_t rows = static_cast<Py_ssize_t>(bus_nums.size());
    py::dict filtered;
    for (py::handle item : pssbus.attr("items")()) {
        const py::tuple key_value = py::reinterpret_borrow<py::tuple>(item);
        const bool per_bus = is_column(key_value[1]) && column_length(key_value[1]) == rows;
        filtered[key_value[0]] = per_bus ? rows_kept(key_value[1], mask) : py::object(key_value[1]);
    }
    const py::object converted = convert_np_types(filtered);
    for (py::handle item : converted.attr("items")()) {
        const py::tuple key_value = py::reinterpret_borrow<py::tuple>(item);
        scbus[key_value[0]] = key_value[1];
    }
    return scbus;
}

void bind_bus_tables(py::module_& m) {
    m.def("exclude_connecting_bus", &exclude_connecting_bus, py::arg("small_case"), py::arg("scbus"),
          py::arg("connecting_bus"),
          "The bus table without the connecting bus's row; the table itself when the bus is None or absent.\n"
          "\"IERR\" comes from small_case.pssbus when it has one.");
    m.def("remove_internal_psse_buses", &remove_internal_psse_buses, py::arg("pssbus"), py::arg("scbus"),
          "Writes the rows of `pssbus` numbered at most 999999, as plain values, into `scbus` and returns it.");
}

}  // namespace gridfold::network
