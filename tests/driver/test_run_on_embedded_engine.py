"""Whole studies on the embedded engine: real plant cases, real solves, real files.

Main cases and small cases are built through the engine API (helpers.engine_cases), the
workbook with openpyxl, and run_integration runs in this process on the embedded engine (the
`psspy` fixture is the same process-wide module the run binds). `EngineCalls` records the
engine calls of a run and can make some fail on purpose.
"""
import json
import os
import re

import pytest

import gridfold
from gridfold.gridfold_main import run_integration
from helpers import engine_cases
from helpers.workbooks import study_workbook

STARS = "*" * 59
STAR_POINTS = 1000000  # three-winding transformer star points: engine-internal buses
RECORDED = ("psseinit", "case", "save", "rsol", "solved", "progress_output", "close_powerflow", "deltmpfiles",
            "machine_chng_4")
ATTEMPTS = [{"options1": 1, "options2": 2, "options7": 0, "options9": 1, "options10": 1},
            {"options1": 1, "options2": 2, "options7": 1, "options9": 1, "options10": 0},
            {"options1": 1, "options2": 2, "options7": 4, "options9": 1, "options10": 1}]
SOLVED_AT_ONCE = [("rsol", ATTEMPTS[0]), ("solved", {}), ("solved", {}), ("solved", {})]
NEVER_SOLVED = [("rsol", ATTEMPTS[0]), ("solved", {}), ("rsol", ATTEMPTS[1]), ("solved", {}),
                ("rsol", ATTEMPTS[2]), ("solved", {})]


class EngineCalls:
    """Records calls to the embedded psspy during a run (name, keywords; positional arguments
    under "args"). Small cases named in `fail_base` get an unsolved base case: solved() answers 1
    between the save of their out-of-service case and that of their "_0.sav" case. Paths in
    `refuse_open` are refused by case() with error code 3."""

    def __init__(self, monkeypatch, psspy):
        self.calls, self.fail_base, self.refuse_open = [], set(), set()
        self._base_case_of = None
        for name in RECORDED:
            monkeypatch.setattr(psspy, name, self._wrap(name, getattr(psspy, name)))

    def _wrap(self, name, engine_call):
        def call(*args, **kwargs):
            self.calls.append((name, dict(kwargs, **({"args": list(args)} if args else {}))))
            if name == "case" and kwargs.get("sfile") in self.refuse_open:
                return 3
            if name == "save":
                saved = os.path.basename(kwargs.get("sfile", args[0] if args else ""))
                match = re.search(r"_oos_(.*)\.sav$", saved)
                self._base_case_of = match.group(1) if match else None if saved.endswith("_0.sav") else self._base_case_of
            result = engine_call(*args, **kwargs)
            return 1 if name == "solved" and self._base_case_of in self.fail_base else result
        return call

    def names(self):
        return [name for name, _ in self.calls]

    def where(self, name, **keywords):
        return [i for i, (n, kw) in enumerate(self.calls) if n == name and all(kw.get(k) == v for k, v in keywords.items())]

    def base_attempts(self, folder, main, small):
        """The calls between the out-of-service save and the "_0.sav" save of a small case."""
        [oos] = self.where("save", sfile=os.path.join(folder, f"{main}_oos_{small}.sav"))
        [no_connection] = self.where("save", sfile=os.path.join(folder, f"{main}_solved_{small}_0.sav"))
        return self.calls[oos + 1:no_connection]

    def modify_gen_buses(self, final_case):
        """Buses of the machines whose reactive data were rewritten (machine_chng_4 with realar2)
        between reopening the final solved case and saving it again."""
        [opened] = self.where("case", sfile=final_case)
        after = self.calls[opened + 1:]
        end = next(i for i, (name, _) in enumerate(after) if name == "save")
        assert after[end][1]["sfile"] == final_case
        return [kw["ibus"] for name, kw in after[:end] if name == "machine_chng_4" and "realar2" in kw]


def read_text(path):
    with open(path) as file:
        return file.read()


def file_contents(folder):
    contents = {}
    for name in sorted(os.listdir(folder)):
        if os.path.isfile(os.path.join(folder, name)):
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


# (file name, builder, connecting bus, bus numbers, machine bus)
SOLAR_A = ("SolarA", engine_cases.build_solar_plant, 104, (201, 1002, 1003), 1003)  # 201 is a main bus
WIND = ("Wind", engine_cases.build_wind_plant, 103, engine_cases.WIND_BUSES, 2004)
SOLAR_B = ("SolarB", engine_cases.build_solar_plant, 105, (1001, 1002, 1003), 1003)  # collides with SolarA


class Study:
    """Main cases in Cases/Main, plants in Cases/Small (names with capitals: the workbook
    delivers them lower-cased), results under results/."""

    def __init__(self, root, psspy, mains=("Summer",), plants=(SOLAR_A, WIND, SOLAR_B), huge_loads=None,
                 cases="Cases", main_folder="Main", results="results", **workbook):
        self.root = str(root)
        self.main_dir = os.path.join(self.root, cases, main_folder)
        self.small_dir = os.path.join(self.root, cases, "Small")
        self.results = os.path.join(self.root, results)
        os.makedirs(self.main_dir, exist_ok=True)
        os.makedirs(self.small_dir, exist_ok=True)
        for name in mains:
            engine_cases.save_main_case(psspy, os.path.join(self.main_dir, name + ".sav"))
        for name, build, poi, buses, _ in plants:
            huge_load_at = (huge_loads or {}).get(name)
            save_plant(psspy, os.path.join(self.small_dir, name + ".sav"), build, poi, buses, huge_load_at)
        self.mains = [m.lower() for m in mains]
        self.smalls = [p[0].lower() for p in plants]
        self.plants = {p[0].lower(): p for p in plants}
        workbook.setdefault("main_cases", [("yes", self.main_dir, m + ".sav") for m in mains])
        workbook.setdefault("small_cases", [(1, self.small_dir, p[0], p[2]) for p in plants])
        self.workbook = study_workbook(self.root, psse_path=gridfold.EMBEDDED_ENGINE_PATH, results_folder=self.results,
                                       version=35.5, **workbook)
        self.originals = file_contents(self.main_dir)

    def run(self):
        run_integration(self.root, self.workbook)

    def folder(self, small, main):
        return os.path.join(self.results, small, main)

    def path(self, small, main, name):
        return os.path.join(self.folder(small, main), name)

    def renumber_map(self, small, main):
        with open(self.path(small, main, main + "_renumber_map.json")) as file:
            text = file.read()
        mapping = {int(k): v for k, v in json.loads(text).items()}
        assert text == json.dumps({str(k): v for k, v in mapping.items()}, indent=4)
        assert read_text(self.path(small, main, main + "_renumber_map.txt")) == "".join(
            f"{old} -> {new}\n" for old, new in mapping.items())
        return mapping

    def renumbered(self, small, main, bus):
        return self.renumber_map(small, main).get(bus, bus)


def bus_table(caspy, path):
    table = caspy.Savecase(path).pssbus
    return {num: (ide, vm) for num, ide, vm in zip(table["NUM"], table["IDE"], table["VM"]) if num < STAR_POINTS}


def processing_lines(console):
    return [line for line in console.splitlines() if line == STARS or line.startswith("Processing ")]


def test_two_main_cases_by_three_plants(tmp_path, psspy, caspy, capsys, monkeypatch):
    study = Study(tmp_path, psspy, mains=("Summer", "Winter"))
    engine = EngineCalls(monkeypatch, psspy)
    capsys.readouterr()
    study.run()
    assert processing_lines(capsys.readouterr().out) == [
        line for main in study.mains for small in study.smalls for line in (STARS, f"Processing {main} with {small}")]
    assert file_contents(study.main_dir) == study.originals  # unchanged, temporary copies gone

    for main in study.mains:
        placed = set(engine_cases.MAIN_BUSES)
        for small in study.smalls:
            mapping = study.renumber_map(small, main)
            # colliding buses, with the main case and the plants before, move to the reserved range
            assert all(900000 <= new <= 999999 for new in mapping.values())
            assert set(mapping) == set(study.plants[small][3]) & placed
            new_buses = {mapping.get(bus, bus) for bus in study.plants[small][3]}
            assert not placed & new_buses
            placed |= new_buses
            for name in (f"{main}_added_{small}.sav", f"{main}_status_{small}.txt", f"{main}_oos_{small}.sav",
                         f"{main}_solved_{small}_0.sav", f"{main}_solved_{small}_1.sav",
                         f"{main}_solved_{small}_final_solved.sav", "progress.txt"):
                assert os.path.isfile(study.path(small, main, name)), name
            assert not os.path.exists(study.path(small, main, f"{main}_unsolved_lf.txt"))
            status = read_text(study.path(small, main, f"{main}_status_{small}.txt"))
            assert status.startswith("Bus_Status:\n    total_bus: %d\n" % len(study.plants[small][3]))
            assert engine.base_attempts(study.folder(small, main), main, small) == SOLVED_AT_ONCE
        assert {s: sorted(study.renumber_map(s, main)) for s in study.smalls} == {
            "solara": [201], "wind": [], "solarb": [1002, 1003]}

        # the final solved main case holds every plant, renumbered, in service and solved
        final_case = os.path.join(study.results, f"{main}_solved.sav")
        buses = bus_table(caspy, final_case)
        assert set(buses) == placed
        assert all(ide != 4 for ide, _ in buses.values())
        assert len({round(vm, 6) for _, vm in buses.values()}) > 3  # solved voltages, not a flat start
        assert engine.modify_gen_buses(final_case) == [study.renumbered(s, main, study.plants[s][4]) for s in study.smalls]

    # the engine starts afresh on each main case file at its first plant, and closes each final case
    assert len(engine.where("psseinit", buses=50000)) == 2
    assert [kw["sfile"] for name, kw in engine.calls if name == "case"] == [
        os.path.join(study.main_dir, "Summer.sav"), os.path.join(study.results, "summer_solved.sav"),
        os.path.join(study.main_dir, "Winter.sav"), os.path.join(study.results, "winter_solved.sav")]
    assert engine.names().count("close_powerflow") == engine.names().count("deltmpfiles") == 2
    assert psspy.case(os.path.join(study.results, "winter_solved.sav")) == 0
    psspy.fnsl()
    assert psspy.solved() == 0


def test_plants_that_do_not_solve(tmp_path, psspy, caspy, monkeypatch):
    """The wind plant's turbine bus carries a load no network can serve (its connections solve
    up to that bus); the last plant's base case is made not to solve. Both are logged in the
    one parent-folder log, and no final solved case is made."""
    study = Study(tmp_path, psspy, huge_loads={"Wind": 2004})
    engine = EngineCalls(monkeypatch, psspy)
    engine.fail_base = {"solarb"}
    study.run()

    wind_log = read_text(study.path("wind", "summer", "summer_unsolved_lf.txt"))
    prefix = "unsolved generating system: wind -> last_solve_success:"
    assert wind_log.startswith(prefix) and wind_log.endswith("\n")
    last_solved = wind_log[len(prefix):-1]
    assert re.fullmatch(re.escape(study.path("wind", "summer", "summer_solved_wind_")) + r"[1-9]\d*\.sav", last_solved)
    assert os.path.isfile(last_solved)
    solar_log = "unsolved: solarb -> last_solve_success:none, also check if the original summer was solved.\n"
    assert read_text(study.path("solarb", "summer", "summer_unsolved_lf.txt")) == solar_log
    assert read_text(os.path.join(study.results, "summer_unsolved_lf.txt")) == wind_log + solar_log
    assert engine.base_attempts(study.folder("solarb", "summer"), "summer", "solarb") == NEVER_SOLVED
    assert not os.path.exists(study.path("solarb", "summer", "summer_solved_solarb_1.sav"))

    # the last plant started from the wind plant's last solved case, turbine bus out of service
    [reopened] = engine.where("case", sfile=last_solved)
    assert reopened < engine.where("save", sfile=study.path("solarb", "summer", "summer_added_solarb"))[0]
    added = bus_table(caspy, study.path("solarb", "summer", "summer_added_solarb.sav"))
    assert added[study.renumbered("wind", "summer", 2004)][0] == 4
    # no final solved case, no close, no final pass; progress reset only after the network solves
    assert not os.path.exists(os.path.join(study.results, "summer_solved.sav"))
    assert "close_powerflow" not in engine.names()
    assert not [kw for name, kw in engine.calls if name == "machine_chng_4" and "realar2" in kw]
    assert len(engine.where("progress_output", islct=6)) == 2
    assert file_contents(study.main_dir) == study.originals


def test_a_base_case_failing_in_the_middle(tmp_path, psspy, caspy, monkeypatch):
    study = Study(tmp_path, psspy)
    engine = EngineCalls(monkeypatch, psspy)
    engine.fail_base = {"wind"}
    os.makedirs(study.results)
    with open(os.path.join(study.results, "summer_unsolved_lf.txt"), "w") as stale:
        stale.write("left by an earlier run\n")
    study.run()
    line = "unsolved: wind -> last_solve_success:none, also check if the original summer was solved.\n"
    assert read_text(study.path("wind", "summer", "summer_unsolved_lf.txt")) == line
    assert read_text(os.path.join(study.results, "summer_unsolved_lf.txt")) == line
    assert engine.base_attempts(study.folder("wind", "summer"), "summer", "wind") == NEVER_SOLVED
    assert engine.base_attempts(study.folder("solarb", "summer"), "summer", "solarb") == SOLVED_AT_ONCE
    assert os.path.isfile(study.path("wind", "summer", "summer_solved_wind_0.sav"))
    assert not os.path.exists(study.path("wind", "summer", "summer_solved_wind_1.sav"))
    # the failed plant stays in the working case, out of service; the final pass covers all three
    final_case = os.path.join(study.results, "summer_solved.sav")
    buses = bus_table(caspy, final_case)
    assert all(buses[bus][0] == 4 for bus in engine_cases.WIND_BUSES)
    assert len(engine.modify_gen_buses(final_case)) == 3


def test_an_error_part_way_deletes_the_temporary_copies_and_reaches_the_caller(tmp_path, psspy, monkeypatch):
    study = Study(tmp_path, psspy, mains=("Summer", "Winter"))
    real_save = psspy.save

    def disk_full_at_wind(*args, **kwargs):
        path = kwargs.get("sfile", args[0] if args else "")
        if "_added_bus_wind" in path:
            raise OSError("disk full: " + path)
        return real_save(*args, **kwargs)
    monkeypatch.setattr(psspy, "save", disk_full_at_wind)
    with pytest.raises(OSError, match="disk full"):
        study.run()
    assert file_contents(study.main_dir) == study.originals
    assert os.path.isfile(study.path("solara", "summer", "summer_added_solara.sav"))  # written before stays
    record = json.loads(read_text(os.path.join(study.results, "run_record.json")))
    assert [p["outcome"] for p in record["pairs"]] == ["fully solved", "error", "not run"] + ["not run"] * 3
    assert record["main_cases"][0]["error"].startswith("OSError: disk full")


def test_a_missing_small_case_file_stops_the_run_before_any_output(tmp_path, psspy):
    study = Study(tmp_path, psspy, mains=("Summer", "Winter"))
    os.remove(os.path.join(study.small_dir, "Wind.sav"))
    with pytest.raises(ValueError, match=r"Small Cases row 3: small case file not found: .*wind\.sav"):
        study.run()
    assert file_contents(study.main_dir) == study.originals
    assert not os.path.exists(study.results)


@pytest.mark.parametrize("lists", ["no main case", "no small case"])
def test_empty_lists_write_nothing(tmp_path, psspy, capsys, monkeypatch, lists):
    rows = {"main_cases": [("no", "x", "summer")]} if lists == "no main case" else {"small_cases": []}
    study = Study(tmp_path, psspy, **rows)
    engine = EngineCalls(monkeypatch, psspy)
    capsys.readouterr()
    study.run()
    assert capsys.readouterr().out == ""
    assert engine.calls == [] and not os.path.exists(study.results)
    assert file_contents(study.main_dir) == study.originals


@pytest.mark.parametrize("init, error, message", [(None, UnboundLocalError, "nbus was never assigned"),
                                                  ("many", ValueError, "nbus: the 'psse_init' value 'many'")])
def test_a_bus_capacity_missing_or_not_whole(tmp_path, psspy, monkeypatch, init, error, message):
    study = Study(tmp_path, psspy, plants=(SOLAR_A,), init=init)
    engine = EngineCalls(monkeypatch, psspy)
    with pytest.raises(error, match=message):
        study.run()
    assert "psseinit" not in engine.names()
    assert file_contents(study.main_dir) == study.originals


def test_a_repeated_small_case_name_is_refused_before_the_run(tmp_path, psspy, capsys):
    """Two rows with one small case name would write into one results folder."""
    study = Study(tmp_path, psspy, plants=(SOLAR_A,))
    study.workbook = study_workbook(study.root, psse_path=gridfold.EMBEDDED_ENGINE_PATH, results_folder=study.results,
                                    main_cases=[("yes", study.main_dir, "Summer")],
                                    small_cases=[(1, study.small_dir, "SolarA", 104), (1, study.small_dir, "solara.sav", 104)])
    with pytest.raises(ValueError, match="Small Cases row 2 and Small Cases row 3 would share the results folder"):
        study.run()
    assert not os.path.exists(study.results)


def test_a_main_case_the_engine_cannot_open_stops_the_run(tmp_path, psspy, monkeypatch):
    """Adding plants into whatever the working case happens to hold would be wrong."""
    study = Study(tmp_path, psspy, mains=("Summer", "Winter"), plants=(SOLAR_A,))
    engine = EngineCalls(monkeypatch, psspy)
    winter = os.path.join(study.main_dir, "Winter.sav")
    engine.refuse_open = {winter}
    with pytest.raises(RuntimeError, match=re.escape(f"the engine could not open case '{winter}' (error code 3)")):
        study.run()
    assert not os.path.exists(study.folder("solara", "winter") + "/winter_added_solara.sav")
    assert file_contents(study.main_dir) == study.originals


def test_a_final_solved_case_never_overwrites_a_main_case_file(tmp_path, psspy):
    """Main cases "base" and "base_solved" side by side, with the plants' results folder being
    their own folder: the final solved case of "base" is named like the other main case."""
    study = Study(tmp_path, psspy, mains=("base", "base_solved"), plants=(SOLAR_A,), cases="cases",
                  main_folder="main", results=os.path.join("cases", "main"))
    with pytest.raises(ValueError, match="refusing to save over main case file"):
        study.run()
    assert file_contents(study.main_dir) == study.originals
