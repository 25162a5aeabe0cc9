// Fixed shunt: an admittance at a bus.
#pragma once

#include <string>

#include "core/model/elements/common.hpp"
#include "core/model/elements/solution_hooks_fwd.hpp"

namespace gridfold::pf {

// Fixed shunt; admittance given as MW/Mvar drawn at 1 pu voltage (bl_mvar > 0 = capacitive,
// i.e. reactive power injected).
struct FixedShunt {
    int bus = 0;
    std::string id = "1";
    int status = 1;
    double gl_mw = 0.0;
    double bl_mvar = 0.0;
};

int check_fixed_shunt(const Network& net, const FixedShunt& shunt);

// Part in the AC solution (the same three hooks as every kind the solution reads; see
// solution_hooks.hpp): the buses it joins, its admittance stamps, its injections.
inline void join_buses(const FixedShunt&, BusLinks&) {}
void stamp_admittances(const FixedShunt& shunt, const SolutionContext& at, AdmittanceStamps& stamps);
inline void add_injections(const FixedShunt&, const SolutionContext&, BusInjections&) {}

}  // namespace gridfold::pf
