// Record layouts of the RAW format, versions 32 to 35: one function per record line, listing
// its fields in file order with their defaults, and which versions hold each field.
//
// The same functions drive the reader and the writer. `Io` is either the reader's field
// cursor (Io::reading, element fields are assigned) or the writer's line builder (element
// fields are appended); `T` is the element, const when writing. Version 32 files use the
// version 33 layouts (they simply lack the trailing fields version 33 added).
#pragma once

#include <array>
#include <type_traits>

#include "core/model/identifiers.hpp"
#include "core/model/network.hpp"

namespace gridfold::pf::formats {

inline constexpr const char* kRatingNames[kRatingCount] = {"RATE1", "RATE2", "RATE3", "RATE4",  "RATE5",  "RATE6",
                                                           "RATE7", "RATE8", "RATE9", "RATE10", "RATE11", "RATE12"};
inline constexpr const char* kOwnerNames[kOwnerCount][2] = {{"O1", "F1"}, {"O2", "F2"}, {"O3", "F3"}, {"O4", "F4"}};

// Rating sets a version holds per branch and winding.
inline int rating_count(int version) { return version >= 34 ? kRatingCount : 3; }

template <class Io, class O>
void owner_fields(Io& io, O& owners, int first_owner) {
    for (int k = 0; k < kOwnerCount; ++k) {
        io.integer(kOwnerNames[k][0], owners[k].owner, k == 0 ? first_owner : 0);
        io.real(kOwnerNames[k][1], owners[k].fraction, 1.0);
    }
}

template <class Io, class R>
void rating_fields(Io& io, R& ratings) {
    for (int k = 0; k < rating_count(io.version); ++k) {
        double rating = ratings[k];
        io.real(kRatingNames[k], rating, 0.0);
        if constexpr (!std::is_const_v<R>) ratings.set(k, rating);
    }
}

template <class Io, class T>
void bus_fields(Io& io, T& b) {
    io.integer("I", b.number);
    io.text("NAME", b.name, kMaxBusNameLength, "");
    io.real("BASKV", b.base_kv, 0.0);
    io.integer("IDE", b.ide, kLoadBus);
    io.integer("AREA", b.area, 1);
    io.integer("ZONE", b.zone, 1);
    io.integer("OWNER", b.owner, 1);
    io.real("VM", b.vm_pu, 1.0);
    io.real("VA", b.va_deg, 0.0);
    io.real("NVHI", b.nvhi_pu, 1.1);
    io.real("NVLO", b.nvlo_pu, 0.9);
    io.real("EVHI", b.evhi_pu, 1.1);
    io.real("EVLO", b.evlo_pu, 0.9);
}

// `at` is the load's bus: its area, zone and owner are the defaults.
template <class Io, class T>
void load_fields(Io& io, T& l, const Bus& at) {
    io.identifier("ID", l.id);
    io.integer("STATUS", l.status, 1);
    io.integer("AREA", l.area, at.area);
    io.integer("ZONE", l.zone, at.zone);
    io.real("PL", l.pl_mw, 0.0);
    io.real("QL", l.ql_mvar, 0.0);
    io.real("IP", l.ip_mw, 0.0);
    io.real("IQ", l.iq_mvar, 0.0);
    io.real("YP", l.yp_mw, 0.0);
    io.real("YQ", l.yq_mvar, 0.0);
    io.integer("OWNER", l.owner, at.owner);
    io.integer("SCALE", l.scale, 1);
    io.integer("INTRPT", l.intrpt, 0);
    if (io.version >= 34) {
        io.real("DGENP", l.dgenp_mw, 0.0);
        io.real("DGENQ", l.dgenq_mvar, 0.0);
        io.integer("DGENF", l.dgenm, 0);
    }
    if (io.version >= 35) {
        io.trailing_text("LOADTYPE", l.loadtype, kMaxBusNameLength);
        io.own_name("NAME", l.name);
    }
}

template <class Io, class T>
void fixed_shunt_fields(Io& io, T& s) {
    io.identifier("ID", s.id);
    io.integer("STATUS", s.status, 1);
    io.real("GL", s.gl_mw, 0.0);
    io.real("BL", s.bl_mvar, 0.0);
}

// Generator records carry the plant data of their bus.
template <class Io, class M, class P>
void generator_fields(Io& io, M& m, P& p, const Bus& at, double sbase) {
    io.identifier("ID", m.id);
    io.real("PG", m.pg_mw, 0.0);
    io.real("QG", m.qg_mvar, 0.0);
    io.real("QT", m.qt_mvar, 9999.0);
    io.real("QB", m.qb_mvar, -9999.0);
    io.real("VS", p.vs_pu, 1.0);
    io.integer("IREG", p.ireg, 0);
    if (io.version >= 35 || io.generator_nreg) io.integer("NREG", p.nreg, 0);
    io.real("MBASE", m.mbase_mva, sbase);
    io.real("ZR", m.zr_pu, 0.0);
    io.real("ZX", m.zx_pu, 1.0);
    io.real("RT", m.rt_pu, 0.0);
    io.real("XT", m.xt_pu, 0.0);
    io.real("GTAP", m.gtap_pu, 1.0);
    io.integer("STAT", m.status, 1);
    io.real("RMPCT", p.rmpct, 100.0);
    io.real("PT", m.pt_mw, 9999.0);
    io.real("PB", m.pb_mw, -9999.0);
    if (io.version >= 35) io.integer("BASLOD", m.baslod, 0);
    owner_fields(io, m.owners, at.owner);
    io.integer("WMOD", m.wmod, 0);
    io.real("WPF", m.wpf, 1.0);
    if (io.version >= 35) io.own_name("NAME", m.name);
}

// After I and J. `met` is the file's MET code (1 from end, 2 to end).
template <class Io, class T>
void branch_fields(Io& io, T& b, int& met, int first_owner) {
    io.identifier("CKT", b.ckt);
    io.real("R", b.r_pu, 0.0);
    io.real("X", b.x_pu, 0.0);
    io.real("B", b.b_pu, 0.0);
    if (io.version >= 34) io.text("NAME", b.name, kMaxNameLength, "");
    rating_fields(io, b.ratings);
    io.real("GI", b.gi_pu, 0.0);
    io.real("BI", b.bi_pu, 0.0);
    io.real("GJ", b.gj_pu, 0.0);
    io.real("BJ", b.bj_pu, 0.0);
    io.integer("ST", b.status, 1);
    io.integer("MET", met, met);
    io.real("LEN", b.length, 0.0);
    owner_fields(io, b.owners, first_owner);
}

// After I and J. `met` is the file's MET code (1 from end, 2 to end).
template <class Io, class T>
void switching_device_fields(Io& io, T& b, int& met) {
    io.identifier("CKT", b.ckt);
    io.real("X", b.x_pu, 0.0001);
    rating_fields(io, b.ratings);
    io.integer("STAT", b.status, 1);
    io.integer("NSTAT", b.nstat, 1);
    io.integer("MET", met, 1);
    io.integer("STYPE", b.stype, 1);
    io.text("NAME", b.name, kMaxNameLength, "");
}

// After I, J, K. `nmetr` is the file's NMETR code.
template <class Io, class T>
void transformer_fields(Io& io, T& t, int& nmetr, int first_owner) {
    io.identifier("CKT", t.ckt);
    io.integer("CW", t.cw, 1);
    io.integer("CZ", t.cz, 1);
    io.integer("CM", t.cm, 1);
    io.real("MAG1", t.mag1, 0.0);
    io.real("MAG2", t.mag2, 0.0);
    io.integer("NMETR", nmetr, 2);
    io.text("NAME", t.name, kMaxNameLength, "");
    io.integer("STAT", t.status, 1);
    owner_fields(io, t.owners, first_owner);
    io.text("VECGRP", t.vecgrp, kMaxVectorGroupLength, "");
    if (io.version >= 35) io.integer("ZCOD", t.zcod, 0);
}

template <class Io, class T>
void transformer_impedance_fields(Io& io, T& t, double& vmstar, double& anstar, double sbase) {
    io.real("R1-2", t.r12, 0.0);
    io.real("X1-2", t.x12, 0.0);
    io.real("SBASE1-2", t.sbase12_mva, sbase);
    if (!t.three_winding()) return;
    io.real("R2-3", t.r23, 0.0);
    io.real("X2-3", t.x23, 0.0);
    io.real("SBASE2-3", t.sbase23_mva, sbase);
    io.real("R3-1", t.r31, 0.0);
    io.real("X3-1", t.x31, 0.0);
    io.real("SBASE3-1", t.sbase31_mva, sbase);
    io.real("VMSTAR", vmstar, 1.0);
    io.real("ANSTAR", anstar, 0.0);
}

// `full` is false for winding 2 of a two-winding transformer (WINDV and NOMV only);
// default_ratio is the ratio a missing WINDV takes.
template <class Io, class W>
void winding_fields(Io& io, W& w, bool full, double default_ratio) {
    io.real("WINDV", w.windv, default_ratio);
    io.real("NOMV", w.nomv_kv, 0.0);
    if (!full) return;
    io.real("ANG", w.ang_deg, 0.0);
    rating_fields(io, w.ratings);
    io.integer("COD", w.cod, 0);
    io.integer("CONT", w.cont, 0);
    if (io.version >= 35 || io.winding_node) io.integer("NODE", w.node, 0);
    const bool angle = w.cod == 3 || w.cod == -3 || w.cod == 5 || w.cod == -5;
    io.real("RMA", w.rma, angle ? 30.0 : 1.1);
    io.real("RMI", w.rmi, angle ? -30.0 : 0.9);
    io.real("VMA", w.vma, 1.1);
    io.real("VMI", w.vmi, 0.9);
    io.integer("NTP", w.ntp, 33);
    io.integer("TAB", w.tab, 0);
    io.real("CR", w.cr_pu, 0.0);
    io.real("CX", w.cx_pu, 0.0);
    io.real("CNXA", w.cnxa_deg, 0.0);
}

template <class Io, class T>
void area_fields(Io& io, T& a) {
    io.integer("I", a.number);
    io.integer("ISW", a.isw, 0);
    io.real("PDES", a.pdes_mw, 0.0);
    io.real("PTOL", a.ptol_mw, 10.0);
    io.text("ARNAME", a.name, kMaxBusNameLength, "");
}

template <class Io, class T>
void zone_fields(Io& io, T& z) {
    io.integer("I", z.number);
    io.text("ZONAME", z.name, kMaxBusNameLength, "");
}

template <class Io, class T>
void owner_record_fields(Io& io, T& o) {
    io.integer("I", o.number);
    io.text("OWNAME", o.name, kMaxBusNameLength, "");
}

template <class Io, class T>
void transfer_fields(Io& io, T& t) {
    io.integer("ARFROM", t.from_area);
    io.integer("ARTO", t.to_area);
    io.identifier("TRID", t.id);
    io.real("PTRAN", t.ptran_mw, 0.0);
}

template <class Io, class T>
void two_terminal_dc_fields(Io& io, T& d) {
    io.text("NAME", d.name, kMaxBusNameLength, "");
    io.integer("MDC", d.mdc, 0);
    io.real("RDC", d.rdc_ohm, 0.0);
    io.real("SETVL", d.setvl, 0.0);
    io.real("VSCHD", d.vschd_kv, 0.0);
    io.real("VCMOD", d.vcmod_kv, 0.0);
    io.real("RCOMP", d.rcomp_ohm, 0.0);
    io.real("DELTI", d.delti, 0.0);
    io.text("METER", d.meter, 1, "I");
    io.real("DCVMIN", d.dcvmin_kv, 0.0);
    io.integer("CCCITMX", d.cccitmx, 20);
    io.real("CCCACC", d.cccacc, 1.0);
}

template <class Io, class T>
void dc_converter_fields(Io& io, T& c) {
    io.integer("IP", c.bus);
    io.integer("NB", c.nb, 0);
    io.real("ANMX", c.anmx_deg, 0.0);
    io.real("ANMN", c.anmn_deg, 0.0);
    io.real("RC", c.rc_ohm, 0.0);
    io.real("XC", c.xc_ohm, 0.0);
    io.real("EBAS", c.ebas_kv, 0.0);
    io.real("TR", c.tr, 1.0);
    io.real("TAP", c.tap, 1.0);
    io.real("TMX", c.tmx, 1.5);
    io.real("TMN", c.tmn, 0.51);
    io.real("STP", c.stp, 0.00625);
    io.integer("IC", c.ic, 0);
    if (io.version >= 35) io.integer("ND", c.nd, 0);
    io.integer("IF", c.if_bus, 0);
    io.integer("IT", c.it_bus, 0);
    io.identifier("ID", c.id);
    io.real("XCAP", c.xcap_ohm, 0.0);
}

template <class Io, class T>
void vsc_dc_fields(Io& io, T& d) {
    io.text("NAME", d.name, kMaxBusNameLength, "");
    io.integer("MDC", d.mdc, 1);
    io.real("RDC", d.rdc_ohm, 0.0);
    owner_fields(io, d.owners, 1);
}

template <class Io, class T>
void vsc_converter_fields(Io& io, T& c) {
    io.integer("IBUS", c.bus);
    io.integer("TYPE", c.type, 1);
    io.integer("MODE", c.mode, 1);
    io.real("DCSET", c.dcset, 0.0);
    io.real("ACSET", c.acset, 1.0);
    io.real("ALOSS", c.aloss_kw, 0.0);
    io.real("BLOSS", c.bloss_kw_per_a, 0.0);
    io.real("MINLOSS", c.minloss_kw, 0.0);
    io.real("SMAX", c.smax_mva, 0.0);
    io.real("IMAX", c.imax_a, 0.0);
    io.real("PWF", c.pwf, 1.0);
    io.real("MAXQ", c.maxq_mvar, 9999.0);
    io.real("MINQ", c.minq_mvar, -9999.0);
    io.integer("VSREG", c.vsreg, 0);
    if (io.version >= 35) io.integer("NREG", c.nreg, 0);
    io.real("RMPCT", c.rmpct, 100.0);
}

// First line of a multi-terminal dc line; the counts are the number of records that follow.
template <class Io, class T>
void mtdc_fields(Io& io, T& d, int& nconv, int& ndcbs, int& ndcln) {
    io.text("NAME", d.name, kMaxBusNameLength, "");
    io.integer("NCONV", nconv);
    io.integer("NDCBS", ndcbs);
    io.integer("NDCLN", ndcln);
    io.integer("MDC", d.mdc, 0);
    io.integer("VCONV", d.vconv, 0);
    io.real("VCMOD", d.vcmod_kv, 0.0);
    io.integer("VCONVN", d.vconvn, 0);
}

template <class Io, class T>
void mtdc_converter_fields(Io& io, T& c) {
    io.integer("IB", c.bus);
    io.integer("N", c.n, 0);
    io.real("ANGMX", c.angmx_deg, 0.0);
    io.real("ANGMN", c.angmn_deg, 0.0);
    io.real("RC", c.rc_ohm, 0.0);
    io.real("XC", c.xc_ohm, 0.0);
    io.real("EBAS", c.ebas_kv, 0.0);
    io.real("TR", c.tr, 1.0);
    io.real("TAP", c.tap, 1.0);
    io.real("TPMX", c.tpmx, 1.5);
    io.real("TPMN", c.tpmn, 0.51);
    io.real("TSTP", c.tstp, 0.00625);
    io.real("SETVL", c.setvl, 0.0);
    io.real("DCPF", c.dcpf, 1.0);
    io.real("MARG", c.marg, 0.0);
    io.integer("CNVCOD", c.cnvcod, 1);
}

template <class Io, class T>
void mtdc_bus_fields(Io& io, T& b) {
    io.integer("IDC", b.idc);
    io.integer("IB", b.ib, 0);
    io.integer("AREA", b.area, 1);
    io.integer("ZONE", b.zone, 1);
    io.text("DCNAME", b.name, kMaxBusNameLength, "");
    io.integer("IDC2", b.idc2, 0);
    io.real("RGRND", b.rgrnd_ohm, 0.0);
    io.integer("OWNER", b.owner, 1);
}

template <class Io, class T>
void mtdc_link_fields(Io& io, T& l) {
    io.integer("IDC", l.idc);
    io.integer("JDC", l.jdc);
    io.identifier("DCCKT", l.ckt);
    io.integer("MET", l.met, 1);
    io.real("RDC", l.rdc_ohm, 0.0);
    io.real("LDC", l.ldc_mh, 0.0);
}

template <class Io, class T>
void facts_fields(Io& io, T& f) {
    io.text("NAME", f.name, kMaxBusNameLength, "");
    io.integer("I", f.from_bus);
    io.integer("J", f.to_bus, 0);
    io.integer("MODE", f.mode, 1);
    io.real("PDES", f.pdes_mw, 0.0);
    io.real("QDES", f.qdes_mvar, 0.0);
    io.real("VSET", f.vset_pu, 1.0);
    io.real("SHMX", f.shmx_mva, 9999.0);
    io.real("TRMX", f.trmx_mw, 9999.0);
    io.real("VTMN", f.vtmn_pu, 0.9);
    io.real("VTMX", f.vtmx_pu, 1.1);
    io.real("VSMX", f.vsmx_pu, 1.0);
    io.real("IMX", f.imx_mva, 0.0);
    io.real("LINX", f.linx_pu, 0.05);
    io.real("RMPCT", f.rmpct, 100.0);
    io.integer("OWNER", f.owner, 1);
    io.real("SET1", f.set1, 0.0);
    io.real("SET2", f.set2, 0.0);
    io.integer("VSREF", f.vsref, 0);
    io.integer("FCREG", f.fcreg, 0);
    if (io.version >= 35) io.integer("NREG", f.nreg, 0);
    io.text("MNAME", f.mname, kMaxBusNameLength, "");
}

// After I and the ID of version 35.
template <class Io, class T>
void switched_shunt_fields(Io& io, T& s) {
    io.integer("MODSW", s.modsw, 1);
    io.integer("ADJM", s.adjm, 0);
    io.integer("STAT", s.stat, 1);
    io.real("VSWHI", s.vswhi, 1.0);
    io.real("VSWLO", s.vswlo, 1.0);
    io.integer("SWREG", s.swreg, 0);
    if (io.version >= 35 || io.switched_shunt_nreg) io.integer("NREG", s.nreg, 0);
    io.real("RMPCT", s.rmpct, 100.0);
    io.text("RMIDNT", s.rmidnt, kMaxNameLength, "");
    io.real("BINIT", s.binit_mvar, 0.0);
}

template <class Io, class T>
void induction_machine_fields(Io& io, T& m, const Bus& at, double sbase) {
    io.identifier("ID", m.id);
    io.integer("STAT", m.status, 1);
    io.integer("SCODE", m.scode, 1);
    io.integer("DCODE", m.dcode, 2);
    io.integer("AREA", m.area, at.area);
    io.integer("ZONE", m.zone, at.zone);
    io.integer("OWNER", m.owner, at.owner);
    io.integer("TCODE", m.tcode, 1);
    io.integer("BCODE", m.bcode, 1);
    io.real("MBASE", m.mbase_mva, sbase);
    io.real("RATEKV", m.ratekv, 0.0);
    io.integer("PCODE", m.pcode, 1);
    io.real("PSET", m.pset_mw, 0.0);
    io.real("H", m.h, 1.0);
    io.real("A", m.a, 1.0);
    io.real("B", m.b, 1.0);
    io.real("D", m.d, 1.0);
    io.real("E", m.e, 1.0);
    io.real("RA", m.ra, 0.0);
    io.real("XA", m.xa, 0.0);
    io.real("XM", m.xm, 2.5);
    io.real("R1", m.r1, 999.0);
    io.real("X1", m.x1, 999.0);
    io.real("R2", m.r2, 999.0);
    io.real("X2", m.x2, 999.0);
    io.real("X3", m.x3, 0.0);
    io.real("E1", m.e1, 1.0);
    io.real("SE1", m.se1, 0.0);
    io.real("E2", m.e2, 1.2);
    io.real("SE2", m.se2, 0.0);
    io.real("IA1", m.ia1, 0.0);
    io.real("IA2", m.ia2, 0.0);
    io.real("XAMULT", m.xamult, 1.0);
    if (io.version >= 35) io.own_name("NAME", m.name);
}

template <class Io, class T>
void gne_fields(Io& io, T& g, int& nreal, int& nintg, int& nchar) {
    io.text("NAME", g.name, kMaxBusNameLength, "");
    io.text("MODEL", g.model, 16, "");
    int nterm = static_cast<int>(g.buses.size());
    io.integer("NTERM", nterm);
    if constexpr (Io::reading)
        io.bus_list("BUS", g.buses, nterm);
    else
        for (int bus : g.buses) io.integer("BUS", bus);
    io.integer("NREAL", nreal, 0);
    io.integer("NINTG", nintg, 0);
    io.integer("NCHAR", nchar, 0);
}

template <class Io, class T>
void gne_status_fields(Io& io, T& g) {
    io.integer("STATUS", g.status, 1);
    io.integer("OWNER", g.owner, 1);
    io.integer("NMETR", g.nmetr, 1);
}

template <class Io, class T>
void substation_fields(Io& io, T& s) {
    io.integer("IS", s.number);
    io.text("NAME", s.name, kMaxNameLength, "");
    io.real("LATI", s.lati_deg, 0.0);
    io.real("LONG", s.long_deg, 0.0);
    io.real("SRG", s.srg_ohm, 0.1);
}

template <class Io, class T>
void substation_node_fields(Io& io, T& n) {
    io.integer("NI", n.ni);
    io.text("NAME", n.name, kMaxNameLength, "");
    io.integer("I", n.bus);
    io.integer("STATUS", n.status, 1);
    io.real("VM", n.vm_pu, 1.0);
    io.real("VA", n.va_deg, 0.0);
}

}  // namespace gridfold::pf::formats
