"""Impedance correction tables: a transformer's impedance follows its table as its ratio moves,
in a plain solution and while the tap adjusts.

Reference: pandapower with the transformer's short-circuit voltages scaled by the factor the
table gives at the engine's final ratio (scaling vk and vkr together scales the impedance
pandapower derives by exactly that factor)."""
import numpy as np
import pandapower as pp
import pytest

TAP_MIN, TAP_MAX, TAP_STEP_PCT = -9, 9, 1.5
RMI, RMA, NTP = 1 + TAP_MIN * TAP_STEP_PCT / 100, 1 + TAP_MAX * TAP_STEP_PCT / 100, TAP_MAX - TAP_MIN + 1
VK_PCT, VKR_PCT = 12.0, 0.5
LOAD_MW, LOAD_MVAR = 32.0, 14.0
# Factor rising steeply away from the neutral ratio, so that the impedance at the final
# position differs clearly from the one at the start.
TABLE = [(0.865, 2.2), (1.0, 1.0), (1.135, 2.2)]


def _feeder(tap_pos=0, factor=1.0):
    net = pp.create_empty_network(sn_mva=100.0)
    hv = pp.create_bus(net, 110.0)
    lv = pp.create_bus(net, 20.0)
    pp.create_ext_grid(net, hv, vm_pu=1.0)
    pp.create_transformer_from_parameters(
        net, hv, lv, sn_mva=40.0, vn_hv_kv=110.0, vn_lv_kv=20.0, vk_percent=VK_PCT * factor,
        vkr_percent=VKR_PCT * factor, pfe_kw=0.0, i0_percent=0.0, tap_side="hv", tap_neutral=0, tap_min=-15,
        tap_max=15, tap_step_percent=TAP_STEP_PCT, tap_pos=tap_pos, tap_changer_type="Ratio")
    pp.create_load(net, lv, p_mw=LOAD_MW, q_mvar=LOAD_MVAR)
    pp.runpp(net, tolerance_mva=1e-9)
    return net


def _factor(ratio):
    t, f = zip(*TABLE)
    return float(np.interp(ratio, t, f))


def _feeder_with_table(psspy, tmp_path, windv, cod, band=(0.9, 1.1), tab=1):
    """The pandapower feeder built through the data calls, saved, given the table in its file and
    read back."""
    assert psspy.psseinit(buses=1000) == 0
    assert psspy.progress_output(islct=6) == 0
    branch = _feeder()._ppc["branch"][0]
    assert psspy.bus_data_4(1, 0, intgar1=3, realar1=110.0) == 0
    assert psspy.bus_data_4(2, 0, intgar1=1, realar1=20.0) == 0
    assert psspy.plant_data_4(1, 0, realar1=1.0) == 0
    assert psspy.machine_data_4(1, "1") == 0
    assert psspy.load_data_6(2, "1", realar1=LOAD_MW, realar2=LOAD_MVAR) == 0
    ierr, _ = psspy.two_winding_data_6(
        1, 2, "1", intgar7=NTP, intgar8=tab, intgar10=2, intgar13=cod, realari1=float(branch[2].real),
        realari2=float(branch[3].real), realari4=windv, realari15=RMA, realari16=RMI, realari17=band[1],
        realari18=band[0])
    assert ierr == 0
    _reopen_with_table(psspy, tmp_path)


def _reopen_with_table(psspy, tmp_path):
    """Saves the working case, writes TABLE into its file as table 1 and reads it back."""
    path = tmp_path / "with_table.sav"
    assert psspy.save(str(path)) == 0
    points = ",".join(f"{t},{f},0.0" for t, f in TABLE)
    text = path.read_text().replace("BEGIN IMPEDANCE CORRECTION DATA\n",
                                    f"BEGIN IMPEDANCE CORRECTION DATA\n1,{points},0.0,0.0,0.0\n", 1)
    assert f"1,{points}" in text
    path.write_text(text)
    assert psspy.case(str(path)) == 0
    assert psspy.solution_parameters_4(realar1=1e-6) == 0


def _saved_windv(psspy, caspy, tmp_path):
    path = str(tmp_path / "solved.sav")
    assert psspy.save(path) == 0
    return caspy.Savecase(path).castrn["WIND"][0][0]


@pytest.mark.parametrize("position", [-6, 0, 5])
def test_locked_ratio_solves_with_the_tables_impedance(psspy, tmp_path, position):
    ratio = 1 + position * TAP_STEP_PCT / 100
    _feeder_with_table(psspy, tmp_path, ratio, cod=0)
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    corrected = _feeder(position, _factor(ratio)).res_bus.vm_pu.iloc[1]
    assert psspy.busdat(2, "PU")[1] == pytest.approx(corrected, abs=1e-6)
    # The flow into the transformer uses the same corrected impedance: it carries the load.
    p_in = psspy.brnmsc(1, 2, "1", "P")[1]
    assert p_in == pytest.approx(_feeder(position, _factor(ratio)).res_trafo.p_hv_mw.iloc[0], abs=1e-4)
    if position != 0:
        uncorrected = _feeder(position).res_bus.vm_pu.iloc[1]
        assert abs(corrected - uncorrected) > 1e-3  # the test tells the two apart

    # A transformer that names no table keeps its impedance.
    assert psspy.two_winding_data_6(1, 2, "1", intgar8=0)[0] == 0
    assert psspy.fnsl() == 0
    assert psspy.busdat(2, "PU")[1] == pytest.approx(_feeder(position).res_bus.vm_pu.iloc[1], abs=1e-6)


@pytest.mark.parametrize("options1", [1, 2])
def test_tap_adjustment_moves_the_impedance_with_the_ratio(psspy, caspy, tmp_path, options1):
    # A band the LV bus only reaches after the tap travels several positions down.
    _feeder_with_table(psspy, tmp_path, 1.0, cod=1, band=(0.985, 1.005))
    assert psspy.fnsl(options1=options1) == 0 and psspy.solved() == 0
    windv = _saved_windv(psspy, caspy, tmp_path)
    position = round((windv - 1) / (TAP_STEP_PCT / 100))
    assert position <= -3 and windv == pytest.approx(1 + position * TAP_STEP_PCT / 100, abs=1e-12)
    expected = _feeder(position, _factor(windv)).res_bus.vm_pu.iloc[1]
    assert psspy.busdat(2, "PU")[1] == pytest.approx(expected, abs=1e-6)
    assert 0.985 <= psspy.busdat(2, "PU")[1] <= 1.005
    # Re-solving the adjusted case from its own file moves nothing and changes nothing.
    path = tmp_path / "adjusted.sav"
    assert psspy.save(str(path)) == 0 and psspy.case(str(path)) == 0
    assert psspy.fnsl(options1=options1) == 0
    assert _saved_windv(psspy, caspy, tmp_path) == windv
    assert psspy.busdat(2, "PU")[1] == pytest.approx(expected, abs=1e-6)


def test_factor_is_interpolated_and_held_beyond_the_table(psspy, tmp_path):
    """Between points the factor is linear in the ratio; beyond the last point it keeps the last
    point's value."""
    for ratio in (0.9325, 1.06):
        _feeder_with_table(psspy, tmp_path, ratio, cod=0)
        assert psspy.fnsl() == 0
        position = (ratio - 1) / (TAP_STEP_PCT / 100)
        assert psspy.busdat(2, "PU")[1] == pytest.approx(
            _feeder(position, _factor(ratio)).res_bus.vm_pu.iloc[1], abs=1e-6)
    # Outside the table (ratio 0.85 below its first point 0.865): the first point's factor.
    _feeder_with_table(psspy, tmp_path, 0.85, cod=0)
    assert psspy.fnsl() == 0
    assert psspy.busdat(2, "PU")[1] == pytest.approx(_feeder(-10, TABLE[0][1]).res_bus.vm_pu.iloc[1], abs=1e-6)


@pytest.mark.parametrize("zcod", [0, 1])
def test_three_winding_factor_scales_its_star_share_or_its_bus_to_bus_impedance(psspy, tmp_path, zcod):
    """Winding 1 at ratio 1.05 names the table (factor 1.444...). ZCOD 0 scales winding 1's share
    of the star, ZCOD 1 scales Z1-2; the reference is the same transformer without a table whose
    impedances carry that scaling."""
    z12, z23, z31 = complex(0.002, 0.08), complex(0.003, 0.12), complex(0.0025, 0.1)
    factor = _factor(1.05)

    def solve(impedances, tab):
        assert psspy.psseinit(buses=100) == 0
        assert psspy.progress_output(islct=6) == 0
        for bus, ide, kv in ((1, 3, 230.0), (2, 1, 69.0), (3, 1, 13.8)):
            assert psspy.bus_data_4(bus, 0, intgar1=ide, realar1=kv) == 0
        assert psspy.plant_data_4(1, 0, realar1=1.0) == 0
        assert psspy.machine_data_4(1, "1") == 0
        assert psspy.load_data_6(2, "1", realar1=60.0, realar2=25.0) == 0
        assert psspy.load_data_6(3, "1", realar1=20.0, realar2=10.0) == 0
        a, b, c = impedances
        ierr, _ = psspy.three_wnd_imped_data_4(1, 2, 3, "1", intgar12=zcod, realari1=a.real, realari2=a.imag,
                                               realari3=b.real, realari4=b.imag, realari5=c.real, realari6=c.imag)
        assert ierr == 0
        assert psspy.three_wnd_winding_data_5(1, 2, 3, "1", warg=1, intgar2=tab, realari1=1.05)[0] == 0
        if tab:
            _reopen_with_table(psspy, tmp_path)
        assert psspy.solution_parameters_4(realar1=1e-6) == 0
        assert psspy.fnsl() == 0 and psspy.solved() == 0
        return [psspy.busdat(bus, "PU")[1] for bus in (2, 3)] + [psspy.busdat(bus, "ANGLE")[1] for bus in (2, 3)]

    with_table = solve((z12, z23, z31), 1)
    if zcod == 1:
        scaled = (z12 * factor, z23, z31)
    else:
        star1, star2, star3 = (z12 + z31 - z23) / 2, (z12 + z23 - z31) / 2, (z23 + z31 - z12) / 2
        scaled = (factor * star1 + star2, z23, star3 + factor * star1)
    assert with_table == pytest.approx(solve(scaled, 0), abs=1e-8)
    assert abs(with_table[0] - solve((z12, z23, z31), 0)[0]) > 1e-3
