// Conversions between MW/Mvar and per unit on 100 MVA.
#pragma once

#include <cmath>

namespace gridfold::pf {

inline constexpr double kPerUnitBaseMva = 100.0;

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
