// Transformer with two or three windings. A three-winding transformer is solved as a star:
// each winding joins its bus to an internal star-point bus (numbered from kFirstStarPointBus).
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "core/model/elements/common.hpp"
#include "core/model/elements/solution_hooks_fwd.hpp"

namespace gridfold::pf {

// Per-winding data of a transformer. A two-winding transformer uses winding 1 fully and
// only windv/nomv of winding 2; winding 3 stays at its defaults.
struct Winding {
    double windv = 1.0;         // ratio: pu (CW 1,3) or kV (CW 2)
    double nomv_kv = 0.0;       // nominal winding voltage, kV (0 = bus base voltage)
    double ang_deg = 0.0;       // phase shift, degrees
    Ratings ratings{};
    int cod = 0;                // control mode: 0 none, +-1 voltage, +-2 reactive, +-3 active,
                                // +-4 dc line, +-5 asymmetric active; negative = not adjusted
    int cont = 0;               // controlled bus (0 = none)
    int node = 0;               // node of the controlled bus (kept, not used)
    double rma = 1.1;           // ratio/angle limits (pu, kV or degrees, by cod and CW)
    double rmi = 0.9;
    double vma = 1.1;           // controlled-quantity band (pu voltage, Mvar or MW, by cod)
    double vmi = 0.9;
    int ntp = 33;               // number of tap positions
    int tab = 0;                // impedance correction table, 0 = none
    double cr_pu = 0.0;         // load drop compensation, per unit
    double cx_pu = 0.0;
    double cnxa_deg = 0.0;      // winding connection angle, degrees
};

// Two- or three-winding transformer (buses[2] == 0 for two windings).
struct Transformer {
    std::array<int, 3> buses{0, 0, 0};  // windings 1, 2, 3
    std::string ckt = "1";
    int status = 1;             // 2 windings: 0/1; 3 windings: 0 out, 1 in, 2 winding 2 out,
                                // 3 winding 3 out, 4 winding 1 out
    int metbus = 0;             // 2 windings: metered end bus; 3 windings: non-metered end bus
    Owners owners{};
    int cw = 1;                 // ratio code: 1 pu of bus base, 2 kV, 3 pu of nomv
    int cz = 1;                 // impedance code: 1 pu on system base, 2 pu on winding base,
                                // 3 load loss W and |Z| pu on winding base
    int cm = 1;                 // magnetising code: 1 pu on system base, 2 no-load loss W and
                                // exciting current pu on winding 1-2 base
    double mag1 = 0.0;          // magnetising admittance G (CM 1, pu) or no-load loss (CM 2, W)
    double mag2 = 0.0;          // B (CM 1, pu) or exciting current (CM 2, pu)
    double r12 = 0.0;           // impedances in the units CZ names
    double x12 = 0.0001;
    double sbase12_mva = 100.0; // winding base MVA of each impedance
    double r23 = 0.0;
    double x23 = 0.0001;
    double sbase23_mva = 100.0;
    double r31 = 0.0;
    double x31 = 0.0001;
    double sbase31_mva = 100.0;
    int zcod = 0;               // 3 windings: 0 impedances as given, 1 corrections on winding
    std::array<Winding, 3> windings{};
    std::string name;           // up to 40 characters
    std::string vecgrp;         // vector group, up to 12 characters
    int star_bus = 0;           // 3 windings: number of the internal star-point bus

    bool three_winding() const { return buses[2] != 0; }
};

int check_transformer(const Network& net, const Transformer& transformer);

// Part in the AC solution (the same three hooks as every kind the solution reads; see
// solution_hooks.hpp): the buses it joins, its admittance stamps, its injections.
// Joins its in-service windings' buses (through the star point for three windings).
void join_buses(const Transformer& transformer, BusLinks& links);
// Each in-service winding as a two-port with its ratio, phase shift and magnetising admittance.
void stamp_admittances(const Transformer& transformer, const SolutionContext& at, AdmittanceStamps& stamps);
inline void add_injections(const Transformer&, const SolutionContext&, BusInjections&) {}

// Whether winding w (0-based) of an in-service transformer takes part in a solution: a
// three-winding transformer's status 2, 3 and 4 leave winding 2, 3 and 1 out.
bool winding_in_service(const Transformer& transformer, int w);

// The first in-service winding (0-based) of an in-service three-winding transformer that has
// no impedance and joins an in-service bus, -1 when there is none: the star point is then
// that winding's bus seen through the winding's ideal ratio, and is left out of the problem.
int merged_winding(const Transformer& transformer, const BusLinks& links, double sbase_mva);

// A star point joined to one winding's bus (that winding has no impedance): its voltage is
// the bus voltage divided by the winding's complex ratio.
struct MergedStar {
    int network_bus = -1;  // index into Network::buses of the star point
    int problem_bus = -1;  // problem index of the winding's bus
    Complex ratio = 1.0;
};

// A star point of the problem and its in-service windings (problem bus, complex ratio), from
// which it takes its starting voltage while it holds no solved value.
struct StarStart {
    int bus = -1;
    std::vector<std::pair<int, Complex>> windings;
};

// Admittance entries of a transformer winding as a two-port: an ideal complex ratio tap_from
// on the `from` side (phase shift included), an ideal complex ratio tap_to on the `to` side,
// the series admittance y between them and the magnetising admittance ymag at the `from` bus.
struct TwoPortEntries {
    Complex ff, ft, tf, tt;
};
TwoPortEntries transformer_two_port(Complex tap_from, Complex tap_to, Complex y, Complex ymag);

// Series and magnetising admittance (per unit on the system base) of winding w (0-based) of a
// transformer: the whole impedance of a two-winding transformer, or the winding's share of
// the star equivalent of a three-winding one (to its star point), impedance corrections
// applied at the present settings. Magnetising admittance belongs to winding 1 only.
struct WindingAdmittances {
    Complex series;
    Complex magnetising;
};
WindingAdmittances winding_admittances(const Network& network, const Transformer& transformer, int w,
                                       double sbase_mva);

}  // namespace gridfold::pf
