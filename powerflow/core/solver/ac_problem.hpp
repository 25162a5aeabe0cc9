// Solver data of one AC power-flow problem: everything the Newton-Raphson kernel
// needs, in per unit on the system base and internal bus indices 0..n-1.
// Built from the network model by build_ac_problem (network_to_problem.hpp);
// the kernel never sees bus numbers or out-of-service equipment.
#pragma once

#include <Eigen/SparseCore>
#include <complex>
#include <cstdint>
#include <vector>

namespace gridfold::pf {

using Complex = std::complex<double>;
using ComplexSparse = Eigen::SparseMatrix<Complex, Eigen::ColMajor, int>;

// A machine-controlled voltage: the machines at gen_bus hold the magnitude of
// regulated_bus (the same bus for local control) at v_set_pu while their total
// reactive output stays within [q_min_pu, q_max_pu].
struct VoltageControl {
    int gen_bus = -1;        // internal index of the bus whose machines supply Q
    int regulated_bus = -1;  // internal index of the bus whose magnitude is held
    double v_set_pu = 1.0;
    double q_min_pu = -1e10;  // total lower reactive limit of the machines
    double q_max_pu = 1e10;   // total upper reactive limit of the machines
};

// A switched shunt that may step its blocks to keep regulated_bus within [v_low, v_high].
struct ShuntControl {
    int bus = -1;                  // internal index of the shunt's bus
    int regulated_bus = -1;        // internal index of the bus whose magnitude is watched
    double v_low_pu = 0.0;
    double v_high_pu = 2.0;
    std::vector<double> steps_pu;  // susceptance of one step of each block, in block order
    std::vector<int> max_steps;    // steps available in each block
    std::vector<int> on_steps;     // steps switched on (updated by the adjustment)
    double b_present_pu = 0.0;     // susceptance in the admittance matrix (updated by the adjustment)
};

// A branch of the linear (dc) load-flow model: P from `from` to `to` is
// b * (theta_from - theta_to - shift).
struct DcBranch {
    int from = -1;
    int to = -1;
    double b = 0.0;      // series susceptance, scaled by the ratios of transformers
    double shift = 0.0;  // phase shift (radians) from `from` to `to`
};

struct AcProblem {
    int n = 0;                // number of buses solved
    double base_mva = 100.0;  // system base
    ComplexSparse ybus;       // bus admittance matrix: branches, transformers, shunts, constant-admittance loads
    // Constant-power injection (generation minus load) at each bus. At the generator
    // bus of an active voltage control it excludes the reactive output of the machines.
    Eigen::VectorXcd s_power;
    // Constant-current load at 1 pu voltage: the injection is -s_current * |V|.
    Eigen::VectorXcd s_current;
    std::vector<uint8_t> is_swing;          // 1 for the angle/magnitude reference of an island
    std::vector<VoltageControl> controls;   // machine voltage controls (excluding swing buses)
    std::vector<ShuntControl> shunt_controls;
    Eigen::VectorXcd v_case;                // voltages held by the case
    Eigen::VectorXcd v_start;               // v_case with held magnitudes at their setpoints
    Eigen::VectorXd v_flat_magnitude;       // magnitudes used by a flat start (1.0 or a setpoint)
    // Angles (radians) used by a flat start: the island's swing angle shifted by every phase
    // shift met on the way from the swing bus, so that a flat start carries no flow
    // through phase-shifting windings.
    Eigen::VectorXd v_flat_angle;
    std::vector<DcBranch> dc_branches;  // the network as the linear (dc) model sees it
    // Angles (radians) of the linear load flow, computed on first use; empty until then or
    // when that model cannot be solved (dc_angle_failed).
    Eigen::VectorXd dc_angle;
    bool dc_angle_failed = false;
};

}  // namespace gridfold::pf
