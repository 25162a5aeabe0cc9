// brnmsc and wnddat: the flows of the last solution in lines, transformers and windings.
#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/session/working_case.hpp"
#include "core/solver/branch_flows.hpp"

namespace gridfold::api {

namespace {

py::object quantity_result(int code, const pf::BranchEndFlows& flows, const std::string& name) {
    double value = 0.0;
    if (code == pf::kOk) code = pf::end_flow_quantity(flows, name, &value);
    if (code != pf::kOk) return py::make_tuple(code, py::none());
    return py::make_tuple(0, value);
}

// (ierr, value) of one quantity of the flows `find` gives for the working case.
template <class Find>
py::object flow_quantity(const Args& a, Find find) {
    pf::BranchEndFlows flows;
    int code = pf::working_case().initialised ? pf::kOk : pf::kNotInitialised;
    if (!code) code = find(pf::working_case().network, &flows);
    return quantity_result(code, flows, a.text("string"));
}

}  // namespace

void bind_flows(py::module_& m) {
    define(
        m,
        Signature("brnmsc")
            .required_int("ibus")
            .required_int("jbus")
            .text("ckt", std::string("1"))
            .required_text("string", "P, Q, MVA (at ibus) or PCTRTA")
            .keeps_case(),
        [](const Args& a) -> py::object {
            return flow_quantity(a, [&](const pf::Network& net, pf::BranchEndFlows* flows) {
                return pf::branch_end_flows(net, Args::clamp(a.integer("ibus")), Args::clamp(a.integer("jbus")),
                                            a.text("ckt"), flows);
            });
        },
        "One flow quantity of a line or two-winding transformer (either orientation): P, Q, MVA into it at "
        "ibus, or PCTRTA, the larger end's MVA in percent of RATE1. Returns (ierr, value); value None on error.");

    define(
        m,
        Signature("wnddat")
            .required_int("ibus")
            .required_int("jbus")
            .required_int("kbus")
            .text("ckt", std::string("1"))
            .required_text("string", "P, Q, MVA (at ibus) or PCTRTA")
            .keeps_case(),
        [](const Args& a) -> py::object {
            return flow_quantity(a, [&](const pf::Network& net, pf::BranchEndFlows* flows) {
                return pf::winding_end_flows(net, Args::clamp(a.integer("ibus")), Args::clamp(a.integer("jbus")),
                                             Args::clamp(a.integer("kbus")), a.text("ckt"), flows);
            });
        },
        "One flow quantity of the winding at ibus of a three-winding transformer: P, Q, MVA into it at ibus, "
        "or PCTRTA. Returns (ierr, value); value None on error.");
}

}  // namespace gridfold::api
