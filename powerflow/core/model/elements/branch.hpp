// Line (non-transformer) branch, and system switching devices held as lines.
#pragma once

#include <string>

#include "core/model/elements/common.hpp"
#include "core/model/elements/solution_hooks_fwd.hpp"

namespace gridfold::pf {

// Line (non-transformer) branch.
struct Branch {
    int from_bus = 0;
    int to_bus = 0;
    std::string ckt = "1";      // up to 2 characters
    int status = 1;
    int metbus = 0;             // metered end: from_bus or to_bus
    Owners owners{};
    double r_pu = 0.0;          // series impedance, per unit on the system base
    double x_pu = 0.0001;
    double b_pu = 0.0;          // total line charging, per unit
    double gi_pu = 0.0;         // line shunt at the from end, per unit
    double bi_pu = 0.0;
    double gj_pu = 0.0;         // line shunt at the to end, per unit
    double bj_pu = 0.0;
    double length = 0.0;        // in the user's length unit
    Ratings ratings{};
    std::string name;           // up to 40 characters
    // A system switching device (breaker, disconnector) is held as a line of its reactance,
    // without resistance or charging, so that the solution sees the connection it makes.
    int stype = 0;              // 0 a line; switching device type: 1 generic, 2 breaker, 3 disconnector
    int nstat = 1;              // normal service status of a switching device
    bool switching_device() const { return stype != 0; }
};

int check_branch(const Network& net, const Branch& branch);

// Part in the AC solution (the same three hooks as every kind the solution reads; see
// solution_hooks.hpp): the buses it joins, its admittance stamps, its injections.
// Joins its two buses while in service.
void join_buses(const Branch& branch, BusLinks& links);
// Pi model: series admittance, charging split between the ends, the line shunts at each end.
void stamp_admittances(const Branch& branch, const SolutionContext& at, AdmittanceStamps& stamps);
inline void add_injections(const Branch&, const SolutionContext&, BusInjections&) {}

// The line seen from its other end: buses and end shunts swapped.
void reverse(Branch& branch);

}  // namespace gridfold::pf
