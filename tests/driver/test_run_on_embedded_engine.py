"""Whole studies on the embedded engine: real plant cases, real solves, real files.

Main cases and small cases are built through the engine API (helpers.engine_cases), the
workbook with openpyxl; run_integration runs in this process on the embedded engine (the
`psspy` fixture gives the same process-wide module the run binds).
"""
import json
import os

import pytest

import gridfold
from gridfold.gridfold_main import run_integration
from helpers import engine_cases
from helpers.workbooks import study_workbook

STARS = "*" * 59
STAR_POINTS = 1000000  # three-winding transformer star points: engine-internal buses


def read_text(path):
    with open(path) as file:
        return file.read()


def file_contents(folder):
    contents = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as file:
            contents[name] = file.read()
    return contents


def save_plant(psspy, path, build, poi_bus, buses, huge_load_at=None):
    """A plant case; optionally with a 5000 MW load at one bus, which no network carries."""
    assert psspy.psseinit(buses=1000) == 0
    build(psspy, poi_bus=poi_bus, buses=buses)
    if huge_load_at is not None:
        assert psspy.load_data_7(ibus=huge_load_at, id="XL", intgar1=1, realar1=5000.0, realar2=500.0) == 0
    assert psspy.save(path) == 0
    return path


SOLAR_A = ("SolarA", engine_cases.build_solar_plant, 104, (201, 1002, 1003))  # 201 is a main bus
WIND = ("Wind", engine_cases.build_wind_plant, 103, engine_cases.WIND_BUSES)
SOLAR_B = ("SolarB", engine_cases.build_solar_plant, 105, (1001, 1002, 1003))  # collides with SolarA


class Study:
    def __init__(self, root, psspy, mains, plants):
        self.root = str(root)
        self.main_dir = os.path.join(self.root, "Cases", "Main")
        self.small_dir = os.path.join(self.root, "Cases", "Small")
        self.results = os.path.join(self.root, "results")
        os.makedirs(self.main_dir)
        os.makedirs(self.small_dir)
        for name in mains:
            engine_cases.save_main_case(psspy, os.path.join(self.main_dir, name + ".sav"))
        for name, build, poi, buses, *huge in plants:
            save_plant(psspy, os.path.join(self.small_dir, name + ".sav"), build, poi, buses, *huge)
        self.mains = [m.lower() for m in mains]
        self.smalls = [p[0].lower() for p in plants]
        self.poi = {p[0].lower(): p[2] for p in plants}
        self.buses = {p[0].lower(): p[3] for p in plants}
        self.workbook = study_workbook(
            self.root, psse_path=gridfold.EMBEDDED_ENGINE_PATH, results_folder=self.results, version=35.5,
            main_cases=[("yes", self.main_dir, m + ".sav") for m in mains],
            small_cases=[(1, self.small_dir, p[0], p[2]) for p in plants])
        self.originals = file_contents(self.main_dir)

    def run(self):
        run_integration(self.root, self.workbook)

    def path(self, small, main, name):
        return os.path.join(self.results, small, main, name)

    def renumber_map(self, small, main):
        with open(self.path(small, main, main + "_renumber_map.json")) as file:
            mapping = {int(k): v for k, v in json.load(file).items()}
        assert read_text(self.path(small, main, main + "_renumber_map.txt")) == "".join(
            f"{old} -> {new}\n" for old, new in mapping.items())
        return mapping

    def small_buses_after_renumbering(self, small, main):
        mapping = self.renumber_map(small, main)
        return [mapping.get(bus, bus) for bus in self.buses[small]]


def bus_table(caspy, path):
    table = caspy.Savecase(path).pssbus
    return {num: (ide, vm) for num, ide, vm in zip(table["NUM"], table["IDE"], table["VM"]) if num < STAR_POINTS}


def test_two_main_cases_by_three_plants(tmp_path, psspy, caspy, capsys):
    study = Study(tmp_path, psspy, ["Summer", "Winter"], [SOLAR_A, WIND, SOLAR_B])
    study.run()
    console = capsys.readouterr().out.splitlines()
    assert [line for line in console if line == STARS or line.startswith("Processing ")] == [
        line for main in study.mains for small in study.smalls
        for line in (STARS, f"Processing {main} with {small}")]
    assert file_contents(study.main_dir) == study.originals

    for main in study.mains:
        placed = set(engine_cases.MAIN_BUSES)
        for small in study.smalls:
            mapping = study.renumber_map(small, main)
            # colliding buses move into the reserved range; the others keep their numbers
            assert all(900000 <= new <= 999999 for new in mapping.values())
            assert set(mapping) == set(study.buses[small]) & placed
            new_buses = study.small_buses_after_renumbering(small, main)
            assert not placed & set(new_buses)
            placed |= set(new_buses)
            for name in (f"{main}_added_{small}.sav", f"{main}_status_{small}.txt", f"{main}_oos_{small}.sav",
                         f"{main}_solved_{small}_0.sav", f"{main}_solved_{small}_1.sav",
                         f"{main}_solved_{small}_final_solved.sav", "progress.txt"):
                assert os.path.isfile(study.path(small, main, name)), name
            assert not os.path.exists(study.path(small, main, f"{main}_unsolved_lf.txt"))
            status = read_text(study.path(small, main, f"{main}_status_{small}.txt"))
            assert status.startswith("Bus_Status:\n    total_bus: %d\n" % len(study.buses[small]))
        assert {s: sorted(study.renumber_map(s, main)) for s in study.smalls} == {
            "solara": [201], "wind": [], "solarb": [1002, 1003]}

        # the final solved main case holds every plant, renumbered, in service and solved
        final_case = os.path.join(study.results, f"{main}_solved.sav")
        buses = bus_table(caspy, final_case)
        assert set(buses) == placed
        assert all(ide != 4 for ide, _ in buses.values())
        assert len({round(vm, 6) for _, vm in buses.values()}) > 3  # solved voltages, not a flat start
        assert psspy.case(final_case) == 0
        psspy.fnsl()
        assert psspy.solved() == 0


def test_failures_on_the_embedded_engine(tmp_path, psspy, caspy):
    """The wind plant's turbine bus carries a load no network can serve (its connections solve
    up to that bus), the last plant a huge load on the main network's bus (its base case cannot
    solve): both logged in the one parent-folder log, and no final solved case."""
    wind = WIND + (engine_cases.WIND_BUSES[3],)
    solar_b = SOLAR_B + (SOLAR_B[2],)
    study = Study(tmp_path, psspy, ["Summer"], [SOLAR_A, wind, solar_b])
    study.run()

    wind_log = read_text(study.path("wind", "summer", "summer_unsolved_lf.txt"))
    prefix = "unsolved generating system: wind -> last_solve_success:"
    assert wind_log.startswith(prefix) and wind_log.endswith("\n")
    last_solved = wind_log[len(prefix):-1]
    assert last_solved.startswith(study.path("wind", "summer", "summer_solved_wind_"))
    assert os.path.isfile(last_solved) and not last_solved.endswith("_0.sav")
    solar_log = "unsolved: solarb -> last_solve_success:none, also check if the original summer was solved.\n"
    assert read_text(study.path("solarb", "summer", "summer_unsolved_lf.txt")) == solar_log
    assert read_text(os.path.join(study.results, "summer_unsolved_lf.txt")) == wind_log + solar_log
    assert not os.path.exists(os.path.join(study.results, "summer_solved.sav"))
    assert not os.path.exists(study.path("solarb", "summer", "summer_solved_solarb_1.sav"))

    # the last plant started from the wind plant's last solved case: the turbine bus is there,
    # still out of service
    turbines = study.small_buses_after_renumbering("wind", "summer")[3]
    added = bus_table(caspy, study.path("solarb", "summer", "summer_added_solarb.sav"))
    assert added[turbines][0] == 4
    assert file_contents(study.main_dir) == study.originals
