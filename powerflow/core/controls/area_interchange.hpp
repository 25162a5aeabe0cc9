// Area interchange control between Newton solutions.
//
// An area's net interchange is the active power it exports: the flow out of the area on its
// tie lines and tie transformers (lines and two-winding transformers metered at their
// metered end, each winding of a three-winding transformer whose windings lie in several
// areas at its own bus), and, when loads count too, the power of loads that belong to another
// area than their bus's (a load at a bus of area A assigned to area B is exported by A and
// imported by B).
//
// Each area with a slack bus (ISW) holds its interchange at its schedule PDES within its
// tolerance PTOL: after a converged solution, an area outside its band moves the active
// power of its slack bus's machines by the difference, and the network is solved again. A
// slack bus that is an island's swing bus moves anyway with the island's balance and is not
// moved here; a slack bus without an in-service machine cannot act and is named once. An area
// whose export does not come closer to its schedule after a move (its slack bus lies in
// another island than its ties, say) is named, its moves are taken back and it is no longer
// moved.
#pragma once

#include "core/model/network.hpp"
#include "core/solver/ac_problem.hpp"
#include "core/solver/network_to_problem.hpp"

#include <functional>
#include <string>
#include <vector>

namespace gridfold::pf {

enum class InterchangeMode : int { off = 0, tie_lines = 1, tie_lines_and_loads = 2 };

// Net export of every area of the case (MW), indexed like Network::areas, at the voltages v of
// the derived problem.
std::vector<double> area_exports(const Network& network, const DerivedProblem& derived, const Eigen::VectorXcd& v,
                                 InterchangeMode mode);

class AreaInterchange {
public:
    using Lines = std::function<void(const std::string&)>;

    // Collects the areas whose slack bus can move; areas whose slack bus cannot are named.
    void build(const Network& network, const DerivedProblem& derived, InterchangeMode mode, const std::string& name,
               const Lines& say);

    // One round at converged voltages v: every area outside its band moves its slack bus's
    // scheduled injection in `scheduled` (and in the problem's). Returns the areas moved.
    int adjust(const Network& network, const DerivedProblem& derived, AcProblem& problem, Eigen::VectorXcd& scheduled,
               const Eigen::VectorXcd& v, const std::string& name, const Lines& say);

    // Adds each slack bus's total move to its machines' active power, shared by machine base.
    void write_back(Network& network) const;

    bool any_moved() const { return moved_; }

private:
    struct Slack {
        std::size_t area = 0;        // index into Network::areas
        int bus = -1;                // problem index of the slack bus
        std::vector<int> machines;   // in-service machines at the slack bus
        double moved_mw = 0.0;       // total move since build()
        double last_error_mw = 0.0;  // schedule minus export before the last move (0: none yet)
        bool stopped = false;        // its export does not follow the slack bus
    };
    InterchangeMode mode_ = InterchangeMode::off;
    std::vector<Slack> slacks_;
    bool moved_ = false;
};

}  // namespace gridfold::pf
