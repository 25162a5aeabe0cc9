// Network model of the embedded power-flow engine: the external data of one case.
//
// Data are kept the way the engine API enters them: bus numbers, identifiers, powers in
// MW/Mvar, impedances in per unit on the base their code names, angles in degrees. Nothing
// here is derived or solver-specific; the solver builds its per-unit arrays from these
// containers in one step (dropping what is out of service) and writes back only the bus
// voltages (Bus::vm_pu, Bus::va_deg) and the machine outputs it adjusts.
//
// Each element kind (its fields with units and defaults, its checks, its part in the
// solution) is in its own header under core/model/elements/; this file holds the containers
// and the invariants that tie them together.
//
// Elements are never removed from a case, so an index into a container stays valid for the
// life of the case; cross references (disconnection memory, walks) use such indices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/model/elements/branch.hpp"
#include "core/model/elements/bus.hpp"
#include "core/model/elements/common.hpp"
#include "core/model/elements/correction_table.hpp"
#include "core/model/elements/dc_lines.hpp"
#include "core/model/elements/facts_device.hpp"
#include "core/model/elements/fixed_shunt.hpp"
#include "core/model/elements/groups.hpp"
#include "core/model/elements/induction_machine.hpp"
#include "core/model/elements/kept_records.hpp"
#include "core/model/elements/load.hpp"
#include "core/model/elements/machine.hpp"
#include "core/model/elements/switched_shunt.hpp"
#include "core/model/elements/transformer.hpp"
#include "core/model/flat_map.hpp"

namespace gridfold::pf {

// Appends `element`, growing a full container by a sixteenth rather than doubling it. A case
// is read into containers with little room to spare, and the few elements a plant adds would
// otherwise leave half of each container they fill up unused: megabytes on a large case.
template <class T>
void append_with_small_growth(std::vector<T>& container, T element) {
    if (container.size() == container.capacity()) container.reserve(container.size() + container.size() / 16 + 16);
    container.push_back(std::move(element));
}

// External bus number <-> internal index (position in Network::buses).
class BusNumberIndex {
public:
    std::optional<std::size_t> find(int number) const {
        const std::size_t* index = index_of_.find(number);
        if (!index) return std::nullopt;
        return *index;
    }
    bool contains(int number) const { return index_of_.contains(number); }
    std::size_t insert(int number) {
        std::size_t index = number_at_.size();
        index_of_.insert(number, index);
        number_at_.push_back(number);
        return index;
    }
    int number(std::size_t index) const { return number_at_[index]; }
    void reserve(std::size_t count) {
        index_of_.reserve(count);
        number_at_.reserve(count);
    }
    std::size_t size() const { return number_at_.size(); }
    void clear() {
        index_of_.clear();
        number_at_.clear();
    }

private:
    FlatMap<int, std::size_t, std::hash<int>> index_of_;
    std::vector<int> number_at_;
};

// What dscn switched off, so that recn can switch exactly that back.
struct SwitchedOff {
    enum Kind : int { kBranch, kTransformer };
    Kind kind = kBranch;
    std::size_t index = 0;      // into Network::branches or Network::transformers
    int previous_status = 1;
};

struct DisconnectionMemory {
    std::unordered_map<int, int> previous_ide;  // bus number -> IDE before dscn
    std::vector<SwitchedOff> elements;          // in the order dscn switched them
};

// A whole case. Containers keep insertion order; buses are in Network::buses at the index
// the bus_index gives. Bus 0 never exists.
struct Network {
    SystemData system;
    std::vector<Bus> buses;
    BusNumberIndex bus_index;
    std::vector<Load> loads;
    std::vector<FixedShunt> fixed_shunts;
    std::vector<Plant> plants;
    std::vector<Machine> machines;
    std::vector<Branch> branches;
    std::vector<Transformer> transformers;
    std::vector<SwitchedShunt> switched_shunts;
    std::vector<InductionMachine> induction_machines;
    std::vector<Area> areas;
    std::vector<Zone> zones;
    std::vector<Owner> owners;
    std::vector<InterAreaTransfer> transfers;
    std::vector<ImpedanceCorrection> impedance_corrections;
    std::vector<MultiSectionLine> multi_section_lines;
    std::vector<TwoTerminalDcLine> two_terminal_dc_lines;
    std::vector<VscDcLine> vsc_dc_lines;
    std::vector<MultiTerminalDcLine> multi_terminal_dc_lines;
    std::vector<FactsDevice> facts_devices;
    std::vector<GneDevice> gne_devices;
    std::vector<Substation> substations;
    // System-wide records (solution settings, rating set names) as written, for versions
    // that hold them; the engine keeps its own solution settings.
    std::vector<RawValues> system_wide;
    DisconnectionMemory disconnected;
    // Raised by every change of elements or of their in-service state, so that a solver can
    // keep its symbolic analysis while the structure is unchanged. Changed only through
    // structure_changed() and replace_with().
    std::uint64_t structure_revision = 0;

    Bus* bus(int number) {
        auto index = bus_index.find(number);
        return index ? &buses[*index] : nullptr;
    }
    const Bus* bus(int number) const {
        auto index = bus_index.find(number);
        return index ? &buses[*index] : nullptr;
    }

    // Appends a bus whose number the case does not hold yet and indexes it; returns its index
    // into buses. The caller checks the number and raises the revision when the change is done.
    std::size_t add_bus(Bus bus) {
        const std::size_t index = bus_index.insert(bus.number);
        append_with_small_growth(buses, std::move(bus));
        return index;
    }

    // Marks a change of elements or of their in-service state.
    void structure_changed() { ++structure_revision; }

    // Takes the whole of another case in place of this one; the revision goes on rising, so that
    // nothing derived from this case is taken for the other's.
    void replace_with(Network&& other) {
        const std::uint64_t next = structure_revision + 1;
        *this = std::move(other);
        structure_revision = next;
    }
};

}  // namespace gridfold::pf
