"""How fnsl, rsol and solved() behave: status codes, failures, islands, escalation, progress lines,
option arrays and the already-solved shortcut. Every case is built through the data calls."""
import math

import numpy as np
import pytest
from pandapower.pypower.idx_bus import PD, QD

from gridfold import pandapower_cases as pc

TIGHT_MVA = 1e-6
RSOL_ARRAY = [1, 2, 0, 0, 1, 1, 0, 99, 0, 0]
RSOL_REALS = [500.0, 5.0]


def build(psspy, name="case9", load_scale=None):
    """Builds a standard network; with load_scale, every load multiplied (no reference then)."""
    ppc, vm_ref, va_ref = pc.solve_reference(pc.standard_network(name))
    if load_scale is not None:
        ppc = dict(ppc, bus=ppc["bus"].copy())
        ppc["bus"][:, [PD, QD]] *= load_scale
        vm_ref = va_ref = None
    numbers = pc.build_in_engine(psspy, ppc)
    return numbers, vm_ref, va_ref


def voltages(psspy, numbers):
    return pc.engine_voltages(psspy, numbers)


def progress_lines(psspy, tmp_path, call):
    path = tmp_path / "progress.txt"
    assert psspy.progress_output(islct=2, filarg=str(path), options1=1) == 0
    call()
    psspy.progress_output(islct=6)
    return path.read_text().splitlines()


def test_solved_codes_follow_the_case_life_cycle(psspy, tmp_path):
    assert psspy.solved() == 4  # nothing solved since psseinit
    numbers, vm_ref, _ = build(psspy)
    assert psspy.solved() == 4
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    assert psspy.save(str(tmp_path / "c9")) == 0
    assert psspy.case(str(tmp_path / "c9.sav")) == 0
    assert psspy.solved() == 4  # a case read from a file has not been solved here
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    np.testing.assert_allclose(voltages(psspy, numbers)[0], vm_ref, atol=1e-4)
    assert psspy.close_powerflow() == 0
    assert psspy.solved() == 4


def test_progress_has_a_line_per_iteration_and_a_solved_case_costs_no_factorization(psspy, tmp_path):
    numbers, _, _ = build(psspy, "case30")
    assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0
    first = progress_lines(psspy, tmp_path, lambda: psspy.fnsl(options6=1))
    iterations = [line for line in first if "largest mismatch" in line and "after" not in line]
    closing = first[-1]
    assert "converged after" in closing
    steps = int(closing.split("after ")[1].split(" iterations")[0])
    assert len(iterations) == steps + 1  # the starting mismatch, then one line per step
    assert steps >= 3
    # The largest mismatch of the flat start names a real bus of the case.
    assert int(iterations[0].rsplit("bus ", 1)[1]) in numbers
    vm_before = voltages(psspy, numbers)
    again = progress_lines(psspy, tmp_path, lambda: psspy.fnsl())
    assert "converged after 0 iterations (0 factorizations)" in again[-1]
    np.testing.assert_array_equal(voltages(psspy, numbers), vm_before)
    assert psspy.solved() == 0


@pytest.mark.parametrize("call", [
    lambda p: p.fnsl(options6=1),
    lambda p: p.fnsl(options6=1, options8=1),
    lambda p: p.rsol(options6=1, options7=4),
])
def test_an_impossible_load_is_reported_and_leaves_finite_voltages(psspy, call):
    numbers, _, _ = build(psspy, "case9", load_scale=12.0)
    assert call(psspy) == 0
    assert psspy.solved() in (1, 2)
    vm, va = voltages(psspy, numbers)
    assert np.all(np.isfinite(vm)) and np.all(np.isfinite(va)) and np.all(vm > 0)


def test_a_failed_rsol_can_leave_the_case_unchanged(psspy):
    numbers, _, _ = build(psspy, "case9", load_scale=12.0)
    before = voltages(psspy, numbers)
    assert psspy.rsol(options6=1, options10=1) == 0
    assert psspy.solved() != 0
    np.testing.assert_array_equal(voltages(psspy, numbers), before)


def test_an_island_without_a_machine_is_reported_and_the_rest_is_solved(psspy):
    numbers, vm_ref, va_ref = build(psspy)
    for bus in (101, 102):
        assert psspy.bus_data_4(bus, 0, intgar1=1, realar1=230.0) == 0
    assert psspy.branch_data_3(101, 102, "1", realar1=0.01, realar2=0.1) == 0
    assert psspy.load_data_6(102, "1", realar1=5.0, realar2=1.0) == 0
    assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0
    assert psspy.fnsl(options6=1, options7=-1) == 0
    assert psspy.solved() == 3
    vm, va = voltages(psspy, numbers)
    np.testing.assert_allclose(vm, vm_ref, atol=1e-5)
    np.testing.assert_allclose(va, va_ref, atol=1e-3)
    # The island's buses keep the values they had.
    assert psspy.busdat(102, "PU") == (0, 1.0)


def test_an_island_whose_machine_takes_the_swing_role_is_solved(psspy):
    numbers, vm_ref, _ = build(psspy)
    assert psspy.bus_data_4(101, 0, intgar1=2, realar1=230.0) == 0
    assert psspy.bus_data_4(102, 0, intgar1=1, realar1=230.0) == 0
    assert psspy.plant_data_4(101, 0, realar1=1.02) == 0
    assert psspy.machine_data_4(101, "1", realar1=0.0) == 0
    assert psspy.branch_data_3(101, 102, "1", realar1=0.01, realar2=0.1) == 0
    assert psspy.load_data_6(102, "1", realar1=5.0, realar2=1.0) == 0
    assert psspy.fnsl(options6=1, options7=-1) == 0
    assert psspy.solved() == 0
    assert psspy.busdat(101, "PU")[1] == pytest.approx(1.02)
    assert psspy.busdat(102, "PU")[1] < 1.02
    np.testing.assert_allclose(voltages(psspy, numbers)[0], vm_ref, atol=1e-4)


def test_higher_rsol_settings_solve_what_lower_ones_do_not(psspy):
    """A heavily loaded case started from implausible voltages: full Newton and the first two
    robustness levels fail from there; the flat-start retries of level 2 and above solve it."""
    net = pc.standard_network("case30")
    net.load[["p_mw", "q_mvar"]] *= 3.0
    ppc, vm_ref, va_ref = pc.solve_reference(net)

    def start_badly():
        assert psspy.psseinit(buses=1000) == 0
        psspy.progress_output(islct=6)
        numbers = pc.build_in_engine(psspy, ppc)
        assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0
        for n in numbers:
            if psspy.busdat(n, "TYPE")[1] == 1:
                assert psspy.bus_chng_4(n, 0, realar2=0.4, realar3=-30.0 * (n % 3)) == 0
        return numbers

    outcomes = {}
    for label, call in [("fnsl", lambda: psspy.fnsl(options7=-1)),
                        ("fnsl halving", lambda: psspy.fnsl(options7=-1, options8=1))] + [
            (f"rsol {level}", lambda level=level: psspy.rsol(options7=level, options8=-1)) for level in range(5)]:
        numbers = start_badly()
        assert call() == 0
        outcomes[label] = psspy.solved()
        if outcomes[label] == 0:
            vm, va = voltages(psspy, numbers)
            np.testing.assert_allclose(vm, vm_ref, atol=1e-5)
            np.testing.assert_allclose(va, va_ref, atol=1e-3)
    assert outcomes == {"fnsl": outcomes["fnsl"], "fnsl halving": outcomes["fnsl halving"], "rsol 0": outcomes["rsol 0"],
                        "rsol 1": outcomes["rsol 1"], "rsol 2": 0, "rsol 3": 0, "rsol 4": 0}
    assert outcomes["fnsl"] != 0 and outcomes["rsol 0"] != 0 and outcomes["rsol 1"] != 0


def test_disconnecting_and_reconnecting_a_radial_bus(psspy):
    """A radial bus with a load, cut off by dscn and brought back by recn: each solution matches
    pandapower's solution of the same topology."""
    import pandapower as pp

    net = pc.standard_network("case9")
    radial = pp.create_bus(net, vn_kv=345.0)
    pp.create_line_from_parameters(net, 4, radial, length_km=1.0, r_ohm_per_km=5.0, x_ohm_per_km=40.0,
                                   c_nf_per_km=0.0, max_i_ka=10.0)
    pp.create_load(net, radial, p_mw=40.0, q_mvar=10.0)
    ppc_with, vm_with, va_with = pc.solve_reference(net)
    _, vm_without, va_without = pc.solve_reference(pc.standard_network("case9"))
    numbers = pc.build_in_engine(psspy, ppc_with)
    radial_number = numbers[-1]
    assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0

    assert psspy.fnsl(options6=1) == 0 and psspy.solved() == 0
    np.testing.assert_allclose(voltages(psspy, numbers)[0], vm_with, atol=1e-5)

    assert psspy.dscn(radial_number) == 0
    assert psspy.rsol(options1=1, options2=2, options6=1, options7=0, options8=99, options9=1, options10=1) == 0
    assert psspy.solved() == 0
    vm, va = voltages(psspy, numbers[:-1])
    np.testing.assert_allclose(vm, vm_without, atol=1e-5)
    np.testing.assert_allclose(va, va_without, atol=1e-3)

    assert psspy.recn(radial_number) == 0
    assert psspy.rsol(options1=1, options2=2, options6=1, options7=0, options8=99, options9=0, options10=0) == 0
    assert psspy.solved() == 0
    vm, va = voltages(psspy, numbers)
    np.testing.assert_allclose(vm, vm_with, atol=1e-5)
    np.testing.assert_allclose(va, va_with, atol=1e-3)


def test_the_ten_call_sequence_arrays_are_accepted_and_keep_the_case_solved(psspy):
    numbers, vm_ref, _ = build(psspy, "case14")
    fnsl_array = [2, 0, 0, 1, 1, 0, 99, 0]
    calls = [lambda: psspy.rsol(options1=1, options2=2, options6=1, options7=0, options8=99, options9=0, options10=0),
             lambda: psspy.rsol(RSOL_ARRAY, RSOL_REALS), lambda: psspy.fnsl(fnsl_array),
             lambda: psspy.fnsl(fnsl_array[:5] + [4] + fnsl_array[6:]),
             lambda: psspy.rsol(RSOL_ARRAY[:6] + [4] + RSOL_ARRAY[7:], RSOL_REALS)]
    for call in calls:
        assert call() == 0
        assert psspy.solved() == 0
        np.testing.assert_allclose(voltages(psspy, numbers)[0], vm_ref, atol=1e-3)


@pytest.mark.parametrize("call", [
    lambda p: p.fnsl(options6=5),
    lambda p: p.fnsl(options8=2),
    lambda p: p.rsol([1, 2, 0, 0, 1, 1, 5, 99, 0, 0], [500.0, 5.0]),
    lambda p: p.rsol(RSOL_ARRAY, [-1.0, 5.0]),
    lambda p: p.rsol(options7=-1),
])
def test_an_option_out_of_range_returns_a_code_and_changes_nothing(psspy, call):
    numbers, _, _ = build(psspy)
    before = voltages(psspy, numbers)
    assert call(psspy) != 0
    assert psspy.solved() == 4
    np.testing.assert_array_equal(voltages(psspy, numbers), before)


def test_solution_parameters_set_the_iteration_limit_and_tolerance(psspy):
    numbers, vm_ref, _ = build(psspy, "case118")
    assert psspy.solution_parameters_4(intgar1=1) == 0
    assert psspy.fnsl(options6=1, options7=-1) == 0
    assert psspy.solved() == 1
    assert psspy.solution_parameters_4(intgar1=20, realar1=1e-8) == 0
    assert psspy.fnsl(options6=1, options7=-1) == 0
    assert psspy.solved() == 0
    assert np.abs(voltages(psspy, numbers)[0] - vm_ref).max() < 1e-8
    assert psspy.solution_parameters_4(intgar1=0) != 0
    assert psspy.solution_parameters_4(realar1=-1.0) != 0
    with pytest.raises(TypeError, match="realar9"):
        psspy.solution_parameters_4(realar9=1.0)
    assert all(math.isfinite(v) for v in voltages(psspy, numbers)[1])
