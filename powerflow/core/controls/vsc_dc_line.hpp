// VSC dc lines: two voltage-source converters joined by a dc resistance.
//
// One converter sets the line's power (TYPE 2: DCSET MW injected into its ac bus, negative
// for a draw), the other holds the dc voltage (TYPE 1: DCSET kV at its dc terminal) and
// balances the line. Each converter's loss is ALOSS + BLOSS * I (kW, I the ac current in A),
// at least MINLOSS, taken from the dc side; the dc current I_dc from the power converter to
// the voltage converter satisfies P_dc = (V_dc + RDC I_dc) I_dc. On its ac side a converter
// holds its bus voltage (MODE 1: ACSET pu, at VSREG when given) as a machine does, its
// reactive output within MINQ..MAXQ and within what its rating SMAX (MVA) and current IMAX
// (A) leave beside its active power; or it holds a power factor (MODE 2: ACSET, Q = |P|
// tan(acos |ACSET|), negative ACSET for a reactive draw).
#pragma once

#include "core/model/network.hpp"
#include "core/solver/network_to_problem.hpp"

#include <optional>
#include <string>
#include <vector>

namespace gridfold::pf {

// Adds a voltage control to the derived problem for each in-service VSC converter that holds
// an ac voltage, after the machines' controls: `held` marks buses whose magnitude is already
// held, `supplying` buses whose reactive output already serves a control. A converter whose
// bus is taken holds no voltage; it is listed in derived.converters_not_holding.
void add_vsc_voltage_controls(const Network& network, DerivedProblem& derived, std::vector<uint8_t>& held,
                              std::vector<uint8_t>& supplying);

// Why a VSC dc line cannot be solved from its data; nothing when it can.
std::optional<std::string> vsc_unsupported(const VscDcLine& line);

// Active powers (MW, injected into each converter's ac bus) of a VSC line whose power
// converter is `power` (index 0 or 1); s_mva and v_pu are each converter's last apparent
// power and voltage, which set its losses. Returns false when the dc line cannot carry the
// power at the dc voltage (the powers are then left at zero).
struct VscFlows {
    double p_mw[2] = {0.0, 0.0};
    double loss_mw[2] = {0.0, 0.0};
    double idc_ka = 0.0;
    double vdc_kv[2] = {0.0, 0.0};
};
bool vsc_flows(const VscDcLine& line, int power, const double s_mva[2], const double v_pu[2], const double base_kv[2],
               VscFlows& flows);

// Largest apparent power (MVA) converter c may carry at voltage v_pu on a bus of base_kv
// (infinite without a rating).
double vsc_rating_mva(const VscConverter& c, double v_pu, double base_kv);

}  // namespace gridfold::pf
