// Case files: opening and saving the working case, closing it, reading one bus quantity,
// and reading a saved case file as a case data object.
#include "common/paths.hpp"
#include "psse_engine.hpp"

namespace gridfold::adapter {

namespace {

// Case paths from the workbook arrive lower-cased: a path that does not exist as written
// is resolved ignoring case. Anything that is not text is left to the engine to judge.
py::object resolved_case_path(const py::object& path) {
    if (!py::isinstance<py::str>(path)) return path;
    return py::str(common::resolve_path_ignoring_case(path.cast<std::string>()));
}

}  // namespace

py::object PsseEngine::open_case(const py::kwargs& kwargs) {
    if (!kwargs.contains("sfile")) return forward("case", kwargs);
    py::dict forwarded = kwargs.attr("copy")();  // the caller's keywords stay as given
    forwarded["sfile"] = resolved_case_path(kwargs["sfile"]);
    return forward("case", forwarded);
}

py::object PsseEngine::save_case(const py::kwargs& kwargs) { return forward("save", kwargs); }

py::object PsseEngine::close_power_flow() { return psspy.attr("close_powerflow")(); }

py::object PsseEngine::del_tmp_files() { return psspy.attr("deltmpfiles")(); }

py::object PsseEngine::get_bus_data(const py::kwargs& kwargs) { return forward("busdat", kwargs); }

py::object PsseEngine::get_branch_data(const py::kwargs& kwargs) { return forward("brnmsc", kwargs); }

py::object PsseEngine::get_winding_data(const py::kwargs& kwargs) { return forward("wnddat", kwargs); }

py::object PsseEngine::get_case_data(const py::object& case_path) {
    return caspy.attr("Savecase")(resolved_case_path(case_path));
}

}  // namespace gridfold::adapter
