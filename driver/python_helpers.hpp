// Small helpers the driver uses throughout: paths (made in C++ the way os.path makes them),
// sibling modules of the package, text conversion and ordered maps.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>

namespace gridfold::driver {

namespace py = pybind11;

// Name of the package that holds the four modules ("gridfold"); set when the module loads.
void set_package_name(const std::string& name);

// A module of the package, imported relative to it (gridfold_rc, gridfold_ps, gridfold_misc).
py::module_ sibling(const char* module);

// Attribute `name` of a sibling module, looked up at each call so that the current binding
// is used.
py::object sibling_attr(const char* module, const char* name);

// os.path.join of the parts (each a str or os.PathLike).
py::str join_path(std::initializer_list<py::object> parts);

// os.path.abspath of a path.
py::str absolute_path(const py::str& path);

// The interpreter's text form of a value (str()).
std::string text_of(py::handle value);

// A new, empty collections.OrderedDict.
py::object ordered_dict();

// `name` up to its first ".sav" (the whole name when it has none).
std::string cut_at_sav(const std::string& name);

// An input path from the workbook, resolved ignoring letter case when it does not exist
// as written.
py::str resolve_input_path(const py::str& path);

}  // namespace gridfold::driver
