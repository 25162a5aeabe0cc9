// Areas, zones and owners referred to by elements: each number in use has its record.
#pragma once

#include <string>
#include <vector>

#include "core/model/network.hpp"

namespace gridfold::pf::formats {

// The area, zone and owner records of the network, followed by a default record (no name,
// no schedule) for every number an element refers to that has none, in number order.
struct ReferenceTables {
    std::vector<Area> areas;
    std::vector<Zone> zones;
    std::vector<Owner> owners;
    std::vector<int> created_areas, created_zones, created_owners;
};
ReferenceTables completed_references(const Network& net);

// Adds the missing records to the network; notes, when given, receives one line per kind of
// record created, naming the numbers.
void complete_references(Network& net, std::vector<std::string>* notes);

}  // namespace gridfold::pf::formats
