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

int initialised_code() { return pf::working_case().initialised ? pf::kOk : pf::kNotInitialised; }

}  // namespace

void bind_flows(py::module_& m) {
    define(
        m,
        Signature("brnmsc")
            .required_int("ibus")
            .required_int("jbus")
            .text("ckt", std::string("1"))
            .required_text("string", "P, Q, MVA (at ibus) or PCTRTA"),
        [](const Args& a) -> py::object {
            pf::BranchEndFlows flows;
            int code = initialised_code();
            if (!code)
                code = pf::branch_end_flows(pf::working_case().network, Args::clamp(a.integer("ibus")),
                                            Args::clamp(a.integer("jbus")), a.text("ckt"), &flows);
            return quantity_result(code, flows, a.text("string"));
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
            .required_text("string", "P, Q, MVA (at ibus) or PCTRTA"),
        [](const Args& a) -> py::object {
            pf::BranchEndFlows flows;
            int code = initialised_code();
            if (!code)
                code = pf::winding_end_flows(pf::working_case().network, Args::clamp(a.integer("ibus")),
                                             Args::clamp(a.integer("jbus")), Args::clamp(a.integer("kbus")),
                                             a.text("ckt"), &flows);
            return quantity_result(code, flows, a.text("string"));
        },
        "One flow quantity of the winding at ibus of a three-winding transformer: P, Q, MVA into it at ibus, "
        "or PCTRTA. Returns (ierr, value); value None on error.");
}

}  // namespace gridfold::api
