// Taking buses out of service and back (dscn/recn), and the walks over the branches and
// machines of one bus that the engine keeps between calls.
#pragma once

#include <cstddef>
#include <string>

#include "core/model/network.hpp"

namespace gridfold::pf {

// Isolates the bus (type 4) and takes every in-service line and transformer at it out of
// service, remembering what it switched. Returns an ErrorCode.
int disconnect_bus(Network& net, int number);

// Brings the bus back to the type it had before disconnect_bus (type 1 when it was never
// disconnected that way), then every element disconnect_bus switched off, at whatever bus,
// that touches this bus and whose other buses are all in service.
int reconnect_bus(Network& net, int number);

// Which elements a branch walk returns.
enum class WalkFilter : int { kInService = 1, kAll = 2 };

// Walk over the lines and two-winding transformers (nxtbrn) and, separately, the
// three-winding transformers (nxtbrn3) at one bus, in container order.
struct BranchWalk {
    bool started = false;
    int bus = 0;
    WalkFilter filter = WalkFilter::kAll;
    std::size_t next_line = 0;         // into Network::branches
    std::size_t next_transformer = 0;  // into Network::transformers, two-winding ones
    std::size_t next_three = 0;        // into Network::transformers, three-winding ones
};

struct BranchStep {
    int ierr = 0;
    int far_bus = 0;
    std::string ckt;
};

struct ThreeWindingStep {
    int ierr = 0;
    int second_bus = 0;  // the other two buses, in winding order
    int third_bus = 0;
    std::string ckt;
};

// Starts both walks at the bus; `count` receives the number of elements they will return.
int start_branch_walk(const Network& net, BranchWalk& walk, int bus, int filter, int* count);
BranchStep next_branch(const Network& net, BranchWalk& walk, int bus);
ThreeWindingStep next_three_winding(const Network& net, BranchWalk& walk, int bus);

// Walk over every machine at one bus, whatever its status.
struct MachineWalk {
    bool started = false;
    int bus = 0;
    std::size_t next = 0;  // into Network::machines
};

int start_machine_walk(const Network& net, MachineWalk& walk, int bus);
// ierr kNoMoreElements when every machine was returned.
int next_machine(const Network& net, MachineWalk& walk, int bus, std::string* id);

}  // namespace gridfold::pf
