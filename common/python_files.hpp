// The whole-file writer (files.hpp) for the Python-facing modules: paths given as str or
// os.PathLike, text encoded the way Python's own text files are, and file-system errors
// raised as Python's OSError (FileNotFoundError, PermissionError, ...) naming the file.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace gridfold::common {

namespace py = pybind11;

// Raises the OSError subclass of the error's code, naming the file at fault.
[[noreturn]] void raise_os_error(const std::filesystem::filesystem_error& error);

// `text` as open(path, "w") writes it: the locale's preferred encoding, the platform's line ends.
std::string platform_text_bytes(const py::str& text);

// Writes `bytes` to `path` (str or os.PathLike) whole or not at all; raises OSError.
void write_bytes_whole(py::handle path, std::string_view bytes);

// The whole content of `path` (str or os.PathLike), byte for byte; raises OSError.
std::string read_bytes(py::handle path);

}  // namespace gridfold::common
