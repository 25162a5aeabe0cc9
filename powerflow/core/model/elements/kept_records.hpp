// Records kept for the case file only: generic network elements, substations and the raw
// values they hold as written. The solution reads none of them.
#pragma once

#include <string>
#include <vector>

namespace gridfold::pf {

// A text or number exactly as a case file holds it; used for records kept for the file only.
struct RawValue {
    std::string text;
    bool quoted = false;
};
using RawValues = std::vector<RawValue>;

// Generic network element (a device of a user model): held as written.
struct GneDevice {
    std::string name;           // up to 12 characters
    std::string model;          // model name
    std::vector<int> buses;     // terminal buses (NTERM of them)
    int status = 1;
    int owner = 1;
    int nmetr = 1;              // metered terminal
    RawValues reals;            // the model's real, integer and character data
    RawValues integers;
    RawValues chars;
};

// Substation with its nodes, switching devices and equipment terminals (version 34 on).
struct SubstationNode {
    int ni = 0;                 // node number within the substation
    std::string name;
    int bus = 0;                // bus the node belongs to
    int status = 1;
    double vm_pu = 1.0;
    double va_deg = 0.0;
};
struct SubstationTerminal {
    int bus = 0;                // bus of the equipment
    RawValues rest;             // NI, TYPE, ID and the type's fields, as written
};
struct Substation {
    int number = 0;
    std::string name;
    double lati_deg = 0.0;      // latitude and longitude, degrees
    double long_deg = 0.0;
    double srg_ohm = 0.1;       // substation grounding resistance, ohms
    std::vector<SubstationNode> nodes;
    std::vector<RawValues> switching_devices;  // as written
    std::vector<SubstationTerminal> terminals;
};

}  // namespace gridfold::pf
