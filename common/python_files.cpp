#include "common/python_files.hpp"

#include <cerrno>

#include "common/files.hpp"

namespace gridfold::common {

namespace {

std::filesystem::path path_of(py::handle path) {
    return std::filesystem::path(py::module_::import("os").attr("fspath")(path).cast<std::string>());
}

}  // namespace

void raise_os_error(const std::filesystem::filesystem_error& error) {
    const std::filesystem::path& culprit = error.path1().empty() ? error.path2() : error.path1();
    errno = error.code().value();
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, culprit.string().c_str());
    throw py::error_already_set();
}

std::string platform_text_bytes(const py::str& text) {
    const py::object encoding = py::module_::import("locale").attr("getpreferredencoding")(false);
    const py::object line_end = py::module_::import("os").attr("linesep");
    const py::object translated = text.attr("replace")("\n", line_end);
    return translated.attr("encode")(encoding).cast<std::string>();
}

void write_bytes_whole(py::handle path, std::string_view bytes) {
    const std::filesystem::path target = path_of(path);
    try {
        write_file_whole(target, bytes);
    } catch (const std::filesystem::filesystem_error& error) {
        raise_os_error(error);
    }
}

std::string read_bytes(py::handle path) {
    try {
        return read_file_bytes(path_of(path));
    } catch (const std::filesystem::filesystem_error& error) {
        raise_os_error(error);
    }
}

}  // namespace gridfold::common
