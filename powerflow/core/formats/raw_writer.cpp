// Writer of RAW case text, versions 33 and 35 (see raw_format.hpp).
//
// Elements are written in a stable order by bus number, so that equal cases give equal
// files whatever the order the elements were added in. Star points of three-winding
// transformers are not written: their voltage travels as the transformer's VMSTAR/ANSTAR
// and the reader makes them anew.
#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>

#include "core/formats/raw_layouts.hpp"
#include "core/formats/raw_reader.hpp"
#include "core/formats/raw_references.hpp"
#include "core/formats/raw_text.hpp"
#include "core/formats/raw_writer.hpp"

namespace gridfold::pf::formats {
namespace {

// The writing side of the record layouts: fields of one line joined by commas.
class FieldsOut {
public:
    static constexpr bool reading = false;
    int version;
    bool generator_nreg = false;
    bool winding_node = false;
    bool switched_shunt_nreg = false;

    FieldsOut(TextBuffer& out, int v, const char* record) : version(v), out_(out), record_(record) {}

    void integer(const char*, int value) { separator(), append_integer(out_, value); }
    void integer(const char* name, int value, int) { integer(name, value); }
    void real(const char* name, double value, double = 0.0) {
        if (!std::isfinite(value))
            throw RawFault{0, std::string(record_) + " field " + name + " is not a finite number (" +
                                  std::to_string(value) + "): a case file cannot hold it"};
        separator();
        append_real(out_, value);
    }
    void text(const char*, const std::string& value, std::size_t = 0, std::string_view = {}) {
        separator();
        append_quoted(out_, value);
    }
    void identifier(const char* name, const std::string& value) { text(name, value); }
    void own_name(const char* name, const std::string& value) { text(name, value); }
    void trailing_text(const char* name, const std::string& value, std::size_t) { text(name, value); }
    void values(const RawValues& values) {
        for (const RawValue& v : values) {
            separator();
            if (v.quoted)
                append_quoted(out_, v.text);
            else
                out_ += v.text;
        }
    }
    void end() {
        out_ += '\n';
        first_ = true;
    }

private:
    void separator() {
        if (!first_) out_ += ',';
        first_ = false;
    }
    TextBuffer& out_;
    const char* record_;
    bool first_ = true;
};

// Counts of data a version cannot hold, reported one line per kind.
class Losses {
public:
    void note(const std::string& what, bool lost = true) {
        if (lost) ++counts_[what];
    }
    // Data written in another record kind the version holds, rather than left out.
    void converted(const std::string& what, const std::string& as) { ++conversions_[{what, as}]; }
    void report(int version, std::vector<std::string>& notes) const {
        for (const auto& [what, count] : counts_)
            notes.push_back("version " + std::to_string(version) + " cannot hold " + what + ": left out for " +
                            std::to_string(count) + " elements");
        for (const auto& [what_as, count] : conversions_)
            notes.push_back("version " + std::to_string(version) + " cannot hold " + what_as.first + ": written as " +
                            what_as.second + " for " + std::to_string(count) + " elements");
    }

private:
    std::map<std::string, int> counts_;
    std::map<std::pair<std::string, std::string>, int> conversions_;
};

template <class T, class BusOf>
std::vector<std::size_t> order_by_bus(const std::vector<T>& elements, BusOf bus_of) {
    std::vector<std::size_t> order(elements.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return bus_of(elements[a]) < bus_of(elements[b]); });
    return order;
}

bool extra_ratings(const Ratings& ratings) {
    for (int k = 3; k < kRatingCount; ++k)
        if (ratings[k] != 0.0) return true;
    return false;
}

class RawCaseWriter {
public:
    RawCaseWriter(const Network& net, int version, TextBuffer& out) : net_(net), version_(version), out_(out) {
        out_.restart(size_estimate(net));
    }

    // Room for the whole text of most cases, so that the buffer seldom grows while writing.
    static std::size_t size_estimate(const Network& net) {
        return 4096 + net.buses.size() * 120 + net.loads.size() * 120 + net.machines.size() * 250 +
               net.branches.size() * 200 + net.transformers.size() * 600;
    }

    void write(std::vector<std::string>& notes) {
        if (version_ < 34) check_one_switched_shunt_per_bus();
        write_header();
        const auto& names = raw_sections(version_);
        for (std::size_t k = 0; k < names.size(); ++k) {
            write_section(names[k]);
            out_ += "0 / END OF ";
            out_ += names[k];
            out_ += " DATA";
            if (k + 1 < names.size()) {
                out_ += ", BEGIN ";
                out_ += names[k + 1];
                out_ += " DATA";
            }
            out_ += '\n';
        }
        out_ += "Q\n";
        losses_.report(version_, notes);
    }

private:
    FieldsOut line(const char* record) { return FieldsOut(out_, version_, record); }

    void check_one_switched_shunt_per_bus() const {
        std::map<int, int> at_bus;
        for (const SwitchedShunt& s : net_.switched_shunts)
            if (++at_bus[s.bus] > 1)
                throw RawFault{-1, "version " + std::to_string(version_) + " holds one switched shunt per bus; bus " +
                                       std::to_string(s.bus) + " has more"};
    }

    void write_header() {
        FieldsOut head = line("case identification");
        head.integer("IC", 0);
        head.real("SBASE", net_.system.sbase_mva);
        head.integer("REV", version_);
        head.integer("XFRRAT", net_.system.xfrrat);
        head.integer("NXFRAT", net_.system.nxfrat);
        head.real("BASFRQ", net_.system.base_frequency_hz);
        head.end();
        out_ += net_.system.title1;
        out_ += '\n';
        out_ += net_.system.title2;
        out_ += '\n';
        if (version_ >= 34) {
            for (const RawValues& record : net_.system_wide) {
                FieldsOut f = line("system-wide data");
                f.values(record);
                f.end();
            }
            out_ += "0 / END OF SYSTEM-WIDE DATA, BEGIN BUS DATA\n";
        } else {
            losses_.note("system-wide data", !net_.system_wide.empty());
            losses_.note("substation data", !net_.substations.empty());
        }
    }

    void write_section(const std::string& name) {
        if (name == "BUS")
            write_buses();
        else if (name == "LOAD")
            write_loads();
        else if (name == "FIXED SHUNT")
            write_fixed_shunts();
        else if (name == "GENERATOR")
            write_generators();
        else if (name == "BRANCH")
            write_branches();
        else if (name == "SYSTEM SWITCHING DEVICE")
            write_switching_devices();
        else if (name == "TRANSFORMER")
            write_transformers();
        else if (name == "AREA")
            write_areas();
        else if (name == "TWO-TERMINAL DC")
            write_two_terminal_dc();
        else if (name == "VSC DC LINE")
            write_vsc_dc();
        else if (name == "IMPEDANCE CORRECTION")
            write_impedance_corrections();
        else if (name == "MULTI-TERMINAL DC")
            write_multi_terminal_dc();
        else if (name == "MULTI-SECTION LINE")
            write_multi_section_lines();
        else if (name == "ZONE")
            write_zones();
        else if (name == "INTER-AREA TRANSFER")
            write_transfers();
        else if (name == "OWNER")
            write_owners();
        else if (name == "FACTS DEVICE")
            write_facts();
        else if (name == "SWITCHED SHUNT")
            write_switched_shunts();
        else if (name == "GNE")
            write_gne();
        else if (name == "INDUCTION MACHINE")
            write_induction_machines();
        else if (name == "SUBSTATION")
            write_substations();
    }

    void write_buses() {
        std::vector<const Bus*> buses;
        buses.reserve(net_.buses.size());
        for (const Bus& b : net_.buses)
            if (!b.star_point) buses.push_back(&b);
        std::stable_sort(buses.begin(), buses.end(), [](const Bus* a, const Bus* b) { return a->number < b->number; });
        for (const Bus* b : buses) {
            FieldsOut f = line("bus");
            bus_fields(f, *b);
            f.end();
        }
    }

    void write_loads() {
        for (std::size_t i : order_by_bus(net_.loads, [](const Load& l) { return l.bus; })) {
            const Load& l = net_.loads[i];
            FieldsOut f = line("load");
            f.integer("I", l.bus);
            load_fields(f, l, *net_.bus(l.bus));
            f.end();
            if (version_ < 34)
                losses_.note("load distributed generation", l.dgenm != 0 || l.dgenp_mw != 0.0 || l.dgenq_mvar != 0.0);
            if (version_ < 35) {
                losses_.note("load types", !l.loadtype.empty());
                losses_.note("load names", !l.name.empty());
            }
        }
    }

    void write_fixed_shunts() {
        for (std::size_t i : order_by_bus(net_.fixed_shunts, [](const FixedShunt& s) { return s.bus; })) {
            const FixedShunt& s = net_.fixed_shunts[i];
            FieldsOut f = line("fixed shunt");
            f.integer("I", s.bus);
            fixed_shunt_fields(f, s);
            f.end();
        }
    }

    void write_generators() {
        std::map<int, const Plant*> plant_at;
        for (const Plant& p : net_.plants) plant_at[p.bus] = &p;
        const Plant no_plant;
        for (std::size_t i : order_by_bus(net_.machines, [](const Machine& m) { return m.bus; })) {
            const Machine& m = net_.machines[i];
            auto found = plant_at.find(m.bus);
            const Plant& p = found == plant_at.end() ? no_plant : *found->second;
            FieldsOut f = line("generator");
            f.integer("I", m.bus);
            generator_fields(f, m, p, *net_.bus(m.bus), net_.system.sbase_mva);
            f.end();
            if (version_ < 35) {
                losses_.note("machine BASLOD codes", m.baslod != 0);
                losses_.note("node numbers", p.nreg != 0);
                losses_.note("machine names", !m.name.empty());
            }
        }
    }

    // Version 33 has no switching devices: they go with the lines, without resistance or
    // charging, so that the network keeps the connections they make.
    void write_branches() {
        for (std::size_t i : order_by_bus(net_.branches, [](const Branch& b) { return b.from_bus; })) {
            const Branch& b = net_.branches[i];
            if (b.switching_device() && version_ >= 34) continue;
            FieldsOut f = line("branch");
            f.integer("I", b.from_bus);
            f.integer("J", b.to_bus);
            int met = b.metbus == b.to_bus ? 2 : 1;
            branch_fields(f, b, met, 0);
            f.end();
            if (version_ < 34) {
                if (b.switching_device()) losses_.converted("system switching devices", "lines");
                losses_.note("ratings 4 to 12", extra_ratings(b.ratings));
                losses_.note("branch names", !b.name.empty());
            }
        }
    }

    void write_switching_devices() {
        for (std::size_t i : order_by_bus(net_.branches, [](const Branch& b) { return b.from_bus; })) {
            const Branch& b = net_.branches[i];
            if (!b.switching_device()) continue;
            FieldsOut f = line("system switching device");
            f.integer("I", b.from_bus);
            f.integer("J", b.to_bus);
            int met = b.metbus == b.to_bus ? 2 : 1;
            switching_device_fields(f, b, met);
            f.end();
            losses_.note("switching device resistance, charging, line shunts and length",
                         b.r_pu != 0.0 || b.b_pu != 0.0 || b.gi_pu != 0.0 || b.bi_pu != 0.0 || b.gj_pu != 0.0 ||
                             b.bj_pu != 0.0 || b.length != 0.0);
        }
    }

    void write_transformers() {
        for (std::size_t i : order_by_bus(net_.transformers, [](const Transformer& t) { return t.buses[0]; })) {
            const Transformer& t = net_.transformers[i];
            const bool three = t.three_winding();
            // NMETR names the non-metered winding; a two-winding record's metbus is the metered end.
            int nmetr = 1;
            if (three) {
                for (int w = 0; w < 3; ++w)
                    if (t.buses[w] == t.metbus) nmetr = w + 1;
            } else {
                nmetr = t.metbus == t.buses[1] ? 1 : 2;
            }
            FieldsOut first = line("transformer");
            first.integer("I", t.buses[0]);
            first.integer("J", t.buses[1]);
            first.integer("K", t.buses[2]);
            transformer_fields(first, t, nmetr, 0);
            first.end();
            const Bus* star = three ? net_.bus(t.star_bus) : nullptr;
            double vmstar = star ? star->vm_pu : 1.0, anstar = star ? star->va_deg : 0.0;
            FieldsOut impedances = line("transformer impedance");
            transformer_impedance_fields(impedances, t, vmstar, anstar, 0.0);
            impedances.end();
            for (int k = 0; k < (three ? 3 : 2); ++k) {
                FieldsOut w = line("transformer winding");
                const bool full = three || k == 0;
                winding_fields(w, t.windings[k], full, 0.0);
                w.end();
                if (version_ < 34 && full) losses_.note("ratings 4 to 12", extra_ratings(t.windings[k].ratings));
                if (version_ < 35 && full) losses_.note("node numbers", t.windings[k].node != 0);
            }
            if (version_ < 35) losses_.note("transformer ZCOD codes", t.zcod != 0);
        }
    }

    void write_areas() {
        for (const Area& a : references().areas) {
            FieldsOut f = line("area");
            area_fields(f, a);
            f.end();
        }
    }
    void write_zones() {
        for (const Zone& z : references().zones) {
            FieldsOut f = line("zone");
            zone_fields(f, z);
            f.end();
        }
    }
    void write_owners() {
        for (const Owner& o : references().owners) {
            FieldsOut f = line("owner");
            owner_record_fields(f, o);
            f.end();
        }
    }
    void write_transfers() {
        for (const InterAreaTransfer& t : net_.transfers) {
            FieldsOut f = line("inter-area transfer");
            transfer_fields(f, t);
            f.end();
        }
    }

    void write_two_terminal_dc() {
        for (const TwoTerminalDcLine& d : net_.two_terminal_dc_lines) {
            FieldsOut f = line("two-terminal dc line");
            two_terminal_dc_fields(f, d);
            f.end();
            for (const DcConverter* c : {&d.rectifier, &d.inverter}) {
                FieldsOut g = line("two-terminal dc converter");
                dc_converter_fields(g, *c);
                g.end();
                if (version_ < 35) losses_.note("node numbers", c->nd != 0);
            }
        }
    }

    void write_vsc_dc() {
        for (const VscDcLine& d : net_.vsc_dc_lines) {
            FieldsOut f = line("VSC dc line");
            vsc_dc_fields(f, d);
            f.end();
            for (const VscConverter& c : d.converters) {
                FieldsOut g = line("VSC dc converter");
                vsc_converter_fields(g, c);
                g.end();
                if (version_ < 35) losses_.note("node numbers", c.nreg != 0);
            }
        }
    }

    void write_impedance_corrections() {
        for (const ImpedanceCorrection& table : net_.impedance_corrections) {
            FieldsOut f = line("impedance correction table");
            f.integer("I", table.number);
            if (version_ < 34) {
                std::size_t written = 0;
                bool complex_factors = false;
                for (const CorrectionPoint& p : table.points) {
                    if (written == 11) break;
                    f.real("T", p.t);
                    f.real("F", p.f_re);
                    ++written;
                    complex_factors = complex_factors || p.f_im != 0.0;
                }
                losses_.note("complex impedance correction factors", complex_factors);
                losses_.note("impedance correction points beyond eleven", table.points.size() > 11);
                f.end();
                continue;
            }
            // Six points to a line, the end point 0, 0, 0 after the last one on its line:
            // other readers take a line of fewer points as the table's last line.
            std::size_t on_line = 0;
            for (const CorrectionPoint& p : table.points) {
                if (on_line == 6) {
                    f.end();
                    on_line = 0;
                }
                f.real("T", p.t);
                f.real("F", p.f_re);
                f.real("F", p.f_im);
                ++on_line;
            }
            f.real("T", 0.0);
            f.real("F", 0.0);
            f.real("F", 0.0);
            f.end();
        }
    }

    void write_multi_terminal_dc() {
        for (const MultiTerminalDcLine& d : net_.multi_terminal_dc_lines) {
            FieldsOut f = line("multi-terminal dc line");
            int nconv = static_cast<int>(d.converters.size()), ndcbs = static_cast<int>(d.dc_buses.size()),
                ndcln = static_cast<int>(d.links.size());
            mtdc_fields(f, d, nconv, ndcbs, ndcln);
            f.end();
            for (const MtdcConverter& c : d.converters) {
                FieldsOut g = line("multi-terminal dc converter");
                mtdc_converter_fields(g, c);
                g.end();
            }
            for (const MtdcBus& b : d.dc_buses) {
                FieldsOut g = line("multi-terminal dc bus");
                mtdc_bus_fields(g, b);
                g.end();
            }
            for (const MtdcLink& l : d.links) {
                FieldsOut g = line("multi-terminal dc link");
                mtdc_link_fields(g, l);
                g.end();
            }
        }
    }

    void write_multi_section_lines() {
        for (const MultiSectionLine& m : net_.multi_section_lines) {
            FieldsOut f = line("multi-section line");
            f.integer("I", m.from_bus);
            f.integer("J", m.to_bus);
            f.text("ID", m.id);
            f.integer("MET", m.met);
            for (int bus : m.dummy_buses) f.integer("DUM", bus);
            f.end();
        }
    }

    void write_facts() {
        for (const FactsDevice& d : net_.facts_devices) {
            FieldsOut f = line("FACTS device");
            facts_fields(f, d);
            f.end();
            if (version_ < 35) losses_.note("node numbers", d.nreg != 0);
        }
    }

    void write_switched_shunts() {
        for (std::size_t i : order_by_bus(net_.switched_shunts, [](const SwitchedShunt& s) { return s.bus; })) {
            const SwitchedShunt& s = net_.switched_shunts[i];
            FieldsOut f = line("switched shunt");
            f.integer("I", s.bus);
            if (version_ >= 35) f.identifier("ID", s.id);
            switched_shunt_fields(f, s);
            if (version_ >= 35) {
                for (const ShuntBlock& block : s.blocks) {
                    f.integer("S", block.s);
                    f.integer("N", block.n);
                    f.real("B", block.b_mvar);
                }
                f.own_name("NAME", s.name);
            } else {
                int last = kShuntBlockCount;
                while (last > 0 && s.blocks[last - 1].n == 0 && s.blocks[last - 1].b_mvar == 0.0) --last;
                for (int k = 0; k < last; ++k) {
                    f.integer("N", s.blocks[k].n);
                    f.real("B", s.blocks[k].b_mvar);
                    losses_.note("switched shunt block status", s.blocks[k].s == 0);
                }
                losses_.note("switched shunt identifiers", s.id != "1");
                losses_.note("node numbers", s.nreg != 0);
                losses_.note("switched shunt names", !s.name.empty());
            }
            f.end();
        }
    }

    void write_gne() {
        for (const GneDevice& g : net_.gne_devices) {
            FieldsOut f = line("GNE device");
            int nreal = static_cast<int>(g.reals.size()), nintg = static_cast<int>(g.integers.size()),
                nchar = static_cast<int>(g.chars.size());
            gne_fields(f, g, nreal, nintg, nchar);
            f.end();
            FieldsOut s = line("GNE device");
            gne_status_fields(s, g);
            s.end();
            for (const RawValues* values : {&g.reals, &g.integers, &g.chars}) {
                // Ten values to a line.
                for (std::size_t k = 0; k < values->size(); k += 10) {
                    FieldsOut d = line("GNE device data");
                    d.values(
                        RawValues(values->begin() + static_cast<std::ptrdiff_t>(k),
                                  values->begin() + static_cast<std::ptrdiff_t>(std::min(k + 10, values->size()))));
                    d.end();
                }
            }
        }
    }

    void write_induction_machines() {
        for (std::size_t i : order_by_bus(net_.induction_machines, [](const InductionMachine& m) { return m.bus; })) {
            const InductionMachine& m = net_.induction_machines[i];
            FieldsOut f = line("induction machine");
            f.integer("I", m.bus);
            induction_machine_fields(f, m, *net_.bus(m.bus), net_.system.sbase_mva);
            f.end();
            if (version_ < 35) losses_.note("induction machine names", !m.name.empty());
        }
    }

    void write_substations() {
        for (const Substation& s : net_.substations) {
            FieldsOut f = line("substation");
            substation_fields(f, s);
            f.end();
            for (const SubstationNode& n : s.nodes) {
                FieldsOut g = line("substation node");
                substation_node_fields(g, n);
                g.end();
            }
            out_ += "0 / END OF SUBSTATION NODE DATA, BEGIN SUBSTATION SWITCHING DEVICE DATA\n";
            for (const RawValues& d : s.switching_devices) {
                FieldsOut g = line("substation switching device");
                g.values(d);
                g.end();
            }
            out_ += "0 / END OF SUBSTATION SWITCHING DEVICE DATA, BEGIN SUBSTATION EQUIPMENT TERMINAL DATA\n";
            for (const SubstationTerminal& t : s.terminals) {
                FieldsOut g = line("equipment terminal");
                g.integer("I", t.bus);
                g.values(t.rest);
                g.end();
            }
            out_ += "0 / END OF SUBSTATION EQUIPMENT TERMINAL DATA\n";
        }
    }

    const ReferenceTables& references() {
        if (!references_) references_ = completed_references(net_);
        return *references_;
    }

    const Network& net_;
    int version_;
    TextBuffer& out_;
    Losses losses_;
    std::optional<ReferenceTables> references_;
};

}  // namespace

void write_raw(const Network& net, int version, std::vector<std::string>& notes, TextBuffer& out) {
    if (version != 33 && version != 35)
        throw RawFault{0, "RAW version " + std::to_string(version) + " cannot be written (33 and 35 can)"};
    RawCaseWriter(net, version, out).write(notes);
}

std::string write_raw(const Network& net, int version, std::vector<std::string>& notes) {
    TextBuffer out(0);
    write_raw(net, version, notes, out);
    return out.take();
}

}  // namespace gridfold::pf::formats
