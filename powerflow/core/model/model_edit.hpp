// Adding, changing and finding the elements of a network.
//
// Every set_* call works the same way: it checks the key (bus numbers, identifier), finds
// the element or, in kCreateOrChange mode, makes a new one with its defaults, lets `apply`
// change a copy, checks the copy as a whole and only then stores it. A call that fails
// returns an ErrorCode and leaves the network exactly as it was. This is what lets a data
// call change only the values it was given.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "core/model/network.hpp"

namespace gridfold::pf {

enum class EditMode {
    kCreateOrChange,  // data calls: add the element, or change it when it exists
    kChangeOnly,      // change calls: the element must exist
};

template <class T>
using Apply = std::function<void(T&)>;

// Finding elements; identifiers are compared after normalisation.
std::optional<std::size_t> find_load(const Network& net, int bus, std::string_view id);
std::optional<std::size_t> find_fixed_shunt(const Network& net, int bus, std::string_view id);
std::optional<std::size_t> find_plant(const Network& net, int bus);
std::optional<std::size_t> find_machine(const Network& net, int bus, std::string_view id);
std::optional<std::size_t> find_switched_shunt(const Network& net, int bus, std::string_view id);
std::optional<std::size_t> find_induction_machine(const Network& net, int bus, std::string_view id);
// Lines match in either orientation; *reversed tells which one matched.
std::optional<std::size_t> find_branch(const Network& net, int from, int to, std::string_view ckt,
                                       bool* reversed = nullptr);
// Two-winding transformers match in either orientation, three-winding ones in any order of
// their buses (k == 0 for two windings); *exact_order tells whether the order matched.
std::optional<std::size_t> find_transformer(const Network& net, int i, int j, int k, std::string_view ckt,
                                            bool* exact_order = nullptr);

// bus_limit: the largest number of buses (star points included) the case may hold.
int set_bus(Network& net, int number, EditMode mode, const Apply<Bus>& apply, std::size_t bus_limit);
int set_load(Network& net, int bus, std::string_view id, EditMode mode, const Apply<Load>& apply);
int set_fixed_shunt(Network& net, int bus, std::string_view id, EditMode mode, const Apply<FixedShunt>& apply);
int set_plant(Network& net, int bus, EditMode mode, const Apply<Plant>& apply);
int set_machine(Network& net, int bus, std::string_view id, EditMode mode, const Apply<Machine>& apply);
// A line given in the stored element's reverse orientation is changed as seen from `from`.
int set_branch(Network& net, int from, int to, std::string_view ckt, EditMode mode, const Apply<Branch>& apply);
int set_two_winding(Network& net, int i, int j, std::string_view ckt, EditMode mode,
                    const Apply<Transformer>& apply);
// Three-winding transformer data other than the per-winding data; a new one gets its star
// point bus (numbered from kFirstStarPointBus up).
int set_three_winding(Network& net, int i, int j, int k, std::string_view ckt, EditMode mode,
                      const Apply<Transformer>& apply, std::size_t bus_limit);
// Data of winding 1, 2 or 3 of an existing three-winding transformer.
int set_three_winding_winding(Network& net, int i, int j, int k, std::string_view ckt, int winding,
                              const Apply<Winding>& apply);
int set_switched_shunt(Network& net, int bus, std::string_view id, EditMode mode,
                       const Apply<SwitchedShunt>& apply);
int set_induction_machine(Network& net, int bus, std::string_view id, EditMode mode,
                          const Apply<InductionMachine>& apply);

// Lowest free star point number (>= kFirstStarPointBus).
int next_star_point_number(const Network& net);

// Adds the star point bus `number` of a new three-winding transformer, at voltage vm_pu and
// angle va_deg, with the area, zone and owner of winding 1's bus; sets t.star_bus.
void add_star_point(Network& net, Transformer& t, int number, double vm_pu, double va_deg);

// Keeps the star point of a three-winding transformer isolated exactly when the
// transformer is out of service.
void sync_star_point(Network& net, const Transformer& transformer);

// The checks of a complete element against the network it is to be stored in are declared
// with each kind (core/model/elements/<kind>.hpp).

}  // namespace gridfold::pf
