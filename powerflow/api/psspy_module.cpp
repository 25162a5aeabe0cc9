// Extension module psspy of the embedded engine: the engine operations, all acting on the
// one working case of the process.
#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"

PYBIND11_MODULE(psspy, m) {
    using namespace gridfold::api;
    m.doc() = "Embedded power-flow engine: engine operations on the process-wide working case.";
    // Placeholders meaning "not passed" inside array arguments.
    m.attr("_i") = kDefaultInt;
    m.attr("_f") = kDefaultReal;
    m.attr("_s") = kDefaultText;
    bind_session(m);
    bind_walks(m);
    bind_buses(m);
    bind_branches(m);
    bind_machines(m);
    bind_shunts_loads(m);
    bind_solution(m);
    bind_import(m);
    bind_flows(m);
    bind_areas_dc_facts(m);
    bind_subsystem(m);
}
