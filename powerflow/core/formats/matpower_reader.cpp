// MATPOWER case reader: a small scanner for the subset of MATLAB syntax case files use
// (assignments of numbers, strings, matrices and cell arrays, % comments, ... line
// continuations), then the conversion of the bus, gen and branch matrices into a Network.
#include "core/formats/matpower_reader.hpp"

#include "core/formats/case_file.hpp"
#include "core/model/error_codes.hpp"
#include "core/model/identifiers.hpp"
#include "core/model/model_edit.hpp"
#include "core/model/value_ranges.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace gridfold::pf::formats {
namespace {

// An identifier for a fixed shunt made from transformer line charging that no shunt at the
// bus holds yet: T1..T9, T0, TA..TZ, then any two characters. `next` remembers where the
// search for the bus stopped.
std::string free_shunt_identifier(const Network& net, int bus, int& next) {
    static const std::string symbols = "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const int single = static_cast<int>(symbols.size());
    for (; next < single * (single + 1); ++next) {
        const std::string id = next < single ? std::string("T") + symbols[static_cast<std::size_t>(next)]
                                             : std::string(1, symbols[static_cast<std::size_t>(next / single - 1)]) +
                                                   symbols[static_cast<std::size_t>(next % single)];
        if (!find_fixed_shunt(net, bus, id)) return id;
    }
    return "T1";  // every identifier taken: the shunt check refuses the duplicate
}

// One assigned value: a matrix of numbers, a cell array of strings, or a scalar/string.
struct Value {
    std::vector<std::vector<double>> rows;  // matrices and scalars (1x1)
    std::vector<int> row_lines;             // source line of each row
    std::vector<std::string> strings;       // cell arrays and quoted strings
    int line = 0;                           // line of the assignment
};

// A fault at a line of the text (0: not on a line). The file is named where the read was
// asked for, in read_matpower_case.
CaseFileError fault(int line, const std::string& what) { return CaseFileError(CaseFileError::kFormat, "", line, what); }

class Scanner {
public:
    // A UTF-8 byte order mark at the start (Windows editors) is skipped.
    explicit Scanner(const std::string& text) : text_(text), pos_(text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0) {}

    // The line of the first statement after the matrices that is not an assignment, 0 if none.
    int skipped_from() const { return skipped_from_; }

    // Reads every assignment; the name keeps only the part after "mpc." (or the bare name
    // of a version 1 file).
    std::map<std::string, Value> assignments() {
        std::map<std::string, Value> values;
        while (true) {
            skip_blanks_and_comments(true);
            if (at_end()) break;
            int line = line_;
            const std::size_t statement_start = pos_;
            std::string name = identifier();
            if (name == "function") {
                skip_to_line_end();
                continue;
            }
            skip_blanks_and_comments(false);
            if (name.empty() || peek() != '=') {
                // Code after the matrices (an if ... end block post-processing a table, say)
                // is not data: the reader stops there and says so. Before any matrix it is
                // simply not a case.
                if (values.count("bus") == 0 && values.count("gen") == 0) {
                    if (name.empty()) throw fault(line, "expected an assignment such as mpc.bus = [...]");
                    throw fault(line_, "expected '=' after " + name);
                }
                skipped_from_ = line;
                pos_ = statement_start;
                break;
            }
            ++pos_;
            skip_blanks_and_comments(false);
            Value value = parse_value();
            value.line = line;
            skip_blanks_and_comments(false);
            if (peek() == ';' || peek() == ',') ++pos_;
            auto dot = name.find('.');
            std::string key = dot == std::string::npos ? name : name.substr(dot + 1);
            values[key] = std::move(value);
        }
        return values;
    }

private:
    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return at_end() ? '\0' : text_[pos_]; }

    void skip_to_line_end() {
        while (!at_end() && text_[pos_] != '\n') ++pos_;
    }

    // Skips blanks and comments; newlines too when `newlines` (between statements).
    void skip_blanks_and_comments(bool newlines) {
        while (!at_end()) {
            char c = text_[pos_];
            if (c == '%' || c == '#') {
                skip_to_line_end();
            } else if (c == '.' && text_.compare(pos_, 3, "...") == 0) {
                skip_to_line_end();  // continuation: the statement goes on on the next line
                if (!at_end()) {
                    ++pos_;
                    ++line_;
                }
            } else if (c == '\n' && newlines) {
                ++pos_;
                ++line_;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == ';' && newlines) {
                ++pos_;  // stray statement separator
            } else {
                break;
            }
        }
    }

    std::string identifier() {
        std::size_t start = pos_;
        while (!at_end() &&
               (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_' || text_[pos_] == '.')) {
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

    std::string quoted() {
        char quote = text_[pos_++];
        std::string s;
        while (true) {
            if (at_end() || text_[pos_] == '\n') throw fault(line_, "expected a closing quote");
            char c = text_[pos_++];
            if (c == quote) {
                if (peek() == quote) {  // doubled quote stands for one
                    s += quote;
                    ++pos_;
                    continue;
                }
                return s;
            }
            s += c;
        }
    }

    double number() {
        const char* begin = text_.c_str() + pos_;
        char* end = nullptr;
        double v = std::strtod(begin, &end);
        if (end == begin) throw fault(line_, "expected a number");
        if (std::isnan(v)) throw fault(line_, "expected a number, not NaN");
        pos_ += static_cast<std::size_t>(end - begin);
        char c = peek();
        if (!(c == '\0' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ';' || c == ']' ||
              c == '%' || (c == '.' && text_.compare(pos_, 3, "...") == 0))) {
            throw fault(line_, "expected a separator after a number");
        }
        return v;
    }

    Value parse_value() {
        Value value;
        char c = peek();
        if (c == '[') {
            ++pos_;
            parse_matrix(value);
        } else if (c == '{') {
            ++pos_;
            parse_cell(value);
        } else if (c == '\'' || c == '"') {
            value.strings.push_back(quoted());
        } else {
            value.rows.push_back({number()});
            value.row_lines.push_back(line_);
        }
        return value;
    }

    // Moves to the next item of a bracketed value; true, and past it, at the closing bracket.
    bool closed(char bracket, const char* value_kind) {
        skip_blanks_and_comments(false);
        if (at_end()) throw fault(line_, std::string("expected '") + bracket + "' closing the " + value_kind);
        if (text_[pos_] != bracket) return false;
        ++pos_;
        return true;
    }

    void parse_matrix(Value& value) {
        std::vector<double> row;
        int row_line = line_;
        auto end_row = [&] {
            if (!row.empty()) {
                value.rows.push_back(std::move(row));
                value.row_lines.push_back(row_line);
            }
            row.clear();
        };
        while (!closed(']', "matrix")) {
            const char c = text_[pos_];
            if (c == ';' || c == '\n') {
                ++pos_;
                end_row();
                if (c == '\n') ++line_;
                row_line = line_;
                continue;
            }
            if (c == ',') {
                ++pos_;
                continue;
            }
            if (row.empty()) row_line = line_;
            row.push_back(number());
        }
        end_row();
    }

    void parse_cell(Value& value) {
        while (!closed('}', "cell array")) {
            const char c = text_[pos_];
            if (c == ';' || c == ',' || c == '\n') {
                if (c == '\n') ++line_;
                ++pos_;
                continue;
            }
            if (c == '\'' || c == '"') {
                value.strings.push_back(quoted());
                continue;
            }
            throw fault(line_, "expected a quoted string in the cell array");
        }
    }

    const std::string& text_;
    std::size_t pos_;
    int line_ = 1;
    int skipped_from_ = 0;
};

// Bus, gen and branch column positions (0-based) of the MATPOWER case format.
enum BusCol { kBusI, kBusType, kPd, kQd, kGs, kBs, kArea, kVm, kVa, kBaseKv, kZone, kVmax, kVmin, kBusCols };
enum GenCol { kGenBus, kPg, kQg, kQmax, kQmin, kVg, kMbase, kGenStatus, kPmax, kPmin, kGenCols };
enum BranchCol { kFBus, kTBus, kBrR, kBrX, kBrB, kRateA, kRateB, kRateC, kTap, kShift, kBrStatus, kBranchCols };

const Value& require(const std::map<std::string, Value>& values, const std::string& key, std::size_t min_cols,
                     bool allow_empty) {
    auto it = values.find(key);
    if (it == values.end()) throw fault(0, "expected an assignment of mpc." + key);
    const Value& v = it->second;
    if (v.rows.empty() && !allow_empty) throw fault(v.line, "expected at least one row in mpc." + key);
    std::size_t cols = v.rows.empty() ? 0 : v.rows.front().size();
    for (std::size_t r = 0; r < v.rows.size(); ++r) {
        if (v.rows[r].size() < min_cols) {
            throw fault(v.row_lines[r], "expected at least " + std::to_string(min_cols) + " columns in mpc." + key +
                                            ", found " + std::to_string(v.rows[r].size()));
        }
        if (v.rows[r].size() != cols) {
            throw fault(v.row_lines[r], "expected " + std::to_string(cols) + " columns in every row of mpc." + key);
        }
    }
    return v;
}

int whole_number(double v, int line, const char* what) {
    if (!std::isfinite(v) || v != std::floor(v) || std::fabs(v) > 2e9) {
        throw fault(line, std::string("expected a whole number for ") + what);
    }
    return static_cast<int>(v);
}

double finite(double v, int line, const char* what) {
    if (!std::isfinite(v)) throw fault(line, std::string("expected a finite number for ") + what);
    return v;
}

// MATPOWER writes 0 for "no limit" ratings and some files write Inf; both mean unlimited.
double rating(double v) { return std::isfinite(v) ? v : 0.0; }

std::string circuit_id(std::map<std::pair<int, int>, int>& count, int a, int b) {
    auto key = a < b ? std::make_pair(a, b) : std::make_pair(b, a);
    return std::to_string(++count[key]);
}

// The engine's own validity rules for an element, as for its data calls.
void check(int code, int line, const char* what) {
    if (code != kOk)
        throw fault(line, std::string("expected a valid ") + what + " (" + std::string(error_text(code)) + ")");
}

Network convert(const std::map<std::string, Value>& values, std::size_t bus_limit, std::vector<std::string>& notes) {
    Network net;
    auto base = values.find("baseMVA");
    if (base == values.end() || base->second.rows.size() != 1 || base->second.rows[0].size() != 1) {
        throw fault(base == values.end() ? 0 : base->second.line, "expected mpc.baseMVA = <number>");
    }
    net.system.sbase_mva = base->second.rows[0][0];
    if (!within(net.system.sbase_mva, kMinBaseMva, kMaxBaseMva)) {
        throw fault(base->second.line, "expected a positive baseMVA, 0.001 to 1e6");
    }
    net.system.base_frequency_hz = 60.0;
    net.system.title1 = "Converted from a MATPOWER case";

    const Value& bus = require(values, "bus", kBusCols, false);
    const Value& gen = require(values, "gen", kGenCols, true);
    const Value& branch = require(values, "branch", kBranchCols, true);
    std::vector<std::string> names;
    int names_line = 0;
    if (auto it = values.find("bus_name"); it != values.end()) {
        names = it->second.strings;
        names_line = it->second.line;
    }

    // Which buses have an in-service generator, and the scheduled voltage of the first.
    std::map<int, double> regulated_vg;
    for (std::size_t r = 0; r < gen.rows.size(); ++r) {
        const auto& g = gen.rows[r];
        int line = gen.row_lines[r];
        int at = whole_number(g[kGenBus], line, "GEN_BUS");
        if (g[kGenStatus] > 0 && !regulated_vg.count(at)) regulated_vg[at] = finite(g[kVg], line, "VG");
    }

    int demoted = 0;
    int unnumbered = 0;
    for (std::size_t r = 0; r < bus.rows.size(); ++r) {
        const auto& row = bus.rows[r];
        int line = bus.row_lines[r];
        Bus b;
        b.number = whole_number(row[kBusI], line, "BUS_I");
        if (b.number < kMinBusNumber || b.number > kMaxBusNumber) {
            throw fault(line, "expected a bus number from 1 to 999999");
        }
        if (net.bus_index.contains(b.number)) throw fault(line, "expected a bus number not used before");
        int type = whole_number(row[kBusType], line, "BUS_TYPE");
        if (type < 1 || type > 4) throw fault(line, "expected a bus type from 1 to 4");
        if (type == kGeneratorBus && !regulated_vg.count(b.number)) {
            type = kLoadBus;
            ++demoted;
        }
        b.ide = type;
        b.area = whole_number(row[kArea], line, "BUS_AREA");
        b.zone = whole_number(row[kZone], line, "ZONE");
        // MATPOWER files may leave areas and zones at 0; the engine numbers them from 1.
        if (b.area <= 0 || b.zone <= 0) {
            ++unnumbered;
            b.area = std::max(b.area, 1);
            b.zone = std::max(b.zone, 1);
        }
        b.owner = 1;
        b.vm_pu = finite(row[kVm], line, "VM");
        b.va_deg = finite(row[kVa], line, "VA");
        b.base_kv = finite(row[kBaseKv], line, "BASE_KV");
        b.nvhi_pu = b.evhi_pu = finite(row[kVmax], line, "VMAX");
        b.nvlo_pu = b.evlo_pu = finite(row[kVmin], line, "VMIN");
        if (r < names.size()) {
            auto name = normalize_name(leading_characters(names[r], kMaxBusNameLength), kMaxBusNameLength);
            if (!name) throw fault(names_line, "expected bus names without quotes or control characters");
            b.name = *name;
        }
        check(check_bus(b), line, "bus row");
        if (net.buses.size() >= bus_limit) check(kBusLimit, line, "bus row");
        net.add_bus(b);

        double pd = finite(row[kPd], line, "PD"), qd = finite(row[kQd], line, "QD");
        if (pd != 0.0 || qd != 0.0) {
            Load load;
            load.bus = b.number;
            load.area = b.area;
            load.zone = b.zone;
            load.pl_mw = pd;
            load.ql_mvar = qd;
            load.owner = b.owner;
            check(check_load(net, load), line, "load (PD, QD)");
            net.loads.push_back(load);
        }
        double gs = finite(row[kGs], line, "GS"), bs = finite(row[kBs], line, "BS");
        if (gs != 0.0 || bs != 0.0) {
            FixedShunt shunt;
            shunt.bus = b.number;
            shunt.gl_mw = gs;
            shunt.bl_mvar = bs;
            check(check_fixed_shunt(net, shunt), line, "shunt (GS, BS)");
            net.fixed_shunts.push_back(shunt);
        }
    }
    if (!names.empty() && names.size() != bus.rows.size()) {
        throw fault(names_line, "expected one bus name per bus row");
    }
    if (unnumbered > 0) {
        notes.push_back(std::to_string(unnumbered) + " buses with area or zone 0 read in area or zone 1");
    }
    if (demoted > 0) {
        notes.push_back(std::to_string(demoted) +
                        " generator buses without an in-service generator read as load buses");
    }

    std::map<int, int> machines_at_bus;
    for (std::size_t r = 0; r < gen.rows.size(); ++r) {
        const auto& g = gen.rows[r];
        int line = gen.row_lines[r];
        Machine m;
        m.bus = whole_number(g[kGenBus], line, "GEN_BUS");
        const Bus* at = net.bus(m.bus);
        if (!at) throw fault(line, "expected GEN_BUS to be a bus of mpc.bus");
        int count = ++machines_at_bus[m.bus];
        if (count == 1) {
            Plant plant;
            plant.bus = m.bus;
            auto vg = regulated_vg.find(m.bus);
            plant.vs_pu = vg != regulated_vg.end() ? vg->second : finite(g[kVg], line, "VG");
            check(check_plant(net, plant), line, "generator voltage setpoint VG");
            net.plants.push_back(plant);
        }
        if (count > 99) throw fault(line, "expected at most 99 generators at one bus");
        m.id = std::to_string(count);
        m.status = g[kGenStatus] > 0 ? 1 : 0;
        m.owners[0].owner = at->owner;
        m.pg_mw = finite(g[kPg], line, "PG");
        m.qg_mvar = finite(g[kQg], line, "QG");
        m.qt_mvar = std::isfinite(g[kQmax]) ? g[kQmax] : 9999.0;
        m.qb_mvar = std::isfinite(g[kQmin]) ? g[kQmin] : -9999.0;
        m.pt_mw = std::isfinite(g[kPmax]) ? g[kPmax] : 9999.0;
        m.pb_mw = std::isfinite(g[kPmin]) ? g[kPmin] : -9999.0;
        double mbase = finite(g[kMbase], line, "MBASE");
        m.mbase_mva = mbase > 0.0 ? mbase : net.system.sbase_mva;
        check(check_machine(net, m), line, "generator row");
        net.machines.push_back(m);
    }

    std::map<std::pair<int, int>, int> circuits;
    int charged_transformers = 0;
    std::map<int, int> charging_shunts_at_bus;  // identifiers T1..T9 per bus
    for (std::size_t r = 0; r < branch.rows.size(); ++r) {
        const auto& row = branch.rows[r];
        int line = branch.row_lines[r];
        int from = whole_number(row[kFBus], line, "F_BUS");
        int to = whole_number(row[kTBus], line, "T_BUS");
        if (!net.bus(from) || !net.bus(to)) throw fault(line, "expected F_BUS and T_BUS to be buses of mpc.bus");
        if (from == to) throw fault(line, "expected different F_BUS and T_BUS");
        double r_pu = finite(row[kBrR], line, "BR_R");
        double x_pu = finite(row[kBrX], line, "BR_X");
        double b_pu = finite(row[kBrB], line, "BR_B");
        double tap = finite(row[kTap], line, "TAP");
        double shift = finite(row[kShift], line, "SHIFT");
        int status = row[kBrStatus] > 0 ? 1 : 0;
        std::string ckt = circuit_id(circuits, from, to);
        if (tap == 0.0 && shift == 0.0) {
            Branch br;
            br.from_bus = from;
            br.to_bus = to;
            br.ckt = ckt;
            br.status = status;
            br.metbus = from;
            br.owners[0].owner = net.bus(from)->owner;
            br.r_pu = r_pu;
            br.x_pu = x_pu;
            br.b_pu = b_pu;
            br.ratings.set(0, rating(row[kRateA]));
            br.ratings.set(1, rating(row[kRateB]));
            br.ratings.set(2, rating(row[kRateC]));
            check(check_branch(net, br), line, "branch row");
            net.branches.push_back(br);
            continue;
        }
        double ratio = tap == 0.0 ? 1.0 : tap;
        Transformer t;
        t.buses = {from, to, 0};
        t.ckt = ckt;
        t.status = status;
        t.metbus = from;
        t.owners[0].owner = net.bus(from)->owner;
        t.cw = 1;
        t.cz = 1;
        t.cm = 1;
        t.r12 = r_pu;
        t.x12 = x_pu;
        t.sbase12_mva = net.system.sbase_mva;
        t.windings[0].windv = ratio;
        t.windings[0].ang_deg = shift;
        t.windings[0].ratings.set(0, rating(row[kRateA]));
        t.windings[0].ratings.set(1, rating(row[kRateB]));
        t.windings[0].ratings.set(2, rating(row[kRateC]));
        t.windings[1].windv = 1.0;
        check(check_transformer(net, t), line, "transformer row (TAP, SHIFT)");
        net.transformers.push_back(t);
        if (b_pu != 0.0) {
            // MATPOWER puts half the charging at each end, the from half behind the tap.
            ++charged_transformers;
            auto add_shunt = [&](int at, double mvar) {
                FixedShunt shunt;
                shunt.bus = at;
                shunt.id = free_shunt_identifier(net, at, charging_shunts_at_bus[at]);
                shunt.status = status;
                shunt.bl_mvar = mvar;
                check(check_fixed_shunt(net, shunt), line, "transformer line charging");
                net.fixed_shunts.push_back(shunt);
            };
            add_shunt(from, b_pu / 2.0 / (ratio * ratio) * net.system.sbase_mva);
            add_shunt(to, b_pu / 2.0 * net.system.sbase_mva);
        }
    }
    if (charged_transformers > 0) {
        notes.push_back("line charging of " + std::to_string(charged_transformers) +
                        " transformers read as fixed shunts at their end buses");
    }
    net.structure_changed();
    return net;
}

}  // namespace

bool looks_like_matpower(const std::string& text) {
    std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::size_t first = text.find_first_not_of(" \t\r", pos);
        if (first < end && text[first] != '%') {
            return text.compare(first, 8, "function") == 0 || text.compare(first, 4, "mpc.") == 0;
        }
        pos = end + 1;
    }
    return false;
}

Network read_matpower_case(const std::string& text, const std::string& file_name, std::size_t bus_limit,
                           std::vector<std::string>* notes) {
    std::vector<std::string> own_notes;
    std::vector<std::string>& said = notes ? *notes : own_notes;
    try {
        Scanner scanner(text);
        auto values = scanner.assignments();
        std::vector<std::string> lines;
        Network converted = convert(values, bus_limit, lines);
        said.push_back("MATPOWER case read: " + std::to_string(converted.buses.size()) + " buses, " +
                       std::to_string(converted.machines.size()) + " machines, " +
                       std::to_string(converted.branches.size()) + " lines, " +
                       std::to_string(converted.transformers.size()) + " transformers");
        said.insert(said.end(), lines.begin(), lines.end());
        if (scanner.skipped_from() > 0)
            said.push_back("MATLAB statements from line " + std::to_string(scanner.skipped_from()) +
                           " on are not case data and were skipped");
        return converted;
    } catch (const CaseFileError& error) {
        throw CaseFileError(error.kind(), file_name, error.line(), error.reason());
    }
}

}  // namespace gridfold::pf::formats
