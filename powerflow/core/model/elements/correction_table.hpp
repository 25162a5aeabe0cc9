// Impedance correction tables of transformer windings; core/controls/impedance_correction
// applies them.
#pragma once

#include <vector>

namespace gridfold::pf {

// Impedance correction table: factors applied to a transformer's impedance as a function of
// its ratio (pu) or phase shift (degrees), by the controlling winding.
struct CorrectionPoint {
    double t = 0.0;             // ratio (pu) or angle (degrees)
    double f_re = 1.0;          // scaling factor, real part
    double f_im = 0.0;          // imaginary part (files before version 34 hold real factors)
};
struct ImpedanceCorrection {
    int number = 0;             // table number, referred to by Winding::tab
    std::vector<CorrectionPoint> points;  // in file order, at most 11 (v33) or 99
};

}  // namespace gridfold::pf
