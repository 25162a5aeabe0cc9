// Conversions between MW/Mvar and per unit on 100 MVA.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace gridfold::pf {

inline constexpr double kPerUnitBaseMva = 100.0;

// Powers entered through the data calls are kept to 15 significant digits. A per-unit value
// multiplied back by 100 can be one unit in the last place away from the MW/Mvar it came from
// (no double p has p * 100 == 3.3); rounding to 15 digits, far below any measured precision,
// takes such a value back to exactly the value stored.
// Powers too small for their per-unit value to be a normal double are zero.
inline double round_to_15_digits(double value) {
    if (!std::isfinite(value) || value == 0.0) return value;
    if (std::fabs(value) < 1e-290) return 0.0;
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    return std::strtod(text, nullptr);
}

// Per-unit value p of `mw` chosen so that p * 100 gives back exactly `mw` whenever a double
// with that property exists: a caller that multiplies by 100 then reproduces the element.
inline double per_unit_of(double mw) {
    double p = mw / kPerUnitBaseMva;
    if (p * kPerUnitBaseMva == mw) return p;
    double up = p, down = p;
    for (int step = 0; step < 4; ++step) {
        up = std::nextafter(up, INFINITY);
        if (up * kPerUnitBaseMva == mw) return up;
        down = std::nextafter(down, -INFINITY);
        if (down * kPerUnitBaseMva == mw) return down;
    }
    return p;
}

}  // namespace gridfold::pf
