// busdat, walks over the branches and machines of a bus, dscn and recn.
#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/model/topology.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {
namespace {

pf::WorkingCase& initialised_case(int* code) {
    auto& wc = pf::working_case();
    *code = wc.initialised ? pf::kOk : pf::kNotInitialised;
    return wc;
}

// A call on one bus of the initialised working case that returns its error code alone.
template <class Call>
void define_bus_call(py::module_& m, const char* name, Call call, const char* doc) {
    define(
        m, Signature(name).required_int("ibus"),
        [call](const Args& a) -> py::object {
            int code;
            auto& wc = initialised_case(&code);
            if (!code) code = call(wc, Args::clamp(a.integer("ibus")));
            return py::int_(code);
        },
        doc);
}

}  // namespace

void bind_walks(py::module_& m) {
    define(
        m, Signature("busdat").required_int("ibus").required_text("string", "quantity name").keeps_case(),
        [](const Args& a) -> py::object {
            pf::BusQuantity q;
            int code = pf::bus_quantity(pf::working_case(), Args::clamp(a.integer("ibus")), a.text("string"), &q);
            if (code != pf::kOk) return py::make_tuple(code, py::none());
            if (q.integer) return py::make_tuple(0, q.whole);
            return py::make_tuple(0, q.real);
        },
        "One quantity of a bus: BASE, PU, KV, ANGLE (radians), ANGLED, NVLMHI, NVLMLO, EVLMHI, EVLMLO, "
        "TYPE, AREA, ZONE, OWNER. Returns (ierr, value); value None on error.");

    define(
        m,
        Signature("inibrn_2")
            .required_int("ibus")
            .integer("inode", 0)
            .integer("single", 1, "1 in-service elements only, 2 all")
            .keeps_case(),
        [](const Args& a) -> py::object {
            int code;
            auto& wc = initialised_case(&code);
            int count = 0;
            if (!code)
                code = pf::start_branch_walk(wc.network, wc.branch_walk, Args::clamp(a.integer("ibus")),
                                             Args::clamp(a.integer("single")), &count);
            return py::make_tuple(code, count);
        },
        "Starts the walks of nxtbrn_2 and nxtbrn3_2 at a bus. Returns (ierr, number of elements).");

    define(
        m, Signature("nxtbrn_2").required_int("ibus").integer("inode", 0).keeps_case(),
        [](const Args& a) -> py::object {
            int code;
            auto& wc = initialised_case(&code);
            if (code) return py::make_tuple(code, 0, 0, py::none());
            auto step = pf::next_branch(wc.network, wc.branch_walk, Args::clamp(a.integer("ibus")));
            if (step.ierr) return py::make_tuple(step.ierr, 0, 0, py::none());
            return py::make_tuple(0, step.far_bus, 0, step.ckt);
        },
        "Next line or two-winding transformer at the bus: (ierr, jbus, knode, ckt).");

    define(
        m, Signature("nxtbrn3_2").required_int("ibus").integer("inode", 0).keeps_case(),
        [](const Args& a) -> py::object {
            int code;
            auto& wc = initialised_case(&code);
            if (code) return py::make_tuple(code, 0, 0, 0, 0, py::none());
            auto step = pf::next_three_winding(wc.network, wc.branch_walk, Args::clamp(a.integer("ibus")));
            if (step.ierr) return py::make_tuple(step.ierr, 0, 0, 0, 0, py::none());
            return py::make_tuple(0, step.second_bus, 0, step.third_bus, 0, step.ckt);
        },
        "Next three-winding transformer at the bus: (ierr, jbus, jnode, kbus, knode, ckt).");

    define_bus_call(
        m, "inimac",
        [](pf::WorkingCase& wc, int bus) { return pf::start_machine_walk(wc.network, wc.machine_walk, bus); },
        "Starts the walk of nxtmac at a bus.");

    define(
        m, Signature("nxtmac").required_int("ibus").keeps_case(),
        [](const Args& a) -> py::object {
            int code;
            auto& wc = initialised_case(&code);
            std::string id;
            if (!code) code = pf::next_machine(wc.network, wc.machine_walk, Args::clamp(a.integer("ibus")), &id);
            if (code) return py::make_tuple(code, py::none());
            return py::make_tuple(0, id);
        },
        "Next machine at the bus, whatever its status: (ierr, id).");

    define_bus_call(
        m, "dscn", [](pf::WorkingCase& wc, int bus) { return pf::disconnect_bus(wc.network, bus); },
        "Isolates a bus: type 4 and every line and transformer at it out of service.");
    define_bus_call(
        m, "recn", [](pf::WorkingCase& wc, int bus) { return pf::reconnect_bus(wc.network, bus); },
        "Brings a bus back with what dscn switched off whose other buses are in service.");
}

}  // namespace gridfold::api
