// Keyword binding of the psspy operations.
//
// Each operation declares one Signature: its parameters in order, each with a kind and what
// happens when it is not passed. One routine (parse_arguments) binds a call's positional and
// keyword arguments against it, so that every operation accepts arguments the same way:
//   - by keyword name (ibus=, intgar1=, realar3=, ratings1=, name=, ...);
//   - by position, in declaration order, where a run of numbered parameters (intgar1..N)
//     forms one positional slot taking a sequence, as the engine's array arguments do;
//   - by the group name as a keyword (intgar=[...]);
//   - None, or the psspy._i / _f / _s placeholders, mean "not passed".
// An unknown keyword raises TypeError naming it; a value of the wrong kind raises TypeError
// naming the operation and the keyword.
#pragma once

#include <pybind11/pybind11.h>

#include <climits>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/model/elements/common.hpp"

namespace gridfold::api {

namespace py = pybind11;

// kTexts: one name or a sequence of names (the quantity lists of the array queries).
enum class ArgKind { kInt, kReal, kText, kTexts };

// Placeholders the engine's callers use for "default" inside arrays.
inline constexpr long kDefaultInt = -100000000;
inline constexpr double kDefaultReal = -1.0e20;
inline constexpr const char* kDefaultText = "\x01";

using ArgValue = std::variant<long, double, std::string, std::vector<std::string>>;

struct Param {
    std::string name;
    ArgKind kind = ArgKind::kInt;
    bool required = false;
    // Value used when the parameter is not passed; none = the element keeps its value (a
    // new element its default).
    std::optional<ArgValue> fallback;
    std::string doc;
};

class Signature {
public:
    explicit Signature(std::string function) : function_(std::move(function)) {}

    Signature& required_int(const std::string& name, const std::string& doc = "");
    Signature& required_text(const std::string& name, const std::string& doc = "");
    Signature& required_texts(const std::string& name, const std::string& doc = "");
    Signature& integer(const std::string& name, std::optional<long> fallback = std::nullopt,
                       const std::string& doc = "");
    Signature& real(const std::string& name, std::optional<double> fallback = std::nullopt,
                    const std::string& doc = "");
    Signature& text(const std::string& name, std::optional<std::string> fallback = std::nullopt,
                    const std::string& doc = "");
    // Numbered parameters stem1..stemN (a positional slot of their own).
    Signature& integers(const std::string& stem, int count);
    Signature& reals(const std::string& stem, int count);
    // Numbered parameters with a doc for each (stem1 = docs[0], ...).
    Signature& integers(const std::string& stem, const std::vector<std::string>& docs);
    Signature& reals(const std::string& stem, const std::vector<std::string>& docs);

    // Engine error codes of this operation go to the progress output as a line.
    Signature& reports_errors() {
        reports_errors_ = true;
        return *this;
    }

    // The operation leaves the network as it is (it reads it, writes it to a file, or keeps
    // state of its own such as a walk). Every other operation counts as changing the case.
    Signature& keeps_case() {
        keeps_case_ = true;
        return *this;
    }

    const std::string& function() const { return function_; }
    const std::vector<Param>& params() const { return params_; }
    bool error_reporting() const { return reports_errors_; }
    bool leaves_case_unchanged() const { return keeps_case_; }
    std::optional<std::size_t> index_of(const std::string& name) const;
    // Positional slots: a single parameter, or a run of numbered ones [first, first+count).
    struct Slot {
        std::string name;  // parameter name, or the stem of a numbered run
        std::size_t first;
        std::size_t count;
        bool group;
    };
    const std::vector<Slot>& slots() const { return slots_; }
    // Text for the docstring: one line per parameter.
    std::string describe() const;

private:
    Signature& add(Param param, const std::string& group);
    std::string function_;
    std::vector<Param> params_;
    std::vector<Slot> slots_;
    bool reports_errors_ = false;
    bool keeps_case_ = false;
};

// The arguments of one call after binding.
class Args {
public:
    Args(const Signature& signature, std::vector<std::optional<ArgValue>> values)
        : signature_(&signature), values_(std::move(values)) {}

    bool has(const std::string& name) const;
    // Passed value, else the fallback; a parameter with neither is a programming error.
    long integer(const std::string& name) const;
    int integer32(const std::string& name) const { return clamp(integer(name)); }
    double real(const std::string& name) const;
    std::string text(const std::string& name) const;
    // A kTexts parameter: the names in the order given (a single name is a list of one).
    std::vector<std::string> texts(const std::string& name) const;

    // Stores the value into `field` only when the argument was passed.
    void set(const std::string& name, int& field) const;
    void set(const std::string& name, double& field) const;
    void set(const std::string& name, std::string& field) const;
    // The elements stem<first>, stem<first + 1>, ... of an array argument into the fields in
    // order, each only when passed; a null field stands for a position the call does not store.
    void set_array(const std::string& stem, std::initializer_list<int*> fields, int first = 1) const;
    void set_array(const std::string& stem, std::initializer_list<double*> fields, int first = 1) const;

    static int clamp(long value) {
        return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
    }

private:
    const std::optional<ArgValue>& value(const std::string& name) const;
    const Signature* signature_;
    std::vector<std::optional<ArgValue>> values_;
};

// An element's owners: owner numbers in intgar from position first_int, fractions in the real
// array real_stem from position first_real, each only when passed.
void set_owners(const Args& a, pf::Owners& owners, int first_int, const std::string& real_stem, int first_real);

Args parse_arguments(const Signature& signature, const py::args& args, const py::kwargs& kwargs);

// Defines m.<function>(*args, **kwargs) bound through the signature.
void define(py::module_& m, Signature signature, std::function<py::object(const Args&)> body, const std::string& doc);

}  // namespace gridfold::api
