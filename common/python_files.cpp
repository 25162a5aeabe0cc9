#include "common/python_files.hpp"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "common/files.hpp"

namespace gridfold::common {

namespace {

std::filesystem::path path_of(py::handle path) { return std::filesystem::path(path_text(path)); }

[[noreturn]] void raise_errno(int code, const std::string& path) {
    errno = code;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

}  // namespace

std::string path_text(py::handle path) {
    PyObject* text = PyOS_FSPath(path.ptr());
    if (!text) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(text).cast<std::string>();
}

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

void make_folders(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return;
    // A file in the folder's place is refused as os.makedirs refuses it.
    if (std::filesystem::exists(path, ec)) raise_errno(EEXIST, path);
    std::filesystem::create_directories(path, ec);
    if (ec) raise_errno(ec.value(), path);
}

void remove_file(const std::string& path) {
    if (::unlink(path.c_str()) != 0) raise_errno(errno, path);
}

std::vector<std::string> folder_entries(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    if (ec) raise_errno(ec.value(), path);
    return names;
}

}  // namespace gridfold::common
