// Extension module gridfold_main: the integration run.
#include <pybind11/pybind11.h>

#include "common/console.hpp"

PYBIND11_MODULE(gridfold_main, m) {
    m.doc() = "Integration driver (run_integration).";
    gridfold::common::clear_console();
}
