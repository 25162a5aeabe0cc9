#include "core/controls/tap_control.hpp"

#include "core/controls/impedance_correction.hpp"
#include "core/solver/branch_model.hpp"
#include "core/model/transformer_values.hpp"
#include "core/session/progress.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace gridfold::pf {

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;
// The continuous phase of the direct mode stops once the watched quantity is this close to
// the middle of its band (as a share of the band width), or after this many rounds.
constexpr double kContinuousTolerance = 0.05;
constexpr int kContinuousRounds = 12;

Complex tap_from(const TapControl& c, double ratio, double angle_deg) {
    return std::polar(ratio * c.ratio_scale, angle_deg * kDeg);
}

// Series admittance at the given settings: the impedance follows the winding's correction table.
Complex series_at(const TapControl& c, double ratio, double angle_deg) {
    if (!c.table) return c.series;
    const double t = c.kind == TapControl::Kind::active_flow ? angle_deg : ratio * c.table_ratio_scale;
    const Complex z = c.nominal_impedance * correction_factor(*c.table, t);
    return series_admittance(z.real(), z.imag());
}

TwoPortEntries entries(const TapControl& c, double ratio, double angle_deg) {
    return transformer_two_port(tap_from(c, ratio, angle_deg), c.tap_to, series_at(c, ratio, angle_deg), c.magnetising);
}

// Power flowing into the transformer at the winding's bus for the given settings.
Complex flow_into(const TapControl& c, const Eigen::VectorXcd& v, double ratio, double angle_deg) {
    const TwoPortEntries e = entries(c, ratio, angle_deg);
    return v[c.from] * std::conj(e.ff * v[c.from] + e.ft * v[c.to]);
}

double value_at(const TapControl& c, const Eigen::VectorXcd& v, double ratio, double angle_deg) {
    switch (c.kind) {
    case TapControl::Kind::voltage: {
        if (c.compensation == Complex(0.0, 0.0)) return std::abs(v[c.watched]);
        const TwoPortEntries e = entries(c, ratio, angle_deg);
        const Complex delivered = -(e.tf * v[c.from] + e.tt * v[c.to]);
        return std::abs(v[c.watched] - c.compensation * delivered);
    }
    case TapControl::Kind::reactive_flow: return flow_into(c, v, ratio, angle_deg).imag();
    case TapControl::Kind::active_flow: return flow_into(c, v, ratio, angle_deg).real();
    }
    return 0.0;
}

// Change of the watched quantity per unit of setting, estimated without a solution: for a
// voltage, the no-load effect of the ratio (a bus beyond the winding falls as the ratio
// rises, a bus on the winding's side rises); for a flow, the flow's derivative at the present
// voltages.
double model_sensitivity(const TapControl& c, const Eigen::VectorXcd& v) {
    if (c.kind == TapControl::Kind::voltage) {
        const double s = std::abs(v[c.watched]) / std::max(c.ratio, 1e-6);
        return c.watched_beyond ? -s : s;
    }
    const double h = c.kind == TapControl::Kind::active_flow ? 0.01 : 1e-4 * std::max(std::abs(c.ratio), 1e-3);
    auto at = [&](double delta) {
        return c.kind == TapControl::Kind::active_flow ? value_at(c, v, c.ratio, c.angle_deg + delta)
                                                       : value_at(c, v, c.ratio + delta, c.angle_deg);
    };
    return (at(h) - at(-h)) / (2.0 * h);
}

// Index of the position nearest to setting s.
long nearest_position(const TapControl& c, double s) {
    const long last = std::lround((c.high - c.low) / c.step);
    return std::clamp(std::lround((s - c.low) / c.step), 0L, last);
}

// Next position from setting s in direction dir (+1 or -1); nullopt at the limit.
std::optional<double> next_position(const TapControl& c, double s, int dir) {
    const long last = std::lround((c.high - c.low) / c.step);
    const double k = (s - c.low) / c.step;
    const long next = dir > 0 ? static_cast<long>(std::floor(k + 1e-9)) + 1 : static_cast<long>(std::ceil(k - 1e-9)) - 1;
    if (next < 0 || next > last) return std::nullopt;
    return c.low + static_cast<double>(next) * c.step;
}

// Moves the control to `setting`, updating the admittance matrix by the change of its entries.
void move_to(TapControl& c, AcProblem& p, double setting) {
    const bool angle = c.kind == TapControl::Kind::active_flow;
    const TwoPortEntries before = entries(c, c.ratio, c.angle_deg);
    (angle ? c.angle_deg : c.ratio) = setting;
    const TwoPortEntries after = entries(c, c.ratio, c.angle_deg);
    p.ybus.coeffRef(c.from, c.from) += after.ff - before.ff;
    p.ybus.coeffRef(c.from, c.to) += after.ft - before.ft;
    p.ybus.coeffRef(c.to, c.from) += after.tf - before.tf;
    p.ybus.coeffRef(c.to, c.to) += after.tt - before.tt;
}

const char* setting_name(const TapControl& c) { return c.kind == TapControl::Kind::active_flow ? "angle" : "ratio"; }

std::string value_text(const TapControl& c, double value, double base_mva) {
    switch (c.kind) {
    case TapControl::Kind::voltage: return format_line("bus voltage %.4f pu", value);
    case TapControl::Kind::reactive_flow: return format_line("flow %.2f Mvar", value * base_mva);
    case TapControl::Kind::active_flow: return format_line("flow %.2f MW", value * base_mva);
    }
    return {};
}

std::string band_text(const TapControl& c, double base_mva) {
    if (c.kind == TapControl::Kind::voltage) return format_line("%.4f-%.4f pu", c.band_low, c.band_high);
    return format_line("%.2f-%.2f %s", c.band_low * base_mva, c.band_high * base_mva,
                  c.kind == TapControl::Kind::active_flow ? "MW" : "Mvar");
}

}  // namespace

double watched_value(const TapControl& c, const Eigen::VectorXcd& v) { return value_at(c, v, c.ratio, c.angle_deg); }

void TapControls::build(const Network& net, const DerivedProblem& derived, const TapControlSettings& settings,
                        const std::string& name, const Lines& say) {
    controls_.clear();
    moved_ = false;
    if (settings.ratios == TapAdjustment::locked && !settings.phase_shifters) return;
    const AcProblem& p = derived.problem;
    const double sbase = p.base_mva;
    auto problem_bus = [&](int number) {
        const auto index = net.bus_index.find(number);
        return index ? derived.problem_bus[*index] : -1;
    };
    // Buses whose magnitude a swing bus or a machine already holds: a tap cannot move them.
    std::vector<uint8_t> held(static_cast<std::size_t>(p.n), 0);
    for (int k = 0; k < p.n; ++k) held[k] = p.is_swing[k];
    for (const auto& vc : p.controls) held[vc.regulated_bus] = 1;

    for (std::size_t t = 0; t < net.transformers.size(); ++t) {
        const Transformer& tr = net.transformers[t];
        if (tr.status == 0) continue;
        for (int w = 0; w < (tr.three_winding() ? 3 : 1); ++w) {
            const Winding& wd = tr.windings[w];
            TapControl c;
            if (wd.cod == 1 || wd.cod == 2) {
                if (settings.ratios == TapAdjustment::locked) continue;
                c.kind = wd.cod == 1 ? TapControl::Kind::voltage : TapControl::Kind::reactive_flow;
            } else if (wd.cod == 3) {
                if (!settings.phase_shifters) continue;
                c.kind = TapControl::Kind::active_flow;
            } else {
                continue;  // not adjusted (negative), none, or a dc-line or asymmetric control
            }
            if (!winding_in_service(tr, w)) continue;
            c.from = problem_bus(tr.buses[w]);
            c.to = tr.three_winding() ? problem_bus(tr.star_bus) : problem_bus(tr.buses[1]);
            c.tap_to = tr.three_winding() ? Complex(1.0, 0.0) : Complex(winding_ratio_pu(net, tr, 1), 0.0);
            if (tr.three_winding() && c.to < 0) {
                // A star point merged with a winding without impedance: the other windings are
                // joined to that winding's bus through its ratio; that winding itself has no
                // impedance of its own to move against.
                const auto star = net.bus_index.find(tr.star_bus);
                for (const auto& merged : derived.merged_stars)
                    if (star && merged.network_bus == static_cast<int>(*star)) {
                        c.to = merged.problem_bus;
                        c.tap_to = merged.ratio;
                    }
                if (c.to == c.from) continue;
            }
            if (c.from < 0 || c.to < 0) continue;
            c.transformer = t;
            c.winding = w;
            c.label = tr.three_winding()
                          ? format_line("transformer %d-%d-%d '%s' winding %d", tr.buses[0], tr.buses[1], tr.buses[2],
                                   tr.ckt.c_str(), w + 1)
                          : format_line("transformer %d-%d '%s'", tr.buses[0], tr.buses[1], tr.ckt.c_str());
            c.compensation = Complex(wd.cr_pu, wd.cx_pu);
            const WindingAdmittances wa = winding_admittances(net, tr, w, sbase);
            c.series = wa.series;
            c.magnetising = wa.magnetising;
            if (const ImpedanceCorrection* table = correction_table(net, wd.tab)) {
                if (tr.three_winding() && tr.zcod == 1) {
                    // A bus-to-bus correction moves the star impedances of two windings at once.
                    say(format_line("%s %s: impedance correction of bus-to-bus impedances (ZCOD 1) kept at the "
                               "starting setting while the winding moves",
                               name.c_str(), c.label.c_str()));
                } else if (const Complex f = winding_correction(net, tr, w); std::abs(f) > 0.0) {
                    c.table = table;
                    c.table_ratio_scale = correction_setting(net, tr, w, 1.0, 0.0);
                    c.nominal_impedance = 1.0 / wa.series / f;
                }
            }
            c.ratio_scale = winding_ratio_scale(net, tr, w);
            c.ratio = wd.windv;
            c.angle_deg = wd.ang_deg;
            c.low = std::min(wd.rmi, wd.rma);
            c.high = std::max(wd.rmi, wd.rma);
            c.step = wd.ntp > 1 ? (c.high - c.low) / (wd.ntp - 1) : 0.0;
            c.band_low = std::min(wd.vmi, wd.vma);
            c.band_high = std::max(wd.vmi, wd.vma);
            if (c.kind != TapControl::Kind::voltage) {
                c.band_low /= sbase;
                c.band_high /= sbase;
            }
            if (!(c.step > 0.0)) {
                say(format_line("%s %s: %s limits leave no room to move, not adjusted", name.c_str(), c.label.c_str(),
                           setting_name(c)));
                continue;
            }
            if (c.kind == TapControl::Kind::voltage) {
                const int cont = std::abs(wd.cont);
                if (cont == 0) {
                    say(format_line("%s %s: voltage control without a controlled bus, not adjusted", name.c_str(),
                               c.label.c_str()));
                    continue;
                }
                c.watched = problem_bus(cont);
                if (c.watched < 0) {
                    say(format_line("%s %s: controlled bus %d is not in service, not adjusted", name.c_str(),
                               c.label.c_str(), cont));
                    continue;
                }
                if (held[c.watched]) {
                    say(format_line("%s %s: bus %d is held by a machine, not adjusted", name.c_str(), c.label.c_str(),
                               cont));
                    continue;
                }
                // A controlled bus that is one of the transformer's own buses tells its side;
                // any other bus is placed by the sign of CONT (negative: on the winding's side).
                if (cont == tr.buses[w]) c.watched_beyond = false;
                else if (cont == tr.buses[0] || cont == tr.buses[1] || cont == tr.buses[2]) c.watched_beyond = true;
                else c.watched_beyond = wd.cont > 0;
            }
            c.continuous = settings.ratios == TapAdjustment::direct;
            controls_.push_back(std::move(c));
        }
    }
}

int TapControls::adjust(AcProblem& p, const Eigen::VectorXcd& v, const std::string& name, const Lines& say) {
    int moved = 0;
    const double base = p.base_mva;
    last_round_.clear();
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        TapControl& c = controls_[i];
        if (c.held) continue;
        const double value = watched_value(c, v);
        const double s = c.setting();
        const double middle = 0.5 * (c.band_low + c.band_high);
        const bool outside = value < c.band_low || value > c.band_high;
        std::optional<double> target;
        int direction = 0;

        if (c.continuous) {
            const double width = std::max(c.band_high - c.band_low, 1e-6);
            const bool close = std::abs(value - middle) <= kContinuousTolerance * width;
            if (!outside && c.continuous_rounds == 0) {
                c.continuous = false;  // within its band from the start: nothing to solve
            } else if (close || c.continuous_rounds >= kContinuousRounds) {
                // Continuous phase done: round to the nearest position, then step from there.
                c.continuous = false;
                const double rounded = c.low + static_cast<double>(nearest_position(c, s)) * c.step;
                if (std::abs(rounded - s) > 1e-12) target = rounded;
            } else {
                double slope = model_sensitivity(c, v);
                if (c.have_previous && std::abs(s - c.previous_setting) > 1e-12) {
                    const double secant = (value - c.previous_value) / (s - c.previous_setting);
                    // A secant of the model's sign is the better slope; one of the other sign
                    // means another control moved the quantity meanwhile.
                    if (secant * slope > 0.0) slope = secant;
                }
                if (std::abs(slope) > 1e-12) {
                    const double next = std::clamp(s - (value - middle) / slope, c.low, c.high);
                    if (std::abs(next - s) > 1e-9 * std::max(1.0, std::abs(s))) target = next;
                    else c.continuous = false;  // at a limit
                } else {
                    c.continuous = false;
                }
                ++c.continuous_rounds;
            }
        }
        if (!c.continuous && !target && outside) {
            // Stepping, also where the continuous phase ended at a limit.
            const double slope = model_sensitivity(c, v);
            if (slope == 0.0) continue;
            // Move toward the band: against the slope when above it, with it when below.
            direction = (value > c.band_high) == (slope > 0.0) ? -1 : 1;
            if (c.last_direction != 0 && direction != c.last_direction) {
                // The last position overshot the band: it is narrower than one position.
                c.held = true;
                say(format_line("%s %s: band %s narrower than one %s position, held at %.5g", name.c_str(),
                           c.label.c_str(), band_text(c, base).c_str(), setting_name(c), s));
                continue;
            }
            target = next_position(c, s, direction);
            if (!target) {
                if (!c.limit_reported)
                    say(format_line("%s %s: %s at its limit %.5g, %s outside %s", name.c_str(), c.label.c_str(),
                               setting_name(c), s, value_text(c, value, base).c_str(), band_text(c, base).c_str()));
                c.limit_reported = true;
                continue;
            }
        }
        if (!target) continue;
        c.previous_setting = s;
        c.previous_value = value;
        c.have_previous = true;
        if (direction != 0) c.last_direction = direction;
        last_round_.emplace_back(i, s);
        move_to(c, p, *target);
        moved_ = true;
        ++moved;
        say(format_line("%s %s: %s %.5g -> %.5g, %s (band %s)", name.c_str(), c.label.c_str(), setting_name(c), s,
                   *target, value_text(c, value, base).c_str(), band_text(c, base).c_str()));
    }
    return moved;
}

int TapControls::undo_last_round(AcProblem& p) {
    for (const auto& [i, setting] : last_round_) {
        TapControl& c = controls_[i];
        move_to(c, p, setting);
        c.held = true;  // moving it again would fail the same way
    }
    const int undone = static_cast<int>(last_round_.size());
    last_round_.clear();
    return undone;
}

void TapControls::write_back(Network& net) const {
    for (const auto& c : controls_) {
        Winding& w = net.transformers[c.transformer].windings[c.winding];
        if (c.kind == TapControl::Kind::active_flow) w.ang_deg = c.angle_deg;
        else w.windv = c.ratio;
    }
}


}  // namespace gridfold::pf
