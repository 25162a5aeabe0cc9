"""The whole run on a recording stand-in engine (tests/driver/stand_in_engine).

The stand-in psspy/caspy keep a toy case in JSON files and log every engine call, so these
tests check the driver's order of calls, its files and its console lines with the real
adapter, the real network utilities and real workbooks, and make solves fail on purpose
(see the stand-in's docstring). Each run is a subprocess: the engine API modules are
process-wide and must not meet the embedded engine's.
"""
import json
import os
import subprocess
import sys

import pytest

from helpers.workbooks import study_workbook

STAND_IN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "stand_in_engine")
sys.path.insert(0, STAND_IN)
import toy_case  # noqa: E402  (the stand-in's own case format)

sys.path.remove(STAND_IN)

RUN = "import sys; from gridfold.gridfold_main import run_integration; run_integration(sys.argv[1], sys.argv[2])"
STARS = "*" * 59


def read_text(path, mode="r"):
    with open(path, mode) as file:
        return file.read()


def main_case(path):
    toy_case.write_case(path, {
        "buses": [toy_case.bus(101, "main a"), toy_case.bus(102, "main b"), toy_case.bus(201, "main c")],
        "branches": [toy_case.branch(101, 102), toy_case.branch(102, 201)],
        "machines": [toy_case.machine(101)]})


def small_case(path, far_bus_name="gen"):
    """Connecting bus 101, then 201 and 202 (both may collide), a machine at the far bus."""
    toy_case.write_case(path, {
        "buses": [toy_case.bus(101, "poi"), toy_case.bus(201, "collector"), toy_case.bus(202, far_bus_name, 0.69)],
        "branches": [toy_case.branch(101, 201), toy_case.branch(201, 202)],
        "machines": [toy_case.machine(202)]})


class Study:
    """A study folder: main cases in Cases/Main, small cases in Cases/Small (names with
    capitals: the workbook delivers them lower-cased), results under results/."""

    def __init__(self, root, mains=("Summer",), smalls=(("Wind", "gen"),), results="results", cases="Cases",
                 main_folder="Main", **workbook):
        self.root = str(root)
        self.main_dir = os.path.join(self.root, cases, main_folder)
        self.small_dir = os.path.join(self.root, cases, "Small")
        self.results = os.path.join(self.root, results)
        os.makedirs(self.main_dir)
        os.makedirs(self.small_dir)
        for name in mains:
            main_case(os.path.join(self.main_dir, name + ".sav"))
        for name, far_bus in smalls:
            small_case(os.path.join(self.small_dir, name + ".sav"), far_bus)
        self.mains = [m.lower() for m in mains]
        self.smalls = [s.lower() for s, _ in smalls]
        workbook.setdefault("main_cases", [("yes", self.main_dir, m + ".sav") for m in mains])
        workbook.setdefault("small_cases", [(1, self.small_dir, s, 101) for s, _ in smalls])
        self.workbook = study_workbook(self.root, psse_path=STAND_IN, results_folder=self.results, **workbook)
        self.originals = self.snapshot(self.main_dir)

    @staticmethod
    def snapshot(folder):
        contents = {}
        for name in sorted(os.listdir(folder)):
            if os.path.isdir(os.path.join(folder, name)):
                continue
            with open(os.path.join(folder, name), "rb") as file:
                contents[name] = file.read()
        return contents

    def run(self):
        log = os.path.join(self.root, "engine_calls.jsonl")
        env = dict(os.environ, GRIDFOLD_STAND_IN_LOG=log)
        self.result = subprocess.run([sys.executable, "-c", RUN, self.root, self.workbook], capture_output=True,
                                     text=True, env=env, cwd=self.root)
        self.calls = []
        if os.path.exists(log):
            with open(log) as lines:
                self.calls = [json.loads(line) for line in lines]
        return self.result

    def folder(self, small, main):
        return os.path.join(self.results, small, main)

    def path(self, small, main, name):
        return os.path.join(self.folder(small, main), name)

    def processing_lines(self):
        return [line for line in self.result.stdout.splitlines() if line == STARS or line.startswith("Processing ")]

    def names(self):
        return [name for name, _ in self.calls]

    def calls_between(self, first, last):
        return self.calls[first + 1:last]

    def index_of(self, name, **keywords):
        return [i for i, (n, kw) in enumerate(self.calls) if n == name and all(kw.get(k) == v for k, v in keywords.items())]

    def read_back(self, path):
        return toy_case.read_case(path)


def expected_processing(mains, smalls):
    lines = []
    for main in mains:
        for small in smalls:
            lines += [STARS, f"Processing {main} with {small}"]
    return lines


def renumber_map(study, small, main):
    text = read_text(study.path(small, main, main + "_renumber_map.txt"))
    pairs = [line.split(" -> ") for line in text.splitlines()]
    mapping = {int(old): int(new) for old, new in pairs}
    assert text == "".join(f"{old} -> {new}\n" for old, new in mapping.items())
    with open(study.path(small, main, main + "_renumber_map.json")) as file:
        assert file.read() == json.dumps({str(k): v for k, v in mapping.items()}, indent=4)
    return mapping


def base_attempts(study, small, main):
    """The engine calls between the out-of-service save and the step-0 save of a small case."""
    oos = study.index_of("save", sfile=study.path(small, main, f"{main}_oos_{small}.sav"))
    step0 = study.index_of("save", sfile=study.path(small, main, f"{main}_solved_{small}_0.sav"))
    assert len(oos) == len(step0) == 1
    return [(name, {k: kw[k] for k in sorted(kw)}) for name, kw in study.calls_between(oos[0], step0[0])]


ATTEMPT = [{"options1": 1, "options10": 1, "options2": 2, "options7": 0, "options9": 1},
           {"options1": 1, "options10": 0, "options2": 2, "options7": 1, "options9": 1},
           {"options1": 1, "options10": 1, "options2": 2, "options7": 4, "options9": 1}]
SOLVED_AT_ONCE = [("rsol", ATTEMPT[0]), ("solved", {}), ("solved", {}), ("solved", {})]
NEVER_SOLVED = [("rsol", ATTEMPT[0]), ("solved", {}), ("rsol", ATTEMPT[1]), ("solved", {}),
                ("rsol", ATTEMPT[2]), ("solved", {})]


def modify_gen_buses(study, final_case):
    """Buses of the machine changes made after the final solved case was reopened."""
    opened = study.index_of("case", sfile=final_case)
    assert len(opened) == 1
    after = study.calls[opened[0] + 1:]
    end = next(i for i, (name, kw) in enumerate(after) if name == "save")
    assert after[end][1]["sfile"] == final_case
    return [kw["ibus"] for name, kw in after[:end] if name.startswith("machine_chng") and "realar2" in kw]


def test_two_main_cases_by_three_small_cases(tmp_path):
    study = Study(tmp_path, mains=("Summer", "Winter"), smalls=(("Wind", "gen"), ("Solar", "pv"), ("Storage", "bess")))
    result = study.run()
    assert result.returncode == 0, result.stderr
    assert study.processing_lines() == expected_processing(study.mains, study.smalls)

    # the main case files are unchanged and their temporary copies are gone
    assert study.snapshot(study.main_dir) == study.originals

    for main in study.mains:
        new_numbers = set()
        for small in study.smalls:
            folder = study.folder(small, main)
            for name in (f"{main}_added_{small}.sav", f"{main}_status_{small}.txt", f"{main}_oos_{small}.sav",
                         f"{main}_solved_{small}_0.sav", f"{main}_solved_{small}_1.sav", f"{main}_solved_{small}_2.sav",
                         f"{main}_solved_{small}_final_solved.sav", "progress.txt"):
                assert os.path.isfile(os.path.join(folder, name)), name
            assert not os.path.exists(os.path.join(folder, f"{main}_unsolved_lf.txt"))
            assert read_text(os.path.join(folder, f"{main}_status_{small}.txt")).startswith("Bus_Status:\n")
            assert base_attempts(study, small, main) == SOLVED_AT_ONCE
            mapping = renumber_map(study, small, main)
            # every small case is renumbered against the main case and the small cases before it
            assert 201 in mapping and (small == "wind") == (202 not in mapping)
            assert not new_numbers & set(mapping.values())
            new_numbers |= set(mapping.values())
        assert not os.path.exists(os.path.join(study.results, f"{main}_unsolved_lf.txt"))

        # the final solved main case holds every small case, renumbered and in service
        final_case = os.path.join(study.results, f"{main}_solved.sav")
        final = study.read_back(final_case)
        numbers = [b["NUM"] for b in final["buses"]]
        assert len(numbers) == len(set(numbers)) == 3 + 2 * 3
        assert all(b["IN_SERVICE"] for b in final["buses"])
        assert sorted(b["NAME"] for b in final["buses"] if b["BASKV"] == 0.69) == ["bess", "gen", "pv"]
        # modify_gen replayed once per small case, in processing order
        far_buses = [b["NUM"] for name in ("gen", "pv", "bess") for b in final["buses"] if b["NAME"] == name]
        assert modify_gen_buses(study, final_case) == far_buses

    # the engine starts afresh on each main case file, at its first small case
    inits = study.index_of("psseinit", buses=50000)
    opened = [kw["sfile"] for name, kw in study.calls if name == "case"]
    assert len(inits) == 2
    assert opened == [os.path.join(study.main_dir, "Summer.sav"), os.path.join(study.results, "summer_solved.sav"),
                      os.path.join(study.main_dir, "Winter.sav"), os.path.join(study.results, "winter_solved.sav")]
    assert study.names().count("close_powerflow") == study.names().count("deltmpfiles") == 2


def test_base_failure_in_the_middle_keeps_the_run_going(tmp_path):
    study = Study(tmp_path, smalls=(("Wind", "gen"), ("Solar", "nobase pv"), ("Storage", "bess")))
    result = study.run()
    assert result.returncode == 0, result.stderr
    line = "unsolved: solar -> last_solve_success:none, also check if the original summer was solved.\n"
    assert read_text(study.path("solar", "summer", "summer_unsolved_lf.txt")) == line
    assert read_text(os.path.join(study.results, "summer_unsolved_lf.txt")) == line
    assert base_attempts(study, "solar", "summer") == NEVER_SOLVED
    assert base_attempts(study, "storage", "summer") == SOLVED_AT_ONCE
    assert not os.path.exists(study.path("solar", "summer", "summer_solved_solar_1.sav"))
    # no network solve and no progress reset for the failed small case
    assert len(study.index_of("progress_output", islct=6)) == 2
    final_case = os.path.join(study.results, "summer_solved.sav")
    final = study.read_back(final_case)
    # the failed small case stays in the working case, out of service
    assert [b["IN_SERVICE"] for b in final["buses"] if b["NAME"].startswith("nobase")] == [False]
    assert len(modify_gen_buses(study, final_case)) == 3


def test_network_failure_part_way_restarts_from_the_last_solved_case(tmp_path):
    study = Study(tmp_path, smalls=(("Wind", "gen"), ("Solar", "nonet pv"), ("Storage", "bess")))
    result = study.run()
    assert result.returncode == 0, result.stderr
    last_solved = study.path("solar", "summer", "summer_solved_solar_1.sav")
    line = f"unsolved generating system: solar -> last_solve_success:{last_solved}\n"
    assert read_text(study.path("solar", "summer", "summer_unsolved_lf.txt")) == line
    assert read_text(os.path.join(study.results, "summer_unsolved_lf.txt")) == line
    # the last solved case is reopened before the next small case starts
    reopened = study.index_of("case", sfile=last_solved)
    storage_starts = study.index_of("save", sfile=study.path("storage", "summer", "summer_added_storage"))
    assert len(reopened) == 1 and reopened[0] < storage_starts[0]
    assert not os.path.exists(study.path("solar", "summer", "summer_solved_solar_final_solved.sav"))
    final = study.read_back(os.path.join(study.results, "summer_solved.sav"))
    assert [b["IN_SERVICE"] for b in final["buses"] if b["NAME"].startswith("nonet")] == [False]
    assert len(study.index_of("progress_output", islct=6)) == 3


def test_failures_sharing_a_parent_folder_and_a_failing_last_small_case(tmp_path):
    study = Study(tmp_path, smalls=(("Wind", "gen"), ("Solar", "nobase pv"), ("Storage", "nonet bess")))
    os.makedirs(study.results)
    parent_log = os.path.join(study.results, "summer_unsolved_lf.txt")
    with open(parent_log, "w") as stale:
        stale.write("left by an earlier run\n")
    result = study.run()
    assert result.returncode == 0, result.stderr
    solar = "unsolved: solar -> last_solve_success:none, also check if the original summer was solved.\n"
    storage = ("unsolved generating system: storage -> last_solve_success:"
               + study.path("storage", "summer", "summer_solved_storage_1.sav") + "\n")
    assert read_text(parent_log) == solar + storage
    assert read_text(study.path("solar", "summer", "summer_unsolved_lf.txt")) == solar
    assert read_text(study.path("storage", "summer", "summer_unsolved_lf.txt")) == storage
    # no final solved main case, no close and no final pass
    assert not os.path.exists(os.path.join(study.results, "summer_solved.sav"))
    assert "close_powerflow" not in study.names()
    assert not [kw for name, kw in study.calls if name.startswith("machine_chng") and "realar2" in kw]
    assert study.snapshot(study.main_dir) == study.originals


def test_an_error_part_way_deletes_the_temporary_copies_and_reaches_the_caller(tmp_path):
    study = Study(tmp_path, mains=("Summer", "Winter"), smalls=(("Wind", "gen"), ("Solar", "pv")))
    os.remove(os.path.join(study.small_dir, "Solar.sav"))
    result = study.run()
    assert result.returncode != 0
    assert "solar.sav" in result.stderr.splitlines()[-1]
    assert study.snapshot(study.main_dir) == study.originals
    # what was written before the error stays
    assert os.path.isfile(study.path("wind", "summer", "summer_added_wind.sav"))
    assert study.processing_lines() == expected_processing(["summer"], ["wind", "solar"])


def test_missing_bus_capacity_stops_at_the_first_small_case(tmp_path):
    study = Study(tmp_path, init=None)
    result = study.run()
    assert result.returncode != 0 and "UnboundLocalError" in result.stderr and "nbus" in result.stderr
    assert "psseinit" not in study.names()
    assert study.snapshot(study.main_dir) == study.originals


@pytest.mark.parametrize("lists", ["no main case", "no small case"])
def test_empty_lists_write_nothing(tmp_path, lists):
    if lists == "no main case":
        study = Study(tmp_path, main_cases=[("no", "x", "summer")])
    else:
        study = Study(tmp_path, small_cases=[])
    result = study.run()
    assert result.returncode == 0, result.stderr
    assert result.stdout == ""
    assert "psseinit" not in study.names() and "save" not in study.names()
    assert not os.path.exists(study.results)
    assert study.snapshot(study.main_dir) == study.originals


def test_a_final_solved_case_never_overwrites_a_main_case_file(tmp_path):
    """Main cases "base" and "base_solved" side by side, with the small cases' results folder
    being their own folder: the final solved case of "base" is named like the other main case."""
    study = Study(tmp_path, mains=("base", "base_solved"), cases="cases", main_folder="main",
                  results=os.path.join("cases", "main"))
    result = study.run()
    assert result.returncode != 0
    assert "refusing to save over main case file" in result.stderr
    assert study.snapshot(study.main_dir) == study.originals
