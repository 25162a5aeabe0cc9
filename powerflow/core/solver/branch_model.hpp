// Two-port models of lines and transformer windings, in per unit on the system base: the
// impedance conversions are shared by the admittance matrix of the solution
// (network_to_problem.cpp) and the flows the engine reports per branch. The flow tests check
// every bus balance against the solution.
#pragma once

#include <array>
#include <complex>

#include "core/model/network.hpp"

namespace gridfold::pf {

using Complex = std::complex<double>;

// Series impedances smaller than this (pu) are raised to the jumper reactance, so that a
// jumper entered with zero impedance stays a strong finite coupling instead of an
// infinite admittance.
inline constexpr double kSmallestImpedance = 1e-6;
inline constexpr double kJumperReactance = 1e-4;

// Admittance entries of a two-port between ends f and t: I_f = yff V_f + yft V_t,
// I_t = ytf V_f + ytt V_t.
struct TwoPort {
    Complex yff, yft, ytf, ytt;
};

Complex series_admittance(double r, double x);

// Series admittance of a transformer impedance given under its CZ code; a pair that
// describes no impedance (zero) becomes a jumper.
Complex transformer_admittance(double r, double x, int cz, double sbase_w, double sbase);

// Magnetising admittance at the winding 1 bus. CM 2 gives the no-load loss in W and the
// exciting current in per unit on the winding 1-2 base; the susceptance is inductive.
Complex magnetising_on_system_base(const Transformer& t, double sbase);

// Line: pi model with the charging split between the ends, plus the line shunts.
TwoPort line_two_port(const Branch& br);

// Transformer winding between the winding side (complex ratio with phase shift) and the
// other side (real ratio), series admittance y, magnetising admittance at the winding side.
// Ideal ratios on each side of the series impedance.
TwoPort transformer_two_port(Complex tap_from, double tap_to, Complex y, Complex ymag);

// Two-winding transformer from winding 1 to winding 2.
TwoPort two_winding_two_port(const Network& net, const Transformer& t, double sbase);

// Series admittance of a two-winding transformer, its impedance corrected by winding 1's
// impedance correction table at the present settings.
Complex two_winding_admittance(const Network& net, const Transformer& t, double sbase);

// Impedances of the star equivalent of a three-winding transformer, one per winding, with the
// windings' impedance corrections at their present settings.
std::array<Complex, 3> star_impedances(const Network& net, const Transformer& t, double sbase);

// Winding w of a three-winding transformer, from its bus to the star point.
TwoPort winding_two_port(const Network& net, const Transformer& t, int w, const Complex& z_star, double sbase);

}  // namespace gridfold::pf
