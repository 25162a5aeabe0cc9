// Extension module gridfold_rc: the configuration workbook reader, ReadConfigFile.
#include <pybind11/pybind11.h>

#include "read_config_file.hpp"

namespace py = pybind11;
using gridfold::config::ReadConfigFile;

PYBIND11_MODULE(gridfold_rc, m) {
    m.doc() = "Configuration workbook reader (ReadConfigFile).";

    py::class_<ReadConfigFile>(m, "ReadConfigFile", py::dynamic_attr(),
                               "Loads a configuration workbook: its control sheets and the rows of the\n"
                               "software (SOFT_INPUT), main-case (MAIN_INPUT) and small-case (CASE_INPUT) sheets.")
        .def(py::init<py::object, py::object>(), py::arg("file_path") = py::none(), py::arg("file_name") = py::none())
        .def_readwrite("file_path", &ReadConfigFile::file_path)
        .def_readwrite("file_name", &ReadConfigFile::file_name)
        .def_readwrite("_dfs", &ReadConfigFile::raw_dfs)
        .def_readwrite("dfs", &ReadConfigFile::dfs)
        .def_readwrite("sheet_dict", &ReadConfigFile::sheet_dict)
        .def("load_and_process_file", &ReadConfigFile::load_and_process_file)
        .def(
            "clean_column",
            [](const ReadConfigFile&, py::object column) { return gridfold::config::clean_column(column); },
            py::arg("column"), "Helper function to clean strings in a column.")
        .def("get_data_frame", &ReadConfigFile::get_data_frame)
        .def("_filter_sheet_dict", &ReadConfigFile::filter_sheet_dict, py::arg("search_term"))
        .def("_indexed_row_origins", &ReadConfigFile::indexed_row_origins, py::arg("search_term"),
             "(sheet name, workbook row) of every row of indexed dictionary of the type, by key.");

    // The three kinds of configuration sheet; each pair of getters is the same operation
    // with its type text.
    struct Kind {
        const char* name;
        const char* type_text;
    };
    for (Kind kind : {Kind{"soft", "SOFT_INPUT"}, Kind{"case", "CASE_INPUT"}, Kind{"main", "MAIN_INPUT"}}) {
        const std::string type_text = kind.type_text;
        auto cls = py::reinterpret_borrow<py::class_<ReadConfigFile>>(m.attr("ReadConfigFile"));
        cls.def((std::string("get_") + kind.name + "_config_sheet").c_str(),
                [type_text](const ReadConfigFile& self) { return self.filter_sheet_dict(py::str(type_text)); });
        cls.def((std::string("get_") + kind.name + "_config_indexed_dict").c_str(),
                [type_text](const ReadConfigFile& self) { return self.indexed_dict(py::str(type_text)); });
    }
}
