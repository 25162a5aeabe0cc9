"""The demo study end to end: `python -m gridfold demo` on the embedded engine, then reruns.

The demo runs once per module in a subprocess (the engine is process-wide); the tests read
what it printed and left on disk. Expected element counts come from the small case files
themselves, read with the embedded engine's caspy.
"""
import csv
import hashlib
import json
import os
import stat
import subprocess
import sys

import openpyxl
import pytest

from gridfold import demo

MAINS = ["ieee118_peak", "ieee118_light"]
SMALLS = ["solar_a", "wind_b", "storage_c", "pumped_e", "solar_d"]
TOO_LARGE = "pumped_e"


def gridfold_command(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "gridfold", *args], capture_output=True, text=True, cwd=cwd)


def _digest(path):
    with open(path, "rb") as stream:
        return hashlib.sha256(stream.read()).hexdigest()


@pytest.fixture(scope="module")
def study(tmp_path_factory):
    folder = tmp_path_factory.mktemp("study") / "demo"
    packaged = {name: _digest(os.path.join(demo.EXAMPLES_PATH, name)) for name in demo.MAIN_CASES}
    result = gridfold_command("demo", str(folder))
    return folder, result, packaged


def _csv_rows(folder):
    with open(folder / "summary.csv", newline="") as stream:
        return list(csv.DictReader(stream))


def test_demo_reports_every_pair_and_fails_only_the_plant_too_large(study):
    folder, result, _ = study
    assert result.returncode == 0, result.stderr  # the demo ran; pumped_e is meant not to solve
    rows = _csv_rows(folder)
    assert [(r["main_case"], r["small_case"]) for r in rows] == [(m, s) for m in MAINS for s in SMALLS]
    for row in rows:
        if row["small_case"] == TOO_LARGE:
            # Its gen-tie line solves; bringing back the pump's bus does not.
            assert row["solve"] == "solved up to connection 1 (connection 2 failed)"
            assert row["last_solved_case"] == os.path.join(
                "results", TOO_LARGE, row["main_case"], f"{row['main_case']}_solved_{TOO_LARGE}_1.sav")
        else:
            assert row["solve"] == "fully solved", row
            assert row["last_solved_case"].endswith(f"_solved_{row['small_case']}_final_solved.sav")
        assert row["refused_calls"] == "0", row
        assert os.path.isfile(folder / row["last_solved_case"])
    # The console table carries the same rows, in the same order.
    table = [line.split()[:2] for line in result.stdout.splitlines() if line.startswith(tuple(MAINS))]
    assert table == [[r["main_case"], r["small_case"]] for r in rows]
    assert "results/ieee118_light_solved.sav, results/ieee118_peak_solved.sav" in result.stdout


def test_elements_added_match_the_small_case_files(study, caspy):
    folder, _, _ = study
    rows = _csv_rows(folder)
    for name in SMALLS:
        case = caspy.Savecase(str(folder / "small_cases" / f"{name}.sav"))
        expected = {
            # The connecting bus is the main case's; star points of three-winding
            # transformers are the engine's own buses.
            "buses": len([n for n in case.pssbus["NUM"] if n < 1000000]) - 1,
            "line_branches": case.cas_nbrn,
            "transformers": case.cas_ntrn,
            "generators": len(case.pssgen["NUM"]),
            "fixed_shunts": len(case.pssfsh["NUM"]),
            "switched_shunts": len(case.psswsh["NUM"]),
            "loads": len(case.psslod["NUM"]),
            "induction_machines": len(case.pssind["NUM"]),
        }
        for row in (r for r in rows if r["small_case"] == name):
            assert {kind: int(row[kind]) for kind in expected} == expected, name
            assert int(row["elements_added"]) == sum(expected.values())
    wind = next(r for r in rows if r["small_case"] == "wind_b")
    assert int(wind["induction_machines"]) == 1 and int(wind["transformers"]) >= 1


def test_colliding_buses_are_renumbered_and_the_maps_written(study):
    folder, _, _ = study
    for main in MAINS:
        results = folder / "results" / "solar_d" / main
        lines = (results / f"{main}_renumber_map.txt").read_text().splitlines()
        mapping = json.loads((results / f"{main}_renumber_map.json").read_text())
        assert [line.split(" -> ")[0] for line in lines] == ["101", "102", "103"]
        assert {old: int(new) for old, new in (line.split(" -> ") for line in lines)} == mapping
        assert all(900000 <= new <= 999999 for new in mapping.values())
        assert (folder / "results" / "solar_a" / main / f"{main}_renumber_map.txt").read_text() == ""


def test_outputs_lie_where_the_summary_says(study, caspy):
    folder, result, packaged = study
    results = folder / "results"
    for main in MAINS:
        for small in SMALLS:
            pair = results / small / main
            for name in (f"{main}_status_{small}.txt", f"{main}_added_{small}.sav", f"{main}_oos_{small}.sav",
                         f"{main}_solved_{small}_0.sav", "progress.txt"):
                assert (pair / name).is_file(), pair / name
        log = (results / TOO_LARGE / main / f"{main}_unsolved_lf.txt").read_text()
        assert log.startswith(f"unsolved generating system: {TOO_LARGE} -> last_solve_success:")
        assert (results / f"{main}_unsolved_lf.txt").read_text() == log
        # The final solved main case holds every plant, the renumbered one included.
        final = caspy.Savecase(str(results / f"{main}_solved.sav"))
        buses = set(final.pssbus["NUM"])
        assert {2001, 3001, 4001, 5001}.issubset(buses)
        assert {101, 102, 103}.issubset(buses) and len([b for b in buses if 900000 <= b <= 999999]) == 3
    for name, digest in packaged.items():
        assert _digest(folder / "main_cases" / name) == digest  # the run never changes its main cases
    for text in ("study folder:", "summary.csv", "renumber_map", "_unsolved_lf.txt", "progress.txt"):
        assert text in result.stdout


def test_plant_main_transformers_hold_their_medium_voltage_bus(study, caspy):
    """solar_a and storage_c regulate their 34.5 kV bus within 0.99-1.01 pu by tap (at the neutral
    position it lies above the band): in every solved case the bus lies in the band and the ratio
    sits on one of the changer's 33 positions, off neutral."""
    folder, _, _ = study
    results = folder / "results"
    for main in MAINS:
        final = caspy.Savecase(str(results / f"{main}_solved.sav"))
        vm = dict(zip(final.pssbus["NUM"], final.pssbus["VM"]))
        trn = final.castrn
        for hv, mv in ((2001, 2002), (4001, 4002)):
            assert 0.99 - 1e-6 <= vm[mv] <= 1.01 + 1e-6, (main, mv, vm[mv])
            row = next(i for i, buses in enumerate(trn["BUSNUM"]) if buses[0] == hv and buses[1] == mv)
            position = (trn["WIND"][row][0] - 0.9) / (0.2 / 32)
            assert position == pytest.approx(round(position), abs=1e-6) and round(position) > 16


def test_a_rerun_without_the_failing_plant_reports_only_its_own_results(study):
    """The earlier run's unsolved logs stay on disk but must not colour the new summary."""
    folder, _, _ = study
    workbook = folder / demo.WORKBOOK
    book = openpyxl.load_workbook(workbook)
    sheet = book["small_cases"]
    for row in sheet.iter_rows(min_row=2):
        if row[2].value == f"{TOO_LARGE}.sav":
            row[0].value = "no"
    book.save(workbook)
    result = gridfold_command("run", str(workbook))
    assert result.returncode == 0, result.stdout[-2000:] + result.stderr
    rows = _csv_rows(folder)
    assert [r["small_case"] for r in rows] == [s for s in SMALLS if s != TOO_LARGE] * 2
    assert all(r["solve"] == "fully solved" for r in rows)
    assert (folder / "results" / TOO_LARGE / MAINS[0] / f"{MAINS[0]}_unsolved_lf.txt").is_file()


def test_demo_files_get_the_permissions_of_any_new_file(study):
    folder, _, _ = study
    umask = os.umask(0o022)
    os.umask(umask)
    for path in (folder / demo.WORKBOOK, folder / "summary.csv", folder / "main_cases" / demo.MAIN_CASES[0],
                 folder / "results" / "run_record.json"):
        assert stat.S_IMODE(os.stat(path).st_mode) == 0o666 & ~umask, path
