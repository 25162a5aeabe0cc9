#include "run_outputs.hpp"

#include <filesystem>
#include <set>
#include <system_error>

#include "common/python_files.hpp"
#include "python_helpers.hpp"

namespace gridfold::driver {

namespace {

void remove_if_present(const py::str& path) {
    const std::string text = path.cast<std::string>();
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(text, ec))) common::remove_file(text);
}

}  // namespace

void write_text_file(const py::str& path, const py::str& text, WriteMode mode) {
    // The old content is kept byte for byte, so appending never re-encodes it.
    std::error_code ec;
    const bool keep_old = mode == WriteMode::Append && std::filesystem::exists(path.cast<std::string>(), ec);
    std::string bytes = keep_old ? common::read_bytes(path) : std::string();
    bytes += common::platform_text_bytes(text);
    common::write_bytes_whole(path, bytes);
}

void write_renumber_maps(const py::str& folder, const std::string& main_case_name, py::handle renumber_map) {
    std::string lines;
    for (py::handle old_bus : renumber_map) {
        lines += text_of(old_bus) + " -> " + text_of(renumber_map[old_bus]) + "\n";
    }
    // Both texts are made before either file is written: a map that JSON cannot hold
    // leaves neither file behind.
    py::str json_text = py::module_::import("json").attr("dumps")(renumber_map, py::arg("indent") = 4);
    write_text_file(join_path({folder, py::str(main_case_name + "_renumber_map.txt")}), py::str(lines), WriteMode::Replace);
    write_text_file(join_path({folder, py::str(main_case_name + "_renumber_map.json")}), json_text, WriteMode::Replace);
}

void TempFiles::delete_all() {
    std::set<std::string> done;
    py::object first_error;
    for (const py::str& path : paths_) {
        if (!done.insert(text_of(path)).second) continue;
        try {
            remove_if_present(path);
        } catch (py::error_already_set& err) {
            if (!first_error) first_error = err.value();
        }
    }
    paths_.clear();
    if (first_error) {
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(first_error.ptr())), first_error.ptr());
        throw py::error_already_set();
    }
}

void TempFiles::delete_all_quietly() noexcept {
    try {
        delete_all();
    } catch (...) {
        // see the declaration
    }
}

}  // namespace gridfold::driver
