// RAW 32 to 35 reader: case identification, the element sections the network model holds,
// and a record-aware skip of the sections it does not hold.
#include "core/io/raw_import_reader.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "core/error_codes.hpp"
#include "core/identifiers.hpp"
#include "core/io/raw_import_records.hpp"
#include "core/model_edit.hpp"
#include "core/value_ranges.hpp"

namespace gridfold::pf::io {
namespace {

class RawCaseReader {
public:
    RawCaseReader(const std::string& text, int version, std::size_t bus_limit)
        : lines_(text), version_(version), bus_limit_(bus_limit) {}

    Network read(std::vector<std::string>& notes) {
        read_case_identification();
        if (version_ >= 34) skip_system_wide_data();
        read_section("bus data", [&](const RawRecord& r) { read_bus(r); });
        read_section("load data", [&](const RawRecord& r) { read_load(r); });
        read_section("fixed shunt data", [&](const RawRecord& r) { read_fixed_shunt(r); });
        read_section("generator data", [&](const RawRecord& r) { read_generator(r); });
        std::string branch_end = read_section("branch data", [&](const RawRecord& r) { read_branch(r); });
        // Version 34 files hold system switching devices between branches and transformers;
        // a file whose branch terminator already announces transformers has none.
        if (version_ >= 34 && !announces(branch_end, "TRANSFORMER")) {
            read_section("system switching device data", [&](const RawRecord& r) { read_switching_device(r); });
        }
        read_transformer_section();
        skip_section("area", Layout::kOneLine);
        skip_section("two-terminal dc line", Layout::kThreeLines);
        skip_section("VSC dc line", Layout::kThreeLines);
        skip_section("impedance correction table",
                     version_ >= 34 ? Layout::kCorrectionTable : Layout::kOneLine);
        skip_section("multi-terminal dc line", Layout::kMultiTerminal);
        skip_section("multi-section line grouping", Layout::kOneLine);
        skip_section("zone", Layout::kOneLine);
        skip_section("inter-area transfer", Layout::kOneLine);
        skip_section("owner", Layout::kOneLine);
        skip_section("FACTS device", Layout::kOneLine);
        read_section("switched shunt data", [&](const RawRecord& r) { read_switched_shunt(r); });
        skip_section("GNE device", Layout::kNamed);
        if (!finished_) {
            read_section("induction machine data", [&](const RawRecord& r) { read_induction_machine(r); });
        }
        if (version_ >= 34) skip_section("substation", Layout::kSubstation);
        if (!finished_) {
            // Anything after the last section must be the closing "Q".
            auto record = lines_.next_record();
            if (record && !record->is_quit()) {
                throw RawError{record->line, "expected Q closing the case after the last section"};
            }
        }
        for (const auto& [section, count] : skipped_) {
            notes.push_back(section + " data: " + std::to_string(count) +
                            " records not held by the engine and left out");
        }
        if (switching_devices_ > 0) {
            notes.push_back("system switching device data: " + std::to_string(switching_devices_) +
                            " devices read as lines");
        }
        if (system_wide_records_ > 0) {
            notes.push_back("system-wide data: " + std::to_string(system_wide_records_) +
                            " records left out (the engine keeps its own solution settings)");
        }
        ++net_.structure_revision;
        return std::move(net_);
    }

private:
    enum class Layout { kOneLine, kThreeLines, kCorrectionTable, kMultiTerminal, kNamed, kSubstation };

    static bool announces(const std::string& comment, const char* word) {
        std::string upper;
        for (char c : comment) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return upper.find(word) != std::string::npos;
    }

    void read_case_identification() {
        RawRecord id = lines_.require_record("the case identification record");
        FieldReader f(id, "case identification");
        int ic = f.integer("IC", 0);
        if (ic != 0) throw RawError{id.line, "expected IC = 0 (a new case); adding to the working case is not read"};
        net_.system.sbase_mva = f.real("SBASE", 100.0);
        if (!within(net_.system.sbase_mva, kMinBaseMva, kMaxBaseMva))
            throw RawError{id.line, "expected a positive SBASE, 0.001 to 1e6 MVA"};
        f.integer("REV", version_);
        f.integer("XFRRAT", 0);
        f.integer("NXFRAT", 0);
        net_.system.base_frequency_hz = f.real("BASFRQ", 60.0);
        if (!(net_.system.base_frequency_hz > 0.0)) throw RawError{id.line, "expected a positive BASFRQ"};
        net_.system.title1 = trim_right(lines_.raw_line());
        net_.system.title2 = trim_right(lines_.raw_line());
    }

    static std::string trim_right(std::string s) {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
        return s;
    }

    // Version 34: GENERAL, GAUSS, NEWTON, ADJUST, TYSL, SOLVER and RATING records up to
    // "0 / END OF SYSTEM-WIDE DATA". Version 33 files sometimes carry the bare terminator.
    void skip_system_wide_data() {
        while (true) {
            RawRecord r = lines_.require_record("system-wide data or its terminating 0 record");
            if (r.is_terminator()) return;
            if (r.fields[0].quoted || parse_real(r.fields[0].text)) {
                throw RawError{r.line, "expected a system-wide data keyword record (GENERAL, RATING, ...) or 0"};
            }
            ++system_wide_records_;
        }
    }

    // Reads the records of one element section up to its 0 terminator; returns the
    // terminator's comment (it names the section that follows).
    template <class Handler>
    std::string read_section(const std::string& name, Handler handle) {
        if (finished_) return {};
        while (true) {
            RawRecord r = lines_.require_record(name + " or the 0 record ending it");
            if (r.is_quit()) {
                finished_ = true;
                return {};
            }
            if (r.is_terminator()) return r.comment;
            handle(r);
        }
    }

    void skip_section(const std::string& name, Layout layout) {
        if (finished_) return;
        int records = 0;
        bool table_open = false;
        while (true) {
            RawRecord r = lines_.require_record(name + " data or the 0 record ending it");
            if (r.is_quit()) {
                finished_ = true;
                break;
            }
            if (r.is_terminator() && r.fields.size() == 1 && !table_open) break;
            switch (layout) {
                case Layout::kOneLine:
                    ++records;
                    break;
                case Layout::kThreeLines:
                    ++records;
                    lines_.require_record("the second line of a " + name + " record");
                    lines_.require_record("the third line of a " + name + " record");
                    break;
                case Layout::kCorrectionTable: {
                    // A table runs over several lines and ends with the point 0, 0, 0.
                    if (!table_open) ++records;
                    bool end_point = r.fields.size() >= 3;
                    for (std::size_t i = r.fields.size() >= 3 ? r.fields.size() - 3 : 0; i < r.fields.size(); ++i) {
                        auto v = parse_real(r.fields[i].text);
                        if (!v || *v != 0.0) end_point = false;
                    }
                    table_open = !end_point;
                    break;
                }
                case Layout::kMultiTerminal: {
                    ++records;
                    FieldReader f(r, name);
                    f.skip();
                    int nconv = f.integer("NCONV", 0), ndcbs = f.integer("NDCBS", 0), ndcln = f.integer("NDCLN", 0);
                    if (nconv < 0 || ndcbs < 0 || ndcln < 0 || nconv + ndcbs + ndcln > 1000) {
                        throw RawError{r.line, "expected converter, dc bus and dc link counts from 0 to 1000"};
                    }
                    for (int i = 0; i < nconv + ndcbs + ndcln; ++i) {
                        lines_.require_record("a converter, dc bus or dc link record of a " + name);
                    }
                    break;
                }
                case Layout::kNamed:
                    if (r.fields[0].quoted) ++records;
                    break;
                case Layout::kSubstation:
                    ++records;
                    // Node, switching device and equipment terminal records, each list ending with 0.
                    for (int list = 0; list < 3; ++list) {
                        while (!lines_.require_record("substation data ending with 0").is_terminator()) {
                        }
                    }
                    break;
            }
        }
        if (table_open) throw RawError{lines_.line_number(), "expected the end point 0, 0, 0 of a correction table"};
        if (records > 0) skipped_.emplace_back(name, records);
    }

    const Bus& existing_bus(int number, int line, const char* role) const {
        const Bus* b = net_.bus(number);
        if (!b) throw RawError{line, std::string("expected ") + role + " " + std::to_string(number) + " to be a bus of the bus data"};
        return *b;
    }

    void check_regulated_bus(int number, int line, const char* role) const {
        if (number != 0) existing_bus(number < 0 ? -number : number, line, role);
    }

    // The engine's own validity rules for an element, as for its data calls.
    static void check(int code, int line, const std::string& record) {
        if (code != kOk) throw RawError{line, "expected a valid " + record + " record (" + std::string(error_text(code)) + ")"};
    }
    static std::string identifier(const std::string& text, int line, const char* field) {
        auto id = normalize_identifier(text);
        if (!id) throw RawError{line, std::string("expected an identifier of at most two characters without quotes, commas or slashes for ") + field};
        return *id;
    }
    static std::string name(const std::string& text, std::size_t max, int line, const char* field) {
        auto n = normalize_name(text, max);
        if (!n) throw RawError{line, std::string("expected a name of at most ") + std::to_string(max) + " characters without quotes for " + field};
        return *n;
    }

    void read_bus(const RawRecord& r) {
        FieldReader f(r, "bus");
        Bus b;
        b.number = f.required_integer("I");
        if (b.number < kMinBusNumber || b.number > kMaxBusNumber) {
            throw RawError{r.line, "expected a bus number from 1 to 999999"};
        }
        if (net_.bus_index.contains(b.number)) {
            throw RawError{r.line, "expected a bus number not used before, found " + std::to_string(b.number) + " again"};
        }
        b.name = name(f.text("NAME", ""), kMaxBusNameLength, r.line, "NAME");
        b.base_kv = f.real("BASKV", 0.0);
        b.ide = f.integer("IDE", kLoadBus);
        if (b.ide < kLoadBus || b.ide > kIsolatedBus) throw RawError{r.line, "expected a bus type IDE from 1 to 4"};
        b.area = f.integer("AREA", 1);
        b.zone = f.integer("ZONE", 1);
        b.owner = f.integer("OWNER", 1);
        b.vm_pu = f.real("VM", 1.0);
        b.va_deg = f.real("VA", 0.0);
        b.nvhi_pu = f.real("NVHI", 1.1);
        b.nvlo_pu = f.real("NVLO", 0.9);
        b.evhi_pu = f.real("EVHI", 1.1);
        b.evlo_pu = f.real("EVLO", 0.9);
        check(check_bus(b), r.line, "bus");
        if (net_.buses.size() >= bus_limit_) check(kBusLimit, r.line, "bus");
        net_.bus_index.insert(b.number);
        net_.buses.push_back(std::move(b));
    }

    template <class Key>
    void check_unique(std::set<Key>& seen, const Key& key, int line, const std::string& what) {
        if (!seen.insert(key).second) throw RawError{line, "expected a " + what + " not given before"};
    }

    void read_load(const RawRecord& r) {
        FieldReader f(r, "load");
        Load l;
        l.bus = f.required_integer("I");
        const Bus& at = existing_bus(l.bus, r.line, "load bus");
        l.id = identifier(f.text("ID", "1"), r.line, "ID");
        check_unique(loads_, std::make_pair(l.bus, l.id), r.line, "load identifier at this bus");
        l.status = f.integer("STATUS", 1);
        l.area = f.integer("AREA", at.area);
        l.zone = f.integer("ZONE", at.zone);
        l.pl_mw = f.real("PL", 0.0);
        l.ql_mvar = f.real("QL", 0.0);
        l.ip_mw = f.real("IP", 0.0);
        l.iq_mvar = f.real("IQ", 0.0);
        l.yp_mw = f.real("YP", 0.0);
        l.yq_mvar = f.real("YQ", 0.0);
        l.owner = f.integer("OWNER", at.owner);
        l.scale = f.integer("SCALE", 1);
        l.intrpt = f.integer("INTRPT", 0);
        if (version_ >= 34) {
            l.dgenp_mw = f.real("DGENP", 0.0);
            l.dgenq_mvar = f.real("DGENQ", 0.0);
            l.dgenm = f.integer("DGENM", 0);
        }
        if (version_ >= 35) {
            f.text("LOADTYPE", "");
            l.name = name(f.text("NAME", ""), kMaxNameLength, r.line, "the load name");
        }
        check(check_load(net_, l), r.line, "load");
        net_.loads.push_back(std::move(l));
    }

    void read_fixed_shunt(const RawRecord& r) {
        FieldReader f(r, "fixed shunt");
        FixedShunt s;
        s.bus = f.required_integer("I");
        existing_bus(s.bus, r.line, "fixed shunt bus");
        s.id = identifier(f.text("ID", "1"), r.line, "ID");
        check_unique(fixed_shunts_, std::make_pair(s.bus, s.id), r.line, "fixed shunt identifier at this bus");
        s.status = f.integer("STATUS", 1);
        s.gl_mw = f.real("GL", 0.0);
        s.bl_mvar = f.real("BL", 0.0);
        check(check_fixed_shunt(net_, s), r.line, "fixed shunt");
        net_.fixed_shunts.push_back(std::move(s));
    }

    void read_owners(FieldReader& f, Owners& owners, int first_owner) {
        static const char* names[kOwnerCount][2] = {{"O1", "F1"}, {"O2", "F2"}, {"O3", "F3"}, {"O4", "F4"}};
        for (int k = 0; k < kOwnerCount; ++k) {
            owners[k].owner = f.integer(names[k][0], k == 0 ? first_owner : 0);
            owners[k].fraction = f.real(names[k][1], 1.0);
        }
    }

    void read_generator(const RawRecord& r) {
        FieldReader f(r, "generator");
        Machine m;
        m.bus = f.required_integer("I");
        const Bus& at = existing_bus(m.bus, r.line, "generator bus");
        m.id = identifier(f.text("ID", "1"), r.line, "ID");
        check_unique(machines_, std::make_pair(m.bus, m.id), r.line, "machine identifier at this bus");
        m.pg_mw = f.real("PG", 0.0);
        m.qg_mvar = f.real("QG", 0.0);
        m.qt_mvar = f.real("QT", 9999.0);
        m.qb_mvar = f.real("QB", -9999.0);
        double vs = f.real("VS", 1.0);
        int ireg = f.integer("IREG", 0);
        check_regulated_bus(ireg, r.line, "regulated bus IREG");
        // Version 35 has NREG after IREG; version 34 writers with node-breaker data add it
        // too (29 fields instead of 28).
        int nreg = (version_ >= 35 || (version_ == 34 && f.size() >= 29)) ? f.integer("NREG", 0) : 0;
        m.mbase_mva = f.real("MBASE", net_.system.sbase_mva);
        m.zr_pu = f.real("ZR", 0.0);
        m.zx_pu = f.real("ZX", 1.0);
        m.rt_pu = f.real("RT", 0.0);
        m.xt_pu = f.real("XT", 0.0);
        m.gtap_pu = f.real("GTAP", 1.0);
        m.status = f.integer("STAT", 1);
        double rmpct = f.real("RMPCT", 100.0);
        m.pt_mw = f.real("PT", 9999.0);
        m.pb_mw = f.real("PB", -9999.0);
        if (version_ >= 35) m.baslod = f.integer("BASLOD", 0);
        read_owners(f, m.owners, at.owner);
        m.wmod = f.integer("WMOD", 0);
        m.wpf = f.real("WPF", 1.0);
        if (version_ >= 35) m.name = name(f.text("NAME", ""), kMaxNameLength, r.line, "the machine name");
        // Generator records carry the plant data of their bus; the last one read wins, as a
        // data call for each machine would leave it.
        Plant p;
        p.bus = m.bus;
        p.ireg = ireg;
        p.nreg = nreg;
        p.vs_pu = vs;
        p.rmpct = rmpct;
        check(check_plant(net_, p), r.line, "generator");
        if (auto index = find_plant(net_, p.bus)) {
            net_.plants[*index] = p;
        } else {
            net_.plants.push_back(p);
        }
        check(check_machine(net_, m), r.line, "generator");
        net_.machines.push_back(std::move(m));
    }

    void read_ratings(FieldReader& f, Ratings& ratings, int count) {
        static const char* names[kRatingCount] = {"RATE1", "RATE2", "RATE3", "RATE4",  "RATE5",  "RATE6",
                                                  "RATE7", "RATE8", "RATE9", "RATE10", "RATE11", "RATE12"};
        for (int k = 0; k < count; ++k) ratings[k] = f.real(names[k], 0.0);
    }

    // Circuit identifiers are unique per bus pair across lines and transformers.
    void check_circuit(int a, int b, int c, const std::string& ckt, int line) {
        std::array<int, 3> key{a, b, c};
        std::sort(key.begin(), key.end());
        check_unique(circuits_, std::make_tuple(key[0], key[1], key[2], ckt), line, "circuit identifier between these buses");
    }

    void read_branch(const RawRecord& r) {
        FieldReader f(r, "branch");
        Branch b;
        b.from_bus = f.required_integer("I");
        int to = f.required_integer("J");
        // A negative J marks bus J as the metered end (older files).
        b.to_bus = to < 0 ? -to : to;
        existing_bus(b.from_bus, r.line, "branch bus I");
        existing_bus(b.to_bus, r.line, "branch bus J");
        if (b.from_bus == b.to_bus) throw RawError{r.line, "expected different buses I and J"};
        b.ckt = identifier(f.text("CKT", "1"), r.line, "CKT");
        check_circuit(b.from_bus, b.to_bus, 0, b.ckt, r.line);
        b.r_pu = f.real("R", 0.0);
        b.x_pu = f.real("X", 0.0);
        if (b.r_pu == 0.0 && b.x_pu == 0.0) throw RawError{r.line, "expected a nonzero branch impedance R, X"};
        b.b_pu = f.real("B", 0.0);
        if (version_ >= 34) {
            b.name = name(f.text("NAME", ""), kMaxNameLength, r.line, "NAME");
            read_ratings(f, b.ratings, kRatingCount);
        } else {
            read_ratings(f, b.ratings, 3);
        }
        b.gi_pu = f.real("GI", 0.0);
        b.bi_pu = f.real("BI", 0.0);
        b.gj_pu = f.real("GJ", 0.0);
        b.bj_pu = f.real("BJ", 0.0);
        b.status = f.integer("ST", 1);
        int met = f.integer("MET", to < 0 ? 2 : 1);
        b.metbus = met >= 2 ? b.to_bus : b.from_bus;
        b.length = f.real("LEN", 0.0);
        read_owners(f, b.owners, existing_bus(b.from_bus, r.line, "branch bus I").owner);
        check(check_branch(net_, b), r.line, "branch");
        net_.branches.push_back(std::move(b));
    }

    void read_switching_device(const RawRecord& r) {
        FieldReader f(r, "system switching device");
        Branch b;
        b.from_bus = f.required_integer("I");
        b.to_bus = f.required_integer("J");
        existing_bus(b.from_bus, r.line, "switching device bus I");
        existing_bus(b.to_bus, r.line, "switching device bus J");
        if (b.from_bus == b.to_bus) throw RawError{r.line, "expected different buses I and J"};
        b.ckt = identifier(f.text("CKT", "1"), r.line, "CKT");
        check_circuit(b.from_bus, b.to_bus, 0, b.ckt, r.line);
        b.r_pu = 0.0;
        b.x_pu = f.real("X", 0.0001);
        if (b.x_pu == 0.0) b.x_pu = 0.0001;
        read_ratings(f, b.ratings, kRatingCount);
        b.status = f.integer("STAT", 1);
        f.integer("NSTAT", 1);
        int met = f.integer("MET", 1);
        b.metbus = met >= 2 ? b.to_bus : b.from_bus;
        f.integer("STYPE", 1);
        b.name = name(f.text("NAME", ""), kMaxNameLength, r.line, "NAME");
        b.owners[0].owner = existing_bus(b.from_bus, r.line, "switching device bus I").owner;
        check(check_branch(net_, b), r.line, "system switching device");
        ++switching_devices_;
        net_.branches.push_back(std::move(b));
    }

    void read_winding(const RawRecord& r, Transformer& t, int k, bool full) {
        FieldReader f(r, "transformer winding " + std::to_string(k + 1));
        Winding& w = t.windings[k];
        const Bus& at = existing_bus(t.buses[k], r.line, "transformer winding bus");
        double default_ratio = t.cw == 2 ? at.base_kv : 1.0;
        w.windv = f.real("WINDV", default_ratio);
        w.nomv_kv = f.real("NOMV", 0.0);
        if (!full) return;
        w.ang_deg = f.real("ANG", 0.0);
        // Version 34 has twelve ratings and (from writers with node-breaker data) NODE:
        // 27 fields with it, 26 without.
        const bool twelve = version_ >= 34;
        read_ratings(f, w.ratings, twelve ? kRatingCount : 3);
        w.cod = f.integer("COD", 0);
        w.cont = f.integer("CONT", 0);
        check_regulated_bus(w.cont, r.line, "controlled bus CONT");
        if (version_ >= 35 || (twelve && f.size() != 26)) w.node = f.integer("NODE", 0);
        bool angle = w.cod == 3 || w.cod == -3 || w.cod == 5 || w.cod == -5;
        w.rma = f.real("RMA", angle ? 30.0 : 1.1);
        w.rmi = f.real("RMI", angle ? -30.0 : 0.9);
        w.vma = f.real("VMA", 1.1);
        w.vmi = f.real("VMI", 0.9);
        w.ntp = f.integer("NTP", 33);
        w.tab = f.integer("TAB", 0);
        w.cr_pu = f.real("CR", 0.0);
        w.cx_pu = f.real("CX", 0.0);
        w.cnxa_deg = f.real("CNXA", 0.0);
    }

    void read_transformer_section() {
        if (finished_) return;
        while (true) {
            RawRecord first = lines_.require_record("transformer data or the 0 record ending it");
            if (first.is_quit()) {
                finished_ = true;
                return;
            }
            if (first.is_terminator()) return;
            read_transformer(first);
        }
    }

    void read_transformer(const RawRecord& first) {
        FieldReader f(first, "transformer");
        Transformer t;
        t.buses[0] = f.required_integer("I");
        t.buses[1] = f.required_integer("J");
        t.buses[2] = f.integer("K", 0);
        for (int k = 0; k < (t.buses[2] != 0 ? 3 : 2); ++k) existing_bus(t.buses[k], first.line, "transformer bus");
        if (t.buses[0] == t.buses[1] || t.buses[0] == t.buses[2] || t.buses[1] == t.buses[2]) {
            throw RawError{first.line, "expected different transformer buses I, J and K"};
        }
        bool three = t.three_winding();
        t.ckt = identifier(f.text("CKT", "1"), first.line, "CKT");
        check_circuit(t.buses[0], t.buses[1], t.buses[2], t.ckt, first.line);
        t.cw = f.integer("CW", 1);
        t.cz = f.integer("CZ", 1);
        t.cm = f.integer("CM", 1);
        if (t.cw < 1 || t.cw > 3 || t.cz < 1 || t.cz > 3 || t.cm < 1 || t.cm > 2) {
            throw RawError{first.line, "expected CW 1-3, CZ 1-3 and CM 1-2"};
        }
        t.mag1 = f.real("MAG1", 0.0);
        t.mag2 = f.real("MAG2", 0.0);
        int nmetr = f.integer("NMETR", three ? 2 : 2);
        if (nmetr < 1 || nmetr > (three ? 3 : 2)) throw RawError{first.line, "expected NMETR naming a winding"};
        // Two windings: the model keeps the metered end; NMETR names the non-metered one.
        t.metbus = three ? t.buses[nmetr - 1] : t.buses[nmetr == 1 ? 1 : 0];
        t.name = name(f.text("NAME", ""), kMaxNameLength, first.line, "NAME");
        t.status = f.integer("STAT", 1);
        read_owners(f, t.owners, existing_bus(t.buses[0], first.line, "transformer bus").owner);
        t.vecgrp = name(f.text("VECGRP", ""), kMaxVectorGroupLength, first.line, "VECGRP");
        if (version_ >= 35) t.zcod = f.integer("ZCOD", 0);

        RawRecord second = lines_.require_record("the impedance line of a transformer record");
        FieldReader z(second, "transformer impedance");
        const double sbase = net_.system.sbase_mva;
        t.r12 = z.real("R1-2", 0.0);
        t.x12 = z.real("X1-2", 0.0);
        t.sbase12_mva = z.real("SBASE1-2", sbase);
        double vmstar = 1.0, anstar = 0.0;
        if (three) {
            t.r23 = z.real("R2-3", 0.0);
            t.x23 = z.real("X2-3", 0.0);
            t.sbase23_mva = z.real("SBASE2-3", sbase);
            t.r31 = z.real("R3-1", 0.0);
            t.x31 = z.real("X3-1", 0.0);
            t.sbase31_mva = z.real("SBASE3-1", sbase);
            vmstar = z.real("VMSTAR", 1.0);
            anstar = z.real("ANSTAR", 0.0);
        }
        if ((t.r12 == 0.0 && t.x12 == 0.0) || (three && ((t.r23 == 0.0 && t.x23 == 0.0) || (t.r31 == 0.0 && t.x31 == 0.0)))) {
            throw RawError{second.line, "expected nonzero transformer impedances"};
        }
        if (t.sbase12_mva <= 0.0 || (three && (t.sbase23_mva <= 0.0 || t.sbase31_mva <= 0.0))) {
            throw RawError{second.line, "expected positive winding base MVA"};
        }
        for (int k = 0; k < (three ? 3 : 2); ++k) {
            RawRecord w = lines_.require_record("winding line " + std::to_string(k + 1) + " of a transformer record");
            read_winding(w, t, k, three || k == 0);
        }
        check(check_transformer(net_, t), first.line, "transformer");
        if (three) add_star_point(t, vmstar, anstar, first.line);
        net_.transformers.push_back(std::move(t));
    }

    // Three-winding transformers meet at an internal star-point bus of the working case.
    void add_star_point(Transformer& t, double vm, double va, int line) {
        if (net_.buses.size() >= bus_limit_) check(kBusLimit, line, "transformer");
        if (!(vm > 0.0)) throw RawError{line, "expected a positive VMSTAR"};
        const Bus& first = *net_.bus(t.buses[0]);
        Bus star;
        star.number = next_star_point_number(net_);
        star.star_point = true;
        star.ide = t.status == 0 ? kIsolatedBus : kLoadBus;
        star.base_kv = 1.0;
        star.area = first.area;
        star.zone = first.zone;
        star.owner = first.owner;
        star.vm_pu = vm;
        star.va_deg = va;
        t.star_bus = star.number;
        net_.bus_index.insert(star.number);
        net_.buses.push_back(std::move(star));
    }

    void read_switched_shunt(const RawRecord& r) {
        FieldReader f(r, "switched shunt");
        SwitchedShunt s;
        s.bus = f.required_integer("I");
        existing_bus(s.bus, r.line, "switched shunt bus");
        // Version 35 identifies switched shunts; before it a bus holds at most one.
        if (version_ >= 35) s.id = identifier(f.text("ID", "1"), r.line, "ID");
        check_unique(switched_shunts_, std::make_pair(s.bus, s.id), r.line, "switched shunt at this bus");
        s.modsw = f.integer("MODSW", 1);
        s.adjm = f.integer("ADJM", 0);
        s.stat = f.integer("STAT", 1);
        s.vswhi = f.real("VSWHI", 1.0);
        s.vswlo = f.real("VSWLO", 1.0);
        s.swreg = f.integer("SWREG", 0);
        check_regulated_bus(s.swreg, r.line, "regulated bus SWREG");
        // Version 34 writers with node-breaker data add NREG; RMIDNT (quoted) then moves
        // from the ninth to the tenth field.
        if (version_ >= 35 || (version_ == 34 && has_nreg(r))) s.nreg = f.integer("NREG", 0);
        s.rmpct = f.real("RMPCT", 100.0);
        s.rmidnt = name(f.text("RMIDNT", ""), kMaxNameLength, r.line, "RMIDNT");
        s.binit_mvar = f.real("BINIT", 0.0);
        for (int k = 0; k < kShuntBlockCount; ++k) {
            if (version_ >= 35) s.blocks[k].s = f.integer("S", 1);
            s.blocks[k].n = f.integer("N", 0);
            s.blocks[k].b_mvar = f.real("B", 0.0);
            if (s.blocks[k].n < 0) throw RawError{r.line, "expected a step count of 0 or more"};
        }
        if (version_ >= 35) s.name = name(f.text("NAME", ""), kMaxNameLength, r.line, "the switched shunt name");
        if (f.has_more()) throw RawError{r.line, "expected at most eight blocks in a switched shunt record"};
        check(check_switched_shunt(net_, s), r.line, "switched shunt");
        net_.switched_shunts.push_back(std::move(s));
    }

    static bool has_nreg(const RawRecord& r) {
        if (r.fields.size() > 9 && r.fields[9].quoted) return true;
        if (r.fields.size() > 8 && r.fields[8].quoted) return false;
        return r.fields.size() % 2 == 1;
    }

    void read_induction_machine(const RawRecord& r) {
        FieldReader f(r, "induction machine");
        InductionMachine m;
        m.bus = f.required_integer("I");
        const Bus& at = existing_bus(m.bus, r.line, "induction machine bus");
        m.id = identifier(f.text("ID", "1"), r.line, "ID");
        check_unique(induction_machines_, std::make_pair(m.bus, m.id), r.line, "induction machine identifier at this bus");
        m.status = f.integer("STAT", 1);
        m.scode = f.integer("SCODE", 1);
        m.dcode = f.integer("DCODE", 2);
        m.area = f.integer("AREA", at.area);
        m.zone = f.integer("ZONE", at.zone);
        m.owner = f.integer("OWNER", at.owner);
        m.tcode = f.integer("TCODE", 1);
        m.bcode = f.integer("BCODE", 1);
        m.mbase_mva = f.real("MBASE", net_.system.sbase_mva);
        m.ratekv = f.real("RATEKV", 0.0);
        m.pcode = f.integer("PCODE", 1);
        m.pset_mw = f.real("PSET", 0.0);
        m.h = f.real("H", 1.0);
        m.a = f.real("A", 1.0);
        m.b = f.real("B", 1.0);
        m.d = f.real("D", 1.0);
        m.e = f.real("E", 1.0);
        m.ra = f.real("RA", 0.0);
        m.xa = f.real("XA", 0.0);
        m.xm = f.real("XM", 2.5);
        m.r1 = f.real("R1", 999.0);
        m.x1 = f.real("X1", 999.0);
        m.r2 = f.real("R2", 999.0);
        m.x2 = f.real("X2", 999.0);
        m.x3 = f.real("X3", 0.0);
        m.e1 = f.real("E1", 1.0);
        m.se1 = f.real("SE1", 0.0);
        m.e2 = f.real("E2", 1.2);
        m.se2 = f.real("SE2", 0.0);
        m.ia1 = f.real("IA1", 0.0);
        m.ia2 = f.real("IA2", 0.0);
        m.xamult = f.real("XAMULT", 1.0);
        if (version_ >= 35) m.name = name(f.text("NAME", ""), kMaxNameLength, r.line, "the machine name");
        check(check_induction_machine(net_, m), r.line, "induction machine");
        net_.induction_machines.push_back(std::move(m));
    }

    RawLines lines_;
    int version_;
    std::size_t bus_limit_;
    Network net_;
    bool finished_ = false;  // "Q" seen before the last section
    std::vector<std::pair<std::string, int>> skipped_;
    int switching_devices_ = 0;
    int system_wide_records_ = 0;
    std::set<std::pair<int, std::string>> loads_, fixed_shunts_, machines_, switched_shunts_, induction_machines_;
    std::set<std::tuple<int, int, int, std::string>> circuits_;
};

std::size_t star_points(const Network& network) {
    std::size_t count = 0;
    for (const auto& bus : network.buses) count += bus.star_point ? 1 : 0;
    return count;
}

}  // namespace

int raw_header_version(const std::string& text) {
    try {
        RawLines lines(text);
        auto first = lines.next_record();
        if (!first || first->fields.size() < 3) return 0;
        auto rev = parse_integer(first->fields[2].text);
        return rev ? *rev : 0;
    } catch (const RawError&) {
        return 0;
    }
}

ImportOutcome read_raw_text(const std::string& text, int version, Network& network, std::size_t bus_limit) {
    if (version < kOldestRawVersion || version > kNewestRawVersion) {
        return ImportOutcome::failure(0, "expected RAW version 32 to 35, not " + std::to_string(version));
    }
    try {
        ImportOutcome outcome;
        RawCaseReader reader(text, version, bus_limit);
        Network read = reader.read(outcome.notes);
        outcome.notes.insert(outcome.notes.begin(),
                             "RAW version " + std::to_string(version) + " case read: " +
                                 std::to_string(read.buses.size() - star_points(read)) + " buses, " + std::to_string(read.loads.size()) +
                                 " loads, " + std::to_string(read.machines.size()) + " machines, " +
                                 std::to_string(read.branches.size()) + " lines, " +
                                 std::to_string(read.transformers.size()) + " transformers");
        read.structure_revision = network.structure_revision + 1;
        network = std::move(read);
        return outcome;
    } catch (const RawError& e) {
        return ImportOutcome::failure(e.line, e.what);
    }
}

}  // namespace gridfold::pf::io
