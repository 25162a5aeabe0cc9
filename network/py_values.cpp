#include "py_values.hpp"

#include <cmath>

namespace gridfold::network {

BusNumber to_bus_number(py::handle value, const std::string& what) {
    if (PyFloat_Check(value.ptr())) {
        const double real = PyFloat_AS_DOUBLE(value.ptr());
        if (std::isfinite(real) && real == std::floor(real) && std::fabs(real) < 9.0e15)
            return static_cast<BusNumber>(real);
    } else if (!PyBool_Check(value.ptr()) && !PyUnicode_Check(value.ptr())) {
        PyObject* index = PyNumber_Index(value.ptr());
        if (index != nullptr) {
            const long long number = PyLong_AsLongLong(index);
            Py_DECREF(index);
            if (!(number == -1 && PyErr_Occurred())) return number;
        }
        PyErr_Clear();
    }
    throw py::type_error(what + " holds " + std::string(py::repr(value)) + ", which is not a bus number");
}

std::optional<BusNumber> to_optional_bus_number(py::handle value, const std::string& what) {
    if (value.is_none()) return std::nullopt;
    return to_bus_number(value, what);
}

std::vector<BusNumber> to_bus_numbers(py::handle column, const std::string& what) {
    std::vector<BusNumber> numbers;
    for (py::handle element : column) numbers.push_back(to_bus_number(element, what));
    return numbers;
}

py::object table_column(py::handle table, const char* key, const std::string& table_name) {
    if (!is_mapping(table))
        throw py::type_error(table_name + " is " + std::string(py::repr(py::type::of(table))) +
                             ", not a table mapping column keys to columns");
    const py::str column_key(key);
    if (!table.contains(column_key)) throw py::key_error(table_name + " has no column '" + std::string(key) + "'");
    return table[column_key];
}

py::object loaded_numpy() {
    PyObject* modules = PyImport_GetModuleDict();  // borrowed
    PyObject* numpy = PyDict_GetItemString(modules, "numpy");  // borrowed
    if (numpy == nullptr) return py::none();
    return py::reinterpret_borrow<py::object>(numpy);
}

bool is_ndarray(py::handle value) {
    const py::object numpy = loaded_numpy();
    return !numpy.is_none() && py::isinstance(value, numpy.attr("ndarray"));
}

bool is_numpy_scalar(py::handle value) {
    const py::object numpy = loaded_numpy();
    return !numpy.is_none() && py::isinstance(value, numpy.attr("generic"));
}

bool is_mapping(py::handle value) {
    if (PyDict_Check(value.ptr())) return true;
    return py::isinstance(value, py::module_::import("collections.abc").attr("Mapping"));
}

bool is_list_of_lists(py::handle value) {
    if (!PyList_Check(value.ptr())) return false;
    for (py::handle element : value)
        if (!PyList_Check(element.ptr())) return false;
    return true;
}

py::object copy_mapping(py::handle mapping) {
    if (PyDict_CheckExact(mapping.ptr())) return py::reinterpret_steal<py::object>(PyDict_Copy(mapping.ptr()));
    if (PyDict_Check(mapping.ptr())) return py::module_::import("copy").attr("copy")(mapping);
    return py::dict(py::reinterpret_borrow<py::object>(mapping));
}

py::object empty_like_mapping(py::handle mapping) {
    py::object empty = copy_mapping(mapping);
    empty.attr("clear")();
    return empty;
}

std::string text_of(py::handle value) { return std::string(py::str(value)); }

py::object rows_kept(py::handle column, const std::vector<bool>& keep) {
    if (is_ndarray(column)) {
        py::list mask;
        for (bool k : keep) mask.append(py::bool_(k));
        return column[loaded_numpy().attr("array")(mask, py::arg("dtype") = py::str("bool"))];
    }
    py::list kept;
    std::size_t row = 0;
    for (py::handle entry : column)
        if (keep[row++]) kept.append(entry);
    if (PyTuple_Check(column.ptr())) return py::tuple(kept);
    return kept;
}

}  // namespace gridfold::network
