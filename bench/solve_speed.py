"""Load-flow speed: the embedded engine against pandapower and lightsim2grid, side by side.

For each network, every tool solves the same data from a flat start and from the previous
solution (warm start); the median wall time per solve is printed with the ratios. The engine
is timed through its Python API (psspy.fnsl), so its figures include the call, the derivation
of the solver data from the network model and the write-back of the results.

    python bench/solve_speed.py [--repeats N] [case ...]
"""
import argparse
import contextlib
import io
import logging
import statistics
import sys
import time
import warnings

import numpy as np

warnings.simplefilter("ignore")
logging.disable(logging.WARNING)  # pandapower's notices about optional accelerators

import pandapower as pp  # noqa: E402

import gridfold  # noqa: E402
from gridfold import pandapower_cases as pc  # noqa: E402

if gridfold.EMBEDDED_ENGINE_PATH not in sys.path:
    sys.path.append(gridfold.EMBEDDED_ENGINE_PATH)
import psspy  # noqa: E402

CASES = ["case118", "case1354pegase", "case2869pegase", "case9241pegase"]
TOLERANCE_MVA = 1e-4  # the same tolerance for every tool


def median_time(action, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def bench_engine(ppc, repeats):
    # The engine greets on initialisation; keep that line out of the results table.
    with contextlib.redirect_stdout(io.StringIO()):
        psspy.psseinit(buses=150000)
    psspy.progress_output(islct=6)
    numbers = pc.build_in_engine(psspy, ppc)
    psspy.solution_parameters_4(realar1=TOLERANCE_MVA)

    # The engine answers a flat start it has already solved on the same problem from its kept
    # solution; a tolerance a part in 1e9 apart from the last on every solve makes each one iterate.
    nudge = iter(range(1 << 30))

    def flat():
        psspy.solution_parameters_4(realar1=TOLERANCE_MVA * (1.0 + 1e-9 * next(nudge)))
        psspy.fnsl(options6=1, options7=-1)
        assert psspy.solved() == 0

    def warm():
        psspy.fnsl(options7=-1)
        assert psspy.solved() == 0

    flat_time = median_time(flat, repeats)
    warm_time = median_time(warm, repeats)
    vm, _ = pc.engine_voltages(psspy, numbers)
    return flat_time, warm_time, vm


def bench_pandapower(net, repeats):
    options = dict(tolerance_mva=TOLERANCE_MVA, calculate_voltage_angles=True, enforce_q_lims=False)
    flat_time = median_time(lambda: pp.runpp(net, init="flat", **options), repeats)
    warm_time = median_time(lambda: pp.runpp(net, init="results", **options), repeats)
    return flat_time, warm_time, net.res_bus.vm_pu.to_numpy()


def bench_lightsim(net, repeats):
    from lightsim2grid.lightsim2grid_cpp import AlgorithmType
    from lightsim2grid.network import init_from_pandapower

    model = init_from_pandapower(net)
    solvers = model.available_solvers()
    solver = AlgorithmType.NR_KLU if AlgorithmType.NR_KLU in solvers else AlgorithmType.NR_SparseLU
    model.change_solver(solver)
    n = len(net.bus)
    flat_v = np.ones(n, dtype=complex)
    state = {}

    def flat():
        state["v"] = model.ac_pf(flat_v, 30, TOLERANCE_MVA / net.sn_mva)
        assert state["v"].size

    flat_time = median_time(flat, repeats)
    solution = state["v"].copy()

    def warm():
        assert model.ac_pf(solution, 30, TOLERANCE_MVA / net.sn_mva).size

    warm_time = median_time(warm, repeats)
    return flat_time, warm_time, np.abs(solution), str(solver).split(".")[-1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cases", nargs="*", default=CASES)
    parser.add_argument("--repeats", type=int, default=7)
    args = parser.parse_args()
    numba = "with" if _has_numba() else "without"
    print(f"median wall time per solve over {args.repeats} solves, tolerance {TOLERANCE_MVA} MW/Mvar; "
          f"pandapower {pp.__version__} {numba} numba")
    header = f"{'case':16} {'start':5} {'engine ms':>10} {'pandapower ms':>14} {'lightsim2grid ms':>17} " \
             f"{'pp/engine':>10} {'ls/engine':>10}"
    print(header)
    print("-" * len(header))
    for name in args.cases:
        net = pc.standard_network(name)
        ppc, _, _ = pc.solve_reference(net, tolerance_mva=TOLERANCE_MVA)
        e_flat, e_warm, e_vm = bench_engine(ppc, args.repeats)
        p_flat, p_warm, p_vm = bench_pandapower(net, args.repeats)
        l_flat, l_warm, l_vm, solver = bench_lightsim(net, args.repeats)
        for start, e, p, lt in (("flat", e_flat, p_flat, l_flat), ("warm", e_warm, p_warm, l_warm)):
            print(f"{name:16} {start:5} {e * 1e3:10.3f} {p * 1e3:14.3f} {lt * 1e3:17.3f} "
                  f"{p / e:10.1f} {lt / e:10.2f}")
        agree = max(np.abs(e_vm - p_vm).max(), np.abs(e_vm - l_vm[:len(e_vm)]).max())
        print(f"{'':16} largest magnitude difference between the tools: {agree:.2e} pu "
              f"(lightsim2grid solver {solver})")


def _has_numba():
    try:
        import numba  # noqa: F401
        return True
    except ImportError:
        return False


if __name__ == "__main__":
    main()
