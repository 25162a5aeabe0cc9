#include "core/model/topology.hpp"

#include <algorithm>

#include "core/model/error_codes.hpp"
#include "core/model/model_edit.hpp"

namespace gridfold::pf {
namespace {

int check_walk_bus(const Network& net, int bus) {
    if (bus < kMinBusNumber || bus > kMaxBusNumber) return kInvalidBusNumber;
    if (!net.bus(bus)) return kBusNotFound;
    return kOk;
}

bool in_service_bus(const Network& net, int number) {
    const Bus* bus = net.bus(number);
    return bus && bus->ide != kIsolatedBus;
}

bool touches(const Transformer& t, int bus) {
    return std::find(t.buses.begin(), t.buses.end(), bus) != t.buses.end();
}

bool line_listed(const Branch& b, int bus, WalkFilter filter) {
    return (b.from_bus == bus || b.to_bus == bus) && (filter == WalkFilter::kAll || b.status != 0);
}

bool two_winding_listed(const Transformer& t, int bus, WalkFilter filter) {
    return !t.three_winding() && touches(t, bus) && (filter == WalkFilter::kAll || t.status != 0);
}

bool three_winding_listed(const Transformer& t, int bus, WalkFilter filter) {
    return t.three_winding() && touches(t, bus) && (filter == WalkFilter::kAll || t.status != 0);
}

}  // namespace

int disconnect_bus(Network& net, int number) {
    if (int r = check_walk_bus(net, number)) return r;
    Bus& bus = *net.bus(number);
    // A second dscn keeps the type remembered by the first.
    net.disconnected.previous_ide.emplace(number, bus.ide);
    bus.ide = kIsolatedBus;
    for (std::size_t i = 0; i < net.branches.size(); ++i) {
        Branch& b = net.branches[i];
        if ((b.from_bus == number || b.to_bus == number) && b.status != 0) {
            net.disconnected.elements.push_back({SwitchedOff::kBranch, i, b.status});
            b.status = 0;
        }
    }
    for (std::size_t i = 0; i < net.transformers.size(); ++i) {
        Transformer& t = net.transformers[i];
        if (touches(t, number) && t.status != 0) {
            net.disconnected.elements.push_back({SwitchedOff::kTransformer, i, t.status});
            t.status = 0;
            sync_star_point(net, t);
        }
    }
    net.structure_changed();
    return kOk;
}

int reconnect_bus(Network& net, int number) {
    if (int r = check_walk_bus(net, number)) return r;
    Bus& bus = *net.bus(number);
    auto remembered = net.disconnected.previous_ide.find(number);
    if (remembered != net.disconnected.previous_ide.end()) {
        bus.ide = remembered->second;
        net.disconnected.previous_ide.erase(remembered);
    } else if (bus.ide == kIsolatedBus) {
        bus.ide = kLoadBus;
    }
    auto& switched = net.disconnected.elements;
    std::vector<SwitchedOff> kept;
    for (const SwitchedOff& entry : switched) {
        bool restore = false;
        if (entry.kind == SwitchedOff::kBranch) {
            const Branch& b = net.branches[entry.index];
            restore = (b.from_bus == number || b.to_bus == number) && in_service_bus(net, b.from_bus) &&
                      in_service_bus(net, b.to_bus);
        } else {
            const Transformer& t = net.transformers[entry.index];
            restore = touches(t, number) && in_service_bus(net, t.buses[0]) && in_service_bus(net, t.buses[1]) &&
                      (!t.three_winding() || in_service_bus(net, t.buses[2]));
        }
        if (!restore) {
            kept.push_back(entry);
            continue;
        }
        if (entry.kind == SwitchedOff::kBranch) {
            net.branches[entry.index].status = entry.previous_status;
        } else {
            Transformer& t = net.transformers[entry.index];
            t.status = entry.previous_status;
            sync_star_point(net, t);
        }
    }
    switched = std::move(kept);
    net.structure_changed();
    return kOk;
}

int start_branch_walk(const Network& net, BranchWalk& walk, int bus, int filter, int* count) {
    if (int r = check_walk_bus(net, bus)) return r;
    if (filter != static_cast<int>(WalkFilter::kInService) && filter != static_cast<int>(WalkFilter::kAll))
        return kInvalidOption;
    walk = BranchWalk{true, bus, static_cast<WalkFilter>(filter), 0, 0, 0};
    if (count) {
        int n = 0;
        for (const Branch& b : net.branches) n += line_listed(b, bus, walk.filter);
        for (const Transformer& t : net.transformers)
            n += two_winding_listed(t, bus, walk.filter) || three_winding_listed(t, bus, walk.filter);
        *count = n;
    }
    return kOk;
}

BranchStep next_branch(const Network& net, BranchWalk& walk, int bus) {
    if (int r = check_walk_bus(net, bus)) return {r, 0, ""};
    if (!walk.started || walk.bus != bus) return {kWalkNotStarted, 0, ""};
    while (walk.next_line < net.branches.size()) {
        const Branch& b = net.branches[walk.next_line++];
        if (line_listed(b, bus, walk.filter)) return {kOk, b.from_bus == bus ? b.to_bus : b.from_bus, b.ckt};
    }
    while (walk.next_transformer < net.transformers.size()) {
        const Transformer& t = net.transformers[walk.next_transformer++];
        if (two_winding_listed(t, bus, walk.filter))
            return {kOk, t.buses[0] == bus ? t.buses[1] : t.buses[0], t.ckt};
    }
    return {kNoMoreElements, 0, ""};
}

ThreeWindingStep next_three_winding(const Network& net, BranchWalk& walk, int bus) {
    if (int r = check_walk_bus(net, bus)) return {r, 0, 0, ""};
    if (!walk.started || walk.bus != bus) return {kWalkNotStarted, 0, 0, ""};
    while (walk.next_three < net.transformers.size()) {
        const Transformer& t = net.transformers[walk.next_three++];
        if (!three_winding_listed(t, bus, walk.filter)) continue;
        int others[2];
        int n = 0;
        for (int b : t.buses)
            if (b != bus) others[n++] = b;
        return {kOk, others[0], others[1], t.ckt};
    }
    return {kNoMoreElements, 0, 0, ""};
}

int start_machine_walk(const Network& net, MachineWalk& walk, int bus) {
    if (int r = check_walk_bus(net, bus)) return r;
    walk = MachineWalk{true, bus, 0};
    return kOk;
}

int next_machine(const Network& net, MachineWalk& walk, int bus, std::string* id) {
    if (int r = check_walk_bus(net, bus)) return r;
    if (!walk.started || walk.bus != bus) return kWalkNotStarted;
    while (walk.next < net.machines.size()) {
        const Machine& m = net.machines[walk.next++];
        if (m.bus == bus) {
            *id = m.id;
            return kOk;
        }
    }
    return kNoMoreElements;
}

}  // namespace gridfold::pf
