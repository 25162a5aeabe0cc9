#include "core/model/elements/dc_lines.hpp"

#include <cmath>

#include "core/model/identifiers.hpp"
#include "core/model/network.hpp"

namespace gridfold::pf {

int check_two_terminal_dc_line(const Network& net, const TwoTerminalDcLine& d) {
    for (const DcConverter* c : {&d.rectifier, &d.inverter}) {
        if (!bus_reference_ok(net, c->bus, false) || !bus_reference_ok(net, c->ic, true) ||
            !bus_reference_ok(net, c->if_bus, true) || !bus_reference_ok(net, c->it_bus, true))
            return kBusNotFound;
        if (c->nb < 0 || !finite({c->anmx_deg, c->anmn_deg, c->rc_ohm, c->xc_ohm, c->ebas_kv, c->tr, c->tap, c->tmx,
                                  c->tmn, c->stp, c->xcap_ohm}))
            return kInvalidValue;
        if (!(c->tr > 0.0) || !(c->tap > 0.0) || c->tmn > c->tmx) return kInvalidValue;
    }
    if (d.rectifier.bus == d.inverter.bus) return kDuplicate;
    if (d.mdc < 0 || d.mdc > 2 || d.cccitmx < 0) return kInvalidCode;
    if (d.meter != "I" && d.meter != "R") return kInvalidCode;
    if (!finite({d.setvl, d.vschd_kv, d.vcmod_kv, d.rdc_ohm, d.delti, d.rcomp_ohm, d.dcvmin_kv, d.cccacc}) ||
        d.rdc_ohm < 0.0)
        return kInvalidValue;
    for (const std::string* id : {&d.rectifier.id, &d.inverter.id})
        if (!normalize_identifier(*id)) return kInvalidIdentifier;
    if (d.mdc != 0 && !(d.delti >= 0.0 && d.delti < 1.0)) return kInvalidValue;
    if (d.mdc != 0)
        for (const DcConverter* c : {&d.rectifier, &d.inverter}) {
            if (c->xcap_ohm != 0.0) return kInvalidValue;
            if (c->if_bus != 0 || c->it_bus != 0) return kInvalidCode;
        }
    return kOk;
}

int check_vsc_dc_line(const VscDcLine& d) {
    if (d.mdc < 0 || d.mdc > 1) return kInvalidCode;
    if (!std::isfinite(d.rdc_ohm) || d.rdc_ohm < 0.0) return kInvalidValue;
    for (const Ownership& o : d.owners)
        if (o.owner < 0 || o.owner > 9999 || !std::isfinite(o.fraction) || o.fraction < 0.0) return kInvalidValue;
    return kOk;
}

int check_vsc_converter(const Network& net, const VscDcLine& line, int which, const VscConverter& c) {
    if (!bus_reference_ok(net, c.bus, true) || !bus_reference_ok(net, c.vsreg, true)) return kBusNotFound;
    if (c.type < 0 || c.type > 2 || c.mode < 1 || c.mode > 2) return kInvalidCode;
    if (!finite({c.dcset, c.acset, c.aloss_kw, c.bloss_kw_per_a, c.minloss_kw, c.smax_mva, c.imax_a, c.pwf,
                 c.maxq_mvar, c.minq_mvar, c.rmpct}))
        return kInvalidValue;
    if (c.minq_mvar > c.maxq_mvar) return kInvalidValue;
    if (c.mode == 2 && !(std::abs(c.acset) > 0.0 && std::abs(c.acset) <= 1.0)) return kInvalidValue;
    const VscConverter& other = line.converters[1 - which];
    if (c.type == 2 && other.type == 2 && c.bus != 0 && other.bus != 0) return kInvalidCode;
    return kOk;
}

}  // namespace gridfold::pf
