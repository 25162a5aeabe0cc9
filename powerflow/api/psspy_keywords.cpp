#include "api/psspy_keywords.hpp"

#include <cmath>
#include <memory>
#include <stdexcept>

#include "core/model/error_codes.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {

// ---- Signature ------------------------------------------------------------------------

Signature& Signature::add(Param param, const std::string& group) {
    params_.push_back(std::move(param));
    const std::size_t index = params_.size() - 1;
    if (!group.empty() && !slots_.empty() && slots_.back().group && slots_.back().name == group) {
        ++slots_.back().count;
    } else {
        slots_.push_back({group.empty() ? params_.back().name : group, index, 1, !group.empty()});
    }
    return *this;
}

Signature& Signature::required_int(const std::string& name, const std::string& doc) {
    return add({name, ArgKind::kInt, true, std::nullopt, doc}, "");
}
Signature& Signature::required_text(const std::string& name, const std::string& doc) {
    return add({name, ArgKind::kText, true, std::nullopt, doc}, "");
}
Signature& Signature::required_texts(const std::string& name, const std::string& doc) {
    return add({name, ArgKind::kTexts, true, std::nullopt, doc}, "");
}
Signature& Signature::integer(const std::string& name, std::optional<long> fallback, const std::string& doc) {
    std::optional<ArgValue> f;
    if (fallback) f = *fallback;
    return add({name, ArgKind::kInt, false, f, doc}, "");
}
Signature& Signature::real(const std::string& name, std::optional<double> fallback, const std::string& doc) {
    std::optional<ArgValue> f;
    if (fallback) f = *fallback;
    return add({name, ArgKind::kReal, false, f, doc}, "");
}
Signature& Signature::text(const std::string& name, std::optional<std::string> fallback, const std::string& doc) {
    std::optional<ArgValue> f;
    if (fallback) f = *fallback;
    return add({name, ArgKind::kText, false, f, doc}, "");
}
Signature& Signature::integers(const std::string& stem, int count) {
    for (int k = 1; k <= count; ++k) add({stem + std::to_string(k), ArgKind::kInt, false, std::nullopt, ""}, stem);
    return *this;
}
Signature& Signature::reals(const std::string& stem, int count) {
    for (int k = 1; k <= count; ++k) add({stem + std::to_string(k), ArgKind::kReal, false, std::nullopt, ""}, stem);
    return *this;
}
Signature& Signature::integers(const std::string& stem, const std::vector<std::string>& docs) {
    for (std::size_t k = 0; k < docs.size(); ++k)
        add({stem + std::to_string(k + 1), ArgKind::kInt, false, std::nullopt, docs[k]}, stem);
    return *this;
}
Signature& Signature::reals(const std::string& stem, const std::vector<std::string>& docs) {
    for (std::size_t k = 0; k < docs.size(); ++k)
        add({stem + std::to_string(k + 1), ArgKind::kReal, false, std::nullopt, docs[k]}, stem);
    return *this;
}

std::optional<std::size_t> Signature::index_of(const std::string& name) const {
    for (std::size_t i = 0; i < params_.size(); ++i)
        if (params_[i].name == name) return i;
    return std::nullopt;
}

std::string Signature::describe() const {
    std::string text = function_ + "(";
    for (std::size_t s = 0; s < slots_.size(); ++s) {
        if (s) text += ", ";
        text += slots_[s].group ? slots_[s].name + "[" + std::to_string(slots_[s].count) + "]" : slots_[s].name;
    }
    text += ")\n";
    for (const Param& p : params_) {
        if (p.doc.empty()) continue;
        text += "  " + p.name + ": " + p.doc + "\n";
    }
    return text;
}

// ---- Args -----------------------------------------------------------------------------

const std::optional<ArgValue>& Args::value(const std::string& name) const {
    auto index = signature_->index_of(name);
    if (!index) throw std::logic_error(signature_->function() + ": no parameter " + name);
    return values_[*index];
}

bool Args::has(const std::string& name) const { return value(name).has_value(); }

namespace {
const ArgValue& passed_or_fallback(const Signature& sig, const std::optional<ArgValue>& v, const std::string& name) {
    if (v) return *v;
    const Param& p = sig.params()[*sig.index_of(name)];
    if (!p.fallback) throw std::logic_error(sig.function() + ": parameter " + name + " has no value");
    return *p.fallback;
}
}  // namespace

long Args::integer(const std::string& name) const {
    return std::get<long>(passed_or_fallback(*signature_, value(name), name));
}
double Args::real(const std::string& name) const {
    return std::get<double>(passed_or_fallback(*signature_, value(name), name));
}
std::string Args::text(const std::string& name) const {
    return std::get<std::string>(passed_or_fallback(*signature_, value(name), name));
}
std::vector<std::string> Args::texts(const std::string& name) const {
    return std::get<std::vector<std::string>>(passed_or_fallback(*signature_, value(name), name));
}

void Args::set(const std::string& name, int& field) const {
    if (const auto& v = value(name)) field = clamp(std::get<long>(*v));
}
void Args::set(const std::string& name, double& field) const {
    if (const auto& v = value(name)) field = std::get<double>(*v);
}
void Args::set(const std::string& name, std::string& field) const {
    if (const auto& v = value(name)) field = std::get<std::string>(*v);
}

namespace {

template <class T>
void set_each(const Args& args, const std::string& stem, std::initializer_list<T*> fields, int first) {
    int position = first;
    for (T* field : fields) {
        if (field) args.set(stem + std::to_string(position), *field);
        ++position;
    }
}

}  // namespace

void Args::set_array(const std::string& stem, std::initializer_list<int*> fields, int first) const {
    set_each(*this, stem, fields, first);
}
void Args::set_array(const std::string& stem, std::initializer_list<double*> fields, int first) const {
    set_each(*this, stem, fields, first);
}

void set_owners(const Args& a, pf::Owners& owners, int first_int, const std::string& real_stem, int first_real) {
    for (int k = 0; k < pf::kOwnerCount; ++k) {
        a.set("intgar" + std::to_string(first_int + k), owners[k].owner);
        a.set(real_stem + std::to_string(first_real + k), owners[k].fraction);
    }
}

// ---- binding --------------------------------------------------------------------------

namespace {

[[noreturn]] void type_error(const Signature& sig, const std::string& name, const std::string& what) {
    throw py::type_error(sig.function() + "() argument '" + name + "': " + what);
}

// The UTF-8 text of a str argument; anything else is a TypeError naming the argument.
std::string utf8_text(const Signature& sig, const std::string& name, py::handle text) {
    if (!PyUnicode_Check(text.ptr()))
        type_error(sig, name, "a str is required, got " + std::string(py::str(py::type::of(text))));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (utf8 == nullptr) {
        // A lone surrogate has no UTF-8 form: the value is not text the engine can hold.
        PyErr_Clear();
        type_error(sig, name, "a str that can be encoded as UTF-8 is required (it holds a lone surrogate)");
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

// Converts one Python value; nullopt when it means "not passed".
std::optional<ArgValue> convert(const Signature& sig, const Param& param, py::handle value) {
    if (value.is_none()) return std::nullopt;
    switch (param.kind) {
        case ArgKind::kInt: {
            if (PyIndex_Check(value.ptr())) {
                int overflow = 0;
                py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
                if (!index) throw py::error_already_set();
                long v = PyLong_AsLongAndOverflow(index.ptr(), &overflow);
                if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
                if (overflow) v = overflow > 0 ? LONG_MAX : LONG_MIN;
                if (v == kDefaultInt) return std::nullopt;
                return ArgValue{v};
            }
            if (PyFloat_Check(value.ptr())) {
                double d = PyFloat_AsDouble(value.ptr());
                if (std::isfinite(d) && std::floor(d) == d && std::fabs(d) < 9.0e15) {
                    long v = static_cast<long>(d);
                    if (v == kDefaultInt) return std::nullopt;
                    return ArgValue{v};
                }
            }
            type_error(sig, param.name, "an integer is required, got " + std::string(py::str(py::type::of(value))));
        }
        case ArgKind::kReal: {
            if (PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()) || !PyNumber_Check(value.ptr()) ||
                PyComplex_Check(value.ptr()))
                type_error(sig, param.name,
                           "a real number is required, got " + std::string(py::str(py::type::of(value))));
            double d = PyFloat_AsDouble(value.ptr());
            if (d == -1.0 && PyErr_Occurred()) {
                // An integer too large for a double is an out-of-range value, refused by the
                // call's own range check (code 7), not a wrong kind of argument.
                if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
                PyErr_Clear();
                const int negative = PyObject_RichCompareBool(value.ptr(), py::int_(0).ptr(), Py_LT);
                if (negative < 0) PyErr_Clear();
                d = negative == 1 ? -INFINITY : INFINITY;
            }
            if (d == kDefaultReal) return std::nullopt;
            return ArgValue{d};
        }
        case ArgKind::kText: {
            py::object text = py::reinterpret_borrow<py::object>(value);
            if (!PyUnicode_Check(text.ptr()) && PyObject_HasAttrString(text.ptr(), "__fspath__"))
                text = py::module_::import("os").attr("fspath")(text);
            std::string s = utf8_text(sig, param.name, text);
            if (s == kDefaultText) return std::nullopt;
            return ArgValue{std::move(s)};
        }
        case ArgKind::kTexts: {
            std::vector<std::string> names;
            if (PyUnicode_Check(value.ptr())) {
                names.push_back(utf8_text(sig, param.name, value));
            } else if (PySequence_Check(value.ptr())) {
                for (py::handle name : py::reinterpret_borrow<py::sequence>(value))
                    names.push_back(utf8_text(sig, param.name, name));
            } else {
                type_error(sig, param.name,
                           "a str or a sequence of str is required, got " + std::string(py::str(py::type::of(value))));
            }
            return ArgValue{std::move(names)};
        }
    }
    return std::nullopt;
}

void assign(const Signature& sig, std::vector<std::optional<ArgValue>>& values, std::vector<bool>& given,
            std::size_t index, py::handle value) {
    const Param& p = sig.params()[index];
    if (given[index]) throw py::type_error(sig.function() + "() got multiple values for argument '" + p.name + "'");
    given[index] = true;
    values[index] = convert(sig, p, value);
}

// A sequence given for a run of numbered parameters.
void assign_group(const Signature& sig, std::vector<std::optional<ArgValue>>& values, std::vector<bool>& given,
                  const Signature::Slot& slot, py::handle value) {
    if (value.is_none()) return;
    if (PyUnicode_Check(value.ptr()) || !PySequence_Check(value.ptr()))
        throw py::type_error(sig.function() + "() argument '" + slot.name + "': a sequence of " +
                             std::to_string(slot.count) + " values is required");
    py::sequence seq = py::reinterpret_borrow<py::sequence>(value);
    if (seq.size() > slot.count)
        throw py::type_error(sig.function() + "() argument '" + slot.name + "' takes at most " +
                             std::to_string(slot.count) + " values, " + std::to_string(seq.size()) + " given");
    for (std::size_t k = 0; k < seq.size(); ++k) assign(sig, values, given, slot.first + k, seq[k]);
}

}  // namespace

Args parse_arguments(const Signature& sig, const py::args& args, const py::kwargs& kwargs) {
    const auto& params = sig.params();
    std::vector<std::optional<ArgValue>> values(params.size());
    std::vector<bool> given(params.size(), false);
    const auto& slots = sig.slots();
    if (args.size() > slots.size())
        throw py::type_error(sig.function() + "() takes at most " + std::to_string(slots.size()) +
                             " positional arguments (" + std::to_string(args.size()) + " given)");
    for (std::size_t k = 0; k < args.size(); ++k) {
        const auto& slot = slots[k];
        if (slot.group)
            assign_group(sig, values, given, slot, args[k]);
        else
            assign(sig, values, given, slot.first, args[k]);
    }
    for (auto item : kwargs) {
        const std::string key = py::str(item.first);
        if (auto index = sig.index_of(key)) {
            assign(sig, values, given, *index, item.second);
            continue;
        }
        bool matched = false;
        for (const auto& slot : slots) {
            if (slot.group && slot.name == key) {
                assign_group(sig, values, given, slot, item.second);
                matched = true;
                break;
            }
        }
        if (!matched) throw py::type_error(sig.function() + "() got an unexpected keyword argument '" + key + "'");
    }
    for (std::size_t i = 0; i < params.size(); ++i)
        if (params[i].required && !values[i])
            throw py::type_error(sig.function() + "() missing required argument '" + params[i].name + "'");
    return Args(sig, std::move(values));
}

namespace {
// The code of a result: the int itself, or the first entry of a tuple.
int result_code(const py::object& result) {
    if (PyLong_Check(result.ptr())) return result.cast<int>();
    if (PyTuple_Check(result.ptr()) && PyTuple_Size(result.ptr()) > 0 && PyLong_Check(PyTuple_GetItem(result.ptr(), 0)))
        return py::reinterpret_borrow<py::object>(PyTuple_GetItem(result.ptr(), 0)).cast<int>();
    return 0;
}
}  // namespace

void define(py::module_& m, Signature signature, std::function<py::object(const Args&)> body, const std::string& doc) {
    auto sig = std::make_shared<Signature>(std::move(signature));
    const std::string name = sig->function();
    const std::string text = sig->describe() + "\n" + doc;
    m.def(
        name.c_str(),
        [sig, body](py::args args, py::kwargs kwargs) -> py::object {
            Args bound = parse_arguments(*sig, args, kwargs);
            if (!sig->leaves_case_unchanged()) pf::working_case().case_changed();
            py::object result = body(bound);
            if (sig->error_reporting()) {
                int code = result_code(result);
                if (code != pf::kOk)
                    pf::working_case().report(sig->function() + ": error " + std::to_string(code) + ", " +
                                              std::string(pf::error_text(code)));
            }
            return result;
        },
        text.c_str());
    // psspy._signatures[name]: the positional slots as (name, kind, count, required), count 0
    // for a single parameter; the type stubs are generated from it.
    if (!py::hasattr(m, "_signatures")) m.attr("_signatures") = py::dict();
    py::list slots;
    for (const Signature::Slot& slot : sig->slots()) {
        const Param& first = sig->params()[slot.first];
        const char* kind = first.kind == ArgKind::kInt    ? "int"
                           : first.kind == ArgKind::kReal ? "float"
                           : first.kind == ArgKind::kText ? "str"
                                                          : "str | Sequence[str]";
        slots.append(py::make_tuple(slot.name, kind, slot.group ? slot.count : 0, first.required));
    }
    m.attr("_signatures")[py::str(name)] = slots;
}

}  // namespace gridfold::api
