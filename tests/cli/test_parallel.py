"""Studies run in work units: --jobs on a local Dask cluster, --scheduler on a given one, --each-alone.

Every run is `python -m gridfold` in a subprocess on the demo study (two main cases, five
plants, one of which does not solve), against a serial run of the same inputs: a parallel
run must leave exactly the files the serial run leaves.
"""
import csv
import json
import os
import shutil
import signal
import subprocess
import sys
import time

import pytest

from gridfold import demo, parallel, summary
from helpers.signals import ctrl_c_at_default

MAINS = ["ieee118_peak", "ieee118_light"]
SMALLS = ["solar_a", "wind_b", "storage_c", "pumped_e", "solar_d"]
TOO_LARGE = "pumped_e"


def gridfold_command(*args, cwd=None, env=None):
    return subprocess.run([sys.executable, "-m", "gridfold", *args], capture_output=True, text=True, cwd=cwd,
                          env=env)


def gridfold_process(*args, env=None):
    """`gridfold` started in a session of its own, so that a test can signal it and its workers as a terminal would."""
    return subprocess.Popen([sys.executable, "-m", "gridfold", *args], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env, start_new_session=True,
                            preexec_fn=ctrl_c_at_default)


@pytest.fixture(scope="module")
def serial(tmp_path_factory):
    """The demo study run serially: the reference every parallel run is compared with."""
    folder = tmp_path_factory.mktemp("serial") / "demo"
    result = gridfold_command("demo", str(folder))
    assert result.returncode == 0, result.stdout[-2000:] + result.stderr
    return folder


def study_copy(serial, target):
    """The inputs of the demo study (workbook, main and small cases) copied to `target`, without results."""
    target.mkdir(parents=True)
    shutil.copy2(serial / demo.WORKBOOK, target / demo.WORKBOOK)
    for sub in (demo.MAIN_FOLDER, demo.SMALL_FOLDER):
        shutil.copytree(serial / sub, target / sub)
    return target / demo.WORKBOOK


#: The report, its workbook and the console log carry the run's times and its console; they
#: are made from the run record, which is compared (tests/cli/test_report.py checks them).
_TIMED_OUTPUTS = ("report.html", "summary.xlsx", "run.log")


def output_files(folder):
    """Every file a run left under `folder`, by relative path (inputs included)."""
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            found[os.path.relpath(path, folder)] = path
    return found


_TIMES = ("started", "finished", "seconds")


def _without_times(value, folder):
    """A run record's value with its times left out and paths taken relative to the study `folder`."""
    if isinstance(value, dict):
        return {k: _without_times(v, folder) for k, v in value.items() if k not in _TIMES}
    if isinstance(value, list):
        return [_without_times(v, folder) for v in value]
    if isinstance(value, str):
        return value.replace(str(folder), "<study>")
    return value


def _content(path):
    """A file's bytes; for a run record, its data without times and with the study folder's paths made relative."""
    if os.path.basename(path) == "run_record.json":
        folder = os.path.dirname(os.path.dirname(path))
        with open(path, encoding="utf-8") as stream:
            return _without_times(json.load(stream), folder)
    with open(path, "rb") as stream:
        return stream.read()


def assert_same_outputs(reference, other, subtree="", edit=lambda name, content: content):
    """Both folders hold the same files under `subtree`, byte for byte once `edit` is applied to `other`'s
    (the report's files and the console log only by name)."""
    ours = {k: v for k, v in output_files(other).items() if k.startswith(subtree)}
    theirs = {k: v for k, v in output_files(reference).items() if k.startswith(subtree)}
    assert sorted(ours) == sorted(theirs)
    compared = [name for name in theirs if os.path.basename(name) not in _TIMED_OUTPUTS]
    different = [name for name in compared if _content(theirs[name]) != edit(name, _content(ours[name]))]
    assert different == []


def summary_rows(folder):
    with open(folder / "summary.csv", newline="") as stream:
        return list(csv.DictReader(stream))


def temporary_copies(folder):
    """Temporary main case copies and each-alone copy folders left in a study's main case folder."""
    return [name for name in os.listdir(folder / demo.MAIN_FOLDER) if name not in demo.MAIN_CASES]


def test_jobs_writes_exactly_the_files_of_a_serial_run(serial, tmp_path):
    workbook = study_copy(serial, tmp_path / "parallel")
    result = gridfold_command("run", "--jobs", "2", str(workbook))
    assert result.returncode == 1, result.stdout[-2000:] + result.stderr  # pumped_e does not solve
    assert_same_outputs(serial, tmp_path / "parallel")
    # Each unit's console comes back to the runner; the table is in workbook order.
    assert result.stdout.count("=== ieee118_") == 2
    table = [line.split()[:2] for line in result.stdout.splitlines() if line.startswith(tuple(MAINS))]
    assert table == [[m, s] for m in MAINS for s in SMALLS]


def test_keep_final_removes_the_same_cases_serial_or_parallel(serial, tmp_path):
    reference = study_copy(serial, tmp_path / "serial_final")
    result = gridfold_command("run", "--keep", "final", str(reference))
    assert result.returncode == 1, result.stdout[-2000:] + result.stderr
    workbook = study_copy(serial, tmp_path / "parallel_final")
    result = gridfold_command("run", "--jobs", "2", "--keep", "final", str(workbook))
    assert result.returncode == 1, result.stdout[-2000:] + result.stderr
    assert "--keep final: removed" in result.stdout
    assert_same_outputs(tmp_path / "serial_final", tmp_path / "parallel_final")
    solar = tmp_path / "parallel_final" / "results" / "solar_a" / "ieee118_peak"
    assert sorted(p.name for p in solar.glob("*.sav")) == [
        "ieee118_peak_dispatched_solar_a.sav", "ieee118_peak_solved_solar_a_final_solved.sav"]


def test_scheduler_of_a_running_cluster_gives_the_serial_results(serial, tmp_path):
    distributed = pytest.importorskip("distributed")
    workbook = study_copy(serial, tmp_path / "cluster")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") \
            as cluster:
        result = gridfold_command("run", "--scheduler", cluster.scheduler_address, str(workbook))
    assert result.returncode == 1, result.stdout[-2000:] + result.stderr
    assert_same_outputs(serial, tmp_path / "cluster")


def test_each_alone_merges_every_plant_into_a_fresh_main_case(serial, tmp_path, caspy):
    folder = tmp_path / "alone"
    workbook = study_copy(serial, folder)
    result = gridfold_command("run", "--each-alone", "--jobs", "2", str(workbook))
    assert result.returncode == 1, result.stdout[-2000:] + result.stderr
    results = folder / "results"
    assert sorted(os.listdir(results)) == ["each_alone"]  # nothing lands in the chain run's folders
    rows = summary_rows(folder)
    assert [(r["main_case"], r["small_case"]) for r in rows] == [(m, s) for m in MAINS for s in SMALLS]
    for row in rows:
        small, main = row["small_case"], row["main_case"]
        assert row["results_folder"] == os.path.join("results", "each_alone", small, small, main)
        assert row["solve"] == ("solved up to connection 1 (connection 2 failed)" if small == TOO_LARGE
                                else "fully solved"), row
    main_buses = {m: set(caspy.Savecase(str(folder / "main_cases" / f"{m}.sav")).pssbus["NUM"]) for m in MAINS}
    for small in SMALLS:
        plant = set(caspy.Savecase(str(folder / "small_cases" / f"{small}.sav")).pssbus["NUM"])
        for main in MAINS:
            final = folder / "results" / "each_alone" / small / f"{main}_solved.sav"
            if small == TOO_LARGE:
                assert not final.exists()
                continue
            # Only the main case and this plant: no equipment of the other plants.
            # Star points of three-winding transformers (1000000 up) are the engine's own.
            added = {b for b in caspy.Savecase(str(final)).pssbus["NUM"] if b < 1000000} - main_buses[main]
            assert len(added) == len([b for b in plant if b < 1000000]) - 1, (small, main)
    # The first plant of a chain also starts from the fresh main case: same files.
    first = SMALLS[0]
    for main in MAINS:
        pair = results / "each_alone" / first / first / main
        # The engine's progress (the run's and the dispatch check's) echoes the paths it saved
        # to: its own folders, and the temporary copy of the main case, in a folder of the pair's own.
        assert_same_outputs(serial / "results" / first / main, pair,
                            edit=lambda name, content, main=main: _content(serial / "results" / first / main / name)
                            if name in ("progress.txt", "dispatch_progress.txt") else content)
        progress = (pair / "progress.txt").read_text()
        assert f"Case saved in main_cases/.gridfold-{main}-alone-{first}/{main}_copy.sav\n" in progress
    assert temporary_copies(folder) == []


def test_a_main_case_that_fails_is_reported_while_the_others_finish(serial, tmp_path):
    folder = tmp_path / "broken"
    workbook = study_copy(serial, folder)
    (folder / "main_cases" / "ieee118_light.sav").write_text("not a case\n")
    result = gridfold_command("run", "--jobs", "2", str(workbook))
    assert result.returncode == 1, result.stdout[-2000:] + result.stderr
    assert_same_outputs(serial, folder, os.path.join("results", "solar_a", "ieee118_peak"))
    rows = summary_rows(folder)
    peak = [r for r in rows if r["main_case"] == "ieee118_peak"]
    serial_peak = [r for r in summary_rows(serial) if r["main_case"] == "ieee118_peak"]
    assert peak == serial_peak
    light = [r for r in rows if r["main_case"] == "ieee118_light"]
    assert len(light) == len(SMALLS)
    assert all(r["solve"] == "error" for r in light), light
    [failure] = [line for line in result.stderr.splitlines() if line.startswith("gridfold: ieee118_light failed: ")]
    assert "ieee118_light" in failure.split(" failed: ", 1)[1]  # the error names the case that would not open
    record = json.loads((folder / "results" / "run_record.json").read_text())
    assert [m["name"] for m in record["main_cases"]] == MAINS
    assert record["main_cases"][0]["error"] is None and record["main_cases"][1]["error"]
    assert temporary_copies(folder) == []


def _unit_processes(workbook):
    """{pid: job} of the live unit processes working on `workbook` (their command line is
    `python -m gridfold.parallel JOB`, the job holding the workbook's path)."""
    units = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as stream:
                command = stream.read().decode(errors="replace").split("\0")
            with open(f"/proc/{entry}/stat") as stream:
                state = stream.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if state not in ("Z", "X") and "gridfold.parallel" in command and str(workbook) in command[-2]:
            units[int(entry)] = json.loads(command[-2])
    return units


def _wait_for(condition, limit=120.0):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("the run never reached the expected state")


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="finds the unit processes through /proc")
def test_a_killed_worker_marks_its_main_case_failed(serial, tmp_path):
    folder = tmp_path / "killed"
    workbook = study_copy(serial, folder)
    run = gridfold_process("run", "--jobs", "1", "--each-alone", str(workbook))
    # A unit is killed while the driver's working copy of its main case exists (in the unit's
    # own copy folder), so in the middle of its pair: the unit is stopped while the copy is
    # looked for, so that it cannot finish in between. Its pair is read from its own job,
    # whichever unit it is.

    def stopped_with_its_copy():
        for pid, job in _unit_processes(workbook).items():
            [main_file] = job["main_files"].values()
            private = (folder / demo.MAIN_FOLDER /
                       os.path.basename(parallel.each_alone_copy_folder(main_file, job["small_case"])))
            try:
                os.kill(pid, signal.SIGSTOP)
            except ProcessLookupError:
                continue
            if private.is_dir() and any(name.endswith("_copy.sav") for name in os.listdir(private)):
                return pid, (summary.case_name(os.path.basename(main_file)), job["small_case"])
            os.kill(pid, signal.SIGCONT)
        return None

    victim, pair = _wait_for(stopped_with_its_copy)
    os.kill(victim, signal.SIGKILL)
    stdout, stderr = run.communicate(timeout=600)
    assert run.returncode == 1, stdout[-2000:] + stderr
    rows = {(r["main_case"], r["small_case"]): r for r in summary_rows(folder)}
    killed = rows.pop(pair)
    assert killed["solve"] == "error"
    assert all(r["solve"] != "error" for r in rows.values())
    record = json.loads((folder / "results" / "each_alone" / "run_record.json").read_text())
    killed_entries = [m["name"] for m in record["main_cases"] if m["error"] == "worker process killed by SIGKILL"]
    assert killed_entries == [pair[0]]
    names = [m["name"] for m in record["main_cases"]]
    assert len(names) == len(set(names)), names
    assert f"gridfold: {pair[0]} + {pair[1]} failed: worker process killed by SIGKILL" in stderr
    assert temporary_copies(folder) == []


def test_each_alone_record_keeps_one_entry_per_main_case_when_a_middle_unit_is_killed(tmp_path):
    # Three each-alone units of one main case; the second was killed before writing a record.
    # The main case must appear once, with the kill as its error, whichever unit came first.
    main_file = str(tmp_path / "main" / "winter.sav")
    smalls = {key: {"filename": name, "parent_path": "plants", "connecting_bus": 7}
              for key, name in ((1, "solar_a"), (2, "wind_b"), (3, "storage_c"))}

    def record(small):
        entry = {"name": "winter", "file": f"{main_file}.{small}", "row": 2, "base_case_solved": True,
                 "solved_case": "x.sav", "error": None, "seconds": 1.0}
        pair = {"main_case": "winter", "small_case": small, "outcome": "solved"}
        return {"gridfold_version": "1", "engine": "embedded", "main_cases": [entry], "pairs": [pair]}

    units = [parallel.WorkUnit({"m": main_file}, (key,), "winter", smalls[key]["filename"]) for key in smalls]
    results = [parallel.UnitResult(units[0], records=[record("solar_a")]),
               parallel.UnitResult(units[1], error="worker process killed by SIGKILL"),
               parallel.UnitResult(units[2], records=[record("storage_c")])]
    for order in (results, [results[1], results[0], results[2]]):
        merged = parallel.merge_records(str(tmp_path / "study.xlsx"), [r.unit for r in order], order, smalls,
                                        each_alone=True, started="t0", seconds=3.0)
        assert [(m["name"], m["file"], m["row"], m["error"]) for m in merged["main_cases"]] == [
            ("winter", main_file, 2, "worker process killed by SIGKILL")]
        outcomes = {p["small_case"]: p["outcome"] for p in merged["pairs"]}
        assert outcomes == {"solar_a": "solved", "wind_b": summary.ERROR, "storage_c": "solved"}


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="finds the unit processes through /proc")
def test_ctrl_c_stops_every_worker_and_removes_the_temporary_copies(serial, tmp_path):
    folder = tmp_path / "interrupted"
    workbook = study_copy(serial, folder)
    run = gridfold_process("run", "--jobs", "2", str(workbook))
    _wait_for(lambda: len(_unit_processes(workbook)) == 2)
    # Once both main cases are under way (past the start-up of their processes).
    first = folder / "results" / SMALLS[0]
    _wait_for(lambda: all((first / main / f"{main}_status_{SMALLS[0]}.txt").exists() for main in MAINS))
    os.killpg(run.pid, signal.SIGINT)  # what Ctrl-C in a terminal does
    stdout, stderr = run.communicate(timeout=120)
    assert run.returncode == 130, stdout[-2000:] + stderr
    assert "interrupted" in stderr
    assert "Traceback" not in stdout + stderr, stdout[-3000:] + stderr[-3000:]
    _wait_for(lambda: not _unit_processes(workbook), limit=30)
    assert temporary_copies(folder) == []


def test_without_dask_jobs_and_scheduler_stop_with_how_to_install(tmp_path, serial):
    # A module named distributed that cannot be imported stands for an installation without Dask.
    blocker = tmp_path / "no_dask"
    blocker.mkdir()
    (blocker / "distributed.py").write_text("raise ImportError('No module named distributed')\n")
    env = dict(os.environ, PYTHONPATH=str(blocker) + os.pathsep + os.environ.get("PYTHONPATH", ""))
    workbook = study_copy(serial, tmp_path / "study")
    for option in (["--jobs", "2"], ["--scheduler", "tcp://127.0.0.1:1"]):
        result = gridfold_command("run", *option, str(workbook), env=env)
        assert result.returncode == 2
        assert result.stderr.splitlines() == [
            "gridfold: error: --jobs above 1 and --scheduler need Dask: pip install 'gridfold[cluster]'"]
    assert not (tmp_path / "study" / "results").exists()
    # The plain run needs no Dask.
    result = gridfold_command("run", "--help", env=env)
    assert result.returncode == 0 and "--each-alone" in result.stdout


@pytest.mark.parametrize("jobs, message", [("0", "give at least one worker"), ("many", "a whole number of workers")])
def test_jobs_takes_a_count_or_auto(tmp_path, serial, jobs, message):
    workbook = study_copy(serial, tmp_path / "study")
    result = gridfold_command("run", "--jobs", jobs, str(workbook))
    assert result.returncode == 2 and message in result.stderr
