// The adders of the engine door (PSSE_ENGINE.add_*), in the order a small case is added: each
// returns a status section for the report, whose total key counts one kind of element.
#pragma once

#include <array>

namespace gridfold::driver {

struct Adder {
    const char* method;     // PSSE_ENGINE method
    const char* section;    // status report section it fills
    const char* total_key;  // key of the section's total
    const char* kind;       // kind of element in the run record
};

inline constexpr std::array<Adder, 8> kAdders = {{
    {"add_buses", "Bus_Status", "total_bus", "buses"},
    {"add_line_branch", "Line_Branch_Status", "total_line_branch", "line_branches"},
    {"add_trn_branch", "Transformer_Branch_Status", "total_trn_branch", "transformers"},
    {"add_gen", "Generator_Status", "total_gen", "generators"},
    {"add_fixed_shunt", "Fixed_Shunt_Status", "total_fsh", "fixed_shunts"},
    {"add_switched_shunt", "Switched_Shunt_Status", "total_swsh", "switched_shunts"},
    {"add_load", "Load_Status", "total_lod", "loads"},
    {"add_induction_machine", "Induction_Machine_Status", "total_ind", "induction_machines"},
}};

}  // namespace gridfold::driver
