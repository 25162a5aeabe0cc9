// Extension module caspy of the embedded engine: the element tables of a saved case file.
// Reading a file never touches the engine's working case.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>

#include "api/caspy_tables.hpp"
#include "core/formats/case_file.hpp"
#include "core/session/heap_pages.hpp"

namespace py = pybind11;

namespace {

// The attribute holding the case read, from which the tables are built.
constexpr const char* kNetworkAttribute = "_network";

// Reads the case file into `self`. The file is read and checked whole here; each table is
// made when first asked for (Savecase.__getattr__), since most callers read one or two of
// them and all of them take several times the time and memory of the case itself.
void read_case_data(py::object self, py::object path) {
    py::object fspath = py::module_::import("os").attr("fspath")(path);
    if (!PyUnicode_Check(fspath.ptr())) throw py::type_error("Savecase: a str path is required");
    const std::string file = fspath.cast<std::string>();
    gridfold::pf::return_free_heap_pages();
    auto net = std::make_unique<gridfold::pf::Network>();
    try {
        *net = gridfold::pf::load_case_file(file, SIZE_MAX);
    } catch (const gridfold::pf::CaseFileError& error) {
        if (error.kind() == gridfold::pf::CaseFileError::kOpen) {
            py::object file_not_found = py::module_::import("builtins").attr("FileNotFoundError");
            PyErr_SetObject(file_not_found.ptr(), py::make_tuple(ENOENT, error.reason(), file).ptr());
            throw py::error_already_set();
        }
        throw py::value_error(error.what());
    }
    gridfold::api::check_table_texts(*net);
    py::setattr(self, "path", py::str(file));
    py::capsule held(net.get(), [](void* p) { delete static_cast<gridfold::pf::Network*>(p); });
    net.release();
    py::setattr(self, kNetworkAttribute, held);
}

// Called for an attribute the instance does not hold: a table not made yet is made, kept as
// a plain attribute (which the caller may replace) and returned.
py::object table_attribute(py::object self, const std::string& name) {
    py::dict held = self.attr("__dict__");
    const auto& names = gridfold::api::case_table_names();
    if (!held.contains(kNetworkAttribute) || std::find(names.begin(), names.end(), name) == names.end()) {
        PyErr_Format(PyExc_AttributeError, "'Savecase' object has no attribute '%s'", name.c_str());
        throw py::error_already_set();
    }
    const auto* net = static_cast<const gridfold::pf::Network*>(
        py::reinterpret_borrow<py::capsule>(held[kNetworkAttribute]).get_pointer());
    // A table holds up to some hundred thousand lists and no reference cycle: the cyclic
    // garbage collector, which would walk every object made so far again and again while
    // they are made, is held off until the table is done.
    py::module_ gc = py::module_::import("gc");
    const bool collecting = gc.attr("isenabled")().cast<bool>();
    gc.attr("disable")();
    py::object table;
    try {
        table = gridfold::api::case_table(*net, name);
    } catch (...) {
        if (collecting) gc.attr("enable")();
        throw;
    }
    if (collecting) gc.attr("enable")();
    py::setattr(self, py::str(name), table);
    return table;
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
        "pssind, casbrn (cas_nbrn), castrn (cas_ntrn), pssbrn, psstrn, pss3wt, pssabx, pssald, pssmsl, psssub, and "
        "pssare, psszon, pssown, pss2dc, pssvsc, pssmdc, pssfac, pssgne. "
        "The file is read and checked whole when the object is made; each table is made when first read. "
        "Raises OSError for a file that cannot be read and ValueError naming the line for one that is not a case.";
    py::object savecase = builtins.attr("type")("Savecase", py::make_tuple(builtins.attr("object")), body);
    // A function stored on a class binds to its instances only as an instance method.
    auto method = [](py::cpp_function function) {
        return py::reinterpret_steal<py::object>(PyInstanceMethod_New(function.ptr()));
    };
    savecase.attr("__init__") =
        method(py::cpp_function(&read_case_data, py::name("read_case_file"), py::arg("self"), py::arg("path")));
    savecase.attr("__getattr__") =
        method(py::cpp_function(&table_attribute, py::name("table"), py::arg("self"), py::arg("name")));
    m.attr("Savecase") = savecase;
}
