// Switched shunt: blocks of admittance steps, adjusted to hold a voltage band.
#pragma once

#include <array>
#include <string>

#include "core/model/elements/common.hpp"
#include "core/model/elements/solution_hooks_fwd.hpp"

namespace gridfold::pf {

inline constexpr int kShuntBlockCount = 8;

// Switched shunt with up to eight blocks of admittance steps.
struct ShuntBlock {
    int n = 0;                  // number of steps
    int s = 1;                  // block status, 1 in service
    double b_mvar = 0.0;        // admittance per step, Mvar at 1 pu (> 0 capacitive)
};

struct SwitchedShunt {
    int bus = 0;
    std::string id = "1";
    int modsw = 1;              // control mode: 0 locked, 1 discrete, 2 continuous, 3-6 remote
    int adjm = 0;               // adjustment: 0 input order, 1 by admittance
    int stat = 1;
    double vswhi = 1.0;         // controlled band: pu voltage, or Mvar/percent by modsw
    double vswlo = 1.0;
    int swreg = 0;              // regulated bus, 0 = own bus
    int nreg = 0;               // node of the regulated bus (kept, not used)
    double rmpct = 100.0;
    std::string rmidnt;         // regulating device name (modsw 4), kept for the file
    double binit_mvar = 0.0;    // present admittance, Mvar at 1 pu
    std::array<ShuntBlock, kShuntBlockCount> blocks{};
    std::string name;           // up to 40 characters
};

int check_switched_shunt(const Network& net, const SwitchedShunt& shunt);

// Part in the AC solution (the same three hooks as every kind the solution reads; see
// solution_hooks.hpp): the buses it joins, its admittance stamps, its injections.
inline void join_buses(const SwitchedShunt&, BusLinks&) {}
// The present admittance BINIT at its bus.
void stamp_admittances(const SwitchedShunt& shunt, const SolutionContext& at, AdmittanceStamps& stamps);
inline void add_injections(const SwitchedShunt&, const SolutionContext&, BusInjections&) {}
// The adjustment of a shunt in a voltage-control mode (MODSW 1 and 2) with steps to take;
// false for any other shunt.
bool shunt_control(const SwitchedShunt& shunt, const SolutionContext& at, ShuntControl& control);

}  // namespace gridfold::pf
