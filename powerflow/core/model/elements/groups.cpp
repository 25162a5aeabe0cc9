#include "core/model/elements/groups.hpp"

#include "core/model/identifiers.hpp"
#include "core/model/network.hpp"

namespace gridfold::pf {

int check_area(const Network& net, const Area& r) {
    if (!bus_reference_ok(net, r.isw, true)) return kBusNotFound;
    if (!finite({r.pdes_mw, r.ptol_mw}) || r.ptol_mw < 0.0) return kInvalidValue;
    if (!normalize_name(r.name, kMaxBusNameLength)) return kInvalidIdentifier;
    return kOk;
}

}  // namespace gridfold::pf
