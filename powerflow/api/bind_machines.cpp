// Plants, machines and induction machines.
#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/model/model_edit.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {
namespace {

Signature plant_signature() {
    return Signature("plant_data_4")
        .required_int("ibus")
        .integer("inode", 0, "node (not used)")
        .integers("intgar", {"IREG regulated bus, 0 own bus (0)", "NREG node of IREG (0)"})
        .reals("realar", {"VS scheduled voltage pu (1)", "RMPCT percent (100)"})
        .reports_errors();
}

py::object plant(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    return py::int_(pf::set_plant(wc.network, a.integer32("ibus"), pf::EditMode::kCreateOrChange,
                                  [&a](pf::Plant& p) {
                                      a.set_array("intgar", {&p.ireg, &p.nreg});
                                      a.set_array("realar", {&p.vs_pu, &p.rmpct});
                                  }));
}

// with_baslod: intgar7 (BASLOD) is taken; with_name: namear2 is taken.
Signature machine_signature(const std::string& function, bool with_baslod, bool with_name) {
    std::vector<std::string> ints{"STAT (1)", "O1 (bus owner)", "O2 (0)", "O3 (0)", "O4 (0)",
                                  "WMOD 0-4 (0)"};
    if (with_baslod) ints.push_back("BASLOD 0-3 (0)");
    Signature sig(function);
    sig.required_int("ibus")
        .text("id", std::string("1"), "machine identifier")
        .integers("intgar", ints)
        .reals("realar", {"PG MW (0)", "QG Mvar (0)", "QT Mvar (9999)", "QB Mvar (-9999)", "PT MW (9999)",
                          "PB MW (-9999)", "MBASE MVA (system base)", "ZR pu on MBASE (0)", "ZX pu (1)",
                          "RT pu (0)", "XT pu (0)", "GTAP pu (1)", "F1 (1)", "F2 (1)", "F3 (1)", "F4 (1)",
                          "WPF (1)"});
    if (with_name) sig.text("namear2", std::nullopt, "machine name ('')");
    return sig.reports_errors();
}

py::object machine(const Args& a, pf::EditMode mode, bool with_baslod, bool with_name) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto apply = [&](pf::Machine& m) {
        a.set("intgar1", m.status);
        set_owners(a, m.owners, 2, "realar", 13);
        a.set("intgar6", m.wmod);
        if (with_baslod) a.set("intgar7", m.baslod);
        a.set_array("realar", {&m.pg_mw, &m.qg_mvar, &m.qt_mvar, &m.qb_mvar, &m.pt_mw, &m.pb_mw, &m.mbase_mva,
                               &m.zr_pu, &m.zx_pu, &m.rt_pu, &m.xt_pu, &m.gtap_pu});
        a.set("realar17", m.wpf);
        if (with_name) a.set("namear2", m.name);
    };
    return py::int_(pf::set_machine(wc.network, a.integer32("ibus"), a.text("id"), mode, apply));
}

Signature induction_signature(const std::string& function, bool with_name) {
    Signature sig(function);
    sig.required_int("ibus")
        .text("id", std::string("1"), "machine identifier")
        .integers("intgar", {"STAT (1)", "SCODE 1 motor, 2 generator (1)", "DCODE 1 single, 2 double cage (2)",
                             "AREA (bus area)", "ZONE (bus zone)", "OWNER (bus owner)",
                             "TCODE 1 simple, 2 WECC torque (1)", "BCODE 1 MVA, 2 MW base (1)",
                             "PCODE 1 mechanical, 2 electrical power (1)"})
        .reals("realar", {"MBASE MVA (system base)", "RATEKV kV (0 = bus base)", "PSET MW (0)", "H s (1)",
                          "A (1)", "B (1)", "D (1)", "E (1)", "RA pu (0)", "XA pu (0)", "XM pu (2.5)",
                          "R1 pu (999 = none)", "X1 pu (999)", "R2 pu (999)", "X2 pu (999)", "X3 pu (0)",
                          "E1 pu (1)", "SE1 (0)", "E2 pu (1.2)", "SE2 (0)", "IA1 (0)", "IA2 (0)",
                          "XAMULT (1)"});
    if (with_name) sig.text("indnamear", std::nullopt, "machine name ('')");
    return sig.reports_errors();
}

py::object induction(const Args& a, bool with_name) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto apply = [&](pf::InductionMachine& m) {
        a.set_array("intgar",
                    {&m.status, &m.scode, &m.dcode, &m.area, &m.zone, &m.owner, &m.tcode, &m.bcode, &m.pcode});
        a.set_array("realar", {&m.mbase_mva, &m.ratekv, &m.pset_mw, &m.h,   &m.a,   &m.b,   &m.d,   &m.e,
                               &m.ra,        &m.xa,     &m.xm,      &m.r1,  &m.x1,  &m.r2,  &m.x2,  &m.x3,
                               &m.e1,        &m.se1,    &m.e2,      &m.se2, &m.ia1, &m.ia2, &m.xamult});
        if (with_name) a.set("indnamear", m.name);
    };
    return py::int_(pf::set_induction_machine(wc.network, a.integer32("ibus"), a.text("id"),
                                              pf::EditMode::kCreateOrChange, apply));
}

struct MachineCall {
    const char* name;
    bool baslod;
    bool named;
};

}  // namespace

void bind_machines(py::module_& m) {
    define(m, plant_signature(), plant, "Adds the plant of a bus, or changes the values passed.");
    const MachineCall generations[] = {{"_2", false, false}, {"_3", false, false}, {"_4", true, false},
                                       {"_5", true, true}};
    for (const auto& g : generations) {
        const std::string suffix = g.name;
        const bool baslod = g.baslod, named = g.named;
        define(m, machine_signature("machine_data" + suffix, baslod, named),
               [baslod, named](const Args& a) {
                   return machine(a, pf::EditMode::kCreateOrChange, baslod, named);
               },
               "Adds a machine at a bus with plant data, or changes the values passed.");
        define(m, machine_signature("machine_chng" + suffix, baslod, named),
               [baslod, named](const Args& a) { return machine(a, pf::EditMode::kChangeOnly, baslod, named); },
               "Changes the values passed of an existing machine.");
    }
    define(m, induction_signature("induction_machine_data", false), [](const Args& a) { return induction(a, false); },
           "Adds an induction machine, or changes the values passed.");
    define(m, induction_signature("induction_machine_data_2", true), [](const Args& a) { return induction(a, true); },
           "Adds an induction machine, or changes the values passed.");
}

}  // namespace gridfold::api
