// ReadConfigFile: loads a configuration workbook, cleans its sheets, finds the control
// sheets and hands out the rows of each configuration type as indexed dictionaries.
#pragma once

#include <pybind11/pybind11.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace gridfold::config {

namespace py = pybind11;

// The four labels of a control sheet, in their written form (lower-cased at each use).
inline constexpr const char* kSheetNameLabel = "SHEET NAME";
inline constexpr const char* kSheetTypeLabel = "SHEET TYPE";
inline constexpr const char* kSheetRunEnabledLabel = "SHEET RUN ENABLED";
inline constexpr const char* kResultsFolderLabel = "FOLDER PATH TO STORE RESULTS FOR SHEET";

// Where a cell sits in the workbook: control sheet name and row number as the user sees it
// (1-based, the label row being row 1).
struct CellOrigin {
    std::string sheet;
    long row = 0;
};

class ReadConfigFile {
public:
    // Both arguments text or None; anything else raises TypeError naming the argument.
    ReadConfigFile(py::object file_path, py::object file_name);

    // Reads the workbook named by file_path and file_name, cleans every sheet and scans
    // the control sheets. Fills _dfs, dfs and sheet_dict.
    void load_and_process_file();

    py::object get_data_frame() const { return dfs; }

    // Sheets of sheet_dict whose type matches search_term (exactly for a single-word type,
    // as a substring of one of the words for a type of several words).
    py::object filter_sheet_dict(const py::str& search_term) const;

    // Rows of every sheet selected by filter_sheet_dict(search_term), keyed "0", "1", ...
    py::object indexed_dict(const py::str& search_term) const;

    // For the same keys as indexed_dict: (sheet name, workbook row number) of each row,
    // so that callers can name the cell at fault in their own error messages.
    py::object indexed_row_origins(const py::str& search_term) const;

    // Text naming the workbook file, for error messages.
    std::string workbook_path() const;

    py::object file_path;
    py::object file_name;
    py::object raw_dfs;     // "_dfs": sheet name -> table, as read
    py::object dfs;         // lower-cased sheet name -> cleaned table, or None
    py::object sheet_dict;  // OrderedDict: lower-cased sheet name -> sheet type

private:
    void read_workbook(const std::string& path);
    void scan_control_sheets();
    void scan_control_sheet(const std::string& key, py::handle table);

    // Control row that set each sheet_dict entry, for messages about a bad "SHEET TYPE".
    std::map<std::string, CellOrigin> type_origins_;
};

// Returns the column with every text cell stripped of surrounding blanks and lower-cased
// when it is a column of general objects or of pandas' string type; any other column is
// returned as it is.
py::object clean_column(py::handle column);

// Column labels of a table, in order, and how many of them equal `label`.
std::vector<py::object> labels_of(py::handle table);
std::size_t count_label(py::handle table, const std::string& label);

// "workbook '<path>'" followed by ", sheet '<s>'", ", column '<c>'", ", row <n>" for the
// parts that are given (empty sheet/column and row 0 are left out).
std::string describe_location(const std::string& workbook, const std::string& sheet = {},
                              const std::string& column = {}, long row = 0);

// Python's repr() of an object, for messages.
std::string repr_of(py::handle value);

// Workbook row number of a table row label: data rows are numbered from 0 by pandas and
// the label row is row 1 of the sheet. Labels that are not integers give 0 (unknown).
long workbook_row(py::handle row_label);

}  // namespace gridfold::config
