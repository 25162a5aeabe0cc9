// Where a small case meets the main case: the equipment a plant model holds at the connecting
// bus, and whether every bus of the plant is joined to the main case's swing bus.
//
// A developer's plant model represents the grid at the connecting bus with an equivalent
// machine, a load or shunts. Those elements stand in for the main case's own equipment at
// that bus, so adding them would overwrite or double it. They are taken out of the small
// case before anything is added, the way the connecting bus's own row is.
#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "operations.hpp"
#include "py_values.hpp"

namespace gridfold::network {

namespace {

struct ElementKind {
    const char* section;       // table of the case data object
    const char* kind;          // name of the kind in reports
    const char* key_prefix;    // how the status report names one element
    const char* id_columns[2]; // first column that exists holds the identifier
};

constexpr ElementKind kKindsAtBus[] = {
    {"pssgen", "generators", "Gen ", {"IDE", "ID"}},
    {"psslod", "loads", "Load ", {"ID", nullptr}},
    {"pssfsh", "fixed_shunts", "Fixed Shunt ", {"ID", nullptr}},
    {"psswsh", "switched_shunts", "Switched Shunt ", {"ID", nullptr}},
    {"pssind", "induction_machines", "Induction Machine ", {"ID", nullptr}},
};

bool is_row_column(py::handle value, Py_ssize_t rows) {
    const bool sequence = PyTuple_Check(value.ptr()) || PyList_Check(value.ptr()) ||
                          (is_ndarray(value) && py::int_(value.attr("ndim")).cast<int>() >= 1);
    return sequence && static_cast<Py_ssize_t>(py::len(value)) == rows;
}

py::object identifier_column(py::handle table, const ElementKind& kind) {
    for (const char* column : kind.id_columns) {
        if (column != nullptr && table.contains(py::str(column))) return table[py::str(column)];
    }
    return py::none();
}

}  // namespace

py::list leave_out_connecting_bus_elements(py::object small_case, py::handle connecting_bus) {
    py::list left_out;
    if (connecting_bus.is_none()) return left_out;
    const BusNumber bus = to_bus_number(connecting_bus, "connecting bus");
    for (const ElementKind& kind : kKindsAtBus) {
        if (!py::hasattr(small_case, kind.section)) continue;
        py::object table = small_case.attr(kind.section);
        if (!is_mapping(table) || !table.contains(py::str("NUM"))) continue;
        py::object numbers = table[py::str("NUM")];
        const std::vector<BusNumber> buses = to_bus_numbers(numbers, std::string(kind.section) + " NUM");
        const Py_ssize_t rows = static_cast<Py_ssize_t>(buses.size());
        std::vector<bool> keep(buses.size(), true);
        py::object ids = identifier_column(table, kind);
        for (std::size_t r = 0; r < buses.size(); ++r) {
            if (buses[r] != bus) continue;
            keep[r] = false;
            py::object id = ids.is_none() ? py::object(py::str("")) : py::object(ids[py::int_(r)]);
            const std::string id_text = py::str(id).attr("strip")().cast<std::string>();
            py::dict entry;
            entry["kind"] = kind.kind;
            entry["ids"] = py::make_tuple(py::int_(bus), py::str(id_text));
            entry["key"] = py::str(std::string(kind.key_prefix) + std::to_string(bus) + ", Id:" + id_text);
            left_out.append(entry);
        }
        if (std::find(keep.begin(), keep.end(), false) == keep.end()) continue;
        // A new table replaces the old one: the caller's copy of the case is never half-filtered.
        py::object filtered = copy_mapping(table);
        for (auto [key, value] : py::reinterpret_borrow<py::dict>(py::dict(table))) {
            if (is_row_column(value, rows)) filtered[key] = rows_kept(value, keep);
        }
        py::setattr(small_case, kind.section, filtered);
    }
    return left_out;
}

namespace {

long as_long(py::handle value) {
    if (PyLong_CheckExact(value.ptr())) {
        const long number = PyLong_AsLong(value.ptr());
        if (!(number == -1 && PyErr_Occurred())) return number;
        PyErr_Clear();
    }
    return py::int_(py::reinterpret_borrow<py::object>(value)).cast<long>();
}

// The buses of a case as dense indices, with the in-service links between them. A bus number
// met only in a branch gets an index too, so that the walk goes through it as through any bus.
class BusGraph {
public:
    explicit BusGraph(std::size_t buses) { index_.reserve(buses * 2); }

    int index_of(BusNumber bus) {
        const auto [at, added] = index_.try_emplace(bus, static_cast<int>(index_.size()));
        return at->second;
    }
    int find(BusNumber bus) const {
        const auto at = index_.find(bus);
        return at == index_.end() ? -1 : at->second;
    }
    std::size_t size() const { return index_.size(); }

    // In service: a branch status of 1; a three-winding transformer with status 2, 3 or 4 has
    // one winding (2, 3, 1) out and still joins the other two.
    void join(BusNumber a, BusNumber b) {
        if (a == 0 || b == 0) return;
        links_.emplace_back(index_of(a), index_of(b));
    }

    // Every bus reached from `seeds` without entering a bus marked in `closed`.
    std::vector<char> reached_from(const std::vector<int>& seeds, const std::vector<char>& closed) const {
        const std::size_t n = size();
        std::vector<int> start(n + 1, 0), next(2 * links_.size());
        for (const auto& [a, b] : links_) {
            ++start[static_cast<std::size_t>(a) + 1];
            ++start[static_cast<std::size_t>(b) + 1];
        }
        for (std::size_t k = 0; k < n; ++k) start[k + 1] += start[k];
        std::vector<int> fill(start.begin(), start.end() - 1);
        for (const auto& [a, b] : links_) {
            next[static_cast<std::size_t>(fill[static_cast<std::size_t>(a)]++)] = b;
            next[static_cast<std::size_t>(fill[static_cast<std::size_t>(b)]++)] = a;
        }
        std::vector<char> reached(n, 0);
        std::vector<int> frontier;
        for (int s : seeds)
            if (!reached[static_cast<std::size_t>(s)]) {
                reached[static_cast<std::size_t>(s)] = 1;
                frontier.push_back(s);
            }
        for (std::size_t at = 0; at < frontier.size(); ++at) {
            const auto bus = static_cast<std::size_t>(frontier[at]);
            for (int k = start[bus]; k < start[bus + 1]; ++k) {
                const auto other = static_cast<std::size_t>(next[static_cast<std::size_t>(k)]);
                if (closed[other] || reached[other]) continue;
                reached[other] = 1;
                frontier.push_back(static_cast<int>(other));
            }
        }
        return reached;
    }

private:
    std::unordered_map<BusNumber, int> index_;
    std::vector<std::pair<int, int>> links_;
};

}  // namespace

py::list buses_cut_off(py::handle case_data, py::handle bus_numbers) {
    py::object buses = case_data.attr("pssbus");
    const std::vector<BusNumber> numbers = to_bus_numbers(table_column(buses, "NUM", "pssbus"), "pssbus NUM");
    py::object types = table_column(buses, "IDE", "pssbus");
    BusGraph graph(numbers.size());
    std::vector<int> swing;
    std::vector<int> isolated;
    std::size_t r = 0;
    for (py::handle type : types) {
        const long ide = as_long(type);
        const int bus = graph.index_of(numbers[r++]);
        if (ide == 4) isolated.push_back(bus);
        if (ide == 3) swing.push_back(bus);
    }
    // The buses the case holds: every number of its bus table.
    std::vector<char> present(graph.size(), 0);
    for (BusNumber number : numbers) present[static_cast<std::size_t>(graph.find(number))] = 1;

    if (py::hasattr(case_data, "pssbrn")) {
        py::object lines = case_data.attr("pssbrn");
        const auto from = to_bus_numbers(table_column(lines, "FRMBUS", "pssbrn"), "pssbrn FRMBUS");
        const auto to = to_bus_numbers(table_column(lines, "TOBUS", "pssbrn"), "pssbrn TOBUS");
        std::size_t i = 0;
        for (py::handle status : table_column(lines, "STAT", "pssbrn")) {
            if (as_long(status) > 0) graph.join(from[i], to[i]);
            ++i;
        }
    }
    if (py::hasattr(case_data, "castrn")) {
        py::object transformers = case_data.attr("castrn");
        py::object windings = table_column(transformers, "BUSNUM", "castrn");
        py::object statuses = table_column(transformers, "STAT", "castrn");
        std::size_t i = 0;
        for (py::handle status_value : statuses) {
            const long status = as_long(status_value);
            const auto ends = to_bus_numbers(windings[py::int_(i++)], "castrn BUSNUM");
            if (status <= 0 || ends.size() < 2) continue;
            const BusNumber w1 = ends[0], w2 = ends[1], w3 = ends.size() > 2 ? ends[2] : 0;
            if (w3 == 0) {
                if (status == 1) graph.join(w1, w2);
                continue;
            }
            if (status != 4) graph.join(w1, status == 2 ? w3 : w2);  // winding 2 out: 1 joins 3
            if (status == 1 || status == 4) graph.join(w2, w3);
            if (status == 1) graph.join(w1, w3);
        }
    }

    std::vector<char> closed(graph.size(), 0);
    for (int bus : isolated) closed[static_cast<std::size_t>(bus)] = 1;
    const std::vector<char> reached = graph.reached_from(swing, closed);
    // A bus the case does not hold at all (the engine refused to add it) is not cut off: it
    // is missing, which the status report says.
    py::list cut_off;
    for (BusNumber bus : to_bus_numbers(bus_numbers, "bus numbers")) {
        const int at = graph.find(bus);
        if (at >= 0 && static_cast<std::size_t>(at) < present.size() && present[static_cast<std::size_t>(at)] &&
            !reached[static_cast<std::size_t>(at)])
            cut_off.append(py::int_(bus));
    }
    return cut_off;
}

void bind_plant_boundary(py::module_& m) {
    m.def("leave_out_connecting_bus_elements", &leave_out_connecting_bus_elements, py::arg("small_case"),
          py::arg("connecting_bus"),
          "Takes the machines, loads, fixed and switched shunts and induction machines at the connecting bus out\n"
          "of the small case (their tables are replaced by filtered copies) and returns one dict per element:\n"
          "{'kind', 'ids': (bus, id), 'key': text as the status report names it}.");
    m.def("buses_cut_off", &buses_cut_off, py::arg("case_data"), py::arg("bus_numbers"),
          "The buses of `bus_numbers` held by `case_data` that are isolated (type 4) or not joined to a swing\n"
          "bus through in-service branches and transformers, in the given order.");
}

}  // namespace gridfold::network
