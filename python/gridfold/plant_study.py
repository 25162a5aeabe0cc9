"""A study of solar plants joined to a large main case, built the way the demo builds solar_a:
a realistic workload for trying the tool on a main case of one's own, for its benchmarks and
for its tests.

`write_plant_study(folder, main_case, plants)` copies the main case, picks `plants` connecting
buses in it (transmission buses of 100 to 250 kV with at least three branches, spread over
the case), builds one 100 MW solar plant per bus through the embedded engine's data calls
and writes the workbook. `solves_of(result_folder)` reads back, from the engine's progress
output of a run, the number of solutions and the iterations of each."""
import os
import re
import shutil

from .demo import SmallCaseBuilder, embedded_caspy, embedded_psspy
from .workbook import write_workbook

MAIN_FOLDER = "main_cases"
SMALL_FOLDER = "small_cases"
RESULTS_FOLDER = "results"
FIRST_PLANT_BUS = 990001
CLOSING = re.compile(r"^(fnsl|rsol) (converged|iteration limit reached|diverged) after (\d+) iterations")

# Conductor data of a gen-tie (795 kcmil ACSR, single circuit): ohm/km and uS/km.
_GEN_TIE = dict(r_ohm_km=0.073, x_ohm_km=0.38, b_us_km=3.0)


def connecting_buses(caspy, main_case, count):
    """`count` load-flow buses of 100-250 kV with three or more branches, spread over the case."""
    case = caspy.Savecase(main_case)
    bus = case.pssbus
    degree = {}
    for f, t in zip(case.pssbrn["FRMBUS"], case.pssbrn["TOBUS"]):
        degree[f] = degree.get(f, 0) + 1
        degree[t] = degree.get(t, 0) + 1
    candidates = [n for n, kv, ide in zip(bus["NUM"], bus["BASKV"], bus["IDE"])
                  if ide == 1 and 100.0 <= kv <= 250.0 and degree.get(n, 0) >= 3]
    if len(candidates) < count:
        raise ValueError(f"{main_case}: only {len(candidates)} buses fit a plant connection")
    step = len(candidates) // count
    kv_of = dict(zip(bus["NUM"], bus["BASKV"]))
    return [(candidates[i * step], kv_of[candidates[i * step]]) for i in range(count)]


def build_solar_plant(b, poi, kv, first_bus, label):
    """A 100 MW solar plant like the demo's solar_a: gen-tie, main transformer with taps,
    collector equivalent, inverter step-up, inverters, a capacitor bank and station load."""
    hv, mv, col, inv = first_bus, first_bus + 1, first_bus + 2, first_bus + 3
    b.bus(poi, f"POI {poi}"[:12], kv)
    b.bus(hv, f"{label} HV", kv)
    b.bus(mv, f"{label} MV", 34.5)
    b.bus(col, f"{label} COL", 34.5)
    b.bus(inv, f"{label} INV", 0.63, ide=2)
    b.line(poi, hv, kv, 8.0, rating_mva=220.0, name=f"{label} GEN-TIE", **_GEN_TIE)
    b.transformer(hv, mv, 110.0, 10.0, 40.0, f"{label} MAIN XFMR", taps=True)
    b.collector(mv, col, 0.008, 0.012, 0.03, 120.0, f"{label} COLLECTOR EQ")
    b.transformer(col, inv, 110.0, 6.0, 10.0, f"{label} GSU EQ", vector_group="Dyn11")
    b.machine(inv, 100.0, 33.0, -33.0, 0.0, 110.0, name=f"{label} PV")
    b.capacitor_bank(mv, 2, 10.0)
    b.load(mv, 0.3, 0.1)


def write_plant_study(folder, main_case, plants, caspy=None):
    """Writes the study into folder; returns (workbook path, [(small case, connecting bus)]).
    caspy: the engine's case data module (the embedded engine's when not given)."""
    caspy = caspy or embedded_caspy()
    folder = os.path.abspath(str(folder))
    for sub in (MAIN_FOLDER, SMALL_FOLDER):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    main_name = os.path.basename(main_case)
    shutil.copyfile(main_case, os.path.join(folder, MAIN_FOLDER, main_name))
    psspy = embedded_psspy()
    small = []
    for k, (poi, kv) in enumerate(connecting_buses(caspy, main_case, plants)):
        name = f"solar_{k + 1}.sav"
        builder = SmallCaseBuilder(psspy, name)
        build_solar_plant(builder, poi, kv, FIRST_PLANT_BUS + 10 * k, f"SOLAR {k + 1}")
        builder.save(os.path.join(folder, SMALL_FOLDER, name))
        small.append((name, poi))
    workbook = os.path.join(folder, "study.xlsx")
    write_workbook(workbook, main_rows=[("yes", MAIN_FOLDER, main_name)],
                   case_rows=[("yes", SMALL_FOLDER, name, poi) for name, poi in small], results_folder=RESULTS_FOLDER)
    return workbook, small


def solves_of(progress_file):
    """Iterations of every solution in an engine progress file, in order (None: not converged)."""
    iterations = []
    with open(progress_file) as f:
        for line in f:
            m = CLOSING.match(line)
            if m:
                iterations.append(int(m.group(3)) if m.group(2) == "converged" else None)
    return iterations
