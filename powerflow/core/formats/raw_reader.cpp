// Reader of RAW case text, versions 32 to 35 (see raw_format.hpp).
#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "core/formats/raw_layouts.hpp"
#include "core/formats/raw_reader.hpp"
#include "core/formats/raw_references.hpp"
#include "core/formats/raw_text.hpp"
#include "core/model/error_codes.hpp"
#include "core/model/flat_map.hpp"
#include "core/model/model_edit.hpp"

namespace gridfold::pf::formats {

const std::vector<std::string>& raw_sections(int version) {
    static const std::vector<std::string> v33{"BUS",
                                              "LOAD",
                                              "FIXED SHUNT",
                                              "GENERATOR",
                                              "BRANCH",
                                              "TRANSFORMER",
                                              "AREA",
                                              "TWO-TERMINAL DC",
                                              "VSC DC LINE",
                                              "IMPEDANCE CORRECTION",
                                              "MULTI-TERMINAL DC",
                                              "MULTI-SECTION LINE",
                                              "ZONE",
                                              "INTER-AREA TRANSFER",
                                              "OWNER",
                                              "FACTS DEVICE",
                                              "SWITCHED SHUNT",
                                              "GNE",
                                              "INDUCTION MACHINE"};
    // Version 35 adds system switching devices after the branches and substations at the end.
    static const std::vector<std::string> v35 = [] {
        std::vector<std::string> sections = v33;
        sections.insert(sections.begin() + 5, "SYSTEM SWITCHING DEVICE");
        sections.push_back("SUBSTATION");
        return sections;
    }();
    return version >= 34 ? v35 : v33;
}

namespace {

// A distinctive part of each section's name, to recognise the section a terminator's
// "BEGIN ..." text announces whatever the writer's spelling ("Area interchange data",
// "AREA DATA"). INTER-AREA comes before AREA, which it contains.
const std::vector<std::pair<std::string, std::string>>& section_keys() {
    static const std::vector<std::pair<std::string, std::string>> keys{{"INTERAREA", "INTER-AREA TRANSFER"},
                                                                       {"FIXEDSHUNT", "FIXED SHUNT"},
                                                                       {"SWITCHEDSHUNT", "SWITCHED SHUNT"},
                                                                       {"SYSTEMSWITCHING", "SYSTEM SWITCHING DEVICE"},
                                                                       {"TWOTERMINAL", "TWO-TERMINAL DC"},
                                                                       {"MULTITERMINAL", "MULTI-TERMINAL DC"},
                                                                       {"MULTISECTION", "MULTI-SECTION LINE"},
                                                                       {"VSC", "VSC DC LINE"},
                                                                       {"IMPEDANCE", "IMPEDANCE CORRECTION"},
                                                                       {"FACTS", "FACTS DEVICE"},
                                                                       {"INDUCTION", "INDUCTION MACHINE"},
                                                                       {"SUBSTATION", "SUBSTATION"},
                                                                       {"GENERATOR", "GENERATOR"},
                                                                       {"TRANSFORMER", "TRANSFORMER"},
                                                                       {"BRANCH", "BRANCH"},
                                                                       {"LOAD", "LOAD"},
                                                                       {"AREA", "AREA"},
                                                                       {"ZONE", "ZONE"},
                                                                       {"OWNER", "OWNER"},
                                                                       {"GNE", "GNE"},
                                                                       {"BUS", "BUS"}};
    return keys;
}

// The section a terminator's comment announces after "BEGIN", or "" when it names none.
std::string announced_section(std::string_view comment) {
    std::string squeezed;
    for (char c : comment) {
        const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u != ' ' && u != '-' && u != '\t' && u != '_') squeezed += u;
    }
    const std::size_t begin = squeezed.find("BEGIN");
    if (begin == std::string::npos) return {};
    const std::string after = squeezed.substr(begin + 5);
    for (const auto& [key, section] : section_keys())
        if (after.rfind(key, 0) == 0) return section;
    return {};
}

// The reading side of the record layouts: a cursor over one line's fields.
class FieldsIn {
public:
    static constexpr bool reading = true;
    int version;
    bool generator_nreg = false;      // version 34 writers with node-breaker data add NREG,
    bool winding_node = false;        // NODE and the switched shunt's NREG
    bool switched_shunt_nreg = false;

    FieldsIn(const TextLine& line, int v, bool strict, const char* record, std::size_t start = 0)
        : version(v), line_(line), strict_(strict), record_(record), at_(start) {}

    void integer(const char* name, int& value) { assign(name, value, take(name, true), 0); }
    void integer(const char* name, int& value, int fallback) { assign(name, value, take(name, false), fallback); }
    void real(const char* name, double& value, double fallback) {
        const FieldView* f = take(name, false);
        if (!f) {
            value = fallback;
            return;
        }
        auto parsed = f->quoted ? std::nullopt : parse_real(f->text);
        if (!parsed) refuse_field(name, *f, "' is not a finite number");
        value = *parsed;
    }
    void text(const char* name, std::string& value, std::size_t max, std::string_view fallback) {
        const FieldView* f = take(name, false);
        auto normal = normalize_name(f ? f->text : fallback, max);
        if (!normal)
            fail(std::string(name) + ": '" + std::string(f ? f->text : fallback) + "' is longer than " +
                 std::to_string(max) + " characters or holds a quote");
        value = std::move(*normal);
    }
    void identifier(const char* name, std::string& value) {
        const FieldView* f = take(name, false);
        auto id = normalize_identifier(f ? f->text : std::string_view("1"));
        if (!id) fail(std::string(name) + ": invalid identifier '" + std::string(f->text) + "'");
        value = std::move(*id);
    }
    // Trailing text fields that writers of version 35 often leave out: optional everywhere.
    void trailing_text(const char* name, std::string& value, std::size_t max) {
        if (at_ >= line_.fields.size()) {
            value.clear();
            return;
        }
        const FieldView& f = line_.fields[at_++];
        auto normal = normalize_name(f.text, max);
        if (!normal) fail(std::string(name) + ": invalid name '" + std::string(f.text) + "'");
        value = std::move(*normal);
    }
    // The element names the engine writes after a record's own fields.
    void own_name(const char* name, std::string& value) { trailing_text(name, value, kMaxNameLength); }
    void bus_list(const char* name, std::vector<int>& buses, int count) {
        if (count < 0 || count > 64) fail("the number of terminals must be 0 to 64");
        buses.assign(static_cast<std::size_t>(count), 0);
        for (int& bus : buses) integer(name, bus);
    }
    // Fields left unread as raw values (GNE data, substation records).
    void rest(RawValues& values) {
        for (; at_ < line_.fields.size(); ++at_)
            values.push_back(RawValue{std::string(line_.fields[at_].text), line_.fields[at_].quoted});
    }
    bool has_more() const { return at_ < line_.fields.size(); }
    std::size_t position() const { return at_; }

    // Refuses a line holding more fields than its layout: any at all in a case file of the
    // engine's own, far more in a file from another tool.
    void finish() const {
        const std::size_t count = line_.fields.size();
        if (strict_ ? count > at_ : count > 2 * at_ + 8)
            fail("has " + std::to_string(count) + " fields, its layout " + std::to_string(at_));
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw RawFault{line_.number, std::string(record_) + " record: " + what};
    }
    // The messages are built out of line, so that the paths of a good field stay short
    // enough to be inlined into every record's reader.
    [[noreturn, gnu::cold, gnu::noinline]] void refuse_field(const char* name, const FieldView& f,
                                                             const char* what) const {
        fail(std::string(name) + ": '" + std::string(f.text) + what);
    }
    [[noreturn, gnu::cold, gnu::noinline]] void refuse_missing(const char* name, bool ended) const {
        fail(ended ? "ends before field " + std::string(name) : "field " + std::string(name) + " is empty");
    }
    [[noreturn, gnu::cold, gnu::noinline]] void refuse_range(const char* name, const FieldView& f) const {
        fail(std::string(name) + ": " + std::string(f.text) + " is out of range");
    }

private:
    const FieldView* take(const char* name, bool required) {
        if (at_ >= line_.fields.size()) {
            if (required || strict_) refuse_missing(name, true);
            return nullptr;
        }
        const FieldView& f = line_.fields[at_++];
        if (f.empty()) {
            if (required || strict_) refuse_missing(name, false);
            return nullptr;
        }
        return &f;
    }
    void assign(const char* name, int& value, const FieldView* f, int fallback) {
        if (!f) {
            value = fallback;
            return;
        }
        auto parsed = f->quoted ? std::nullopt : parse_integer(f->text);
        if (!parsed) refuse_field(name, *f, "' is not an integer");
        if (*parsed < INT_MIN || *parsed > INT_MAX) refuse_range(name, *f);
        value = static_cast<int>(*parsed);
    }

    const TextLine& line_;
    bool strict_;
    const char* record_;
    std::size_t at_;
};

// Keys of elements: a number (bus, bus pair, section tag) and an identifier of at most two
// characters, packed into two integers so that a whole case is checked without allocating.
struct ElementKey {
    long long number;
    std::uint64_t id;
    bool operator==(const ElementKey& other) const { return number == other.number && id == other.id; }
};
struct ElementKeyHash {
    std::size_t operator()(const ElementKey& k) const {
        return std::hash<long long>()(k.number) ^ (std::hash<std::uint64_t>()(k.id) * 0x9E3779B97F4A7C15ULL);
    }
};
// Presence only: the value is unused.
class KeySet {
public:
    bool insert(const ElementKey& key) { return keys_.insert(key, true); }
    void reserve(std::size_t count) { keys_.reserve(count); }

private:
    FlatMap<ElementKey, bool, ElementKeyHash> keys_;
};

// Texts up to eight bytes pack into one integer; longer names (dc lines, FACTS) hash, with
// their length, which keeps distinct names distinct in practice and equal names equal.
std::uint64_t packed(std::string_view text) {
    std::uint64_t value = 0;
    if (text.size() <= 7) {
        for (unsigned char c : text) value = (value << 8) | c;
        return (value << 8) | text.size();
    }
    return (std::hash<std::string_view>()(text) << 8) | 0xFF;
}

class RawCaseReader {
public:
    RawCaseReader(std::string_view text, const RawReadOptions& options, std::vector<std::string>& notes)
        : lines_(text),
          version_(options.version),
          strict_(options.strictness == Strictness::kCaseFile),
          bus_limit_(options.bus_limit),
          notes_(notes) {}

    Network read();

private:
    // ---- lines ----
    [[noreturn]] void fail(int line, const std::string& what) const { throw RawFault{line, what}; }
    // The next record line; the end of the text is a fault naming what was expected.
    const TextLine& require(const std::string& what) {
        if (!lines_.next(line_)) fail(lines_.line_number() + 1, "file ends before " + what);
        return line_;
    }
    FieldsIn fields(const char* record, std::size_t start = 0) const {
        return FieldsIn(line_, version_, strict_, record, start);
    }

    // ---- sections ----
    void reserve_for(std::string_view rest);
    void read_header();
    void read_system_wide();
    void read_section(std::size_t section, const std::vector<std::string>& names);
    void check_terminator(const std::string& ended, const std::vector<std::string>& names, std::size_t& next);
    using RecordReader = void (RawCaseReader::*)();
    static RecordReader record_reader(const std::string& section);

    void read_bus();
    void read_load();
    void read_fixed_shunt();
    void read_generator();
    void read_branch();
    void read_switching_device();
    void read_transformer();
    void read_area();
    void read_two_terminal_dc();
    void read_vsc_dc();
    void read_impedance_correction();
    void read_multi_terminal_dc();
    void read_multi_section_line();
    void read_zone();
    void read_transfer();
    void read_owner();
    // Areas, zones and owners: one record with a positive number no other record of its kind has.
    template <class Record>
    Record read_numbered(const char* kind, std::unordered_set<int>& seen, void (*fill)(FieldsIn&, Record&)) {
        FieldsIn f = fields(kind);
        Record record;
        fill(f, record);
        f.finish();
        if (record.number < 1) f.fail(std::string(kind) + " number must be positive");
        if (!seen.insert(record.number).second)
            f.fail("duplicate " + std::string(kind) + " " + std::to_string(record.number));
        return record;
    }
    void read_facts();
    void read_switched_shunt();
    void read_gne();
    void read_induction_machine();
    void read_substation();

    // ---- checks ----
    // The buses of a file are numbered up to kMaxBusNumber and star points above it, so the
    // number alone tells a star point: the bus record itself is not touched.
    const Bus& existing_bus(int number, const char* record, const char* role) const {
        const Bus* b = number <= kMaxBusNumber ? net_.bus(number) : nullptr;
        if (!b)
            fail(line_.number, std::string(record) + " record: " + role + " " + std::to_string(number) +
                                   " is not a bus of the bus data");
        return *b;
    }
    void optional_bus(int number, const char* record, const char* role) const {
        if (number != 0) existing_bus(number < 0 ? -number : number, record, role);
    }
    void check(int code, const char* record) const {
        if (code != kOk) fail(line_.number, std::string(record) + " record refused: " + std::string(error_text(code)));
    }
    void unique(KeySet& seen, long long key, const std::string& id, const char* what) const {
        if (!seen.insert({key, packed(id)})) fail(line_.number, std::string("duplicate ") + what);
    }
    static long long pair_key(int a, int b) {
        return static_cast<long long>(std::min(a, b)) * 4294967296LL + std::max(a, b);
    }
    void unique_circuit(std::array<int, 3> buses, const std::string& ckt) {
        std::sort(buses.begin(), buses.end());
        const std::uint64_t key =
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(buses[0])) << 32) | (packed(ckt) & 0xFFFFFFFFULL);
        if (!circuits_.insert({pair_key(buses[1], buses[2]), key}))
            fail(line_.number, "duplicate circuit " + ckt + " between these buses");
    }

    TextLines lines_;
    TextLine line_;
    int version_;
    bool strict_;
    std::size_t bus_limit_;
    std::vector<std::string>& notes_;
    Network net_;
    bool finished_ = false;  // "Q" seen before the last section
    int next_star_ = kFirstStarPointBus;
    int zero_reactance_devices_ = 0;
    std::unordered_map<int, std::size_t> plant_at_;
    KeySet loads_, fixed_shunts_, machines_, switched_shunts_, induction_machines_, circuits_, named_;
    std::unordered_set<int> areas_, zones_, owners_, tables_, substations_;
};

// Lines of each section of the text, counted in a quick pass that takes a line whose first
// field is 0 for a terminator; an estimate, used only to size the containers before reading.
std::vector<std::size_t> section_line_counts(std::string_view text, std::size_t sections) {
    std::vector<std::size_t> counts(sections, 0);
    std::size_t section = 0;
    for (std::size_t at = 0; at < text.size() && section < sections;) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::size_t first = at;
        while (first < end && (text[first] == ' ' || text[first] == '\t')) ++first;
        const char after = first + 1 < end ? text[first + 1] : ' ';
        if (first < end && text[first] == '0' && (after == ' ' || after == ',' || after == '/' || after == '\r'))
            ++section;
        else if (first < end)
            ++counts[section];
        at = end + 1;
    }
    return counts;
}

void RawCaseReader::reserve_for(std::string_view rest) {
    const auto& names = raw_sections(version_);
    const auto counts = section_line_counts(rest, names.size());
    auto lines_of = [&](const char* section) {
        for (std::size_t k = 0; k < names.size(); ++k)
            if (names[k] == section) return counts[k];
        return std::size_t{0};
    };
    const std::size_t transformers = lines_of("TRANSFORMER") / 4;
    const std::size_t lines = lines_of("BRANCH") + lines_of("SYSTEM SWITCHING DEVICE");
    // The case's containers get some room beyond its elements: plants are added to the case
    // read, and growing a full container holds it twice while its elements move (some 5 MB
    // for the lines of a 10,000-bus case). The room is in proportion: a plant's own case,
    // which a run keeps for each plant it adds, stays as small as the plant.
    const auto with_room = [](std::size_t count) { return count + count / 32; };
    net_.buses.reserve(with_room(lines_of("BUS") + transformers));
    net_.bus_index.reserve(with_room(lines_of("BUS") + transformers));
    net_.loads.reserve(with_room(lines_of("LOAD")));
    net_.fixed_shunts.reserve(with_room(lines_of("FIXED SHUNT")));
    net_.machines.reserve(with_room(lines_of("GENERATOR")));
    net_.branches.reserve(with_room(lines));
    net_.transformers.reserve(with_room(transformers));
    net_.switched_shunts.reserve(with_room(lines_of("SWITCHED SHUNT")));
    // The sets that find duplicates are sized once too: growing them by doubling while a
    // large case is read took some 3 % of the read.
    loads_.reserve(lines_of("LOAD"));
    fixed_shunts_.reserve(lines_of("FIXED SHUNT"));
    machines_.reserve(lines_of("GENERATOR"));
    plant_at_.reserve(lines_of("GENERATOR"));
    switched_shunts_.reserve(lines_of("SWITCHED SHUNT"));
    induction_machines_.reserve(lines_of("INDUCTION MACHINE"));
    circuits_.reserve(lines + transformers);
}

Network RawCaseReader::read() {
    read_header();
    if (version_ >= 34) read_system_wide();
    reserve_for(lines_.rest());
    const auto& names = raw_sections(version_);
    std::size_t section = 0;
    while (section < names.size()) {
        if (finished_) {
            if (strict_) fail(line_.number, "the case ends before the " + names[section] + " data");
            break;
        }
        read_section(section, names);
        check_terminator(names[section], names, section);
    }
    if (!finished_) {
        if (!lines_.next(line_)) {
            if (strict_) fail(lines_.line_number() + 1, "the end-of-case record Q was expected");
        } else if (!line_.is_quit()) {
            fail(line_.number, "the end-of-case record Q was expected after the last section");
        }
        // Text after Q is not part of the case.
    }
    if (zero_reactance_devices_ > 0)
        notes_.push_back("system switching device data: X 0 taken as 0.0001 pu for " +
                         std::to_string(zero_reactance_devices_) + " devices");
    complete_references(net_, &notes_);
    net_.structure_changed();
    return std::move(net_);
}

void RawCaseReader::read_header() {
    const auto raw = lines_.raw_line();
    if (!raw) fail(1, "empty file");
    // "@!" annotation lines may come before the identification record.
    std::string_view first = *raw;
    while (first.substr(0, 2) == "@!") {
        auto next = lines_.raw_line();
        if (!next) fail(lines_.line_number(), "file ends before the case identification record");
        first = *next;
    }
    split_line(first, lines_.line_number(), line_);
    FieldsIn f = fields("case identification");
    int ic = 0, rev = version_;
    f.integer("IC", ic, 0);
    f.real("SBASE", net_.system.sbase_mva, 100.0);
    f.integer("REV", rev, version_);
    f.integer("XFRRAT", net_.system.xfrrat, 0);
    f.integer("NXFRAT", net_.system.nxfrat, 0);
    f.real("BASFRQ", net_.system.base_frequency_hz, 60.0);
    if (ic != 0) fail(line_.number, "IC " + std::to_string(ic) + ": only a whole case (IC 0) can be read");
    if (check_system(net_.system)) fail(line_.number, "SBASE and BASFRQ must be positive, SBASE 0.001 to 1e6 MVA");
    auto title1 = lines_.raw_line();
    auto title2 = title1 ? lines_.raw_line() : std::nullopt;
    if (!title2) fail(lines_.line_number() + 1, "file ends inside the case heading");
    auto trim_right = [](std::string_view s) {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
        return std::string(s);
    };
    net_.system.title1 = strict_ ? std::string(*title1) : trim_right(*title1);
    net_.system.title2 = strict_ ? std::string(*title2) : trim_right(*title2);
}

// GENERAL, GAUSS, NEWTON, ADJUST, TYSL, SOLVER and RATING records, kept as written.
void RawCaseReader::read_system_wide() {
    for (;;) {
        const TextLine& line = require("the end of the system-wide data");
        if (line.is_terminator()) {
            const std::string announced = announced_section(line.comment);
            if (!announced.empty() && announced != "BUS")
                fail(line.number, "the terminator announces " + announced + " data; BUS data comes next");
            return;
        }
        if (line.fields[0].quoted || parse_real(line.fields[0].text))
            fail(line.number, "system-wide data record expected (GENERAL, RATING, ...) or 0");
        RawValues record;
        FieldsIn(line, version_, false, "system-wide data").rest(record);
        net_.system_wide.push_back(std::move(record));
    }
}

void RawCaseReader::read_section(std::size_t section, const std::vector<std::string>& names) {
    const std::string expecting = "the end of the " + names[section] + " data";
    const RecordReader read_one = record_reader(names[section]);
    for (;;) {
        const TextLine& line = require(expecting);
        if (line.is_terminator()) return;
        if (line.is_quit() && !strict_) {
            finished_ = true;
            return;
        }
        (this->*read_one)();
    }
}

// A terminator's "BEGIN ..." text must name the section expected next. The one section a
// file from another tool may leave out, saying so, is that of system switching devices
// (version 34 writers without node-breaker data); the engine's own files hold every section.
void RawCaseReader::check_terminator(const std::string& ended, const std::vector<std::string>& names,
                                     std::size_t& next) {
    ++next;
    if (finished_) return;
    const std::string announced = announced_section(line_.comment);
    if (announced.empty()) return;
    if (next < names.size() && names[next] == announced) return;
    if (!strict_ && next + 1 < names.size() && names[next] == "SYSTEM SWITCHING DEVICE" &&
        names[next + 1] == announced) {
        ++next;
        return;
    }
    fail(line_.number, "the terminator of the " + ended + " data announces " + announced + " data; " +
                           (next < names.size() ? names[next] + " data comes next" : "the case ends there"));
}

RawCaseReader::RecordReader RawCaseReader::record_reader(const std::string& section) {
    static const std::unordered_map<std::string, RecordReader> readers{
        {"BUS", &RawCaseReader::read_bus},
        {"LOAD", &RawCaseReader::read_load},
        {"FIXED SHUNT", &RawCaseReader::read_fixed_shunt},
        {"GENERATOR", &RawCaseReader::read_generator},
        {"BRANCH", &RawCaseReader::read_branch},
        {"SYSTEM SWITCHING DEVICE", &RawCaseReader::read_switching_device},
        {"TRANSFORMER", &RawCaseReader::read_transformer},
        {"AREA", &RawCaseReader::read_area},
        {"TWO-TERMINAL DC", &RawCaseReader::read_two_terminal_dc},
        {"VSC DC LINE", &RawCaseReader::read_vsc_dc},
        {"IMPEDANCE CORRECTION", &RawCaseReader::read_impedance_correction},
        {"MULTI-TERMINAL DC", &RawCaseReader::read_multi_terminal_dc},
        {"MULTI-SECTION LINE", &RawCaseReader::read_multi_section_line},
        {"ZONE", &RawCaseReader::read_zone},
        {"INTER-AREA TRANSFER", &RawCaseReader::read_transfer},
        {"OWNER", &RawCaseReader::read_owner},
        {"FACTS DEVICE", &RawCaseReader::read_facts},
        {"SWITCHED SHUNT", &RawCaseReader::read_switched_shunt},
        {"GNE", &RawCaseReader::read_gne},
        {"INDUCTION MACHINE", &RawCaseReader::read_induction_machine},
        {"SUBSTATION", &RawCaseReader::read_substation}};
    return readers.at(section);
}

// ---- elements ----------------------------------------------------------------------------

void RawCaseReader::read_bus() {
    FieldsIn f = fields("bus");
    Bus b;
    bus_fields(f, b);
    f.finish();
    if (b.number < kMinBusNumber || b.number > kMaxBusNumber) check(kInvalidBusNumber, "bus");
    if (net_.bus_index.contains(b.number)) fail(line_.number, "duplicate bus " + std::to_string(b.number));
    if (net_.buses.size() >= bus_limit_) check(kBusLimit, "bus");
    check(check_bus(b), "bus");
    net_.add_bus(std::move(b));
}

void RawCaseReader::read_load() {
    FieldsIn f = fields("load");
    Load l;
    f.integer("I", l.bus);
    load_fields(f, l, existing_bus(l.bus, "load", "bus"));
    f.finish();
    unique(loads_, l.bus, l.id, "load record");
    check(check_load(net_, l), "load");
    net_.loads.push_back(std::move(l));
}

void RawCaseReader::read_fixed_shunt() {
    FieldsIn f = fields("fixed shunt");
    FixedShunt s;
    f.integer("I", s.bus);
    existing_bus(s.bus, "fixed shunt", "bus");
    fixed_shunt_fields(f, s);
    f.finish();
    unique(fixed_shunts_, s.bus, s.id, "fixed shunt record");
    check(check_fixed_shunt(net_, s), "fixed shunt");
    net_.fixed_shunts.push_back(std::move(s));
}

void RawCaseReader::read_generator() {
    FieldsIn f = fields("generator");
    // Version 34 writers with node-breaker data add NREG after IREG (29 fields, not 28).
    f.generator_nreg = version_ == 34 && line_.fields.size() >= 29;
    Machine m;
    Plant p;
    f.integer("I", m.bus);
    const Bus& at = existing_bus(m.bus, "generator", "bus");
    generator_fields(f, m, p, at, net_.system.sbase_mva);
    f.finish();
    p.bus = m.bus;
    optional_bus(p.ireg, "generator", "regulated bus IREG");
    unique(machines_, m.bus, m.id, "generator record");
    // The plant record of a bus comes from its generator records; the last one read wins,
    // as a data call for each machine would leave it.
    check(check_plant(net_, p), "generator");
    auto [it, added] = plant_at_.emplace(p.bus, net_.plants.size());
    if (added)
        net_.plants.push_back(p);
    else
        net_.plants[it->second] = p;
    // A refused machine fails the whole read, so the plant stored above never outlives it.
    check(check_machine(net_, m), "generator");
    net_.machines.push_back(std::move(m));
}

void RawCaseReader::read_branch() {
    FieldsIn f = fields("branch");
    Branch b;
    int to = 0;
    f.integer("I", b.from_bus);
    f.integer("J", to);
    // A negative J marks bus J as the metered end (older files).
    b.to_bus = to < 0 ? -to : to;
    int met = to < 0 ? 2 : 1;
    existing_bus(b.from_bus, "branch", "bus I");
    const int first_owner = existing_bus(b.from_bus, "branch", "bus I").owner;
    existing_bus(b.to_bus, "branch", "bus J");
    branch_fields(f, b, met, first_owner);
    f.finish();
    if (b.from_bus == b.to_bus) fail(line_.number, "branch record: buses I and J are the same");
    b.metbus = met >= 2 ? b.to_bus : b.from_bus;
    if (b.r_pu == 0.0 && b.x_pu == 0.0) fail(line_.number, "branch record: the impedance R, X is zero");
    unique_circuit({0, b.from_bus, b.to_bus}, b.ckt);
    check(check_branch(net_, b), "branch");
    net_.branches.push_back(std::move(b));
}

// Switching devices are held as lines of their reactance (leaving them out would split the
// network), marked with their type so that they are written back as switching devices.
void RawCaseReader::read_switching_device() {
    FieldsIn f = fields("system switching device");
    Branch b;
    f.integer("I", b.from_bus);
    f.integer("J", b.to_bus);
    const int first_owner = existing_bus(b.from_bus, "system switching device", "bus I").owner;
    existing_bus(b.to_bus, "system switching device", "bus J");
    int met = 1;
    switching_device_fields(f, b, met);
    f.finish();
    if (b.from_bus == b.to_bus) fail(line_.number, "system switching device record: buses I and J are the same");
    if (b.stype < 1 || b.stype > 3) f.fail("STYPE must be 1 (generic), 2 (breaker) or 3 (disconnector)");
    if (b.nstat != 0 && b.nstat != 1) f.fail("NSTAT must be 0 or 1");
    b.r_pu = 0.0;
    if (b.x_pu == 0.0) {
        b.x_pu = 0.0001;
        ++zero_reactance_devices_;
    }
    b.metbus = met >= 2 ? b.to_bus : b.from_bus;
    b.owners[0].owner = first_owner;
    unique_circuit({0, b.from_bus, b.to_bus}, b.ckt);
    check(check_branch(net_, b), "system switching device");
    net_.branches.push_back(std::move(b));
}

void RawCaseReader::read_transformer() {
    const int first_line = line_.number;
    Transformer t;
    int nmetr = 2;
    {
        FieldsIn f = fields("transformer");
        f.integer("I", t.buses[0]);
        f.integer("J", t.buses[1]);
        f.integer("K", t.buses[2], 0);
        const bool three = t.buses[2] != 0;
        for (int k = 0; k < (three ? 3 : 2); ++k) existing_bus(t.buses[k], "transformer", "bus");
        if (t.buses[0] == t.buses[1] || t.buses[0] == t.buses[2] || t.buses[1] == t.buses[2])
            fail(line_.number, "transformer record: buses I, J and K must differ");
        transformer_fields(f, t, nmetr, net_.bus(t.buses[0])->owner);
        f.finish();
        if (nmetr < 1 || nmetr > (three ? 3 : 2)) f.fail("NMETR must name a winding");
        // Two windings: the model keeps the metered end; NMETR names the non-metered one.
        t.metbus = three ? t.buses[nmetr - 1] : t.buses[nmetr == 1 ? 1 : 0];
        unique_circuit(t.buses, t.ckt);
    }
    const bool three = t.three_winding();
    double vmstar = 1.0, anstar = 0.0;
    {
        require("the transformer impedance record");
        FieldsIn z = fields("transformer impedance");
        transformer_impedance_fields(z, t, vmstar, anstar, net_.system.sbase_mva);
        z.finish();
        if ((t.r12 == 0.0 && t.x12 == 0.0) ||
            (three && ((t.r23 == 0.0 && t.x23 == 0.0) || (t.r31 == 0.0 && t.x31 == 0.0))))
            z.fail("the impedances must not be zero");
        if (three && !(vmstar > 0.0)) z.fail("VMSTAR must be positive");
    }
    for (int k = 0; k < (three ? 3 : 2); ++k) {
        require("winding record " + std::to_string(k + 1) + " of a transformer");
        FieldsIn w = fields("transformer winding");
        // Version 34 has NODE only from writers with node-breaker data: 27 fields, not 26.
        w.winding_node = version_ == 34 && line_.fields.size() != 26;
        const Bus& at = *net_.bus(t.buses[k]);
        const bool full = three || k == 0;
        winding_fields(w, t.windings[k], full, t.cw == 2 ? at.base_kv : 1.0);
        w.finish();
        if (full) optional_bus(t.windings[k].cont, "transformer winding", "controlled bus CONT");
    }
    line_.number = first_line;
    check(check_transformer(net_, t), "transformer");
    if (three) {
        if (net_.buses.size() >= bus_limit_) check(kBusLimit, "transformer");
        while (net_.bus_index.contains(next_star_)) ++next_star_;
        add_star_point(net_, t, next_star_++, vmstar, anstar);
    }
    net_.transformers.push_back(std::move(t));
}

void RawCaseReader::read_switched_shunt() {
    FieldsIn f = fields("switched shunt");
    // Version 34 writers with node-breaker data add NREG; RMIDNT (quoted) then moves from the
    // ninth to the tenth field.
    if (version_ == 34) {
        const auto& fs = line_.fields;
        f.switched_shunt_nreg = fs.size() > 9 && fs[9].quoted   ? true
                                : fs.size() > 8 && fs[8].quoted ? false
                                                                : fs.size() % 2 == 1;
    }
    SwitchedShunt s;
    f.integer("I", s.bus);
    existing_bus(s.bus, "switched shunt", "bus");
    // Version 35 identifies switched shunts; before it a bus holds at most one.
    if (version_ >= 35) f.identifier("ID", s.id);
    switched_shunt_fields(f, s);
    for (auto& block : s.blocks) {
        if (version_ >= 35) f.integer("S", block.s, 1);
        f.integer("N", block.n, 0);
        f.real("B", block.b_mvar, 0.0);
        if (!strict_ && !f.has_more()) break;
    }
    if (version_ >= 35) f.own_name("NAME", s.name);
    if (f.has_more()) f.fail("more than eight blocks");
    optional_bus(s.swreg, "switched shunt", "regulated bus SWREG");
    unique(switched_shunts_, s.bus, s.id, "switched shunt record");
    check(check_switched_shunt(net_, s), "switched shunt");
    net_.switched_shunts.push_back(std::move(s));
}

void RawCaseReader::read_induction_machine() {
    FieldsIn f = fields("induction machine");
    InductionMachine m;
    f.integer("I", m.bus);
    induction_machine_fields(f, m, existing_bus(m.bus, "induction machine", "bus"), net_.system.sbase_mva);
    f.finish();
    unique(induction_machines_, m.bus, m.id, "induction machine record");
    check(check_induction_machine(net_, m), "induction machine");
    net_.induction_machines.push_back(std::move(m));
}

// ---- groupings and descriptions --------------------------------------------------------

void RawCaseReader::read_area() {
    Area a = read_numbered<Area>("area", areas_, area_fields<FieldsIn, Area>);
    optional_bus(a.isw, "area", "slack bus ISW");
    net_.areas.push_back(std::move(a));
}

void RawCaseReader::read_zone() {
    net_.zones.push_back(read_numbered<Zone>("zone", zones_, zone_fields<FieldsIn, Zone>));
}

void RawCaseReader::read_owner() {
    net_.owners.push_back(read_numbered<Owner>("owner", owners_, owner_record_fields<FieldsIn, Owner>));
}

void RawCaseReader::read_transfer() {
    FieldsIn f = fields("inter-area transfer");
    InterAreaTransfer t;
    transfer_fields(f, t);
    f.finish();
    if (t.from_area < 1 || t.to_area < 1 || t.from_area == t.to_area) f.fail("two different areas expected");
    unique(named_, pair_key(t.from_area, t.to_area) * 4 + 1, t.id, "inter-area transfer");
    net_.transfers.push_back(std::move(t));
}

void RawCaseReader::read_two_terminal_dc() {
    TwoTerminalDcLine d;
    {
        FieldsIn f = fields("two-terminal dc line");
        two_terminal_dc_fields(f, d);
        f.finish();
        if (d.name.empty()) f.fail("the line needs a name");
        unique(named_, 2, d.name, "two-terminal dc line name");
    }
    for (DcConverter* c : {&d.rectifier, &d.inverter}) {
        require("the converter records of a two-terminal dc line");
        FieldsIn f = fields(c == &d.rectifier ? "two-terminal dc rectifier" : "two-terminal dc inverter");
        dc_converter_fields(f, *c);
        f.finish();
        existing_bus(c->bus, "two-terminal dc converter", "bus");
        optional_bus(c->ic, "two-terminal dc converter", "tap-controlling bus IC");
        optional_bus(c->if_bus, "two-terminal dc converter", "transformer bus IF");
        optional_bus(c->it_bus, "two-terminal dc converter", "transformer bus IT");
    }
    net_.two_terminal_dc_lines.push_back(std::move(d));
}

void RawCaseReader::read_vsc_dc() {
    VscDcLine d;
    {
        FieldsIn f = fields("VSC dc line");
        vsc_dc_fields(f, d);
        f.finish();
        if (d.name.empty()) f.fail("the line needs a name");
        unique(named_, 3, d.name, "VSC dc line name");
    }
    for (VscConverter& c : d.converters) {
        require("the converter records of a VSC dc line");
        FieldsIn f = fields("VSC dc converter");
        vsc_converter_fields(f, c);
        f.finish();
        optional_bus(c.bus, "VSC dc converter", "bus");
        optional_bus(c.vsreg, "VSC dc converter", "regulated bus");
    }
    net_.vsc_dc_lines.push_back(std::move(d));
}

// Version 33: one line of up to eleven ratio/angle and factor pairs. Version 34 on: triples
// with complex factors over as many lines as needed, ending with the point 0, 0, 0.
void RawCaseReader::read_impedance_correction() {
    FieldsIn f = fields("impedance correction table");
    ImpedanceCorrection table;
    f.integer("I", table.number);
    if (table.number < 1) f.fail("table number must be positive");
    if (!tables_.insert(table.number).second) f.fail("duplicate table " + std::to_string(table.number));
    if (version_ < 34) {
        while (f.has_more()) {
            CorrectionPoint p;
            f.real("T", p.t, 0.0);
            f.real("F", p.f_re, 0.0);
            table.points.push_back(p);
        }
        // Unused pairs are written as zeros.
        while (!table.points.empty() && table.points.back().t == 0.0 && table.points.back().f_re == 0.0)
            table.points.pop_back();
        if (table.points.size() > 11) f.fail("more than eleven points");
    } else {
        std::size_t start = f.position();
        for (;;) {
            FieldsIn cursor = fields("impedance correction table", start);
            while (cursor.has_more()) {
                CorrectionPoint p;
                cursor.real("T", p.t, 0.0);
                cursor.real("F", p.f_re, 0.0);
                cursor.real("F imaginary part", p.f_im, 0.0);
                if (p.t == 0.0 && p.f_re == 0.0 && p.f_im == 0.0) {
                    if (cursor.has_more()) cursor.fail("points after the end point 0, 0, 0");
                    net_.impedance_corrections.push_back(std::move(table));
                    return;
                }
                table.points.push_back(p);
                if (table.points.size() > 99) cursor.fail("more than 99 points");
            }
            require("the end point 0, 0, 0 of an impedance correction table");
            if (line_.is_terminator())
                fail(line_.number, "impedance correction table ends without its end point 0, 0, 0");
            start = 0;
        }
    }
    f.finish();
    net_.impedance_corrections.push_back(std::move(table));
}

void RawCaseReader::read_multi_terminal_dc() {
    MultiTerminalDcLine d;
    int nconv = 0, ndcbs = 0, ndcln = 0;
    {
        FieldsIn f = fields("multi-terminal dc line");
        mtdc_fields(f, d, nconv, ndcbs, ndcln);
        f.finish();
        if (nconv < 0 || ndcbs < 0 || ndcln < 0 || nconv + ndcbs + ndcln > 1000)
            f.fail("converter, dc bus and dc link counts from 0 to 1000 expected");
        if (d.name.empty()) f.fail("the line needs a name");
        unique(named_, 4, d.name, "multi-terminal dc line name");
        optional_bus(d.vconv, "multi-terminal dc line", "bus VCONV");
        optional_bus(d.vconvn, "multi-terminal dc line", "bus VCONVN");
    }
    for (int k = 0; k < nconv; ++k) {
        require("a converter record of a multi-terminal dc line");
        FieldsIn f = fields("multi-terminal dc converter");
        MtdcConverter c;
        mtdc_converter_fields(f, c);
        f.finish();
        existing_bus(c.bus, "multi-terminal dc converter", "bus");
        d.converters.push_back(c);
    }
    for (int k = 0; k < ndcbs; ++k) {
        require("a dc bus record of a multi-terminal dc line");
        FieldsIn f = fields("multi-terminal dc bus");
        MtdcBus b;
        mtdc_bus_fields(f, b);
        f.finish();
        optional_bus(b.ib, "multi-terminal dc bus", "converter bus IB");
        d.dc_buses.push_back(std::move(b));
    }
    for (int k = 0; k < ndcln; ++k) {
        require("a dc link record of a multi-terminal dc line");
        FieldsIn f = fields("multi-terminal dc link");
        MtdcLink l;
        mtdc_link_fields(f, l);
        f.finish();
        d.links.push_back(std::move(l));
    }
    net_.multi_terminal_dc_lines.push_back(std::move(d));
}

void RawCaseReader::read_multi_section_line() {
    FieldsIn f = fields("multi-section line");
    MultiSectionLine m;
    int to = 0;
    f.integer("I", m.from_bus);
    f.integer("J", to);
    m.to_bus = to < 0 ? -to : to;
    m.met = to < 0 ? 2 : 1;
    f.text("ID", m.id, kMaxIdentifierLength, "&1");
    f.integer("MET", m.met, m.met);
    while (f.has_more()) {
        int dummy = 0;
        f.integer("DUM", dummy);
        m.dummy_buses.push_back(dummy);
    }
    if (m.dummy_buses.empty() || m.dummy_buses.size() > 9) f.fail("one to nine dummy buses expected");
    existing_bus(m.from_bus, "multi-section line", "bus I");
    existing_bus(m.to_bus, "multi-section line", "bus J");
    for (int bus : m.dummy_buses) existing_bus(bus, "multi-section line", "dummy bus");
    unique(named_, pair_key(m.from_bus, m.to_bus) * 4 + 2, m.id, "multi-section line grouping");
    net_.multi_section_lines.push_back(std::move(m));
}

void RawCaseReader::read_facts() {
    FieldsIn f = fields("FACTS device");
    FactsDevice d;
    facts_fields(f, d);
    f.finish();
    if (d.name.empty()) f.fail("the device needs a name");
    existing_bus(d.from_bus, "FACTS device", "bus I");
    optional_bus(d.to_bus, "FACTS device", "bus J");
    optional_bus(d.fcreg, "FACTS device", "regulated bus");
    unique(named_, 5, d.name, "FACTS device name");
    net_.facts_devices.push_back(std::move(d));
}

// The device's real, integer and character data may run over several lines.
void RawCaseReader::read_gne() {
    GneDevice g;
    int nreal = 0, nintg = 0, nchar = 0;
    {
        FieldsIn f = fields("GNE device");
        gne_fields(f, g, nreal, nintg, nchar);
        f.finish();
        if (nreal < 0 || nintg < 0 || nchar < 0 || nreal + nintg + nchar > 10000)
            f.fail("data counts from 0 to 10000 expected");
        if (g.name.empty()) f.fail("the device needs a name");
        for (int bus : g.buses) existing_bus(bus, "GNE device", "terminal bus");
        unique(named_, 6, g.name, "GNE device name");
    }
    {
        require("the status record of a GNE device");
        FieldsIn f = fields("GNE device status");
        gne_status_fields(f, g);
        f.finish();
    }
    for (auto [values, count, kind] : {std::tuple{&g.reals, nreal, "real"}, std::tuple{&g.integers, nintg, "integer"},
                                       std::tuple{&g.chars, nchar, "character"}}) {
        while (static_cast<int>(values->size()) < count) {
            require(std::string("the ") + kind + " data of a GNE device");
            FieldsIn f = fields("GNE device data");
            f.rest(*values);
        }
        if (static_cast<int>(values->size()) != count)
            fail(line_.number, std::string("GNE device: more ") + kind + " values than NREAL/NINTG/NCHAR say");
    }
    net_.gne_devices.push_back(std::move(g));
}

// A substation record, then its nodes, switching devices and equipment terminals, each list
// ending with a 0 record.
void RawCaseReader::read_substation() {
    Substation s;
    {
        FieldsIn f = fields("substation");
        substation_fields(f, s);
        f.finish();
        if (!substations_.insert(s.number).second) f.fail("duplicate substation " + std::to_string(s.number));
    }
    while (!require("substation node data ending with 0").is_terminator()) {
        FieldsIn f = fields("substation node");
        SubstationNode n;
        substation_node_fields(f, n);
        f.finish();
        existing_bus(n.bus, "substation node", "bus");
        s.nodes.push_back(std::move(n));
    }
    while (!require("substation switching device data ending with 0").is_terminator()) {
        RawValues device;
        fields("substation switching device").rest(device);
        s.switching_devices.push_back(std::move(device));
    }
    while (!require("equipment terminal data ending with 0").is_terminator()) {
        FieldsIn f = fields("equipment terminal");
        SubstationTerminal t;
        f.integer("I", t.bus);
        existing_bus(t.bus, "equipment terminal", "bus");
        f.rest(t.rest);
        s.terminals.push_back(std::move(t));
    }
    net_.substations.push_back(std::move(s));
}

std::size_t star_points(const Network& net) {
    std::size_t count = 0;
    for (const Bus& b : net.buses) count += b.star_point ? 1 : 0;
    return count;
}

}  // namespace

int raw_header_version(std::string_view text) {
    try {
        TextLines lines(text);
        TextLine first;
        if (!lines.next(first) || first.fields.size() < 3) return 0;
        auto rev = parse_integer(first.fields[2].text);
        return rev && *rev > 0 && *rev < 1000 ? static_cast<int>(*rev) : 0;
    } catch (const TextError&) {
        return 0;
    }
}

int raw_layout_version(std::string_view text, std::optional<int> forced) {
    return forced ? *forced : raw_header_version(text);
}

Network read_raw(std::string_view text, const RawReadOptions& options, std::vector<std::string>& notes) {
    if (options.version < kOldestRawVersion || options.version > kNewestRawVersion)
        throw RawFault{1, "RAW version " + std::to_string(options.version) + " cannot be read (32 to 35 can)"};
    try {
        return RawCaseReader(text, options, notes).read();
    } catch (const TextError& e) {
        throw RawFault{e.line, e.what};
    }
}

std::string record_summary(const Network& net) {
    std::string text = std::to_string(net.buses.size() - star_points(net)) + " buses";
    auto add = [&](std::size_t count, const char* one, const char* many) {
        if (count == 0) return;
        text += ", " + std::to_string(count) + " " + (count == 1 ? one : many);
    };
    add(net.loads.size(), "load", "loads");
    add(net.fixed_shunts.size(), "fixed shunt", "fixed shunts");
    add(net.machines.size(), "machine", "machines");
    const auto devices = static_cast<std::size_t>(
        std::count_if(net.branches.begin(), net.branches.end(), [](const Branch& b) { return b.switching_device(); }));
    add(net.branches.size() - devices, "branch", "branches");
    add(devices, "system switching device", "system switching devices");
    add(net.transformers.size(), "transformer", "transformers");
    add(net.switched_shunts.size(), "switched shunt", "switched shunts");
    add(net.induction_machines.size(), "induction machine", "induction machines");
    add(net.areas.size(), "area", "areas");
    add(net.zones.size(), "zone", "zones");
    add(net.owners.size(), "owner", "owners");
    add(net.transfers.size(), "inter-area transfer", "inter-area transfers");
    add(net.impedance_corrections.size(), "impedance correction table", "impedance correction tables");
    add(net.multi_section_lines.size(), "multi-section line", "multi-section lines");
    add(net.two_terminal_dc_lines.size(), "two-terminal dc line", "two-terminal dc lines");
    add(net.vsc_dc_lines.size(), "VSC dc line", "VSC dc lines");
    add(net.multi_terminal_dc_lines.size(), "multi-terminal dc line", "multi-terminal dc lines");
    add(net.facts_devices.size(), "FACTS device", "FACTS devices");
    add(net.gne_devices.size(), "GNE device", "GNE devices");
    add(net.substations.size(), "substation", "substations");
    add(net.system_wide.size(), "system-wide data record", "system-wide data records");
    return text;
}

}  // namespace gridfold::pf::formats
