// The configuration read into engine settings and the enabled main-case and small-case
// lists.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace gridfold::driver {

namespace py = pybind11;

struct CaseLists {
    // Engine settings actually supplied by the software rows: "psse_path", "version" and
    // "nbus" (the last row of each description wins); a setting no row supplied is absent.
    py::dict settings;
    // OrderedDict "0", "1", ... -> {"filepath", "filename"}.
    py::object main_case_dict;
    // OrderedDict "0", "1", ... -> {"filepath", "filename", "connecting_bus", "parent_path"}.
    py::object small_case_dict;
    // The workbook's path, for error messages of later steps.
    std::string workbook;
    // Each enabled row as messages name it ("Small Cases row 3"), in list order.
    std::vector<std::string> main_rows;
    std::vector<std::string> small_rows;
    // The reader, for the sheets it found when nothing was enabled.
    py::object reader;
};

CaseLists build_case_lists(py::object file_path, py::object file_name);

// The settings as the Python tuple (settings, main_case_dict, small_case_dict).
py::tuple case_lists_as_tuple(const CaseLists& lists);

}  // namespace gridfold::driver
