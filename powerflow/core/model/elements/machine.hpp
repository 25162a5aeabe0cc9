// Machine and plant: the machines of a bus share the plant's voltage control.
//
// A machine's part in the solution depends on the role its bus takes (swing bus, held
// voltage, fixed output), which the problem builder decides for all machines of a bus
// together; the rules for one machine are here.
#pragma once

#include <string>

#include "core/model/elements/common.hpp"
#include "core/model/elements/solution_hooks_fwd.hpp"

namespace gridfold::pf {

// Plant: the voltage control shared by the machines of one bus.
struct Plant {
    int bus = 0;
    int ireg = 0;               // regulated bus, 0 = the plant's own bus
    int nreg = 0;               // node of the regulated bus (kept, not used)
    double vs_pu = 1.0;         // scheduled voltage at the regulated bus, per unit
    double rmpct = 100.0;       // percent of the reactive power regulating ireg contributed here
};

struct Machine {
    int bus = 0;
    std::string id = "1";
    int status = 1;
    Owners owners{};            // owner 1 defaults to the bus owner
    int wmod = 0;               // 0 conventional; 1-3 renewable reactive control; 4 fixed PF
    int baslod = 0;             // 0 normal, 1 down only, 2 neither, 3 up only
    double pg_mw = 0.0;
    double qg_mvar = 0.0;
    double qt_mvar = 9999.0;    // reactive limits
    double qb_mvar = -9999.0;
    double pt_mw = 9999.0;      // active limits
    double pb_mw = -9999.0;
    double mbase_mva = 100.0;   // machine base
    double zr_pu = 0.0;         // source impedance ZSORCE, per unit on mbase
    double zx_pu = 1.0;
    double rt_pu = 0.0;         // step-up transformer impedance XTRAN, per unit on mbase
    double xt_pu = 0.0;
    double gtap_pu = 1.0;       // step-up transformer ratio
    double wpf = 1.0;           // power factor used by wmod 2 and 3
    std::string name;           // up to 40 characters
};

int check_plant(const Network& net, const Plant& plant);
int check_machine(const Network& net, const Machine& machine);

// Whether the machine takes part in a voltage control (WMOD 3 and 4 hold a fixed output).
bool machine_regulates(const Machine& machine);

// Reactive output (Mvar) of a machine that holds no voltage: QG, or for WMOD 3 the output
// its power factor WPF gives at PG.
double fixed_reactive_output(const Machine& machine);

// Reactive limits (Mvar) of a regulating machine: QT and QB, or for WMOD 2 the band its
// power factor gives at PG.
struct ReactiveLimits {
    double max_mvar;
    double min_mvar;
};
ReactiveLimits reactive_limits(const Machine& machine);

}  // namespace gridfold::pf
