// Extension module caspy of the embedded engine: the element tables of a saved case file.
// Reading a file never touches the engine's working case.
#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstdint>

#include "api/caspy_tables.hpp"
#include "core/case_file.hpp"

namespace py = pybind11;

namespace {

// The object Savecase returns: tables are plain attributes the caller may replace.
struct CaseData {};

py::object read_case_data(py::object path) {
    py::object fspath = py::module_::import("os").attr("fspath")(path);
    if (!PyUnicode_Check(fspath.ptr())) throw py::type_error("Savecase: a str path is required");
    const std::string file = fspath.cast<std::string>();
    gridfold::pf::Network net;
    try {
        net = gridfold::pf::load_case_file(file, SIZE_MAX);
    } catch (const gridfold::pf::CaseFileError& error) {
        if (error.kind() == gridfold::pf::CaseFileError::kOpen) {
            py::object file_not_found = py::module_::import("builtins").attr("FileNotFoundError");
            PyErr_SetObject(file_not_found.ptr(), py::make_tuple(ENOENT, error.reason(), file).ptr());
            throw py::error_already_set();
        }
        throw py::value_error(error.what());
    }
    py::object data = py::cast(CaseData{});
    py::setattr(data, "path", py::str(file));
    gridfold::api::fill_case_tables(data, net);
    return data;
}

}  // namespace

PYBIND11_MODULE(caspy, m) {
    m.doc() = "Embedded power-flow engine: case data access.";
    py::class_<CaseData>(m, "CaseData", py::dynamic_attr(), "Element tables of one saved case file.");
    m.def("Savecase", &read_case_data, py::arg("path"),
          "Reads a saved case file into tables: pssbus, pssgen, psslod, pssfsh, psswsh, pssind, casbrn "
          "(cas_nbrn), castrn (cas_ntrn), pssbrn, psstrn, pss3wt, pssabx, pssald, pssmsl, psssub. Raises "
          "OSError for a file that cannot be read and ValueError naming the line for one that is not a case.");
}
