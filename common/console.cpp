#include "common/console.hpp"

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace gridfold::common {

void clear_console() {
    try {
        py::module_ sys = py::module_::import("sys");
        if (sys.attr("platform").cast<std::string>() == "win32") {
            py::module_::import("os").attr("system")("cls");
            return;
        }
        py::object out = sys.attr("stdout");
        if (out.is_none() || !py::hasattr(out, "isatty") || !out.attr("isatty")().cast<bool>()) return;
        out.attr("write")("\033[H\033[2J");
        out.attr("flush")();
    } catch (const py::error_already_set&) {
        // A console that cannot be cleared is no reason to refuse loading the module.
        PyErr_Clear();
    }
}

}  // namespace gridfold::common
