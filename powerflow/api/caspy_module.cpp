// Extension module caspy of the embedded engine: the element tables of a saved case file.
// Reading a file never touches the engine's working case.
#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstdint>

#include "api/caspy_tables.hpp"
#include "core/case_file.hpp"

namespace py = pybind11;

namespace {

// Reads the case file into `self`: the tables become plain attributes the caller may replace.
void read_case_data(py::object self, py::object path) {
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
    py::setattr(self, "path", py::str(file));
    // The tables hold some hundred thousand lists and no reference cycle: the cyclic garbage
    // collector, which would walk every object made so far again and again while they are
    // built, is held off until they are done.
    py::module_ gc = py::module_::import("gc");
    const bool collecting = gc.attr("isenabled")().cast<bool>();
    gc.attr("disable")();
    try {
        gridfold::api::fill_case_tables(self, net);
    } catch (...) {
        if (collecting) gc.attr("enable")();
        throw;
    }
    if (collecting) gc.attr("enable")();
}

}  // namespace

PYBIND11_MODULE(caspy, m) {
    m.doc() = "Embedded power-flow engine: case data access.";
    // Savecase is a plain Python class (instances keep their tables in __dict__), so that the
    // tables are ordinary attributes and isinstance works as callers expect.
    py::object builtins = py::module_::import("builtins");
    py::dict body;
    body["__module__"] = "caspy";
    body["__doc__"] =
        "Savecase(path): the element tables of a saved case file: pssbus, pssgen, psslod, pssfsh, psswsh, "
        "pssind, casbrn (cas_nbrn), castrn (cas_ntrn), pssbrn, psstrn, pss3wt, pssabx, pssald, pssmsl, psssub, and pssare, psszon, pssown, pss2dc, pssvsc, pssmdc, pssfac, pssgne. "
        "Raises OSError for a file that cannot be read and ValueError naming the line for one that is not a case.";
    py::object savecase = builtins.attr("type")("Savecase", py::make_tuple(builtins.attr("object")), body);
    py::cpp_function init(&read_case_data, py::name("read_case_file"), py::arg("self"), py::arg("path"));
    // A function stored on a class binds to its instances only as an instance method.
    savecase.attr("__init__") = py::reinterpret_steal<py::object>(PyInstanceMethod_New(init.ptr()));
    m.attr("Savecase") = savecase;
}
