// Cleaning of table columns and reading of column labels.
#include "read_config_file.hpp"

namespace gridfold::config {

namespace {

bool is_string_dtype(py::handle dtype) {
    // pandas 3 gives text columns its string type (shown as "str"); pandas 2 gives them the
    // general object type unless the string type is asked for. Both hold text to clean.
    return py::isinstance(dtype, py::module_::import("pandas").attr("StringDtype"));
}

}  // namespace

py::object clean_column(py::handle column) {
    py::object dtype = column.attr("dtype");
    if (is_string_dtype(dtype)) {
        // The string accessor keeps missing cells missing and keeps the column's type.
        return column.attr("str").attr("strip")().attr("str").attr("lower")();
    }
    if (py::str(dtype).cast<std::string>() != "object") return py::reinterpret_borrow<py::object>(column);

    py::list cells;
    for (py::handle cell : column) {
        if (py::isinstance<py::str>(cell)) {
            cells.append(cell.attr("strip")().attr("lower")());
        } else {
            cells.append(cell);
        }
    }
    return py::module_::import("pandas").attr("Series")(cells, py::arg("index") = column.attr("index"),
                                                        py::arg("name") = column.attr("name"),
                                                        py::arg("dtype") = "object");
}

std::vector<py::object> labels_of(py::handle table) {
    std::vector<py::object> labels;
    for (py::handle label : table.attr("columns").attr("tolist")())
        labels.push_back(py::reinterpret_borrow<py::object>(label));
    return labels;
}

std::size_t count_label(py::handle table, const std::string& label) {
    std::size_t count = 0;
    for (const py::object& existing : labels_of(table)) {
        if (py::isinstance<py::str>(existing) && existing.cast<std::string>() == label) ++count;
    }
    return count;
}

}  // namespace gridfold::config
