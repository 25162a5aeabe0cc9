// bus_data_4 and bus_chng_4.
#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/model/model_edit.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {
namespace {

Signature bus_signature(const std::string& function) {
    return Signature(function)
        .required_int("ibus", "bus number, 1 to 999999")
        .integer("inode", 0, "node (not used)")
        .integers("intgar", {"IDE bus type 1-4 (1)", "AREA (1)", "ZONE (1)", "OWNER (1)"})
        .reals("realar", {"BASKV kV (0)", "VM pu (1)", "VA degrees (0)", "NVHI pu (1.1)", "NVLO pu (0.9)",
                          "EVHI pu (1.1)", "EVLO pu (0.9)"})
        .text("name", std::nullopt, "bus name, up to 12 characters ('')")
        .reports_errors();
}

py::object edit_bus(const Args& a, pf::EditMode mode) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto apply = [&a](pf::Bus& b) {
        a.set_array("intgar", {&b.ide, &b.area, &b.zone, &b.owner});
        a.set_array("realar", {&b.base_kv, &b.vm_pu, &b.va_deg, &b.nvhi_pu, &b.nvlo_pu, &b.evhi_pu, &b.evlo_pu});
        a.set("name", b.name);
    };
    return py::int_(pf::set_bus(wc.network, a.integer32("ibus"), mode, apply, wc.bus_limit));
}

}  // namespace

void bind_buses(py::module_& m) {
    define(m, bus_signature("bus_data_4"), [](const Args& a) { return edit_bus(a, pf::EditMode::kCreateOrChange); },
           "Adds a bus, or changes the values passed of an existing one.");
    define(m, bus_signature("bus_chng_4"), [](const Args& a) { return edit_bus(a, pf::EditMode::kChangeOnly); },
           "Changes the values passed of an existing bus.");
}

}  // namespace gridfold::api
