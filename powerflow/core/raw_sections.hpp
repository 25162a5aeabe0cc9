// The data sections of a RAW case, in file order, after the system-wide data.
#pragma once

#include <string>
#include <vector>

namespace gridfold::pf {

// Positions of the sections of version 35 (the layout the writer produces).
enum class RawSection : std::size_t {
    kBus = 0,
    kLoad,
    kFixedShunt,
    kGenerator,
    kBranch,
    kSwitchingDevice,
    kTransformer,
    kArea,
    kTwoTerminalDc,
    kVscDc,
    kImpedanceCorrection,
    kMultiTerminalDc,
    kMultiSectionLine,
    kZone,
    kInterAreaTransfer,
    kOwner,
    kFacts,
    kSwitchedShunt,
    kGne,
    kInductionMachine,
    kSubstation,
};

// Section names as the terminator records spell them ("BUS", "LOAD", ...), by RAW version.
const std::vector<std::string>& raw_sections(int version);

}  // namespace gridfold::pf
