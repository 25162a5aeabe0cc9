"""Two-terminal (line-commutated) and VSC dc lines in the solution of the embedded engine.

The two-terminal line joins two ac systems, each with its own swing machine, so that the
converters' powers are what the ac lines to the converter buses carry. Its operating point is
checked against the textbook bridge equations evaluated here from the solved bus voltages
(hand results), its mode change and its tap moves against what they must do; VSC lines are
compared with pandapower's dc line (a set power with voltage control at both ends) on
MATPOWER's case14.
"""
import math
import re

import numpy as np
import pytest

from helpers.solutions import Progress

K_BRIDGE = 3 * math.sqrt(2) / math.pi
RAD = math.pi / 180


def _ok(result):
    code = result[0] if isinstance(result, tuple) else result
    assert code == 0, result
    return result


def _bus(psspy, number, ide, vm=1.0, base_kv=345.0):
    _ok(psspy.bus_data_4(ibus=number, inode=0, intgar1=ide, realar1=base_kv, realar2=vm, name=f"B{number}"))


def _swing(psspy, bus, vs):
    _ok(psspy.plant_data_4(ibus=bus, inode=0, intgar1=0, realar1=vs, realar2=100.0))
    _ok(psspy.machine_data_5(ibus=bus, id="1", intgar1=1, realar1=0.0, realar3=9999.0, realar4=-9999.0,
                             realar5=9999.0, realar6=-9999.0, realar7=1000.0))


# Converter data: (bridges, angle max, angle min, RC, XC, EBAS, TR, TAP, TMX, TMN, STP)
RECTIFIER = dict(nb=2, amax=20.0, amin=5.0, rc=0.2, xc=10.0, ebas=345.0, tr=0.57, tap=1.0, tmx=1.2, tmn=0.8,
                 stp=0.00625)
INVERTER = dict(nb=2, amax=25.0, amin=18.0, rc=0.2, xc=10.0, ebas=345.0, tr=0.60, tap=1.0, tmx=1.2, tmn=0.8,
                stp=0.00625)


def build_two_systems(psspy, send_vs=1.0, mdc=1, setvl=200.0, vschd=500.0, rdc=5.0, delti=0.1, vcmod=0.0,
                      rectifier=RECTIFIER, inverter=INVERTER):
    """Bus 1 (swing) - line - bus 2 (rectifier); bus 3 (swing) - line - bus 4 (inverter, 300 MW load)."""
    assert psspy.psseinit(buses=100) == 0
    _bus(psspy, 1, 3, send_vs)
    _bus(psspy, 2, 1)
    _bus(psspy, 3, 3)
    _bus(psspy, 4, 1)
    _swing(psspy, 1, send_vs)
    _swing(psspy, 3, 1.0)
    for i, j in ((1, 2), (3, 4)):
        _ok(psspy.branch_data_3(ibus=i, jbus=j, ckt="1", realar1=0.002, realar2=0.03, realar3=0.05))
    _ok(psspy.load_data_6(ibus=4, id="1", intgar1=1, realar1=300.0, realar2=50.0))
    r, i = rectifier, inverter
    _ok(psspy.two_terminal_dc_line_data(
        "DC1", intgar1=mdc, intgar2=2, intgar3=r["nb"], intgar4=4, intgar5=i["nb"],
        realar1=setvl, realar2=vschd, realar3=vcmod, realar4=rdc, realar5=delti, realar6=0.0,
        realar8=r["amax"], realar9=r["amin"], realar10=r["rc"], realar11=r["xc"], realar12=r["ebas"],
        realar13=r["tr"], realar14=r["tap"], realar15=r["tmx"], realar16=r["tmn"], realar17=r["stp"],
        realar18=i["amax"], realar19=i["amin"], realar20=i["rc"], realar21=i["xc"], realar22=i["ebas"],
        realar23=i["tr"], realar24=i["tap"], realar25=i["tmx"], realar26=i["tmn"], realar27=i["stp"]))


OPERATING_POINT = re.compile(
    r"two-terminal dc line 'DC1': Id (?P<id>\S+) A, Vdr (?P<vdr>\S+) kV, Vdi (?P<vdi>\S+) kV, "
    r"alpha (?P<alpha>\S+) deg, gamma (?P<gamma>\S+) deg, taps (?P<tap_r>[^/]+)/(?P<tap_i>\S+), "
    r"rectifier (?P<pr>\S+) MW (?P<qr>\S+) Mvar, inverter (?P<pi>\S+) MW (?P<qi>\S+) Mvar")


def operating_point(lines):
    found = [m for m in map(OPERATING_POINT.search, lines) if m]
    assert found, lines[-6:]
    return {k: float(v) for k, v in found[-1].groupdict().items()}


def converter_ac_power(psspy, bus, far, load=(0.0, 0.0)):
    """(P, Q) drawn by the converter at `bus`: what the only ac line at it delivers there, less
    the bus's load."""
    p = _ok(psspy.brnmsc(bus, far, "1", "P"))[1]
    q = _ok(psspy.brnmsc(bus, far, "1", "Q"))[1]
    return -p - load[0], -q - load[1]


def bridge(converter, v_pu, tap, angle_deg, id_ka):
    """Textbook bridge quantities: (Nb Vd0 kV, ac P MW, Q Mvar) at an angle and dc current."""
    e = v_pu * converter["ebas"] * converter["tr"] / tap
    nb, xc = converter["nb"], converter["xc"]
    theta = angle_deg * RAD
    mu = math.acos(math.cos(theta) - math.sqrt(2) * xc * id_ka / e) - theta
    p = nb * id_ka * (K_BRIDGE * e * math.cos(theta) - 3 / math.pi * xc * id_ka)
    tan_phi = (2 * mu + math.sin(2 * theta) - math.sin(2 * (theta + mu))) / (
        math.cos(2 * theta) - math.cos(2 * (theta + mu)))
    return nb * K_BRIDGE * e, p, p * tan_phi


class TestTwoTerminalLine:
    def solve(self, psspy, tmp_path, **options):
        progress = Progress(psspy, tmp_path)
        assert progress.run("fnsl", **options) is not None, progress.lines()[-8:]
        return progress.lines()

    def test_power_order_held_with_the_bridge_equations_at_the_solved_voltages(self, psspy, tmp_path):
        build_two_systems(psspy)
        lines = self.solve(psspy, tmp_path)
        op = operating_point(lines)
        vr = psspy.busdat(2, "PU")[1]
        vi = psspy.busdat(4, "PU")[1]
        id_ka = op["id"] / 1000
        # Power control at the rectifier with the inverter at its schedule: 200 MW at 500 kV + RDC Id.
        assert op["vdi"] == pytest.approx(500.0, abs=1e-3)
        assert op["vdr"] == pytest.approx(500.0 + 5.0 * id_ka, abs=1e-3)
        assert op["vdr"] * id_ka == pytest.approx(200.0, rel=1e-5)
        assert 5.0 <= op["alpha"] <= 20.0 and 18.0 <= op["gamma"] <= 25.0 or op["gamma"] == pytest.approx(18.0)
        # The dc voltages follow from the angles and the ac voltages.
        vd0r, pr, qr = bridge(RECTIFIER, vr, 1.0, op["alpha"], id_ka)
        vd0i, pi, qi = bridge(INVERTER, vi, 1.0, op["gamma"], id_ka)
        slope_r = 2 * (3 / math.pi * 10.0 + 2 * 0.2)
        slope_i = 2 * (3 / math.pi * 10.0 - 2 * 0.2)
        assert op["vdr"] == pytest.approx(vd0r * math.cos(op["alpha"] * RAD) - slope_r * id_ka, abs=0.05)
        assert op["vdi"] == pytest.approx(vd0i * math.cos(op["gamma"] * RAD) - slope_i * id_ka, abs=0.05)
        # What the ac side carries to each converter is what the bridge equations give.
        p_drawn, q_drawn = converter_ac_power(psspy, 2, 1)
        assert p_drawn == pytest.approx(pr, abs=0.05) and q_drawn == pytest.approx(qr, abs=0.05)
        p_inv, q_inv = converter_ac_power(psspy, 4, 3, load=(300.0, 50.0))
        assert -p_inv == pytest.approx(pi, abs=0.05) and q_inv == pytest.approx(qi, abs=0.05)
        # Losses: the line's RDC Id^2 and the transformers' 2 Rc Id^2 per bridge.
        assert p_drawn + p_inv == pytest.approx((5.0 + 2 * 2 * 0.2 * 2) * id_ka ** 2, abs=0.05)
        assert 0.1 < q_drawn / p_drawn < 0.7  # a line-commutated converter draws Mvar
        assert not any("not modelled" in line for line in lines)

    def test_current_order_and_power_at_the_inverter(self, psspy, tmp_path):
        build_two_systems(psspy, mdc=2, setvl=400.0)
        op = operating_point(self.solve(psspy, tmp_path))
        assert op["id"] == pytest.approx(400.0, abs=1e-6)
        build_two_systems(psspy, setvl=-200.0)
        op = operating_point(self.solve(psspy, tmp_path))
        assert op["vdi"] * op["id"] / 1000 == pytest.approx(200.0, rel=1e-5)

    def test_rectifier_at_alpha_min_hands_current_control_to_the_inverter(self, psspy, tmp_path):
        # A low sending-end voltage: the rectifier cannot reach the inverter's schedule.
        build_two_systems(psspy, send_vs=0.95)
        lines = self.solve(psspy, tmp_path)
        changes = [line for line in lines if "minimum firing angle" in line]
        assert changes and changes[0].startswith("fnsl two-terminal dc line 'DC1': rectifier at its minimum firing "
                                                 "angle 5.00 deg, inverter takes current control at 0.9 of the order")
        op = operating_point(lines)
        assert op["alpha"] == pytest.approx(5.0)
        assert op["vdi"] < 500.0 - 1.0
        # The inverter holds the current order less the margin: 0.9 of the power order's current.
        assert op["id"] == pytest.approx(0.9 * 200.0 / op["vdr"] * 1000, rel=1e-4)
        vr = psspy.busdat(2, "PU")[1]
        vd0r, pr, _ = bridge(RECTIFIER, vr, 1.0, 5.0, op["id"] / 1000)
        assert converter_ac_power(psspy, 2, 1)[0] == pytest.approx(pr, abs=0.05)

    def test_taps_move_under_options4_and_stay_in_the_case(self, psspy, tmp_path):
        build_two_systems(psspy, send_vs=0.95)
        lines = self.solve(psspy, tmp_path, options4=1)
        assert any(re.search(r"'DC1': .*rectifier tap 1\.00000 -> 0\.9", line) for line in lines), lines
        op = operating_point(lines)
        # The rectifier's tap gave it back the voltage: normal control, alpha within its limits.
        assert 5.0 < op["alpha"] <= 20.0 and op["tap_r"] < 1.0
        assert op["vdi"] == pytest.approx(500.0, abs=0.5)
        assert abs((op["tap_r"] - 0.8) / 0.00625 - round((op["tap_r"] - 0.8) / 0.00625)) < 1e-6  # on a step
        saved = tmp_path / "taps.sav"
        assert psspy.save(str(saved)) == 0
        # Solved again from the taps kept in the case, nothing moves.
        lines = self.solve(psspy, tmp_path, options4=1)
        assert not any("tap" in line and "->" in line for line in lines)
        assert operating_point(lines)["tap_r"] == op["tap_r"]
        # Without options4 the taps stay as entered, and the rectifier stays at alpha-min.
        build_two_systems(psspy, send_vs=0.95)
        op = operating_point(self.solve(psspy, tmp_path, options4=0))
        assert op["tap_r"] == 1.0 and op["alpha"] == pytest.approx(5.0)

    def test_mode_switch_voltage_turns_power_control_into_current_control(self, psspy, tmp_path):
        build_two_systems(psspy, send_vs=0.95, vcmod=495.0)
        lines = self.solve(psspy, tmp_path)
        assert any("power control switched to current control below the mode switch voltage" in line
                   for line in lines)
        op = operating_point(lines)
        # The current of the power order at the scheduled voltage, less the margin.
        assert op["id"] == pytest.approx(0.9 * 200.0 / 500.0 * 1000, rel=1e-6)

    def test_parallel_to_a_meshed_network_from_a_flat_start_then_solved_again_unchanged(self, psspy, tmp_path):
        """pandapower's case118 with a 150 MW line from bus 12 to bus 75 (138 kV), solved by rsol
        from a flat start with taps, dc taps and shunts adjusting; fnsl then finds it solved."""
        pandapower_cases = pytest.importorskip("gridfold.pandapower_cases", reason="pandapower builds case118")
        ppc, _, _ = pandapower_cases.solve_reference(pandapower_cases.standard_network("case118"))
        pandapower_cases.build_in_engine(psspy, ppc)
        r, i = RECTIFIER, INVERTER
        _ok(psspy.two_terminal_dc_line_data(
            "DC1", intgar1=1, intgar2=12, intgar3=2, intgar4=75, intgar5=2, realar1=150.0, realar2=500.0,
            realar4=5.0, realar5=0.1, realar8=r["amax"], realar9=r["amin"], realar10=r["rc"], realar11=r["xc"],
            realar12=138.0, realar13=r["tr"] * 345 / 138, realar18=i["amax"], realar19=i["amin"], realar20=i["rc"],
            realar21=i["xc"], realar22=138.0, realar23=i["tr"] * 345 / 138))
        progress = Progress(psspy, tmp_path)
        assert progress.run("rsol", options1=1, options4=1, options5=1, options6=1, options7=2) is not None
        op = operating_point(progress.lines())
        assert op["vdr"] * op["id"] / 1000 == pytest.approx(150.0, rel=1e-5)
        assert 5.0 <= op["alpha"] <= 20.0 and 18.0 <= op["gamma"] <= 25.0
        # The case keeps the taps and voltages the solution found: nothing moves again.
        assert progress.run("fnsl", options4=1) == 0
        assert not any("->" in line for line in progress.lines())
        assert operating_point(progress.lines()) == op

    def test_modes_not_modelled_are_refused_and_named_when_read(self, psspy, tmp_path):
        build_two_systems(psspy)
        saved = tmp_path / "dc.sav"
        assert psspy.save(str(saved)) == 0
        assert psspy.two_terminal_dc_line_data("DC1", realar28=5.0) == 7  # capacitor-commutated
        assert psspy.two_terminal_dc_line_data("DC1", intgar8=1, intgar9=2) == 6  # ac transformer control
        assert psspy.two_terminal_dc_line_data("DC1", realar5=1.0) == 7  # a margin of the whole order
        assert psspy.two_terminal_dc_line_data("DC1", intgar1=0, realar28=5.0) == 0  # blocked: held as data
        # A case file may hold such a line: the solution names it and leaves it out.
        text = saved.read_text()
        rectifier = [line for line in text.splitlines() if line.startswith("2,2,20.0,5.0,")]
        assert len(rectifier) == 1
        text = text.replace(rectifier[0], rectifier[0].rsplit(",", 1)[0] + ",5.0")
        path = tmp_path / "ccc.sav"
        path.write_text(text)
        assert psspy.case(str(path)) == 0
        lines = self.solve(psspy, tmp_path)
        assert ("fnsl two-terminal dc line 'DC1' not modelled (rectifier is capacitor-commutated), "
                "left out of the solution") in lines
        assert converter_ac_power(psspy, 2, 1)[0] == pytest.approx(0.0, abs=1e-3)


def _vsc_case(psspy, converters, rdc=0.0):
    """pandapower's case14 built in the engine (bus n is pandapower's bus n - 1) with a VSC line
    'VSC1'; converters: [(bus, type, mode, dcset, acset, aloss kW, maxq, minq)] for converters 1
    and 2. Returns the pandapower network."""
    pandapower_cases = pytest.importorskip("gridfold.pandapower_cases", reason="pandapower (test extra) is the reference")
    net = pandapower_cases.standard_network("case14")
    ppc, _, _ = pandapower_cases.solve_reference(net)
    pandapower_cases.build_in_engine(psspy, ppc)
    _ok(psspy.vsc_dc_line_data("VSC1", intgar1=1, realar1=rdc))
    for k, (bus, kind, mode, dcset, acset, aloss, maxq, minq) in enumerate(converters, start=1):
        _ok(psspy.vsc_dc_converter_data("VSC1", k, ibus=bus, intgar1=kind, intgar2=mode, realar1=dcset,
                                        realar2=acset, realar3=aloss, realar9=maxq, realar10=minq))
    return net


def _pandapower_dcline(net, p_mw, loss_mw, vm_from, vm_to, max_q):
    """Solves `net` with pandapower's dc line from bus 5 to bus 14 (indices 4 and 13)."""
    import pandapower as pp
    pp.create_dcline(net, 4, 13, p_mw=p_mw, loss_percent=0.0, loss_mw=loss_mw, vm_from_pu=vm_from, vm_to_pu=vm_to,
                     max_q_from_mvar=max_q, min_q_from_mvar=-max_q, max_q_to_mvar=max_q, min_q_to_mvar=-max_q)
    pp.runpp(net, tolerance_mva=1e-9, enforce_q_lims=True, init="flat", calculate_voltage_angles=True)


class TestVscLine:
    @pytest.mark.parametrize("max_q, smax, vm_from, vm_to", [(100.0, 0.0, 1.01, 1.03), (5.0, 0.0, 1.03, 1.06),
                                                             (100.0, math.hypot(20.0, 5.0), 1.03, 1.06)],
                             ids=["regulating", "at-limit", "at-rating"])
    def test_matches_pandapower_dcline(self, psspy, max_q, smax, vm_from, vm_to):
        # Converter 1 draws 20 MW at bus 5; converter 2 holds 300 kV; 0.5 MW loss in each.
        # A rating of hypot(20, 5) MVA leaves converter 1 the 5 Mvar pandapower's limit gives.
        net = _vsc_case(psspy, [(5, 2, 1, -20.0, vm_from, 500.0, max_q, -max_q),
                                (14, 1, 1, 300.0, vm_to, 500.0, max_q, -max_q)])
        _ok(psspy.vsc_dc_converter_data("VSC1", 1, realar6=smax))
        if smax:
            max_q = 5.0
        _pandapower_dcline(net, 20.0, 1.0, vm_from, vm_to, max_q)
        bus_of = {n: n - 1 for n in range(1, 15)}
        assert psspy.solution_parameters_4(realar1=1e-6) == 0
        assert psspy.fnsl(options7=0) == 0
        assert psspy.solved() == 0
        numbers = sorted(bus_of)
        vm = np.array([psspy.busdat(n, "PU")[1] for n in numbers])
        va = np.array([psspy.busdat(n, "ANGLED")[1] for n in numbers])
        ref_vm = np.array([net.res_bus.vm_pu[bus_of[n]] for n in numbers])
        ref_va = np.array([net.res_bus.va_degree[bus_of[n]] for n in numbers])
        np.testing.assert_allclose(vm, ref_vm, atol=1e-6)
        np.testing.assert_allclose(va - va[0], ref_va - ref_va[0], atol=1e-4)
        # The swing machine takes the same output: the dc line's losses are the same.
        swing_p = sum(_ok(psspy.brnmsc(1, j, "1", "P"))[1] for j in (2, 5))  # no load at bus 1
        assert swing_p == pytest.approx(net.res_ext_grid.p_mw.iloc[0], abs=1e-4)
        if max_q == 5.0:  # the sending converter at its limit, its bus below its setpoint
            assert net.res_dcline.q_from_mvar.iloc[0] == pytest.approx(-5.0)
            assert psspy.busdat(5, "PU")[1] < vm_from - 0.001

    def test_dc_resistance_losses_and_power_factor_mode(self, psspy, tmp_path):
        # Converter 2 sets 50 MW into bus 14 at power factor 0.95; converter 1 holds 100 kV
        # and bus 5's voltage. (100 kV - 10 ohm * I) * I = 50 MW gives I = 0.52786 kA, so
        # converter 1 draws 100 kV * I = 52.786 MW.
        _vsc_case(psspy, [(5, 1, 1, 100.0, 1.0, 0.0, 9999.0, -9999.0), (14, 2, 2, 50.0, 0.95, 0.0, 9999.0, -9999.0)],
                  rdc=10.0)
        progress = Progress(psspy, tmp_path)
        assert progress.run("fnsl", options7=0) is not None
        line = [ln for ln in progress.lines() if "VSC dc line 'VSC1': Idc" in ln][-1]
        current = (100.0 - math.sqrt(100.0 ** 2 - 4 * 10.0 * 50.0)) / (2 * 10.0)
        assert abs(float(re.search(r"Idc (\S+) A", line).group(1))) == pytest.approx(1000 * current, abs=0.01)
        p1 = float(re.search(r"converter 1 (\S+) MW", line).group(1))
        p2, q2 = map(float, re.search(r"converter 2 (\S+) MW (\S+) Mvar", line).groups())
        assert p1 == pytest.approx(-100.0 * current, abs=1e-3) and p2 == pytest.approx(50.0)
        assert q2 == pytest.approx(50.0 * math.tan(math.acos(0.95)), abs=1e-3)
        assert psspy.busdat(5, "PU")[1] == pytest.approx(1.0, abs=1e-6)

    def test_converter_on_a_held_bus_and_a_line_left_out(self, psspy, tmp_path):
        # Bus 2's plant holds its voltage: the converter there holds none and injects no Mvar.
        _vsc_case(psspy, [(2, 2, 1, -20.0, 1.0, 0.0, 100.0, -100.0), (14, 1, 1, 300.0, 1.03, 0.0, 100.0, -100.0)])
        progress = Progress(psspy, tmp_path)
        assert progress.run("fnsl") is not None
        lines = progress.lines()
        assert ("fnsl VSC dc line 'VSC1' converter at bus 2: the bus voltage is held already, the converter holds "
                "no voltage") in lines
        line = [ln for ln in lines if "VSC dc line 'VSC1': Idc" in ln][-1]
        assert "converter 1 -20.000 MW 0.000 Mvar" in line
        assert psspy.busdat(2, "PU")[1] == pytest.approx(1.045) and psspy.busdat(14, "PU")[1] == pytest.approx(1.03)
        # Both converters holding the dc voltage: nothing sets the power, the line is left out.
        assert psspy.vsc_dc_converter_data("VSC1", 1, intgar1=1, realar1=300.0) == 0
        assert progress.run("fnsl") is not None
        assert ("fnsl VSC dc line 'VSC1' not modelled (both converters hold the dc voltage, none sets the power), "
                "left out of the solution") in progress.lines()
        assert psspy.busdat(14, "PU")[1] != pytest.approx(1.03, abs=1e-4)  # nothing holds it now

    def test_refusals(self, psspy):
        _vsc_case(psspy, [(5, 2, 1, -20.0, 1.0, 0.0, 50.0, -50.0), (14, 1, 1, 300.0, 1.0, 0.0, 50.0, -50.0)])
        assert psspy.vsc_dc_converter_data("VSC1", 2, intgar1=2) == 6  # no converter holds the dc voltage
        assert psspy.vsc_dc_converter_data("VSC1", 2, intgar2=2, realar2=1.5) == 7  # power factor above 1


def _pypowsybl_solution(path, lcc_power_factors=None):
    """(network, {bus: (vm pu, va deg)}) of OpenLoadFlow on the RAW file, every island solved with
    its own slack, reactive limits on. lcc_power_factors: {station id: power factor} to set first."""
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        pn = pytest.importorskip("pypowsybl.network", reason="pypowsybl (test extra) is the reference")
        import pypowsybl.loadflow as lf
    network = pn.load(str(path))
    if lcc_power_factors:
        network.update_lcc_converter_stations(id=list(lcc_power_factors), power_factor=list(lcc_power_factors.values()))
    parameters = lf.Parameters(
        distributed_slack=False, use_reactive_limits=True, component_mode=lf.ComponentMode.ALL_CONNECTED,
        provider_parameters={"newtonRaphsonStoppingCriteriaType": "PER_EQUATION_TYPE_CRITERIA",
                             "maxActivePowerMismatch": "1e-7", "maxReactivePowerMismatch": "1e-7",
                             "maxVoltageMismatch": "1e-9"})
    for result in lf.run_ac(network, parameters):
        assert result.status.name == "CONVERGED", result
    nominal = network.get_voltage_levels()["nominal_v"]
    buses = network.get_bus_breaker_view_buses()
    return network, {int(bus_id[1:]): (row.v_mag / nominal[row.voltage_level_id], row.v_angle)
                     for bus_id, row in buses.iterrows()}


def _compare_voltages(psspy, reference, swing):
    for number, (vm, va) in reference.items():
        assert psspy.busdat(number, "PU")[1] == pytest.approx(vm, abs=1e-5), number
        angle = psspy.busdat(number, "ANGLED")[1] - psspy.busdat(swing, "ANGLED")[1]
        assert angle == pytest.approx(va - reference[swing][1], abs=1e-3), number


class TestPypowsybl:
    """pypowsybl reads the engine's RAW 33 export of each line as an HVDC line. Conventions that
    differ: pypowsybl's LCC station has a fixed power factor (set here to the one the engine's
    bridge equations gave) and its line loss uses the current at the nominal dc voltage VSCHD
    rather than the solved one (0.006 MW here); its VSC line takes the ac bus base as nominal dc
    voltage, so RDC losses are compared only at RDC = 0."""

    def test_two_terminal_line(self, psspy, tmp_path):
        no_resistance = dict(rc=0.0)  # pypowsybl's converters have no transformer resistance
        build_two_systems(psspy, rectifier=dict(RECTIFIER, **no_resistance), inverter=dict(INVERTER, **no_resistance))
        raw = tmp_path / "lcc.raw"
        assert psspy.writerawversion("33", 0, str(raw)) == 0
        assert psspy.solution_parameters_4(realar1=1e-6) == 0
        progress = Progress(psspy, tmp_path)
        assert progress.run("fnsl") is not None
        op = operating_point(progress.lines())
        factors = {"LccConverter-2-DC1": op["pr"] / math.hypot(op["pr"], op["qr"]),
                   "LccConverter-4-DC1": op["pi"] / math.hypot(op["pi"], op["qi"])}
        network, reference = _pypowsybl_solution(raw, factors)
        stations = network.get_lcc_converter_stations()
        assert stations.p["LccConverter-2-DC1"] == pytest.approx(op["pr"], abs=1e-3)
        assert -stations.p["LccConverter-4-DC1"] == pytest.approx(op["pi"], abs=0.01)
        _compare_voltages(psspy, {n: reference[n] for n in (1, 2)}, 1)
        _compare_voltages(psspy, {n: reference[n] for n in (3, 4)}, 3)

    def test_vsc_line_power_sign_and_voltage_control(self, psspy, tmp_path):
        _vsc_case(psspy, [(5, 2, 1, -20.0, 1.01, 0.0, 100.0, -100.0), (14, 1, 1, 300.0, 1.03, 0.0, 100.0, -100.0)])
        # The swing machine's limits as wide as the engine treats them (pypowsybl holds a slack's).
        assert psspy.machine_data_5(ibus=1, id="1", realar3=9999.0, realar4=-9999.0) == 0
        raw = tmp_path / "vsc.raw"
        assert psspy.writerawversion("33", 0, str(raw)) == 0
        assert psspy.solution_parameters_4(realar1=1e-6) == 0
        assert psspy.fnsl(options7=0) == 0 and psspy.solved() == 0
        network, reference = _pypowsybl_solution(raw)
        # A negative DCSET draws from the converter's bus: pypowsybl's rectifier side.
        assert network.get_vsc_converter_stations().p["VscConverter-5-VSC1"] == pytest.approx(20.0, abs=1e-6)
        _compare_voltages(psspy, reference, 1)
