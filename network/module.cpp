// Extension module gridfold_misc: network utilities.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(gridfold_misc, m) {
    m.doc() = "Network utilities: renumbering, bus tables, connection ordering, solving strategy, reports.";
}
