#include "core/model/model_edit.hpp"

#include <algorithm>
#include <cmath>

#include "core/model/error_codes.hpp"
#include "core/model/identifiers.hpp"
#include "core/model/units.hpp"

namespace gridfold::pf {
namespace {

// Common key checks of elements at one bus: number range, existence, identifier.
int check_bus_key(const Network& net, int bus, std::string_view id, std::string* normalized) {
    if (!valid_bus_number(bus)) return kInvalidBusNumber;
    if (!net.bus(bus)) return kBusNotFound;
    auto n = normalize_identifier(id);
    if (!n) return kInvalidIdentifier;
    if (normalized) *normalized = *n;
    return kOk;
}

// Stores `element` at `index`, or appends it when index is nullopt.
template <class T>
void store(std::vector<T>& container, std::optional<std::size_t> index, T element) {
    if (index)
        container[*index] = std::move(element);
    else
        append_with_small_growth(container, std::move(element));
}

// Shared path of the elements keyed by (bus, id).
template <class T, class Find, class Fill, class Check>
int set_bus_element(Network& net, std::vector<T>& container, int bus, std::string_view id, EditMode mode,
                    const Apply<T>& apply, Find find, Fill fill_new, Check check) {
    std::string key;
    if (int r = check_bus_key(net, bus, id, &key)) return r;
    auto index = find(net, bus, key);
    if (!index && mode == EditMode::kChangeOnly) return kElementNotFound;
    T element;
    if (index) {
        element = container[*index];
    } else {
        element.bus = bus;
        element.id = key;
        fill_new(element, *net.bus(bus));
    }
    apply(element);
    element.bus = bus;
    element.id = key;
    if (int r = check(net, element)) return r;
    store(container, index, std::move(element));
    net.structure_changed();
    return kOk;
}

template <class T>
std::optional<std::size_t> find_by_bus_id(const std::vector<T>& container, int bus, std::string_view id) {
    auto key = normalize_identifier(id);
    if (!key) return std::nullopt;
    for (std::size_t i = 0; i < container.size(); ++i)
        if (container[i].bus == bus && container[i].id == *key) return i;
    return std::nullopt;
}

}  // namespace

std::optional<std::size_t> find_load(const Network& net, int bus, std::string_view id) {
    return find_by_bus_id(net.loads, bus, id);
}
std::optional<std::size_t> find_fixed_shunt(const Network& net, int bus, std::string_view id) {
    return find_by_bus_id(net.fixed_shunts, bus, id);
}
std::optional<std::size_t> find_machine(const Network& net, int bus, std::string_view id) {
    return find_by_bus_id(net.machines, bus, id);
}
std::optional<std::size_t> find_switched_shunt(const Network& net, int bus, std::string_view id) {
    return find_by_bus_id(net.switched_shunts, bus, id);
}
std::optional<std::size_t> find_induction_machine(const Network& net, int bus, std::string_view id) {
    return find_by_bus_id(net.induction_machines, bus, id);
}
std::optional<std::size_t> find_plant(const Network& net, int bus) {
    for (std::size_t i = 0; i < net.plants.size(); ++i)
        if (net.plants[i].bus == bus) return i;
    return std::nullopt;
}

std::optional<std::size_t> find_branch(const Network& net, int from, int to, std::string_view ckt, bool* reversed) {
    auto key = normalize_identifier(ckt);
    if (!key) return std::nullopt;
    for (std::size_t i = 0; i < net.branches.size(); ++i) {
        const Branch& b = net.branches[i];
        const bool same = b.from_bus == from && b.to_bus == to;
        if (!same && !(b.from_bus == to && b.to_bus == from)) continue;
        if (b.ckt != *key) continue;
        if (reversed) *reversed = !same;
        return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> find_transformer(const Network& net, int i, int j, int k, std::string_view ckt,
                                            bool* exact_order) {
    auto key = normalize_identifier(ckt);
    if (!key) return std::nullopt;
    std::array<int, 3> wanted{i, j, k};
    std::array<int, 3> wanted_sorted = wanted;
    std::sort(wanted_sorted.begin(), wanted_sorted.end());
    for (std::size_t t = 0; t < net.transformers.size(); ++t) {
        const Transformer& tr = net.transformers[t];
        // Cheap test first: the first winding's bus must be one of the buses named.
        if (tr.buses[0] != i && tr.buses[0] != j && tr.buses[0] != k) continue;
        if (tr.ckt != *key) continue;
        std::array<int, 3> have = tr.buses;
        std::sort(have.begin(), have.end());
        if (have != wanted_sorted) continue;
        if (exact_order) *exact_order = tr.buses == wanted;
        return t;
    }
    return std::nullopt;
}

int next_star_point_number(const Network& net) {
    int number = kFirstStarPointBus;
    while (net.bus_index.contains(number)) ++number;
    return number;
}

void add_star_point(Network& net, Transformer& t, int number, double vm_pu, double va_deg) {
    const Bus& first = *net.bus(t.buses[0]);
    Bus point;
    point.number = number;
    point.base_kv = 1.0;
    point.area = first.area;
    point.zone = first.zone;
    point.owner = first.owner;
    point.vm_pu = vm_pu;
    point.va_deg = va_deg;
    point.star_point = true;
    point.ide = t.status == 0 ? kIsolatedBus : kLoadBus;
    t.star_bus = number;
    net.add_bus(std::move(point));
}

void sync_star_point(Network& net, const Transformer& transformer) {
    if (!transformer.three_winding()) return;
    if (Bus* star = net.bus(transformer.star_bus)) star->ide = transformer.status == 0 ? kIsolatedBus : kLoadBus;
}

// ---- edits ----------------------------------------------------------------------------

int set_bus(Network& net, int number, EditMode mode, const Apply<Bus>& apply, std::size_t bus_limit) {
    if (!valid_bus_number(number)) return kInvalidBusNumber;
    auto index = net.bus_index.find(number);
    if (!index && mode == EditMode::kChangeOnly) return kBusNotFound;
    if (!index && net.buses.size() >= bus_limit) return kBusLimit;
    Bus bus = index ? net.buses[*index] : Bus{};
    apply(bus);
    bus.number = number;
    bus.star_point = false;
    if (int r = check_bus(bus)) return r;
    bus.name = *normalize_name(bus.name, kMaxBusNameLength);
    if (index) {
        bool type_changed = net.buses[*index].ide != bus.ide;
        net.buses[*index] = std::move(bus);
        if (type_changed) net.structure_changed();
    } else {
        net.add_bus(std::move(bus));
        net.structure_changed();
    }
    return kOk;
}

int set_load(Network& net, int bus, std::string_view id, EditMode mode, const Apply<Load>& apply) {
    return set_bus_element(
        net, net.loads, bus, id, mode, apply, find_load,
        [](Load& l, const Bus& b) {
            l.area = b.area;
            l.zone = b.zone;
            l.owner = b.owner;
        },
        [](const Network& n, Load& l) {
            for (double* power :
                 {&l.pl_mw, &l.ql_mvar, &l.ip_mw, &l.iq_mvar, &l.yp_mw, &l.yq_mvar, &l.dgenp_mw, &l.dgenq_mvar})
                *power = round_to_15_digits(*power);
            int r = check_load(n, l);
            if (!r) l.name = *normalize_name(l.name, kMaxNameLength);
            return r;
        });
}

int set_fixed_shunt(Network& net, int bus, std::string_view id, EditMode mode, const Apply<FixedShunt>& apply) {
    return set_bus_element(
        net, net.fixed_shunts, bus, id, mode, apply, find_fixed_shunt, [](FixedShunt&, const Bus&) {},
        [](const Network& n, FixedShunt& s) {
            s.gl_mw = round_to_15_digits(s.gl_mw);
            s.bl_mvar = round_to_15_digits(s.bl_mvar);
            return check_fixed_shunt(n, s);
        });
}

int set_plant(Network& net, int bus, EditMode mode, const Apply<Plant>& apply) {
    if (!valid_bus_number(bus)) return kInvalidBusNumber;
    if (!net.bus(bus)) return kBusNotFound;
    auto index = find_plant(net, bus);
    if (!index && mode == EditMode::kChangeOnly) return kElementNotFound;
    Plant plant = index ? net.plants[*index] : Plant{};
    apply(plant);
    plant.bus = bus;
    if (int r = check_plant(net, plant)) return r;
    store(net.plants, index, std::move(plant));
    net.structure_changed();
    return kOk;
}

int set_machine(Network& net, int bus, std::string_view id, EditMode mode, const Apply<Machine>& apply) {
    return set_bus_element(
        net, net.machines, bus, id, mode, apply, find_machine,
        [&net](Machine& m, const Bus& b) {
            m.owners = default_owners(b.owner);
            m.mbase_mva = net.system.sbase_mva;
        },
        [](const Network& n, Machine& m) {
            for (double* power : {&m.pg_mw, &m.qg_mvar, &m.qt_mvar, &m.qb_mvar, &m.pt_mw, &m.pb_mw})
                *power = round_to_15_digits(*power);
            int r = check_machine(n, m);
            if (!r) m.name = *normalize_name(m.name, kMaxNameLength);
            return r;
        });
}

int set_branch(Network& net, int from, int to, std::string_view ckt, EditMode mode, const Apply<Branch>& apply) {
    if (!valid_bus_number(from) || !valid_bus_number(to)) return kInvalidBusNumber;
    if (!net.bus(from) || !net.bus(to)) return kBusNotFound;
    if (from == to) return kInvalidBusNumber;
    auto key = normalize_identifier(ckt);
    if (!key) return kInvalidIdentifier;
    // A line and a two-winding transformer between the same buses share one circuit space.
    if (find_transformer(net, from, to, 0, *key)) return kDuplicate;
    bool reversed = false;
    auto index = find_branch(net, from, to, *key, &reversed);
    if (!index && mode == EditMode::kChangeOnly) return kElementNotFound;
    Branch branch;
    if (index) {
        branch = net.branches[*index];
        if (reversed) reverse(branch);
    } else {
        branch.from_bus = from;
        branch.to_bus = to;
        branch.metbus = from;
        branch.owners = default_owners(net.bus(from)->owner);
    }
    apply(branch);
    branch.from_bus = from;
    branch.to_bus = to;
    branch.ckt = *key;
    if (int r = check_branch(net, branch)) return r;
    branch.name = *normalize_name(branch.name, kMaxNameLength);
    if (reversed) reverse(branch);
    store(net.branches, index, std::move(branch));
    net.structure_changed();
    return kOk;
}

int set_two_winding(Network& net, int i, int j, std::string_view ckt, EditMode mode, const Apply<Transformer>& apply) {
    if (!valid_bus_number(i) || !valid_bus_number(j)) return kInvalidBusNumber;
    if (!net.bus(i) || !net.bus(j)) return kBusNotFound;
    if (i == j) return kInvalidBusNumber;
    auto key = normalize_identifier(ckt);
    if (!key) return kInvalidIdentifier;
    if (find_branch(net, i, j, *key)) return kDuplicate;
    bool exact = true;
    auto index = find_transformer(net, i, j, 0, *key, &exact);
    // A transformer's windings are not interchangeable: the reverse orientation is another
    // element, which may not share the key.
    if (index && !exact) return kDuplicate;
    if (!index && mode == EditMode::kChangeOnly) return kElementNotFound;
    Transformer t;
    if (index) {
        t = net.transformers[*index];
    } else {
        t.buses = {i, j, 0};
        t.metbus = i;
        t.owners = default_owners(net.bus(i)->owner);
        t.sbase12_mva = net.system.sbase_mva;
    }
    apply(t);
    t.buses = {i, j, 0};
    t.ckt = *key;
    t.star_bus = 0;
    if (int r = check_transformer(net, t)) return r;
    t.name = *normalize_name(t.name, kMaxNameLength);
    t.vecgrp = *normalize_name(t.vecgrp, kMaxVectorGroupLength);
    store(net.transformers, index, std::move(t));
    net.structure_changed();
    return kOk;
}

int set_three_winding(Network& net, int i, int j, int k, std::string_view ckt, EditMode mode,
                      const Apply<Transformer>& apply, std::size_t bus_limit) {
    if (!valid_bus_number(i) || !valid_bus_number(j) || !valid_bus_number(k)) return kInvalidBusNumber;
    if (!net.bus(i) || !net.bus(j) || !net.bus(k)) return kBusNotFound;
    if (i == j || j == k || i == k) return kInvalidBusNumber;
    auto key = normalize_identifier(ckt);
    if (!key) return kInvalidIdentifier;
    bool exact = true;
    auto index = find_transformer(net, i, j, k, *key, &exact);
    if (index && !exact) return kDuplicate;
    if (!index && mode == EditMode::kChangeOnly) return kElementNotFound;
    if (!index && net.buses.size() >= bus_limit) return kBusLimit;
    Transformer t;
    if (index) {
        t = net.transformers[*index];
    } else {
        t.buses = {i, j, k};
        t.metbus = j;
        t.owners = default_owners(net.bus(i)->owner);
        t.sbase12_mva = t.sbase23_mva = t.sbase31_mva = net.system.sbase_mva;
    }
    const int star = index ? t.star_bus : next_star_point_number(net);
    const Bus* star_bus = index ? net.bus(star) : nullptr;
    apply(t);
    t.buses = {i, j, k};
    t.ckt = *key;
    t.star_bus = star;
    if (int r = check_transformer(net, t)) return r;
    t.name = *normalize_name(t.name, kMaxNameLength);
    t.vecgrp = *normalize_name(t.vecgrp, kMaxVectorGroupLength);
    if (!star_bus) add_star_point(net, t, star, 1.0, 0.0);
    store(net.transformers, index, std::move(t));
    sync_star_point(net, net.transformers[index ? *index : net.transformers.size() - 1]);
    net.structure_changed();
    return kOk;
}

int set_three_winding_winding(Network& net, int i, int j, int k, std::string_view ckt, int winding,
                              const Apply<Winding>& apply) {
    if (!valid_bus_number(i) || !valid_bus_number(j) || !valid_bus_number(k)) return kInvalidBusNumber;
    if (!net.bus(i) || !net.bus(j) || !net.bus(k)) return kBusNotFound;
    if (!in_range(winding, 1, 3)) return kInvalidWinding;
    auto key = normalize_identifier(ckt);
    if (!key) return kInvalidIdentifier;
    bool exact = true;
    auto index = find_transformer(net, i, j, k, *key, &exact);
    if (!index) return kElementNotFound;
    if (!exact) return kDuplicate;
    Transformer t = net.transformers[*index];
    apply(t.windings[winding - 1]);
    if (int r = check_transformer(net, t)) return r;
    net.transformers[*index] = std::move(t);
    net.structure_changed();
    return kOk;
}

int set_switched_shunt(Network& net, int bus, std::string_view id, EditMode mode, const Apply<SwitchedShunt>& apply) {
    return set_bus_element(
        net, net.switched_shunts, bus, id, mode, apply, find_switched_shunt, [](SwitchedShunt&, const Bus&) {},
        [](const Network& n, SwitchedShunt& s) {
            for (auto& block : s.blocks) block.b_mvar = round_to_15_digits(block.b_mvar);
            int r = check_switched_shunt(n, s);
            if (!r) {
                s.name = *normalize_name(s.name, kMaxNameLength);
                s.rmidnt = *normalize_name(s.rmidnt, kMaxNameLength);
            }
            return r;
        });
}

int set_induction_machine(Network& net, int bus, std::string_view id, EditMode mode,
                          const Apply<InductionMachine>& apply) {
    return set_bus_element(
        net, net.induction_machines, bus, id, mode, apply, find_induction_machine,
        [&net](InductionMachine& m, const Bus& b) {
            m.area = b.area;
            m.zone = b.zone;
            m.owner = b.owner;
            m.mbase_mva = net.system.sbase_mva;
        },
        [](const Network& n, InductionMachine& m) {
            int r = check_induction_machine(n, m);
            if (!r) m.name = *normalize_name(m.name, kMaxNameLength);
            return r;
        });
}

}  // namespace gridfold::pf
