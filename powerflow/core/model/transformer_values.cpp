#include "core/model/transformer_values.hpp"

#include <cmath>

namespace gridfold::pf {

std::optional<std::complex<double>> impedance_on_system_base(double r, double x, double sbase_mva, int cz,
                                                             double system_sbase_mva, double nomv_kv, double bus_kv) {
    double r_w = r, x_w = x;
    if (cz == 1) return r == 0.0 && x == 0.0 ? std::nullopt : std::optional(std::complex<double>(r, x));
    if (cz == 3) {
        r_w = r / 1.0e6 / sbase_mva;
        const double z = x;
        if (z <= 0.0 || z < r_w) return std::nullopt;
        x_w = std::sqrt(z * z - r_w * r_w);
    }
    if (r_w == 0.0 && x_w == 0.0) return std::nullopt;
    const double ratio = nomv_kv > 0.0 && bus_kv > 0.0 ? nomv_kv / bus_kv : 1.0;
    const double scale = system_sbase_mva / sbase_mva * ratio * ratio;
    return std::complex<double>(r_w * scale, x_w * scale);
}

double winding_ratio_scale(const Network& net, const Transformer& t, int w) {
    const Bus* bus = net.bus(t.buses[w]);
    const double base = bus && bus->base_kv > 0.0 ? bus->base_kv : 0.0;
    switch (t.cw) {
        case 2:
            return 1.0 / (base > 0.0 ? base : 1.0);
        case 3:
            return base <= 0.0 || t.windings[w].nomv_kv <= 0.0 ? 1.0 : t.windings[w].nomv_kv / base;
        default:
            return 1.0;
    }
}

double winding_ratio_pu(const Network& net, const Transformer& t, int w) {
    return t.windings[w].windv * winding_ratio_scale(net, t, w);
}

}  // namespace gridfold::pf
