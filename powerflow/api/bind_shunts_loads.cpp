// Fixed shunts, switched shunts and loads.
#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/model/model_edit.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {
namespace {

constexpr auto kCreate = pf::EditMode::kCreateOrChange;

Signature fixed_shunt_signature(const std::string& function) {
    return Signature(function)
        .required_int("ibus")
        .text("id", std::string("1"), "shunt identifier, up to 2 characters")
        .integers("intgar", {"STATUS (1)"})
        .reals("realar", {"GL MW at 1 pu (0)", "BL Mvar at 1 pu, capacitive > 0 (0)"})
        .reports_errors();
}

py::object fixed_shunt(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    return py::int_(pf::set_fixed_shunt(wc.network, a.integer32("ibus"), a.text("id"), kCreate,
                                        [&a](pf::FixedShunt& s) {
                                            a.set("intgar1", s.status);
                                            a.set_array("realar", {&s.gl_mw, &s.bl_mvar});
                                        }));
}

// block_statuses: how many block statuses (intgar14...) the call takes.
Signature switched_shunt_signature(const std::string& function, int block_statuses, bool named) {
    std::vector<std::string> ints{"N1 steps of block 1 (0)", "N2", "N3", "N4", "N5", "N6", "N7", "N8",
                                  "MODSW control mode 0-6 (1)", "SWREG regulated bus, 0 own bus (0)",
                                  "NREG node of SWREG (0)", "STAT (1)", "ADJM 0 input order, 1 admittance (0)",
                                  "S1 status of block 1 (1)"};
    for (int k = 2; k <= block_statuses; ++k) ints.push_back("S" + std::to_string(k));
    Signature sig(function);
    sig.required_int("ibus")
        .text("id", std::string("1"), "shunt identifier")
        .integers("intgar", ints)
        .reals("realar", {"B1 Mvar per step of block 1 (0)", "B2", "B3", "B4", "B5", "B6", "B7", "B8",
                          "VSWHI (1)", "VSWLO (1)", "BINIT Mvar (0)", "RMPCT percent (100)"});
    if (named) sig.text("swsnam", std::nullopt, "shunt name ('')");
    return sig.reports_errors();
}

py::object switched_shunt(const Args& a, int block_statuses, bool named) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto apply = [&a, block_statuses, named](pf::SwitchedShunt& s) {
        for (int k = 0; k < pf::kShuntBlockCount; ++k) {
            a.set("intgar" + std::to_string(k + 1), s.blocks[k].n);
            a.set("realar" + std::to_string(k + 1), s.blocks[k].b_mvar);
        }
        for (int k = 0; k < block_statuses; ++k) a.set("intgar" + std::to_string(14 + k), s.blocks[k].s);
        a.set_array("intgar", {&s.modsw, &s.swreg, &s.nreg, &s.stat, &s.adjm}, 9);
        a.set_array("realar", {&s.vswhi, &s.vswlo, &s.binit_mvar, &s.rmpct}, 9);
        if (named) a.set("swsnam", s.name);
    };
    return py::int_(pf::set_switched_shunt(wc.network, a.integer32("ibus"), a.text("id"), kCreate, apply));
}

Signature load_signature(const std::string& function, bool named) {
    Signature sig(function);
    sig.required_int("ibus")
        .text("id", std::string("1"), "load identifier")
        .integers("intgar", {"STATUS (1)", "AREA (bus area)", "ZONE (bus zone)", "OWNER (bus owner)",
                             "SCALE 0/1 (1)", "INTRPT 0/1 (0)", "DGENM distributed generation 0/1 (0)"})
        .reals("realar", {"PL MW (0)", "QL Mvar (0)", "IP MW at 1 pu (0)", "IQ Mvar at 1 pu (0)",
                          "YP MW at 1 pu (0)", "YQ Mvar at 1 pu, negative for an inductive load (0)", "DGENP MW (0)", "DGENQ Mvar (0)"});
    if (named) sig.text("ldname", std::nullopt, "load name ('')");
    return sig.reports_errors();
}

py::object load(const Args& a, bool named) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto apply = [&a, named](pf::Load& l) {
        a.set_array("intgar", {&l.status, &l.area, &l.zone, &l.owner, &l.scale, &l.intrpt, &l.dgenm});
        a.set_array("realar", {&l.pl_mw, &l.ql_mvar, &l.ip_mw, &l.iq_mvar, &l.yp_mw, &l.yq_mvar, &l.dgenp_mw,
                               &l.dgenq_mvar});
        if (named) a.set("ldname", l.name);
    };
    return py::int_(pf::set_load(wc.network, a.integer32("ibus"), a.text("id"), kCreate, apply));
}

}  // namespace

void bind_shunts_loads(py::module_& m) {
    for (const char* name : {"shunt_data", "shunt_data_2"})
        define(m, fixed_shunt_signature(name), fixed_shunt, "Adds a fixed shunt, or changes the values passed.");
    define(m, switched_shunt_signature("switched_shunt_data_4", 1, false),
           [](const Args& a) { return switched_shunt(a, 1, false); },
           "Adds a switched shunt, or changes the values passed.");
    define(m, switched_shunt_signature("switched_shunt_data_5", 8, false),
           [](const Args& a) { return switched_shunt(a, 8, false); },
           "Adds a switched shunt, or changes the values passed.");
    define(m, switched_shunt_signature("switched_shunt_data_6", 8, true),
           [](const Args& a) { return switched_shunt(a, 8, true); },
           "Adds a switched shunt, or changes the values passed.");
    for (const char* name : {"load_data_5", "load_data_6"})
        define(m, load_signature(name, false), [](const Args& a) { return load(a, false); },
               "Adds a load, or changes the values passed.");
    define(m, load_signature("load_data_7", true), [](const Args& a) { return load(a, true); },
           "Adds a load, or changes the values passed.");
}

}  // namespace gridfold::api
