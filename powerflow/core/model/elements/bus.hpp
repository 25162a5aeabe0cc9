// Bus: the node every other element attaches to, and the system-wide data of a case. Buses
// have no solution hooks: the problem builder finds the islands and numbers the solved buses,
// and the other kinds' hooks refer to them by bus number.
#pragma once

#include <string>

#include "core/model/elements/common.hpp"

namespace gridfold::pf {

// Bus numbers a user may give; internal star points of three-winding transformers are
// numbered from kFirstStarPointBus upwards and never appear in a case file.
inline constexpr int kMinBusNumber = 1;
inline constexpr int kMaxBusNumber = 999999;
inline constexpr int kFirstStarPointBus = 1000000;

// Bus type codes (IDE).
enum BusType : int { kLoadBus = 1, kGeneratorBus = 2, kSwingBus = 3, kIsolatedBus = 4 };

// System-wide data.
struct SystemData {
    double sbase_mva = 100.0;         // system base, MVA; per-unit quantities refer to it
    double base_frequency_hz = 60.0;  // nominal frequency, Hz
    int xfrrat = 0;                   // transformer rating units of the file: 0 or less MVA, above 0 current
    int nxfrat = 0;                   // line rating units of the file: 0 or less MVA, above 0 current
    std::string title1;               // two free heading lines kept with the case
    std::string title2;
};

struct Bus {
    int number = 0;             // 1..999999, or >= 1000000 for a star point
    std::string name;           // up to 12 characters
    double base_kv = 0.0;       // base voltage, kV (0 = not given)
    int ide = kLoadBus;         // BusType
    int area = 1;
    int zone = 1;
    int owner = 1;
    double vm_pu = 1.0;         // voltage magnitude, per unit of base_kv
    double va_deg = 0.0;        // voltage angle, degrees
    double nvhi_pu = 1.1;       // normal voltage limits, per unit
    double nvlo_pu = 0.9;
    double evhi_pu = 1.1;       // emergency voltage limits, per unit
    double evlo_pu = 0.9;
    bool star_point = false;    // internal star point of a three-winding transformer
};

int check_system(const SystemData& system);  // SBASE within its band, BASFRQ positive
int check_bus(const Bus& bus);
// A bus number a user may give (not a star point).
inline bool valid_bus_number(int number) { return number >= kMinBusNumber && number <= kMaxBusNumber; }

}  // namespace gridfold::pf
