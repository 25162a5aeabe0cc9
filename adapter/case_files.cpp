// Case files: opening and saving the working case, closing it, reading one bus quantity,
// and reading a saved case file as a case data object.
#include <pybind11/stl.h>

#include <stdexcept>
#include <string>
#include <vector>

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

// The columns of one array query of every bus or branch (sid -1); a code other than 0 is
// an error naming the call and its arguments.
py::list every_element(const py::object& psspy, const char* call, const py::dict& kwargs) {
    py::tuple result = psspy.attr(call)(**kwargs);
    const long code = result[0].cast<long>();
    if (code != 0)
        throw std::runtime_error("psspy." + std::string(call) + "(" + py::repr(kwargs).cast<std::string>() +
                                 ") of the working case returned error code " + std::to_string(code));
    return py::list(result[1]);
}

py::dict branch_query(long flag, const py::list& quantities) {
    return py::dict(py::arg("sid") = -1, py::arg("owner") = 1, py::arg("ties") = 1, py::arg("flag") = flag,
                    py::arg("entry") = 1, py::arg("string") = quantities);
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

py::list PsseEngine::get_bus_numbers() {
    py::list numbers = every_element(psspy, "abusint",
                                     py::dict(py::arg("sid") = -1, py::arg("flag") = 2, py::arg("string") = "NUMBER"));
    return py::list(numbers[0]);
}

py::object PsseEngine::get_network_topology() {
    py::list buses = every_element(
        psspy, "abusint",
        py::dict(py::arg("sid") = -1, py::arg("flag") = 2, py::arg("string") = py::make_tuple("NUMBER", "TYPE")));
    const py::list ends = py::cast(std::vector<std::string>{"FROMNUMBER", "TONUMBER", "STATUS"});
    py::list lines = every_element(psspy, "abrnint", branch_query(2, ends));
    py::list two_winding = every_element(psspy, "abrnint", branch_query(6, ends));
    py::list three_winding = every_element(
        psspy, "atr3int",
        branch_query(2, py::cast(std::vector<std::string>{"WIND1NUMBER", "WIND2NUMBER", "WIND3NUMBER", "STATUS"})));

    // Two-winding transformers list a third bus of 0, as a case file's transformer table does.
    py::list windings, statuses;
    const py::int_ none(0);
    for (std::size_t i = 0; i < py::len(two_winding[2]); ++i) {
        windings.append(py::make_tuple(two_winding[0][py::int_(i)], two_winding[1][py::int_(i)], none));
        statuses.append(two_winding[2][py::int_(i)]);
    }
    for (std::size_t i = 0; i < py::len(three_winding[3]); ++i) {
        windings.append(py::make_tuple(three_winding[0][py::int_(i)], three_winding[1][py::int_(i)],
                                       three_winding[2][py::int_(i)]));
        statuses.append(three_winding[3][py::int_(i)]);
    }
    py::object topology = py::module_::import("types").attr("SimpleNamespace")();
    topology.attr("pssbus") = py::dict(py::arg("NUM") = buses[0], py::arg("IDE") = buses[1]);
    topology.attr("pssbrn") =
        py::dict(py::arg("FRMBUS") = lines[0], py::arg("TOBUS") = lines[1], py::arg("STAT") = lines[2]);
    topology.attr("castrn") = py::dict(py::arg("BUSNUM") = windings, py::arg("STAT") = statuses);
    return topology;
}

}  // namespace gridfold::adapter
