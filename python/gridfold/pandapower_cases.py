"""Standard pandapower networks built in the embedded engine through the psspy data calls, to
compare its solutions with pandapower's (needs pandapower, which the test and bench extras
install).

The conversion starts from the bus-branch model pandapower itself solves (its internal
`_ppc` arrays, filled by `runpp`), so both tools solve exactly the same equations:

* bus numbers: pandapower's internal bus index + 1;
* loads: one load per bus, split into constant power, current and admittance parts by
  pandapower's voltage-dependence fractions; fixed shunts from the bus shunt columns;
* machines: one per generator row, with the plant's scheduled voltage from the first one;
* branches without ratio or shift become line branches; the others two-winding
  transformers (ratio on winding 1, shift, magnetising admittance at winding 1 holding
  half the branch charging divided by the squared ratio, the other half as a fixed shunt
  at winding 2, which reproduces the charging of pandapower's branch model).

Units, stated once here: `UNITS` says how each pandapower quantity is turned into what the
data calls take. pandapower's branch data are per unit on `baseMVA`; the engine's on its
system base, which is 100 MVA, so the networks used must have `baseMVA` == 100.
"""
from collections import defaultdict

import numpy as np
import pandapower as pp
import pandapower.networks as pn
from pandapower.pypower.idx_brch import (
    BR_B,
    BR_B_ASYM,
    BR_G,
    BR_G_ASYM,
    BR_R,
    BR_R_ASYM,
    BR_STATUS,
    BR_X,
    BR_X_ASYM,
    F_BUS,
    SHIFT,
    T_BUS,
    TAP,
)
from pandapower.pypower.idx_bus import BASE_KV, BS, BUS_TYPE, CID_P, CID_Q, CZD_P, CZD_Q, GS, PD, QD, VA, VM
from pandapower.pypower.idx_gen import GEN_BUS, GEN_STATUS, PG, PMAX, QG, QMAX, QMIN, VG
from pandapower.pypower.makeYbus import makeYbus

ENGINE_BASE_MVA = 100.0

# pandapower quantity -> engine data-call value. Powers (PD, QD, PG, QG, QMAX, QMIN, GS, BS)
# are MW/Mvar on both sides; impedances, charging and magnetising admittances per unit on
# the common 100 MVA base; angles in degrees on both sides; VM, VG per unit.
UNITS = {"power": 1.0, "per_unit": 1.0, "angle": 1.0}


def _real(array):
    return np.real(array).astype(float)


def solve_reference(net, **runpp_options):
    """Runs pandapower's Newton-Raphson and returns (ppc, vm_pu, va_deg) indexed by engine bus - 1."""
    options = dict(tolerance_mva=1e-9, enforce_q_lims=False, init="flat", calculate_voltage_angles=True)
    options.update(runpp_options)
    pp.runpp(net, **options)
    ppc = net._ppc
    if ppc["baseMVA"] != ENGINE_BASE_MVA:
        raise ValueError(f"network base {ppc['baseMVA']} MVA differs from the engine's {ENGINE_BASE_MVA} MVA")
    bus = ppc["bus"]
    return ppc, _real(bus[:, VM]), _real(bus[:, VA])


def standard_network(name):
    """A network of pandapower.networks by its function name (e.g. "case118")."""
    return getattr(pn, name)()


def build_in_engine(psspy, ppc):
    """Adds the buses, loads, shunts, plants, machines, branches and transformers of `ppc` to the
    engine's (empty) working case. Returns the engine bus numbers, in pandapower's bus order."""
    bus = ppc["bus"]
    power, pu, angle = UNITS["power"], UNITS["per_unit"], UNITS["angle"]
    numbers = [int(i) + 1 for i in range(bus.shape[0])]
    shunt_ids = defaultdict(int)

    def add_fixed_shunt(number, g_mw, b_mvar):
        shunt_ids[number] += 1
        assert psspy.shunt_data(number, str(shunt_ids[number]), [1], [g_mw, b_mvar]) == 0

    for row, number in zip(bus, numbers):
        # Buses start flat; only a swing bus keeps its angle, which is data (its island's reference).
        ide = int(_real(row[BUS_TYPE]))
        va = float(_real(row[VA])) * angle if ide == 3 else 0.0
        assert psspy.bus_data_4(number, 0, intgar1=ide, realar1=float(_real(row[BASE_KV])), realar2=1.0,
                                realar3=va) == 0
        pd, qd = float(_real(row[PD])) * power, float(_real(row[QD])) * power
        if pd or qd:
            cip, ciq, czp, czq = (float(_real(row[c])) for c in (CID_P, CID_Q, CZD_P, CZD_Q))
            assert psspy.load_data_6(number, "1", realar1=pd * (1 - cip - czp), realar2=qd * (1 - ciq - czq),
                                     realar3=pd * cip, realar4=qd * ciq, realar5=pd * czp,
                                     # YQ takes the case-file sign: negative draws reactive power
                                     realar6=-qd * czq) == 0
        gs, bs = float(_real(row[GS])) * power, float(_real(row[BS])) * power
        if gs or bs:
            add_fixed_shunt(number, gs, bs)

    machine_ids = defaultdict(int)
    for row in ppc["gen"]:
        number = int(_real(row[GEN_BUS])) + 1
        if machine_ids[number] == 0:
            assert psspy.plant_data_4(number, 0, realar1=float(_real(row[VG]))) == 0
        machine_ids[number] += 1
        assert psspy.machine_data_4(number, str(machine_ids[number]), intgar1=int(_real(row[GEN_STATUS])),
                                    realar1=float(_real(row[PG])) * power, realar2=float(_real(row[QG])) * power,
                                    realar3=float(_real(row[QMAX])) * power, realar4=float(_real(row[QMIN])) * power,
                                    realar5=float(_real(row[PMAX])) * power) == 0

    circuits = defaultdict(int)
    for row in ppc["branch"]:
        if np.any(_real(row[[BR_R_ASYM, BR_X_ASYM, BR_G_ASYM, BR_B_ASYM]])):
            raise ValueError("asymmetric branches are not converted")
        f, t = int(_real(row[F_BUS])) + 1, int(_real(row[T_BUS])) + 1
        key = (min(f, t), max(f, t))
        circuits[key] += 1
        ckt = str(circuits[key])
        status = int(_real(row[BR_STATUS]))
        r, x, b, g = (float(_real(row[c])) * pu for c in (BR_R, BR_X, BR_B, BR_G))
        ratio = float(_real(row[TAP])) or 1.0
        shift = float(_real(row[SHIFT])) * angle
        if ratio == 1.0 and shift == 0.0:
            assert psspy.branch_data_3(f, t, ckt, intgar1=status, realar1=r, realar2=x, realar3=b,
                                       realar4=g / 2, realar6=g / 2) == 0
        else:
            ierr, _ = psspy.two_winding_data_6(f, t, ckt, intgar1=status, intgar14=1, intgar15=1, intgar16=1,
                                               realari1=r, realari2=x, realari3=ENGINE_BASE_MVA, realari4=ratio,
                                               realari6=shift, realari7=1.0, realari13=g / 2 / ratio**2,
                                               realari14=b / 2 / ratio**2)
            assert ierr == 0
            if status and (g or b):
                add_fixed_shunt(t, g / 2 * ENGINE_BASE_MVA, b / 2 * ENGINE_BASE_MVA)
    return numbers


def engine_voltages(psspy, numbers):
    """(vm_pu, va_deg) arrays read back through busdat."""
    vm, va = [], []
    for number in numbers:
        ierr, m = psspy.busdat(number, "PU")
        assert ierr == 0
        ierr, a = psspy.busdat(number, "ANGLED")
        assert ierr == 0
        vm.append(m)
        va.append(a)
    return np.array(vm), np.array(va)


def mismatch_mva(ppc, vm, va):
    """Largest active mismatch at non-swing buses and reactive mismatch at load buses, in MW/Mvar,
    of voltages (vm, va) on pandapower's own admittance matrix and injections (independent of
    the engine's model). Voltage-dependent loads are evaluated at vm."""
    bus, gen, branch = ppc["bus"], ppc["gen"], ppc["branch"]
    base = ppc["baseMVA"]
    ybus, _, _ = makeYbus(base, bus, branch)
    v = vm * np.exp(1j * np.deg2rad(va))
    s_calc = v * np.conj(ybus @ v) * base
    pd, qd = _real(bus[:, PD]), _real(bus[:, QD])
    cip, ciq, czp, czq = (_real(bus[:, c]) for c in (CID_P, CID_Q, CZD_P, CZD_Q))
    p_load = pd * (1 - cip - czp + cip * vm + czp * vm**2)
    q_load = qd * (1 - ciq - czq + ciq * vm + czq * vm**2)
    p_gen = np.zeros(len(vm))
    on = _real(gen[:, GEN_STATUS]) > 0
    np.add.at(p_gen, _real(gen[on, GEN_BUS]).astype(int), _real(gen[on, PG]))
    types = _real(bus[:, BUS_TYPE]).astype(int)
    dp = s_calc.real - (p_gen - p_load)
    dq = s_calc.imag + q_load
    return max(np.abs(dp[types != 3]).max(initial=0.0), np.abs(dq[types == 1]).max(initial=0.0))
