// run_integration: reads the configuration, starts the engine and walks every enabled main
// case and, inside it, every enabled small case: renumbering, adding and reporting (this
// file), then solving (solve_small_case.cpp). Temporary main-case copies are deleted
// however the run ends.
#include "run_integration.hpp"

#include "dispatch_check.hpp"
#include "python_helpers.hpp"
#include "run_outputs.hpp"
#include "run_state.hpp"

namespace gridfold::driver {

namespace {

// A setting no software row supplied: the run cannot go on past the step that needs it.
[[noreturn]] void raise_unassigned(const RunState& run, const char* name, const char* description) {
    PyErr_SetString(PyExc_UnboundLocalError,
                    (std::string(name) + " was never assigned: no software (SOFT_INPUT) row of " + run.lists.workbook +
                     " has the attribute description '" + description + "'")
                        .c_str());
    throw py::error_already_set();
}

py::object setting(const RunState& run, const char* name, const char* description) {
    if (!run.lists.settings.contains(name)) raise_unassigned(run, name, description);
    return run.lists.settings[name];
}

// Run step 6.
py::object construct_engine(const RunState& run) {
    py::object psse_path = setting(run, "psse_path", "psse_path");
    py::object version = setting(run, "version", "psse_version");
    if (py::isinstance<py::str>(psse_path)) psse_path = resolve_input_path(psse_path);
    return sibling_attr("gridfold_ps", "PSSE_ENGINE")(py::arg("psse_path") = psse_path, py::arg("version") = version);
}

// The bus capacity for init_psse: "psse_init" converted to an integer.
py::int_ bus_capacity(const RunState& run) {
    py::object nbus = setting(run, "nbus", "psse_init");
    try {
        return py::int_(py::module_::import("builtins").attr("int")(nbus));
    } catch (py::error_already_set& err) {
        if (!err.matches(PyExc_ValueError) && !err.matches(PyExc_TypeError) && !err.matches(PyExc_OverflowError)) throw;
        throw py::value_error("nbus: the 'psse_init' value " + py::repr(nbus).cast<std::string>() + " of " + run.lists.workbook +
                              " is not a whole number of buses (" + text_of(err.value()) + ")");
    }
}

// Run steps 10 to 23 for one small case, then its solving (steps 24 to 28).
void add_small_case(RunState& run, MainCaseState& mc, long jjj, py::handle key, py::handle row) {
    py::object psseng = run.psseng;
    SmallCaseState sc;
    sc.jjj = jjj;
    sc.row = py::reinterpret_borrow<py::object>(row);

    // 10. The buses of the main case as it stands, including every small case added so far.
    py::object mcbus = psseng.attr("get_case_data")(mc.temp_mc_filepath).attr("pssbus");

    // 11, 12.
    mc.last_sc_accessed = py::reinterpret_borrow<py::object>(key);
    sc.small_case_name = cut_at_sav(text_of(row["filename"]));
    py::print("***********************************************************");
    py::print("Processing " + mc.main_case_name + " with " + sc.small_case_name);

    // 13.
    py::str small_case_path = resolve_input_path(join_path({row["filepath"], py::str(sc.small_case_name + ".sav")}));
    py::object small_case = psseng.attr("get_case_data")(small_case_path);
    sc.connecting_bus = row["connecting_bus"];

    // 14 to 16: the bus table without the connecting bus and the engine's internal buses,
    // then renumbered against the main case.
    py::object exclude_connecting_bus = sibling_attr("gridfold_misc", "exclude_connecting_bus");
    py::object remove_internal_psse_buses = sibling_attr("gridfold_misc", "remove_internal_psse_buses");
    py::object renumber_buses = sibling_attr("gridfold_misc", "renumber_buses");
    small_case.attr("pssbus") = exclude_connecting_bus(small_case, small_case.attr("pssbus"), sc.connecting_bus);
    small_case.attr("pssbus") = remove_internal_psse_buses(small_case.attr("pssbus"), small_case.attr("pssbus"));
    py::tuple renumbered = renumber_buses(small_case, small_case.attr("pssbus"), mcbus, sc.connecting_bus);
    if (py::len(renumbered) != 2) throw py::value_error("renumber_buses must return (case data, renumber map)");
    small_case = renumbered[0];
    py::object renumber_map = renumbered[1];
    sc.small_case = small_case;

    // 17. Results folder and renumber maps.
    sc.parent_path = py::str(row["parent_path"]);
    sc.directory_to_save_files = join_path({sc.parent_path, py::str(sc.small_case_name), py::str(mc.main_case_name)});
    py::module_::import("os").attr("makedirs")(sc.directory_to_save_files, py::arg("exist_ok") = true);
    write_renumber_maps(sc.directory_to_save_files, mc.main_case_name, renumber_map);

    // 18. The first small case of a main case starts the engine afresh on the main case file.
    if (jjj == 0) {
        psseng.attr("init_psse")(py::arg("buses") = bus_capacity(run));
        open_case_or_raise(run, mc.main_case_path);
    }

    // 19.
    psseng.attr("create_progress_output")(py::arg("islct") = 2,
                                          py::arg("filarg") = join_path({sc.directory_to_save_files, py::str("progress.txt")}));

    // 20. The eight adders, in this order.
    py::tuple adder_args = py::make_tuple(small_case, py::str(mc.main_case_name), py::str(sc.small_case_name),
                                          sc.directory_to_save_files);
    const char* adders[] = {"add_buses", "add_line_branch", "add_trn_branch", "add_gen",
                            "add_fixed_shunt", "add_switched_shunt", "add_load", "add_induction_machine"};
    const char* sections[] = {"Bus_Status", "Line_Branch_Status", "Transformer_Branch_Status", "Generator_Status",
                              "Fixed_Shunt_Status", "Switched_Shunt_Status", "Load_Status", "Induction_Machine_Status"};
    py::dict report_sections;
    for (std::size_t i = 0; i < 8; ++i) report_sections[sections[i]] = psseng.attr(adders[i])(*adder_args);

    // 21. The temporary copy follows the working case: the next small case is renumbered
    // against every bus added so far, solved or not.
    save_case_or_raise(run, mc.temp_mc_filepath);

    // 22.
    mc.sc_gen_dict[py::str(sc.small_case_name)] = small_case;

    // 23. Added case and status report.
    const std::string& M = mc.main_case_name;
    const std::string& S = sc.small_case_name;
    save_case_or_raise(run, join_path({sc.directory_to_save_files, py::str(M + "_added_" + S)}));
    sibling_attr("gridfold_misc", "write_status_report")(
        join_path({sc.directory_to_save_files, py::str(M + "_status_" + S + ".txt")}), **report_sections);

    solve_small_case(run, mc, sc);
}

// Run steps 8 to 30 for one main case.
void run_main_case(RunState& run, TempFiles& temp_files, py::handle row) {
    MainCaseState mc;
    // 8.
    mc.main_case_name = cut_at_sav(text_of(row["filename"]));
    mc.main_case_path = resolve_input_path(join_path({row["filepath"], py::str(mc.main_case_name + ".sav")}));
    mc.temp_mc_filepath = py::str(sibling_attr("gridfold_misc", "copy_and_rename")(mc.main_case_path));
    temp_files.add(mc.temp_mc_filepath);
    // 9.
    mc.sc_gen_dict = ordered_dict();

    // The engine's lines while the next main case opens belong to no pair's progress file.
    if (run.record_details) run.psseng.attr("create_progress_output")(py::arg("islct") = 6);

    py::object small_case_dict = run.lists.small_case_dict;
    long jjj = 0;
    for (py::handle key : small_case_dict) add_small_case(run, mc, jjj++, key, small_case_dict[key]);

    // 29.
    finish_main_case(run, mc);
    run_dispatch_checks(run, mc);
}

}  // namespace

void run_integration(py::object file_path, py::object file_name, bool dispatch_check, py::object run_details) {
    RunState run;
    run.dispatch_check = dispatch_check;
    if (!run_details.is_none()) {
        run.pair_details = run_details.cast<py::dict>();
        run.record_details = true;
    }
    run.lists = build_case_lists(std::move(file_path), std::move(file_name));  // 1 to 5
    run.psseng = construct_engine(run);                                        // 6

    // The main case files are only ever read: remember them so no save lands on one.
    for (py::handle key : run.lists.main_case_dict) {
        py::object row = run.lists.main_case_dict[key];
        const std::string name = cut_at_sav(text_of(row["filename"]));
        run.main_case_files.insert(normalised_path(resolve_input_path(join_path({row["filepath"], py::str(name + ".sav")}))));
    }

    TempFiles temp_files;  // 7
    try {
        for (py::handle key : run.lists.main_case_dict) run_main_case(run, temp_files, run.lists.main_case_dict[key]);
    } catch (...) {
        temp_files.delete_all_quietly();  // 31, the error goes on to the caller
        throw;
    }
    temp_files.delete_all();  // 31
}

py::tuple build_case_lists_for_python(py::object file_path, py::object file_name) {
    return case_lists_as_tuple(build_case_lists(std::move(file_path), std::move(file_name)));
}

}  // namespace gridfold::driver
