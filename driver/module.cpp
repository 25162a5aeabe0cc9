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

    m.def("run_integration", &gridfold::driver::run_integration, py::arg("file_path"), py::arg("file_name"), py::kw_only(),
          py::arg("dispatch_check") = false, py::arg("run_details") = py::none(),
          "Merge every enabled small case into every enabled main case named by the workbook\n"
          "`file_name` in the folder `file_path`, solving each, and write the results. Returns None.\n"
          "dispatch_check=True also solves every fully solved plant at full output\n"
          "(<main>_dispatched_<small>.sav); a dict passed as run_details receives, under\n"
          "(main case, small case), the plant voltages after each connection and the dispatch figures.");
    m.def("_build_case_lists", &gridfold::driver::build_case_lists_for_python, py::arg("file_path"), py::arg("file_name"),
          "Run steps that read the workbook only: (engine settings, main_case_dict, small_case_dict).\n"
          "The settings dict holds 'psse_path', 'version' and 'nbus' when the workbook supplies them.");
}
