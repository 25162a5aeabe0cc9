// Two-terminal (LCC) and VSC dc lines in the load flow.
//
// The dc lines are solved between Newton solutions (an outer loop): at the converged ac
// voltages each line finds its operating point (lcc_dc_line.hpp, vsc_dc_line.hpp) and its
// converters' active and reactive powers enter the next Newton solution as constant-power
// injections at their ac buses. The loop ends when no injection, tap or mode changes by more
// than the solution's tolerance. VSC converters that hold an ac voltage do so inside Newton, as
// voltage controls of the problem (their reactive limits follow their active power here).
//
// Converter transformer taps of LCC lines move when asked (options4); update() reports each
// round's tap moves and mode changes, one progress line per line, and write_back() keeps the
// taps in the case so that the next solution starts from them.
#pragma once

#include "core/controls/lcc_dc_line.hpp"
#include "core/model/network.hpp"
#include "core/solver/ac_problem.hpp"
#include "core/solver/network_to_problem.hpp"

#include <functional>
#include <string>
#include <vector>

namespace gridfold::pf {

class DcLines {
public:
    using Lines = std::function<void(const std::string&)>;

    // Collects the in-service dc lines the problem can carry; those it cannot (a mode not
    // modelled, a converter bus out of service) are named on `say` as left out.
    void build(const Network& network, const DerivedProblem& derived, bool adjust_taps, const std::string& name,
               const Lines& say);

    bool empty() const { return lcc_.empty() && vsc_.empty(); }

    // Operating points at voltages v: moves the dc injections held in s_power (problem size,
    // per unit) from the last ones to the new ones and updates the reactive limits of the VSC
    // voltage controls in `problem`. Returns whether anything moved by more than tol_pu.
    bool update(AcProblem& problem, const Eigen::VectorXcd& v, Eigen::VectorXcd& s_power, double tol_pu,
                const std::string& name, const Lines& say);

    // The dc injections update() put into s_power, to be taken out again.
    const Eigen::VectorXcd& applied() const { return applied_; }

    // One line per dc line with its operating point.
    void report(const std::string& name, const Lines& say) const;

    // Stores the converter taps in the case.
    void write_back(Network& network) const;

private:
    struct Lcc {
        std::size_t line = 0;
        int rectifier = -1, inverter = -1;  // problem buses
        LccTapState taps;
        LccOperatingPoint op;
        bool solved = false;
    };
    struct Vsc {
        std::size_t line = 0;
        int power = 0;                     // converter setting the power (0 or 1)
        int bus[2] = {-1, -1};             // problem buses
        int control[2] = {-1, -1};         // index into problem.controls, -1 none
        double base_kv[2] = {0.0, 0.0};
        double p_mw[2] = {0.0, 0.0};       // injected at the ac bus
        double q_mvar[2] = {0.0, 0.0};
        double idc_ka = 0.0;
        double vdc_kv[2] = {0.0, 0.0};
        bool feasible = true;
    };
    const Network* network_ = nullptr;
    bool adjust_taps_ = false;
    std::vector<Lcc> lcc_;
    std::vector<Vsc> vsc_;
    Eigen::VectorXcd applied_;
};

}  // namespace gridfold::pf
