// Transformer tap adjustment between Newton solutions.
//
// A winding with a positive control mode moves its ratio (voltage and reactive-flow control)
// or its phase angle (active-flow control) so that the quantity it watches stays within its
// band (VMI..VMA). Settings move over NTP positions evenly spaced from RMI to RMA, in the
// unit the winding's data use (windv units for ratios, degrees for angles).
//
// Inputs: the network, the solver data derived from it, the adjustment modes. After each
// converged Newton solution adjust() reads the voltages, moves the settings and updates the
// transformer's entries of the admittance matrix in place (its pattern never changes), so the
// next solution sees the new settings. write_back() stores the settings in the case so that
// the next solution starts from them.
//
// Stepping moves a winding one position per round toward its band. The direct mode first
// solves the setting as a continuous variable (secant iterations on the watched quantity,
// started from the winding's no-load sensitivity) aiming at the middle of the band, then
// rounds it to the nearest position and finishes by stepping.
#pragma once

#include "core/model/network.hpp"
#include "core/solver/ac_problem.hpp"
#include "core/solver/network_to_problem.hpp"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace gridfold::pf {

enum class TapAdjustment : int { locked = 0, stepping = 1, direct = 2 };

struct TapControlSettings {
    TapAdjustment ratios = TapAdjustment::locked;  // voltage and reactive-flow windings
    bool phase_shifters = false;  // active-flow windings (same mode as ratios, stepping when locked)
};

// One winding under control.
struct TapControl {
    enum class Kind { voltage, reactive_flow, active_flow };
    Kind kind = Kind::voltage;
    std::size_t transformer = 0;  // index into Network::transformers
    int winding = 0;  // 0-based
    int from = -1;  // problem index of the winding's bus
    int to = -1;  // problem index of the other side (winding 2 bus, or the star point)
    int watched = -1;  // voltage control: problem index of the controlled bus
    bool watched_beyond = true;  // voltage control: the controlled bus lies beyond the winding
    Complex compensation;  // voltage control: load drop compensation CR + jCX (pu on the system base)
    Complex series;  // series and magnetising admittance of the winding (pu)
    Complex magnetising;
    // Impedance correction table of the winding: the series impedance is nominal_impedance
    // times the table's factor at the present setting (ratio times table_ratio_scale, or angle).
    const ImpedanceCorrection* table = nullptr;
    Complex nominal_impedance;
    double table_ratio_scale = 1.0;
    Complex tap_to = 1.0;  // ratio on the other side (pu): winding 2's, 1 at a star point,
                           // or the ratio of the winding a star point is merged with
    double ratio_scale = 1.0;  // pu ratio per windv unit
    double ratio = 1.0;  // present windv (ratio controls move it)
    double angle_deg = 0.0;  // present phase angle (active-flow controls move it)
    double low = 0.9, high = 1.1;  // setting limits RMI..RMA
    double step = 0.0;  // one position in setting units
    double band_low = 0.0;  // watched quantity band: pu voltage, or pu power on the system base
    double band_high = 0.0;
    std::string label;  // "transformer 2001-2002 '1' winding 1" for progress lines
    // Adjustment state within one solution.
    bool continuous = false;  // direct mode: still solving the setting continuously
    int continuous_rounds = 0;
    bool have_previous = false;  // previous (setting, value) for the secant
    double previous_setting = 0.0;
    double previous_value = 0.0;
    int last_direction = 0;  // sign of the last move
    bool held = false;  // band narrower than one position: stays where it is
    bool limit_reported = false;

    double setting() const { return kind == Kind::active_flow ? angle_deg : ratio; }
};

class TapControls {
public:
    using Lines = std::function<void(const std::string&)>;

    // Collects the windings that adjust under `settings`; windings whose control cannot act
    // (no controlled bus, a bus whose magnitude a machine already holds) are named on `say`.
    void build(const Network& network, const DerivedProblem& derived, const TapControlSettings& settings,
               const std::string& name, const Lines& say);

    // One adjustment round at converged voltages v; returns the number of windings moved.
    // The admittance matrix of `problem` is updated for every move.
    int adjust(AcProblem& problem, const Eigen::VectorXcd& v, const std::string& name, const Lines& say);

    // Takes back the moves of the last adjust() (a solution after them failed); returns how
    // many were taken back.
    int undo_last_round(AcProblem& problem);

    // Stores every moved setting in the case.
    void write_back(Network& network) const;

    bool empty() const { return controls_.empty(); }
    // Whether any setting moved since build(): the admittance matrix no longer matches the case
    // until write_back().
    bool any_moved() const { return moved_; }
    const std::vector<TapControl>& controls() const { return controls_; }

private:
    std::vector<TapControl> controls_;
    bool moved_ = false;
    std::vector<std::pair<std::size_t, double>> last_round_;  // (control, setting before the move)
};

// Watched quantity of a control at voltages v: the controlled bus magnitude (pu), less the
// drop across the compensation impedance of the current the winding delivers on its far side;
// or the reactive or active power flowing into the transformer at the winding's bus (pu).
double watched_value(const TapControl& control, const Eigen::VectorXcd& v);

}  // namespace gridfold::pf
