"""Fuzzing the embedded engine with damaged case files and random psspy calls.

Every input runs in a subprocess of its own (tests/helpers/fuzz_worker.py), so that a crash
ends only that run. An input fails on a crash, a hang (the subprocess timeout, a guard and
not a measure of speed), a call raising anything but TypeError, a non-finite number in a
file save wrote, or a file save wrote that case or caspy refuses.

tests/data/fuzz/ keeps the seeds (seeds.json) and every input the test ever failed on
(found/): a failing seed writes its input there, to be kept with the fix. Each kept input
is replayed on every run; the ones whose fault is still open are listed with the fault in
known_faults.json and expected to fail until it is mended. GRIDFOLD_FUZZ_EXTRA=N adds N fresh
seeds of each kind, for a longer search.
"""
import json
import os
import random
import shutil
import subprocess
import sys

import pytest

from helpers import engine_cases
from helpers.fuzz_inputs import api_calls, mutate_case

HERE = os.path.dirname(__file__)
ROOT = os.path.join(HERE, os.pardir, os.pardir)
FUZZ_DATA = os.path.join(HERE, os.pardir, "data", "fuzz")
FOUND = os.path.join(FUZZ_DATA, "found")
WORKER = os.path.join(HERE, os.pardir, "helpers", "fuzz_worker.py")
#: A subprocess still running after this long is a hang (inputs take well under a second).
HANG_SECONDS = 120

with open(os.path.join(FUZZ_DATA, "seeds.json"), encoding="utf-8") as _stream:
    SEEDS = json.load(_stream)
with open(os.path.join(FUZZ_DATA, "known_faults.json"), encoding="utf-8") as _stream:
    KNOWN_FAULTS = json.load(_stream)

_EXTRA = int(os.environ.get("GRIDFOLD_FUZZ_EXTRA", "0"))
_fresh = random.Random()
CASE_SEEDS = SEEDS["case_files"] + [_fresh.randrange(10**9) for _ in range(_EXTRA)]
CALL_SEEDS = SEEDS["api_calls"] + [_fresh.randrange(10**9) for _ in range(_EXTRA)]


def run_worker(kind, path, workdir):
    """(passed, what went wrong) for one input."""
    os.makedirs(workdir, exist_ok=True)
    try:
        done = subprocess.run([sys.executable, WORKER, kind, str(path), str(workdir)], capture_output=True,
                              text=True, timeout=HANG_SECONDS)
    except subprocess.TimeoutExpired:
        return False, f"no result after {HANG_SECONDS} s: the engine hangs"
    if done.returncode == 0:
        return True, ""
    if done.returncode < 0:
        return False, f"crashed with signal {-done.returncode}\n{done.stderr[-3000:]}"
    return False, (done.stdout + done.stderr)[-3000:]


def keep(path, name):
    """Copies a failing input into tests/data/fuzz/found/ and says where."""
    os.makedirs(FOUND, exist_ok=True)
    target = os.path.join(FOUND, name)
    shutil.copyfile(path, target)
    return f"input kept as {os.path.relpath(target, ROOT)}"


@pytest.fixture(scope="module")
def base_cases(tmp_path_factory):
    """Real case files to damage: the demo's IEEE 118-bus main case and a wind plant with a
    three-winding transformer, an induction machine and a switched shunt, built through the
    engine, as a case file and as RAW version 33 (read by the importer)."""
    folder = tmp_path_factory.mktemp("fuzz_base")
    sys.path.append(os.path.dirname(WORKER))
    import gridfold

    psspy, _ = gridfold.embedded_engine()

    wind = engine_cases.save_wind_case(psspy, str(folder / "wind.sav"), grid_equivalent=True)
    psspy.progress_output(islct=6)
    wind_v33 = str(folder / "wind_v33.raw")
    assert psspy.writerawversion("33", 0, wind_v33) == 0
    main = os.path.join(ROOT, "examples", "ieee118_peak.sav")
    texts = {}
    for name, path in (("ieee118", main), ("wind", wind), ("wind_v33", wind_v33)):
        with open(path, encoding="utf-8") as stream:
            texts[name] = stream.read()
    return texts


@pytest.mark.parametrize("seed", CASE_SEEDS)
def test_damaged_case_file_never_crashes_hangs_or_saves_an_unreadable_file(seed, base_cases, tmp_path):
    base = sorted(base_cases)[seed % len(base_cases)]
    text, changes = mutate_case(base_cases[base], seed)
    path = tmp_path / f"case-{base}-{seed}.sav"
    with open(path, "w", encoding="utf-8", errors="surrogateescape", newline="") as stream:
        stream.write(text)
    passed, problem = run_worker("case", path, tmp_path / "work")
    if not passed:
        pytest.fail(f"{base} case, seed {seed}, changes {changes}: {problem}\n{keep(path, path.name)}")


@pytest.mark.parametrize("seed", CALL_SEEDS)
def test_random_api_calls_never_crash_hang_or_save_an_unreadable_file(seed, tmp_path):
    path = tmp_path / f"calls-{seed}.json"
    with open(path, "w", encoding="utf-8") as stream:
        json.dump(api_calls(seed), stream, indent=0)
    passed, problem = run_worker("calls", path, tmp_path / "work")
    if not passed:
        pytest.fail(f"call sequence of seed {seed}: {problem}\n{keep(path, path.name)}")


def kept_inputs():
    if not os.path.isdir(FOUND):
        return []
    params = []
    for name in sorted(os.listdir(FOUND)):
        marks = [pytest.mark.xfail(reason=KNOWN_FAULTS[name], strict=True)] if name in KNOWN_FAULTS else []
        params.append(pytest.param(name, marks=marks, id=name))
    return params


@pytest.mark.parametrize("name", kept_inputs())
def test_every_input_the_fuzzer_failed_on_now_holds(name, tmp_path):
    kind = "calls" if name.endswith(".json") else "case"
    passed, problem = run_worker(kind, os.path.join(FOUND, name), tmp_path / "work")
    assert passed, problem


def test_the_checks_of_a_saved_file_see_non_finite_numbers():
    """The worker's scan of a saved file finds what a case file may not hold, and nothing in quotes."""
    sys.path.append(os.path.dirname(WORKER))
    import fuzz_worker

    text = "0,100.0,35\n1,'nan inf',138.0,1,nan,1e999\n2,'B',-inf, 1.0 / comment inf\n"
    assert fuzz_worker.non_finite_fields(text) == [(2, "nan"), (2, "1e999"), (3, "-inf")]
