// FACTS devices in the solution.
//
// Shunt element (STATCOM): a device with a shunt rating SHMX > 0 holds the magnitude of its
// regulated bus (FCREG, or the sending end I when 0) at VSET with a reactive current drawn at
// I, while that current stays within SHMX (MVA at 1 pu). At its limit it delivers
// SHMX * |V_I| Mvar, capacitive or inductive: a current limit, unlike a machine's fixed Mvar
// limits. In the Newton problem it is a voltage control of bus I whose reactive limits follow
// |V_I| between solutions.
//
// Series element, between I and the terminal bus J, by MODE:
//   1  holds the power arriving at J at PDES + jQDES (MW, Mvar). The device is lossless: what
//      arrives at J leaves I as active power, and I also supplies the reactive power
//      Im(V_I conj(I_se)) of the series current I_se = conj(S_J / V_J). When the series
//      voltage V_se = V_J - V_I + j LINX I_se exceeds VSMX, the series current IMX (MVA at
//      1 pu, 0 none) or the active power passed between the converters Re(V_se conj(I_se))
//      exceeds TRMX, the set flow is scaled down, P and Q together, until the quantity most
//      beyond its limit is at it (secant steps on the scale between solutions; the series
//      voltage does not vanish with the flow, as the network sets part of it).
//   2  series element bypassed: the reactance LINX between I and J.
//   3  constant series impedance SET1 + jSET2 (pu on the system base) between I and J.
// Modes 4 (constant series voltage) and 5 to 8 (interline devices) are not modelled and are
// refused when a device is entered (data call or case file); a device without a series
// element (J = 0) takes modes 0 and 1 only.
#pragma once

#include "core/model/network.hpp"
#include "core/solver/ac_problem.hpp"

#include <functional>
#include <string>
#include <vector>

namespace gridfold::pf {

struct DerivedProblem;
enum class ControlState : uint8_t;

// Shunt element of a device, as a voltage control of the problem.
struct FactsShunt {
    std::size_t device = 0;     // index into Network::facts_devices
    int control = -1;           // index into AcProblem::controls
    double current_max_pu = 0;  // SHMX on the system base
};

// Series element holding a set flow (mode 1), as injections at its two buses.
struct FactsFlow {
    std::size_t device = 0;
    int from = -1, to = -1;     // problem indices of I and J
    Complex set_pu;             // PDES + jQDES
    double scale = 1.0;         // share of the set flow the limits allow
    Complex at_to;              // injection in the problem at J
    Complex at_from;            // injection in the problem at I
    double linx_pu = 0.0;
    double vsmx_pu = 0.0, imx_pu = 0.0, trmx_pu = 0.0;  // limits, 0 = none
    // The last scale and the limited quantity's share of its limit there, for secant steps.
    int limited = -1;           // 0 series voltage, 1 series current, 2 converter transfer
    double previous_scale = 0.0, previous_share = 0.0;
};

struct FactsProblem {
    std::vector<FactsShunt> shunts;
    std::vector<FactsFlow> flows;
    std::vector<std::string> notes;  // devices or parts that cannot act, for the progress lines
};

// Adds the shunt elements as voltage controls and the set flows as injections to the derived
// problem (after the machines' controls). `held` and `supplying` mark the buses whose
// magnitude is already held and the buses already supplying a control.
void add_facts_devices(const Network& network, DerivedProblem& derived, std::vector<uint8_t>& held,
                       std::vector<uint8_t>& supplying);

// Control states of the shunt elements that the case's voltages show: a regulated bus off
// its setpoint with the element's bus needing just the limit's reactive power.
void recognise_facts_states(const DerivedProblem& derived, std::vector<ControlState>& states);

// Adjustment between Newton solutions: the shunt elements' limits follow their bus voltage,
// the set flows their limits and the sending end's reactive draw.
class FactsControls {
public:
    using Lines = std::function<void(const std::string&)>;

    // Names in progress lines the devices that cannot act.
    void build(const DerivedProblem& derived, const std::string& name, const Lines& say);

    // One round at converged voltages v with the controls' states; returns the devices whose
    // model changed (the scheduled injections `scheduled` and the problem are updated).
    int adjust(const Network& network, DerivedProblem& derived, Eigen::VectorXcd& scheduled,
               const Eigen::VectorXcd& v, const std::vector<ControlState>& states, const std::string& name,
               const Lines& say);

    bool any_moved() const { return moved_; }

private:
    bool moved_ = false;
};

}  // namespace gridfold::pf
