#include "core/controls/lcc_dc_line.hpp"

#include <algorithm>
#include <cmath>

namespace gridfold::pf {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kBridge = 3.0 * 1.41421356237309504880 / kPi;  // Vd0 per kV of valve-side voltage
constexpr double kOverlap = 3.0 / kPi;                            // dc drop per ohm of Xc and kA
constexpr int kPowerIterations = 30;

// Valve-side line-to-line voltage (kV) of a converter at ac voltage v_pu and tap `tap`.
double valve_kv(const DcConverter& c, double v_pu, double tap) { return v_pu * c.ebas_kv * c.tr / tap; }

// Nb Vd0: the ideal no-load dc voltage of all the converter's bridges (kV).
double no_load_kv(const DcConverter& c, double v_pu, double tap) { return c.nb * kBridge * valve_kv(c, v_pu, tap); }

// Slope of the dc voltage with current (ohms): commutation plus transformer resistance.
double rectifier_slope(const DcConverter& c) { return c.nb * (kOverlap * c.xc_ohm + 2.0 * c.rc_ohm); }
double inverter_slope(const DcConverter& c) { return c.nb * (kOverlap * c.xc_ohm - 2.0 * c.rc_ohm); }

double round_tap(const DcConverter& c, double wanted, bool up) {
    const double low = std::min(c.tmn, c.tmx), high = std::max(c.tmn, c.tmx);
    if (!(c.stp > 0.0)) return std::clamp(wanted, low, high);
    const double k = (wanted - low) / c.stp;
    const double last = std::floor((high - low) / c.stp + 1e-9);
    const double n = std::clamp(up ? std::ceil(k - 1e-9) : std::floor(k + 1e-9), 0.0, last);
    return low + n * c.stp;
}

// Moves the tap of converter c so that the angle giving `needed_kv` (Nb Vd0 cos(angle)) lies
// within [min_deg, max_deg], by the smallest move: the valve voltage rises (tap down) when the
// angle is below its minimum, falls (tap up) when it is above its maximum. A move against the
// direction of the converter's last one holds the tap where it is (the band is narrower than
// one step). Returns whether the tap moved.
bool place_tap(const DcConverter& c, double v_pu, double needed_kv, double min_deg, double max_deg, double& tap,
               int& last_dir, bool& held) {
    if (held || !(needed_kv > 0.0) || !(v_pu > 0.0)) return false;
    const double cos_angle = needed_kv / no_load_kv(c, v_pu, tap);
    const double cos_min = std::cos(min_deg * kDeg), cos_max = std::cos(max_deg * kDeg);
    double next = tap;
    // tap at which the angle would be exactly `deg`
    auto tap_for = [&](double deg) { return c.nb * kBridge * v_pu * c.ebas_kv * c.tr * std::cos(deg * kDeg) / needed_kv; };
    if (cos_angle > cos_min + 1e-12) next = round_tap(c, tap_for(min_deg), false);
    else if (cos_angle < cos_max - 1e-12) next = round_tap(c, tap_for(max_deg), true);
    if (std::abs(next - tap) < 1e-12) return false;
    const int dir = next > tap ? 1 : -1;
    if (last_dir != 0 && dir != last_dir) {
        held = true;
        return false;
    }
    last_dir = dir;
    tap = next;
    return true;
}

// Active power (MW) through the converter's ac terminal and the reactive power (Mvar) it draws.
void converter_powers(const DcConverter& c, double e_kv, double angle_deg, double id_ka, double& p, double& q) {
    p = q = 0.0;
    if (!(id_ka > 0.0) || !(e_kv > 0.0)) return;
    const double theta = angle_deg * kDeg;
    p = c.nb * id_ka * (kBridge * e_kv * std::cos(theta) - kOverlap * c.xc_ohm * id_ka);
    const double cos_end = std::clamp(std::cos(theta) - 1.41421356237309504880 * c.xc_ohm * id_ka / e_kv, -1.0, 1.0);
    const double mu = std::acos(cos_end) - theta;
    double tan_phi;
    if (mu < 1e-9) {
        tan_phi = std::tan(theta);
    } else {
        tan_phi = (2.0 * mu + std::sin(2.0 * theta) - std::sin(2.0 * (theta + mu))) /
                  (std::cos(2.0 * theta) - std::cos(2.0 * (theta + mu)));
    }
    q = std::abs(p) * tan_phi;
}

double acos_deg(double x) { return std::acos(std::clamp(x, -1.0, 1.0)) / kDeg; }

// Operating point for the current order id_order (kA), taps from `taps` (moved when asked).
LccOperatingPoint operate(const TwoTerminalDcLine& line, double vr, double vi, double id_order, LccTapState& taps,
                          bool adjust) {
    const DcConverter& R = line.rectifier;
    const DcConverter& I = line.inverter;
    const double rr = rectifier_slope(R), ri = inverter_slope(I);
    const double rdc = line.rdc_ohm;
    LccOperatingPoint op;
    double id = id_order;
    auto inverter_no_load = [&] { return no_load_kv(I, vi, taps.tap_i); };
    auto rectifier_no_load = [&] { return no_load_kv(R, vr, taps.tap_r); };
    const double gmin = std::min(I.anmn_deg, I.anmx_deg), gmax = std::max(I.anmn_deg, I.anmx_deg);
    const double amin = std::min(R.anmn_deg, R.anmx_deg), amax = std::max(R.anmn_deg, R.anmx_deg);

    // Both angles at a limit: the current is where the two characteristics cross.
    auto both_fixed = [&](double alpha, double gamma) {
        id = (rectifier_no_load() * std::cos(alpha * kDeg) - inverter_no_load() * std::cos(gamma * kDeg)) /
             (rr + rdc - ri);
        op.alpha_deg = alpha;
        op.gamma_deg = gamma;
        op.inverter_gamma_limit = true;
        if (!std::isfinite(id) || id <= 0.0) {
            op.mode = LccMode::blocked;
            op.why_blocked = "no operating point within its angle and tap limits";
            id = 0.0;
        }
        op.vdi_kv = inverter_no_load() * std::cos(gamma * kDeg) - ri * id;
        op.vdr_kv = op.vdi_kv + rdc * id;
    };
    // The inverter's angle for its dc voltage vdi; a tap move first where the angle alone
    // cannot reach it. Returns false when the angle had to be held at a limit.
    auto inverter_angle = [&](double vdi) {
        if (adjust) place_tap(I, vi, vdi + ri * id, gmin, gmax, taps.tap_i, taps.last_dir_i, taps.held_i);
        const double gamma = acos_deg((vdi + ri * id) / inverter_no_load());
        const double cos_needed = (vdi + ri * id) / inverter_no_load();
        op.gamma_deg = std::clamp(gamma, gmin, gmax);
        return cos_needed <= std::cos(gmin * kDeg) + 1e-12 && cos_needed >= std::cos(gmax * kDeg) - 1e-12;
    };

    // Normal: the inverter holds the compounded voltage schedule.
    const double vdi_schedule = line.vschd_kv - line.rcomp_ohm * id;
    if (inverter_angle(vdi_schedule)) {
        op.vdi_kv = vdi_schedule;
    } else {
        op.inverter_gamma_limit = true;
        op.vdi_kv = inverter_no_load() * std::cos(op.gamma_deg * kDeg) - ri * id;
    }
    op.vdr_kv = op.vdi_kv + rdc * id;
    // The rectifier's firing angle for that voltage, its tap moving first when needed.
    if (adjust) place_tap(R, vr, op.vdr_kv + rr * id, amin, amax, taps.tap_r, taps.last_dir_r, taps.held_r);
    const double cos_alpha = (op.vdr_kv + rr * id) / rectifier_no_load();
    if (cos_alpha > std::cos(amin * kDeg) + 1e-12) {
        // Not enough voltage at the rectifier: it stays at alpha-min and the inverter takes
        // current control at the order less the margin.
        op.mode = LccMode::rectifier_alpha_min;
        op.inverter_gamma_limit = false;
        op.alpha_deg = amin;
        id = (1.0 - line.delti) * id_order;
        op.vdr_kv = rectifier_no_load() * std::cos(amin * kDeg) - rr * id;
        op.vdi_kv = op.vdr_kv - rdc * id;
        if (!inverter_angle(op.vdi_kv)) both_fixed(amin, op.gamma_deg);
    } else if (cos_alpha < std::cos(amax * kDeg) - 1e-12) {
        // Too much voltage at the rectifier even at alpha-max: the inverter's angle absorbs it.
        op.rectifier_alpha_max = true;
        op.alpha_deg = amax;
        op.inverter_gamma_limit = false;
        op.vdr_kv = rectifier_no_load() * std::cos(amax * kDeg) - rr * id;
        op.vdi_kv = op.vdr_kv - rdc * id;
        if (!inverter_angle(op.vdi_kv)) both_fixed(amax, op.gamma_deg);
    } else {
        op.alpha_deg = acos_deg(cos_alpha);
    }
    if (op.mode == LccMode::blocked) return op;
    op.id_ka = id;
    op.tap_r = taps.tap_r;
    op.tap_i = taps.tap_i;
    converter_powers(R, valve_kv(R, vr, taps.tap_r), op.alpha_deg, id, op.pr_mw, op.qr_mvar);
    converter_powers(I, valve_kv(I, vi, taps.tap_i), op.gamma_deg, id, op.pi_mw, op.qi_mvar);
    return op;
}

// Current (kA) that carries power p_mw at the end where it is set, with the inverter at its
// compounded voltage schedule.
double scheduled_current(const TwoTerminalDcLine& line, double p_mw, bool at_inverter) {
    const double v = line.vschd_kv;
    // p = (v + a id) id, with a the resistance from the compounding point to the metered end.
    const double a = at_inverter ? -line.rcomp_ohm : line.rdc_ohm - line.rcomp_ohm;
    if (std::abs(a) < 1e-12) return p_mw / v;
    const double disc = v * v + 4.0 * a * p_mw;
    if (disc < 0.0) return -v / (2.0 * a);  // beyond the largest power at this schedule
    return (-v + std::sqrt(disc)) / (2.0 * a);
}

}  // namespace

std::optional<std::string> lcc_unsupported(const TwoTerminalDcLine& line) {
    for (const DcConverter* c : {&line.rectifier, &line.inverter}) {
        const char* end = c == &line.rectifier ? "rectifier" : "inverter";
        if (c->xcap_ohm != 0.0) return std::string(end) + " is capacitor-commutated";
        if (c->if_bus != 0 || c->it_bus != 0) return std::string(end) + " is controlled by an ac transformer's tap";
        if (c->nb <= 0) return std::string(end) + " has no bridges";
        if (!(c->ebas_kv > 0.0) || !(c->tr > 0.0) || !(c->tap > 0.0)) return std::string(end) + " has no base voltage or ratio";
    }
    if (!(line.vschd_kv > 0.0)) return "no scheduled dc voltage";
    if (!(line.delti >= 0.0 && line.delti < 1.0)) return "current margin DELTI outside 0..1";
    return {};
}

LccOperatingPoint solve_lcc_line(const TwoTerminalDcLine& line, double vr, double vi, LccTapState& taps, bool adjust) {
    const bool power = line.mdc == 1;
    const bool at_inverter = line.setvl < 0.0;
    const double order = std::abs(line.setvl);
    if (!power) return operate(line, vr, vi, order / 1000.0, taps, adjust);

    // Power control: the current order is the power over the dc voltage at the end where the
    // power is set; that voltage is the schedule unless a limit moves it.
    double id = scheduled_current(line, order, at_inverter);
    LccOperatingPoint op;
    for (int k = 0; k < kPowerIterations; ++k) {
        op = operate(line, vr, vi, id, taps, adjust);
        if (op.mode == LccMode::blocked) return op;
        const double v_end = at_inverter ? op.vdi_kv : op.vdr_kv;
        if (!(v_end > 0.0)) break;
        // The current that gives the order at the voltage just found (in alpha-min mode the
        // order before the margin).
        const double carried = op.mode == LccMode::rectifier_alpha_min ? op.id_ka / (1.0 - line.delti) : op.id_ka;
        const double next = order / v_end;
        if (std::abs(next - carried) <= 1e-9 * std::max(1.0, next)) break;
        id = 0.5 * (id + next);
    }
    if (line.vcmod_kv > 0.0 && op.vdi_kv < line.vcmod_kv) {
        // Voltage below the mode switch voltage: current control at the scheduled-voltage current.
        op = operate(line, vr, vi, order / line.vschd_kv, taps, adjust);
        op.current_control = true;
    }
    return op;
}

}  // namespace gridfold::pf
