// Status report file and working copies of case files.
#include <cerrno>
#include <filesystem>
#include <string>

#include "bindings.hpp"
#include "case_copy.hpp"
#include "common/paths.hpp"
#include "py_values.hpp"

namespace gridfold::network {

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

// Writes `text` through a temporary file beside `path` (text mode: the platform's encoding and
// line endings), then renames it over `path`.
void write_text_whole(const py::object& path, const std::string& text) {
    const py::module_ os = py::module_::import("os");
    const py::object folder = os.attr("path").attr("dirname")(path);
    const py::object name = os.attr("path").attr("basename")(path);
    const py::object temporary = os.attr("path").attr("join")(
        folder, py::str(".") + name + py::str("." + std::to_string(py::int_(os.attr("getpid")()).cast<long long>()) + ".tmp"));
    try {
        const py::object file = py::module_::import("builtins").attr("open")(temporary, "w");
        try {
            file.attr("write")(py::str(text));
        } catch (...) {
            file.attr("close")();
            throw;
        }
        file.attr("close")();
        os.attr("replace")(temporary, path);
    } catch (py::error_already_set&) {
        if (py::bool_(os.attr("path").attr("exists")(temporary))) os.attr("remove")(temporary);
        throw;
    }
}

void write_status_report(py::handle filename, const py::kwargs& sections) {
    const py::object path = py::module_::import("os").attr("fspath")(filename);
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

[[noreturn]] void raise_os_error(const std::filesystem::filesystem_error& error) {
    const std::filesystem::path& culprit = error.path1().empty() ? error.path2() : error.path1();
    errno = error.code().value();
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, culprit.string().c_str());
    throw py::error_already_set();
}

py::str copy_and_rename(py::handle source_file) {
    const std::string given = py::module_::import("os").attr("fspath")(source_file).cast<std::string>();
    const std::filesystem::path source(common::resolve_path_ignoring_case(given));
    try {
        // The copy lies in the source's actual folder, under a name built from the name given.
        const std::filesystem::path target = free_copy_path(
            source.parent_path(), std::filesystem::path(given).filename().string(),
            [](const std::filesystem::path& candidate) { return std::filesystem::exists(candidate); });
        copy_file_whole(source, target);
        return py::str(target.string());
    } catch (const std::filesystem::filesystem_error& error) {
        raise_os_error(error);
    }
}

}  // namespace

void bind_report_and_copies(py::module_& m) {
    m.def("write_status_report", &write_status_report, py::arg("filename"), py::pos_only(),
          "Writes each keyword section (name = section name, value = dict) as a header line and its entries\n"
          "indented four blanks (nested dicts four more), followed by an empty line.");
    m.def("copy_and_rename", &copy_and_rename, py::arg("source_file"),
          "Copies the file beside itself as <stem>_copy<ext>, or <stem>_copy_<n><ext> for the first n free,\n"
          "and returns the new path.");
}

}  // namespace gridfold::network
