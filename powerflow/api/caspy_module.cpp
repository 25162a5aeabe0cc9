// Extension module caspy of the embedded engine.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(caspy, m) { m.doc() = "Embedded power-flow engine: case data access."; }
