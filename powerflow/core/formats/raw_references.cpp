// Areas, zones and owners referred to by elements (see raw_references.hpp).
#include "core/formats/raw_references.hpp"

#include <algorithm>
#include <unordered_set>

namespace gridfold::pf::formats {
namespace {

// Numbers in use without a record, in number order.
template <class Record>
std::vector<int> missing(const std::vector<Record>& held, std::vector<int>& used) {
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    std::unordered_set<int> have;
    for (const Record& r : held) have.insert(r.number);
    std::vector<int> result;
    for (int number : used)
        if (number > 0 && !have.count(number)) result.push_back(number);
    return result;
}

std::string number_list(const std::vector<int>& numbers) {
    std::string text;
    for (std::size_t k = 0; k < numbers.size() && k < 20; ++k) text += (k ? ", " : "") + std::to_string(numbers[k]);
    if (numbers.size() > 20) text += ", ...";
    return text;
}

}  // namespace

ReferenceTables completed_references(const Network& net) {
    // Collected with repeats, then sorted once: far cheaper than a set for a whole case. Runs
    // of one number (elements of one area, one owner) are kept once.
    struct Numbers : std::vector<int> {
        void insert(int number) {
            if (empty() || back() != number) push_back(number);
        }
    } areas, zones, owners;
    areas.reserve(net.buses.size() + net.loads.size());
    zones.reserve(net.buses.size() + net.loads.size());
    owners.reserve(net.buses.size() + net.loads.size() + net.machines.size() + net.branches.size());
    auto owned = [&](const Owners& list) {
        for (const Ownership& o : list)
            if (o.owner != 0) owners.insert(o.owner);
    };
    for (const Bus& b : net.buses) {
        areas.insert(b.area);
        zones.insert(b.zone);
        owners.insert(b.owner);
    }
    for (const Load& l : net.loads) {
        areas.insert(l.area);
        zones.insert(l.zone);
        owners.insert(l.owner);
    }
    for (const InductionMachine& m : net.induction_machines) {
        areas.insert(m.area);
        zones.insert(m.zone);
        owners.insert(m.owner);
    }
    for (const Machine& m : net.machines) owned(m.owners);
    for (const Branch& b : net.branches) owned(b.owners);
    for (const Transformer& t : net.transformers) owned(t.owners);
    for (const VscDcLine& d : net.vsc_dc_lines) owned(d.owners);
    for (const FactsDevice& f : net.facts_devices) owners.insert(f.owner);
    for (const GneDevice& g : net.gne_devices) owners.insert(g.owner);
    for (const InterAreaTransfer& t : net.transfers) {
        areas.insert(t.from_area);
        areas.insert(t.to_area);
    }
    for (const MultiTerminalDcLine& d : net.multi_terminal_dc_lines)
        for (const MtdcBus& b : d.dc_buses) {
            areas.insert(b.area);
            zones.insert(b.zone);
            owners.insert(b.owner);
        }

    ReferenceTables tables{net.areas,
                           net.zones,
                           net.owners,
                           missing(net.areas, areas),
                           missing(net.zones, zones),
                           missing(net.owners, owners)};
    for (int number : tables.created_areas) tables.areas.push_back(Area{number, 0, 0.0, 10.0, ""});
    for (int number : tables.created_zones) tables.zones.push_back(Zone{number, ""});
    for (int number : tables.created_owners) tables.owners.push_back(Owner{number, ""});
    return tables;
}

void complete_references(Network& net, std::vector<std::string>* notes) {
    ReferenceTables tables = completed_references(net);
    if (notes) {
        auto note = [&](const std::vector<int>& created, const char* kind) {
            if (created.empty()) return;
            notes->push_back(std::string(kind) + " data: " + std::to_string(created.size()) + " records created with " +
                             "default data for numbers in use without one (" + number_list(created) + ")");
        };
        note(tables.created_areas, "area");
        note(tables.created_zones, "zone");
        note(tables.created_owners, "owner");
    }
    net.areas = std::move(tables.areas);
    net.zones = std::move(tables.zones);
    net.owners = std::move(tables.owners);
}

}  // namespace gridfold::pf::formats
