"""Bus voltages of the embedded engine compared with pypowsybl's (OpenLoadFlow) on the same
files, reactive limits on, both solved to a tight tolerance. Angles are compared relative to
the swing bus. pypowsybl reads andes's RAW files itself; MATPOWER cases reach it as the RAW
version 33 file the engine writes."""
import warnings

import numpy as np
import pytest

from helpers.solutions import andes_case, matpower_case

VM_TOL_PU = 1e-5
VA_TOL_DEG = 1e-3
TIGHT_MVA = 1e-5


def pypowsybl_voltages(path):
    """{bus number: (vm pu, va degrees)} of OpenLoadFlow's solution of the RAW file at path."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        pn = pytest.importorskip("pypowsybl.network", reason="pypowsybl (test extra) is the second reference")
        import pypowsybl.loadflow as lf
    network = pn.load(str(path))
    parameters = lf.Parameters(
        voltage_init_mode=lf.VoltageInitMode.DC_VALUES, use_reactive_limits=True, distributed_slack=False,
        transformer_voltage_control_on=False, shunt_compensator_voltage_control_on=False,
        phase_shifter_regulation_on=False,
        provider_parameters={"newtonRaphsonStoppingCriteriaType": "PER_EQUATION_TYPE_CRITERIA",
                             "maxActivePowerMismatch": "1e-7", "maxReactivePowerMismatch": "1e-7",
                             "maxVoltageMismatch": "1e-9"})
    result = lf.run_ac(network, parameters)[0]
    assert result.status.name == "CONVERGED", result
    nominal = network.get_voltage_levels()["nominal_v"]
    buses = network.get_bus_breaker_view_buses()
    return {int(bus_id[1:]): (row.v_mag / nominal[row.voltage_level_id], row.v_angle)
            for bus_id, row in buses.iterrows()}


def compare(psspy, reference):
    numbers = sorted(reference)
    swing = [n for n in numbers if psspy.busdat(n, "TYPE")[1] == 3]
    assert swing, "no swing bus"
    vm = np.array([psspy.busdat(n, "PU")[1] for n in numbers])
    va = np.array([psspy.busdat(n, "ANGLED")[1] for n in numbers])
    ref_vm = np.array([reference[n][0] for n in numbers])
    ref_va = np.array([reference[n][1] for n in numbers])
    k = numbers.index(swing[0])
    np.testing.assert_allclose(vm, ref_vm, rtol=0, atol=VM_TOL_PU)
    np.testing.assert_allclose(va - va[k], ref_va - ref_va[k], rtol=0, atol=VA_TOL_DEG)


@pytest.mark.parametrize("name", ["ieee14.raw", "wecc.raw", "wscc9_3wxfr.raw", "kundur.raw", "npcc.raw", "N44_BC.raw"])
def test_andes_raw_file_matches_pypowsybl(psspy, name):
    path = andes_case(name)
    reference = pypowsybl_voltages(path)
    assert psspy.read(0, path) == 0
    assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0
    assert psspy.fnsl(options6=4, options7=99) == 0
    assert psspy.solved() == 0
    compare(psspy, reference)


@pytest.mark.parametrize("name", ["case1354pegase", "case_ACTIVSg2000"])
def test_matpower_case_matches_pypowsybl(psspy, tmp_path, name):
    assert psspy.read(0, matpower_case(name)) == 0
    raw = tmp_path / (name + ".raw")
    assert psspy.writerawversion("33", 0, str(raw)) == 0
    reference = pypowsybl_voltages(raw)
    assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0
    assert psspy.fnsl(options6=2, options7=99) == 0
    assert psspy.solved() == 0
    compare(psspy, reference)
