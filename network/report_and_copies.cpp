// Status report file and working copies of case files.
#include <filesystem>
#include <string>

#include "bindings.hpp"
#include "study/case_copy.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/python_files.hpp"
#include "operations.hpp"
#include "py_values.hpp"

namespace gridfold::network {

// The plain study types and searches (bus numbers, connection order, copy names) are this
// module's vocabulary.
using namespace gridfold::study;

namespace {

constexpr int kIndentStep = 4;

// Lines of one map: "key: value", or "key:" and the nested map's lines indented four more blanks.
void format_dict(py::handle map, int indent, std::string& text, bool& first_line) {
    for (py::handle item : map.attr("items")()) {
        const py::tuple key_value = py::reinterpret_borrow<py::tuple>(item);
        if (!first_line) text += '\n';
        first_line = false;
        text += std::string(static_cast<std::size_t>(indent), ' ') + text_of(key_value[0]);
        if (PyDict_Check(key_value[1].ptr())) {
            text += ':';
            format_dict(key_value[1], indent + kIndentStep, text, first_line);
        } else {
            text += ": " + text_of(key_value[1]);
        }
    }
}

// The report is a text file as Python's open(path, "w") writes one: the platform's encoding
// and line ends.
void write_text_whole(const py::object& path, const std::string& text) {
    common::write_bytes_whole(path, common::platform_text_bytes(py::str(text)));
}

}  // namespace

void write_status_report(py::handle filename, const py::kwargs& sections) {
    const py::str path(common::path_text(filename));
    std::string text;
    for (auto [name, section] : sections) {
        try {
            if (!PyDict_Check(section.ptr()))
                throw py::type_error("status report " + text_of(path) + ": section '" + text_of(name) +
                                     "' is " + std::string(py::repr(section)) + ", not a dict");
            std::string block = text_of(name) + ":\n";
            bool first_line = true;
            format_dict(section, kIndentStep, block, first_line);
            text += block + "\n\n";
        } catch (...) {
            write_text_whole(path, text);  // the sections before the bad one stay in the file
            throw;
        }
    }
    write_text_whole(path, text);
}

py::str copy_and_rename(py::handle source_file) {
    const std::string given = common::path_text(source_file);
    const std::filesystem::path source(common::resolve_path_ignoring_case(given));
    try {
        // The copy lies in the source's actual folder, under a name built from the name given.
        const std::filesystem::path target = free_copy_path(
            source.parent_path(), std::filesystem::path(given).filename().string(),
            [](const std::filesystem::path& candidate) { return std::filesystem::exists(candidate); });
        common::copy_file_whole(source, target);
        return py::str(target.string());
    } catch (const std::filesystem::filesystem_error& error) {
        common::raise_os_error(error);
    }
}

void bind_report_and_copies(py::module_& m) {
    m.def("write_status_report", &write_status_report, py::arg("filename"), py::pos_only(),
          "Writes each keyword section (name = section name, value = dict) as a header line and its entries\n"
          "indented four blanks (nested dicts four more), followed by an empty line.");
    m.def("copy_and_rename", &copy_and_rename, py::arg("source_file"),
          "Copies the file beside itself as <stem>_copy<ext>, or <stem>_copy_<n><ext> for the first n free,\n"
          "and returns the new path.");
    m.def(
        "resolve_path_ignoring_case",
        [](const std::string& path) { return common::resolve_path_ignoring_case(path); }, py::arg("path"),
        "The path as it exists on disk, each component matched ignoring letter case (the exact name first,\n"
        "then the others in sorted order); the path itself when nothing matches.");
}

}  // namespace gridfold::network
