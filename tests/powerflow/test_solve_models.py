"""Element models in the solution: transformer codes, three-winding transformers, switched-shunt
adjustment and remote voltage regulation. Each check compares two descriptions of the same
physical network, or a solved quantity with the target the control sets."""
import numpy as np
import pytest
from pandapower.pypower.idx_brch import F_BUS, SHIFT, T_BUS, TAP
from pandapower.pypower.idx_bus import BASE_KV

from gridfold import pandapower_cases as pc

TIGHT_MVA = 1e-7


def solve(psspy, numbers, **options):
    assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0
    assert psspy.fnsl(**{"options6": 1, "options7": -1, **options}) == 0
    assert psspy.solved() == 0
    return pc.engine_voltages(psspy, numbers)


def transformers_of(ppc):
    """(from, to, ckt, ratio, shift, from kV, to kV) of each branch the helper entered as a transformer."""
    result, circuits = [], {}
    for row in ppc["branch"]:
        f, t = int(row[F_BUS].real) + 1, int(row[T_BUS].real) + 1
        key = (min(f, t), max(f, t))
        circuits[key] = circuits.get(key, 0) + 1
        ratio, shift = row[TAP].real or 1.0, row[SHIFT].real
        if ratio != 1.0 or shift != 0.0:
            result.append((f, t, str(circuits[key]), ratio, shift, ppc["bus"][f - 1, BASE_KV].real,
                           ppc["bus"][t - 1, BASE_KV].real))
    return result


MAGNETISING = (0.001, -0.004)  # G, B per unit on the system base
WINDING_MVA = 250.0


def code_variant(code, ratio, kv_f, kv_t, r, x):
    """two_winding_data_6 keywords describing the same transformer under another code."""
    s = WINDING_MVA / 100.0
    g, b = MAGNETISING
    return {
        "CW 2 (kV)": dict(intgar14=2, realari4=ratio * kv_f, realari7=kv_t),
        "CW 3 (pu of nominal)": dict(intgar14=3, realari5=2 * kv_f, realari4=ratio / 2, realari8=kv_t / 2,
                                     realari7=2.0),
        "CZ 2 (winding base)": dict(intgar15=2, realari3=WINDING_MVA, realari1=r * s, realari2=x * s),
        "CZ 3 (load loss, |Z|)": dict(intgar15=3, realari3=WINDING_MVA, realari1=r * s * WINDING_MVA * 1e6,
                                      realari2=abs(complex(r, x)) * s),
        "CM 2 (no-load loss, exciting current)": dict(intgar16=2, realari3=WINDING_MVA, realari13=g * 100 * 1e6,
                                                       realari14=abs(complex(g, b)) * 100 / WINDING_MVA),
    }[code]


@pytest.mark.parametrize("code", ["CW 2 (kV)", "CW 3 (pu of nominal)", "CZ 2 (winding base)",
                                  "CZ 3 (load loss, |Z|)", "CM 2 (no-load loss, exciting current)"])
def test_every_transformer_code_describes_the_same_transformer(psspy, code):
    ppc, _, _ = pc.solve_reference(pc.standard_network("case118"))
    numbers = pc.build_in_engine(psspy, ppc)
    transformers = transformers_of(ppc)
    assert len(transformers) >= 5
    impedance = {}
    for f, t, ckt, *_ in transformers:
        ierr, _ = psspy.two_winding_data_6(f, t, ckt, realari13=MAGNETISING[0], realari14=MAGNETISING[1])
        assert ierr == 0
    for row in ppc["branch"]:
        impedance[(int(row[F_BUS].real) + 1, int(row[T_BUS].real) + 1)] = (row[2].real, row[3].real)
    vm_base, va_base = solve(psspy, numbers)
    for f, t, ckt, ratio, _, kv_f, kv_t in transformers:
        r, x = impedance[(f, t)]
        ierr, _ = psspy.two_winding_data_6(f, t, ckt, **code_variant(code, ratio, kv_f, kv_t, r, x))
        assert ierr == 0
    vm, va = solve(psspy, numbers)
    np.testing.assert_allclose(vm, vm_base, atol=1e-8)
    np.testing.assert_allclose(va, va_base, atol=1e-6)


def three_bus_system(psspy):
    """Swing bus 1 (230 kV), load buses 2 (115 kV) and 3 (13.8 kV)."""
    for bus, ide, kv in ((1, 3, 230.0), (2, 1, 115.0), (3, 1, 13.8)):
        assert psspy.bus_data_4(bus, 0, intgar1=ide, realar1=kv) == 0
    assert psspy.plant_data_4(1, 0, realar1=1.02) == 0
    assert psspy.machine_data_4(1, "1", realar1=80.0) == 0
    assert psspy.load_data_6(2, "1", realar1=60.0, realar2=20.0) == 0
    assert psspy.load_data_6(3, "1", realar1=15.0, realar2=5.0) == 0


PAIRS = {"12": complex(0.002, 0.08), "23": complex(0.003, 0.06), "31": complex(0.0025, 0.1)}
WINDINGS = [(1.025, 0.0), (1.0, 0.0), (0.98, -30.0)]  # ratio, shift per winding


@pytest.mark.parametrize("status", [1, 3])
def test_three_winding_transformer_equals_its_star_of_two_winding_transformers(psspy, status):
    three_bus_system(psspy)
    z12, z23, z31 = PAIRS["12"], PAIRS["23"], PAIRS["31"]
    ierr, _ = psspy.three_wnd_imped_data_4(1, 2, 3, "1", intgar8=status, realari1=z12.real, realari2=z12.imag,
                                           realari3=z23.real, realari4=z23.imag, realari5=z31.real,
                                           realari6=z31.imag)
    assert ierr == 0
    for w, (ratio, shift) in enumerate(WINDINGS, start=1):
        ierr, _ = psspy.three_wnd_winding_data_5(1, 2, 3, "1", w, realari1=ratio, realari3=shift)
        assert ierr == 0
    assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0
    assert psspy.fnsl(options6=1) == 0
    three = pc.engine_voltages(psspy, [1, 2] if status == 3 else [1, 2, 3])
    assert psspy.solved() == (3 if status == 3 else 0)  # winding 3 out: bus 3 is an island without a machine

    assert psspy.psseinit(buses=100) == 0
    psspy.progress_output(islct=6)
    three_bus_system(psspy)
    assert psspy.bus_data_4(4, 0, intgar1=1, realar1=230.0) == 0
    star = [(z12 + z31 - z23) / 2, (z12 + z23 - z31) / 2, (z23 + z31 - z12) / 2]
    for w, ((ratio, shift), z) in enumerate(zip(WINDINGS, star), start=1):
        in_service = 0 if (status == 3 and w == 3) else 1
        ierr, _ = psspy.two_winding_data_6(w, 4, "1", intgar1=in_service, realari1=z.real, realari2=z.imag,
                                           realari4=ratio, realari6=shift, realari7=1.0)
        assert ierr == 0
    assert psspy.solution_parameters_4(realar1=TIGHT_MVA) == 0
    assert psspy.fnsl(options6=1) == 0
    explicit = pc.engine_voltages(psspy, [1, 2] if status == 3 else [1, 2, 3])
    np.testing.assert_allclose(three[0], explicit[0], atol=1e-9)
    np.testing.assert_allclose(three[1], explicit[1], atol=1e-7)
    # Winding 3's phase shift shows in bus 3's angle.
    if status == 1:
        assert three[1][2] < -25.0


def test_switched_shunt_steps_only_when_asked_and_stops_in_its_band(psspy, tmp_path, caspy):
    ppc, _, _ = pc.solve_reference(pc.standard_network("case9"))
    numbers = pc.build_in_engine(psspy, ppc)
    vm, _ = solve(psspy, numbers)
    bus = numbers[int(np.argmin(vm))]
    low, high, step = vm.min() + 0.03, vm.min() + 0.045, 8.0
    assert psspy.switched_shunt_data_5(bus, "1", intgar1=6, intgar9=1, realar1=step, realar9=high,
                                       realar10=low, realar11=0.0) == 0

    def binit():
        assert psspy.save(str(tmp_path / "case")) == 0
        return caspy.Savecase(str(tmp_path / "case.sav")).psswsh["BINIT"][0]

    solve(psspy, numbers, options5=0)
    assert binit() == 0.0 and psspy.busdat(bus, "PU")[1] < low
    solve(psspy, numbers, options5=1)
    stepped = binit()
    assert 0.0 < stepped <= 6 * step and stepped / step == pytest.approx(round(stepped / step))
    assert low <= psspy.busdat(bus, "PU")[1] <= high
    # One step fewer would leave the voltage below the band.
    assert psspy.switched_shunt_data_5(bus, "1", realar11=stepped - step) == 0
    solve(psspy, numbers, options5=0)
    assert psspy.busdat(bus, "PU")[1] < low


# Limits ignored leave the regulated magnitude out of the unknowns; limits applied keep it and
# replace the plant bus's reactive balance: the Jacobian pairs rows with buses differently.
@pytest.mark.parametrize("limits", [-1, 0], ids=["limits-ignored", "limits-applied"])
def test_a_plant_holds_the_voltage_of_the_remote_bus_it_regulates(psspy, limits):
    ppc, _, _ = pc.solve_reference(pc.standard_network("case9"))
    numbers = pc.build_in_engine(psspy, ppc)
    gen_bus = 2
    neighbour = next(int(row[T_BUS].real) + 1 for row in ppc["branch"] if int(row[F_BUS].real) + 1 == gen_bus) \
        if any(int(row[F_BUS].real) + 1 == gen_bus for row in ppc["branch"]) \
        else next(int(row[F_BUS].real) + 1 for row in ppc["branch"] if int(row[T_BUS].real) + 1 == gen_bus)
    assert psspy.plant_data_4(gen_bus, 0, intgar1=neighbour, realar1=1.03) == 0
    solve(psspy, numbers, options7=limits)
    assert psspy.busdat(neighbour, "PU")[1] == pytest.approx(1.03, abs=1e-9)
    assert abs(psspy.busdat(gen_bus, "PU")[1] - 1.03) > 1e-3
