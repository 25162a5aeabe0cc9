#include "core/solver/branch_model.hpp"

#include <algorithm>
#include <cmath>

#include "core/controls/impedance_correction.hpp"
#include "core/model/transformer_values.hpp"

namespace gridfold::pf {

namespace {
constexpr double kDeg = 3.14159265358979323846 / 180.0;
}  // namespace

Complex series_admittance(double r, double x) {
    if (std::hypot(r, x) < kSmallestImpedance) return 1.0 / Complex(0.0, kJumperReactance);
    return 1.0 / Complex(r, x);
}

Complex transformer_admittance(double r, double x, int cz, double sbase_w, double sbase) {
    const auto z = impedance_on_system_base(r, x, sbase_w > 0.0 ? sbase_w : sbase, cz, sbase);
    return z ? series_admittance(z->real(), z->imag()) : series_admittance(0.0, 0.0);
}

Complex magnetising_on_system_base(const Transformer& t, double sbase) {
    if (t.cm != 2) return Complex(t.mag1, t.mag2);
    const double s_w = t.sbase12_mva > 0.0 ? t.sbase12_mva : sbase;
    const double g = t.mag1 / 1e6 / s_w;
    const double b = -std::sqrt(std::max(t.mag2 * t.mag2 - g * g, 0.0));
    return Complex(g, b) * (s_w / sbase);
}

TwoPort line_two_port(const Branch& br) {
    const Complex y = series_admittance(br.r_pu, br.x_pu);
    const Complex half_b(0.0, br.b_pu / 2.0);
    return {y + half_b + Complex(br.gi_pu, br.bi_pu), -y, -y, y + half_b + Complex(br.gj_pu, br.bj_pu)};
}

TwoPort transformer_two_port(Complex tap_from, double tap_to, Complex y, Complex ymag) {
    const double a2 = std::norm(tap_from);
    return {y / a2 + ymag, -y / (std::conj(tap_from) * tap_to), -y / (tap_from * tap_to), y / (tap_to * tap_to)};
}

TwoPort two_winding_two_port(const Network& net, const Transformer& t, double sbase) {
    const Complex tap1 = std::polar(winding_ratio_pu(net, t, 0), t.windings[0].ang_deg * kDeg);
    const double tap2 = winding_ratio_pu(net, t, 1);
    return transformer_two_port(tap1, tap2, two_winding_admittance(net, t, sbase),
                                magnetising_on_system_base(t, sbase));
}

Complex two_winding_admittance(const Network& net, const Transformer& t, double sbase) {
    const Complex y = transformer_admittance(t.r12, t.x12, t.cz, t.sbase12_mva, sbase);
    const Complex f = winding_correction(net, t, 0);
    if (f == Complex(1.0, 0.0)) return y;
    const Complex z = f / y;
    return series_admittance(z.real(), z.imag());
}

std::array<Complex, 3> star_impedances(const Network& net, const Transformer& t, double sbase) {
    auto z_of = [&](double r, double x, double sb) {
        const auto z = impedance_on_system_base(r, x, sb > 0.0 ? sb : sbase, t.cz, sbase);
        return z ? *z : Complex(0.0, kJumperReactance);
    };
    const std::array<Complex, 3> f{winding_correction(net, t, 0), winding_correction(net, t, 1),
                                   winding_correction(net, t, 2)};
    const bool bus_to_bus = t.zcod == 1;
    const Complex z12 = z_of(t.r12, t.x12, t.sbase12_mva) * (bus_to_bus ? f[0] : 1.0);
    const Complex z23 = z_of(t.r23, t.x23, t.sbase23_mva) * (bus_to_bus ? f[1] : 1.0);
    const Complex z31 = z_of(t.r31, t.x31, t.sbase31_mva) * (bus_to_bus ? f[2] : 1.0);
    std::array<Complex, 3> star{(z12 + z31 - z23) / 2.0, (z12 + z23 - z31) / 2.0, (z23 + z31 - z12) / 2.0};
    if (!bus_to_bus)
        for (int w = 0; w < 3; ++w) star[w] *= f[w];
    return star;
}

TwoPort winding_two_port(const Network& net, const Transformer& t, int w, const Complex& z_star, double sbase) {
    const Complex tap = std::polar(winding_ratio_pu(net, t, w), t.windings[w].ang_deg * kDeg);
    const Complex ymag = w == 0 ? magnetising_on_system_base(t, sbase) : Complex(0.0, 0.0);
    // A winding's share of the star may have a negative resistance or reactance; only a
    // vanishing impedance is replaced.
    return transformer_two_port(tap, 1.0, series_admittance(z_star.real(), z_star.imag()), ymag);
}

}  // namespace gridfold::pf
