// Induction machine: scheduled active power and its magnetising branch.
#pragma once

#include <string>

#include "core/model/elements/common.hpp"
#include "core/model/elements/solution_hooks_fwd.hpp"

namespace gridfold::pf {

struct InductionMachine {
    int bus = 0;
    std::string id = "1";
    int status = 1;
    int scode = 1;              // 1 motor, 2 generator
    int dcode = 2;              // 1 single cage, 2 double cage
    int area = 1;
    int zone = 1;
    int owner = 1;
    int tcode = 1;              // 1 simple torque, 2 WECC torque
    int bcode = 1;              // 1 base is MVA, 2 base is MW
    int pcode = 1;              // 1 pset is mechanical power, 2 electrical power
    double mbase_mva = 100.0;
    double ratekv = 0.0;        // rated voltage, kV (0 = bus base)
    double pset_mw = 0.0;       // scheduled power, MW
    double h = 1.0;             // inertia, s
    double a = 1.0;             // torque-speed coefficients
    double b = 1.0;
    double d = 1.0;
    double e = 1.0;
    double ra = 0.0;            // armature resistance, pu on mbase
    double xa = 0.0;            // armature leakage reactance
    double xm = 2.5;            // magnetising reactance
    double r1 = 999.0;          // first cage; 999 = not present
    double x1 = 999.0;
    double r2 = 999.0;          // second cage; 999 = not present
    double x2 = 999.0;
    double x3 = 0.0;            // third reactance
    double e1 = 1.0;            // saturation curve points (pu voltage, factor)
    double se1 = 0.0;
    double e2 = 1.2;
    double se2 = 0.0;
    double ia1 = 0.0;           // stator currents of the saturation curve
    double ia2 = 0.0;
    double xamult = 1.0;        // multiplier of xa on saturation
    std::string name;           // up to 40 characters
};

int check_induction_machine(const Network& net, const InductionMachine& machine);

// Part in the AC solution (the same three hooks as every kind the solution reads; see
// solution_hooks.hpp): the buses it joins, its admittance stamps, its injections.
inline void join_buses(const InductionMachine&, BusLinks&) {}
// The magnetising branch as a shunt reactance XM on MBASE.
void stamp_admittances(const InductionMachine& machine, const SolutionContext& at, AdmittanceStamps& stamps);
// Scheduled active power at constant power: drawn by a motor (SCODE 1), injected by a generator.
void add_injections(const InductionMachine& machine, const SolutionContext& at, BusInjections& injections);

}  // namespace gridfold::pf
