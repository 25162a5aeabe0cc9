// Files and folders for the Python-facing modules: the whole-file writer (files.hpp) with
// paths given as str or os.PathLike and text encoded the way Python's own text files are,
// and the few folder operations the driver needs. File-system errors are raised as Python's
// OSError (FileNotFoundError, PermissionError, ...) naming the file, as os raises them.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace gridfold::common {

namespace py = pybind11;

// The text of a path given as str or os.PathLike (os.fspath); TypeError for anything else.
std::string path_text(py::handle path);

// Raises the OSError subclass of the error's code, naming the file at fault.
[[noreturn]] void raise_os_error(const std::filesystem::filesystem_error& error);

// `text` as open(path, "w") writes it: the locale's preferred encoding, the platform's line ends.
std::string platform_text_bytes(const py::str& text);

// Writes `bytes` to `path` (str or os.PathLike) whole or not at all; raises OSError.
void write_bytes_whole(py::handle path, std::string_view bytes);

// The whole content of `path` (str or os.PathLike), byte for byte; raises OSError.
std::string read_bytes(py::handle path);

// os.makedirs(path, exist_ok=True): the folder and every missing parent; raises OSError.
void make_folders(const std::string& path);

// os.remove: removes the file (not a folder); raises OSError.
void remove_file(const std::string& path);

// os.listdir: the names in a folder, in the order the system gives them; raises OSError.
std::vector<std::string> folder_entries(const std::string& path);

}  // namespace gridfold::common
