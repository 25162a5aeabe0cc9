// Construction and loading of ReadConfigFile: reading every sheet of the workbook,
// cleaning labels and text cells, and scanning the control sheets.
#include <string>
#include <vector>

#include "common/paths.hpp"
#include "common/python_files.hpp"
#include "read_config_file.hpp"

namespace gridfold::config {

namespace {

std::string lower(const char* label) { return py::str(label).attr("lower")().cast<std::string>(); }

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Python truth of a cell value, as `if value:` sees it.
bool is_true(py::handle value) {
    int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth == 1;
}

bool has_label(py::handle table, const std::string& label) { return count_label(table, label) > 0; }

// Column letter(s) of a 0-based column position as the workbook shows it (A, B, ..., AA).
std::string column_letters(std::size_t position) {
    std::string letters;
    for (std::size_t n = position + 1; n > 0; n = (n - 1) / 26) letters.insert(letters.begin(), char('A' + (n - 1) % 26));
    return letters;
}

}  // namespace

ReadConfigFile::ReadConfigFile(py::object file_path_arg, py::object file_name_arg) {
    for (auto [name, value] : {std::pair<const char*, py::handle>{"file_path", file_path_arg}, {"file_name", file_name_arg}}) {
        if (!value.is_none() && !py::isinstance<py::str>(value)) {
            throw py::type_error(std::string(name) + " must be text or None, not " +
                                 py::str(py::type::of(value).attr("__name__")).cast<std::string>());
        }
    }
    file_path = file_path_arg;
    file_name = file_name_arg.is_none() ? py::str("config.xlsx") : file_name_arg;
    raw_dfs = py::dict();
    dfs = py::none();
    sheet_dict = py::module_::import("collections").attr("OrderedDict")();
    load_and_process_file();
}

std::string ReadConfigFile::workbook_path() const {
    if (file_path.is_none()) return py::str(file_name).cast<std::string>();
    return common::join_path(common::path_text(file_path), common::path_text(file_name));
}

void ReadConfigFile::load_and_process_file() {
    if (file_path.is_none()) return;
    const std::string name = file_name.cast<std::string>();
    const std::string path = workbook_path();
    // A CSV file holds one table and so cannot carry a control sheet beside the sheets it
    // names: refuse it rather than load something no getter can use.
    if (contains(name, ".csv")) {
        throw py::value_error("configuration '" + path +
                              "' is a CSV file; a configuration must be an .xlsx workbook with a control sheet");
    }
    if (!contains(name, ".xlsx")) {
        throw py::value_error("configuration '" + path +
                              "' is not an .xlsx workbook; a configuration must be an .xlsx workbook with a control sheet");
    }
    read_workbook(path);
    scan_control_sheets();
}

void ReadConfigFile::read_workbook(const std::string& path) {
    py::module_ pandas = py::module_::import("pandas");
    const std::string readable = common::resolve_path_ignoring_case(path);
    try {
        // Only empty cells are missing: texts such as "N/A", "NA" or "null" are cell text like
        // any other (pandas would otherwise read them as missing values).
        py::list only_empty;
        only_empty.append("");
        raw_dfs = pandas.attr("read_excel")(readable, py::arg("sheet_name") = py::none(), py::arg("engine") = "openpyxl",
                                            py::arg("keep_default_na") = false, py::arg("na_values") = only_empty);
    } catch (py::error_already_set& err) {
        // A missing file already names its path; any other reading failure (not a zip
        // file, a damaged workbook) is reported with the workbook's path as well.
        // An interrupt is the user's, not the workbook's fault: it goes on unchanged.
        if (err.matches(PyExc_FileNotFoundError) || err.matches(PyExc_PermissionError) ||
            err.matches(PyExc_KeyboardInterrupt))
            throw;
        py::object cause = err.value();
        std::string message = "cannot read configuration workbook '" + path + "': " + py::str(cause).cast<std::string>();
        py::raise_from(err, PyExc_ValueError, message.c_str());
        throw py::error_already_set();
    }

    py::dict cleaned;
    for (auto [sheet, raw_table] : py::reinterpret_borrow<py::dict>(raw_dfs)) {
        const std::string sheet_name = py::str(sheet).cast<std::string>();
        py::object table = raw_table.attr("dropna")(py::arg("how") = "all").attr("copy")();
        std::vector<py::object> labels = labels_of(table);
        py::list new_labels;
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (!py::isinstance<py::str>(labels[i])) {
                throw py::type_error("column label " + repr_of(labels[i]) + " is not text (" +
                                     describe_location(path, sheet_name, column_letters(i), 1) +
                                     "); labels of a configuration sheet must be text");
            }
            new_labels.append(labels[i].attr("strip")().attr("lower")());
        }
        table.attr("columns") = new_labels;
        // Replace column by position: labels may repeat after cleaning, and repeats are
        // refused only in the sheets that are actually used (control and configuration).
        for (std::size_t i = 0; i < labels.size(); ++i) {
            py::object column = table.attr("iloc")[py::make_tuple(py::slice(py::none(), py::none(), py::none()), py::int_(i))];
            table.attr("isetitem")(i, clean_column(column));
        }
        cleaned[sheet.attr("lower")()] = table;
    }
    dfs = cleaned;
}

void ReadConfigFile::scan_control_sheets() {
    const std::vector<std::string> required = {lower(kSheetNameLabel), lower(kSheetTypeLabel), lower(kSheetRunEnabledLabel)};
    for (auto [key, table] : py::reinterpret_borrow<py::dict>(dfs)) {
        bool is_control = true;
        for (const std::string& label : required) is_control = is_control && has_label(table, label);
        if (is_control) scan_control_sheet(key.cast<std::string>(), table);
    }
}

void ReadConfigFile::scan_control_sheet(const std::string& key, py::handle table) {
    const std::string path = workbook_path();
    const std::string name_label = lower(kSheetNameLabel), type_label = lower(kSheetTypeLabel),
                      enabled_label = lower(kSheetRunEnabledLabel), folder_label = lower(kResultsFolderLabel);
    const py::ssize_t rows = py::len(table);
    if (rows == 0) return;
    if (!has_label(table, folder_label)) {
        throw py::key_error("control " + describe_location(path, key) + " has no column '" + folder_label +
                            "' (a control sheet needs '" + name_label + "', '" + type_label + "', '" +
                            enabled_label + "' and '" + folder_label + "')");
    }
    for (const std::string& label : {name_label, type_label, enabled_label, folder_label}) {
        if (count_label(table, label) > 1) {
            throw py::value_error("control " + describe_location(path, key, label) +
                                  " appears more than once among the labels (compared stripped and lower-cased)");
        }
    }

    auto cells = [&](const std::string& label) { return table[py::str(label)].attr("tolist")().cast<py::list>(); };
    py::list names = cells(name_label), types = cells(type_label), enabled = cells(enabled_label), folders = cells(folder_label);
    py::list row_labels = table.attr("index").attr("tolist")();
    py::object isna = py::module_::import("pandas").attr("isna");
    py::dict tables = py::reinterpret_borrow<py::dict>(dfs);

    for (py::ssize_t i = 0; i < rows; ++i) {
        py::object value = enabled[i];
        if (is_true(isna(value)) || !is_true(value)) continue;
        const long row = workbook_row(row_labels[i]);
        py::object sheet_name = names[i];
        if (!py::isinstance<py::str>(sheet_name)) {
            throw py::type_error("sheet name " + repr_of(sheet_name) + " is not text (control " +
                                 describe_location(path, key, name_label, row) + ")");
        }
        py::object name_key = sheet_name.attr("lower")();
        sheet_dict[name_key] = types[i];
        type_origins_[name_key.cast<std::string>()] = CellOrigin{key, row};

        // Only a 1 (1, 1.0 or true) gives the sheet a results folder.
        if (!value.equal(py::int_(1))) continue;
        for (auto [other_key, other_table] : tables) {
            if (other_key.equal(name_key)) other_table[py::str("parent_path")] = folders[i];
        }
    }
}

}  // namespace gridfold::config
