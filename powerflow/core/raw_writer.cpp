// Writer of RAW version 35 text cases.
#include <algorithm>
#include <charconv>
#include <numeric>
#include <ostream>

#include "core/case_file.hpp"
#include "core/raw_sections.hpp"

namespace gridfold::pf {

std::string format_real(double value) {
    if (value == 0.0) return "0.0";  // also folds -0 so that equal cases give equal files
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    // A real always shows as a real, so that a reader can tell it from an integer field.
    if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
    return text;
}

namespace {

// One record line: fields joined by commas.
class Record {
public:
    Record& i(long value) { return add(std::to_string(value)); }
    Record& r(double value) { return add(format_real(value)); }
    Record& s(const std::string& text) { return add("'" + text + "'"); }
    Record& owners(const Owners& owners) {
        for (const auto& o : owners) i(o.owner).r(o.fraction);
        return *this;
    }
    Record& ratings(const Ratings& ratings) {
        for (double v : ratings) r(v);
        return *this;
    }
    void write(std::ostream& out) const { out << text_ << '\n'; }

private:
    Record& add(const std::string& field) {
        if (!text_.empty()) text_ += ',';
        text_ += field;
        return *this;
    }
    std::string text_;
};

// Element positions in a stable order by the bus number of `bus_of`.
template <class T, class BusOf>
std::vector<std::size_t> order_by_bus(const std::vector<T>& elements, BusOf bus_of) {
    std::vector<std::size_t> order(elements.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return bus_of(elements[a]) < bus_of(elements[b]); });
    return order;
}

void write_winding_full(std::ostream& out, const Winding& w) {
    Record rec;
    rec.r(w.windv).r(w.nomv_kv).r(w.ang_deg).ratings(w.ratings);
    rec.i(w.cod).i(w.cont).i(w.node).r(w.rma).r(w.rmi).r(w.vma).r(w.vmi).i(w.ntp).i(w.tab);
    rec.r(w.cr_pu).r(w.cx_pu).r(w.cnxa_deg);
    rec.write(out);
}

int winding_index(const Transformer& t, int bus) {
    for (int w = 0; w < 3; ++w)
        if (t.buses[w] == bus) return w + 1;
    return 1;
}

void end_section(std::ostream& out, std::size_t section) {
    const auto& sections = raw_sections(kWrittenRawVersion);
    out << "0 / END OF " << sections[section] << " DATA";
    if (section + 1 < sections.size()) out << ", BEGIN " << sections[section + 1] << " DATA";
    out << '\n';
}

}  // namespace

void write_raw_case(const Network& net, std::ostream& out) {
    // Case identification: IC, SBASE, REV, XFRRAT, NXFRAT, BASFRQ, then two heading lines.
    Record head;
    head.i(0).r(net.system.sbase_mva).i(kWrittenRawVersion).i(0).i(0).r(net.system.base_frequency_hz);
    head.write(out);
    out << net.system.title1 << '\n' << net.system.title2 << '\n';
    out << "0 / END OF SYSTEM-WIDE DATA, BEGIN BUS DATA\n";

    std::size_t section = 0;
    auto next_section = [&](RawSection which) {
        while (section < static_cast<std::size_t>(which)) end_section(out, section++);
    };

    next_section(RawSection::kBus);
    std::vector<const Bus*> buses;
    for (const Bus& b : net.buses)
        if (!b.star_point) buses.push_back(&b);
    std::stable_sort(buses.begin(), buses.end(), [](const Bus* a, const Bus* b) { return a->number < b->number; });
    for (const Bus* b : buses) {
        Record rec;
        rec.i(b->number).s(b->name).r(b->base_kv).i(b->ide).i(b->area).i(b->zone).i(b->owner);
        rec.r(b->vm_pu).r(b->va_deg).r(b->nvhi_pu).r(b->nvlo_pu).r(b->evhi_pu).r(b->evlo_pu);
        rec.write(out);
    }
    end_section(out, section++);

    for (std::size_t i : order_by_bus(net.loads, [](const Load& l) { return l.bus; })) {
        const Load& l = net.loads[i];
        Record rec;
        rec.i(l.bus).s(l.id).i(l.status).i(l.area).i(l.zone).r(l.pl_mw).r(l.ql_mvar).r(l.ip_mw).r(l.iq_mvar);
        rec.r(l.yp_mw).r(l.yq_mvar).i(l.owner).i(l.scale).i(l.intrpt).r(l.dgenp_mw).r(l.dgenq_mvar).i(l.dgenm);
        rec.s("").s(l.name);  // LOADTYPE (not modelled), then the load name
        rec.write(out);
    }
    end_section(out, section++);

    for (std::size_t i : order_by_bus(net.fixed_shunts, [](const FixedShunt& s) { return s.bus; })) {
        const FixedShunt& s = net.fixed_shunts[i];
        Record rec;
        rec.i(s.bus).s(s.id).i(s.status).r(s.gl_mw).r(s.bl_mvar);
        rec.write(out);
    }
    end_section(out, section++);

    // Generator records carry the plant data of their bus.
    for (std::size_t i : order_by_bus(net.machines, [](const Machine& m) { return m.bus; })) {
        const Machine& m = net.machines[i];
        Plant plant;
        for (const Plant& p : net.plants)
            if (p.bus == m.bus) plant = p;
        Record rec;
        rec.i(m.bus).s(m.id).r(m.pg_mw).r(m.qg_mvar).r(m.qt_mvar).r(m.qb_mvar).r(plant.vs_pu).i(plant.ireg);
        rec.i(plant.nreg).r(m.mbase_mva).r(m.zr_pu).r(m.zx_pu).r(m.rt_pu).r(m.xt_pu).r(m.gtap_pu).i(m.status);
        rec.r(plant.rmpct).r(m.pt_mw).r(m.pb_mw).i(m.baslod).owners(m.owners).i(m.wmod).r(m.wpf).s(m.name);
        rec.write(out);
    }
    end_section(out, section++);

    for (std::size_t i : order_by_bus(net.branches, [](const Branch& b) { return b.from_bus; })) {
        const Branch& b = net.branches[i];
        Record rec;
        rec.i(b.from_bus).i(b.to_bus).s(b.ckt).r(b.r_pu).r(b.x_pu).r(b.b_pu).s(b.name).ratings(b.ratings);
        rec.r(b.gi_pu).r(b.bi_pu).r(b.gj_pu).r(b.bj_pu).i(b.status).i(b.metbus == b.to_bus ? 2 : 1);
        rec.r(b.length).owners(b.owners);
        rec.write(out);
    }
    end_section(out, section++);

    next_section(RawSection::kTransformer);
    for (std::size_t i : order_by_bus(net.transformers, [](const Transformer& t) { return t.buses[0]; })) {
        const Transformer& t = net.transformers[i];
        const bool three = t.three_winding();
        // NMETR names the non-metered winding; a two-winding record's metbus is the metered end.
        int nmetr = three ? winding_index(t, t.metbus) : (t.metbus == t.buses[1] ? 1 : 2);
        Record line1;
        line1.i(t.buses[0]).i(t.buses[1]).i(t.buses[2]).s(t.ckt).i(t.cw).i(t.cz).i(t.cm).r(t.mag1).r(t.mag2);
        line1.i(nmetr).s(t.name).i(t.status).owners(t.owners).s(t.vecgrp).i(t.zcod);
        line1.write(out);
        Record line2;
        line2.r(t.r12).r(t.x12).r(t.sbase12_mva);
        if (three) {
            const Bus* star = net.bus(t.star_bus);
            line2.r(t.r23).r(t.x23).r(t.sbase23_mva).r(t.r31).r(t.x31).r(t.sbase31_mva);
            line2.r(star ? star->vm_pu : 1.0).r(star ? star->va_deg : 0.0);
        }
        line2.write(out);
        write_winding_full(out, t.windings[0]);
        if (three) {
            write_winding_full(out, t.windings[1]);
            write_winding_full(out, t.windings[2]);
        } else {
            Record line4;
            line4.r(t.windings[1].windv).r(t.windings[1].nomv_kv);
            line4.write(out);
        }
    }
    end_section(out, section++);

    next_section(RawSection::kSwitchedShunt);
    for (std::size_t i : order_by_bus(net.switched_shunts, [](const SwitchedShunt& s) { return s.bus; })) {
        const SwitchedShunt& s = net.switched_shunts[i];
        Record rec;
        rec.i(s.bus).s(s.id).i(s.modsw).i(s.adjm).i(s.stat).r(s.vswhi).r(s.vswlo).i(s.swreg).i(s.nreg);
        rec.r(s.rmpct).s(s.rmidnt).r(s.binit_mvar);
        for (const auto& block : s.blocks) rec.i(block.s).i(block.n).r(block.b_mvar);
        rec.s(s.name);
        rec.write(out);
    }
    end_section(out, section++);

    next_section(RawSection::kInductionMachine);
    for (std::size_t i : order_by_bus(net.induction_machines, [](const InductionMachine& m) { return m.bus; })) {
        const InductionMachine& m = net.induction_machines[i];
        Record rec;
        rec.i(m.bus).s(m.id).i(m.status).i(m.scode).i(m.dcode).i(m.area).i(m.zone).i(m.owner).i(m.tcode);
        rec.i(m.bcode).r(m.mbase_mva).r(m.ratekv).i(m.pcode).r(m.pset_mw).r(m.h).r(m.a).r(m.b).r(m.d).r(m.e);
        rec.r(m.ra).r(m.xa).r(m.xm).r(m.r1).r(m.x1).r(m.r2).r(m.x2).r(m.x3).r(m.e1).r(m.se1).r(m.e2).r(m.se2);
        rec.r(m.ia1).r(m.ia2).r(m.xamult).s(m.name);
        rec.write(out);
    }
    end_section(out, section++);
    while (section < raw_sections(kWrittenRawVersion).size()) end_section(out, section++);
    out << "Q\n";
}

}  // namespace gridfold::pf
