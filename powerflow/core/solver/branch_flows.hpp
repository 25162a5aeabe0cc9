// Power flowing into a line, a two-winding transformer or one winding of a three-winding
// transformer at each of its ends, from the bus voltages the working case holds (those of
// the last solution).
#pragma once

#include <complex>
#include <string_view>

#include "core/model/network.hpp"

namespace gridfold::pf {

struct BranchEndFlows {
    std::complex<double> at_first_mva;   // into the element at the bus named first, MW + j Mvar
    std::complex<double> at_second_mva;  // into the element at its other end (the star point
                                         // for a winding of a three-winding transformer)
    double rate1_mva = 0.0;  // first rating of the line or winding
};

// Line or two-winding transformer between ibus and jbus with circuit ckt, either
// orientation; flows are given with ibus first. An element out of service, or at an
// isolated bus, carries nothing. Error codes: kBusNotFound, kElementNotFound.
int branch_end_flows(const Network& net, int ibus, int jbus, std::string_view ckt, BranchEndFlows* out);

// Winding at ibus of the three-winding transformer of buses ibus, jbus, kbus (any order of
// jbus and kbus) with circuit ckt; at_second_mva is at the star point.
int winding_end_flows(const Network& net, int ibus, int jbus, int kbus, std::string_view ckt, BranchEndFlows* out);

// The quantities brnmsc and wnddat report for one end (the first bus): P, Q, MVA of the
// flow there, and PCTRTA, the larger of the two ends' MVA in percent of RATE1.
// kInvalidOption for another name, kInvalidValue for PCTRTA of an element without RATE1.
int end_flow_quantity(const BranchEndFlows& flows, std::string_view name, double* value);

}  // namespace gridfold::pf
