// Solving one small case (run steps 24 to 28) and the final pass over a main case (29):
// the small case is taken out of service, the base case solved with up to three attempts,
// and the small case brought back connection by connection from the connecting bus.
#include <algorithm>

#include "dispatch_check.hpp"
#include "python_helpers.hpp"
#include "run_outputs.hpp"
#include "run_state.hpp"

namespace gridfold::driver {

namespace {

// The base-case solution attempts: options1, options2, options7, options9, options10.
struct RsolAttempt {
    int options1, options2, options7, options9, options10;
};
constexpr RsolAttempt kBaseAttempts[3] = {{1, 2, 0, 1, 1}, {1, 2, 1, 1, 0}, {1, 2, 4, 1, 1}};

void run_rsol(const py::object& psseng, const RsolAttempt& a) {
    psseng.attr("run_load_flow_rsol")(py::arg("options1") = a.options1, py::arg("options2") = a.options2,
                                      py::arg("options7") = a.options7, py::arg("options9") = a.options9,
                                      py::arg("options10") = a.options10);
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
    write_text_file(join_path({sc.directory_to_save_files, log_name}), py::str(line), WriteMode::Replace);

    const std::string parent = text_of(sc.parent_path);
    const bool new_directory = std::find(mc.directory_list.begin(), mc.directory_list.end(), parent) == mc.directory_list.end();
    if (new_directory) mc.directory_list.push_back(parent);
    write_text_file(join_path({sc.parent_path, log_name}), py::str(line), new_directory ? WriteMode::Replace : WriteMode::Append);
}

// The number of connections solved, as solve_the_network reports it; 0 when it does not.
long solved_count(const py::tuple& outcome) {
    if (py::len(outcome) < 3 || !py::isinstance<py::int_>(outcome[2])) return 0;
    return outcome[2].cast<long>();
}

}  // namespace

// Run step 26: at most three attempts, stopping at the first that converges; the solved
// state is read after each place of an attempt, and the third reading decides.
bool base_case_solves(const py::object& psseng) {
    run_rsol(psseng, kBaseAttempts[0]);
    py::object ival_init = psseng.attr("check_solved")();
    for (int attempt = 1; attempt < 3; ++attempt) {
        if (is_unsolved(ival_init)) run_rsol(psseng, kBaseAttempts[attempt]);
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

    // 24. Connections ordered from the connecting bus outwards.
    py::list scbus_numbers;
    scbus_numbers.append(sc.connecting_bus);
    for (py::handle bus : small_case_bus_numbers(sc)) scbus_numbers.append(bus);
    py::tuple found = sibling_attr("gridfold_misc", "find_buses")(scbus_numbers, psseng);
    py::object all_connections = sibling_attr("gridfold_misc", "organize_connections")(sc.connecting_bus, found[0], found[1]);
    py::object ordered = sibling_attr("gridfold_misc", "enforce_topological_order")(all_connections, sc.connecting_bus);

    // 25. The whole small case out of service.
    psseng.attr("disconnect_buses")(small_case_bus_numbers(sc));
    save_case_or_raise(run, join_path({R, py::str(M + "_oos_" + S + ".sav")}));

    // 26. Base case, then the step-0 solved case whatever the outcome.
    const bool base_solved = base_case_solves(psseng);
    const py::str sav_file_name = join_path({R, py::str(M + "_solved_" + S)});
    save_case_or_raise(run, py::str(text_of(sav_file_name) + "_0.sav"));

    // 27. Nothing more for a small case whose base case does not solve.
    if (!base_solved) {
        log_unsolved(mc, sc,
                     "unsolved: " + sc.small_case_name + " -> last_solve_success:none, also check if the original " + M +
                         " was solved.\n");
        return;
    }

    // 28. Connection by connection.
    py::tuple outcome = sibling_attr("gridfold_misc", "solve_the_network")(psseng, sav_file_name, ordered);
    py::object ival_lf = outcome[0];
    py::object sav_case_returned = outcome[1];
    const bool network_solved = !is_unsolved(ival_lf);
    if (!network_solved) {
        // The next small case starts from the last solved case.
        open_case_or_raise(run, py::str(sav_case_returned));
        log_unsolved(mc, sc, "unsolved generating system: " + sc.small_case_name + " -> last_solve_success:" +
                                 text_of(sav_case_returned) + "\n");
    }
    record_connections(run, mc, sc, sav_file_name, ordered, solved_count(outcome));
    if (network_solved) mc.solved_plants.push_back({S, sc.small_case, sc.connecting_bus, R});
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
