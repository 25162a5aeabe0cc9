// Error-message helpers: every message about bad input names the workbook, and where it
// applies the sheet, the column and the row.
#include "read_config_file.hpp"

namespace gridfold::config {

std::string describe_location(const std::string& workbook, const std::string& sheet,
                              const std::string& column, long row) {
    std::string text = "workbook '" + workbook + "'";
    if (!sheet.empty()) text += ", sheet '" + sheet + "'";
    if (!column.empty()) text += ", column '" + column + "'";
    if (row > 0) text += ", row " + std::to_string(row);
    return text;
}

std::string repr_of(py::handle value) { return py::repr(value).cast<std::string>(); }

long workbook_row(py::handle row_label) {
    if (!py::isinstance<py::int_>(row_label) || py::isinstance<py::bool_>(row_label)) return 0;
    return row_label.cast<long>() + 2;
}

}  // namespace gridfold::config
