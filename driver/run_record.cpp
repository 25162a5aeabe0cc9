#include "run_record.hpp"

#include <algorithm>
#include <cctype>
#include <vector>

#include "adders.hpp"
#include "common/paths.hpp"
#include "common/python_files.hpp"
#include "python_helpers.hpp"

namespace gridfold::driver {

namespace {

bool is_integer(py::handle value) { return py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value); }

// The buses and identifier named by a status key ("Gen 49, Id:1", "101 to 102, Ckt:1",
// "1001"): every whole number before the identifier, then the identifier as text.
py::list ids_of_status_key(const std::string& key) {
    py::list ids;
    std::string head = key;
    std::string identifier;
    bool has_identifier = false;
    for (const char* marker : {", Id:", ", Ckt:"}) {
        const std::size_t at = key.find(marker);
        if (at != std::string::npos) {
            head = key.substr(0, at);
            identifier = key.substr(at + std::string(marker).size());
            has_identifier = true;
            break;
        }
    }
    std::string digits;
    auto flush = [&] {
        if (!digits.empty()) ids.append(py::int_(py::str(digits)));
        digits.clear();
    };
    for (char c : head) {
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            digits += c;
        } else {
            flush();
        }
    }
    flush();
    if (has_identifier) ids.append(py::str(identifier).attr("strip")());
    return ids;
}

}  // namespace

std::string partial_outcome(long solved) {
    return "solved up to connection " + std::to_string(solved) + " (connection " + std::to_string(solved + 1) + " failed)";
}

std::string refused_outcome(long refused) {
    return "solved, " + std::to_string(refused) + (refused == 1 ? " element refused" : " elements refused");
}

py::dict new_main_case_entry(const std::string& name, const py::str& file, const std::string& row) {
    py::dict entry;
    entry["name"] = name;
    entry["file"] = file;
    entry["row"] = row;
    entry["base_case_solved"] = py::none();
    entry["solved_case"] = py::none();
    entry["error"] = py::none();
    entry["seconds"] = 0.0;
    return entry;
}

py::dict new_pair_entry(const std::string& main_case, const std::string& small_case, const py::str& small_case_file,
                        const std::string& row, py::handle connecting_bus, const py::str& results_folder) {
    py::dict pair;
    pair["main_case"] = main_case;
    pair["small_case"] = small_case;
    pair["small_case_file"] = small_case_file;
    pair["row"] = row;
    pair["connecting_bus"] = connecting_bus;
    pair["results_folder"] = results_folder;
    pair["outcome"] = kNotRun;
    pair["exit_class"] = kExitUnsolved;
    pair["renumbered"] = py::dict();
    py::dict elements;
    py::dict accepted;
    for (const auto& section : kAdders) accepted[section.kind] = 0;
    elements["accepted"] = accepted;
    elements["refused"] = py::list();
    elements["left_out_at_connecting_bus"] = py::list();
    pair["elements"] = elements;
    pair["connections"] = py::list();
    pair["connections_solved"] = 0;
    pair["connections_total"] = 0;
    pair["last_solved_case"] = py::none();
    pair["saved_cases"] = py::list();
    pair["unsolved_log"] = py::none();
    pair["status_report"] = py::none();
    pair["dispatch_check"] = py::none();
    pair["seconds"] = 0.0;
    return pair;
}

long record_elements(py::dict pair, py::handle report_sections, py::handle left_out) {
    py::dict accepted;
    py::list refused;
    for (py::handle section : report_sections) {
        py::object status = report_sections[section];
        const char* kind = nullptr;
        long total = 0;
        long refused_here = 0;
        for (py::handle key : status) {
            py::object value = status[key];
            const std::string key_text = text_of(key);
            bool is_total = false;
            for (const auto& known : kAdders) {
                if (key_text == known.total_key) {
                    kind = known.kind;
                    total = is_integer(value) ? value.cast<long>() : 0;
                    is_total = true;
                }
            }
            if (is_total) continue;
            // An engine code: 0 accepted; anything else (a code, or no call for the version) refused.
            if (is_integer(value) && value.cast<long>() == 0) continue;
            py::dict entry;
            entry["kind"] = kind != nullptr ? kind : text_of(section).c_str();
            entry["element"] = key_text;
            entry["ids"] = ids_of_status_key(key_text);
            entry["code"] = value;
            refused.append(entry);
            ++refused_here;
        }
        if (kind != nullptr) accepted[kind] = std::max(0L, total - refused_here);
    }
    py::dict elements = pair["elements"];
    elements["accepted"] = accepted;
    elements["refused"] = refused;
    py::list left;
    for (py::handle element : left_out) {
        py::dict entry;
        entry["kind"] = element["kind"];
        entry["ids"] = py::list(element["ids"]);
        left.append(entry);
    }
    elements["left_out_at_connecting_bus"] = left;
    return static_cast<long>(py::len(refused));
}

void set_outcome(py::dict pair, const std::string& outcome, int exit_class) {
    pair["outcome"] = outcome;
    pair["exit_class"] = exit_class;
}

std::string local_time_text() {
    py::object now = py::module_::import("datetime").attr("datetime").attr("now")().attr("astimezone")();
    return now.attr("isoformat")(py::arg("timespec") = "seconds").cast<std::string>();
}

double monotonic_seconds() { return py::module_::import("time").attr("monotonic")().cast<double>(); }

void write_run_record(py::handle record, const py::str& path) {
    py::str text = py::module_::import("json").attr("dumps")(record, py::arg("indent") = 2,
                                                              py::arg("ensure_ascii") = false);
    common::make_folders(common::parent_folder(common::absolute_path(common::path_text(path))));
    // UTF-8 with "\n" line ends on every platform: the record is read back by tools, not people.
    common::write_bytes_whole(path, (text + py::str("\n")).attr("encode")("utf-8").cast<std::string>());
}

}  // namespace gridfold::driver
