// PSSE_ENGINE: the one object through which gridfold reads and changes networks in the
// power-flow engine. It holds the engine's Python modules (psspy, caspy) and the engine
// version, and forwards keyword arguments to the engine's own calls unchanged.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "version_table.hpp"

namespace gridfold::adapter {

namespace py = pybind11;

class PsseEngine {
public:
    // Start-up (startup.cpp). `psse_path` is kept as its text, `version` as a real number;
    // the version package, caspy and psspy are imported from psse_path.
    PsseEngine(const py::object& psse_path, const py::object& version);
    py::object get_modules();
    py::object init_psse(const py::kwargs& kwargs);
    py::object create_progress_output(const py::kwargs& kwargs);
    py::object get_caspy() const { return caspy; }
    py::object get_psspy() const { return psspy; }

    // Solutions (solutions.cpp).
    void run_load_flow();
    void run_load_flow_rsol(const py::kwargs& kwargs);
    void run_load_flow_fnsl(const py::kwargs& kwargs);
    py::object check_solved();

    // Case files and case data (case_files.cpp).
    py::object open_case(const py::kwargs& kwargs);
    py::object save_case(const py::kwargs& kwargs);
    py::object close_power_flow();
    py::object del_tmp_files();
    py::object get_bus_data(const py::kwargs& kwargs);
    // Flows of the last solution: a line or two-winding transformer, a three-winding winding.
    py::object get_branch_data(const py::kwargs& kwargs);
    py::object get_winding_data(const py::kwargs& kwargs);
    py::object get_case_data(const py::object& case_path);
    // The working case's bus numbers (psspy.abusint), and its buses, lines and transformers
    // with their types and statuses (abusint, abrnint, atr3int) as a case data object with
    // the tables pssbus (NUM, IDE), pssbrn (FRMBUS, TOBUS, STAT) and castrn (BUSNUM, STAT):
    // what a read of the case saved now would give for them, without the file.
    py::list get_bus_numbers();
    py::object get_network_topology();

    // Element walks and bus or machine edits (element_walks.cpp).
    py::object ini_branch_2(const py::kwargs& kwargs);
    py::object get_next_branch_bus(const py::kwargs& kwargs);
    py::object get_next_tx3_bus(const py::kwargs& kwargs);
    py::object ini_mac(const py::kwargs& kwargs);
    py::object next_mac(const py::kwargs& kwargs);
    py::object change_bus_data(const py::kwargs& kwargs);
    void disconnect_buses(const py::object& bus_numbers);
    void reconnect_buses(const py::object& bus_numbers);
    py::object change_machine_data(const py::kwargs& kwargs);

    // The adders (add_buses, ...) are bound from their tables (adder_tables.cpp): each copies
    // one element kind of a small case into the working case, saves it and returns the
    // status dictionary.
    // Rewrites reactive output and limits of the small case's machines in the working case.
    void modify_gen(const py::object& small_case);

    // The four attributes, set by the constructor.
    std::string psse_path;
    double version = 0.0;
    py::object caspy;
    py::object psspy;

private:
    // psspy.<name>(**kwargs), the result unchanged.
    py::object forward(const char* name, const py::dict& kwargs);
    // The named psspy call chosen from `table` by this engine's version; raises when the
    // version is below every row.
    py::object bind_by_version(const char* method, const VersionTable& table);
};

}  // namespace gridfold::adapter
