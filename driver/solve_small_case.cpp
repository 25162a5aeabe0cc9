// Solving one small case and the final pass over a main case: the small case is taken out
// of service, the base case solved with up to three attempts, and the small case brought back
// connection by connection from the connecting bus. The outcome goes into the run record.
#include <algorithm>
#include <set>
#include <vector>

#include "common/solve_calls.hpp"
#include "dispatch_check.hpp"
#include "network/operations.hpp"
#include "python_helpers.hpp"
#include "run_outputs.hpp"
#include "run_record.hpp"
#include "run_state.hpp"

namespace gridfold::driver {

namespace {

namespace plans = study::solve_plans;

void run_rsol(const py::object& psseng, const plans::BaseCaseAttempt& attempt) {
    psseng.attr("run_load_flow_rsol")(**plans::as_keywords(attempt));
}

// Nonzero means the last solution did not converge.
bool is_unsolved(py::handle solved_status) {
    int truth = PyObject_IsTrue(solved_status.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth == 1;
}

// The bus numbers (column "NUM") of the small case's bus table, as a list.
py::list small_case_bus_numbers(const SmallCaseState& sc) {
    return py::list(sc.small_case.attr("pssbus")[py::str("NUM")]);
}

// Writes one failure line to the results-folder log (afresh) and to the parent-folder log
// (afresh for the first failure of that folder in this main case, appended after that).
void log_unsolved(MainCaseState& mc, const SmallCaseState& sc, const std::string& line) {
    const py::str log_name(mc.main_case_name + "_unsolved_lf.txt");
    const py::str pair_log = join_path({sc.directory_to_save_files, log_name});
    write_text_file(pair_log, py::str(line), WriteMode::Replace);
    sc.record["unsolved_log"] = absolute_path(pair_log);

    const std::string parent = text_of(sc.parent_path);
    const bool new_directory =
        std::find(mc.directory_list.begin(), mc.directory_list.end(), parent) == mc.directory_list.end();
    if (new_directory) mc.directory_list.push_back(parent);
    write_text_file(join_path({sc.parent_path, log_name}), py::str(line),
                    new_directory ? WriteMode::Replace : WriteMode::Append);
}

// The connections as the solving strategy brings them back: each distinct link of three or
// four entries once (the same buses in another order, or the same circuit with other blanks,
// is the same link), numbered from 1.
py::list connection_entries(py::handle ordered, long solved, const std::string& sav_file_name) {
    py::list entries;
    std::set<std::pair<std::vector<long long>, std::string>> seen;
    for (py::handle item : ordered) {
        if (!PySequence_Check(item.ptr()) || PyUnicode_Check(item.ptr())) continue;
        py::sequence link = py::reinterpret_borrow<py::sequence>(item);
        if (link.size() != 3 && link.size() != 4) continue;
        std::vector<long long> buses;
        for (std::size_t i = 0; i + 1 < link.size(); ++i) buses.push_back(py::int_(link[i]).cast<long long>());
        const std::string ckt = text_of(py::str(link[link.size() - 1]).attr("strip")());
        std::vector<long long> sorted = buses;
        std::sort(sorted.begin(), sorted.end());
        if (!seen.insert({sorted, ckt}).second) continue;
        const long index = static_cast<long>(py::len(entries)) + 1;
        py::dict entry;
        entry["index"] = index;
        entry["from_bus"] = buses[0];
        entry["to_bus"] = buses[1];
        if (buses.size() == 3) entry["third_bus"] = buses[2];
        entry["id"] = ckt;
        entry["solved"] = index <= solved;
        entry["saved_case"] =
            index <= solved ? py::object(absolute_path(py::str(sav_file_name + "_" + std::to_string(index) + ".sav")))
                            : py::object(py::none());
        entries.append(entry);
    }
    return entries;
}

// After a solve that brought every connection back: the buses of the small case that are not
// joined to the main case's swing bus. A plant left islanded has not been connected. The
// working case is the final solved case just saved, so its connections are read from the
// engine rather than from that file: reading a large case back would hold a second copy of it.
py::list islanded_buses(const RunState& run, const SmallCaseState& sc) {
    py::object topology = run.psseng.attr("get_network_topology")();
    return network::buses_cut_off(topology, small_case_bus_numbers(sc));
}

}  // namespace

// At most three attempts, stopping at the first that converges; the solved
// state is read after each place of an attempt, and the third reading decides.
bool base_case_solves(const py::object& psseng) {
    run_rsol(psseng, plans::kBaseCaseAttempts[0]);
    py::object ival_init = psseng.attr("check_solved")();
    for (std::size_t attempt = 1; attempt < plans::kBaseCaseAttempts.size(); ++attempt) {
        if (is_unsolved(ival_init)) run_rsol(psseng, plans::kBaseCaseAttempts[attempt]);
        ival_init = psseng.attr("check_solved")();
    }
    return !is_unsolved(ival_init);
}

void solve_small_case(RunState& run, MainCaseState& mc, const SmallCaseState& sc) {
    py::object psseng = run.psseng;
    const std::string& M = mc.main_case_name;
    // S is cut at ".sav" once more for these names, which leaves it as it is.
    const std::string S = cut_at_sav(sc.small_case_name);
    const py::str R = sc.directory_to_save_files;

    // Connections ordered from the connecting bus outwards.
    py::list scbus_numbers;
    scbus_numbers.append(sc.connecting_bus);
    for (py::handle bus : small_case_bus_numbers(sc)) scbus_numbers.append(bus);
    py::tuple found = network::find_buses(scbus_numbers, psseng);
    py::object all_connections = network::organize_connections_of(sc.connecting_bus, found[0], found[1]);
    py::object ordered = network::enforce_topological_order_of(all_connections, sc.connecting_bus);

    // The whole small case out of service.
    psseng.attr("disconnect_buses")(small_case_bus_numbers(sc));
    const py::str oos_case = join_path({R, py::str(M + "_oos_" + S + ".sav")});
    save_case_or_raise(run, oos_case);
    py::list saved_cases(sc.record["saved_cases"]);
    saved_cases.append(absolute_path(oos_case));

    // Base case, then the solved case with no connection back, whatever the outcome.
    const bool base_solved = base_case_solves(psseng);
    if (sc.jjj == 0) mc.record["base_case_solved"] = base_solved;
    const py::str sav_file_name = join_path({R, py::str(M + "_solved_" + S)});
    const py::str no_connection_case(text_of(sav_file_name) + "_0.sav");
    save_case_or_raise(run, no_connection_case);
    saved_cases.append(absolute_path(no_connection_case));
    py::list connections = connection_entries(ordered, 0, text_of(sav_file_name));
    sc.record["connections"] = connections;
    sc.record["connections_total"] = py::len(connections);

    // Nothing more for a small case whose base case does not solve.
    if (!base_solved) {
        log_unsolved(mc, sc,
                     "unsolved: " + sc.small_case_name + " -> last_solve_success:none, also check if the original " +
                         M + " was solved.\n");
        set_outcome(sc.record, kBaseCaseUnsolved, kExitUnsolved);
        return;
    }

    // Connection by connection.
    py::tuple outcome = network::solve_the_network(psseng, sav_file_name, ordered);
    py::object ival_lf = outcome[0];
    py::object sav_case_returned = outcome[1];
    const long solved_count = py::int_(outcome[2]).cast<long>();
    const bool network_solved = !is_unsolved(ival_lf);
    connections = connection_entries(ordered, network_solved ? static_cast<long>(py::len(connections)) : solved_count,
                                     text_of(sav_file_name));
    sc.record["connections"] = connections;
    sc.record["connections_solved"] = network_solved ? static_cast<long>(py::len(connections)) : solved_count;
    for (py::handle connection : connections)
        if (!connection["saved_case"].is_none()) saved_cases.append(connection["saved_case"]);
    if (network_solved) {
        const py::str final_case(text_of(sav_file_name) + "_final_solved.sav");
        saved_cases.append(absolute_path(final_case));
        sc.record["last_solved_case"] = absolute_path(final_case);
        py::list cut_off = islanded_buses(run, sc);
        if (sc.refused > 0) {
            // Refused elements come first: a bus the engine refused is not in the case at all.
            set_outcome(sc.record, refused_outcome(sc.refused), kExitUnsolved);
        } else if (py::len(cut_off) > 0) {
            py::print("islanded: " + std::to_string(py::len(cut_off)) + " bus(es) of " + sc.small_case_name +
                      " are not joined to the swing bus of " + M + ": " + text_of(cut_off));
            set_outcome(sc.record, kIslanded, kExitUnsolved);
            sc.record["islanded_buses"] = cut_off;
        } else {
            set_outcome(sc.record, kFullySolved, kExitSuccess);
        }
        if (py::len(cut_off) == 0) mc.solved_plants.push_back({S, sc.small_case, sc.connecting_bus, R, sc.record});
    } else {
        set_outcome(sc.record,
                    solved_count > 0 || py::len(connections) > 0 ? partial_outcome(solved_count) : kNotSolved,
                    kExitUnsolved);
        if (!sav_case_returned.is_none()) sc.record["last_solved_case"] = absolute_path(py::str(sav_case_returned));
    }
    record_connection_voltages(run, sc, sav_file_name,
                               network_solved ? static_cast<long>(py::len(connections)) : solved_count);
    if (!network_solved) {
        // The next small case starts from the last solved case.
        open_case_or_raise(run, py::str(sav_case_returned));
        log_unsolved(mc, sc,
                     "unsolved generating system: " + sc.small_case_name +
                         " -> last_solve_success:" + text_of(sav_case_returned) + "\n");
    }
    const long last_position = static_cast<long>(py::len(run.lists.small_case_dict)) - 1;
    if (network_solved && sc.jjj == last_position) {
        mc.last_case = true;
        save_case_or_raise(run, final_solved_case_path(sc.parent_path, M));
        psseng.attr("close_power_flow")();
        psseng.attr("del_tmp_files")();
    }
    psseng.attr("create_progress_output")(py::arg("islct") = 6);
}

void finish_main_case(RunState& run, MainCaseState& mc) {
    if (!mc.last_case) return;
    py::object last_row = run.lists.small_case_dict[mc.last_sc_accessed];
    const py::str final_case = final_solved_case_path(py::str(last_row["parent_path"]), mc.main_case_name);
    open_case_or_raise(run, final_case);
    for (py::handle small_case : mc.sc_gen_dict.attr("values")()) run.psseng.attr("modify_gen")(small_case);
    save_case_or_raise(run, final_case);
}

}  // namespace gridfold::driver
