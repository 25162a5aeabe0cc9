"""FACTS devices in the solution: the shunt element holding its bus within its current limit,
the series element holding its set flow or impedance, and the modes the engine refuses.

The shunt element in its regulating range is compared with pypowsybl's static var compensator
(its PSS/E importer turns a shunt-only FACTS device into one) on the engine's own RAW export.
At its limit and for the series element, equivalent networks solved by the engine give the
reference: a fixed shunt drawing the same current, a line of the same impedance, and bus
balances from the engine's branch flows."""
import math
import os

import pytest

LOAD_2, LOAD_3 = (40.0, 15.0), (30.0, 20.0)


def _grid(psspy, tie_line=True):
    """Bus 1 (swing, 1.02 pu) feeds bus 2 by a line; bus 3 hangs on bus 2 by a second line (or
    only by the FACTS device under test)."""
    for bus, ide in ((1, 3), (2, 1), (3, 1)):
        assert psspy.bus_data_4(bus, 0, intgar1=ide, realar1=230.0, name=f"B{bus}") == 0
    assert psspy.plant_data_4(1, 0, realar1=1.02) == 0
    assert psspy.machine_data_4(1, "1", realar1=150.0) == 0
    assert psspy.load_data_6(2, "1", realar1=LOAD_2[0], realar2=LOAD_2[1]) == 0
    assert psspy.load_data_6(3, "1", realar1=LOAD_3[0], realar2=LOAD_3[1]) == 0
    assert psspy.branch_data_3(1, 2, "1", realar1=0.02, realar2=0.12, realar3=0.02) == 0
    if tie_line:
        assert psspy.branch_data_3(2, 3, "1", realar1=0.03, realar2=0.15, realar3=0.01) == 0
    assert psspy.solution_parameters_4(realar1=1e-4) == 0


def _voltages(psspy, buses=(1, 2, 3)):
    return [psspy.busdat(bus, "PU")[1] * complex(math.cos(a), math.sin(a))
            for bus, a in ((bus, psspy.busdat(bus, "ANGLE")[1]) for bus in buses)]


def _progress(psspy, tmp_path):
    log = tmp_path / "progress.txt"
    assert psspy.progress_output(islct=2, filarg=str(log), options1=1) == 0
    return log


def test_statcom_holds_its_bus_as_pypowsybl_static_var_compensator_does(psspy, tmp_path):
    _grid(psspy)
    assert psspy.fnsl() == 0
    sagging = psspy.busdat(3, "PU")[1]
    assert sagging < 0.97
    assert psspy.facts_data("SVC1", ibus=3, intgar1=1, realar3=1.0, realar4=200.0) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    assert psspy.busdat(3, "PU")[1] == pytest.approx(1.0, abs=1e-12)
    engine = _voltages(psspy)

    pypowsybl = pytest.importorskip("pypowsybl")
    raw = tmp_path / "statcom.raw"
    assert psspy.writerawversion("33", 0, str(raw)) == 0
    network = pypowsybl.network.load(os.fspath(raw))
    assert len(network.get_static_var_compensators()) == 1
    result = pypowsybl.loadflow.run_ac(network, pypowsybl.loadflow.Parameters(distributed_slack=False))
    assert result[0].status == pypowsybl.loadflow.ComponentStatus.CONVERGED
    buses = network.get_buses().join(network.get_voltage_levels()["nominal_v"], on="voltage_level_id")
    theirs = buses.sort_values("name") if "name" in buses else buses.sort_index()
    magnitudes = (theirs["v_mag"] / theirs["nominal_v"]).tolist()
    angles = [a - theirs["v_angle"].iloc[0] for a in theirs["v_angle"]]
    assert magnitudes == pytest.approx([abs(v) for v in engine], abs=1e-5)
    assert angles == pytest.approx([math.degrees(math.atan2(v.imag, v.real)) for v in engine], abs=1e-3)


def test_statcom_at_its_current_limit_delivers_limit_times_voltage(psspy, tmp_path):
    """With a 20 MVA rating the device cannot lift bus 3 to 1.0 pu: it delivers 20 Mvar times
    the bus voltage, which is what a fixed shunt of 20 / V Mvar (at 1 pu) draws at V."""
    _grid(psspy)
    assert psspy.facts_data("SVC1", ibus=3, intgar1=1, realar3=1.0, realar4=20.0) == 0
    log = _progress(psspy, tmp_path)
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    limited = _voltages(psspy)
    v3 = abs(limited[2])
    assert 0.95 < v3 < 0.999
    assert "fnsl FACTS device 'SVC1': shunt current at its limit 0.2000 pu" in log.read_text()

    # The same case from its own file starts at the limit and moves nothing.
    path = tmp_path / "limited.sav"
    assert psspy.save(str(path)) == 0 and psspy.case(str(path)) == 0
    log.write_text("")
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    assert "fnsl converged after 0 iterations" in log.read_text()
    assert abs(psspy.busdat(3, "PU")[1] - v3) < 1e-6

    assert psspy.facts_data("SVC1", intgar1=0) == 0  # out of service
    assert psspy.shunt_data(3, "1", realar2=20.0 / v3) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    assert _voltages(psspy) == pytest.approx(limited, abs=1e-6)


@pytest.mark.parametrize("mode, reals, impedance", [
    (3, {"realar12": 0.01, "realar13": 0.06}, (0.01, 0.06)),  # constant impedance SET1 + jSET2
    (2, {"realar10": 0.04}, (0.0, 0.04)),                     # bypassed: the reactance LINX
])
def test_series_element_of_fixed_impedance_acts_as_that_line(psspy, mode, reals, impedance):
    """Bus 3 reaches the network only through the device, so it is solved only when the series
    element joins it."""
    _grid(psspy, tie_line=False)
    assert psspy.facts_data("S1", ibus=2, jbus=3, intgar1=mode, realar4=0.0, **reals) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    through_device = _voltages(psspy)
    assert abs(through_device[2]) < 0.99

    assert psspy.facts_data("S1", intgar1=0) == 0
    assert psspy.branch_data_3(2, 3, "9", realar1=impedance[0], realar2=impedance[1]) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    assert _voltages(psspy) == pytest.approx(through_device, abs=1e-7)


def test_series_element_delivers_its_set_flow_at_the_terminal_bus(psspy, tmp_path):
    """Bus 3's load is fed by the device (30 MW, 5 Mvar arriving) and the parallel line: the line
    brings the rest. The swing supplies the device's power at bus 2 (the device is lossless)."""
    _grid(psspy)
    assert psspy.fnsl() == 0
    line_before = psspy.brnmsc(3, 2, "1", "P")[1]
    assert psspy.facts_data("UPFC1", ibus=2, jbus=3, intgar1=1, realar1=30.0, realar2=5.0, realar4=0.0,
                            realar8=1.0) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    # What the line delivers into bus 3 (minus what enters it there), plus the device's flow,
    # covers the load.
    assert -psspy.brnmsc(3, 2, "1", "P")[1] == pytest.approx(LOAD_3[0] - 30.0, abs=1e-3)
    assert -psspy.brnmsc(3, 2, "1", "Q")[1] == pytest.approx(LOAD_3[1] - 5.0, abs=1e-3)
    assert abs(psspy.brnmsc(3, 2, "1", "P")[1] - line_before) > 25.0

    def inserted_voltage():
        """The device's flow from bus 3's balance, and the series voltage it needs."""
        p_device = LOAD_3[0] + psspy.brnmsc(3, 2, "1", "P")[1]
        q_device = LOAD_3[1] + psspy.brnmsc(3, 2, "1", "Q")[1]
        v1, v2, v3 = _voltages(psspy)
        current = (complex(p_device, q_device) / 100.0 / v3).conjugate()
        return p_device, q_device, abs(v3 - v2 + 0.05j * current)  # LINX 0.05 pu (the default)

    assert inserted_voltage()[2] < 0.05
    # Asked for 90 MW, the device would need 0.14 pu of series voltage; a limit of 0.1 pu holds
    # back the flow, P and Q scaled together, until the voltage it inserts is at its limit.
    log = _progress(psspy, tmp_path)
    assert psspy.facts_data("UPFC1", realar1=90.0, realar2=15.0, realar8=0.1) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    p_device, q_device, inserted = inserted_voltage()
    assert 30.0 < p_device < 85.0 and q_device == pytest.approx(p_device * 15.0 / 90.0, abs=1e-3)
    assert inserted == pytest.approx(0.1, rel=1e-3)
    assert "fnsl FACTS device 'UPFC1': series voltage at its limit" in log.read_text()


def test_modes_the_solution_does_not_model_are_refused_at_entry_and_left_out_from_a_file(psspy, tmp_path):
    _grid(psspy)
    assert psspy.facts_data("F1", ibus=2, jbus=3, intgar1=4) == 6    # constant series voltage
    assert psspy.facts_data("F1", ibus=2, jbus=3, intgar1=6) == 6    # interline device
    assert psspy.facts_data("F1", ibus=2, jbus=0, intgar1=2) == 6    # bypass without a series element
    assert psspy.facts_data("F1", ibus=2, jbus=3, intgar1=3) == 0
    assert psspy.facts_data("F1", intgar1=5) == 6                     # a refused change keeps the device
    path = tmp_path / "facts.sav"
    assert psspy.save(str(path)) == 0
    text = path.read_text()
    assert "'F1',2,3,3," in text
    (tmp_path / "mode5.sav").write_text(text.replace("'F1',2,3,3,", "'F1',2,3,5,"))
    log = _progress(psspy, tmp_path)
    # A case file may hold it: the case is read whole and every solution names the device it leaves out.
    assert psspy.case(str(tmp_path / "mode5.sav")) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    assert "fnsl FACTS device 'F1' in mode 5 not modelled, left out of the solution" in log.read_text()
    assert psspy.save(str(tmp_path / "again.sav")) == 0
    assert "'F1',2,3,5," in (tmp_path / "again.sav").read_text()


def test_shunt_element_at_a_bus_a_machine_holds_is_named_and_left_out(psspy, tmp_path):
    _grid(psspy)
    assert psspy.fnsl() == 0
    before = _voltages(psspy)
    assert psspy.facts_data("SVC1", ibus=1, intgar1=1, realar3=1.05) == 0
    log = _progress(psspy, tmp_path)
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    assert "fnsl FACTS device 'SVC1': bus 1 is held by a machine, shunt element left out" in log.read_text()
    assert _voltages(psspy) == pytest.approx(before, abs=1e-9)


def test_series_current_limit_scales_the_set_flow(psspy):
    """A 20 MVA series current rating: 30 MW + 5 Mvar asked needs about 0.31 pu of current, so the
    flow is held back until the current the device carries is 0.2 pu."""
    _grid(psspy)
    assert psspy.facts_data("UPFC1", ibus=2, jbus=3, intgar1=1, realar1=30.0, realar2=5.0, realar4=0.0,
                            realar8=1.0, realar9=20.0) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    s_device = complex(LOAD_3[0] + psspy.brnmsc(3, 2, "1", "P")[1], LOAD_3[1] + psspy.brnmsc(3, 2, "1", "Q")[1])
    assert abs(s_device) / 100.0 / psspy.busdat(3, "PU")[1] == pytest.approx(0.2, rel=1e-3)
    assert s_device.imag == pytest.approx(s_device.real * 5.0 / 30.0, abs=1e-3)


def test_shunt_element_holds_a_remote_bus(psspy):
    """At bus 2, regulating bus 3 (FCREG): bus 3 is held at VSET, bus 2 is free."""
    _grid(psspy)
    assert psspy.facts_data("SVC1", ibus=2, intgar1=1, intgar4=3, realar3=0.99, realar4=500.0) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    assert psspy.busdat(3, "PU")[1] == pytest.approx(0.99, abs=1e-12)
    assert psspy.busdat(2, "PU")[1] > 0.99
