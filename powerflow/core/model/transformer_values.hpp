// Values derived from transformer data the way its codes (CW, CZ) describe it.
#pragma once

#include <complex>
#include <optional>

#include "core/model/network.hpp"

namespace gridfold::pf {

// Series impedance in per unit on the system base from a value pair given under code cz:
//   cz 1: r, x per unit on the system base;
//   cz 2: r, x per unit on the winding base sbase_mva;
//   cz 3: r = load loss in W, x = |Z| per unit on the winding base.
// Under cz 2 and 3 the winding base voltage is nomv_kv: when it differs from the bus base
// bus_kv the impedance scales by (nomv_kv / bus_kv)^2 (0 for either means no scaling).
// nullopt when the data cannot describe an impedance (|Z| below R, zero impedance).
std::optional<std::complex<double>> impedance_on_system_base(double r, double x, double sbase_mva, int cz,
                                                             double system_sbase_mva, double nomv_kv = 0.0,
                                                             double bus_kv = 0.0);

// Off-nominal ratio of winding w (0-based) in per unit of its bus base voltage, by code cw:
//   cw 1: windv in per unit of the bus base; cw 2: windv in kV; cw 3: windv in per unit of nomv.
// A bus without base voltage counts as base 1 kV for cw 2 and as the nominal voltage for cw 3.
double winding_ratio_pu(const Network& net, const Transformer& t, int w);

// Per-unit ratio that one unit of winding w's windv stands for under its cw code (ratio_pu =
// windv * scale); the ratio limits RMA/RMI of a voltage or reactive control share that unit.
double winding_ratio_scale(const Network& net, const Transformer& t, int w);

}  // namespace gridfold::pf
