"""Transformer tap adjustment in the solution: on-load tap changers holding a voltage band,
reactive-flow control, phase shifters holding an active-power band, taps at their limits.

The voltage controls are compared with pandapower's DiscreteTapControl (stepping) and
ContinuousTapControl (direct) on the same transformer; the flow controls are checked by hand:
the flow is recomputed in the test from the solved voltages and the settings saved in the
case, with the transformer's two-port equations written out here.
"""
import os

import numpy as np
import pandapower as pp
import pytest
from pandapower.control import ContinuousTapControl, DiscreteTapControl
from pandapower.pypower.idx_brch import BR_R, BR_X

# Tap changer of the feeding transformer: 19 positions of 1.5 % on the 110 kV winding.
TAP_MIN, TAP_MAX, TAP_STEP_PCT = -9, 9, 1.5
RMI, RMA, NTP = 1 + TAP_MIN * TAP_STEP_PCT / 100, 1 + TAP_MAX * TAP_STEP_PCT / 100, TAP_MAX - TAP_MIN + 1
LOAD_MW, LOAD_MVAR = 32.0, 14.0


def _ratio(position):
    return 1 + position * TAP_STEP_PCT / 100


def _feeder(tap_pos=0):
    """pandapower: a 110 kV grid feeding a 20 kV bus through an on-load tap changer."""
    net = pp.create_empty_network(sn_mva=100.0)
    hv = pp.create_bus(net, 110.0)
    lv = pp.create_bus(net, 20.0)
    pp.create_ext_grid(net, hv, vm_pu=1.0)
    pp.create_transformer_from_parameters(
        net, hv, lv, sn_mva=40.0, vn_hv_kv=110.0, vn_lv_kv=20.0, vk_percent=12.0, vkr_percent=0.5, pfe_kw=0.0,
        i0_percent=0.0, tap_side="hv", tap_neutral=0, tap_min=TAP_MIN, tap_max=TAP_MAX,
        tap_step_percent=TAP_STEP_PCT, tap_pos=tap_pos, tap_changer_type="Ratio")
    pp.create_load(net, lv, p_mw=LOAD_MW, q_mvar=LOAD_MVAR)
    return net


def _lv_voltage(net):
    return float(net.res_bus.vm_pu.iloc[1])


def _feeder_in_engine(psspy, ppc_branch, vmi, vma, cod=1):
    """The same feeder built through the data calls: bus 1 at 110 kV (swing), bus 2 at 20 kV, the
    transformer's impedance as pandapower derives it (pu on 100 MVA), ratio on winding 1."""
    assert psspy.bus_data_4(1, 0, intgar1=3, realar1=110.0) == 0
    assert psspy.bus_data_4(2, 0, intgar1=1, realar1=20.0) == 0
    assert psspy.plant_data_4(1, 0, realar1=1.0) == 0
    assert psspy.machine_data_4(1, "1", realar1=0.0) == 0
    assert psspy.load_data_6(2, "1", realar1=LOAD_MW, realar2=LOAD_MVAR) == 0
    ierr, _ = psspy.two_winding_data_6(
        1, 2, "1", intgar7=NTP, intgar10=2, intgar13=cod, intgar14=1, intgar15=1,
        realari1=float(ppc_branch[BR_R].real), realari2=float(ppc_branch[BR_X].real), realari4=1.0, realari7=1.0,
        realari15=RMA, realari16=RMI, realari17=vma, realari18=vmi)
    assert ierr == 0


def _saved_transformer(psspy, caspy, tmp_path):
    path = str(tmp_path / "solved.sav")
    assert psspy.save(path) == 0
    trn = caspy.Savecase(path).castrn
    return trn["WIND"][0][0], trn["ANG"][0][0]


def _progress(psspy, tmp_path):
    log = tmp_path / "progress.txt"
    assert psspy.progress_output(islct=2, filarg=str(log), options1=1) == 0
    return log


@pytest.fixture(scope="module")
def feeder_reference():
    """LV voltage at every position, the transformer's branch data, and a narrow band around the
    voltage of the position nearest 1.0 pu (only that position lies in it)."""
    net = _feeder()
    pp.runpp(net, init="flat", tolerance_mva=1e-9)
    branch = net._ppc["branch"][0].copy()
    voltages = {}
    for pos in range(TAP_MIN, TAP_MAX + 1):
        net.trafo.tap_pos = pos
        pp.runpp(net, tolerance_mva=1e-9)
        voltages[pos] = _lv_voltage(net)
    target = min(voltages, key=lambda k: abs(voltages[k] - 1.0))
    spacing = abs(voltages[target + 1] - voltages[target])
    band = (voltages[target] - 0.3 * spacing, voltages[target] + 0.3 * spacing)
    assert target <= -3, "the load must sag the LV bus enough for the tap to travel several positions"
    return branch, voltages, target, band


def test_stepping_tap_lands_where_pandapower_discrete_tap_control_lands(psspy, caspy, tmp_path, feeder_reference):
    branch, voltages, target, band = feeder_reference
    net = _feeder()
    DiscreteTapControl(net, 0, vm_lower_pu=band[0], vm_upper_pu=band[1], side="lv")
    pp.runpp(net, run_control=True, tolerance_mva=1e-9)
    assert int(net.trafo.tap_pos.iloc[0]) == target

    _feeder_in_engine(psspy, branch, *band)
    log = _progress(psspy, tmp_path)
    assert psspy.solution_parameters_4(realar1=1e-5) == 0
    assert psspy.fnsl(options1=1) == 0
    assert psspy.solved() == 0
    windv, _ = _saved_transformer(psspy, caspy, tmp_path)
    assert windv == pytest.approx(_ratio(target), abs=1e-12)
    assert psspy.busdat(2, "PU")[1] == pytest.approx(_lv_voltage(net), abs=1e-6)
    # One position per adjustment round, each on its own progress line.
    moves = [line for line in log.read_text().splitlines() if " -> " in line]
    assert len(moves) == -target
    assert all("transformer 1-2 '1'" in line for line in moves)

    # The position stays in the case: the next solution starts from it and moves nothing.
    log.write_text("")
    assert psspy.fnsl(options1=1) == 0
    assert psspy.solved() == 0
    assert " -> " not in log.read_text()
    assert _saved_transformer(psspy, caspy, tmp_path)[0] == windv


def test_direct_tap_solves_continuously_then_rounds_like_pandapower_continuous_control(psspy, caspy, tmp_path,
                                                                                      feeder_reference):
    branch, voltages, target, band = feeder_reference
    middle = 0.5 * (band[0] + band[1])
    net = _feeder()
    ContinuousTapControl(net, 0, vm_set_pu=middle, side="lv", tol=1e-7)
    pp.runpp(net, run_control=True, tolerance_mva=1e-9)
    continuous_position = float(net.trafo.tap_pos.iloc[0])
    assert round(continuous_position) == target

    _feeder_in_engine(psspy, branch, *band)
    log = _progress(psspy, tmp_path)
    assert psspy.solution_parameters_4(realar1=1e-5) == 0
    assert psspy.fnsl(options1=2) == 0
    assert psspy.solved() == 0
    windv, _ = _saved_transformer(psspy, caspy, tmp_path)
    assert windv == pytest.approx(_ratio(target), abs=1e-12)
    assert psspy.busdat(2, "PU")[1] == pytest.approx(voltages[target], abs=1e-6)
    # The first move goes straight toward the continuous solution, off the positions.
    first = next(line for line in log.read_text().splitlines() if " -> " in line)
    first_ratio = float(first.split(" -> ")[1].split(",")[0])
    assert abs(first_ratio - _ratio(round(continuous_position))) < 2 * TAP_STEP_PCT / 100
    assert min(abs(first_ratio - _ratio(k)) for k in range(TAP_MIN, TAP_MAX + 1)) > 1e-6


@pytest.mark.parametrize("options1", [1, 2])
def test_tap_at_its_limit_stops_there_and_says_so(psspy, caspy, tmp_path, feeder_reference, options1):
    branch, voltages, _, _ = feeder_reference
    _feeder_in_engine(psspy, branch, 1.15, 1.2)  # beyond what the lowest ratio gives
    log = _progress(psspy, tmp_path)
    assert psspy.fnsl(options1=options1) == 0
    assert psspy.solved() == 0
    windv, _ = _saved_transformer(psspy, caspy, tmp_path)
    assert windv == pytest.approx(RMI, abs=1e-12)
    assert psspy.busdat(2, "PU")[1] == pytest.approx(voltages[TAP_MIN], abs=1e-4)
    assert "transformer 1-2 '1': ratio at its limit" in log.read_text()


def test_locked_and_disabled_taps_stay_as_entered(psspy, caspy, tmp_path, feeder_reference):
    branch, voltages, _, band = feeder_reference
    _feeder_in_engine(psspy, branch, *band)
    assert psspy.fnsl(options1=0) == 0  # tap adjustment off
    assert psspy.solved() == 0
    assert _saved_transformer(psspy, caspy, tmp_path)[0] == 1.0
    assert psspy.busdat(2, "PU")[1] == pytest.approx(voltages[0], abs=1e-4)
    assert not band[0] <= psspy.busdat(2, "PU")[1] <= band[1]

    assert psspy.two_winding_data_6(1, 2, "1", intgar13=-1)[0] == 0  # negative mode: not adjusted
    assert psspy.fnsl(options1=1) == 0
    assert _saved_transformer(psspy, caspy, tmp_path)[0] == 1.0


def _two_port_flow(v1, v2, ratio, angle_deg, r, x):
    """Complex power (pu) into a transformer at its winding 1 bus: ideal ratio ratio*e^(j angle) at
    winding 1, series impedance r + jx toward winding 2 (ratio 1)."""
    a = ratio * np.exp(1j * np.deg2rad(angle_deg))
    y = 1 / complex(r, x)
    current = y / abs(a) ** 2 * v1 - y / np.conj(a) * v2
    return v1 * np.conj(current)


def _voltage(psspy, bus):
    return psspy.busdat(bus, "PU")[1] * np.exp(1j * psspy.busdat(bus, "ANGLE")[1])


def _two_paths(psspy, cod, band, rma, rmi, ntp):
    """Bus 1 (swing) and bus 2 joined by a line and, in parallel, a transformer controlling its flow;
    bus 2 has a 100 MW load and a machine holding 1.0 pu."""
    assert psspy.bus_data_4(1, 0, intgar1=3, realar1=230.0) == 0
    assert psspy.bus_data_4(2, 0, intgar1=2, realar1=230.0) == 0
    for bus in (1, 2):
        assert psspy.plant_data_4(bus, 0, realar1=1.0) == 0
        assert psspy.machine_data_4(bus, "1", realar1=0.0) == 0
    assert psspy.load_data_6(2, "1", realar1=100.0, realar2=20.0) == 0
    assert psspy.branch_data_3(1, 2, "1", realar1=0.01, realar2=0.1) == 0
    ierr, _ = psspy.two_winding_data_6(1, 2, "2", intgar7=ntp, intgar13=cod, realari1=0.005, realari2=0.1,
                                       realari15=rma, realari16=rmi, realari17=band[1], realari18=band[0])
    assert ierr == 0


def test_phase_shifter_holds_its_active_power_band(psspy, caspy, tmp_path):
    band = (66.0, 78.0)
    _two_paths(psspy, cod=3, band=band, rma=30.0, rmi=-30.0, ntp=61)  # 1 degree positions
    assert psspy.solution_parameters_4(realar1=1e-4) == 0
    assert psspy.fnsl(options1=1) == 0  # angles move only under options3
    assert _saved_transformer(psspy, caspy, tmp_path)[1] == 0.0
    flow = _two_port_flow(_voltage(psspy, 1), _voltage(psspy, 2), 1.0, 0.0, 0.005, 0.1).real * 100
    assert flow < band[0], "without the control the transformer carries its natural share"

    assert psspy.fnsl(options1=1, options3=1) == 0
    assert psspy.solved() == 0
    _, angle = _saved_transformer(psspy, caspy, tmp_path)
    assert angle == pytest.approx(round(angle), abs=1e-9) and angle != 0.0
    flow = _two_port_flow(_voltage(psspy, 1), _voltage(psspy, 2), 1.0, angle, 0.005, 0.1).real * 100
    assert band[0] <= flow <= band[1]


@pytest.mark.parametrize("options1", [1, 2])
def test_reactive_flow_control_holds_its_mvar_band(psspy, caspy, tmp_path, options1):
    band = (15.0, 20.0)
    _two_paths(psspy, cod=2, band=band, rma=1.1, rmi=0.9, ntp=81)
    assert psspy.solution_parameters_4(realar1=1e-4) == 0
    assert psspy.fnsl(options1=options1) == 0
    assert psspy.solved() == 0
    windv, _ = _saved_transformer(psspy, caspy, tmp_path)
    assert windv != 1.0
    assert (windv - 0.9) / 0.0025 == pytest.approx(round((windv - 0.9) / 0.0025), abs=1e-9)
    flow = _two_port_flow(_voltage(psspy, 1), _voltage(psspy, 2), windv, 0.0, 0.005, 0.1).imag * 100
    assert band[0] <= flow <= band[1]


def test_three_winding_tap_holds_its_winding_bus(psspy, caspy, tmp_path):
    """Winding 1 of a three-winding transformer holds the winding 2 bus, which carries a load."""
    for bus, kv, ide in ((1, 230.0, 3), (2, 34.5, 1), (3, 13.8, 1)):
        assert psspy.bus_data_4(bus, 0, intgar1=ide, realar1=kv) == 0
    assert psspy.plant_data_4(1, 0, realar1=1.0) == 0
    assert psspy.machine_data_4(1, "1") == 0
    assert psspy.load_data_6(2, "1", realar1=60.0, realar2=25.0) == 0
    ierr, _ = psspy.three_wnd_imped_data_4(1, 2, 3, "1", realari1=0.002, realari2=0.12, realari3=0.002,
                                           realari4=0.08, realari5=0.002, realari6=0.1)
    assert ierr == 0
    ierr, _ = psspy.three_wnd_winding_data_5(1, 2, 3, "1", 1, intgar1=33, intgar3=2, intgar6=1, realari1=1.0,
                                             realari4=1.1, realari5=0.9, realari6=1.0, realari7=0.99)
    assert ierr == 0
    assert psspy.fnsl(options1=0) == 0
    assert psspy.busdat(2, "PU")[1] < 0.99
    assert psspy.fnsl(options1=1) == 0
    assert psspy.solved() == 0
    assert 0.99 <= psspy.busdat(2, "PU")[1] <= 1.0
    path = str(tmp_path / "three.sav")
    assert psspy.save(path) == 0
    assert caspy.Savecase(path).castrn["WIND"][0][0] < 1.0


def test_load_drop_compensation_holds_the_voltage_beyond_the_bus(psspy, caspy, tmp_path, feeder_reference):
    """With CR + jCX the tap holds |V2 - Zc I| (I delivered by the transformer at bus 2) in the band,
    which puts bus 2 itself above the band, as far as the compensated feeder drop."""
    branch, _, _, _ = feeder_reference
    cr, cx = 0.01, 0.08
    _feeder_in_engine(psspy, branch, 0.99, 1.01)
    assert psspy.two_winding_data_6(1, 2, "1", realari19=cr, realari20=cx)[0] == 0
    assert psspy.solution_parameters_4(realar1=1e-5) == 0
    assert psspy.fnsl(options1=1) == 0
    assert psspy.solved() == 0
    windv, _ = _saved_transformer(psspy, caspy, tmp_path)
    v1, v2 = _voltage(psspy, 1), _voltage(psspy, 2)
    y = 1 / complex(float(branch[BR_R].real), float(branch[BR_X].real))
    delivered = y * (v1 / windv - v2)
    compensated = abs(v2 - complex(cr, cx) * delivered)
    assert 0.99 <= compensated <= 1.01
    assert abs(v2) > 1.01


def test_robust_solution_from_a_flat_start_adjusts_taps_too(psspy, caspy, tmp_path, feeder_reference):
    """rsol as the solving strategy calls it (options1 1, flat start) reaches pandapower's position."""
    branch, voltages, target, band = feeder_reference
    _feeder_in_engine(psspy, branch, *band)
    assert psspy.solution_parameters_4(realar1=1e-5) == 0
    assert psspy.rsol(options1=1, options2=2, options6=1, options7=1) == 0
    assert psspy.solved() == 0
    assert _saved_transformer(psspy, caspy, tmp_path)[0] == pytest.approx(_ratio(target), abs=1e-12)
    assert psspy.busdat(2, "PU")[1] == pytest.approx(voltages[target], abs=1e-4)


def _nordic44():
    andes = pytest.importorskip("andes", reason="andes (test extra) supplies the RAW files")
    return os.path.join(os.path.dirname(andes.__file__), "cases", "nordic44", "N44_BC.raw")


@pytest.mark.parametrize("options1", [1, 2])
def test_nordic44_tap_changers_bring_their_buses_into_band(psspy, caspy, tmp_path, options1):
    """The Nordic 44-bus case (andes' RAW file) has eleven voltage-controlling transformers with a
    0.99-1.01 pu band. Its ratios are moved 0.05 off their solved values: with taps locked several
    controlled buses lie outside the band; with adjustment every controlled bus not held by a machine
    ends in its band, or its ratio at a limit, on a position."""
    assert psspy.read(0, _nordic44()) == 0
    initial = str(tmp_path / "initial.sav")
    assert psspy.save(initial) == 0
    trn = caspy.Savecase(initial).castrn
    for buses, ckt, cntl, wind in zip(trn["BUSNUM"], trn["CKT"], trn["CNTL"], trn["WIND"]):
        if cntl[0] == 1 and buses[2] == 0:
            assert psspy.two_winding_data_6(buses[0], buses[1], ckt, realari4=wind[0] + 0.05)[0] == 0
    assert psspy.fnsl(options1=0) == 0
    assert psspy.solved() == 0

    def controlled(path):
        assert psspy.save(path) == 0
        case = caspy.Savecase(path)
        vm = dict(zip(case.pssbus["NUM"], case.pssbus["VM"]))
        ide = dict(zip(case.pssbus["NUM"], case.pssbus["IDE"]))
        trn = case.castrn
        rows = []
        for i in range(case.cas_ntrn):
            if trn["CNTL"][i][0] != 1 or ide[abs(trn["CONBUS"][i][0])] != 1:
                continue
            rows.append(dict(vm=vm[abs(trn["CONBUS"][i][0])], ratio=trn["WIND"][i][0], vmin=trn["VMIN"][i][0],
                             vmax=trn["VMAX"][i][0], rmin=trn["RMIN"][i][0], rmax=trn["RMAX"][i][0],
                             ntp=trn["NTAPS"][i][0]))
        return rows

    locked = controlled(str(tmp_path / "locked.sav"))
    assert len(locked) >= 8
    assert sum(not r["vmin"] <= r["vm"] <= r["vmax"] for r in locked) >= 3

    assert psspy.fnsl(options1=options1) == 0
    assert psspy.solved() == 0
    for r, before in zip(controlled(str(tmp_path / "adjusted.sav")), locked):
        at_limit = r["ratio"] in (r["rmin"], r["rmax"])
        assert r["vmin"] - 1e-6 <= r["vm"] <= r["vmax"] + 1e-6 or at_limit, r
        step = (r["rmax"] - r["rmin"]) / (r["ntp"] - 1)
        if r["ratio"] != before["ratio"]:
            position = (r["ratio"] - r["rmin"]) / step
            assert position == pytest.approx(round(position), abs=1e-6)
