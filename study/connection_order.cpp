#include "study/connection_order.hpp"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace gridfold::study {

namespace {

std::vector<BusNumber> nonzero(const std::vector<BusNumber>& buses) {
    std::vector<BusNumber> result;
    for (BusNumber bus : buses)
        if (bus != 0) result.push_back(bus);
    return result;
}

}  // namespace

std::string strip_blanks(std::string_view text) {
    constexpr std::string_view blanks = " \t\n\r\f\v";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

ConnectionKey connection_key(std::vector<BusNumber> buses, std::string_view ckt) {
    std::sort(buses.begin(), buses.end());
    buses.erase(std::unique(buses.begin(), buses.end()), buses.end());
    return {std::move(buses), strip_blanks(ckt)};
}

LinkKey link_key(std::vector<BusNumber> buses, std::string_view ckt) {
    std::sort(buses.begin(), buses.end());
    return {std::move(buses), strip_blanks(ckt)};
}

std::vector<ConnectionRecord> organize_connections(std::optional<BusNumber> main_bus,
                                                   const std::vector<ConnectionRecord>& branches,
                                                   const std::vector<ConnectionRecord>& tx3s) {
    // Adjacency: for each bus, its neighbours with the circuit as found, in the order added.
    struct Neighbour {
        BusNumber bus;
        std::string ckt;
    };
    std::unordered_map<BusNumber, std::vector<Neighbour>> graph;
    std::map<ConnectionKey, ConnectionRecord> edge_map;  // pair of buses -> the record it belongs to

    const auto link = [&](BusNumber bus_i, BusNumber bus_j, const ConnectionRecord& record) {
        graph[bus_i].push_back({bus_j, record.ckt});
        graph[bus_j].push_back({bus_i, record.ckt});
        edge_map[connection_key({bus_i, bus_j}, record.ckt)] = record;
    };

    std::set<ConnectionKey> seen_branch_keys;
    for (const ConnectionRecord& branch : branches) {
        if (!seen_branch_keys.insert(connection_key(branch.buses, branch.ckt)).second) continue;
        link(branch.buses[0], branch.buses[1], branch);
    }
    std::set<ConnectionKey> seen_tx3_keys;
    for (const ConnectionRecord& tx3 : tx3s) {
        const std::vector<BusNumber> buses = nonzero(tx3.buses);
        if (!seen_tx3_keys.insert(connection_key(buses, tx3.ckt)).second) continue;
        // A transformer pair that a branch also joins under the same circuit replaces the branch.
        for (std::size_t i = 0; i < buses.size(); ++i)
            for (std::size_t j = i + 1; j < buses.size(); ++j) link(buses[i], buses[j], tx3);
    }

    std::vector<ConnectionRecord> ordered;
    if (!main_bus) return ordered;
    std::unordered_set<BusNumber> visited_buses;
    std::set<ConnectionKey> visited_edges;
    std::deque<BusNumber> queue{*main_bus};
    while (!queue.empty()) {
        const BusNumber bus = queue.front();
        queue.pop_front();
        if (!visited_buses.insert(bus).second) continue;
        const auto entries = graph.find(bus);
        if (entries == graph.end()) continue;
        for (const Neighbour& neighbour : entries->second) {
            const ConnectionKey key = connection_key({bus, neighbour.bus}, neighbour.ckt);
            if (!visited_edges.insert(key).second) continue;
            const ConnectionRecord& edge = edge_map.at(key);
            if (std::find(ordered.begin(), ordered.end(), edge) == ordered.end()) ordered.push_back(edge);
            if (visited_buses.count(neighbour.bus) == 0) queue.push_back(neighbour.bus);
        }
    }
    return ordered;
}

std::vector<ConnectionRecord> enforce_topological_order(const std::vector<ConnectionRecord>& connections,
                                                        std::optional<BusNumber> main_bus) {
    std::unordered_map<BusNumber, std::set<BusNumber>> graph;  // std::set: neighbours in ascending order
    for (const ConnectionRecord& record : connections) {
        const std::vector<BusNumber> buses = nonzero(record.buses);
        for (BusNumber bus : buses) {
            std::set<BusNumber>& neighbours = graph[bus];
            for (BusNumber other : buses)
                if (other != bus) neighbours.insert(other);
        }
    }

    std::unordered_map<BusNumber, std::size_t> visit_index;
    if (main_bus) {
        std::deque<BusNumber> queue{*main_bus};
        while (!queue.empty()) {
            const BusNumber bus = queue.front();
            queue.pop_front();
            if (visit_index.count(bus) != 0) continue;
            const std::size_t index = visit_index.size();
            visit_index[bus] = index;
            const auto neighbours = graph.find(bus);
            if (neighbours == graph.end()) continue;
            for (BusNumber neighbour : neighbours->second)
                if (visit_index.count(neighbour) == 0) queue.push_back(neighbour);
        }
    }
    const auto distance = [&](BusNumber bus) {
        const auto found = visit_index.find(bus);
        return found == visit_index.end() ? std::numeric_limits<std::size_t>::max() : found->second;
    };

    std::vector<ConnectionRecord> ordered;
    ordered.reserve(connections.size());
    for (const ConnectionRecord& record : connections) {
        std::vector<BusNumber> buses = nonzero(record.buses);
        std::stable_sort(buses.begin(), buses.end(),
                         [&](BusNumber a, BusNumber b) { return distance(a) < distance(b); });
        ordered.push_back({std::move(buses), record.ckt});
    }
    return ordered;
}

ConnectionRecord reorder_edge(const ConnectionRecord& edge, BusNumber root) {
    const std::vector<BusNumber> buses = nonzero(edge.buses);
    if (std::find(buses.begin(), buses.end(), root) == buses.end()) return {buses, edge.ckt};
    std::vector<BusNumber> reordered{root};
    for (BusNumber bus : buses)
        if (bus != root) reordered.push_back(bus);
    return {std::move(reordered), edge.ckt};
}

}  // namespace gridfold::study
