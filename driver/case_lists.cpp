#include "case_lists.hpp"

#include <cmath>
#include <utility>
#include <vector>

#include "python_helpers.hpp"

namespace gridfold::driver {

namespace {

// Names the row of an indexed dictionary: the reader knows each row's sheet and
// workbook row; a reader without that knowledge still gets the row key named.
class RowLocator {
  public:
    RowLocator(py::object reader, std::string workbook, const char* type_text)
        : reader_(std::move(reader)), workbook_(std::move(workbook)), type_text_(type_text) {}

    std::string describe(py::handle key, const std::string& column) const {
        std::string where = "workbook '" + workbook_ + "'";
        if (py::hasattr(reader_, "_indexed_row_origins")) {
            py::object origins = reader_.attr("_indexed_row_origins")(type_text_);
            if (origins.contains(key)) {
                py::tuple origin = origins[key];
                where += ", sheet '" + text_of(origin[0]) + "'";
                if (!column.empty()) where += ", column '" + column + "'";
                return where + ", row " + text_of(origin[1]);
            }
        }
        where += ", " + std::string(type_text_) + " row " + text_of(key);
        if (!column.empty()) where += ", column '" + column + "'";
        return where;
    }

  private:
    py::object reader_;
    std::string workbook_;
    const char* type_text_;
};

py::object cell(py::handle row, py::handle key, const char* column, const RowLocator& where) {
    py::str label(column);
    if (!row.contains(label)) {
        std::string hint;
        if (std::string(column) == "parent_path") {
            hint = " (a small-case sheet gets its results folder from a control row whose 'sheet run enabled' is 1)";
        }
        throw py::key_error("missing column '" + std::string(column) + "': " + where.describe(key, {}) + hint);
    }
    return row[label];
}

// A file name or folder must be text; an empty cell or a number cannot name a file.
py::object text_cell(py::handle row, py::handle key, const char* column, const RowLocator& where) {
    py::object value = cell(row, key, column, where);
    if (!py::isinstance<py::str>(value)) {
        throw py::type_error("expected text for a file or folder name, found " + py::repr(value).cast<std::string>() + ": " +
                             where.describe(key, column));
    }
    return value;
}

// A bus number arrives as a real number whenever another cell of its column is empty
// (pandas then reads the column as reals), or as text when the cell was formatted as text.
// The engine takes bus numbers as integers, so whole numbers are passed on as integers.
py::object bus_number_cell(py::handle row, py::handle key, const char* column, const RowLocator& where) {
    py::object value = cell(row, key, column, where);
    auto refuse = [&]() -> py::object {
        throw py::type_error("expected a whole bus number, found " + py::repr(value).cast<std::string>() + ": " +
                             where.describe(key, column));
    };
    if (py::isinstance<py::bool_>(value)) return refuse();
    if (py::isinstance<py::int_>(value)) return value;
    if (py::isinstance<py::float_>(value)) {
        const double number = value.cast<double>();
        if (!std::isfinite(number) || std::floor(number) != number) return refuse();
        return py::int_(static_cast<long long>(number));
    }
    if (py::isinstance<py::str>(value)) {
        const std::string digits = value.cast<std::string>();
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return refuse();
        return py::int_(py::str(value));
    }
    return refuse();
}

// Takes part: the text "yes" (already lower-cased and stripped by the reader), the integer
// 1 or the real 1.0 (and so also a true boolean).
bool is_enabled(py::handle value) {
    py::object v = py::reinterpret_borrow<py::object>(value);
    return v.equal(py::str("yes")) || v.equal(py::int_(1)) || v.equal(py::float_(1.0));
}

}  // namespace

CaseLists build_case_lists(py::object file_path, py::object file_name) {
    // 1. The reader loads and cleans the workbook.
    py::object reader = sibling_attr("gridfold_rc", "ReadConfigFile")(file_path, file_name);
    CaseLists lists;
    lists.workbook = py::hasattr(reader, "file_path") && !reader.attr("file_path").is_none()
                         ? text_of(join_path({reader.attr("file_path"), reader.attr("file_name")}))
                         : text_of(file_name);

    // 2. The three indexed dictionaries, in the order software, main, case.
    py::object softdata = reader.attr("get_soft_config_indexed_dict")();
    py::object maindata = reader.attr("get_main_config_indexed_dict")();
    py::object casedata = reader.attr("get_case_config_indexed_dict")();

    // 3. Engine settings: the last row of each description wins.
    const RowLocator soft_rows(reader, lists.workbook, "SOFT_INPUT");
    const std::vector<std::pair<const char*, const char*>> settings = {
        {"psse_path", "psse_path"}, {"psse_version", "version"}, {"psse_init", "nbus"}};
    for (py::handle key : softdata) {
        py::object row = softdata[key];
        py::object description = cell(row, key, "attribute description", soft_rows);
        for (const auto& [text, name] : settings) {
            if (description.equal(py::str(text))) lists.settings[name] = cell(row, key, "attribute value", soft_rows);
        }
    }

    // 4. Enabled main cases, numbered from "0".
    const RowLocator main_rows(reader, lists.workbook, "MAIN_INPUT");
    lists.main_case_dict = ordered_dict();
    for (py::handle key : maindata) {
        py::object row = maindata[key];
        if (!is_enabled(cell(row, key, "enabled", main_rows))) continue;
        py::dict entry;
        entry["filepath"] = text_cell(row, key, "snapshot filepath", main_rows);
        entry["filename"] = text_cell(row, key, "snapshot filename", main_rows);
        lists.main_case_dict[py::str(std::to_string(py::len(lists.main_case_dict)))] = entry;
    }

    // 5. Enabled small cases, numbered from "0".
    const RowLocator case_rows(reader, lists.workbook, "CASE_INPUT");
    lists.small_case_dict = ordered_dict();
    for (py::handle key : casedata) {
        py::object row = casedata[key];
        if (!is_enabled(cell(row, key, "enabled", case_rows))) continue;
        py::dict entry;
        entry["filepath"] = text_cell(row, key, "filepath of case to be added", case_rows);
        entry["filename"] = text_cell(row, key, "name of case to be added", case_rows);
        entry["connecting_bus"] = bus_number_cell(row, key, "connecting bus number", case_rows);
        entry["parent_path"] = text_cell(row, key, "parent_path", case_rows);
        lists.small_case_dict[py::str(std::to_string(py::len(lists.small_case_dict)))] = entry;
    }
    return lists;
}

py::tuple case_lists_as_tuple(const CaseLists& lists) {
    return py::make_tuple(lists.settings, lists.main_case_dict, lists.small_case_dict);
}

}  // namespace gridfold::driver
