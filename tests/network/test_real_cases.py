"""Network utilities on real cases of the embedded engine: case data read with caspy from saved
cases, and a small plant added into a main case through PSSE_ENGINE, then ordered and solved.
The engine is process-wide: each test starts it afresh through the builders (psseinit)."""
import numpy as np
import pytest

import gridfold
from gridfold import gridfold_misc as gm
from gridfold.gridfold_ps import PSSE_ENGINE
from helpers import engine_cases as ec

POI = 103  # the wind plant's connecting bus in the main network
# Wind plant whose HV and collector buses take numbers the main network already uses.
COLLIDING_WIND = (101, 102, 2003, 2004)


def read_small_case(caspy, path, connecting_bus):
    """The small case's data object with its bus table prepared as the driver prepares it."""
    case = caspy.Savecase(str(path))
    case.pssbus = gm.exclude_connecting_bus(case, case.pssbus, connecting_bus)
    case.pssbus = gm.remove_internal_psse_buses(case.pssbus, case.pssbus)
    return case


@pytest.fixture
def cases(psspy, caspy, tmp_path):
    main = ec.save_main_case(psspy, tmp_path / "main.sav")
    psspy.psseinit(buses=1000)
    ec.build_wind_plant(psspy, poi_bus=POI, buses=COLLIDING_WIND)
    # The turbines' plant regulates the collector bus, a bus that has to be renumbered.
    assert psspy.plant_data_4(ibus=2004, inode=0, intgar1=102) == 0
    assert psspy.save(str(tmp_path / "wind.sav")) == 0
    return caspy.Savecase(main), tmp_path / "wind.sav"


def test_prepared_bus_table_drops_connecting_bus_and_star_point(cases, caspy):
    _, small_path = cases
    raw = caspy.Savecase(str(small_path)).pssbus["NUM"]
    assert POI in raw and max(raw) >= 1000000
    assert read_small_case(caspy, small_path, POI).pssbus["NUM"] == (101, 102, 2003, 2004)


def test_every_bus_number_column_follows_the_renumbering(cases, caspy, capsys):
    main, small_path = cases
    small = read_small_case(caspy, small_path, POI)
    capsys.readouterr()
    returned, mapping = gm.renumber_buses(small, small.pssbus, main.pssbus, POI)
    assert returned is small and mapping == {101: 900000, 102: 900001}
    assert capsys.readouterr().out == (
        "Conflicting bus numbers found. Renumbering...\nBus numbers have been successfully renumbered.\n")

    assert small.pssbus["NUM"] == (900000, 900001, 2003, 2004)
    assert small.psslod["NUM"] == (900001,) and small.pssald["NUM"] == (900001,)
    assert small.pssgen["NUM"] == (2004,) and small.pssgen["IREG"] == (900001,)
    assert small.pssind["NUM"] == (2004,) and small.pssfsh["NUM"] == (2003,)
    # The gen-tie keeps the connecting bus at one end and follows the plant at the other.
    assert (small.casbrn["FRMBUS"], small.casbrn["TOBUS"], small.casbrn["METBUS"]) == ((POI,), (900000,), (POI,))
    assert (small.pssbrn["FRMBUS"], small.pssbrn["TOBUS"]) == ((POI,), (900000,))
    assert small.castrn["BUSNUM"] == [[900000, 900001, 2003], [900001, 2004, 0]]
    assert small.castrn["METBUS"] == (900001, 900001) and small.castrn["CONBUS"] == [[0, 0, 0], [0, 0, 0]]
    assert (small.pss3wt["BUS1ST"], small.pss3wt["BUS2ND"], small.pss3wt["BUS3RD"], small.pss3wt["NMETER"]) == (
        (900000,), (900001,), (2003,), (900001,))
    assert small.pssabx["FRMBUS"] == (POI, 900001) and small.pssabx["TOBUS"] == (900000, 2004)


def test_numpy_columns_of_a_real_case_stay_arrays(cases, caspy, capsys):
    main, small_path = cases
    small = read_small_case(caspy, small_path, POI)
    small.castrn = {**small.castrn, "BUSNUM": np.array(small.castrn["BUSNUM"])}
    small.pssgen = {**small.pssgen, "IREG": np.array(small.pssgen["IREG"], dtype=np.int32)}
    gm.renumber_buses(small, small.pssbus, main.pssbus, POI)
    assert isinstance(small.castrn["BUSNUM"], np.ndarray) and small.pssgen["IREG"].dtype == np.int32
    assert small.castrn["BUSNUM"].tolist() == [[900000, 900001, 2003], [900001, 2004, 0]]
    assert small.pssgen["IREG"].tolist() == [900001]
    assert capsys.readouterr().out.endswith("Bus numbers have been successfully renumbered.\n")


def test_a_full_range_leaves_the_real_case_untouched(cases, caspy):
    main, small_path = cases
    small = read_small_case(caspy, small_path, POI)
    full = {"NUM": main.pssbus["NUM"] + tuple(range(900000, 1000000))}
    with pytest.raises(gm.BusNumberRangeExhausted, match="first colliding bus is 101"):
        gm.renumber_buses(small, small.pssbus, full, POI)
    assert small.castrn["BUSNUM"] == [[101, 102, 2003], [102, 2004, 0]]


ADDERS = ("add_buses", "add_line_branch", "add_trn_branch", "add_gen", "add_fixed_shunt", "add_switched_shunt",
          "add_load", "add_induction_machine")


def add_small_case(engine, main_path, small_path, connecting_bus, folder):
    """Adds the small case into a copy of the main case as a run does; returns the prepared small case."""
    copy = gm.copy_and_rename(str(main_path))
    assert engine.open_case(sfile=copy) == 0
    small = engine.get_case_data(str(small_path))
    small.pssbus = gm.exclude_connecting_bus(small, small.pssbus, connecting_bus)
    small.pssbus = gm.remove_internal_psse_buses(small.pssbus, small.pssbus)
    small, _ = gm.renumber_buses(small, small.pssbus, engine.get_case_data(copy).pssbus, connecting_bus)
    for adder in ADDERS:
        status = getattr(engine, adder)(small, "main", "plant", str(folder))
        assert all(code == 0 for key, code in status.items() if not key.startswith("total_")), (adder, status)
    return small


def ordered_connections(engine, small, connecting_bus):
    """The driver's sequence: find, organise, order."""
    scbus_numbers = [connecting_bus] + list(small.pssbus["NUM"])
    branches, tx3s = gm.find_buses(scbus_numbers, engine)
    connections = gm.organize_connections(connecting_bus, branches, tx3s)
    return connections, gm.enforce_topological_order(connections, connecting_bus)


@pytest.fixture
def engine(psspy):
    return PSSE_ENGINE(psse_path=gridfold.EMBEDDED_ENGINE_PATH, version=35.5)


def test_connections_of_an_added_plant_come_back_from_the_connecting_bus_outwards(engine, psspy, tmp_path):
    main = ec.save_main_case(psspy, tmp_path / "main.sav")
    small_path = ec.save_wind_case(psspy, tmp_path / "wind.sav", poi_bus=POI, buses=COLLIDING_WIND)
    small = add_small_case(engine, main, small_path, POI, tmp_path)

    branches, tx3s = gm.find_buses([POI] + list(small.pssbus["NUM"]), engine)
    # Found once from each end; the main network's branches at the connecting bus are not collected.
    assert sorted(branches) == [(POI, 900000, "1"), (2004, 900001, "C1"), (900000, POI, "1"), (900001, 2004, "C1")]
    assert len(tx3s) == 3 and {frozenset(t[:3]) for t in tx3s} == {frozenset((900000, 900001, 2003))}

    connections, ordered = ordered_connections(engine, small, POI)
    assert connections == [(POI, 900000, "1"), (900000, 900001, 2003, "1"), (900001, 2004, "C1")]
    # Buses at equal distance from the connecting bus are taken in ascending number.
    assert ordered == [(POI, 900000, "1"), (900000, 2003, 900001, "1"), (900001, 2004, "C1")]


def disconnect_and_solve_base(engine, small, base):
    """The driver's steps before the strategy: the plant out of service, the base case solved and saved."""
    engine.disconnect_buses(list(small.pssbus["NUM"]))
    engine.run_load_flow()
    assert engine.check_solved() == 0
    assert engine.save_case(sfile=f"{base}_0.sav") == 0


def test_a_plant_reconnected_link_by_link_solves_and_saves_each_state(engine, psspy, caspy, tmp_path, capsys):
    main = ec.save_main_case(psspy, tmp_path / "main.sav")
    small_path = ec.save_wind_case(psspy, tmp_path / "wind.sav", poi_bus=POI, buses=COLLIDING_WIND)
    small = add_small_case(engine, main, small_path, POI, tmp_path)
    _, ordered = ordered_connections(engine, small, POI)
    base = tmp_path / "solved" / "main_wind"
    base.parent.mkdir()
    disconnect_and_solve_base(engine, small, base)
    capsys.readouterr()

    assert gm.solve_the_network(engine, base, ordered) == (0, None, 3)
    assert [line for line in capsys.readouterr().out.splitlines() if line.startswith("Reconnecting")] == [
        f"Reconnecting buses: {link}" for link in ordered]
    assert sorted(p.name for p in base.parent.iterdir()) == [
        "main_wind_0.sav", "main_wind_1.sav", "main_wind_2.sav", "main_wind_3.sav", "main_wind_final_solved.sav"]
    final = caspy.Savecase(f"{base}_final_solved.sav")
    in_service = dict(zip(final.pssbus["NUM"], final.pssbus["IDE"]))
    assert all(in_service[bus] != 4 for bus in small.pssbus["NUM"])
    # The plant's machines come back out of service: the run restores them afterwards.
    assert dict(zip(final.pssgen["NUM"], final.pssgen["STAT"]))[2004] == 0
    # After the first link only the gen-tie's far bus is back.
    first = caspy.Savecase(f"{base}_1.sav")
    first_ide = dict(zip(first.pssbus["NUM"], first.pssbus["IDE"]))
    assert first_ide[900000] != 4 and first_ide[2004] == 4


def test_a_link_that_cannot_solve_stops_the_strategy_at_that_link(engine, psspy, tmp_path):
    main = ec.save_main_case(psspy, tmp_path / "main.sav")
    psspy.psseinit(buses=1000)
    ec.build_solar_plant(psspy, poi_bus=104)
    # Far more load behind the collector line than the network can carry.
    assert psspy.load_data_7(ibus=1003, id="BG", intgar1=1, realar1=5000.0, realar2=2000.0) == 0
    assert psspy.save(str(tmp_path / "solar.sav")) == 0
    small = add_small_case(engine, main, tmp_path / "solar.sav", 104, tmp_path)
    _, ordered = ordered_connections(engine, small, 104)
    assert ordered == [(104, 1001, "1"), (1001, 1002, "1"), (1002, 1003, "1")]
    base = tmp_path / "main_solar"
    disconnect_and_solve_base(engine, small, base)

    status, last_solved, count = gm.solve_the_network(engine, str(base), ordered)
    assert status != 0 and engine.check_solved() == status
    assert (last_solved, count) == (f"{base}_2.sav", 2)
    assert (tmp_path / "main_solar_2.sav").exists()
    assert not (tmp_path / "main_solar_3.sav").exists() and not (tmp_path / "main_solar_final_solved.sav").exists()


def test_the_working_case_topology_finds_the_islands_a_saved_case_shows(engine, psspy, caspy, tmp_path):
    # Both plants in the main network; the wind plant's transformer loses its tertiary and the
    # solar plant's gen-tie end is isolated, which cuts the rest of that plant off.
    ec.build_main_network(psspy)
    ec.build_solar_plant(psspy, poi_bus=104)
    ec.build_wind_plant(psspy, poi_bus=POI)
    hv, collector, tertiary, turbines = ec.WIND_BUSES
    assert psspy.three_wnd_imped_data_4(ibus=hv, jbus=collector, kbus=tertiary, ckt="1", intgar8=3)[0] == 0
    assert psspy.dscn(ec.SOLAR_BUSES[0]) == 0
    assert psspy.save(str(tmp_path / "now.sav")) == 0
    saved = engine.get_case_data(str(tmp_path / "now.sav"))

    plants = list(ec.SOLAR_BUSES + ec.WIND_BUSES)
    from_file = gm.buses_cut_off(saved, plants)
    assert from_file == list(ec.SOLAR_BUSES) + [tertiary]
    assert gm.buses_cut_off(engine.get_network_topology(), plants) == from_file
    assert engine.get_bus_numbers() == sorted(n for n in saved.pssbus["NUM"] if n <= 999999)
