#include "core/model/elements/bus.hpp"

#include <cmath>

#include "core/model/identifiers.hpp"
#include "core/model/units.hpp"

namespace gridfold::pf {

int check_system(const SystemData& system) {
    if (!within(system.sbase_mva, kMinBaseMva, kMaxBaseMva)) return kInvalidValue;
    if (!std::isfinite(system.base_frequency_hz) || system.base_frequency_hz <= 0.0) return kInvalidValue;
    return kOk;
}

int check_bus(const Bus& bus) {
    if (!in_range(bus.ide, 1, 4) || !in_range(bus.area, 1, 9999) || !in_range(bus.zone, 1, 9999) ||
        !in_range(bus.owner, 1, 9999))
        return kInvalidCode;
    if (!finite({bus.base_kv, bus.vm_pu, bus.va_deg, bus.nvhi_pu, bus.nvlo_pu, bus.evhi_pu, bus.evlo_pu}))
        return kInvalidValue;
    if (!zero_or_within(bus.base_kv, kMinVoltageKv, kMaxVoltageKv) || bus.vm_pu <= 0.0) return kInvalidValue;
    if (!normalize_name(bus.name, kMaxBusNameLength)) return kInvalidIdentifier;
    return kOk;
}

}  // namespace gridfold::pf
