// Connection ordering: finds the small case's branches and three-winding transformers through
// the engine adapter and orders them outward from the connecting bus (connection_order.cpp).
#include "connections.hpp"

#include <unordered_set>

#include "bindings.hpp"
#include "operations.hpp"
#include "py_values.hpp"

namespace gridfold::network {

ConnectionRecord to_record(py::handle record, const std::string& what, std::size_t length) {
    if (!PySequence_Check(record.ptr()) || PyUnicode_Check(record.ptr()))
        throw py::type_error(what + " " + std::string(py::repr(record)) +
                             " is not a sequence of bus numbers ending in a circuit identifier");
    const py::sequence entries = py::reinterpret_borrow<py::sequence>(record);
    const std::size_t size = entries.size();
    if ((length != 0 && size != length) || size == 0)
        throw py::value_error(what + " " + std::string(py::repr(record)) + " has " + std::to_string(size) + " entries" +
                              (length != 0 ? ", not " + std::to_string(length) : std::string()));
    const py::object ckt = entries[size - 1];
    if (!PyUnicode_Check(ckt.ptr()))
        throw py::type_error(what + " " + std::string(py::repr(record)) +
                             " does not end in a circuit identifier (text)");
    ConnectionRecord converted;
    converted.ckt = ckt.cast<std::string>();
    for (std::size_t i = 0; i + 1 < size; ++i)
        converted.buses.push_back(to_bus_number(entries[i], what + " " + std::string(py::repr(record))));
    return converted;
}

py::tuple to_tuple(const ConnectionRecord& record) {
    py::tuple result(record.buses.size() + 1);
    for (std::size_t i = 0; i < record.buses.size(); ++i) result[i] = py::int_(record.buses[i]);
    result[record.buses.size()] = py::str(record.ckt);
    return result;
}

namespace {

std::vector<ConnectionRecord> to_records(py::handle records, const std::string& what, std::size_t length) {
    std::vector<ConnectionRecord> converted;
    for (py::handle record : records) converted.push_back(to_record(record, what, length));
    return converted;
}

py::list to_list(const std::vector<ConnectionRecord>& records) {
    py::list result;
    for (const ConnectionRecord& record : records) result.append(to_tuple(record));
    return result;
}

// Entry `index` of what an engine walk call returned; a short result raises naming the call.
py::object entry(const py::object& result, std::size_t index, const char* call) {
    const py::sequence entries = py::reinterpret_borrow<py::sequence>(result);
    if (entries.size() <= index)
        throw py::value_error(std::string(call) + " returned " + std::string(py::repr(result)) + " with " +
                              std::to_string(entries.size()) + " entries, fewer than the walk needs");
    return entries[index];
}

bool is_nonzero_code(const py::object& code) {
    const int truth = PyObject_IsTrue(code.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth == 1;
}

}  // namespace

py::tuple find_buses(py::handle scbus_numbers, py::handle psseng) {
    const std::vector<BusNumber> buses = to_bus_numbers(scbus_numbers, "scbus_numbers");
    const std::unordered_set<BusNumber> inside(buses.begin(), buses.end());
    const auto is_inside = [&](const py::object& bus, const char* call) {
        return inside.count(to_bus_number(bus, std::string("a bus number returned by ") + call)) != 0;
    };
    const auto is_none_or_inside = [&](const py::object& bus, const char* call) {
        return to_bus_number(bus, std::string("a bus number returned by ") + call) == 0 || is_inside(bus, call);
    };

    py::list branches;
    py::list tx3s;
    for (BusNumber bus : buses) {
        const py::int_ ibus(bus);
        psseng.attr("ini_branch_2")(py::arg("ibus") = ibus, py::arg("inode") = 0, py::arg("single") = 2);
        while (true) {
            const py::object next = psseng.attr("get_next_branch_bus")(py::arg("ibus") = ibus, py::arg("inode") = 0);
            if (is_nonzero_code(entry(next, 0, "get_next_branch_bus"))) break;
            const py::object far_bus = entry(next, 1, "get_next_branch_bus");
            if (is_inside(far_bus, "get_next_branch_bus"))
                branches.append(py::make_tuple(ibus, far_bus, entry(next, 3, "get_next_branch_bus")));
        }
        psseng.attr("ini_branch_2")(py::arg("ibus") = ibus, py::arg("inode") = 0, py::arg("single") = 2);
        while (true) {
            const py::object next = psseng.attr("get_next_tx3_bus")(py::arg("ibus") = ibus, py::arg("inode") = 0);
            if (is_nonzero_code(entry(next, 0, "get_next_tx3_bus"))) break;
            const py::object second = entry(next, 1, "get_next_tx3_bus");
            const py::object third = entry(next, 3, "get_next_tx3_bus");
            if (is_none_or_inside(second, "get_next_tx3_bus") && is_none_or_inside(third, "get_next_tx3_bus"))
                tx3s.append(py::make_tuple(ibus, second, third, entry(next, 5, "get_next_tx3_bus")));
        }
    }
    return py::make_tuple(branches, tx3s);
}

py::list organize_connections_of(py::handle main_bus, py::handle branches, py::handle tx3s) {
    return to_list(network::organize_connections(to_optional_bus_number(main_bus, "main_bus"),
                                                 to_records(branches, "branch record", 3),
                                                 to_records(tx3s, "three-winding record", 4)));
}

py::list enforce_topological_order_of(py::handle connections, py::handle main_bus) {
    return to_list(network::enforce_topological_order(to_records(connections, "connection record", 0),
                                                      to_optional_bus_number(main_bus, "main_bus")));
}

namespace {

py::tuple reorder_edge_of(py::handle edge, py::handle root) {
    return to_tuple(network::reorder_edge(to_record(edge, "connection record"), to_bus_number(root, "root")));
}

}  // namespace

void bind_connections(py::module_& m) {
    m.def("find_buses", &find_buses, py::arg("scbus_numbers"), py::arg("psseng"),
          "Walks the engine's branches and three-winding transformers at each bus of `scbus_numbers` and\n"
          "returns (branches, tx3s): the records whose other buses are in `scbus_numbers` (0 allowed for\n"
          "transformer buses), found from each end.");
    m.def("organize_connections", &organize_connections_of, py::arg("main_bus"), py::arg("branches"), py::arg("tx3s"),
          "The distinct connections reachable from `main_bus`, in breadth-first order.");
    m.def("enforce_topological_order", &enforce_topological_order_of, py::arg("connections"), py::arg("main_bus"),
          "Each record with its nonzero buses sorted nearest to `main_bus` first.");
    m.def("reorder_edge", &reorder_edge_of, py::arg("edge"), py::arg("root"),
          "The record's nonzero buses with `root` first when it is one of them.");
}

}  // namespace gridfold::network
