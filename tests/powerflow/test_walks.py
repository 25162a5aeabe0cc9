"""Branch and machine walks at a bus, and taking buses out of service and back (dscn/recn)."""
import pytest

from helpers import engine_cases


def branches_at(psspy, bus, single=2):
    ierr, count = psspy.inibrn_2(ibus=bus, inode=0, single=single)
    assert ierr == 0
    found = []
    while True:
        ierr, far, _, ckt = psspy.nxtbrn_2(ibus=bus, inode=0)
        if ierr:
            assert ierr == 9
            break
        found.append((far, ckt))
    psspy.inibrn_2(ibus=bus, inode=0, single=single)
    three = []
    while True:
        result = psspy.nxtbrn3_2(ibus=bus, inode=0)
        if result[0]:
            break
        three.append((result[1], result[3], result[5]))
    assert count == len(found) + len(three)
    return found, three


def machines_at(psspy, bus):
    assert psspy.inimac(ibus=bus) == 0
    found = []
    while True:
        ierr, machine = psspy.nxtmac(ibus=bus)
        if ierr:
            assert (ierr, machine) == (9, None)
            return found
        found.append(machine)


@pytest.fixture
def merged(psspy):
    """The main network with the solar plant at 104 and the wind plant at 103."""
    engine_cases.build_main_network(psspy)
    engine_cases.build_solar_plant(psspy, poi_bus=104)
    engine_cases.build_wind_plant(psspy, poi_bus=103)
    assert psspy.busdat(103, "TYPE") == (0, 1) and psspy.busdat(104, "TYPE") == (0, 1)
    return psspy


def test_branch_walk_lists_lines_then_two_winding_transformers(merged):
    lines, three = branches_at(merged, 103)
    assert lines == [(101, "1"), (102, "1"), (104, "1"), (2001, "1"), (201, "T1")]
    assert three == []
    lines, three = branches_at(merged, 2002)
    assert lines == [(2004, "C1")]
    assert three == [(2001, 2003, "1")]
    _, three = branches_at(merged, 2003)
    assert three == [(2001, 2002, "1")]


def test_walk_filter_and_walk_state(merged):
    merged.branch_data_3(ibus=103, jbus=104, ckt="1", intgar1=0)
    lines, _ = branches_at(merged, 103, single=1)
    assert (104, "1") not in lines and len(lines) == 4
    lines, _ = branches_at(merged, 103, single=2)
    assert (104, "1") in lines
    # a walk answers only at the bus it was started at
    merged.inibrn_2(ibus=103, inode=0, single=2)
    assert merged.nxtbrn_2(ibus=104, inode=0)[0] == 10
    assert merged.nxtbrn_2(ibus=9999, inode=0)[0] == 3
    assert merged.inibrn_2(ibus=9999)[0] == 3


def test_machine_walk_returns_every_machine_whatever_its_status(merged):
    merged.plant_data_4(ibus=2004)
    merged.machine_data_5(ibus=2004, id="W2", realar1=5.0)
    merged.machine_chng_4(ibus=2004, id="W1", intgar1=0)
    assert machines_at(merged, 2004) == ["W1", "W2"]
    assert machines_at(merged, 103) == []
    assert merged.nxtmac(ibus=101)[0] == 10


def status_of(caspy, psspy, tmp_path):
    path = tmp_path / "state.sav"
    assert psspy.save(str(path)) == 0
    case = caspy.Savecase(str(path))
    bus_type = dict(zip(case.pssbus["NUM"], case.pssbus["IDE"]))
    lines = {(f, t, c): s for f, t, c, s in zip(case.casbrn["FRMBUS"], case.casbrn["TOBUS"], case.casbrn["CKT"],
                                                case.casbrn["STAT"])}
    transformers = {tuple(b) + (c,): s for b, c, s in zip(case.castrn["BUSNUM"], case.castrn["CKT"], case.castrn["STAT"])}
    return bus_type, lines, transformers


def test_dscn_isolates_and_recn_restores_outward_from_the_connecting_bus(merged, caspy, tmp_path):
    """The order the solving strategy uses: every plant bus out, then back one by one."""
    plant = (2001, 2002, 2003, 2004)
    merged.branch_data_3(ibus=2002, jbus=2004, ckt="X", intgar1=0)  # a line already out stays out
    for bus in plant:
        assert merged.dscn(bus) == 0
    bus_type, lines, transformers = status_of(caspy, merged, tmp_path)
    assert all(bus_type[b] == 4 for b in plant) and bus_type[1000000] == 4
    assert lines[(103, 2001, "1")] == 0 and transformers[(2001, 2002, 2003, "1")] == 0
    assert transformers[(2002, 2004, 0, "C1")] == 0

    assert merged.recn(2001) == 0  # its far end 103 is in service: the gen-tie comes back
    bus_type, lines, transformers = status_of(caspy, merged, tmp_path)
    assert bus_type[2001] == 1 and lines[(103, 2001, "1")] == 1
    assert transformers[(2001, 2002, 2003, "1")] == 0  # 2002 and 2003 are still out

    assert merged.recn(2002) == 0
    assert status_of(caspy, merged, tmp_path)[2][(2001, 2002, 2003, "1")] == 0
    assert merged.recn(2003) == 0  # now all three windings' buses are in service
    bus_type, lines, transformers = status_of(caspy, merged, tmp_path)
    assert transformers[(2001, 2002, 2003, "1")] == 1 and bus_type[1000000] == 1
    assert transformers[(2002, 2004, 0, "C1")] == 0

    assert merged.recn(2004) == 0  # switched off by dscn(2002), it returns with its far end
    bus_type, lines, transformers = status_of(caspy, merged, tmp_path)
    assert bus_type[2004] == 2 and transformers[(2002, 2004, 0, "C1")] == 1
    assert lines[(2002, 2004, "X")] == 0


def test_dscn_twice_keeps_the_first_remembered_type(merged, caspy, tmp_path):
    assert merged.dscn(102) == 0
    assert merged.dscn(102) == 0
    assert merged.recn(102) == 0
    bus_type, lines, _ = status_of(caspy, merged, tmp_path)
    assert bus_type[102] == 2
    assert lines[(101, 102, "1")] == 1 and lines[(102, 104, "1")] == 1


def test_recn_of_a_bus_isolated_otherwise_makes_it_a_load_bus(merged, caspy, tmp_path):
    merged.bus_chng_4(ibus=105, intgar1=4)
    assert merged.recn(105) == 0
    assert status_of(caspy, merged, tmp_path)[0][105] == 1
    assert merged.dscn(9999) == 3 and merged.recn(0) == 2


def test_busdat_quantities(merged):
    merged.bus_chng_4(ibus=201, realar2=1.02, realar3=-30.0)
    assert merged.busdat(201, "PU") == (0, 1.02)
    assert merged.busdat(ibus=201, string="KV") == (0, pytest.approx(70.38))
    assert merged.busdat(201, "ANGLED") == (0, -30.0)
    assert merged.busdat(201, "ANGLE") == (0, pytest.approx(-0.5235987755982988))
    assert merged.busdat(201, "BASE") == (0, 69.0)
    assert merged.busdat(101, "TYPE") == (0, 3)
    assert merged.busdat(9999, "PU") == (3, None)
