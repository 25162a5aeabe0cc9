// Physical ranges of the values an element may hold.
//
// Every band lies far outside what real equipment and real cases show, and far inside what
// the solver's arithmetic can carry: a transformer ratio of 1e-300 passes "positive" but
// squares to zero, so that the admittance divided by it is infinite. Values outside a band
// are refused when the element is entered (code 7), from a data call or from a file, so
// that no case the engine holds can turn a solution into non-finite numbers. The bands
// depend on no other element: what was accepted once is accepted again on reading the
// saved case back, whatever was changed in between. powerflow/README.md lists them.
#pragma once

#include <cmath>

namespace gridfold::pf {

// Off-nominal winding ratios in per unit (CW 1 and 3 WINDV, machine GTAP).
inline constexpr double kMinRatioPu = 0.1;
inline constexpr double kMaxRatioPu = 10.0;
// Voltages in kV: bus base voltage, winding NOMV and CW 2 WINDV, induction machine RATEKV.
// 0 stands for "not given" where the element allows it.
inline constexpr double kMinVoltageKv = 0.001;
inline constexpr double kMaxVoltageKv = 2000.0;
// Power bases in MVA: system SBASE, transformer SBASE, machine MBASE.
inline constexpr double kMinBaseMva = 0.001;
inline constexpr double kMaxBaseMva = 1.0e6;
// Series resistance or reactance, per unit on the system base (after any CZ conversion).
inline constexpr double kMaxImpedancePu = 1.0e6;
// Shunt admittance parts (line charging, line shunts, magnetising G and B with CM 1) and the
// exciting current of CM 2, per unit.
inline constexpr double kMaxAdmittancePu = 1.0e6;
// No-load loss of CM 2, W.
inline constexpr double kMaxNoLoadLossW = 1.0e12;
// Smallest magnetising reactance of an induction machine (0 = none), per unit on MBASE.
inline constexpr double kMinMagnetisingReactancePu = 1.0e-6;
// Powers entered for loads, shunts, switched shunt steps and induction machines, MW or Mvar.
// Machine outputs are not bounded: a solution writes them.
inline constexpr double kMaxEnteredPowerMw = 1.0e8;
// Scheduled voltage of a plant, per unit.
inline constexpr double kMinScheduledVoltagePu = 0.1;
inline constexpr double kMaxScheduledVoltagePu = 10.0;
// Phase shift of a winding, degrees.
inline constexpr double kMaxPhaseShiftDeg = 360.0;

inline bool within(double value, double low, double high) { return value >= low && value <= high; }
inline bool magnitude_within(double value, double limit) { return std::fabs(value) <= limit; }
// 0 (not given) or inside [low, high].
inline bool zero_or_within(double value, double low, double high) { return value == 0.0 || within(value, low, high); }

}  // namespace gridfold::pf
