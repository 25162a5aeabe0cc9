"""AC solutions of standard pandapower networks compared bus by bus with pandapower's runpp.

Each network is built in the embedded engine through the data calls (gridfold.pandapower_cases),
solved from a flat start at a tight tolerance, and compared with
pandapower's solution of the same data. The power mismatch of the engine's voltages is
also checked directly on pandapower's admittance matrix, since two tools can share a mistake.
"""
import numpy as np
import pytest

from gridfold import pandapower_cases as pc

TIGHT_MVA = 1e-6
VM_TOL_PU = 1e-5
VA_TOL_DEG = 1e-3


def solve_in_engine(psspy, ppc, **fnsl_options):
    numbers = pc.build_in_engine(psspy, ppc)
    assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0
    assert psspy.fnsl(**fnsl_options) == 0
    return numbers


@pytest.mark.parametrize("name", ["case9", "case14", "case30", "case57", "case118", "case300"])
def test_standard_case_matches_pandapower_and_meets_the_mismatch(psspy, name):
    ppc, vm_ref, va_ref = pc.solve_reference(pc.standard_network(name))
    numbers = solve_in_engine(psspy, ppc, options6=1, options7=-1)
    assert psspy.solved() == 0
    vm, va = pc.engine_voltages(psspy, numbers)
    np.testing.assert_allclose(vm, vm_ref, rtol=0, atol=VM_TOL_PU)
    np.testing.assert_allclose(va, va_ref, rtol=0, atol=VA_TOL_DEG)
    assert pc.mismatch_mva(ppc, vm, va) < 10 * TIGHT_MVA


@pytest.mark.parametrize("name", ["case_ieee30", "case118"])
def test_reactive_limits_switch_generators_as_pandapower_does(psspy, name):
    """Limits that bind change the solution; the engine's switching must land where pandapower's does."""
    _, vm_free, _ = pc.solve_reference(pc.standard_network(name))
    ppc, vm_ref, va_ref = pc.solve_reference(pc.standard_network(name), enforce_q_lims=True)
    assert np.abs(vm_free - vm_ref).max() > 1e-3, "no limit binds: the case would not test switching"
    for var_limits in (0, 99):  # from the first iteration, and once the mismatch is small
        assert psspy.psseinit(buses=1000) == 0
        psspy.progress_output(islct=6)
        numbers = solve_in_engine(psspy, ppc, options6=1, options7=var_limits)
        assert psspy.solved() == 0
        vm, va = pc.engine_voltages(psspy, numbers)
        np.testing.assert_allclose(vm, vm_ref, rtol=0, atol=VM_TOL_PU)
        np.testing.assert_allclose(va, va_ref, rtol=0, atol=VA_TOL_DEG)


def test_voltage_dependent_loads_match_pandapower(psspy):
    """Constant-current and constant-admittance parts of loads, under a heavy load so that they matter."""
    net = pc.standard_network("case14")
    net.load[["p_mw", "q_mvar"]] *= 2.0
    net.load["const_i_p_percent"] = 30.0
    net.load["const_z_p_percent"] = 20.0
    net.load["const_i_q_percent"] = 10.0
    net.load["const_z_q_percent"] = 40.0
    ppc, vm_ref, va_ref = pc.solve_reference(net)
    numbers = solve_in_engine(psspy, ppc, options6=1, options7=-1)
    assert psspy.solved() == 0
    vm, va = pc.engine_voltages(psspy, numbers)
    np.testing.assert_allclose(vm, vm_ref, rtol=0, atol=VM_TOL_PU)
    np.testing.assert_allclose(va, va_ref, rtol=0, atol=VA_TOL_DEG)
    assert pc.mismatch_mva(ppc, vm, va) < 10 * TIGHT_MVA


@pytest.mark.parametrize("name", ["case24_ieee_rts", "case1354pegase"])
def test_every_voltage_control_ends_consistent_with_its_limits(psspy, tmp_path, caspy, name):
    """After switching, each plant holds its scheduled voltage within its reactive limits, or sits at a
    limit with the voltage on the side that keeps it there. (On these cases pandapower leaves some
    generators at a limit although the voltage would let them regulate again, so its answer differs.)"""
    ppc, _, _ = pc.solve_reference(pc.standard_network(name))
    numbers = solve_in_engine(psspy, ppc, options6=1, options7=99)
    assert psspy.solved() == 0
    vm, va = pc.engine_voltages(psspy, numbers)
    assert pc.mismatch_mva(ppc, vm, va) < 10 * pc.UNITS["power"] * TIGHT_MVA
    assert psspy.save(str(tmp_path / "solved")) == 0
    gen = caspy.Savecase(str(tmp_path / "solved.sav")).pssgen
    per_bus = {}
    for bus, vs, qg, qt, qb, stat in zip(gen["NUM"], gen["VS"], gen["QG"], gen["QT"], gen["QB"], gen["STAT"]):
        if stat and psspy.busdat(bus, "TYPE")[1] == 2:
            q = per_bus.setdefault(bus, [vs, 0.0, 0.0, 0.0])
            q[1] += qg * 100
            q[2] += qt * 100
            q[3] += qb * 100
    limited = 0
    for bus, (vs, q, qt, qb) in per_bus.items():
        v = vm[numbers.index(bus)]
        if abs(v - vs) < 1e-6:
            assert qb - 1e-3 <= q <= qt + 1e-3, bus
        elif abs(q - qt) < 1e-3:
            assert v < vs, bus
            limited += 1
        else:
            assert abs(q - qb) < 1e-3 and v > vs, bus
            limited += 1
    assert limited > 0
