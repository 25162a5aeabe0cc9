#include "core/controls/impedance_correction.hpp"

#include <algorithm>
#include <vector>

namespace gridfold::pf {

const ImpedanceCorrection* correction_table(const Network& net, int number) {
    if (number == 0) return nullptr;
    for (const auto& table : net.impedance_corrections)
        if (table.number == number) return &table;
    return nullptr;
}

std::complex<double> correction_factor(const ImpedanceCorrection& table, double t) {
    if (table.points.empty()) return 1.0;
    // Tables are written in rising T; sorting a copy makes the lookup independent of that.
    std::vector<CorrectionPoint> points = table.points;
    std::stable_sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.t < b.t; });
    auto factor = [](const CorrectionPoint& p) { return std::complex<double>(p.f_re, p.f_im); };
    if (t <= points.front().t) return factor(points.front());
    if (t >= points.back().t) return factor(points.back());
    const auto upper =
        std::upper_bound(points.begin(), points.end(), t, [](double v, const auto& p) { return v < p.t; });
    const auto lower = upper - 1;
    const double span = upper->t - lower->t;
    if (!(span > 0.0)) return factor(*upper);
    const double share = (t - lower->t) / span;
    return factor(*lower) + share * (factor(*upper) - factor(*lower));
}

double correction_setting(const Network& net, const Transformer& tr, int w, double windv, double ang_deg) {
    const int cod = std::abs(tr.windings[w].cod);
    if (cod == 3 || cod == 5) return ang_deg;
    if (tr.cw != 2) return windv;
    double nominal = tr.windings[w].nomv_kv;
    if (!(nominal > 0.0)) {
        const Bus* bus = net.bus(tr.buses[w]);
        nominal = bus && bus->base_kv > 0.0 ? bus->base_kv : 1.0;
    }
    return windv / nominal;
}

std::complex<double> winding_correction(const Network& net, const Transformer& tr, int w) {
    const Winding& wd = tr.windings[w];
    const ImpedanceCorrection* table = correction_table(net, wd.tab);
    if (!table) return 1.0;
    return correction_factor(*table, correction_setting(net, tr, w, wd.windv, wd.ang_deg));
}

}  // namespace gridfold::pf
