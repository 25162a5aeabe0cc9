// Extension module gridfold_ps: the Python face of PSSE_ENGINE. Loading it clears the
// console once, whether or not an engine is ever constructed.
#include <pybind11/pybind11.h>

#include "adder_table.hpp"
#include "common/console.hpp"
#include "psse_engine.hpp"

namespace py = pybind11;
using gridfold::adapter::PsseEngine;

PYBIND11_MODULE(gridfold_ps, m) {
    m.doc() = "Power-flow engine adapter: PSSE_ENGINE, gridfold's only door to the engine API.";
    gridfold::common::clear_console();

    m.attr("NO_ENGINE_CALL_FOR_VERSION") = gridfold::adapter::kNoEngineCallForVersion;

    py::class_<PsseEngine> cls(m, "PSSE_ENGINE",
                               "The power-flow engine: psspy and caspy imported from psse_path, chosen by version.");
    cls.def(py::init<const py::object&, const py::object&>(), py::arg("psse_path"), py::arg("version"))
        .def_readwrite("psse_path", &PsseEngine::psse_path, "Folder holding the engine's Python packages (text).")
        .def_readwrite("version", &PsseEngine::version, "Engine version (a real number).")
        .def_readwrite("caspy", &PsseEngine::caspy, "The caspy module (case data of saved case files).")
        .def_readwrite("psspy", &PsseEngine::psspy, "The psspy module (engine calls).")
        // start-up
        .def("get_modules", &PsseEngine::get_modules,
             "Appends psse_path to sys.path, imports the version package, caspy and psspy; returns "
             "(caspy, psspy), or None below version 34.0.")
        .def("init_psse", &PsseEngine::init_psse, "psspy.psseinit(**kwargs); returns its code.")
        .def("create_progress_output", &PsseEngine::create_progress_output,
             "psspy.progress_output(**kwargs); 0 on success (page length set to ten million lines), None on a "
             "nonzero code.")
        .def("get_caspy", &PsseEngine::get_caspy)
        .def("get_psspy", &PsseEngine::get_psspy)
        // solutions
        .def("run_load_flow", &PsseEngine::run_load_flow,
             "Ten rsol and fnsl calls in a fixed order, whatever they return.")
        .def("run_load_flow_rsol", &PsseEngine::run_load_flow_rsol, "psspy.rsol(**kwargs); returns None.")
        .def("run_load_flow_fnsl", &PsseEngine::run_load_flow_fnsl, "psspy.fnsl(**kwargs); returns None.")
        .def("check_solved", &PsseEngine::check_solved, "psspy.solved(): 0 when the working case is solved.")
        // case files
        .def("open_case", &PsseEngine::open_case, "psspy.case(**kwargs); returns its code.")
        .def("save_case", &PsseEngine::save_case, "psspy.save(**kwargs); returns its code.")
        .def("close_power_flow", &PsseEngine::close_power_flow, "psspy.close_powerflow().")
        .def("del_tmp_files", &PsseEngine::del_tmp_files, "psspy.deltmpfiles().")
        .def("get_bus_data", &PsseEngine::get_bus_data, "psspy.busdat(**kwargs): (code, value).")
        .def("get_branch_data", &PsseEngine::get_branch_data, "psspy.brnmsc(**kwargs): (code, value).")
        .def("get_winding_data", &PsseEngine::get_winding_data, "psspy.wnddat(**kwargs): (code, value).")
        .def("get_case_data", &PsseEngine::get_case_data, py::arg("case"),
             "caspy.Savecase(case): the case data object of a saved case file.")
        .def("get_bus_numbers", &PsseEngine::get_bus_numbers,
             "psspy.abusint: the number of every bus of the working case, in ascending order.")
        .def("get_network_topology", &PsseEngine::get_network_topology,
             "psspy.abusint, abrnint and atr3int: the working case's buses (pssbus NUM, IDE), lines (pssbrn\n"
             "FRMBUS, TOBUS, STAT) and transformers (castrn BUSNUM, STAT) as a case data object.")
        // element walks and edits
        .def("ini_branch_2", &PsseEngine::ini_branch_2, "psspy.inibrn_2(**kwargs).")
        .def("get_next_branch_bus", &PsseEngine::get_next_branch_bus, "psspy.nxtbrn_2(**kwargs).")
        .def("get_next_tx3_bus", &PsseEngine::get_next_tx3_bus, "psspy.nxtbrn3_2(**kwargs).")
        .def("ini_mac", &PsseEngine::ini_mac, "psspy.inimac(**kwargs).")
        .def("next_mac", &PsseEngine::next_mac, "psspy.nxtmac(**kwargs): (code, machine id).")
        .def("change_bus_data", &PsseEngine::change_bus_data, "psspy.bus_chng_4(**kwargs).")
        .def("disconnect_buses", &PsseEngine::disconnect_buses, py::arg("bus_numbers"),
             "psspy.dscn for each bus of a list, or once with any other value.")
        .def("reconnect_buses", &PsseEngine::reconnect_buses, py::arg("bus_numbers"),
             "psspy.recn for each bus of a list, or once with any other value.")
        .def("change_machine_data", &PsseEngine::change_machine_data,
             "machine_chng_5 / _4 / _3 / _2 by version (36.0, 35.5, 35.0, 33.0) with **kwargs.")
        .def("modify_gen", &PsseEngine::modify_gen, py::arg("small_case"),
             "Rewrites reactive output and limits of the small case's machines in the working case.");

    // The adders, one per table, each taking its four arguments by position or by name.
    for (const gridfold::adapter::ElementTable* table : gridfold::adapter::adder_tables()) {
        cls.def(
            table->method.c_str(),
            [table](PsseEngine& engine, const py::object& small_case, const py::object& main_case_name,
                    const py::object& small_case_name, const py::object& directory_to_save_files) {
                return gridfold::adapter::add_elements(engine, *table, small_case, main_case_name, small_case_name,
                                                       directory_to_save_files);
            },
            py::arg("small_case"), py::arg("main_case_name"), py::arg("small_case_name"),
            py::arg("directory_to_save_files"),
            ("Adds the small case's " + table->elements + "; returns the status.").c_str());
    }
}
