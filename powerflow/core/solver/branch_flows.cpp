#include "core/solver/branch_flows.hpp"

#include <algorithm>
#include <cmath>

#include "core/model/error_codes.hpp"
#include "core/model/model_edit.hpp"
#include "core/solver/branch_model.hpp"
#include "core/solver/network_to_problem.hpp"  // winding_in_service

namespace gridfold::pf {

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

double system_base(const Network& net) { return net.system.sbase_mva > 0.0 ? net.system.sbase_mva : 100.0; }

// Voltage of an in-service bus; nullptr for an isolated one.
bool bus_voltage(const Network& net, int number, Complex* v) {
    const Bus* bus = net.bus(number);
    if (bus == nullptr || bus->ide == kIsolatedBus) return false;
    *v = std::polar(bus->vm_pu, bus->va_deg * kDeg);
    return true;
}

// Flows at both ends of a two-port, in MVA, from the end voltages.
void two_port_flows(const TwoPort& y, const Complex& vf, const Complex& vt, double sbase, BranchEndFlows* out) {
    out->at_first_mva = vf * std::conj(y.yff * vf + y.yft * vt) * sbase;
    out->at_second_mva = vt * std::conj(y.ytf * vf + y.ytt * vt) * sbase;
}

}  // namespace

int branch_end_flows(const Network& net, int ibus, int jbus, std::string_view ckt, BranchEndFlows* out) {
    if (!net.bus(ibus) || !net.bus(jbus)) return kBusNotFound;
    *out = BranchEndFlows{};
    const double sbase = system_base(net);
    bool reversed = false;
    TwoPort y{};
    bool in_service = false;
    int from = ibus, to = jbus;
    if (auto line = find_branch(net, ibus, jbus, ckt, &reversed)) {
        const Branch& br = net.branches[*line];
        out->rate1_mva = br.ratings[0];
        in_service = br.status != 0;
        y = line_two_port(br);
        from = br.from_bus, to = br.to_bus;
    } else if (auto tr_index = find_transformer(net, ibus, jbus, 0, ckt)) {
        const Transformer& tr = net.transformers[*tr_index];
        out->rate1_mva = tr.windings[0].ratings[0];
        in_service = tr.status != 0;
        y = two_winding_two_port(net, tr, sbase);
        from = tr.buses[0], to = tr.buses[1];
    } else {
        return kElementNotFound;
    }
    Complex vf, vt;
    if (!in_service || !bus_voltage(net, from, &vf) || !bus_voltage(net, to, &vt)) return kOk;
    two_port_flows(y, vf, vt, sbase, out);
    if (from != ibus) std::swap(out->at_first_mva, out->at_second_mva);
    return kOk;
}

int winding_end_flows(const Network& net, int ibus, int jbus, int kbus, std::string_view ckt, BranchEndFlows* out) {
    if (!net.bus(ibus) || !net.bus(jbus) || !net.bus(kbus)) return kBusNotFound;
    *out = BranchEndFlows{};
    auto index = find_transformer(net, ibus, jbus, kbus, ckt);
    if (!index || !net.transformers[*index].three_winding()) return kElementNotFound;
    const Transformer& tr = net.transformers[*index];
    const int w = static_cast<int>(std::find(tr.buses.begin(), tr.buses.end(), ibus) - tr.buses.begin());
    out->rate1_mva = tr.windings[w].ratings[0];
    Complex vb, vstar;
    if (!winding_in_service(tr, w) || !bus_voltage(net, ibus, &vb) || !bus_voltage(net, tr.star_bus, &vstar))
        return kOk;
    const double sbase = system_base(net);
    const auto z_star = star_impedances(net, tr, sbase);
    if (std::abs(z_star[w]) >= kSmallestImpedance) {
        two_port_flows(winding_two_port(net, tr, w, z_star[w], sbase), vb, vstar, sbase, out);
        return kOk;
    }
    // A winding without impedance joins its bus to the star point: the solution merges the
    // two, so its flow is what the other windings take from the star point.
    Complex from_star(0.0, 0.0);
    for (int other = 0; other < 3; ++other) {
        Complex vo;
        if (other == w || !winding_in_service(tr, other) || !bus_voltage(net, tr.buses[other], &vo)) continue;
        BranchEndFlows flows;
        two_port_flows(winding_two_port(net, tr, other, z_star[other], sbase), vo, vstar, sbase, &flows);
        from_star -= flows.at_second_mva;
    }
    const Complex ymag = w == 0 ? magnetising_on_system_base(tr, sbase) : Complex(0.0, 0.0);
    out->at_second_mva = from_star;
    out->at_first_mva = -from_star + std::norm(vb) * std::conj(ymag) * sbase;
    return kOk;
}

int end_flow_quantity(const BranchEndFlows& flows, std::string_view name, double* value) {
    if (name == "P") {
        *value = flows.at_first_mva.real();
    } else if (name == "Q") {
        *value = flows.at_first_mva.imag();
    } else if (name == "MVA") {
        *value = std::abs(flows.at_first_mva);
    } else if (name == "PCTRTA") {
        if (!(flows.rate1_mva > 0.0)) return kInvalidValue;
        *value = 100.0 * std::max(std::abs(flows.at_first_mva), std::abs(flows.at_second_mva)) / flows.rate1_mva;
    } else {
        return kInvalidOption;
    }
    return kOk;
}

}  // namespace gridfold::pf
