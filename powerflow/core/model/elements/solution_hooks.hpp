// The hooks through which every element kind of the AC solution gives its part of the problem.
//
// Each kind's header (bus-attached kinds and series kinds alike) declares the same three
// functions for one element, and the problem builder (core/solver/network_to_problem.cpp) calls
// them kind by kind:
//   join_buses(element, BusLinks&)                           the buses it joins for the island search;
//   stamp_admittances(element, const SolutionContext&, AdmittanceStamps&)   its admittance entries;
//   add_injections(element, const SolutionContext&, BusInjections&)         its constant-power and
//                                                                            constant-current parts.
// A kind with nothing for a hook declares it inline and empty. Out-of-service elements and
// elements at buses outside the problem give nothing: a hook checks that itself.
#pragma once

#include <cstdint>
#include <tuple>
#include <vector>

#include "core/model/network.hpp"
#include "core/solver/ac_problem.hpp"

namespace gridfold::pf {

// The island search's view of the buses: which are in service, and what joins them.
class BusLinks {
public:
    BusLinks(const Network& network, std::vector<uint8_t>& live, std::vector<std::vector<int>>& adjacent)
        : network_(network), live_(live), adjacent_(adjacent) {}
    const Network& network() const { return network_; }
    // Index into Network::buses of bus `number`, -1 when there is none.
    int index_of(int number) const {
        auto index = network_.bus_index.find(number);
        return index ? static_cast<int>(*index) : -1;
    }
    // Index of bus `number` when it is in service, -1 otherwise.
    int live_bus(int number) const {
        const int i = index_of(number);
        return i >= 0 && live_[i] ? i : -1;
    }
    // Puts the bus at `index` into service (a star point of an in-service transformer).
    void set_live(int index) { live_[index] = 1; }
    // Joins the buses at indices a and b.
    void join(int a, int b) {
        adjacent_[a].push_back(b);
        adjacent_[b].push_back(a);
    }

private:
    const Network& network_;
    std::vector<uint8_t>& live_;
    std::vector<std::vector<int>>& adjacent_;
};

// Where an element meets the problem: the problem index of each bus, and the star points
// merged into a winding's bus.
class SolutionContext {
public:
    SolutionContext(const Network& network, double sbase_mva, const std::vector<int>& problem_bus,
                    const std::vector<uint8_t>& solved, const std::vector<int>& merged_winding)
        : network(network),
          sbase_mva(sbase_mva),
          problem_bus_(problem_bus),
          solved_(solved),
          merged_winding_(merged_winding) {}

    const Network& network;
    const double sbase_mva;  // system base the problem's per-unit values refer to

    // Index into Network::buses of bus `number`, -1 when there is none.
    int index_of(int number) const {
        auto index = network.bus_index.find(number);
        return index ? static_cast<int>(*index) : -1;
    }
    // Problem index of bus `number`, -1 when the bus is not solved.
    int bus(int number) const {
        const int i = index_of(number);
        return i >= 0 ? problem_bus_[i] : -1;
    }
    // Whether the bus at `index` lies in an island that is solved (merged star points included).
    bool solved(int index) const { return solved_[index] != 0; }
    // The winding merged into the star point at `index`, -1 when none is.
    int merged_winding(int index) const { return merged_winding_[index]; }

private:
    const std::vector<int>& problem_bus_;
    const std::vector<uint8_t>& solved_;
    const std::vector<int>& merged_winding_;
};

// The admittance matrix as triplets (summed in the order they come), with what the starting
// voltages and the linear (dc) model need of the series elements.
struct AdmittanceStamps {
    explicit AdmittanceStamps(int buses) : diagonal(static_cast<std::size_t>(buses), Complex(0.0, 0.0)) {}

    // Entries off the diagonal as triplets; the diagonal summed per bus as stamped (shunts,
    // loads and every branch end add to it), which keeps the triplets to the branches'.
    std::vector<Eigen::Triplet<Complex, int>> triplets;
    std::vector<Complex> diagonal;
    // Phase shift (radians) from the first bus to the second of each shifting two-port.
    std::vector<std::tuple<int, int, double>> shifts;
    std::vector<DcBranch> dc_branches;
    std::vector<MergedStar> merged_stars;
    std::vector<StarStart> star_starts;

    void add(int i, int j, Complex y) {
        if (i == j)
            diagonal[static_cast<std::size_t>(i)] += y;
        else
            triplets.emplace_back(i, j, y);
    }
    // Two-port between problem buses f and t with the four admittance entries.
    void two_port(int f, int t, Complex yff, Complex yft, Complex ytf, Complex ytt) {
        add(f, f, yff);
        add(t, t, ytt);
        add(f, t, yft);
        add(t, f, ytf);
    }
    // The series admittance y as the linear (dc) model sees it: its susceptance at flat
    // magnitudes, divided by the product of the ratios around it.
    void dc(int f, int t, Complex y, double ratios, double shift) {
        if (f == t) return;
        dc_branches.push_back({f, t, -y.imag() / ratios, shift});
    }
};

// Constant-power injections (generation minus load, per unit) and constant-current loads at
// 1 pu voltage (drawn: the injection is -current * |V|), by problem bus.
struct BusInjections {
    Eigen::VectorXcd& power;
    Eigen::VectorXcd& current;
};

}  // namespace gridfold::pf
