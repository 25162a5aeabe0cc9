"""Load-flow speed: the embedded engine against pandapower and lightsim2grid, side by side.

For each network, every tool solves the same data from a flat start and from the previous
solution (warm start); the median wall time per solve is printed with the ratios. The engine
and lightsim2grid take turns, one solve each per round, so that a change in the machine's load
falls on both alike and their ratio stays steady on a shared machine; pandapower, a hundred
times slower and heavy on the caches, is timed on its own. The engine
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


def median_times(actions, repeats):
    """Median wall time of each action, the actions taking turns."""
    times = {name: [] for name in actions}
    for _ in range(repeats):
        for name, action in actions.items():
            start = time.perf_counter()
            action()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def engine_solves(ppc):
    """Flat and warm solves of the engine, and the magnitudes it found."""
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

    return flat, warm, lambda: pc.engine_voltages(psspy, numbers)[0]


def pandapower_solves(net):
    options = dict(tolerance_mva=TOLERANCE_MVA, calculate_voltage_angles=True, enforce_q_lims=False)
    return (lambda: pp.runpp(net, init="flat", **options), lambda: pp.runpp(net, init="results", **options),
            lambda: net.res_bus.vm_pu.to_numpy())


def lightsim_solves(net):
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

    def warm():
        # Every warm solve starts from the flat start's solution.
        solution = state.setdefault("solution", state["v"].copy())
        assert model.ac_pf(solution, 30, TOLERANCE_MVA / net.sn_mva).size

    return flat, warm, lambda: np.abs(state["v"]), str(solver).split(".")[-1]


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
        e_flat, e_warm, e_vm = engine_solves(ppc)
        p_flat, p_warm, p_vm = pandapower_solves(net)
        l_flat, l_warm, l_vm, solver = lightsim_solves(net)
        flat = median_times({"engine": e_flat, "lightsim": l_flat}, args.repeats)
        warm = median_times({"engine": e_warm, "lightsim": l_warm}, args.repeats)
        flat.update(median_times({"pandapower": p_flat}, args.repeats))
        warm.update(median_times({"pandapower": p_warm}, args.repeats))
        for start, t in (("flat", flat), ("warm", warm)):
            e, p, lt = t["engine"], t["pandapower"], t["lightsim"]
            print(f"{name:16} {start:5} {e * 1e3:10.3f} {p * 1e3:14.3f} {lt * 1e3:17.3f} "
                  f"{p / e:10.1f} {lt / e:10.2f}")
        e_vm, p_vm, l_vm = e_vm(), p_vm(), l_vm()
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
