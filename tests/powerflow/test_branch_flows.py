"""brnmsc and wnddat: flows of the last solution in lines, transformers and windings.

The flows are checked against the physics rather than against the code: at every bus
without machines, what the branches carry away must balance the loads and shunts there to
within the solution tolerance, on a merged network holding lines, two- and three-winding
transformers, a tertiary reactor and a capacitor.
"""
import pytest

from helpers import engine_cases

SOLVED_WITHIN_MW = 0.15  # the solution's mismatch tolerance is 0.1 MW / Mvar


@pytest.fixture
def solved(psspy, caspy, tmp_path):
    engine_cases.build_main_network(psspy)
    engine_cases.build_solar_plant(psspy, poi_bus=104)
    engine_cases.build_wind_plant(psspy, poi_bus=103)
    psspy.fnsl(options1=0, options6=1)
    assert psspy.solved() == 0
    path = str(tmp_path / "merged.sav")
    assert psspy.save(path) == 0
    return psspy, caspy.Savecase(path)


def _walk(psspy, bus):
    """(lines and two-winding transformers, three-winding transformers) in service at bus."""
    psspy.inibrn_2(ibus=bus, single=1)
    two = []
    while True:
        ierr, far, _, ckt = psspy.nxtbrn_2(ibus=bus)
        if ierr:
            break
        two.append((far, ckt))
    psspy.inibrn_2(ibus=bus, single=1)
    three = []
    while True:
        result = psspy.nxtbrn3_2(ibus=bus)
        if result[0]:
            break
        three.append((result[1], result[3], result[5]))
    return two, three


def _flow_away(psspy, bus, quantity):
    two, three = _walk(psspy, bus)
    total = 0.0
    for far, ckt in two:
        ierr, value = psspy.brnmsc(ibus=bus, jbus=far, ckt=ckt, string=quantity)
        assert ierr == 0, (bus, far, ckt)
        total += value
    for j, k, ckt in three:
        ierr, value = psspy.wnddat(ibus=bus, jbus=j, kbus=k, ckt=ckt, string=quantity)
        assert ierr == 0, (bus, j, k, ckt)
        total += value
    return total


def _per_bus(table, column, numbers):
    out = {}
    for bus, value in zip(table["NUM"], table[column]):
        out[bus] = out.get(bus, 0) + (value[0] if isinstance(value, (list, tuple)) else value) * 100.0
    return {bus: out.get(bus, 0) for bus in numbers}


def test_branch_flows_balance_loads_and_shunts_at_every_bus_without_machines(solved):
    psspy, case = solved
    buses = [b for b in case.pssbus["NUM"] if b < 1000000]
    with_machines = set(case.pssgen["NUM"]) | set(case.pssind["NUM"])
    with_switched = set(case.psswsh["NUM"])
    loads = _per_bus(case.psslod, "LOAD", buses)
    shunts = _per_bus(case.pssfsh, "SHUNT", buses)
    checked = 0
    for bus in buses:
        if bus in with_machines:
            continue
        v = psspy.busdat(ibus=bus, string="PU")[1]
        p_away = _flow_away(psspy, bus, "P")
        assert p_away + loads[bus].real + shunts[bus].real * v * v == pytest.approx(0.0, abs=SOLVED_WITHIN_MW), bus
        if bus not in with_switched:
            q_away = _flow_away(psspy, bus, "Q")
            assert q_away + loads[bus].imag - shunts[bus].imag * v * v == pytest.approx(
                0.0, abs=SOLVED_WITHIN_MW), bus
        checked += 1
    # Load buses of the main network, the capacitor bus and the wind plant's three windings.
    assert {103, 104, 105, 201, 2001, 2002, 2003}.issubset(
        {b for b in buses if b not in with_machines}) and checked >= 7


def test_loading_is_the_larger_end_in_percent_of_rate1_and_either_orientation_names_the_branch(solved):
    psspy, _ = solved
    mva_from = psspy.brnmsc(ibus=101, jbus=102, ckt="1", string="MVA")[1]
    mva_to = psspy.brnmsc(ibus=102, jbus=101, ckt="1", string="MVA")[1]
    assert mva_from > 10.0 and mva_from != pytest.approx(mva_to, abs=1e-6)  # losses and charging differ
    for i, j in ((101, 102), (102, 101)):
        assert psspy.brnmsc(ibus=i, jbus=j, ckt="1", string="PCTRTA") == (0, pytest.approx(
            100.0 * max(mva_from, mva_to) / 400.0))
    p_1, q_1 = (psspy.brnmsc(ibus=103, jbus=201, ckt="T1", string=s)[1] for s in ("P", "Q"))
    assert psspy.brnmsc(ibus=103, jbus=201, ckt="T1", string="MVA")[1] == pytest.approx(abs(complex(p_1, q_1)))
    # Losses of a line are positive and small; power flows from the sending end.
    p_2 = psspy.brnmsc(ibus=201, jbus=103, ckt="T1", string="P")[1]
    assert 0.0 < p_1 + p_2 < 0.05 * abs(p_1)


def test_flow_calls_name_what_they_cannot_find(solved):
    psspy, _ = solved
    assert psspy.brnmsc(ibus=101, jbus=104, ckt="1", string="P") == (4, None)   # no such branch
    assert psspy.brnmsc(ibus=101, jbus=999, ckt="1", string="P") == (3, None)   # no such bus
    assert psspy.brnmsc(ibus=101, jbus=102, ckt="1", string="AMPS") == (15, None)
    assert psspy.wnddat(ibus=101, jbus=102, kbus=103, ckt="1", string="P") == (4, None)
    with pytest.raises(TypeError):
        psspy.brnmsc(ibus=101, jbus=102, ckt="1", quantity="P")
