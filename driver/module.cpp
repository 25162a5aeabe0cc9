// Extension module gridfold_main: the integration run, run_integration.
#include <pybind11/pybind11.h>

#include "common/console.hpp"
#include "python_helpers.hpp"
#include "run_integration.hpp"

namespace py = pybind11;

PYBIND11_MODULE(gridfold_main, m) {
    m.doc() = "Integration driver: run_integration(file_path, file_name) runs a whole study from its workbook.";

    // The sibling modules are found relative to the package that holds all four.
    const std::string qualified = m.attr("__name__").cast<std::string>();
    const std::size_t dot = qualified.rfind('.');
    gridfold::driver::set_package_name(dot == std::string::npos ? std::string() : qualified.substr(0, dot));

    gridfold::common::clear_console();
    for (const char* name : {"gridfold_rc", "gridfold_ps", "gridfold_misc"}) gridfold::driver::sibling(name);

    m.def(
        "run_integration",
        [](py::object file_path, py::object file_name, py::object main_cases, py::object small_cases,
           py::object record_path, bool remove_earlier_outputs, py::object select_cases, bool dispatch_check,
           bool connection_voltages) {
            gridfold::driver::RunOptions options;
            options.main_cases = std::move(main_cases);
            options.small_cases = std::move(small_cases);
            options.record_path = std::move(record_path);
            options.remove_earlier_outputs = remove_earlier_outputs;
            options.select_cases = std::move(select_cases);
            options.dispatch_check = dispatch_check;
            options.connection_voltages = connection_voltages;
            gridfold::driver::run_integration(std::move(file_path), std::move(file_name), std::move(options));
        },
        py::arg("file_path"), py::arg("file_name"), py::kw_only(), py::arg("main_cases") = py::none(),
        py::arg("small_cases") = py::none(), py::arg("record_path") = py::none(),
        py::arg("remove_earlier_outputs") = true, py::arg("select_cases") = py::none(),
        py::arg("dispatch_check") = false, py::arg("connection_voltages") = false,
        "Merge every enabled small case into every enabled main case named by the workbook\n"
        "`file_name` in the folder `file_path`, solving each, and write the results and the run\n"
        "record. Returns None. The keywords narrow the run (see gridfold_main.pyi).");

    // What a caller of the driver module can import from it, as the driver itself uses them.
    m.attr("PSSE_ENGINE") = gridfold::driver::sibling_attr("gridfold_ps", "PSSE_ENGINE");
    m.attr("ReadConfigFile") = gridfold::driver::sibling_attr("gridfold_rc", "ReadConfigFile");
    for (const char* name :
         {"exclude_connecting_bus", "remove_internal_psse_buses", "renumber_buses", "write_status_report", "find_buses",
          "organize_connections", "enforce_topological_order", "solve_the_network", "copy_and_rename"})
        m.attr(name) = gridfold::driver::sibling_attr("gridfold_misc", name);
    m.def("_build_case_lists", &gridfold::driver::build_case_lists_for_python, py::arg("file_path"),
          py::arg("file_name"),
          "The workbook read only, nothing run: (engine settings, main_case_dict, small_case_dict).\n"
          "The settings dict holds 'psse_path', 'version' and 'nbus' when the workbook supplies them.");
}
