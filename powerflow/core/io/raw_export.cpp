// RAW version 33 writer (see raw_export.hpp).
#include "core/io/raw_export.hpp"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <system_error>

namespace gridfold::pf::io {
namespace {

std::string number(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// Quoted text; a text holding a single quote is written between double quotes.
std::string quoted(const std::string& text) {
    char quote = text.find('\'') == std::string::npos ? '\'' : '"';
    return std::string(1, quote) + text + std::string(1, quote);
}

class Record {
public:
    Record& operator<<(int v) { return add(std::to_string(v)); }
    Record& operator<<(double v) { return add(number(v)); }
    Record& operator<<(const std::string& s) { return add(quoted(s)); }
    std::string str() const { return line_ + "\n"; }

private:
    Record& add(const std::string& field) {
        if (!line_.empty()) line_ += ",";
        line_ += field;
        return *this;
    }
    std::string line_;
};

void end_section(std::ostringstream& out, const char* ended, const char* next) {
    out << "0 / END OF " << ended;
    if (next) out << ", BEGIN " << next;
    out << "\n";
}

void owners(Record& r, const Owners& o) {
    for (const auto& owner : o) r << owner.owner << owner.fraction;
}

class Losses {
public:
    void note(const std::string& what) { ++counts_[what]; }
    void report(std::vector<std::string>& notes) const {
        for (const auto& [what, count] : counts_) {
            notes.push_back("version 33 cannot hold " + what + ": left out for " + std::to_string(count) + " elements");
        }
    }

private:
    std::map<std::string, int> counts_;
};

bool extra_ratings(const Ratings& ratings) {
    for (int k = 3; k < kRatingCount; ++k) {
        if (ratings[k] != 0.0) return true;
    }
    return false;
}

void write_winding(Record& r, const Winding& w, Losses& losses) {
    r << w.windv << w.nomv_kv << w.ang_deg << w.ratings[0] << w.ratings[1] << w.ratings[2] << w.cod << w.cont << w.rma
      << w.rmi << w.vma << w.vmi << w.ntp << w.tab << w.cr_pu << w.cx_pu << w.cnxa_deg;
    if (extra_ratings(w.ratings)) losses.note("ratings 4 to 12");
    if (w.node != 0) losses.note("node numbers");
}

}  // namespace

ImportOutcome render_raw33(const Network& net, std::string& text) {
    text.clear();
    std::map<int, int> switched_shunts_at_bus;
    for (const auto& s : net.switched_shunts) {
        if (++switched_shunts_at_bus[s.bus] > 1) {
            return ImportOutcome::failure(0, "version 33 holds one switched shunt per bus; bus " + std::to_string(s.bus) +
                                                 " has more");
        }
    }
    ImportOutcome outcome;
    Losses losses;
    std::ostringstream out;
    out << "0," << number(net.system.sbase_mva) << ",33,0,0," << number(net.system.base_frequency_hz)
        << " / written by the gridfold embedded engine\n";
    out << net.system.title1 << "\n" << net.system.title2 << "\n";

    for (const auto& b : net.buses) {
        if (b.star_point) continue;  // internal to three-winding transformers
        Record r;
        r << b.number << b.name << b.base_kv << b.ide << b.area << b.zone << b.owner << b.vm_pu << b.va_deg << b.nvhi_pu
          << b.nvlo_pu << b.evhi_pu << b.evlo_pu;
        out << r.str();
    }
    end_section(out, "BUS DATA", "LOAD DATA");

    for (const auto& l : net.loads) {
        Record r;
        r << l.bus << l.id << l.status << l.area << l.zone << l.pl_mw << l.ql_mvar << l.ip_mw << l.iq_mvar << l.yp_mw
          << l.yq_mvar << l.owner << l.scale << l.intrpt;
        if (l.dgenm != 0 || l.dgenp_mw != 0.0 || l.dgenq_mvar != 0.0) losses.note("load distributed generation");
        out << r.str();
    }
    end_section(out, "LOAD DATA", "FIXED SHUNT DATA");

    for (const auto& s : net.fixed_shunts) {
        Record r;
        r << s.bus << s.id << s.status << s.gl_mw << s.bl_mvar;
        out << r.str();
    }
    end_section(out, "FIXED SHUNT DATA", "GENERATOR DATA");

    std::map<int, const Plant*> plant_at;
    for (const auto& p : net.plants) plant_at.emplace(p.bus, &p);
    for (const auto& m : net.machines) {
        auto plant = plant_at.find(m.bus);
        const Plant* p = plant == plant_at.end() ? nullptr : plant->second;
        Record r;
        r << m.bus << m.id << m.pg_mw << m.qg_mvar << m.qt_mvar << m.qb_mvar << (p ? p->vs_pu : 1.0) << (p ? p->ireg : 0)
          << m.mbase_mva << m.zr_pu << m.zx_pu << m.rt_pu << m.xt_pu << m.gtap_pu << m.status
          << (p ? p->rmpct : 100.0) << m.pt_mw << m.pb_mw;
        owners(r, m.owners);
        r << m.wmod << m.wpf;
        if (m.baslod != 0) losses.note("machine BASLOD codes");
        if (p && p->nreg != 0) losses.note("node numbers");
        out << r.str();
    }
    end_section(out, "GENERATOR DATA", "BRANCH DATA");

    for (const auto& b : net.branches) {
        Record r;
        r << b.from_bus << b.to_bus << b.ckt << b.r_pu << b.x_pu << b.b_pu << b.ratings[0] << b.ratings[1] << b.ratings[2]
          << b.gi_pu << b.bi_pu << b.gj_pu << b.bj_pu << b.status << (b.metbus == b.to_bus ? 2 : 1) << b.length;
        owners(r, b.owners);
        if (extra_ratings(b.ratings)) losses.note("ratings 4 to 12");
        if (!b.name.empty()) losses.note("branch names");
        out << r.str();
    }
    end_section(out, "BRANCH DATA", "TRANSFORMER DATA");

    for (const auto& t : net.transformers) {
        bool three = t.three_winding();
        // NMETR names the non-metered end of a two-winding transformer.
        int nmetr = three ? (t.metbus == t.buses[0] ? 1 : t.metbus == t.buses[2] ? 3 : 2)
                          : (t.metbus == t.buses[1] ? 1 : 2);
        Record first;
        first << t.buses[0] << t.buses[1] << t.buses[2] << t.ckt << t.cw << t.cz << t.cm << t.mag1 << t.mag2 << nmetr
              << t.name << t.status;
        owners(first, t.owners);
        first << t.vecgrp;
        out << first.str();
        Record impedances;
        impedances << t.r12 << t.x12 << t.sbase12_mva;
        if (three) {
            const Bus* star = net.bus(t.star_bus);
            impedances << t.r23 << t.x23 << t.sbase23_mva << t.r31 << t.x31 << t.sbase31_mva
                       << (star ? star->vm_pu : 1.0) << (star ? star->va_deg : 0.0);
            if (t.zcod != 0) losses.note("transformer ZCOD codes");
        }
        out << impedances.str();
        for (int k = 0; k < (three ? 3 : 2); ++k) {
            Record winding;
            if (three || k == 0) {
                write_winding(winding, t.windings[k], losses);
            } else {
                winding << t.windings[1].windv << t.windings[1].nomv_kv;
            }
            out << winding.str();
        }
    }
    end_section(out, "TRANSFORMER DATA", "AREA DATA");
    end_section(out, "AREA DATA", "TWO-TERMINAL DC DATA");
    end_section(out, "TWO-TERMINAL DC DATA", "VSC DC LINE DATA");
    end_section(out, "VSC DC LINE DATA", "IMPEDANCE CORRECTION DATA");
    end_section(out, "IMPEDANCE CORRECTION DATA", "MULTI-TERMINAL DC DATA");
    end_section(out, "MULTI-TERMINAL DC DATA", "MULTI-SECTION LINE DATA");
    end_section(out, "MULTI-SECTION LINE DATA", "ZONE DATA");
    end_section(out, "ZONE DATA", "INTER-AREA TRANSFER DATA");
    end_section(out, "INTER-AREA TRANSFER DATA", "OWNER DATA");
    end_section(out, "OWNER DATA", "FACTS DEVICE DATA");
    end_section(out, "FACTS DEVICE DATA", "SWITCHED SHUNT DATA");

    for (const auto& s : net.switched_shunts) {
        Record r;
        r << s.bus << s.modsw << s.adjm << s.stat << s.vswhi << s.vswlo << s.swreg << s.rmpct << s.rmidnt
          << s.binit_mvar;
        int last = kShuntBlockCount;
        while (last > 0 && s.blocks[last - 1].n == 0 && s.blocks[last - 1].b_mvar == 0.0) --last;
        for (int k = 0; k < last; ++k) {
            r << s.blocks[k].n << s.blocks[k].b_mvar;
            if (s.blocks[k].s == 0) losses.note("switched shunt block status");
        }
        if (s.id != "1") losses.note("switched shunt identifiers");
        if (s.nreg != 0) losses.note("node numbers");
        out << r.str();
    }
    end_section(out, "SWITCHED SHUNT DATA", "GNE DATA");
    end_section(out, "GNE DATA", "INDUCTION MACHINE DATA");

    for (const auto& m : net.induction_machines) {
        Record r;
        r << m.bus << m.id << m.status << m.scode << m.dcode << m.area << m.zone << m.owner << m.tcode << m.bcode
          << m.mbase_mva << m.ratekv << m.pcode << m.pset_mw << m.h << m.a << m.b << m.d << m.e << m.ra << m.xa << m.xm
          << m.r1 << m.x1 << m.r2 << m.x2 << m.x3 << m.e1 << m.se1 << m.e2 << m.se2 << m.ia1 << m.ia2 << m.xamult;
        out << r.str();
    }
    end_section(out, "INDUCTION MACHINE DATA", nullptr);
    out << "Q\n";
    losses.report(outcome.notes);
    text = out.str();
    return outcome;
}

std::string write_file_whole(const std::string& path, const std::string& text) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path temporary = target;
    temporary += ".tmp" + std::to_string(std::random_device{}() % 1000000);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return "cannot create " + temporary.string();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return "cannot write " + temporary.string();
        }
    }
    std::error_code error;
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return "cannot rename " + temporary.string() + " to " + target.string() + ": " + error.message();
    }
    return {};
}

}  // namespace gridfold::pf::io
