// Line branches, two-winding and three-winding transformers.
#include <pybind11/stl.h>

#include <cmath>

#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/model/model_edit.hpp"
#include "core/model/transformer_values.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {
namespace {

const std::vector<std::string> kRatingDocs{"RATE1 MVA (0)", "RATE2", "RATE3", "RATE4",  "RATE5",  "RATE6",
                                           "RATE7",         "RATE8", "RATE9", "RATE10", "RATE11", "RATE12"};

void set_ratings(const Args& a, pf::Ratings& ratings) {
    for (int k = 0; k < pf::kRatingCount; ++k) {
        double rating = ratings[k];
        a.set("ratings" + std::to_string(k + 1), rating);
        ratings.set(k, rating);
    }
}

// A winding's ratio or angle limits, controlled band and load drop compensation, in realari from
// position `first`: RMA, RMI, VMA, VMI, CR, CX, CNXA.
void set_control_band(const Args& a, pf::Winding& w, int first) {
    a.set_array("realari", {&w.rma, &w.rmi, &w.vma, &w.vmi, &w.cr_pu, &w.cx_pu, &w.cnxa_deg}, first);
}

// The key of a line or switching device: its two buses and circuit.
Signature line_key(const std::string& function) {
    return Signature(function)
        .required_int("ibus", "from bus")
        .required_int("jbus", "to bus")
        .text("ckt", std::string("1"), "circuit identifier");
}

Signature branch_signature(const std::string& function) {
    return line_key(function)
        .integers("intgar", {"ST status (1)", "METBUS metered end bus (ibus)", "O1 (from-bus owner)", "O2 (0)",
                             "O3 (0)", "O4 (0)"})
        .reals("realar", {"R pu (0)", "X pu (0.0001)", "B pu (0)", "GI pu (0)", "BI pu (0)", "GJ pu (0)", "BJ pu (0)",
                          "LEN (0)", "F1 (1)", "F2 (1)", "F3 (1)", "F4 (1)"})
        .reals("ratings", kRatingDocs)
        .text("namear", std::nullopt, "branch name ('')")
        .reports_errors();
}

py::object branch(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto apply = [&a](pf::Branch& b) {
        a.set_array("intgar", {&b.status, &b.metbus});
        set_owners(a, b.owners, 3, "realar", 9);
        a.set_array("realar", {&b.r_pu, &b.x_pu, &b.b_pu, &b.gi_pu, &b.bi_pu, &b.gj_pu, &b.bj_pu, &b.length});
        set_ratings(a, b.ratings);
        a.set("namear", b.name);
    };
    return py::int_(pf::set_branch(wc.network, a.integer32("ibus"), a.integer32("jbus"), a.text("ckt"),
                                   pf::EditMode::kCreateOrChange, apply));
}

Signature switching_device_signature() {
    return line_key("system_swd_data")
        .integers("intgar", {"STAT status (1)", "NSTAT normal status (1)", "METBUS metered end bus (ibus)",
                             "STYPE 1 generic, 2 breaker, 3 disconnector (1)"})
        .reals("realar", {"X pu (0.0001)"})
        .reals("ratings", kRatingDocs)
        .text("namear", std::nullopt, "device name ('')")
        .reports_errors();
}

// A system switching device is a line of its reactance marked with its type. A key held by
// a plain line is refused, so that the call never turns a line into a device.
py::object switching_device(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    const int i = a.integer32("ibus"), j = a.integer32("jbus");
    if (auto index = pf::find_branch(wc.network, i, j, a.text("ckt"));
        index && !wc.network.branches[*index].switching_device())
        return py::int_(pf::kDuplicate);
    if (a.has("intgar4") && (a.integer("intgar4") < 1 || a.integer("intgar4") > 3)) return py::int_(pf::kInvalidCode);
    auto apply = [&a](pf::Branch& b) {
        if (!b.switching_device()) b.stype = 1;
        a.set_array("intgar", {&b.status, &b.nstat, &b.metbus, &b.stype});
        a.set("realar1", b.x_pu);
        set_ratings(a, b.ratings);
        a.set("namear", b.name);
    };
    return py::int_(pf::set_branch(wc.network, i, j, a.text("ckt"), pf::EditMode::kCreateOrChange, apply));
}

Signature two_winding_signature() {
    return Signature("two_winding_data_6")
        .required_int("ibus", "winding 1 bus")
        .required_int("jbus", "winding 2 bus")
        .text("ckt", std::string("1"), "circuit identifier")
        .integers("intgar",
                  {"STAT (1)", "METBUS metered end bus (ibus)", "O1 (ibus owner)", "O2 (0)", "O3 (0)", "O4 (0)",
                   "NTP1 tap positions (33)", "TAB1 correction table (0)",
                   "winding 1 side: only 1 (winding 1 at ibus) is accepted", "CONT1 controlled bus (0)", "NODE1 (0)",
                   "SICOD: -1 or 1, not used", "COD1 control mode -5..5 (0)", "CW 1-3 (1)", "CZ 1-3 (1)", "CM 1-2 (1)"})
        .reals("realari", {"R1-2 (0)",   "X1-2 (0.0001)", "SBASE1-2 MVA (system base)",
                           "WINDV1 (1)", "NOMV1 kV (0)",  "ANG1 degrees (0)",
                           "WINDV2 (1)", "NOMV2 kV (0)",  "F1 (1)",
                           "F2 (1)",     "F3 (1)",        "F4 (1)",
                           "MAG1 (0)",   "MAG2 (0)",      "RMA1 (1.1)",
                           "RMI1 (0.9)", "VMA1 (1.1)",    "VMI1 (0.9)",
                           "CR1 pu (0)", "CX1 pu (0)",    "CNXA1 degrees (0)"})
        .reals("ratings", kRatingDocs)
        .text("namear", std::nullopt, "transformer name ('')")
        .text("vgrpar", std::nullopt, "vector group ('')")
        .reports_errors();
}

// (ierr, [R, X]): the winding 1-2 impedance in per unit on the system base.
py::object impedance_result(int code, const pf::Network& net, const pf::Transformer* t) {
    std::vector<double> values;
    if (code == pf::kOk && t) {
        // Each impedance is referred to the first winding of its pair (1-2: 1, 2-3: 2, 3-1: 3).
        auto add = [&](double r, double x, double sbase, int w) {
            const pf::Bus* bus = net.bus(t->buses[w]);
            auto z = pf::impedance_on_system_base(r, x, sbase, t->cz, net.system.sbase_mva, t->windings[w].nomv_kv,
                                                  bus ? bus->base_kv : 0.0);
            values.push_back(z ? z->real() : 0.0);
            values.push_back(z ? z->imag() : 0.0);
        };
        add(t->r12, t->x12, t->sbase12_mva, 0);
        if (t->three_winding()) {
            add(t->r23, t->x23, t->sbase23_mva, 1);
            add(t->r31, t->x31, t->sbase31_mva, 2);
        }
    }
    return py::make_tuple(code, py::cast(values));
}

py::object two_winding(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::make_tuple(static_cast<int>(pf::kNotInitialised), py::list());
    if ((a.has("intgar9") && a.integer("intgar9") != 1) ||
        (a.has("intgar12") && a.integer("intgar12") != 1 && a.integer("intgar12") != -1))
        return py::make_tuple(static_cast<int>(pf::kInvalidCode), py::list());
    auto apply = [&a](pf::Transformer& t) {
        pf::Winding& w1 = t.windings[0];
        pf::Winding& w2 = t.windings[1];
        a.set_array("intgar", {&t.status, &t.metbus});
        set_owners(a, t.owners, 3, "realari", 9);
        // intgar9 (the winding 1 side) and intgar12 (SICOD) are checked above and not stored.
        a.set_array("intgar", {&w1.ntp, &w1.tab, nullptr, &w1.cont, &w1.node, nullptr, &w1.cod, &t.cw, &t.cz, &t.cm},
                    7);
        a.set_array("realari",
                    {&t.r12, &t.x12, &t.sbase12_mva, &w1.windv, &w1.nomv_kv, &w1.ang_deg, &w2.windv, &w2.nomv_kv});
        a.set_array("realari", {&t.mag1, &t.mag2}, 13);
        set_control_band(a, w1, 15);
        set_ratings(a, w1.ratings);
        a.set("namear", t.name);
        a.set("vgrpar", t.vecgrp);
    };
    const int i = a.integer32("ibus"), j = a.integer32("jbus");
    int code = pf::set_two_winding(wc.network, i, j, a.text("ckt"), pf::EditMode::kCreateOrChange, apply);
    const pf::Transformer* t = nullptr;
    if (!code) t = &wc.network.transformers[*pf::find_transformer(wc.network, i, j, 0, a.text("ckt"))];
    return impedance_result(code, wc.network, t);
}

Signature three_winding_signature() {
    return Signature("three_wnd_imped_data_4")
        .required_int("ibus", "winding 1 bus")
        .required_int("jbus", "winding 2 bus")
        .required_int("kbus", "winding 3 bus")
        .text("ckt", std::string("1"), "circuit identifier")
        .integers("intgar",
                  {"O1 (ibus owner)", "O2 (0)", "O3 (0)", "O4 (0)", "CW 1-3 (1)", "CZ 1-3 (1)", "CM 1-2 (1)",
                   "STAT 0-4 (1)", "NMETR non-metered end bus (jbus)", "not used", "not used", "ZCOD 0/1 (0)"})
        .reals("realari", {"R1-2 (0)", "X1-2 (0.0001)", "R2-3 (0)", "X2-3 (0.0001)", "R3-1 (0)", "X3-1 (0.0001)",
                           "SBASE1-2 MVA (system base)", "SBASE2-3 MVA", "SBASE3-1 MVA", "MAG1 (0)", "MAG2 (0)",
                           "F1 (1)", "F2 (1)", "F3 (1)", "F4 (1)", "VMSTAR star point voltage pu (1)",
                           "ANSTAR star point angle degrees (0)"})
        .text("namear", std::nullopt, "transformer name ('')")
        .text("vgrpar", std::nullopt, "vector group ('')")
        .reports_errors();
}

py::object three_winding(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::make_tuple(static_cast<int>(pf::kNotInitialised), py::list());
    double vmstar = 0.0, anstar = 0.0;
    bool star_voltage = a.has("realari16") || a.has("realari17");
    if ((a.has("realari16") && !(a.real("realari16") > 0.0 && std::isfinite(a.real("realari16")))) ||
        (a.has("realari17") && !std::isfinite(a.real("realari17"))))
        return py::make_tuple(static_cast<int>(pf::kInvalidValue), py::list());
    auto apply = [&](pf::Transformer& t) {
        set_owners(a, t.owners, 1, "realari", 12);
        a.set_array("intgar", {&t.cw, &t.cz, &t.cm, &t.status, &t.metbus, nullptr, nullptr, &t.zcod}, 5);
        a.set_array("realari", {&t.r12, &t.x12, &t.r23, &t.x23, &t.r31, &t.x31, &t.sbase12_mva, &t.sbase23_mva,
                                &t.sbase31_mva, &t.mag1, &t.mag2});
        a.set("namear", t.name);
        a.set("vgrpar", t.vecgrp);
    };
    const int i = a.integer32("ibus"), j = a.integer32("jbus"), k = a.integer32("kbus");
    int code =
        pf::set_three_winding(wc.network, i, j, k, a.text("ckt"), pf::EditMode::kCreateOrChange, apply, wc.bus_limit);
    const pf::Transformer* t = nullptr;
    if (!code) {
        t = &wc.network.transformers[*pf::find_transformer(wc.network, i, j, k, a.text("ckt"))];
        if (star_voltage) {
            pf::Bus* star = wc.network.bus(t->star_bus);
            vmstar = a.has("realari16") ? a.real("realari16") : star->vm_pu;
            anstar = a.has("realari17") ? a.real("realari17") : star->va_deg;
            star->vm_pu = vmstar;
            star->va_deg = anstar;
        }
    }
    return impedance_result(code, wc.network, t);
}

Signature winding_signature() {
    return Signature("three_wnd_winding_data_5")
        .required_int("ibus", "winding 1 bus")
        .required_int("jbus", "winding 2 bus")
        .required_int("kbus", "winding 3 bus")
        .text("ckt", std::string("1"), "circuit identifier")
        .integer("warg", 1, "winding 1, 2 or 3")
        .integers("intgar", {"NTP tap positions (33)", "TAB correction table (0)", "CONT controlled bus (0)",
                             "NODE (0)", "SICOD: -1 or 1, not used", "COD control mode -5..5 (0)"})
        .reals("realari", {"WINDV (1)", "NOMV kV (0)", "ANG degrees (0)", "RMA (1.1)", "RMI (0.9)", "VMA (1.1)",
                           "VMI (0.9)", "CR pu (0)", "CX pu (0)", "CNXA degrees (0)"})
        .reals("ratings", kRatingDocs)
        .reports_errors();
}

py::object winding(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::make_tuple(static_cast<int>(pf::kNotInitialised), py::list());
    if (a.has("intgar5") && a.integer("intgar5") != 1 && a.integer("intgar5") != -1)
        return py::make_tuple(static_cast<int>(pf::kInvalidCode), py::list());
    auto apply = [&a](pf::Winding& w) {
        // intgar5 (SICOD) is checked above and not stored.
        a.set_array("intgar", {&w.ntp, &w.tab, &w.cont, &w.node, nullptr, &w.cod});
        a.set_array("realari", {&w.windv, &w.nomv_kv, &w.ang_deg});
        set_control_band(a, w, 4);
        set_ratings(a, w.ratings);
    };
    const int i = a.integer32("ibus"), j = a.integer32("jbus"), k = a.integer32("kbus");
    const int w = a.integer32("warg");
    int code = pf::set_three_winding_winding(wc.network, i, j, k, a.text("ckt"), w, apply);
    std::vector<double> values;
    if (!code) {
        const auto& t = wc.network.transformers[*pf::find_transformer(wc.network, i, j, k, a.text("ckt"))];
        values = {pf::winding_ratio_pu(wc.network, t, w - 1), t.windings[w - 1].ang_deg};
    }
    return py::make_tuple(code, py::cast(values));
}

}  // namespace

void bind_branches(py::module_& m) {
    for (const char* name : {"branch_data_3", "branch_data_4"})
        define(m, branch_signature(name), branch, "Adds a line branch, or changes the values passed.");
    define(m, switching_device_signature(), switching_device,
           "Adds a system switching device (held as a line of its reactance), or changes the values passed.");
    define(m, two_winding_signature(), two_winding,
           "Adds a two-winding transformer, or changes the values passed. Returns (ierr, [R, X]): the "
           "impedance in per unit on the system base.");
    define(m, three_winding_signature(), three_winding,
           "Adds a three-winding transformer (and its star point bus), or changes the values passed. Returns "
           "(ierr, [R1-2, X1-2, R2-3, X2-3, R3-1, X3-1]) in per unit on the system base.");
    define(m, winding_signature(), winding,
           "Changes the data of one winding of a three-winding transformer. Returns (ierr, [ratio pu, angle "
           "degrees]).");
}

}  // namespace gridfold::api
