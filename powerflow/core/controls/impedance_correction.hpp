// Impedance correction tables: a transformer's impedance scaled by a factor that depends on
// the present ratio or phase angle of the winding that names the table (TAB).
//
// A table holds points (T, F) with T a ratio or an angle and F a complex factor (files that
// hold real factors give F with no imaginary part). The factor at a setting is interpolated
// linearly between the two neighbouring points and held at the end point's value beyond the
// table's range. The corrected impedance is the nominal impedance times F.
//
// What T stands for follows the winding's control mode: the phase angle in degrees for
// active-flow windings (COD +-3 and +-5), else the ratio in per unit of the winding's nominal
// voltage (WINDV for CW 1 and 3; WINDV divided by NOMV, or the bus base when NOMV is 0, for
// CW 2).
//
// Which impedance a factor scales: a two-winding transformer's impedance by winding 1's
// table; for a three-winding transformer, each winding's factor scales its own share of the
// star equivalent (ZCOD 0), or the bus-to-bus impedance that starts at it, Z1-2, Z2-3, Z3-1
// (ZCOD 1), before the star equivalent is formed.
#pragma once

#include "core/model/network.hpp"

#include <array>
#include <complex>

namespace gridfold::pf {

// The table numbered `number`, or nullptr when the case holds none (number 0 names none).
const ImpedanceCorrection* correction_table(const Network& network, int number);

// Factor of `table` at setting t (1 for an empty table).
std::complex<double> correction_factor(const ImpedanceCorrection& table, double t);

// What winding w's table is read against at ratio `windv` (in WINDV units) and angle `ang_deg`.
double correction_setting(const Network& network, const Transformer& transformer, int w, double windv, double ang_deg);

// Factor of winding w at its present settings: 1 without a table.
std::complex<double> winding_correction(const Network& network, const Transformer& transformer, int w);

}  // namespace gridfold::pf
