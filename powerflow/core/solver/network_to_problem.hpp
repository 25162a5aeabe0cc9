// The one step that derives solver data from the network model.
//
// What is dropped: out-of-service elements, isolated buses (type 4), buses of islands
// that have no swing bus and no machine able to take that role, star points of
// out-of-service three-winding transformers. What is built: the admittance matrix in
// per unit on the system base, the constant-power, constant-current and
// constant-admittance injections, the swing buses, the machine voltage controls and
// the switched shunts that may be adjusted. The mappings kept here let the solution
// be written back to the buses, machines and switched shunts it came from.
#pragma once

#include "core/controls/facts_devices.hpp"
#include "core/model/network.hpp"
#include "core/solver/ac_problem.hpp"

#include <utility>
#include <vector>

namespace gridfold::pf {

// A voltage control of the problem held by a VSC converter: converter `converter` (0 or 1) of
// Network::vsc_dc_lines[line] holds problem.controls[control] (-1: the converter's bus was
// already held, it holds no voltage).
struct ConverterControl {
    int line = -1;
    int converter = -1;
    int control = -1;
};

struct DerivedProblem {
    AcProblem problem;
    std::vector<int> network_bus;   // problem index -> index into Network::buses
    std::vector<int> problem_bus;   // index into Network::buses -> problem index, -1 when not solved
    int islands_solved = 0;
    int islands_without_swing = 0;
    std::vector<int> buses_without_swing;  // bus numbers of the islands left unsolved
    // Machines (indices into Network::machines) sharing the output of each swing bus
    // and of each voltage control; same order as the swing list and problem.controls.
    std::vector<int> swing_buses;                      // problem indices
    std::vector<std::vector<int>> swing_machines;
    std::vector<double> swing_scheduled_p_pu;         // active power of those machines when derived
    std::vector<std::vector<int>> control_machines;
    std::vector<int> shunt_of_control;                 // index into Network::switched_shunts
    std::vector<MergedStar> merged_stars;
    // Voltage controls held by dc converters; control_machines is empty for them.
    std::vector<ConverterControl> converter_controls;
    std::vector<ConverterControl> converters_not_holding;
    std::vector<StarStart> star_starts;
    FactsProblem facts;  // FACTS shunt elements (among the controls) and set flows
    // Each bus's angle (degrees) when its voltages were last taken (refresh_voltages) and
    // its unit phasor.
    std::vector<double> unit_angle_deg;
    std::vector<Complex> unit_of_angle;
};

// Builds the solver data of the network's present state. adjust_shunts selects whether
// switched shunts in voltage-control modes are listed for adjustment.
DerivedProblem build_ac_problem(const Network& network, bool adjust_shunts);

// Takes the bus voltages of the network again into derived solver data whose network has
// changed in nothing else (the starting voltages of a later solution).
void refresh_voltages(DerivedProblem& derived, const Network& network);

// Hash of the bus data the derivation reads besides voltages (type, base voltage, star
// point) and of the swing-bus angles; with the structure revision it tells when derived
// data can be reused.
std::uint64_t bus_fingerprint(const Network& network);

}  // namespace gridfold::pf
