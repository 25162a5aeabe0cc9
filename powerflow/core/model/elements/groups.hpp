// Records that group the network without changing an element: areas with their interchange
// schedules, zones, owners, transfers between areas, multi-section line groupings.
#pragma once

#include <string>
#include <vector>

#include "core/model/elements/common.hpp"

namespace gridfold::pf {

// Area with its interchange schedule.
struct Area {
    int number = 0;             // 1..9999
    int isw = 0;                // area slack bus, 0 = none
    double pdes_mw = 0.0;       // desired net interchange, MW (export positive)
    double ptol_mw = 10.0;      // interchange tolerance band, MW
    std::string name;           // up to 12 characters
};

// ISW a bus of the case or 0, PDES finite, PTOL finite and not negative, a name that fits.
int check_area(const Network& net, const Area& area);

struct Zone {
    int number = 0;             // 1..9999
    std::string name;           // up to 12 characters
};

struct Owner {
    int number = 0;             // 1..9999
    std::string name;           // up to 12 characters
};

// Scheduled transfer from one area to another.
struct InterAreaTransfer {
    int from_area = 0;
    int to_area = 0;
    std::string id = "1";       // transfer identifier, 1 character
    double ptran_mw = 0.0;      // scheduled transfer, MW (from -> to positive)
};

// Line made of sections between dummy buses; the grouping changes no element.
struct MultiSectionLine {
    int from_bus = 0;
    int to_bus = 0;
    std::string id = "&1";      // grouping identifier, starting with '&'
    int met = 1;                // metered end: 1 from_bus, 2 to_bus
    std::vector<int> dummy_buses;  // up to 9, in order from from_bus
};

}  // namespace gridfold::pf
