"""The plant at full output (dispatch check) and the plant voltages after each connection,
as the run record holds them, on the embedded engine with real plant cases.

run_integration runs in this process (the engine is process-wide, like the `psspy`
fixture). The figures of one plant are checked by hand: its final solved case is opened
and dispatched again with psspy's own calls, and the neighbourhood of the connecting bus
is walked independently of the driver's walk.
"""
import json
import os

import pytest

import gridfold
from gridfold.gridfold_main import run_integration
from helpers import engine_cases
from helpers.workbooks import study_workbook

MAIN = "summer"
SOLAR = ("solar", engine_cases.build_solar_plant, 104, engine_cases.SOLAR_BUSES)
WIND = ("wind", engine_cases.build_wind_plant, 103, engine_cases.WIND_BUSES)
FNSL = dict(options1=2, options4=1, options5=1, options6=0, options7=99, options8=0)


def make_study(root, psspy, plants, huge_load=None):
    """Main case Summer and the plants, results under root/results; returns the workbook."""
    cases = os.path.join(str(root), "cases")
    os.makedirs(cases, exist_ok=True)
    engine_cases.save_main_case(psspy, os.path.join(cases, "Summer.sav"))
    for name, build, poi, buses in plants:
        assert psspy.psseinit(buses=1000) == 0
        build(psspy, poi_bus=poi, buses=buses)
        if name == huge_load:  # a load no network carries: the plant cannot solve
            assert psspy.load_data_7(ibus=buses[-1], id="XL", intgar1=1, realar1=5000.0, realar2=500.0) == 0
        assert psspy.save(os.path.join(cases, name + ".sav")) == 0
    return study_workbook(str(root), psse_path=gridfold.EMBEDDED_ENGINE_PATH,
                          results_folder=os.path.join(str(root), "results"),
                          main_cases=[("yes", cases, "Summer.sav")],
                          small_cases=[(1, cases, name, poi) for name, _, poi, _ in plants])


def pair_file(root, small, name):
    return os.path.join(str(root), "results", small, MAIN, name)


def outputs(root):
    """Every file the run left under root/results, by path relative to root, with its bytes
    (the root itself written as ROOT: the unsolved logs name cases by their full path)."""
    found = {}
    for folder, _, names in os.walk(str(root / "results")):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as stream:
                found[os.path.relpath(path, str(root))] = stream.read().replace(str(root).encode(), b"ROOT")
    return found


def neighbourhood(psspy, bus, depth=2):
    """Buses within `depth` buses of `bus` and the elements among them, walked here."""
    reach, frontier, elements = {bus: 0}, [bus], set()
    for level in range(depth + 1):
        following = []
        for b in frontier:
            psspy.inibrn_2(ibus=b, single=1)
            while True:
                ierr, far, _, ckt = psspy.nxtbrn_2(ibus=b)
                if ierr:
                    break
                elements.add((tuple(sorted((b, far))), ckt))
                if level < depth and far not in reach:
                    reach[far] = level + 1
                    following.append(far)
            psspy.inibrn_2(ibus=b, single=1)
            while True:
                result = psspy.nxtbrn3_2(ibus=b)
                if result[0]:
                    break
                elements.add((tuple(sorted((b, result[1], result[3]))), result[5]))
                for far in (result[1], result[3]):
                    if level < depth and far not in reach:
                        reach[far] = level + 1
                        following.append(far)
        frontier = following
    return reach, [e for e in elements if all(b in reach for b in e[0])]


def largest_loading(psspy, elements):
    loadings = []
    for buses, ckt in elements:
        if len(buses) == 2:
            ierr, pct = psspy.brnmsc(ibus=buses[0], jbus=buses[1], ckt=ckt, string="PCTRTA")
            if ierr == 0:
                loadings.append(pct)
        else:
            for i in buses:
                j, k = (b for b in buses if b != i)
                ierr, pct = psspy.wnddat(ibus=i, jbus=j, kbus=k, ckt=ckt, string="PCTRTA")
                if ierr == 0:
                    loadings.append(pct)
    return max(loadings)


def run_with_record(root, workbook, **options):
    """Runs the study and returns its record's pairs by (main case, small case)."""
    path = str(root / "record.json")
    run_integration(str(root), workbook, record_path=path, **options)
    with open(path, encoding="utf-8") as stream:
        return {(p["main_case"], p["small_case"]): p for p in json.load(stream)["pairs"]}


@pytest.fixture
def checked_run(tmp_path, psspy):
    root = tmp_path / "with"
    root.mkdir()
    workbook = make_study(root, psspy, [SOLAR, WIND])
    return root, run_with_record(root, workbook, dispatch_check=True, connection_voltages=True)


def test_solar_figures_match_a_hand_dispatch_with_the_engines_own_calls(checked_run, psspy, caspy):
    root, details = checked_run
    figures = details[(MAIN, "solar")]["dispatch_check"]
    assert figures["solved"] is True and figures["error"] is None
    assert figures["dispatched_case"] == pair_file(root, "solar", f"{MAIN}_dispatched_solar.sav")
    assert figures["dispatched_case"] in details[(MAIN, "solar")]["saved_cases"]
    assert os.path.isfile(figures["dispatched_case"])

    # By hand: the final solved case, the plant's machines back at their small-case values
    # (case data hold powers per unit on 100 MVA).
    small = {key: [v * 100.0 for v in values] if key in ("PG", "QG", "QT", "QB", "PT", "PB") else values
             for key, values in caspy.Savecase(str(root / "cases" / "solar.sav")).pssgen.items()}
    assert psspy.case(sfile=pair_file(root, "solar", f"{MAIN}_solved_solar_final_solved.sav")) == 0
    machines = [(bus, ident, pg) for bus, ident, pg in zip(small["NUM"], small["IDE"], small["PG"])]
    assert machines, "the solar plant has machines"
    for bus, ident, _ in machines:
        i = list(small["NUM"]).index(bus)
        assert psspy.machine_chng_4(ibus=bus, id=ident, intgar1=1, realar1=small["PG"][i], realar2=small["QG"][i],
                                    realar3=small["QT"][i], realar4=small["QB"][i], realar5=small["PT"][i],
                                    realar6=small["PB"][i]) == 0
    psspy.fnsl(**FNSL)
    assert psspy.solved() == 0
    assert figures["connecting_bus_voltage_after_pu"] == pytest.approx(psspy.busdat(ibus=104, string="PU")[1], abs=1e-6)
    into_poi = -psspy.brnmsc(ibus=104, jbus=1001, ckt="1", string="P")[1]
    assert figures["plant_mw_into_connecting_bus"] == pytest.approx(into_poi, abs=1e-3)
    # The inverters' output less the plant's losses and auxiliary load reaches the grid.
    assert 0.9 * figures["scheduled_mw"] < into_poi < figures["scheduled_mw"]
    reach, elements = neighbourhood(psspy, 104)
    assert {b["bus"]: b["distance"] for b in figures["buses_near"]} == reach
    assert figures["max_loading_after_pct"] == pytest.approx(largest_loading(psspy, elements), abs=1e-4)
    outside = [b for b, _ in reach.items()
               if not psspy.busdat(ibus=b, string="NVLMLO")[1] <= psspy.busdat(ibus=b, string="PU")[1]
               <= psspy.busdat(ibus=b, string="NVLMHI")[1]]
    assert sorted(v["bus"] for v in figures["voltage_violations"]) == sorted(outside)

    # Before the plant: the step-0 case.
    assert psspy.case(sfile=pair_file(root, "solar", f"{MAIN}_solved_solar_0.sav")) == 0
    assert figures["connecting_bus_voltage_before_pu"] == pytest.approx(psspy.busdat(ibus=104, string="PU")[1],
                                                                        abs=1e-9)
    assert figures["max_loading_before_pct"] == pytest.approx(largest_loading(psspy, elements), abs=1e-4)
    assert figures["connecting_bus_voltage_after_pu"] != pytest.approx(figures["connecting_bus_voltage_before_pu"],
                                                                       abs=1e-4)


def test_voltages_follow_the_connections_and_the_three_winding_plant_is_checked_too(checked_run, caspy):
    root, details = checked_run
    for small, poi in (("solar", 104), ("wind", 103)):
        pair = details[(MAIN, small)]
        connections = pair["connections"]
        assert connections and all(c["solved"] for c in connections)
        voltages = pair["connection_voltages"]
        assert voltages["buses"][0] == poi and len(voltages["steps"]) == len(connections) + 1
        # Step 0 has the plant out of service; the last step has every plant bus back.
        assert all(v is None for v in voltages["steps"][0]["vm_pu"][1:])
        assert all(v is not None for v in voltages["steps"][-1]["vm_pu"])
        assert [s["case"] for s in voltages["steps"][1:]] == [c["saved_case"] for c in connections]
        table = caspy.Savecase(voltages["steps"][-1]["case"]).pssbus
        assert voltages["steps"][-1]["vm_pu"][0] == pytest.approx(table["VM"][list(table["NUM"]).index(poi)])
    wind = details[(MAIN, "wind")]["dispatch_check"]
    assert wind["solved"] and any(b["branch"].count("-") == 3 for b in wind["branches_near"])
    assert wind["plant_mw_into_connecting_bus"] > 0.0


def test_the_check_changes_no_merge_output_and_skips_a_plant_that_did_not_solve(tmp_path, psspy):
    runs = {}
    for label, dispatch in (("with", True), ("without", False)):
        root = tmp_path / label
        root.mkdir()
        workbook = make_study(root, psspy, [SOLAR, WIND], huge_load="wind")
        pairs = run_with_record(root, workbook, dispatch_check=dispatch)
        runs[label] = (outputs(root), pairs)
    with_check, details = runs["with"]
    without_check, _ = runs["without"]
    added = {path for path in with_check if path not in without_check}
    assert added == {os.path.join("results", "solar", MAIN, name)
                     for name in (f"{MAIN}_dispatched_solar.sav", "dispatch_progress.txt")}
    for path, content in without_check.items():
        assert with_check[path] == content, path
    assert details[(MAIN, "solar")]["dispatch_check"]["solved"]
    assert details[(MAIN, "wind")]["dispatch_check"] is None
    assert details[(MAIN, "wind")]["outcome"].startswith("solved up to connection")
