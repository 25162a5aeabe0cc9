#include "core/controls/vsc_dc_line.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace gridfold::pf {

namespace {

constexpr double kSqrt3 = 1.73205080756887729353;

bool converter_in_use(const VscConverter& c) { return c.bus != 0 && c.type != 0; }

// Converter loss (MW) at apparent power s_mva and voltage v_pu on a bus of base_kv.
double converter_loss(const VscConverter& c, double s_mva, double v_pu, double base_kv) {
    double kw = c.aloss_kw;
    if (c.bloss_kw_per_a != 0.0 && base_kv > 0.0 && v_pu > 0.0)
        kw += c.bloss_kw_per_a * 1000.0 * s_mva / (kSqrt3 * v_pu * base_kv);
    return std::max(kw, c.minloss_kw) / 1000.0;
}

}  // namespace

double vsc_rating_mva(const VscConverter& c, double v_pu, double base_kv) {
    double s = std::numeric_limits<double>::infinity();
    if (c.smax_mva > 0.0) s = c.smax_mva;
    if (c.imax_a > 0.0 && base_kv > 0.0) s = std::min(s, kSqrt3 * v_pu * base_kv * c.imax_a / 1000.0);
    return s;
}

std::optional<std::string> vsc_unsupported(const VscDcLine& line) {
    const VscConverter& a = line.converters[0];
    const VscConverter& b = line.converters[1];
    if (!converter_in_use(a) || !converter_in_use(b)) return {};  // carries nothing
    if (a.type == b.type)
        return a.type == 1 ? "both converters hold the dc voltage, none sets the power"
                           : "both converters set their power, none holds the dc voltage";
    const VscConverter& v = a.type == 1 ? a : b;
    if (!(v.dcset > 0.0)) return "no dc voltage scheduled";
    for (const VscConverter* c : {&a, &b})
        if (c->mode == 2 && !(std::abs(c->acset) > 0.0 && std::abs(c->acset) <= 1.0)) return "power factor outside 0..1";
    return {};
}

bool vsc_flows(const VscDcLine& line, int power, const double s_mva[2], const double v_pu[2], const double base_kv[2],
               VscFlows& f) {
    const int other = 1 - power;
    const VscConverter& cp = line.converters[power];
    const VscConverter& cv = line.converters[other];
    f = VscFlows{};
    f.loss_mw[power] = converter_loss(cp, s_mva[power], v_pu[power], base_kv[power]);
    f.loss_mw[other] = converter_loss(cv, s_mva[other], v_pu[other], base_kv[other]);
    // Power into the dc line at the power converter: what it draws from its bus less its loss.
    const double p_dc = -cp.dcset - f.loss_mw[power];
    const double v = cv.dcset, r = line.rdc_ohm;
    double id;
    if (r <= 0.0) {
        id = p_dc / v;
    } else {
        const double disc = v * v + 4.0 * r * p_dc;
        if (disc < 0.0) return false;
        id = (-v + std::sqrt(disc)) / (2.0 * r);
    }
    f.idc_ka = id;
    f.vdc_kv[other] = v;
    f.vdc_kv[power] = v + r * id;
    f.p_mw[power] = cp.dcset;
    f.p_mw[other] = v * id - f.loss_mw[other];
    return true;
}

void add_vsc_voltage_controls(const Network& net, DerivedProblem& d, std::vector<uint8_t>& held,
                              std::vector<uint8_t>& supplying) {
    AcProblem& p = d.problem;
    auto pb = [&](int number) {
        const auto index = net.bus_index.find(number);
        return index ? d.problem_bus[*index] : -1;
    };
    for (int l = 0; l < static_cast<int>(net.vsc_dc_lines.size()); ++l) {
        const VscDcLine& line = net.vsc_dc_lines[l];
        if (line.mdc == 0 || vsc_unsupported(line)) continue;
        if (!converter_in_use(line.converters[0]) || !converter_in_use(line.converters[1])) continue;
        if (pb(line.converters[0].bus) < 0 || pb(line.converters[1].bus) < 0) continue;
        for (int k = 0; k < 2; ++k) {
            const VscConverter& c = line.converters[k];
            if (c.mode != 1) continue;
            const int gen = pb(c.bus);
            int reg = c.vsreg != 0 && c.vsreg != c.bus ? pb(c.vsreg) : gen;
            if (reg < 0 || held[reg]) reg = gen;  // a remote bus already held: the converter holds its own
            if (held[reg] || supplying[gen]) {
                d.converters_not_holding.push_back({l, k, -1});
                continue;
            }
            held[reg] = supplying[gen] = 1;
            VoltageControl vc;
            vc.gen_bus = gen;
            vc.regulated_bus = reg;
            vc.v_set_pu = c.acset;
            const double rating = vsc_rating_mva(c, c.acset, net.buses[d.network_bus[gen]].base_kv);
            vc.q_max_pu = std::min(c.maxq_mvar, rating) / p.base_mva;
            vc.q_min_pu = std::max(c.minq_mvar, -rating) / p.base_mva;
            if (vc.q_min_pu > vc.q_max_pu) std::swap(vc.q_min_pu, vc.q_max_pu);
            d.converter_controls.push_back({l, k, static_cast<int>(p.controls.size())});
            p.controls.push_back(vc);
            d.control_machines.emplace_back();
            p.v_start[reg] = std::polar(c.acset, std::arg(p.v_start[reg]));
            p.v_flat_magnitude[reg] = c.acset;
        }
    }
}

}  // namespace gridfold::pf
