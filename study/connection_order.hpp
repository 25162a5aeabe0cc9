// Ordering of a small case's connections outward from the connecting bus, and the keys that
// tell two records of one connection apart from two connections. Plain C++.
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "study/bus_numbers.hpp"

namespace gridfold::study {

// A branch (2 buses), a three-winding transformer (3 buses, 0 where there is none) or an ordered
// connection (1 to 3 nonzero buses), followed by its circuit identifier exactly as the engine gave it.
struct ConnectionRecord {
    std::vector<BusNumber> buses;
    std::string ckt;
    bool operator==(const ConnectionRecord&) const = default;
};

// Identifies a connection whatever the direction it was found in or the blanks around its
// circuit identifier: the set of its bus numbers (sorted, without repeats) and the stripped circuit.
struct ConnectionKey {
    std::vector<BusNumber> buses;
    std::string ckt;
    auto operator<=>(const ConnectionKey&) const = default;
};

// Identifies a link given to the solving strategy: all its bus entries sorted ascending
// (repeats kept) and the stripped circuit identifier.
struct LinkKey {
    std::vector<BusNumber> buses;
    std::string ckt;
    auto operator<=>(const LinkKey&) const = default;
};

// Leading and trailing blanks (any white space) removed.
std::string strip_blanks(std::string_view text);

ConnectionKey connection_key(std::vector<BusNumber> buses, std::string_view ckt);
LinkKey link_key(std::vector<BusNumber> buses, std::string_view ckt);

// Removes duplicate records (same key) and lists the connections in the order a breadth-first
// walk from `main_bus` first reaches them; branches are explored before transformers, each in
// input order. Connections the walk cannot reach are left out. Records come back unchanged.
std::vector<ConnectionRecord> organize_connections(std::optional<BusNumber> main_bus,
                                                   const std::vector<ConnectionRecord>& branches,
                                                   const std::vector<ConnectionRecord>& tx3s);

// One record per input record, in input order, with its nonzero buses sorted by their
// breadth-first distance from `main_bus` (neighbours visited in ascending bus number); buses the
// walk never reaches keep their relative order after the reached ones.
std::vector<ConnectionRecord> enforce_topological_order(const std::vector<ConnectionRecord>& connections,
                                                        std::optional<BusNumber> main_bus);

// The record's nonzero buses with `root` first when it is one of them.
ConnectionRecord reorder_edge(const ConnectionRecord& edge, BusNumber root);

}  // namespace gridfold::study
