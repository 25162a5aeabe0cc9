// Extension module gridfold_ps: PSSE_ENGINE, the only door to the engine API.
#include <pybind11/pybind11.h>

#include "common/console.hpp"

PYBIND11_MODULE(gridfold_ps, m) {
    m.doc() = "Power-flow engine adapter (PSSE_ENGINE).";
    gridfold::common::clear_console();
}
