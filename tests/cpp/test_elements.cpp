// The element kinds' parts of the AC solution, one kind at a time: admittance stamps and
// injections against values worked out by hand, and the Network's bus index and revision.
#include <Eigen/Dense>

#include <cmath>
#include <complex>
#include <vector>

#include "check.hpp"
#include "core/model/elements/solution_hooks.hpp"
#include "core/model/model_edit.hpp"
#include "core/solver/network_to_problem.hpp"

namespace {

namespace pf = gridfold::pf;
using Complex = std::complex<double>;

constexpr double kPi = 3.14159265358979323846;

bool near(Complex a, Complex b, double tolerance = 1e-12) { return std::abs(a - b) <= tolerance * (1.0 + std::abs(b)); }

// A network of buses 1..n (every bus a load bus at 230 kV) on a 100 MVA base.
pf::Network buses(int n) {
    pf::Network net;
    for (int number = 1; number <= n; ++number) {
        const int code =
            pf::set_bus(net, number, pf::EditMode::kCreateOrChange, [](pf::Bus& b) { b.base_kv = 230.0; }, 1000);
        REQUIRE(code == pf::kOk);
    }
    return net;
}

// Every bus of the network solved, problem index = index into Network::buses, no star point
// merged: the context in which an element's hooks are checked on their own.
struct Solved {
    explicit Solved(const pf::Network& net)
        : problem_bus(net.buses.size()),
          solved(net.buses.size(), 1),
          merged(net.buses.size(), -1),
          power(Eigen::VectorXcd::Zero(static_cast<Eigen::Index>(net.buses.size()))),
          current(Eigen::VectorXcd::Zero(static_cast<Eigen::Index>(net.buses.size()))),
          context(net, net.system.sbase_mva, problem_bus, solved, merged),
          stamps(static_cast<int>(net.buses.size())),
          injections{power, current} {
        for (std::size_t i = 0; i < problem_bus.size(); ++i) problem_bus[i] = static_cast<int>(i);
    }
    // The admittance matrix the stamps sum to.
    Eigen::MatrixXcd ybus() const {
        const auto n = static_cast<Eigen::Index>(problem_bus.size());
        Eigen::MatrixXcd y = Eigen::MatrixXcd::Zero(n, n);
        for (const auto& t : stamps.triplets) y(t.row(), t.col()) += t.value();
        for (Eigen::Index k = 0; k < n; ++k) y(k, k) += stamps.diagonal[static_cast<std::size_t>(k)];
        return y;
    }
    std::vector<int> problem_bus;
    std::vector<uint8_t> solved;
    std::vector<int> merged;
    Eigen::VectorXcd power, current;
    pf::SolutionContext context;
    pf::AdmittanceStamps stamps;
    pf::BusInjections injections;
};

}  // namespace

TEST("a line stamps its pi model, its end shunts and its dc susceptance, and nothing when out of service") {
    pf::Network net = buses(3);
    auto line = [](pf::Branch& b) {
        b.r_pu = 0.01;
        b.x_pu = 0.1;
        b.b_pu = 0.02;
        b.gi_pu = 0.001;
        b.bi_pu = 0.003;
        b.bj_pu = -0.004;
    };
    REQUIRE(pf::set_branch(net, 1, 3, "1", pf::EditMode::kCreateOrChange, line) == pf::kOk);
    Solved s(net);
    stamp_admittances(net.branches[0], s.context, s.stamps);
    const Eigen::MatrixXcd y = s.ybus();
    // 1 / (0.01 + j0.1) = (0.01 - j0.1) / 0.0101
    const Complex series(0.01 / 0.0101, -0.1 / 0.0101);
    CHECK(near(y(0, 0), series + Complex(0.001, 0.01 + 0.003)));
    CHECK(near(y(2, 2), series + Complex(0.0, 0.01 - 0.004)));
    CHECK(near(y(0, 2), -series));
    CHECK(near(y(2, 0), -series));
    CHECK(y.row(1).norm() == 0.0 && y.col(1).norm() == 0.0);
    REQUIRE(s.stamps.dc_branches.size() == 1);
    CHECK(std::abs(s.stamps.dc_branches[0].b - 0.1 / 0.0101) < 1e-12);
    CHECK(s.stamps.shifts.empty());

    // Out of service, or an end outside the problem: no entry at all.
    net.branches[0].status = 0;
    Solved off(net);
    stamp_admittances(net.branches[0], off.context, off.stamps);
    CHECK(off.stamps.triplets.empty() && off.ybus().isZero(0.0));
    net.branches[0].status = 1;
    Solved outside(net);
    outside.problem_bus[2] = -1;
    stamp_admittances(net.branches[0], outside.context, outside.stamps);
    CHECK(outside.stamps.triplets.empty() && outside.ybus().isZero(0.0) && outside.stamps.dc_branches.empty());
}

TEST("a two-winding transformer stamps its off-nominal ratio, phase shift and magnetising admittance") {
    pf::Network net = buses(2);
    auto shifter = [](pf::Transformer& t) {
        t.r12 = 0.0;
        t.x12 = 0.08;
        t.mag1 = 0.002;
        t.mag2 = -0.01;
        t.windings[0].windv = 1.05;
        t.windings[0].ang_deg = 30.0;
        t.windings[1].windv = 1.0;
    };
    REQUIRE(pf::set_two_winding(net, 1, 2, "T", pf::EditMode::kCreateOrChange, shifter) == pf::kOk);
    Solved s(net);
    stamp_admittances(net.transformers[0], s.context, s.stamps);
    const Eigen::MatrixXcd y = s.ybus();
    const Complex series = 1.0 / Complex(0.0, 0.08);
    const Complex tap = std::polar(1.05, 30.0 * kPi / 180.0);
    CHECK(near(y(0, 0), series / (1.05 * 1.05) + Complex(0.002, -0.01)));
    CHECK(near(y(1, 1), series));
    CHECK(near(y(0, 1), -series / std::conj(tap)));
    CHECK(near(y(1, 0), -series / tap));
    // The shift the flat start carries across, and the dc model's susceptance behind the ratio.
    REQUIRE(s.stamps.shifts.size() == 1);
    CHECK(std::abs(std::get<2>(s.stamps.shifts[0]) + 30.0 * kPi / 180.0) < 1e-12);
    REQUIRE(s.stamps.dc_branches.size() == 1);
    CHECK(std::abs(s.stamps.dc_branches[0].b - 12.5 / 1.05) < 1e-12);
}

TEST("a three-winding transformer with a winding of no impedance merges its star point into that bus") {
    pf::Network net = buses(3);
    // Star equivalent: winding 1 (x12 + x31 - x23) / 2 = 0.04, winding 2 (x12 + x23 - x31) / 2 = 0.06,
    // winding 3 (x23 + x31 - x12) / 2 = 0.
    auto star = [](pf::Transformer& t) {
        t.x12 = 0.1;
        t.x23 = 0.06;
        t.x31 = 0.04;
    };
    REQUIRE(pf::set_three_winding(net, 1, 2, 3, "1", pf::EditMode::kCreateOrChange, star, 1000) == pf::kOk);
    REQUIRE(net.buses.size() == 4);  // the star point
    // No swing bus and no machine: nothing is solved.
    pf::DerivedProblem d = pf::build_ac_problem(net, false);
    CHECK_EQ(d.problem.n, 0);
    REQUIRE(pf::set_bus(net, 1, pf::EditMode::kChangeOnly, [](pf::Bus& b) { b.ide = pf::kSwingBus; }, 1000) == pf::kOk);
    REQUIRE(pf::set_plant(net, 1, pf::EditMode::kCreateOrChange, [](pf::Plant&) {}) == pf::kOk);
    REQUIRE(pf::set_machine(net, 1, "1", pf::EditMode::kCreateOrChange, [](pf::Machine&) {}) == pf::kOk);
    d = pf::build_ac_problem(net, false);
    // The star point is bus 3 seen through winding 3's ratio (1): windings 1 and 2 end at bus 3.
    CHECK_EQ(d.problem.n, 3);
    REQUIRE(d.merged_stars.size() == 1);
    CHECK_EQ(d.merged_stars[0].network_bus, 3);
    CHECK_EQ(d.merged_stars[0].problem_bus, d.problem_bus[2]);
    CHECK(d.star_starts.empty());
    const Eigen::MatrixXcd y(d.problem.ybus);
    const Complex w1 = 1.0 / Complex(0.0, 0.04), w2 = 1.0 / Complex(0.0, 0.06);
    CHECK(near(y(d.problem_bus[0], d.problem_bus[2]), -w1, 1e-9));
    CHECK(near(y(d.problem_bus[1], d.problem_bus[2]), -w2, 1e-9));
    CHECK(near(y(d.problem_bus[2], d.problem_bus[2]), w1 + w2, 1e-9));
    CHECK(near(y(d.problem_bus[0], d.problem_bus[1]), 0.0));
}

TEST("a load stamps its admittance part and injects its power less distributed generation and its current") {
    pf::Network net = buses(1);
    auto load = [](pf::Load& l) {
        l.pl_mw = 50.0;
        l.ql_mvar = 20.0;
        l.ip_mw = 10.0;
        l.iq_mvar = 4.0;
        l.yp_mw = 5.0;
        l.yq_mvar = -3.0;
        l.dgenm = 1;
        l.dgenp_mw = 8.0;
        l.dgenq_mvar = 1.0;
    };
    REQUIRE(pf::set_load(net, 1, "1", pf::EditMode::kCreateOrChange, load) == pf::kOk);
    Solved s(net);
    stamp_admittances(net.loads[0], s.context, s.stamps);
    add_injections(net.loads[0], s.context, s.injections);
    CHECK(near(s.ybus()(0, 0), Complex(0.05, -0.03)));
    CHECK(near(s.power[0], Complex(-0.42, -0.19)));
    CHECK(near(s.current[0], Complex(0.10, 0.04)));
    // Without distributed generation mode the generation is not subtracted.
    net.loads[0].dgenm = 0;
    Solved plain(net);
    add_injections(net.loads[0], plain.context, plain.injections);
    CHECK(near(plain.power[0], Complex(-0.5, -0.2)));
}

TEST("an induction machine draws as a motor, injects as a generator, and stamps its magnetising reactance") {
    pf::Network net = buses(1);
    auto motor = [](pf::InductionMachine& m) {
        m.pset_mw = 30.0;
        m.mbase_mva = 50.0;
        m.xm = 2.5;
    };
    REQUIRE(pf::set_induction_machine(net, 1, "M", pf::EditMode::kCreateOrChange, motor) == pf::kOk);
    Solved s(net);
    stamp_admittances(net.induction_machines[0], s.context, s.stamps);
    add_injections(net.induction_machines[0], s.context, s.injections);
    CHECK(near(s.ybus()(0, 0), Complex(0.0, -1.0 / 2.5 * 0.5)));
    CHECK(near(s.power[0], Complex(-0.3, 0.0)));
    net.induction_machines[0].scode = 2;
    Solved generator(net);
    add_injections(net.induction_machines[0], generator.context, generator.injections);
    CHECK(near(generator.power[0], Complex(0.3, 0.0)));
}

TEST("a switched shunt stamps its present admittance and offers its in-service blocks for adjustment") {
    pf::Network net = buses(2);
    auto shunt = [](pf::SwitchedShunt& sw) {
        sw.modsw = 1;
        sw.binit_mvar = 25.0;
        sw.vswlo = 0.98;
        sw.vswhi = 1.02;
        sw.swreg = 2;
        sw.blocks[0] = {2, 1, 10.0};
        sw.blocks[1] = {3, 0, 5.0};  // out of service
        sw.blocks[2] = {1, 1, -20.0};
    };
    REQUIRE(pf::set_switched_shunt(net, 1, "1", pf::EditMode::kCreateOrChange, shunt) == pf::kOk);
    Solved s(net);
    stamp_admittances(net.switched_shunts[0], s.context, s.stamps);
    CHECK(near(s.ybus()(0, 0), Complex(0.0, 0.25)));
    pf::ShuntControl control;
    REQUIRE(shunt_control(net.switched_shunts[0], s.context, control));
    CHECK_EQ(control.bus, 0);
    CHECK_EQ(control.regulated_bus, 1);
    CHECK(control.steps_pu == std::vector<double>({0.1, -0.2}));
    CHECK(control.max_steps == std::vector<int>({2, 1}));
    CHECK(control.v_low_pu == 0.98 && control.v_high_pu == 1.02 && control.b_present_pu == 0.25);
    // A regulated bus outside the problem falls back to the shunt's own bus; a locked shunt has no control.
    s.problem_bus[1] = -1;
    REQUIRE(shunt_control(net.switched_shunts[0], s.context, control));
    CHECK_EQ(control.regulated_bus, 0);
    net.switched_shunts[0].modsw = 0;
    CHECK(!shunt_control(net.switched_shunts[0], s.context, control));
}

TEST("a machine's power factor modes set its fixed output and its reactive limits") {
    pf::Machine m;
    m.pg_mw = 80.0;
    m.qg_mvar = 7.0;
    m.qt_mvar = 50.0;
    m.qb_mvar = -40.0;
    m.wpf = -0.8;  // tan(acos(0.8)) = 0.75
    CHECK(pf::machine_regulates(m));
    CHECK(pf::fixed_reactive_output(m) == 7.0);
    CHECK(pf::reactive_limits(m).max_mvar == 50.0 && pf::reactive_limits(m).min_mvar == -40.0);
    m.wmod = 2;
    CHECK(std::abs(pf::reactive_limits(m).max_mvar - 60.0) < 1e-9);
    CHECK(std::abs(pf::reactive_limits(m).min_mvar + 60.0) < 1e-9);
    m.wmod = 3;
    CHECK(!pf::machine_regulates(m));
    CHECK(std::abs(pf::fixed_reactive_output(m) + 60.0) < 1e-9);
    m.wpf = 0.0;  // no usable power factor: the entered output
    CHECK(pf::fixed_reactive_output(m) == 7.0);
}

TEST("the network indexes the buses it adds and its revision rises across a replaced case") {
    pf::Network net = buses(2);
    const auto revision = net.structure_revision;
    CHECK(revision >= 2);
    pf::Bus bus;
    bus.number = 70;
    CHECK_EQ(net.add_bus(bus), std::size_t{2});
    REQUIRE(net.bus(70) != nullptr);
    CHECK_EQ(net.bus_index.number(2), 70);
    net.structure_changed();
    CHECK_EQ(net.structure_revision, revision + 1);
    pf::Network other = buses(1);  // a revision of its own, lower than this one's
    net.replace_with(std::move(other));
    CHECK_EQ(net.structure_revision, revision + 2);
    CHECK_EQ(net.buses.size(), std::size_t{1});
    CHECK(net.bus(70) == nullptr);
}

TEST("the records kept beside the elements refuse missing buses, star points, bad codes and unmodelled modes") {
    pf::Network net = buses(3);
    REQUIRE(pf::set_three_winding(
                net, 1, 2, 3, "1", pf::EditMode::kCreateOrChange, [](pf::Transformer&) {}, 1000) == pf::kOk);
    const int star = net.transformers[0].star_bus;

    pf::Area area;
    area.number = 1;
    CHECK_EQ(pf::check_area(net, area), pf::kOk);
    area.isw = star;  // a star point is no bus a record may name
    CHECK_EQ(pf::check_area(net, area), pf::kBusNotFound);
    area.isw = 2;
    area.ptol_mw = -1.0;
    CHECK_EQ(pf::check_area(net, area), pf::kInvalidValue);

    pf::TwoTerminalDcLine line;
    line.mdc = 1;
    line.rectifier.bus = 1;
    line.inverter.bus = 2;
    CHECK_EQ(pf::check_two_terminal_dc_line(net, line), pf::kOk);
    line.inverter.bus = 1;
    CHECK_EQ(pf::check_two_terminal_dc_line(net, line), pf::kDuplicate);
    line.inverter.bus = 9;
    CHECK_EQ(pf::check_two_terminal_dc_line(net, line), pf::kBusNotFound);
    line.inverter.bus = 2;
    line.rectifier.xcap_ohm = 5.0;  // capacitor commutation: refused in service, kept when blocked
    CHECK_EQ(pf::check_two_terminal_dc_line(net, line), pf::kInvalidValue);
    line.mdc = 0;
    CHECK_EQ(pf::check_two_terminal_dc_line(net, line), pf::kOk);
    line.meter = "X";
    CHECK_EQ(pf::check_two_terminal_dc_line(net, line), pf::kInvalidCode);

    pf::VscDcLine vsc;
    vsc.converters[0].bus = 1;
    vsc.converters[1].bus = 2;
    pf::VscConverter second = vsc.converters[1];
    CHECK_EQ(pf::check_vsc_converter(net, vsc, 1, second), pf::kOk);
    vsc.converters[0].type = 2;
    second.type = 2;  // both converters setting their power: none holds the dc voltage
    CHECK_EQ(pf::check_vsc_converter(net, vsc, 1, second), pf::kInvalidCode);
    second.type = 1;
    second.mode = 2;
    second.acset = 1.5;  // a power factor above 1
    CHECK_EQ(pf::check_vsc_converter(net, vsc, 1, second), pf::kInvalidValue);
    vsc.owners[1].owner = 10000;
    CHECK_EQ(pf::check_vsc_dc_line(vsc), pf::kInvalidValue);

    pf::FactsDevice device;
    device.from_bus = 1;
    device.to_bus = 2;
    CHECK_EQ(pf::check_facts_device(net, device), pf::kOk);
    device.mode = 4;  // constant series voltage: not modelled
    CHECK_EQ(pf::check_facts_device(net, device), pf::kInvalidCode);
    device.mode = 1;
    device.vtmn_pu = 1.2;
    CHECK_EQ(pf::check_facts_device(net, device), pf::kInvalidValue);
    device.to_bus = 1;
    CHECK_EQ(pf::check_facts_device(net, device), pf::kDuplicate);
}

TEST("rating sets beyond the third are held apart, copied whole and kept exactly as set") {
    pf::Ratings ratings;
    for (int k = 0; k < pf::kRatingCount; ++k) CHECK_EQ(ratings[k], 0.0);
    ratings.set(0, 100.0);
    ratings.set(11, 0.0);  // a zero leaves the sets beyond the third as they were: all zero
    CHECK_EQ(ratings[0], 100.0);
    CHECK_EQ(ratings[11], 0.0);
    ratings.set(4, 250.5);
    ratings.set(7, -0.0);  // kept as a negative zero, so that it is written back as it was read
    CHECK_EQ(ratings[4], 250.5);
    CHECK(std::signbit(ratings[7]));

    // A copy owns its own sets: changing one leaves the other as it was.
    pf::Branch line;
    line.ratings = ratings;
    pf::Branch copy = line;
    copy.ratings.set(4, 1.0);
    copy.ratings.set(1, 2.0);
    CHECK_EQ(line.ratings[4], 250.5);
    CHECK_EQ(line.ratings[1], 0.0);
    CHECK_EQ(copy.ratings[4], 1.0);
    copy = line;
    CHECK_EQ(copy.ratings[4], 250.5);
    copy.ratings = copy.ratings;  // assigned to itself
    CHECK_EQ(copy.ratings[4], 250.5);
    const pf::Ratings moved = std::move(copy.ratings);
    CHECK_EQ(moved[4], 250.5);
    CHECK_EQ(moved[0], 100.0);
    CHECK_EQ(pf::check_ratings(moved), pf::kOk);
    // The checks see every set, those held apart too.
    pf::Ratings negative = moved;
    negative.set(10, -1.0);
    CHECK_EQ(pf::check_ratings(negative), pf::kInvalidValue);
}
