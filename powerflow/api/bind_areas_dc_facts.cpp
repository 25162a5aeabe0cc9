// Areas, zones, owners, two-terminal and VSC dc lines and FACTS devices: area_data,
// zone_data, owner_data, two_terminal_dc_line_data, vsc_dc_line_data,
// vsc_dc_converter_data, facts_data.
//
// Each call finds the record by its key or makes a new one with the format's defaults,
// changes a copy with the values passed, checks the copy whole and only then stores it, so a
// refused call changes nothing.
#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/model/identifiers.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {
namespace {

// Finds the record whose key matches, or appends a default one; edits a copy and stores it
// when `check` returns kOk. A stored record may change what a solution derives from the case.
template <class T, class Match, class Apply, class Check>
int upsert(std::vector<T>& records, T fresh, Match match, Apply apply, Check check) {
    std::size_t index = records.size();
    for (std::size_t k = 0; k < records.size(); ++k)
        if (match(records[k])) index = k;
    T copy = index < records.size() ? records[index] : std::move(fresh);
    apply(copy);
    if (int code = check(copy)) return code;
    if (index < records.size())
        records[index] = std::move(copy);
    else
        records.push_back(std::move(copy));
    pf::working_case().network.structure_changed();
    return pf::kOk;
}

std::optional<std::string> record_name(const std::string& text) {
    auto name = pf::normalize_name(text, pf::kMaxBusNameLength);
    if (!name || name->empty()) return std::nullopt;
    return name;
}

py::object area(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    const int number = a.integer32("i");
    if (number < 1 || number > 9999) return py::int_(pf::kInvalidValue);
    pf::Area fresh;
    fresh.number = number;
    return py::int_(upsert(
        wc.network.areas, fresh, [&](const pf::Area& r) { return r.number == number; },
        [&](pf::Area& r) {
            a.set("intgar1", r.isw);
            a.set_array("realar", {&r.pdes_mw, &r.ptol_mw});
            a.set("arname", r.name);
        },
        [&](pf::Area& r) {
            if (int code = pf::check_area(wc.network, r)) return code;
            r.name = *pf::normalize_name(r.name, pf::kMaxBusNameLength);
            return pf::kOk;
        }));
}

// zone_data and owner_data: a number and a name.
template <class T>
py::object named_number(const Args& a, std::vector<T> pf::Network::*records, const char* name_key) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    const int number = a.integer32("i");
    if (number < 1 || number > 9999) return py::int_(pf::kInvalidValue);
    T fresh;
    fresh.number = number;
    return py::int_(upsert(
        wc.network.*records, fresh, [&](const T& r) { return r.number == number; },
        [&](T& r) { a.set(name_key, r.name); },
        [&](T& r) {
            auto name = pf::normalize_name(r.name, pf::kMaxBusNameLength);
            if (!name) return pf::kInvalidIdentifier;
            r.name = *name;
            return pf::kOk;
        }));
}

const std::vector<std::string> kTwoTerminalInts{
    "MDC control mode 0 blocked, 1 power, 2 current (0)", "IPR rectifier bus", "NBR rectifier bridges (0)",
    "IPI inverter bus", "NBI inverter bridges (0)", "ICR rectifier tap-controlling bus (0)",
    "ICI inverter tap-controlling bus (0)", "IFR rectifier transformer winding 1 bus (0)",
    "ITR rectifier transformer winding 2 bus (0)", "IFI inverter transformer winding 1 bus (0)",
    "ITI inverter transformer winding 2 bus (0)", "CCCITMX iteration limit (20)",
    "NDR node of ICR (0)", "NDI node of ICI (0)"};
const std::vector<std::string> kTwoTerminalReals{
    "SETVL MW or A (0)", "VSCHD kV (0)", "VCMOD kV (0)", "RDC ohms (0)", "DELTI (0)", "RCOMP ohms (0)",
    "DCVMIN kV (0)", "ANMXR degrees (0)", "ANMNR degrees (0)", "RCR ohms (0)", "XCR ohms (0)", "EBASR kV (0)",
    "TRR (1)", "TAPR (1)", "TMXR (1.5)", "TMNR (0.51)", "STPR (0.00625)", "ANMXI degrees (0)",
    "ANMNI degrees (0)", "RCI ohms (0)", "XCI ohms (0)", "EBASI kV (0)", "TRI (1)", "TAPI (1)", "TMXI (1.5)",
    "TMNI (0.51)", "STPI (0.00625)", "XCAPR ohms (0)", "XCAPI ohms (0)", "CCCACC (1)"};

py::object two_terminal_dc(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto key = record_name(a.text("name"));
    if (!key) return py::int_(pf::kInvalidIdentifier);
    pf::TwoTerminalDcLine fresh;
    fresh.name = *key;
    return py::int_(upsert(
        wc.network.two_terminal_dc_lines, fresh, [&](const pf::TwoTerminalDcLine& d) { return d.name == *key; },
        [&](pf::TwoTerminalDcLine& d) {
            pf::DcConverter& r = d.rectifier;
            pf::DcConverter& i = d.inverter;
            a.set_array("intgar", {&d.mdc, &r.bus, &r.nb, &i.bus, &i.nb, &r.ic, &i.ic, &r.if_bus, &r.it_bus, &i.if_bus,
                                   &i.it_bus, &d.cccitmx, &r.nd, &i.nd});
            a.set_array("realar", {&d.setvl,    &d.vschd_kv, &d.vcmod_kv, &d.rdc_ohm,   &d.delti,    &d.rcomp_ohm,
                                   &d.dcvmin_kv, &r.anmx_deg, &r.anmn_deg, &r.rc_ohm,    &r.xc_ohm,   &r.ebas_kv,
                                   &r.tr,        &r.tap,      &r.tmx,      &r.tmn,       &r.stp,      &i.anmx_deg,
                                   &i.anmn_deg,  &i.rc_ohm,   &i.xc_ohm,   &i.ebas_kv,   &i.tr,       &i.tap,
                                   &i.tmx,       &i.tmn,      &i.stp,      &r.xcap_ohm,  &i.xcap_ohm, &d.cccacc});
            a.set("meter", d.meter);
            a.set("idr", r.id);
            a.set("idi", i.id);
        },
        [&](pf::TwoTerminalDcLine& d) {
            if (int code = pf::check_two_terminal_dc_line(wc.network, d)) return code;
            for (std::string* id : {&d.rectifier.id, &d.inverter.id}) *id = *pf::normalize_identifier(*id);
            return pf::kOk;
        }));
}

py::object vsc_dc_line(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto key = record_name(a.text("name"));
    if (!key) return py::int_(pf::kInvalidIdentifier);
    pf::VscDcLine fresh;
    fresh.name = *key;
    fresh.owners[0].owner = 1;
    return py::int_(upsert(
        wc.network.vsc_dc_lines, fresh, [&](const pf::VscDcLine& d) { return d.name == *key; },
        [&](pf::VscDcLine& d) {
            a.set("intgar1", d.mdc);
            a.set("realar1", d.rdc_ohm);
            set_owners(a, d.owners, 2, "realar", 2);
        },
        [&](const pf::VscDcLine& d) { return pf::check_vsc_dc_line(d); }));
}

// One converter (1 or 2) of an existing VSC dc line.
py::object vsc_converter(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto key = record_name(a.text("name"));
    if (!key) return py::int_(pf::kInvalidIdentifier);
    const long which = a.integer("iconv");
    if (which != 1 && which != 2) return py::int_(pf::kInvalidCode);
    for (pf::VscDcLine& line : wc.network.vsc_dc_lines) {
        if (line.name != *key) continue;
        pf::VscConverter c = line.converters[which - 1];
        a.set("ibus", c.bus);
        a.set_array("intgar", {&c.type, &c.mode, &c.vsreg, &c.nreg});
        a.set_array("realar", {&c.dcset, &c.acset, &c.aloss_kw, &c.bloss_kw_per_a, &c.minloss_kw, &c.smax_mva,
                               &c.imax_a, &c.pwf, &c.maxq_mvar, &c.minq_mvar, &c.rmpct});
        if (int code = pf::check_vsc_converter(wc.network, line, static_cast<int>(which) - 1, c))
            return py::int_(code);
        line.converters[which - 1] = c;
        wc.network.structure_changed();  // the solution's voltage controls include the converters'
        return py::int_(pf::kOk);
    }
    return py::int_(pf::kElementNotFound);
}

py::object facts(const Args& a) {
    auto& wc = pf::working_case();
    if (!wc.initialised) return py::int_(pf::kNotInitialised);
    auto key = record_name(a.text("name"));
    if (!key) return py::int_(pf::kInvalidIdentifier);
    pf::FactsDevice fresh;
    fresh.name = *key;
    return py::int_(upsert(
        wc.network.facts_devices, fresh, [&](const pf::FactsDevice& f) { return f.name == *key; },
        [&](pf::FactsDevice& f) {
            a.set("ibus", f.from_bus);
            a.set("jbus", f.to_bus);
            a.set_array("intgar", {&f.mode, &f.owner, &f.vsref, &f.fcreg, &f.nreg});
            a.set_array("realar", {&f.pdes_mw, &f.qdes_mvar, &f.vset_pu, &f.shmx_mva, &f.trmx_mw, &f.vtmn_pu,
                                   &f.vtmx_pu, &f.vsmx_pu, &f.imx_mva, &f.linx_pu, &f.rmpct, &f.set1, &f.set2});
            a.set("mname", f.mname);
        },
        [&](pf::FactsDevice& f) {
            if (int code = pf::check_facts_device(wc.network, f)) return code;
            f.mname = *pf::normalize_name(f.mname, pf::kMaxBusNameLength);
            return pf::kOk;
        }));
}

}  // namespace

void bind_areas_dc_facts(py::module_& m) {
    define(m,
           Signature("area_data")
               .required_int("i", "area number 1..9999")
               .integers("intgar", {"ISW area slack bus, 0 none (0)"})
               .reals("realar", {"PDES desired net interchange MW (0)", "PTOL interchange tolerance MW (10)"})
               .text("arname", std::nullopt, "area name, up to 12 characters ('')")
               .reports_errors(),
           area, "Adds an area, or changes the values passed.");
    define(m,
           Signature("zone_data")
               .required_int("i", "zone number 1..9999")
               .text("zoname", std::nullopt, "zone name, up to 12 characters ('')")
               .reports_errors(),
           [](const Args& a) { return named_number(a, &pf::Network::zones, "zoname"); },
           "Adds a zone, or changes its name.");
    define(m,
           Signature("owner_data")
               .required_int("i", "owner number 1..9999")
               .text("owname", std::nullopt, "owner name, up to 12 characters ('')")
               .reports_errors(),
           [](const Args& a) { return named_number(a, &pf::Network::owners, "owname"); },
           "Adds an owner, or changes its name.");
    define(m,
           Signature("two_terminal_dc_line_data")
               .required_text("name", "dc line name, up to 12 characters")
               .integers("intgar", kTwoTerminalInts)
               .reals("realar", kTwoTerminalReals)
               .text("meter", std::nullopt, "metered end 'I' inverter or 'R' rectifier ('I')")
               .text("idr", std::nullopt, "circuit of the rectifier's transformer ('1')")
               .text("idi", std::nullopt, "circuit of the inverter's transformer ('1')")
               .reports_errors(),
           two_terminal_dc, "Adds a two-terminal dc line, or changes the values passed.");
    define(m,
           Signature("vsc_dc_line_data")
               .required_text("name", "VSC dc line name, up to 12 characters")
               .integers("intgar", {"MDC 0 out, 1 in service (1)", "O1 (1)", "O2 (0)", "O3 (0)", "O4 (0)"})
               .reals("realar", {"RDC ohms (0)", "F1 (1)", "F2 (1)", "F3 (1)", "F4 (1)"})
               .reports_errors(),
           vsc_dc_line, "Adds a VSC dc line, or changes the values passed.");
    define(m,
           Signature("vsc_dc_converter_data")
               .required_text("name", "VSC dc line name")
               .required_int("iconv", "converter 1 or 2")
               .integer("ibus", std::nullopt, "ac bus of the converter, 0 unused")
               .integers("intgar", {"TYPE 0 out, 1 dc voltage, 2 MW (1)", "MODE 1 ac voltage, 2 power factor (1)",
                                    "VSREG regulated bus, 0 own (0)", "NREG node of VSREG (0)"})
               .reals("realar", {"DCSET kV or MW (0)", "ACSET pu or power factor (1)", "ALOSS kW (0)",
                                 "BLOSS kW/A (0)", "MINLOSS kW (0)", "SMAX MVA (0)", "IMAX A (0)", "PWF (1)",
                                 "MAXQ Mvar (9999)", "MINQ Mvar (-9999)", "RMPCT percent (100)"})
               .reports_errors(),
           vsc_converter, "Changes a converter of an existing VSC dc line.");
    define(m,
           Signature("facts_data")
               .required_text("name", "FACTS device name, up to 12 characters")
               .integer("ibus", std::nullopt, "sending-end bus")
               .integer("jbus", std::nullopt, "terminal bus of the series element, 0 shunt only (0)")
               .integers("intgar", {"MODE 0-8 (1)", "OWNER (1)", "VSREF 0 modulation, 1 vector (0)",
                                    "FCREG regulated bus, 0 sending end (0)", "NREG node of FCREG (0)"})
               .reals("realar", {"PDES MW (0)", "QDES Mvar (0)", "VSET pu (1)", "SHMX MVA (9999)", "TRMX MW (9999)",
                                 "VTMN pu (0.9)", "VTMX pu (1.1)", "VSMX pu (1)", "IMX MVA (0)", "LINX pu (0.05)",
                                 "RMPCT percent (100)", "SET1 (0)", "SET2 (0)"})
               .text("mname", std::nullopt, "IPFC master device name ('')")
               .reports_errors(),
           facts, "Adds a FACTS device, or changes the values passed.");
}

}  // namespace gridfold::api
