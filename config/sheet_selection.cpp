// Selection of the configuration sheets of one type, and their rows as indexed
// dictionaries keyed by a running number written as text.
#include <set>

#include "read_config_file.hpp"

namespace gridfold::config {

namespace {

py::object ordered_dict() { return py::module_::import("collections").attr("OrderedDict")(); }

// Calls `visit(key_text, sheet_name, row_label, row)` for every row of every selected
// sheet, numbering the rows across sheets from 0.
template <typename Visit>
void for_each_selected_row(const ReadConfigFile& reader, const py::str& search_term, Visit visit) {
    if (reader.dfs.is_none()) return;
    py::object selection = reader.filter_sheet_dict(search_term);
    py::dict tables = py::reinterpret_borrow<py::dict>(reader.dfs);
    long counter = 0;
    for (py::handle sheet_name : selection) {
        if (!tables.contains(sheet_name)) continue;
        py::object table = tables[sheet_name];
        const std::string sheet = sheet_name.cast<std::string>();
        // Rows become maps from label to value: a repeated label would silently lose cells.
        std::set<std::string> seen;
        for (const py::object& label : labels_of(table)) {
            const std::string text = py::str(label).cast<std::string>();
            if (!seen.insert(text).second) {
                throw py::value_error(describe_location(reader.workbook_path(), sheet, text) +
                                      " appears more than once among the labels (compared stripped and lower-cased)");
            }
        }
        py::dict rows = table.attr("to_dict")(py::arg("orient") = "index");
        for (auto [row_label, row] : rows) {
            visit(std::to_string(counter), sheet, row_label, row);
            ++counter;
        }
    }
}

}  // namespace

py::object ReadConfigFile::filter_sheet_dict(const py::str& search_term) const {
    py::object selection = ordered_dict();
    py::object term = search_term.attr("lower")();
    py::object split = py::module_::import("re").attr("split");
    for (auto [sheet_name, sheet_type] : py::reinterpret_borrow<py::dict>(sheet_dict)) {
        if (!py::isinstance<py::str>(sheet_type)) {
            const std::string name = py::str(sheet_name).cast<std::string>();
            auto origin = type_origins_.find(name);
            std::string where =
                origin == type_origins_.end()
                    ? describe_location(workbook_path())
                    : "control " + describe_location(workbook_path(), origin->second.sheet,
                                                     py::str(kSheetTypeLabel).attr("lower")().cast<std::string>(),
                                                     origin->second.row);
            throw py::type_error("sheet type " + repr_of(sheet_type) + " of sheet '" + name + "' is not text (" +
                                 where + ")");
        }
        py::object lowered = sheet_type.attr("lower")();
        py::list words;
        for (py::handle word : split("[;,]", lowered)) words.append(word.attr("strip")());
        if (words.size() == 1) {
            if (py::object(words[0]).equal(term)) selection[sheet_name] = lowered;
            continue;
        }
        for (py::handle word : words) {
            if (word.attr("__contains__")(term).cast<bool>()) selection[sheet_name] = word.attr("lower")();
        }
    }
    return selection;
}

py::object ReadConfigFile::indexed_dict(const py::str& search_term) const {
    py::object result = ordered_dict();
    for_each_selected_row(
        *this, search_term,
        [&](const std::string& key, const std::string&, py::handle, py::handle row) { result[py::str(key)] = row; });
    return result;
}

py::object ReadConfigFile::indexed_row_origins(const py::str& search_term) const {
    py::object result = ordered_dict();
    for_each_selected_row(*this, search_term,
                          [&](const std::string& key, const std::string& sheet, py::handle row_label, py::handle) {
                              result[py::str(key)] = py::make_tuple(sheet, workbook_row(row_label));
                          });
    return result;
}

}  // namespace gridfold::config
