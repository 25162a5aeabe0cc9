// Extension module psspy of the embedded engine.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(psspy, m) { m.doc() = "Embedded power-flow engine: engine operations."; }
