// Error-message helpers: every message about bad input names the workbook, and where it
// applies the sheet, the column and the row.
#include "read_config_file.hpp"

namespace gridfold::config {

std::string describe_location(const std::string& workbook, const std::string& sheet, const std::string& column,
                              long row) {
    // Rows are named the one way every message of a run names them: the sheet and the row
    // number as Excel shows it ("main_cases row 3").
    std::string text = "workbook '" + workbook + "'";
    if (!sheet.empty() && row > 0) {
        text += ", " + sheet + " row " + std::to_string(row);
    } else if (!sheet.empty()) {
        text += ", sheet '" + sheet + "'";
    } else if (row > 0) {
        text += ", row " + std::to_string(row);
    }
    if (!column.empty()) text += ", column '" + column + "'";
    return text;
}

std::string repr_of(py::handle value) { return py::repr(value).cast<std::string>(); }

long workbook_row(py::handle row_label) {
    if (!py::isinstance<py::int_>(row_label) || py::isinstance<py::bool_>(row_label)) return 0;
    return row_label.cast<long>() + 2;
}

}  // namespace gridfold::config
