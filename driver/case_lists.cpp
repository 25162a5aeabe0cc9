#include "case_lists.hpp"

#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "python_helpers.hpp"

namespace gridfold::driver {

namespace {

bool is_number(py::handle value) {
    return (py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value)) && !py::isinstance<py::bool_>(value);
}

// Names the row of an indexed dictionary the way every message of a run does: the sheet as
// the workbook shows it and the row number Excel shows. A reader without that knowledge
// still gets the row key named.
class RowLocator {
  public:
    RowLocator(py::object reader, std::string workbook, const char* type_text)
        : workbook_(std::move(workbook)), type_text_(type_text) {
        if (py::hasattr(reader, "_indexed_row_origins")) origins_ = reader.attr("_indexed_row_origins")(type_text_);
        if (py::hasattr(reader, "_dfs")) {
            for (py::handle sheet : reader.attr("_dfs")) {
                shown_names_[text_of(py::str(sheet).attr("lower")())] = text_of(sheet);
            }
        }
    }

    // "Small Cases row 3"
    std::string row_name(py::handle key) const {
        if (origins_ && origins_.contains(key)) {
            py::tuple origin = origins_[key];
            std::string sheet = text_of(origin[0]);
            auto shown = shown_names_.find(sheet);
            if (shown != shown_names_.end()) sheet = shown->second;
            return sheet + " row " + text_of(origin[1]);
        }
        return std::string(type_text_) + " row " + std::to_string(std::stol(text_of(key)) + 1);
    }

    std::string describe(py::handle key, const std::string& column) const {
        std::string where = "workbook '" + workbook_ + "', " + row_name(key);
        if (!column.empty()) where += ", column '" + column + "'";
        return where;
    }

  private:
    std::string workbook_;
    const char* type_text_;
    py::object origins_;
    std::map<std::string, std::string> shown_names_;
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

// A file or folder cell as text. Excel keeps a name such as 2030 or 12345 as a number, and
// pandas reads it as a real when another cell of the column is empty: a whole number is taken
// as its integer text ("2030.0" is "2030"). An empty cell (or a formula without a stored
// value) names no file.
py::object text_cell(py::handle row, py::handle key, const char* column, const RowLocator& where) {
    py::object value = cell(row, key, column, where);
    if (py::isinstance<py::str>(value)) {
        if (!value.attr("strip")().cast<std::string>().empty()) return value;
    } else if (is_number(value)) {
        const double number = value.cast<double>();
        if (std::isfinite(number)) {
            if (py::isinstance<py::int_>(value)) return py::str(value);
            if (std::floor(number) == number) return py::str(py::int_(value));
            return py::str(value);
        }
    } else if (!py::isinstance<py::bool_>(value) && !value.is_none()) {
        throw py::type_error("expected text for a file or folder name, found " + py::repr(value).cast<std::string>() + ": " +
                             where.describe(key, column));
    }
    if (py::isinstance<py::bool_>(value)) {
        throw py::type_error("expected text for a file or folder name, found " + py::repr(value).cast<std::string>() + ": " +
                             where.describe(key, column));
    }
    throw py::value_error("empty cell where a file or folder name is needed (a formula needs its value saved in the "
                          "workbook): " + where.describe(key, column));
}

// A name cell is a file name within its folder: a separator or ".." would place the run's
// files outside the results folder the workbook gives.
py::object file_name_cell(py::handle row, py::handle key, const char* column, const RowLocator& where) {
    py::object value = text_cell(row, key, column, where);
    const std::string name = value.cast<std::string>();
    const bool has_separator = name.find('/') != std::string::npos || name.find('\\') != std::string::npos;
    const std::string stem = cut_at_sav(name);
    if (has_separator || stem == ".." || stem == "." || name.find("..") != std::string::npos) {
        throw py::value_error("a case name is a file name, without folder separators or '..' (the folder goes in its own "
                              "column): " + py::repr(value).cast<std::string>() + ", " + where.describe(key, column));
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

// Neither yes nor no: "y", "Yes please" or 2 leave the row out like "no", which the user
// may not have meant, so the run says so.
bool is_clearly_disabled(py::handle value) {
    if (py::isinstance<py::str>(value)) return value.cast<std::string>() == "no" || value.cast<std::string>().empty();
    if (value.is_none()) return true;
    if (is_number(value)) {
        const double number = value.cast<double>();
        return std::isnan(number) || number == 0.0;
    }
    return py::isinstance<py::bool_>(value);
}

bool takes_part(py::handle row, py::handle key, const RowLocator& where) {
    py::object value = cell(row, key, "enabled", where);
    if (is_enabled(value)) return true;
    if (!is_clearly_disabled(value)) {
        py::print("warning: 'enabled' value " + py::repr(value).cast<std::string>() +
                  " is neither yes nor no; the row is left out: " + where.describe(key, "enabled"));
    }
    return false;
}

// The rows of `data` that take part, as entries made by `fill` in an ordered dict keyed "0",
// "1", ...; the name of each row taken goes to `row_names`.
template <typename Fill>
py::object enabled_rows(py::handle data, const RowLocator& rows, std::vector<std::string>& row_names, const Fill& fill) {
    py::object entries = ordered_dict();
    for (py::handle key : data) {
        py::object row = data[key];
        if (!takes_part(row, key, rows)) continue;
        py::dict entry;
        fill(row, key, entry);
        row_names.push_back(rows.row_name(key));
        entries[py::str(std::to_string(py::len(entries)))] = entry;
    }
    return entries;
}

}  // namespace

CaseLists build_case_lists(py::object file_path, py::object file_name) {
    // The reader loads and cleans the workbook.
    py::object reader = sibling_attr("gridfold_rc", "ReadConfigFile")(file_path, file_name);
    CaseLists lists;
    lists.reader = reader;
    lists.workbook = py::hasattr(reader, "file_path") && !reader.attr("file_path").is_none()
                         ? text_of(join_path({reader.attr("file_path"), reader.attr("file_name")}))
                         : text_of(file_name);

    // The three indexed dictionaries, in the order software, main, case.
    py::object softdata = reader.attr("get_soft_config_indexed_dict")();
    py::object maindata = reader.attr("get_main_config_indexed_dict")();
    py::object casedata = reader.attr("get_case_config_indexed_dict")();

    // Engine settings: the last row of each description wins.
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

    // Enabled main cases and small cases, each numbered from "0".
    const RowLocator main_rows(reader, lists.workbook, "MAIN_INPUT");
    lists.main_case_dict = enabled_rows(maindata, main_rows, lists.main_rows, [&](py::handle row, py::handle key, py::dict& entry) {
        entry["filepath"] = text_cell(row, key, "snapshot filepath", main_rows);
        entry["filename"] = file_name_cell(row, key, "snapshot filename", main_rows);
    });
    const RowLocator case_rows(reader, lists.workbook, "CASE_INPUT");
    lists.small_case_dict = enabled_rows(casedata, case_rows, lists.small_rows, [&](py::handle row, py::handle key, py::dict& entry) {
        entry["filepath"] = text_cell(row, key, "filepath of case to be added", case_rows);
        entry["filename"] = file_name_cell(row, key, "name of case to be added", case_rows);
        entry["connecting_bus"] = bus_number_cell(row, key, "connecting bus number", case_rows);
        entry["parent_path"] = text_cell(row, key, "parent_path", case_rows);
    });
    return lists;
}

py::tuple case_lists_as_tuple(const CaseLists& lists) {
    return py::make_tuple(lists.settings, lists.main_case_dict, lists.small_case_dict);
}

}  // namespace gridfold::driver
