// Extension module gridfold_misc: network utilities.
#include <pybind11/pybind11.h>

#include "bindings.hpp"

PYBIND11_MODULE(gridfold_misc, m) {
    m.doc() = "Network utilities: renumbering, bus tables, connection ordering, solving strategy, reports.";
    gridfold::network::bind_renumbering(m);
    gridfold::network::bind_bus_tables(m);
    gridfold::network::bind_connections(m);
    gridfold::network::bind_solving_strategy(m);
    gridfold::network::bind_report_and_copies(m);
    gridfold::network::bind_plant_boundary(m);
}
