// abusint, abrnint and atr3int: integer quantities of every bus, line, two-winding and
// three-winding transformer of the working case in one call each, so that a caller can see
// the network's connections without writing the case to a file and reading it back.
//
// The engine defines no bus subsystems: sid -1 (every bus) is the only subsystem, so owner
// and ties choose nothing beyond it (ties 2, branches leaving the subsystem, gives none).
#include <algorithm>
#include <functional>
#include <vector>

#include "api/bindings.hpp"
#include "api/psspy_keywords.hpp"
#include "core/model/error_codes.hpp"
#include "core/session/working_case.hpp"

namespace gridfold::api {

namespace {

// One column per quantity name: the value of each element in turn.
template <class Element>
using Quantity = std::function<int(const Element&)>;

template <class Element>
const Element& element_of(const Element& element) {
    return element;
}
template <class Element>
const Element& element_of(const Element* element) {
    return *element;
}

// (ierr, [[values of the first quantity], ...]) of `elements` (the elements themselves or
// pointers to them) under the quantity names the call was given; an unknown name is code
// kInvalidOption and returns no array.
template <class Element, class Row, class Lookup>
py::object quantity_columns(const std::vector<Row>& elements, const std::vector<std::string>& names, Lookup lookup) {
    std::vector<Quantity<Element>> quantities;
    for (const std::string& name : names) {
        Quantity<Element> quantity = lookup(name);
        if (!quantity) return py::make_tuple(pf::kInvalidOption, py::none());
        quantities.push_back(std::move(quantity));
    }
    py::list columns(quantities.size());
    for (std::size_t q = 0; q < quantities.size(); ++q) {
        py::list column(elements.size());
        for (std::size_t r = 0; r < elements.size(); ++r)
            PyList_SET_ITEM(column.ptr(), r, PyLong_FromLong(quantities[q](element_of(elements[r]))));
        PyList_SET_ITEM(columns.ptr(), q, column.release().ptr());
    }
    return py::make_tuple(pf::kOk, columns);
}

// The code of the subsystem arguments shared by the three calls.
int subsystem_code(const Args& a) {
    if (!pf::working_case().initialised) return pf::kNotInitialised;
    return a.integer("sid") == -1 ? pf::kOk : pf::kInvalidCode;
}

// The code of the subsystem and of owner, ties, entry and flag (1 to largest_flag) of the
// branch calls, and whether they choose any element at all.
int branch_selection_code(const Args& a, long largest_flag, bool* none_chosen) {
    if (const int code = subsystem_code(a)) return code;
    const long owner = a.integer("owner"), ties = a.integer("ties"), entry = a.integer("entry");
    const long flag = a.integer("flag");
    if (owner < 1 || owner > 2 || ties < 1 || ties > 3 || entry < 1 || entry > 2 || flag < 1 || flag > largest_flag)
        return pf::kInvalidCode;
    *none_chosen = ties == 2;
    return pf::kOk;
}

// A line or two-winding transformer as the branch calls list it, from either end.
struct BranchEnds {
    int from = 0, to = 0, status = 0;
};

// A three-winding transformer's windings in the order listed (entry 2 lists each winding first).
struct WindingEnds {
    int first = 0, second = 0, third = 0, status = 0;
};

Signature branch_signature(const char* name, const char* flag_doc) {
    return Signature(name)
        .integer("sid", -1, "-1: every bus (the only subsystem)")
        .integer("owner", 1, "1 bus owners, 2 branch owners")
        .integer("ties", 1, "1 inside the subsystem, 2 leaving it, 3 both")
        .integer("flag", 1, flag_doc)
        .integer("entry", 1, "1 each element once, from its first bus; 2 once from each of its buses")
        .required_texts("string", "quantity name, or a list of them")
        .keeps_case();
}

}  // namespace

void bind_subsystem(py::module_& m) {
    define(
        m,
        Signature("abusint")
            .integer("sid", -1, "-1: every bus (the only subsystem)")
            .integer("flag", 1, "1 in-service buses (type 1 to 3), 2 every bus")
            .required_texts("string", "NUMBER, TYPE, AREA, ZONE, OWNER, or a list of them")
            .keeps_case(),
        [](const Args& a) -> py::object {
            int code = subsystem_code(a);
            const long flag = a.integer("flag");
            if (!code && flag != 1 && flag != 2) code = pf::kInvalidCode;
            if (code) return py::make_tuple(code, py::none());
            std::vector<const pf::Bus*> buses;
            for (const pf::Bus& bus : pf::working_case().network.buses)
                if (!bus.star_point && (flag == 2 || bus.ide != pf::kIsolatedBus)) buses.push_back(&bus);
            std::stable_sort(buses.begin(), buses.end(), [](auto* x, auto* y) { return x->number < y->number; });
            return quantity_columns<pf::Bus>(buses, a.texts("string"),
                                             [](const std::string& name) -> Quantity<pf::Bus> {
                                                 if (name == "NUMBER") return [](const pf::Bus& b) { return b.number; };
                                                 if (name == "TYPE") return [](const pf::Bus& b) { return b.ide; };
                                                 if (name == "AREA") return [](const pf::Bus& b) { return b.area; };
                                                 if (name == "ZONE") return [](const pf::Bus& b) { return b.zone; };
                                                 if (name == "OWNER") return [](const pf::Bus& b) { return b.owner; };
                                                 return nullptr;
                                             });
        },
        "Integer quantities of the buses in bus-number order, star points of three-winding transformers left "
        "out. Returns (ierr, [[values of the first quantity], ...]); the array None on error.");

    define(
        m,
        branch_signature("abrnint",
                         "1 in-service lines, 2 all lines, 3 in-service lines and two-winding transformers, 4 all "
                         "lines and two-winding transformers, 5 in-service two-winding transformers, 6 all of them"),
        [](const Args& a) -> py::object {
            bool none_chosen = false;
            if (const int code = branch_selection_code(a, 6, &none_chosen)) return py::make_tuple(code, py::none());
            const long flag = a.integer("flag");
            const pf::Network& net = pf::working_case().network;
            const bool lines = flag <= 4, transformers = flag >= 3, in_service_only = flag % 2 == 1;
            std::vector<BranchEnds> ends;
            auto add = [&](int from, int to, int status) {
                if (none_chosen || (in_service_only && status != 1)) return;
                ends.push_back({from, to, status});
                if (a.integer("entry") == 2) ends.push_back({to, from, status});
            };
            if (lines)
                for (const pf::Branch& b : net.branches) add(b.from_bus, b.to_bus, b.status);
            if (transformers)
                for (const pf::Transformer& t : net.transformers)
                    if (!t.three_winding()) add(t.buses[0], t.buses[1], t.status);
            return quantity_columns<BranchEnds>(ends, a.texts("string"),
                                                [](const std::string& name) -> Quantity<BranchEnds> {
                                                    if (name == "FROMNUMBER")
                                                        return [](const BranchEnds& e) { return e.from; };
                                                    if (name == "TONUMBER")
                                                        return [](const BranchEnds& e) { return e.to; };
                                                    if (name == "STATUS")
                                                        return [](const BranchEnds& e) { return e.status; };
                                                    return nullptr;
                                                });
        },
        "Integer quantities of lines and two-winding transformers (FROMNUMBER, TONUMBER, STATUS), lines first, "
        "each kind in the order the case holds it. Returns (ierr, [[values of the first quantity], ...]); the "
        "array None on error.");

    define(
        m, branch_signature("atr3int", "1 in-service three-winding transformers (status 1 to 4), 2 all of them"),
        [](const Args& a) -> py::object {
            bool none_chosen = false;
            if (const int code = branch_selection_code(a, 2, &none_chosen)) return py::make_tuple(code, py::none());
            const long flag = a.integer("flag");
            std::vector<WindingEnds> ends;
            for (const pf::Transformer& t : pf::working_case().network.transformers) {
                if (!t.three_winding() || none_chosen || (flag == 1 && t.status == 0)) continue;
                const auto& w = t.buses;
                ends.push_back({w[0], w[1], w[2], t.status});
                if (a.integer("entry") == 2) {
                    ends.push_back({w[1], w[2], w[0], t.status});
                    ends.push_back({w[2], w[0], w[1], t.status});
                }
            }
            return quantity_columns<WindingEnds>(ends, a.texts("string"),
                                                 [](const std::string& name) -> Quantity<WindingEnds> {
                                                     if (name == "WIND1NUMBER")
                                                         return [](const WindingEnds& e) { return e.first; };
                                                     if (name == "WIND2NUMBER")
                                                         return [](const WindingEnds& e) { return e.second; };
                                                     if (name == "WIND3NUMBER")
                                                         return [](const WindingEnds& e) { return e.third; };
                                                     if (name == "STATUS")
                                                         return [](const WindingEnds& e) { return e.status; };
                                                     return nullptr;
                                                 });
        },
        "Integer quantities of three-winding transformers (WIND1NUMBER, WIND2NUMBER, WIND3NUMBER, STATUS: 0 out, "
        "1 in, 2 winding 2 out, 3 winding 3 out, 4 winding 1 out), in the order the case holds them. Returns "
        "(ierr, [[values of the first quantity], ...]); the array None on error.");
}

}  // namespace gridfold::api
