// run_integration: reads the configuration, starts the engine, checks every enabled row, and
// walks every enabled main case and, inside it, every enabled small case: renumbering, adding
// and reporting (this file), then solving (solve_small_case.cpp). Temporary main-case copies
// are deleted however the run ends, and the run record is written at its end.
#include "run_integration.hpp"

#include "adders.hpp"
#include "common/paths.hpp"
#include "common/python_files.hpp"
#include "dispatch_check.hpp"
#include "network/operations.hpp"
#include "pre_run_checks.hpp"
#include "python_helpers.hpp"
#include "run_outputs.hpp"
#include "run_record.hpp"
#include "run_state.hpp"
#include "study/case_copy.hpp"

namespace gridfold::driver {

namespace {

// A setting no software row supplied: the run cannot go on past the step that needs it.
[[noreturn]] void raise_unassigned(const RunState& run, const char* name, const char* description) {
    std::string hint;
    if (run.lists.reader && py::hasattr(run.lists.reader, "sheet_dict") &&
        py::len(run.lists.reader.attr("sheet_dict")) == 0)
        hint =
            " (the workbook has no control sheet: a sheet with the labels SHEET NAME, SHEET TYPE and SHEET RUN "
            "ENABLED)";
    PyErr_SetString(PyExc_UnboundLocalError,
                    (std::string(name) + " was never assigned: no software (SOFT_INPUT) row of " + run.lists.workbook +
                     " has the attribute description '" + description + "'" + hint)
                        .c_str());
    throw py::error_already_set();
}

py::object setting(const RunState& run, const char* name, const char* description) {
    if (!run.lists.settings.contains(name)) raise_unassigned(run, name, description);
    return run.lists.settings[name];
}

// The one engine object of the run.
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
        throw py::value_error("nbus: the 'psse_init' value " + py::repr(nbus).cast<std::string>() + " of " +
                              run.lists.workbook + " is not a whole number of buses (" + text_of(err.value()) + ")");
    }
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

py::str main_case_file(py::handle row) {
    const std::string name = cut_at_sav(text_of(row["filename"]));
    return resolve_input_path(join_path({row["filepath"], py::str(name + ".sav")}));
}

py::str small_case_file(py::handle row) {
    const std::string name = cut_at_sav(text_of(row["filename"]));
    return resolve_input_path(join_path({row["filepath"], py::str(name + ".sav")}));
}

py::str results_folder(py::handle small_row, const std::string& main_case_name) {
    return join_path({py::str(small_row["parent_path"]), py::str(cut_at_sav(text_of(small_row["filename"]))),
                      py::str(main_case_name)});
}

// The engine started afresh and the main case file opened in it. A capacity the engine
// refuses, or one too small for the main case, is named with its workbook value.
void start_engine_on_main_case(const RunState& run, const MainCaseState& mc) {
    const py::int_ nbus = bus_capacity(run);
    const long long capacity = nbus.cast<long long>();
    if (capacity <= 0) {
        throw py::value_error("psse_init " + std::to_string(capacity) + " of " + run.lists.workbook +
                              " is not a number of buses: give at least the number of buses of the main case and its "
                              "small cases together");
    }
    run.psseng.attr("init_psse")(py::arg("buses") = nbus);
    try {
        open_case_or_raise(run, mc.main_case_path);
    } catch (std::runtime_error&) {
        const auto buses =
            static_cast<long long>(py::len(read_case_data(run, mc.main_case_path).attr("pssbus")[py::str("NUM")]));
        if (buses <= capacity) throw;
        throw py::value_error(
            "main case '" + text_of(mc.main_case_path) + "' has " + std::to_string(buses) +
            " buses, more than psse_init " + std::to_string(capacity) + " of " + run.lists.workbook +
            " allows: give psse_init at least the buses of the main case and its small cases together");
    }
}

// Elements at the connecting bus model the grid the plant's developer saw; they are never
// added to the main case.
py::list leave_out_connecting_bus_elements(SmallCaseState& sc) {
    py::list left_out = network::leave_out_connecting_bus_elements(sc.small_case, sc.connecting_bus);
    py::print("Left out " + std::to_string(py::len(left_out)) + " element(s) of " + sc.small_case_name +
              " at connecting bus " + text_of(sc.connecting_bus) + " (they model the grid at that bus)");
    return left_out;
}

// Engine versions before 34.4 have no call that adds a switched shunt.
void warn_switched_shunts_not_added(const RunState& run, const SmallCaseState& sc) {
    if (run.version >= 34.4 || !py::hasattr(sc.small_case, "psswsh")) return;
    py::object table = sc.small_case.attr("psswsh");
    if (!table.contains(py::str("NUM")) || py::len(table[py::str("NUM")]) == 0) return;
    py::print("warning: engine version " + text_of(py::float_(run.version)) + " cannot add switched shunts: the " +
              std::to_string(py::len(table[py::str("NUM")])) + " switched shunt(s) of " + sc.small_case_name +
              " are not added (version 34.4 or later adds them)");
}

// One small case of a main case: renumbered, added, reported, then solved.
void add_small_case(RunState& run, MainCaseState& mc, long jjj, py::handle key, py::handle row) {
    py::object psseng = run.psseng;
    SmallCaseState sc;
    sc.jjj = jjj;
    sc.row = py::reinterpret_borrow<py::object>(row);
    sc.record = py::dict(run.record_pairs[static_cast<std::size_t>(
        mc.position * static_cast<long>(py::len(run.lists.small_case_dict)) + jjj)]);
    const double started = monotonic_seconds();

    // The buses of the main case as it stands, including every small case added so far. From
    // the second small case on, the working case holds the same buses as the working copy
    // saved after the last additions (solutions and reopened solved cases add or remove
    // none), and the engine lists them without a read of the whole case.
    py::object mcbus = jjj == 0 ? read_case_data(run, mc.temp_mc_filepath).attr("pssbus")
                                : py::dict(py::arg("NUM") = psseng.attr("get_bus_numbers")());

    mc.last_sc_accessed = py::reinterpret_borrow<py::object>(key);
    sc.small_case_name = cut_at_sav(text_of(row["filename"]));
    run.position = "main case " + mc.main_case_name + ", small case " + sc.small_case_name + " (" +
                   run.lists.small_rows[static_cast<std::size_t>(jjj)] + ")";
    py::print("***********************************************************");
    py::print("Processing " + mc.main_case_name + " with " + sc.small_case_name);
    set_outcome(sc.record, kError, kExitError);  // until the pair gets an outcome of its own

    py::str small_case_path = small_case_file(row);
    sc.small_case = read_case_data(run, small_case_path);
    sc.connecting_bus = row["connecting_bus"];

    // The bus table without the connecting bus and the engine's internal buses, the elements
    // at the connecting bus left out, then the rest renumbered against the main case.
    py::object small_case = sc.small_case;
    small_case.attr("pssbus") =
        network::exclude_connecting_bus(small_case, small_case.attr("pssbus"), sc.connecting_bus);
    small_case.attr("pssbus") =
        network::remove_internal_psse_buses(small_case.attr("pssbus"), small_case.attr("pssbus"));
    py::list left_out = leave_out_connecting_bus_elements(sc);
    py::tuple renumbered = network::renumber_buses(small_case, small_case.attr("pssbus"), mcbus, sc.connecting_bus);
    // The main case's bus table (some 3 MiB on a 10,000-bus case) is let go before the
    // solutions, so that it is not held beside the cases they read.
    mcbus = py::none();
    if (py::len(renumbered) != 2) throw py::value_error("renumber_buses must return (case data, renumber map)");
    small_case = renumbered[0];
    py::object renumber_map = renumbered[1];
    sc.small_case = small_case;
    py::dict renumbered_buses;
    for (py::handle old_bus : renumber_map) renumbered_buses[py::str(old_bus)] = renumber_map[old_bus];
    sc.record["renumbered"] = renumbered_buses;

    // Results folder and renumber maps.
    sc.parent_path = py::str(row["parent_path"]);
    sc.directory_to_save_files = results_folder(row, mc.main_case_name);
    common::make_folders(text_of(sc.directory_to_save_files));
    write_renumber_maps(sc.directory_to_save_files, mc.main_case_name, renumber_map);

    // The first small case of a main case starts the engine afresh on the main case file.
    if (jjj == 0) start_engine_on_main_case(run, mc);

    psseng.attr("create_progress_output")(
        py::arg("islct") = 2, py::arg("filarg") = join_path({sc.directory_to_save_files, py::str("progress.txt")}));

    // Every adder, in table order.
    warn_switched_shunts_not_added(run, sc);
    py::tuple adder_args =
        py::make_tuple(small_case, py::str(mc.main_case_name), py::str(sc.small_case_name), sc.directory_to_save_files);
    py::dict report_sections;
    for (const Adder& adder : kAdders) report_sections[adder.section] = psseng.attr(adder.method)(*adder_args);
    sc.refused = record_elements(sc.record, report_sections, left_out);

    // The temporary copy follows the working case: the next small case is renumbered
    // against every bus added so far, solved or not.
    save_case_or_raise(run, mc.temp_mc_filepath);

    mc.sc_gen_dict[py::str(sc.small_case_name)] = small_case;

    // Added case and status report; the elements left out get a section of their own.
    const std::string& M = mc.main_case_name;
    const std::string& S = sc.small_case_name;
    const py::str added_case(
        study::saved_case_path(text_of(join_path({sc.directory_to_save_files, py::str(M + "_added_" + S)}))));
    save_case_or_raise(run, added_case);
    if (py::len(left_out) > 0) {
        py::object section = ordered_dict();
        for (py::handle element : left_out)
            section[element["key"]] = py::str("left out, models the grid at the connecting bus");
        report_sections["Left_Out_At_Connecting_Bus"] = section;
    }
    const py::str status_file = join_path({sc.directory_to_save_files, py::str(M + "_status_" + S + ".txt")});
    network::write_status_report(status_file, py::reinterpret_borrow<py::kwargs>(report_sections));
    sc.record["status_report"] = absolute_path(status_file);
    // The engine gives a name without extension its ".sav".
    const bool has_extension = !common::path_extension(text_of(added_case)).empty();
    py::list(sc.record["saved_cases"])
        .append(absolute_path(has_extension ? added_case : py::str(text_of(added_case) + ".sav")));

    solve_small_case(run, mc, sc);
    sc.record["seconds"] = monotonic_seconds() - started;
}

// The main case's working copy, made beside it. A copy left there by a run that was stopped
// is removed first, so that the folder does not fill with copies.
py::str make_working_copy(const RunState& run, const MainCaseState& mc) {
    if (run.options.remove_earlier_outputs) {
        for (const py::str& leftover : leftover_working_copies(run, mc.main_case_path)) {
            common::remove_file(text_of(leftover));
            py::print("removed " + text_of(absolute_path(leftover)) +
                      ", a working copy left by an earlier run that was stopped");
        }
    }
    try {
        // Through the module's attribute, unlike the other operations: a caller can stand in for
        // the file system here (a folder that refuses the copy cannot be made as root).
        return py::str(sibling_attr("gridfold_misc", "copy_and_rename")(mc.main_case_path));
    } catch (py::error_already_set& err) {
        if (!err.matches(PyExc_PermissionError)) throw;
        const std::string message =
            "cannot write the working copy of main case '" + text_of(mc.main_case_path) +
            "' beside it: its folder is not writable (the main case itself is only read): " + text_of(err.value());
        py::raise_from(err, PyExc_PermissionError, message.c_str());
        throw py::error_already_set();
    }
}

// One main case: its working copy, every small case, then the final pass.
void run_main_case(RunState& run, TempFiles& temp_files, long position, py::handle row) {
    MainCaseState mc;
    mc.position = position;
    mc.record = py::dict(run.record_main_cases[static_cast<std::size_t>(position)]);
    const double started = monotonic_seconds();
    mc.main_case_name = cut_at_sav(text_of(row["filename"]));
    mc.main_case_path = main_case_file(row);
    run.position =
        "main case " + mc.main_case_name + " (" + run.lists.main_rows[static_cast<std::size_t>(position)] + ")";

    remove_stale_main_case_outputs(run, mc.main_case_name);
    mc.temp_mc_filepath = make_working_copy(run, mc);
    temp_files.add(mc.temp_mc_filepath);
    mc.sc_gen_dict = ordered_dict();

    // With the additions of a study run, the engine's lines while the next main case opens
    // belong to no pair: each pair's progress file holds its own output only.
    if (run.options.dispatch_check || run.options.connection_voltages)
        run.psseng.attr("create_progress_output")(py::arg("islct") = 6);

    py::object small_case_dict = run.lists.small_case_dict;
    long jjj = 0;
    try {
        for (py::handle key : small_case_dict) {
            py::object small_row = small_case_dict[key];
            remove_stale_pair_outputs(run, results_folder(small_row, mc.main_case_name), mc.main_case_name,
                                      cut_at_sav(text_of(small_row["filename"])));
            add_small_case(run, mc, jjj++, key, small_row);
        }
        finish_main_case(run, mc);
        run_dispatch_checks(run, mc);
    } catch (py::error_already_set& err) {
        mc.record["error"] =
            first_line(py::type::of(err.value()).attr("__name__").cast<std::string>() + ": " + text_of(err.value()));
        mc.record["seconds"] = monotonic_seconds() - started;
        throw;
    } catch (std::exception& err) {
        mc.record["error"] = err.what();
        mc.record["seconds"] = monotonic_seconds() - started;
        throw;
    }
    if (mc.last_case)
        mc.record["solved_case"] = absolute_path(
            final_solved_case_path(py::str(small_case_dict[mc.last_sc_accessed]["parent_path"]), mc.main_case_name));
    mc.record["seconds"] = monotonic_seconds() - started;
}

// The entries of `dict` at the positions `wanted` (None: all), renumbered from "0"; the
// matching row names are kept.
void keep_positions(py::object& dict, std::vector<std::string>& rows, py::handle wanted, const char* what) {
    if (wanted.is_none()) return;
    py::list keys(dict.attr("keys")());
    py::object kept = ordered_dict();
    std::vector<std::string> kept_rows;
    for (py::handle position_value : wanted) {
        const long position = py::int_(py::reinterpret_borrow<py::object>(position_value)).cast<long>();
        if (position < 0 || position >= static_cast<long>(py::len(keys))) {
            throw py::index_error(std::string(what) + " position " + std::to_string(position) + " is not among the " +
                                  std::to_string(py::len(keys)) + " enabled rows");
        }
        kept[py::str(std::to_string(py::len(kept)))] = dict[keys[py::int_(position)]];
        kept_rows.push_back(rows[static_cast<std::size_t>(position)]);
    }
    dict = kept;
    rows = kept_rows;
}

// The caller's rewrite of the rows to run. The entries stay as they are, one for one, so
// that each keeps its workbook row in the record.
void rewrite_rows(RunState& run) {
    if (run.options.select_cases.is_none()) return;
    py::object chosen = run.options.select_cases(run.lists.main_case_dict, run.lists.small_case_dict);
    if (!py::isinstance<py::tuple>(chosen) || py::len(chosen) != 2)
        throw py::type_error("select_cases must return (main_case_dict, small_case_dict)");
    py::object mains = chosen.cast<py::tuple>()[0];
    py::object smalls = chosen.cast<py::tuple>()[1];
    if (py::len(mains) != py::len(run.lists.main_case_dict) || py::len(smalls) != py::len(run.lists.small_case_dict))
        throw py::value_error("select_cases must keep every main case and small case it is given");
    run.lists.main_case_dict = mains;
    run.lists.small_case_dict = smalls;
}

std::string engine_text(const RunState& run) {
    py::object path =
        run.lists.settings.contains("psse_path") ? py::object(run.lists.settings["psse_path"]) : py::none();
    if (path.is_none()) return "";
    py::object embedded = py::module_::import("gridfold").attr("EMBEDDED_ENGINE_PATH");
    py::str resolved = absolute_path(resolve_input_path(py::str(path)));
    if (common::canonical_path(text_of(resolved)) == common::canonical_path(common::path_text(embedded)))
        return "embedded";
    return text_of(resolved);
}

void start_record(RunState& run) {
    run.record["format"] = 1;
    run.record["gridfold_version"] = py::module_::import("gridfold").attr("__version__");
    run.record["workbook"] = absolute_path(py::str(run.lists.workbook));
    run.record["engine"] = engine_text(run);
    run.record["started"] = local_time_text();
    run.record["finished"] = py::none();
    run.record["seconds"] = 0.0;
    long m = 0;
    for (py::handle main_key : run.lists.main_case_dict) {
        py::object main_row = run.lists.main_case_dict[main_key];
        const std::string main_name = cut_at_sav(text_of(main_row["filename"]));
        run.record_main_cases.append(new_main_case_entry(main_name, absolute_path(main_case_file(main_row)),
                                                         run.lists.main_rows[static_cast<std::size_t>(m++)]));
        long s = 0;
        for (py::handle key : run.lists.small_case_dict) {
            py::object row = run.lists.small_case_dict[key];
            run.record_pairs.append(
                new_pair_entry(main_name, cut_at_sav(text_of(row["filename"])), absolute_path(small_case_file(row)),
                               run.lists.small_rows[static_cast<std::size_t>(s++)], row["connecting_bus"],
                               absolute_path(results_folder(row, main_name))));
        }
    }
    run.record["main_cases"] = run.record_main_cases;
    run.record["pairs"] = run.record_pairs;
}

// Where the record goes: the caller's path, else the results folder of the first small case.
py::object record_path(const RunState& run) {
    if (!run.options.record_path.is_none()) return absolute_path(py::str(run.options.record_path));
    // A run with no pair writes nothing, unless its caller asked for a record.
    if (py::len(run.lists.small_case_dict) == 0 || py::len(run.lists.main_case_dict) == 0) return py::none();
    py::object first = run.lists.small_case_dict[py::list(run.lists.small_case_dict.attr("keys")())[0]];
    return absolute_path(join_path({py::str(first["parent_path"]), py::str("run_record.json")}));
}

void finish_record(RunState& run, double started) {
    run.record["finished"] = local_time_text();
    run.record["seconds"] = monotonic_seconds() - started;
}

}  // namespace

void run_integration(py::object file_path, py::object file_name, RunOptions options) {
    RunState run;
    run.options = std::move(options);
    run.lists = build_case_lists(std::move(file_path), std::move(file_name));
    keep_positions(run.lists.main_case_dict, run.lists.main_rows, run.options.main_cases, "main case");
    keep_positions(run.lists.small_case_dict, run.lists.small_rows, run.options.small_cases, "small case");
    rewrite_rows(run);
    run.psseng = construct_engine(run);
    run.version = py::float_(run.psseng.attr("version")).cast<double>();
    const double started = monotonic_seconds();

    // The main case files are only ever read: remember them so no save lands on one.
    for (py::handle key : run.lists.main_case_dict) {
        run.main_case_files.insert(normalised_path(main_case_file(run.lists.main_case_dict[key])));
    }
    // Every enabled row is checked before anything is written.
    check_before_run(run);
    start_record(run);
    const py::object record_file = record_path(run);

    TempFiles temp_files;
    try {
        long position = 0;
        for (py::handle key : run.lists.main_case_dict)
            run_main_case(run, temp_files, position++, run.lists.main_case_dict[key]);
    } catch (py::error_already_set& err) {
        temp_files.delete_all_quietly();  // the error goes on to the caller
        finish_record(run, started);
        if (!record_file.is_none()) {
            try {
                write_run_record(run.record, py::str(record_file));
            } catch (py::error_already_set&) {
                // the error that stopped the run is the one to report
            }
        }
        if (err.matches(PyExc_KeyboardInterrupt)) {
            PyErr_SetString(PyExc_KeyboardInterrupt, ("interrupted at " + run.position).c_str());
            throw py::error_already_set();
        }
        throw;
    } catch (...) {
        temp_files.delete_all_quietly();
        throw;
    }
    temp_files.delete_all();
    finish_record(run, started);
    if (!record_file.is_none()) write_run_record(run.record, py::str(record_file));
}

py::tuple build_case_lists_for_python(py::object file_path, py::object file_name) {
    return case_lists_as_tuple(build_case_lists(std::move(file_path), std::move(file_name)));
}

}  // namespace gridfold::driver
