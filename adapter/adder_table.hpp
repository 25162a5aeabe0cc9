// Declarative description of an adder: which element table of the small case it walks,
// which engine calls it makes per row, with which keywords built from which columns, and
// under which key each call's error code is recorded. One shared routine (adder_routine.cpp)
// runs every such table, so each adder is data only (adder_tables.cpp).
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "psse_engine.hpp"
#include "version_table.hpp"

namespace gridfold::engine {

// Index step that stands for the winding of the current call (0, 1, 2).
inline constexpr int kCurrentWinding = -1;

// Error code recorded for an element when the engine version has no call for its kind
// (switched shunts below 34.4): no engine call is made, and the status shows the element
// as not added. Engine codes are never negative, so the two cannot be confused.
inline constexpr int kNoEngineCallForVersion = -1;

// Where one value comes from, for the current row i (and winding w) of an element table.
struct ValueSource {
    enum class Kind { Column, Constant, WindingNumber, FirstNonzeroOfTwoWindings };
    enum class Part { Whole, Real, Imaginary };

    Kind kind = Kind::Column;
    std::string column;
    std::vector<int> steps;  // indexes into the row entry, in order; kCurrentWinding is w
    Part part = Part::Whole;
    bool times_100 = false;
    // When set, the value is 0 unless the engine version is strictly above this integer,
    // and the column is then not read at all.
    std::optional<int> zero_unless_version_above;
    long constant = 0;
};

// column[i] followed by the given indexes: col("OWNER", 0) is OWNER[i][0].
template <class... Steps>
ValueSource col(std::string column, Steps... steps) {
    ValueSource source;
    source.column = std::move(column);
    source.steps = {steps...};
    return source;
}

// column[i][w], then the given indexes: winding("RATINGS", 3) is RATINGS[i][w][3].
template <class... Steps>
ValueSource winding(std::string column, Steps... steps) {
    return col(std::move(column), kCurrentWinding, steps...);
}

inline ValueSource real(ValueSource source) {
    source.part = ValueSource::Part::Real;
    return source;
}

inline ValueSource imag(ValueSource source) {
    source.part = ValueSource::Part::Imaginary;
    return source;
}

// Powers per unit on 100 MVA in the case data, MW or Mvar in the engine call.
inline ValueSource times_100(ValueSource source) {
    source.times_100 = true;
    return source;
}

inline ValueSource zero_unless_version_above(int version, ValueSource source) {
    source.zero_unless_version_above = version;
    return source;
}

inline ValueSource constant(long value) {
    ValueSource source;
    source.kind = ValueSource::Kind::Constant;
    source.constant = value;
    return source;
}

// The winding number 1, 2 or 3 of the current call.
inline ValueSource winding_number() {
    ValueSource source;
    source.kind = ValueSource::Kind::WindingNumber;
    return source;
}

// column[i][0] when it is nonzero, else column[i][1]: a two-winding transformer keeps its
// tap and control data on whichever of its two windings holds them.
inline ValueSource first_nonzero_of_windings(std::string column) {
    ValueSource source = col(std::move(column));
    source.kind = ValueSource::Kind::FirstNonzeroOfTwoWindings;
    return source;
}

inline constexpr double kEveryVersion = -std::numeric_limits<double>::infinity();

// One keyword of an engine call and where its value comes from. The keyword is passed
// only when the engine version is at least `passed_from_version`.
struct KeywordRule {
    std::string keyword;
    ValueSource source;
    double passed_from_version = kEveryVersion;
};

// One table line: a single keyword, or a run such as intgar3 ... intgar6.
struct KeywordGroup {
    std::vector<KeywordRule> rules;
    KeywordGroup(std::string keyword, ValueSource source) : rules{{std::move(keyword), std::move(source)}} {}
    explicit KeywordGroup(std::vector<KeywordRule> run) : rules(std::move(run)) {}
};

// prefix<first> ... prefix<last> take the entries first_index ... of the source's row
// entry: spread("intgar", 3, 6, col("OWNER")) is intgar3 = OWNER[i][0] ... intgar6 = OWNER[i][3].
inline KeywordGroup spread(const std::string& prefix, int first, int last, const ValueSource& source,
                           int first_index = 0) {
    std::vector<KeywordRule> run;
    for (int k = first; k <= last; ++k) {
        ValueSource entry = source;
        entry.steps.push_back(first_index + (k - first));
        run.push_back({prefix + std::to_string(k), std::move(entry)});
    }
    return KeywordGroup(std::move(run));
}

// The keywords of `group`, passed only from engine version `version` up.
inline KeywordGroup since(double version, KeywordGroup group) {
    for (auto& rule : group.rules) rule.passed_from_version = version;
    return group;
}

inline std::vector<KeywordRule> keywords(std::initializer_list<KeywordGroup> groups) {
    std::vector<KeywordRule> all;
    for (const auto& group : groups) all.insert(all.end(), group.rules.begin(), group.rules.end());
    return all;
}

// A piece of a status key: literal text, or the text form (str) of a value of the row.
struct KeyPiece {
    std::string text;
    std::optional<ValueSource> value;
    KeyPiece(const char* literal) : text(literal) {}
    KeyPiece(ValueSource source) : value(std::move(source)) {}
};

// An entry point that does not depend on the engine version.
inline VersionTable always(std::string name) { return {{kEveryVersion, std::move(name)}}; }

// One engine call made for each row (or for each winding of each row).
struct CallRule {
    enum class Rows { All, TwoWinding, ThreeWinding };
    enum class Result { Code, FirstOfPair };

    Rows rows = Rows::All;
    VersionTable entry_points;  // bound once, before the first row
    int windings = 1;           // 3: one call per winding, w = 0, 1, 2
    Result result = Result::Code;
    std::vector<KeyPiece> status_key;  // empty: the code is not recorded
    std::vector<KeywordRule> keywords;
};

// One element kind: its table in the case data object and the calls that add a row.
struct ElementTable {
    std::string method;           // the adder's name, used in error messages
    std::string elements;         // what it adds, as its docstring names them ("buses")
    std::string table;            // attribute of the case data object
    std::string count_attribute;  // row count attribute; empty: the length of the NUM column
    std::string infix;            // save name: main case name + infix + small case name
    std::string total_key;        // first status entry, holding the row count
    // Rows whose third bus is 0 are two-winding transformers, the others three-winding.
    std::optional<ValueSource> third_bus;
    std::vector<CallRule> calls;  // in the order they are made for a row
};

// Copies every row of the table into the working case, saves it under the derived name in
// `directory_to_save_files` and returns the status dictionary.
py::dict add_elements(PsseEngine& engine, const ElementTable& table, const py::object& small_case,
                      const py::object& main_case_name, const py::object& small_case_name,
                      const py::object& directory_to_save_files);

// The adders' tables (PSSE_ENGINE.add_*), in the order a small case is added.
const std::vector<const ElementTable*>& adder_tables();

// Makes the table's calls for every row, records nothing and saves nothing.
void change_elements(PsseEngine& engine, const ElementTable& table, const py::object& small_case);

}  // namespace gridfold::engine
