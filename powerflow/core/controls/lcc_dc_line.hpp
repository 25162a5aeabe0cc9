// Steady-state operating point of a two-terminal line-commutated (LCC) dc line.
//
// Bridge equations (Kundur, Power System Stability and Control, section 10.2, "Analysis of
// the bridge circuit"; the transformer resistance as a dc series resistance of 2 Rc per
// bridge as in Arrillaga, High Voltage Direct Current Transmission, chapter 3). Per bridge,
// with E the valve-side line-to-line rms voltage (kV), Xc, Rc the commutating reactance and
// resistance (ohms) and Id the dc current (kA):
//   Vd0 = 3 sqrt(2) / pi * E                                      ideal no-load dc voltage
//   rectifier  Vdr = Nb (Vd0r cos(alpha) - (3/pi Xcr + 2 Rcr) Id)
//   inverter   Vdi = Nb (Vd0i cos(gamma) - (3/pi Xci - 2 Rci) Id)  (extinction-angle form)
//   overlap    cos(theta + mu) = cos(theta) - sqrt(2) Xc Id / E    (theta = alpha or gamma)
//   ac power   P = Nb Id (Vd0 cos(theta) - 3/pi Xc Id)              (drawn at the rectifier,
//                                                                   delivered at the inverter)
//   reactive   Q = P tan(phi), tan(phi) = (2 mu + sin 2theta - sin 2(theta + mu))
//                                        / (cos 2theta - cos 2(theta + mu))
// drawn at both ends. The valve-side voltage is E = V * EBAS * TR / TAP: the ac bus voltage
// (pu) on the primary base, through the converter transformer's ratio TR and its primary-side
// tap. Across the line Vdr = Vdi + RDC Id.
//
// Controls. The rectifier holds the current order (the power order divided by the dc voltage
// in power control) with its firing angle alpha within ANMN..ANMX; the inverter holds the
// scheduled compounded voltage VSCHD at the point RCOMP ohms from it toward the rectifier,
// with its extinction angle gamma within ANMN..ANMX. When adjustable, each converter's tap
// moves by its steps to bring its angle back within its limits when the angle alone cannot
// (toward alpha-min or gamma-min). When the rectifier cannot reach the voltage at alpha-min,
// alpha stays at its minimum and the inverter takes current control at the order reduced by
// the margin DELTI, its angle then following the voltage the rectifier gives. A line in power
// control whose inverter voltage falls below VCMOD switches to current control at the current
// of the power order at the scheduled voltage.
#pragma once

#include "core/model/network.hpp"

#include <optional>
#include <string>

namespace gridfold::pf {

// What sets the operating point: the modes a line can be in.
enum class LccMode {
    normal,              // rectifier holds current, inverter holds voltage
    rectifier_alpha_min, // rectifier at its minimum firing angle, inverter holds current
    blocked,             // no operating point within the angle and tap limits: carries nothing
};

struct LccOperatingPoint {
    LccMode mode = LccMode::normal;
    bool current_control = false;  // a power-control line switched to current control (below VCMOD)
    bool rectifier_alpha_max = false;  // rectifier at its maximum firing angle
    bool inverter_gamma_limit = false; // inverter's angle at one of its limits (voltage off schedule)
    double id_ka = 0.0;            // dc current
    double vdr_kv = 0.0;           // dc voltage at the rectifier and at the inverter
    double vdi_kv = 0.0;
    double alpha_deg = 0.0;
    double gamma_deg = 0.0;
    double tap_r = 1.0;            // converter transformer taps used
    double tap_i = 1.0;
    double pr_mw = 0.0;            // drawn at the rectifier's ac bus
    double qr_mvar = 0.0;
    double pi_mw = 0.0;            // delivered at the inverter's ac bus
    double qi_mvar = 0.0;          // drawn at the inverter's ac bus
    std::string why_blocked;
};

// Taps used and how the line may move them.
struct LccTapState {
    double tap_r = 1.0;
    double tap_i = 1.0;
    int last_dir_r = 0;            // direction of each tap's last move (a reversal holds the tap)
    int last_dir_i = 0;
    bool held_r = false;
    bool held_i = false;
};

// Operating point of `line` at ac bus voltages vr_pu (rectifier) and vi_pu (inverter).
// With adjust_taps the taps in `taps` move by steps within their limits and are updated.
LccOperatingPoint solve_lcc_line(const TwoTerminalDcLine& line, double vr_pu, double vi_pu, LccTapState& taps,
                                 bool adjust_taps);

// Why a line cannot be solved from its data (a commutating capacitor, an ac transformer
// controlling a converter, missing bridges, bases or schedule); nothing when it can.
std::optional<std::string> lcc_unsupported(const TwoTerminalDcLine& line);

}  // namespace gridfold::pf
