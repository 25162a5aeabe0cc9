// FACTS device: a shunt element at its sending end and a series element to its terminal bus.
// The shunt element's voltage control and the set flows are adjusted between iterations
// (core/controls/facts_devices.hpp); a bypassed or constant-impedance series element is an
// admittance of the network, here.
#pragma once

#include <string>

#include "core/model/elements/common.hpp"
#include "core/model/elements/solution_hooks_fwd.hpp"

namespace gridfold::pf {

struct FactsDevice {
    std::string name;           // up to 12 characters, the device's key
    int from_bus = 0;           // sending-end bus
    int to_bus = 0;             // terminal bus of the series element, 0 = shunt only
    int mode = 1;               // 0 out of service, 1 normal, 2 bypassed series, ...8
    double pdes_mw = 0.0;       // desired active power at the sending end, MW
    double qdes_mvar = 0.0;     // desired reactive power at the sending end, Mvar
    double vset_pu = 1.0;       // voltage setpoint at the sending end, pu
    double shmx_mva = 9999.0;   // shunt element rating at 1 pu, MVA
    double trmx_mw = 9999.0;    // bridge active power limit, MW
    double vtmn_pu = 0.9;       // terminal voltage limits, pu
    double vtmx_pu = 1.1;
    double vsmx_pu = 1.0;       // series voltage limit, pu
    double imx_mva = 0.0;       // series current rating, MVA at 1 pu (0 = none)
    double linx_pu = 0.05;      // series reactance when bypassed, pu
    double rmpct = 100.0;
    int owner = 1;
    double set1 = 0.0;          // mode 4 to 8 setpoints (pu or ohms by mode)
    double set2 = 0.0;
    int vsref = 0;              // series voltage reference: 0 modulation, 1 vector
    int fcreg = 0;              // regulated bus, 0 = sending end
    int nreg = 0;               // node of that bus (kept, not used)
    std::string mname;          // IPFC master device name
};

// Buses of the case (the terminal bus and FCREG may be 0), the two ends different, codes in
// range, a mode the solution models (check_facts_mode), values finite with VTMN <= VTMX, a
// master name that fits.
int check_facts_device(const Network& net, const FactsDevice& device);

// kOk when the solution models the device's mode, else the error code of a code out of range.
int check_facts_mode(const FactsDevice& device);

// Admittance of the series element of an in-service device in mode 2 or 3 (per unit on the
// system base); false for every other device.
bool facts_series_admittance(const FactsDevice& device, Complex* y);

// Part in the AC solution (the same three hooks as every kind the solution reads; see
// solution_hooks.hpp): the buses it joins, its admittance stamps, its injections.
// Joins its two buses while its series element is an admittance.
void join_buses(const FactsDevice& device, BusLinks& links);
// The series element in mode 2 or 3 as an admittance between its buses.
void stamp_admittances(const FactsDevice& device, const SolutionContext& at, AdmittanceStamps& stamps);
inline void add_injections(const FactsDevice&, const SolutionContext&, BusInjections&) {}

}  // namespace gridfold::pf
