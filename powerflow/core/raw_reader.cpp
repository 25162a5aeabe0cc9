// Reader of RAW text cases.
//
// The layout of each record depends on the RAW version named on the file's first line; the
// reader takes it as a parameter of every record parser (RawReader::version_), so that
// another version's record layouts can be added beside those of version 35.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <set>
#include <tuple>

#include "core/case_file.hpp"
#include "core/error_codes.hpp"
#include "core/identifiers.hpp"
#include "core/io/raw_import_reader.hpp"
#include "core/model_edit.hpp"
#include "core/raw_sections.hpp"

namespace gridfold::pf {

CaseFileError::CaseFileError(Kind kind, std::string file, int line, const std::string& message)
    : std::runtime_error(file + (line > 0 ? ": line " + std::to_string(line) : std::string()) + ": " + message),
      kind_(kind),
      file_(std::move(file)),
      line_(line),
      reason_(message) {}

const std::vector<int>& readable_raw_versions() {
    static const std::vector<int> versions{32, 33, 34, 35};
    return versions;
}

const std::vector<std::string>& raw_sections(int) {
    static const std::vector<std::string> v35{
        "BUS",         "LOAD",         "FIXED SHUNT",         "GENERATOR",         "BRANCH",
        "SYSTEM SWITCHING DEVICE",     "TRANSFORMER",         "AREA",              "TWO-TERMINAL DC",
        "VSC DC LINE", "IMPEDANCE CORRECTION",                "MULTI-TERMINAL DC", "MULTI-SECTION LINE",
        "ZONE",        "INTER-AREA TRANSFER",                 "OWNER",             "FACTS DEVICE",
        "SWITCHED SHUNT",              "GNE",                 "INDUCTION MACHINE", "SUBSTATION"};
    return v35;
}

namespace {

struct Field {
    std::string text;
    bool quoted = false;
};

// One line split into fields: separated by commas and/or blanks, text in single or double
// quotes, everything after a '/' outside quotes a comment.
struct Line {
    int number = 0;
    std::vector<Field> fields;
};

class RawReader {
public:
    RawReader(std::string_view text, std::string file, std::size_t bus_limit)
        : text_(text), file_(std::move(file)), bus_limit_(bus_limit) {}

    Network read();
    // Records read but not held, by section, in file order: "area data: 3 records not held ...".
    std::vector<std::string> skipped_notes() const;

private:
    // ---- lines and fields ----
    [[noreturn]] void fail(int line, const std::string& message) const {
        throw CaseFileError(CaseFileError::kFormat, file_, line, message);
    }
    std::optional<std::string_view> next_raw_line();
    Line next_line(const char* expecting);
    Line split(std::string_view raw, int number) const;
    bool is_terminator(const Line& line) const {
        return !line.fields.empty() && !line.fields[0].quoted && line.fields[0].text == "0";
    }

    // Field access with messages naming the record and field.
    struct View {
        const RawReader& reader;
        const Line& line;
        const char* record;
        std::size_t at = 0;
        void require(std::size_t count) const {
            if (line.fields.size() < count)
                reader.fail(line.number, std::string(record) + " record has " + std::to_string(line.fields.size()) +
                                             " fields, " + std::to_string(count) + " expected");
        }
        const Field& field(const char* name) {
            if (at >= line.fields.size())
                reader.fail(line.number, std::string(record) + " record ends before field " + name);
            return line.fields[at++];
        }
        long i(const char* name) {
            const Field& f = field(name);
            long value = 0;
            const char* begin = f.text.data();
            const char* end = begin + f.text.size();
            auto result = std::from_chars(begin, end, value);
            if (!f.quoted && result.ec == std::errc() && result.ptr == end) return value;
            // Integers written as reals (1.0) by other tools are accepted when integral.
            double real = 0.0;
            auto r2 = std::from_chars(begin, end, real);
            if (!f.quoted && r2.ec == std::errc() && r2.ptr == end && std::floor(real) == real &&
                std::fabs(real) < 2e9)
                return static_cast<long>(real);
            reader.fail(line.number, std::string(record) + " field " + name + ": '" + f.text + "' is not an integer");
        }
        double r(const char* name) {
            const Field& f = field(name);
            double value = 0.0;
            const char* begin = f.text.data();
            const char* end = begin + f.text.size();
            auto result = std::from_chars(begin, end, value);
            if (f.quoted || result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
                reader.fail(line.number, std::string(record) + " field " + name + ": '" + f.text + "' is not a number");
            return value;
        }
        std::string s(const char* name) { return field(name).text; }
        // Trailing fields this writer adds after the layout's own (element names).
        std::string optional_s() { return at < line.fields.size() ? line.fields[at++].text : std::string(); }
        void owners(Owners& owners) {
            static const char* names[] = {"O1", "F1", "O2", "F2", "O3", "F3", "O4", "F4"};
            for (int k = 0; k < kOwnerCount; ++k) {
                owners[k].owner = static_cast<int>(i(names[2 * k]));
                owners[k].fraction = r(names[2 * k + 1]);
            }
        }
        void ratings(Ratings& ratings) {
            for (double& v : ratings) v = r("RATE");
        }
    };

    // ---- sections ----
    void read_header(Network& net);
    void read_system_wide();
    void read_section(Network& net, std::size_t section);
    void count_skipped(const std::string& section);
    void read_bus(Network& net, const Line& line);
    void read_load(Network& net, const Line& line);
    void read_fixed_shunt(Network& net, const Line& line);
    void read_generator(Network& net, const Line& line);
    void read_branch(Network& net, const Line& line);
    void read_transformer(Network& net, const Line& first);
    void read_switched_shunt(Network& net, const Line& line);
    void read_induction_machine(Network& net, const Line& line);
    void read_winding(const Line& line, Winding& w, bool full);

    // Checks an element, turning an engine code into an error on its line.
    void check(int code, const Line& line, const char* record) const {
        if (code != kOk)
            fail(line.number, std::string(record) + " record refused: " + std::string(error_text(code)));
    }
    std::string identifier(const std::string& text, const Line& line, const char* record) const {
        auto id = normalize_identifier(text);
        if (!id) fail(line.number, std::string(record) + " record: invalid identifier '" + text + "'");
        return *id;
    }
    std::string name(const std::string& text, std::size_t max, const Line& line, const char* record) const {
        auto n = normalize_name(text, max);
        if (!n) fail(line.number, std::string(record) + " record: invalid name '" + text + "'");
        return *n;
    }
    void duplicate_check(std::set<std::tuple<int, int, int, std::string>>& seen,
                         std::tuple<int, int, int, std::string> key, const Line& line, const char* record) const {
        if (!seen.insert(std::move(key)).second) fail(line.number, std::string("duplicate ") + record + " record");
    }

    std::string_view text_;
    std::string file_;
    std::size_t bus_limit_;
    std::vector<std::pair<std::string, std::size_t>> skipped_;  // section name, records not kept
    std::size_t pos_ = 0;
    int line_number_ = 0;
    int version_ = 0;
    std::set<std::tuple<int, int, int, std::string>> seen_loads_, seen_shunts_, seen_machines_, seen_branches_,
        seen_transformers_, seen_switched_, seen_induction_;
};

std::optional<std::string_view> RawReader::next_raw_line() {
    if (pos_ >= text_.size()) return std::nullopt;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    std::string_view raw = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++line_number_;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    for (unsigned char c : raw)
        if ((c < 0x20 && c != '\t') || c == 0x7f)
            fail(line_number_, "binary data: this is not a text case file");
    return raw;
}

// Next line holding a record (blank lines and "@!" heading lines skipped).
Line RawReader::next_line(const char* expecting) {
    for (;;) {
        auto raw = next_raw_line();
        if (!raw) fail(line_number_ + 1, std::string("file ends before ") + expecting);
        if (raw->substr(0, 2) == "@!") continue;
        Line line = split(*raw, line_number_);
        if (line.fields.empty()) continue;
        return line;
    }
}

Line RawReader::split(std::string_view raw, int number) const {
    Line line;
    line.number = number;
    std::size_t i = 0;
    auto blank = [&](char c) { return c == ' ' || c == '\t'; };
    bool expect_field = false;  // a comma was seen: the next field may be empty
    while (i < raw.size()) {
        while (i < raw.size() && blank(raw[i])) ++i;
        if (i >= raw.size() || raw[i] == '/') break;
        if (raw[i] == ',') {
            if (expect_field || line.fields.empty()) line.fields.push_back({});  // empty field
            expect_field = true;
            ++i;
            continue;
        }
        Field field;
        if (raw[i] == '\'' || raw[i] == '"') {
            char quote = raw[i++];
            std::size_t close = raw.find(quote, i);
            if (close == std::string_view::npos) fail(number, "unterminated quoted text");
            field.text = std::string(raw.substr(i, close - i));
            field.quoted = true;
            i = close + 1;
        } else {
            std::size_t start = i;
            while (i < raw.size() && !blank(raw[i]) && raw[i] != ',' && raw[i] != '/') ++i;
            field.text = std::string(raw.substr(start, i - start));
        }
        line.fields.push_back(std::move(field));
        expect_field = false;
        while (i < raw.size() && blank(raw[i])) ++i;
        if (i < raw.size() && raw[i] == ',') {
            expect_field = true;
            ++i;
        }
    }
    for (const Field& f : line.fields)
        if (!f.quoted && f.text.empty()) fail(number, "empty field");
    return line;
}

void RawReader::read_header(Network& net) {
    auto raw = next_raw_line();
    if (!raw) fail(1, "empty file");
    Line line = split(*raw, line_number_);
    View v{*this, line, "case identification"};
    v.require(3);
    long ic = v.i("IC");
    net.system.sbase_mva = v.r("SBASE");
    long rev = v.i("REV");
    if (ic != 0) fail(line.number, "IC " + std::to_string(ic) + ": only a whole case (IC 0) can be read");
    const auto& versions = readable_raw_versions();
    if (std::find(versions.begin(), versions.end(), rev) == versions.end())
        fail(line.number, "RAW version " + std::to_string(rev) + " cannot be read");
    version_ = static_cast<int>(rev);
    if (line.fields.size() > 3) v.i("XFRRAT");
    if (line.fields.size() > 4) v.i("NXFRAT");
    if (line.fields.size() > 5) net.system.base_frequency_hz = v.r("BASFRQ");
    if (check_system(net.system)) fail(line.number, "SBASE and BASFRQ must be positive, SBASE 0.001 to 1e6 MVA");
    auto title1 = next_raw_line();
    auto title2 = title1 ? next_raw_line() : std::nullopt;
    if (!title2) fail(line_number_ + 1, "file ends inside the case heading");
    net.system.title1 = std::string(*title1);
    net.system.title2 = std::string(*title2);
}

// System-wide data records (solution parameters, rating names) are not kept.
void RawReader::read_system_wide() {
    for (;;) {
        Line line = next_line("the end of the system-wide data");
        if (is_terminator(line)) return;
    }
}

void RawReader::read_bus(Network& net, const Line& line) {
    View v{*this, line, "bus"};
    v.require(13);
    Bus bus;
    bus.number = static_cast<int>(v.i("I"));
    bus.name = v.s("NAME");
    bus.base_kv = v.r("BASKV");
    bus.ide = static_cast<int>(v.i("IDE"));
    bus.area = static_cast<int>(v.i("AREA"));
    bus.zone = static_cast<int>(v.i("ZONE"));
    bus.owner = static_cast<int>(v.i("OWNER"));
    bus.vm_pu = v.r("VM");
    bus.va_deg = v.r("VA");
    bus.nvhi_pu = v.r("NVHI");
    bus.nvlo_pu = v.r("NVLO");
    bus.evhi_pu = v.r("EVHI");
    bus.evlo_pu = v.r("EVLO");
    if (bus.number < kMinBusNumber || bus.number > kMaxBusNumber) check(kInvalidBusNumber, line, "bus");
    if (net.bus_index.contains(bus.number)) fail(line.number, "duplicate bus " + std::to_string(bus.number));
    if (net.buses.size() >= bus_limit_) check(kBusLimit, line, "bus");
    check(check_bus(bus), line, "bus");
    bus.name = name(bus.name, kMaxBusNameLength, line, "bus");
    net.bus_index.insert(bus.number);
    net.buses.push_back(std::move(bus));
}

void RawReader::read_load(Network& net, const Line& line) {
    View v{*this, line, "load"};
    v.require(17);
    Load l;
    l.bus = static_cast<int>(v.i("I"));
    l.id = identifier(v.s("ID"), line, "load");
    l.status = static_cast<int>(v.i("STAT"));
    l.area = static_cast<int>(v.i("AREA"));
    l.zone = static_cast<int>(v.i("ZONE"));
    l.pl_mw = v.r("PL");
    l.ql_mvar = v.r("QL");
    l.ip_mw = v.r("IP");
    l.iq_mvar = v.r("IQ");
    l.yp_mw = v.r("YP");
    l.yq_mvar = v.r("YQ");
    l.owner = static_cast<int>(v.i("OWNER"));
    l.scale = static_cast<int>(v.i("SCALE"));
    l.intrpt = static_cast<int>(v.i("INTRPT"));
    l.dgenp_mw = v.r("DGENP");
    l.dgenq_mvar = v.r("DGENQ");
    l.dgenm = static_cast<int>(v.i("DGENF"));
    v.optional_s();  // LOADTYPE
    l.name = name(v.optional_s(), kMaxNameLength, line, "load");
    if (!net.bus(l.bus)) check(kBusNotFound, line, "load");
    check(check_load(net, l), line, "load");
    duplicate_check(seen_loads_, {l.bus, 0, 0, l.id}, line, "load");
    net.loads.push_back(std::move(l));
}

void RawReader::read_fixed_shunt(Network& net, const Line& line) {
    View v{*this, line, "fixed shunt"};
    v.require(5);
    FixedShunt s;
    s.bus = static_cast<int>(v.i("I"));
    s.id = identifier(v.s("ID"), line, "fixed shunt");
    s.status = static_cast<int>(v.i("STATUS"));
    s.gl_mw = v.r("GL");
    s.bl_mvar = v.r("BL");
    if (!net.bus(s.bus)) check(kBusNotFound, line, "fixed shunt");
    check(check_fixed_shunt(net, s), line, "fixed shunt");
    duplicate_check(seen_shunts_, {s.bus, 0, 0, s.id}, line, "fixed shunt");
    net.fixed_shunts.push_back(std::move(s));
}

void RawReader::read_generator(Network& net, const Line& line) {
    View v{*this, line, "generator"};
    v.require(30);
    Machine m;
    Plant p;
    m.bus = p.bus = static_cast<int>(v.i("I"));
    m.id = identifier(v.s("ID"), line, "generator");
    m.pg_mw = v.r("PG");
    m.qg_mvar = v.r("QG");
    m.qt_mvar = v.r("QT");
    m.qb_mvar = v.r("QB");
    p.vs_pu = v.r("VS");
    p.ireg = static_cast<int>(v.i("IREG"));
    p.nreg = static_cast<int>(v.i("NREG"));
    m.mbase_mva = v.r("MBASE");
    m.zr_pu = v.r("ZR");
    m.zx_pu = v.r("ZX");
    m.rt_pu = v.r("RT");
    m.xt_pu = v.r("XT");
    m.gtap_pu = v.r("GTAP");
    m.status = static_cast<int>(v.i("STAT"));
    p.rmpct = v.r("RMPCT");
    m.pt_mw = v.r("PT");
    m.pb_mw = v.r("PB");
    m.baslod = static_cast<int>(v.i("BASLOD"));
    v.owners(m.owners);
    m.wmod = static_cast<int>(v.i("WMOD"));
    m.wpf = v.r("WPF");
    m.name = name(v.optional_s(), kMaxNameLength, line, "generator");
    if (!net.bus(m.bus)) check(kBusNotFound, line, "generator");
    // The plant record of a bus comes from its generator records; the last one read wins,
    // as a data call for each machine would leave it.
    check(check_plant(net, p), line, "generator");
    if (auto index = find_plant(net, p.bus))
        net.plants[*index] = p;
    else
        net.plants.push_back(p);
    check(check_machine(net, m), line, "generator");
    duplicate_check(seen_machines_, {m.bus, 0, 0, m.id}, line, "generator");
    net.machines.push_back(std::move(m));
}

void RawReader::read_branch(Network& net, const Line& line) {
    View v{*this, line, "branch"};
    v.require(32);
    Branch b;
    b.from_bus = static_cast<int>(v.i("I"));
    b.to_bus = static_cast<int>(v.i("J"));
    b.ckt = identifier(v.s("CKT"), line, "branch");
    b.r_pu = v.r("R");
    b.x_pu = v.r("X");
    b.b_pu = v.r("B");
    b.name = name(v.s("NAME"), kMaxNameLength, line, "branch");
    v.ratings(b.ratings);
    b.gi_pu = v.r("GI");
    b.bi_pu = v.r("BI");
    b.gj_pu = v.r("GJ");
    b.bj_pu = v.r("BJ");
    b.status = static_cast<int>(v.i("ST"));
    long met = v.i("MET");
    b.metbus = met >= 2 ? b.to_bus : b.from_bus;
    b.length = v.r("LEN");
    v.owners(b.owners);
    check(check_branch(net, b), line, "branch");
    duplicate_check(seen_branches_, {std::min(b.from_bus, b.to_bus), std::max(b.from_bus, b.to_bus), 0, b.ckt},
                    line, "branch");
    net.branches.push_back(std::move(b));
}

void RawReader::read_winding(const Line& line, Winding& w, bool full) {
    View v{*this, line, "transformer winding"};
    v.require(full ? 26 : 2);
    w.windv = v.r("WINDV");
    w.nomv_kv = v.r("NOMV");
    if (!full) return;
    w.ang_deg = v.r("ANG");
    v.ratings(w.ratings);
    w.cod = static_cast<int>(v.i("COD"));
    w.cont = static_cast<int>(v.i("CONT"));
    w.node = static_cast<int>(v.i("NODE"));
    w.rma = v.r("RMA");
    w.rmi = v.r("RMI");
    w.vma = v.r("VMA");
    w.vmi = v.r("VMI");
    w.ntp = static_cast<int>(v.i("NTP"));
    w.tab = static_cast<int>(v.i("TAB"));
    w.cr_pu = v.r("CR");
    w.cx_pu = v.r("CX");
    w.cnxa_deg = v.r("CNXA");
}

void RawReader::read_transformer(Network& net, const Line& first) {
    View v{*this, first, "transformer"};
    v.require(22);
    Transformer t;
    for (int w = 0; w < 3; ++w) t.buses[w] = static_cast<int>(v.i(w == 0 ? "I" : w == 1 ? "J" : "K"));
    const bool three = t.buses[2] != 0;
    t.ckt = identifier(v.s("CKT"), first, "transformer");
    t.cw = static_cast<int>(v.i("CW"));
    t.cz = static_cast<int>(v.i("CZ"));
    t.cm = static_cast<int>(v.i("CM"));
    t.mag1 = v.r("MAG1");
    t.mag2 = v.r("MAG2");
    long nmetr = v.i("NMETR");
    t.name = name(v.s("NAME"), kMaxNameLength, first, "transformer");
    t.status = static_cast<int>(v.i("STAT"));
    v.owners(t.owners);
    t.vecgrp = name(v.s("VECGRP"), kMaxVectorGroupLength, first, "transformer");
    t.zcod = static_cast<int>(v.i("ZCOD"));
    if (three) {
        if (nmetr < 1 || nmetr > 3) fail(first.number, "transformer record: NMETR must be 1, 2 or 3");
        t.metbus = t.buses[nmetr - 1];
    } else {
        t.metbus = nmetr == 1 ? t.buses[1] : t.buses[0];
    }

    Line second = next_line("the transformer impedance record");
    View z{*this, second, "transformer impedance"};
    z.require(three ? 11 : 3);
    t.r12 = z.r("R1-2");
    t.x12 = z.r("X1-2");
    t.sbase12_mva = z.r("SBASE1-2");
    double vmstar = 1.0, anstar = 0.0;
    if (three) {
        t.r23 = z.r("R2-3");
        t.x23 = z.r("X2-3");
        t.sbase23_mva = z.r("SBASE2-3");
        t.r31 = z.r("R3-1");
        t.x31 = z.r("X3-1");
        t.sbase31_mva = z.r("SBASE3-1");
        vmstar = z.r("VMSTAR");
        anstar = z.r("ANSTAR");
        if (vmstar <= 0.0) fail(second.number, "transformer impedance record: VMSTAR must be positive");
    }
    read_winding(next_line("the transformer winding 1 record"), t.windings[0], true);
    read_winding(next_line("the transformer winding 2 record"), t.windings[1], three);
    if (three) read_winding(next_line("the transformer winding 3 record"), t.windings[2], true);

    check(check_transformer(net, t), first, "transformer");
    std::array<int, 3> sorted = t.buses;
    std::sort(sorted.begin(), sorted.end());
    duplicate_check(seen_transformers_, {sorted[0], sorted[1], sorted[2], t.ckt}, first, "transformer");
    if (!three && seen_branches_.count({std::min(t.buses[0], t.buses[1]), std::max(t.buses[0], t.buses[1]), 0, t.ckt}))
        fail(first.number, "transformer record: a branch has the same buses and circuit");
    if (three) {
        if (net.buses.size() >= bus_limit_) check(kBusLimit, first, "transformer");
        const Bus& winding1 = *net.bus(t.buses[0]);
        Bus star;
        star.number = next_star_point_number(net);
        star.base_kv = 1.0;
        star.area = winding1.area;
        star.zone = winding1.zone;
        star.owner = winding1.owner;
        star.vm_pu = vmstar;
        star.va_deg = anstar;
        star.star_point = true;
        star.ide = t.status == 0 ? kIsolatedBus : kLoadBus;
        t.star_bus = star.number;
        net.bus_index.insert(star.number);
        net.buses.push_back(star);
    }
    net.transformers.push_back(std::move(t));
}

void RawReader::read_switched_shunt(Network& net, const Line& line) {
    View v{*this, line, "switched shunt"};
    v.require(12 + 3 * kShuntBlockCount);
    SwitchedShunt s;
    s.bus = static_cast<int>(v.i("I"));
    s.id = identifier(v.s("ID"), line, "switched shunt");
    s.modsw = static_cast<int>(v.i("MODSW"));
    s.adjm = static_cast<int>(v.i("ADJM"));
    s.stat = static_cast<int>(v.i("STAT"));
    s.vswhi = v.r("VSWHI");
    s.vswlo = v.r("VSWLO");
    s.swreg = static_cast<int>(v.i("SWREG"));
    s.nreg = static_cast<int>(v.i("NREG"));
    s.rmpct = v.r("RMPCT");
    s.rmidnt = name(v.s("RMIDNT"), kMaxNameLength, line, "switched shunt");
    s.binit_mvar = v.r("BINIT");
    for (auto& block : s.blocks) {
        block.s = static_cast<int>(v.i("S"));
        block.n = static_cast<int>(v.i("N"));
        block.b_mvar = v.r("B");
    }
    s.name = name(v.optional_s(), kMaxNameLength, line, "switched shunt");
    if (!net.bus(s.bus)) check(kBusNotFound, line, "switched shunt");
    check(check_switched_shunt(net, s), line, "switched shunt");
    duplicate_check(seen_switched_, {s.bus, 0, 0, s.id}, line, "switched shunt");
    net.switched_shunts.push_back(std::move(s));
}

void RawReader::read_induction_machine(Network& net, const Line& line) {
    View v{*this, line, "induction machine"};
    v.require(34);
    InductionMachine m;
    m.bus = static_cast<int>(v.i("I"));
    m.id = identifier(v.s("ID"), line, "induction machine");
    m.status = static_cast<int>(v.i("STAT"));
    m.scode = static_cast<int>(v.i("SCODE"));
    m.dcode = static_cast<int>(v.i("DCODE"));
    m.area = static_cast<int>(v.i("AREA"));
    m.zone = static_cast<int>(v.i("ZONE"));
    m.owner = static_cast<int>(v.i("OWNER"));
    m.tcode = static_cast<int>(v.i("TCODE"));
    m.bcode = static_cast<int>(v.i("BCODE"));
    m.mbase_mva = v.r("MBASE");
    m.ratekv = v.r("RATEKV");
    m.pcode = static_cast<int>(v.i("PCODE"));
    m.pset_mw = v.r("PSET");
    m.h = v.r("H");
    m.a = v.r("A");
    m.b = v.r("B");
    m.d = v.r("D");
    m.e = v.r("E");
    m.ra = v.r("RA");
    m.xa = v.r("XA");
    m.xm = v.r("XM");
    m.r1 = v.r("R1");
    m.x1 = v.r("X1");
    m.r2 = v.r("R2");
    m.x2 = v.r("X2");
    m.x3 = v.r("X3");
    m.e1 = v.r("E1");
    m.se1 = v.r("SE1");
    m.e2 = v.r("E2");
    m.se2 = v.r("SE2");
    m.ia1 = v.r("IA1");
    m.ia2 = v.r("IA2");
    m.xamult = v.r("XAMULT");
    m.name = name(v.optional_s(), kMaxNameLength, line, "induction machine");
    if (!net.bus(m.bus)) check(kBusNotFound, line, "induction machine");
    check(check_induction_machine(net, m), line, "induction machine");
    duplicate_check(seen_induction_, {m.bus, 0, 0, m.id}, line, "induction machine");
    net.induction_machines.push_back(std::move(m));
}

void RawReader::read_section(Network& net, std::size_t section) {
    const auto& names = raw_sections(version_);
    const std::string expecting = "the end of the " + names[section] + " data";
    for (;;) {
        Line line = next_line(expecting.c_str());
        if (is_terminator(line)) return;
        switch (static_cast<RawSection>(section)) {
            case RawSection::kBus: read_bus(net, line); break;
            case RawSection::kLoad: read_load(net, line); break;
            case RawSection::kFixedShunt: read_fixed_shunt(net, line); break;
            case RawSection::kGenerator: read_generator(net, line); break;
            case RawSection::kBranch: read_branch(net, line); break;
            case RawSection::kTransformer: read_transformer(net, line); break;
            case RawSection::kSwitchedShunt: read_switched_shunt(net, line); break;
            case RawSection::kInductionMachine: read_induction_machine(net, line); break;
            // Names of areas, zones and owners and the groupings below are not kept; their
            // records change no element.
            case RawSection::kArea:
            case RawSection::kZone:
            case RawSection::kInterAreaTransfer:
            case RawSection::kOwner:
            case RawSection::kImpedanceCorrection:
            case RawSection::kMultiSectionLine: count_skipped(names[section]); break;
            // Equipment the engine does not model: refusing the case is better than
            // dropping part of the network without a word.
            default: fail(line.number, names[section] + " data cannot be read by this engine");
        }
    }
}

void RawReader::count_skipped(const std::string& section) {
    if (skipped_.empty() || skipped_.back().first != section) skipped_.emplace_back(section, 0);
    ++skipped_.back().second;
}

std::vector<std::string> RawReader::skipped_notes() const {
    std::vector<std::string> notes;
    for (const auto& [section, count] : skipped_)
        notes.push_back(section + " data: " + std::to_string(count) + (count == 1 ? " record" : " records") +
                        " not held by the engine and left out");
    return notes;
}

Network RawReader::read() {
    Network net;
    // Text editors on some systems start a file with a byte order mark.
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    read_header(net);
    read_system_wide();
    const auto& names = raw_sections(version_);
    for (std::size_t section = 0; section < names.size(); ++section) read_section(net, section);
    Line last = next_line("the end-of-case record Q");
    if (last.fields.size() != 1 || last.fields[0].quoted || last.fields[0].text != "Q")
        fail(last.number, "the end-of-case record Q was expected");
    // Text after Q is not part of the case; it is ignored.
    return net;
}

}  // namespace

Network read_raw_case(std::string_view text, const std::string& file_name, std::size_t bus_limit,
                      std::vector<std::string>* notes) {
    // Files of versions before 35 come from other tools: the importer reads them with their
    // own record layouts and defaults.
    const std::string whole(text);
    const int version = io::raw_header_version(whole);
    if (version >= io::kOldestRawVersion && version < kWrittenRawVersion) {
        Network net;
        io::ImportOutcome outcome = io::read_raw_text(whole, version, net, bus_limit);
        if (!outcome.ok()) throw CaseFileError(CaseFileError::kFormat, file_name, outcome.line, outcome.error);
        if (notes) notes->insert(notes->end(), outcome.notes.begin(), outcome.notes.end());
        return net;
    }
    RawReader reader(text, file_name, bus_limit);
    Network net = reader.read();
    if (notes) {
        std::vector<std::string> skipped = reader.skipped_notes();
        notes->insert(notes->end(), skipped.begin(), skipped.end());
    }
    return net;
}

}  // namespace gridfold::pf
