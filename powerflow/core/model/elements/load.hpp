// Load: constant power, current and admittance parts, and distributed generation.
#pragma once

#include <string>

#include "core/model/elements/common.hpp"
#include "core/model/elements/solution_hooks_fwd.hpp"

namespace gridfold::pf {

// Load; powers in MW/Mvar drawn at 1 pu voltage (current and admittance parts scale with
// V and V^2 in the solution).
struct Load {
    int bus = 0;
    std::string id = "1";       // up to 2 characters
    int status = 1;             // 1 in service, 0 out
    int area = 1;
    int zone = 1;
    int owner = 1;
    int scale = 1;              // 1 = scalable, 0 = fixed
    int intrpt = 0;             // 1 = interruptible
    int dgenm = 0;              // distributed generation mode: 0 off, 1 on
    double pl_mw = 0.0;         // constant power
    double ql_mvar = 0.0;
    double ip_mw = 0.0;         // constant current, at 1 pu
    double iq_mvar = 0.0;
    double yp_mw = 0.0;         // constant admittance, at 1 pu
    double yq_mvar = 0.0;       // negative = inductive (a draw of reactive power), as in case files
    std::string loadtype;       // load type label, up to 12 characters (kept for the file)
    double dgenp_mw = 0.0;      // distributed generation, subtracted from the load when dgenm = 1
    double dgenq_mvar = 0.0;
    std::string name;           // up to 40 characters
};

int check_load(const Network& net, const Load& load);

// Part in the AC solution (the same three hooks as every kind the solution reads; see
// solution_hooks.hpp): the buses it joins, its admittance stamps, its injections.
inline void join_buses(const Load&, BusLinks&) {}
// Constant admittance part (YP, YQ) at its bus.
void stamp_admittances(const Load& load, const SolutionContext& at, AdmittanceStamps& stamps);
// Constant power (less distributed generation when DGENM = 1) and constant current parts.
void add_injections(const Load& load, const SolutionContext& at, BusInjections& injections);

}  // namespace gridfold::pf
