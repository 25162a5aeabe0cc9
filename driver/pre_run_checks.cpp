#include "pre_run_checks.hpp"

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <system_error>

#include "common/paths.hpp"
#include "common/python_files.hpp"
#include "python_helpers.hpp"
#include "run_outputs.hpp"

namespace gridfold::driver {

namespace {

bool is_file(const py::str& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(text_of(path), ec);
}

py::str case_file(py::handle row) {
    const std::string name = cut_at_sav(text_of(row["filename"]));
    return absolute_path(resolve_input_path(join_path({row["filepath"], py::str(name + ".sav")})));
}

std::set<long long> bus_numbers_of(const RunState& run, const py::str& path, const std::string& what) {
    if (!is_file(path)) {
        throw py::value_error(what + " file not found: '" + text_of(path) + "' (workbook '" + run.lists.workbook + "')");
    }
    std::set<long long> numbers;
    py::object buses = read_case_data(run, path).attr("pssbus");
    for (py::handle bus : buses[py::str("NUM")]) numbers.insert(py::int_(py::reinterpret_borrow<py::object>(bus)).cast<long long>());
    return numbers;
}

[[noreturn]] void refuse(const std::string& message) { throw py::value_error(message); }

bool escape_regex_char(char c) { return std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos; }

std::string regex_quoted(const std::string& text) {
    std::string quoted;
    for (char c : text) {
        if (escape_regex_char(c)) quoted += '\\';
        quoted += c;
    }
    return quoted;
}

// Removes the files `names` of `folder`, except a main case file of the run (which may lie
// anywhere, even under a name the run writes), and says which.
void remove_files(const RunState& run, const py::str& folder, const std::vector<std::string>& names) {
    std::string listed;
    std::size_t removed = 0;
    for (const std::string& name : names) {
        const py::str path = join_path({folder, py::str(name)});
        if (run.main_case_files.count(normalised_path(path)) != 0) continue;
        common::remove_file(text_of(path));
        listed += (listed.empty() ? "" : ", ") + name;
        ++removed;
    }
    if (removed == 0) return;
    py::print("removed " + std::to_string(removed) + " file(s) an earlier run left in " + text_of(absolute_path(folder)) + ": " +
              listed);
}

}  // namespace

void check_before_run(const RunState& run) {
    const std::vector<std::string>& rows = run.lists.small_rows;
    const std::string workbook = "workbook '" + run.lists.workbook + "'";

    // One results folder per small case: two rows sharing one would overwrite each other's files.
    std::map<std::string, std::string> folder_rows;
    std::vector<std::pair<py::object, std::string>> small_cases;  // (row, row name)
    std::size_t s = 0;
    for (py::handle key : run.lists.small_case_dict) {
        py::object row = run.lists.small_case_dict[key];
        const std::string& row_name = rows[s++];
        const py::str folder = join_path({py::str(row["parent_path"]), py::str(cut_at_sav(text_of(row["filename"])))});
        const auto [at, fresh] = folder_rows.emplace(normalised_path(folder), row_name);
        if (!fresh) {
            refuse(workbook + ": " + at->second + " and " + row_name + " would share the results folder '" + text_of(folder) +
                   "': give the small cases different names or different results folders");
        }
        small_cases.emplace_back(row, row_name);
    }

    // The connecting bus joins the two cases, so it must be a bus of both.
    for (const auto& [row, row_name] : small_cases) {
        const py::str file = case_file(row);
        const long long bus = py::int_(row["connecting_bus"]).cast<long long>();
        if (bus_numbers_of(run, file, workbook + ", " + row_name + ": small case").count(bus) == 0) {
            refuse(workbook + ", " + row_name + ": connecting bus " + std::to_string(bus) +
                   " is not a bus of small case file '" + text_of(file) + "'");
        }
    }
    std::size_t m = 0;
    for (py::handle key : run.lists.main_case_dict) {
        const py::str file = case_file(run.lists.main_case_dict[key]);
        const std::string& main_row = run.lists.main_rows[m++];
        const std::set<long long> main_buses = bus_numbers_of(run, file, workbook + ", " + main_row + ": main case");
        for (const auto& [row, row_name] : small_cases) {
            const long long bus = py::int_(row["connecting_bus"]).cast<long long>();
            if (main_buses.count(bus) == 0) {
                refuse(workbook + ", " + row_name + ": connecting bus " + std::to_string(bus) + " is not a bus of main case file '" +
                       text_of(file) + "' (" + main_row + ")");
            }
        }
    }
}

std::vector<py::str> leftover_working_copies(const RunState& run, const py::str& main_case_path) {
    const std::string path = text_of(main_case_path);
    const py::str folder(common::parent_folder(path));
    const std::string name = common::base_name(path);
    const std::string extension = common::path_extension(name);
    const std::string stem = name.substr(0, name.size() - extension.size());
    const std::regex copy_name(regex_quoted(stem) + "_copy(_[0-9]+)?" + regex_quoted(extension));
    std::vector<py::str> found;
    for (const std::string& entry : common::folder_entries(text_of(folder).empty() ? "." : text_of(folder))) {
        if (!std::regex_match(entry, copy_name)) continue;
        const py::str copy = join_path({folder, py::str(entry)});
        if (run.main_case_files.count(normalised_path(copy)) == 0) found.push_back(copy);
    }
    return found;
}

void remove_stale_main_case_outputs(const RunState& run, const std::string& main_case_name) {
    if (!run.options.remove_earlier_outputs) return;
    std::set<std::string> done;
    for (py::handle key : run.lists.small_case_dict) {
        const py::str parent(run.lists.small_case_dict[key]["parent_path"]);
        if (!done.insert(normalised_path(parent)).second) continue;
        std::vector<std::string> stale;
        for (const std::string& name : {main_case_name + "_solved.sav", main_case_name + "_unsolved_lf.txt"}) {
            if (is_file(join_path({parent, py::str(name)}))) stale.push_back(name);
        }
        remove_files(run, parent, stale);
    }
}

void remove_stale_pair_outputs(const RunState& run, const py::str& folder, const std::string& main_case_name, const std::string& small_case_name) {
    std::error_code ec;
    if (!std::filesystem::is_directory(text_of(folder), ec)) return;
    const std::string M = regex_quoted(main_case_name);
    const std::string S = regex_quoted(small_case_name);
    // The names the pair writes: maps, progress, the adders' cases, status report, the
    // out-of-service and solved cases, its unsolved log, and the dispatch check's case and
    // progress.
    const std::regex written(M + "_renumber_map\\.(txt|json)|progress\\.txt|dispatch_progress\\.txt|" + M +
                             "_dispatched_" + S + "\\.sav|" + M +
                             "_added_((bus|line|trn|gen|fixed_shunt|switched_shunt|load|ind)_)?" + S + "(\\.sav)?|" + M +
                             "_status_" + S + "\\.txt|" + M + "_oos_" + S + "\\.sav|" + M + "_solved_" + S +
                             "_([0-9]+|final_solved)\\.sav|" + M + "_unsolved_lf\\.txt");
    std::vector<std::string> stale;
    for (const std::string& name : common::folder_entries(text_of(folder))) {
        if (std::regex_match(name, written) && is_file(join_path({folder, py::str(name)}))) stale.push_back(name);
    }
    std::sort(stale.begin(), stale.end());
    remove_files(run, folder, stale);
}

}  // namespace gridfold::driver
