"""Make the demo's main cases: the IEEE 118-bus network at peak and at light load.

Run once from the repository root (needs pandapower and an installed gridfold):

    python examples/make_main_cases.py

The network comes from pandapower's case118 (the standard IEEE 118-bus test case). It is
solved by pandapower for good starting voltages, entered into the embedded engine through
its data calls, solved there with a full Newton-Raphson solution, and saved as
examples/ieee118_peak.sav. The light-load case scales every load and every generator's
dispatch to 60 % and is saved as examples/ieee118_light.sav. Both files are case files in
the embedded engine's text layout and are committed with the repository.
"""
import os
import sys
import warnings

import gridfold

LIGHT_LOAD_FACTOR = 0.6
HERE = os.path.dirname(os.path.abspath(__file__))


def _psspy():
    return gridfold.embedded_engine()[0]


def _check(what, result):
    ierr = result[0] if isinstance(result, (tuple, list)) else result
    if ierr != 0:
        raise SystemExit(f"make_main_cases: {what} returned error code {ierr}")


def _network():
    import pandapower as pp
    import pandapower.networks as pn

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        net = pn.case118()
        pp.runpp(net, numba=False)
    return net


def enter_case(psspy, net, factor):
    """Enter pandapower's case118 into the engine with loads and dispatch scaled by `factor`."""
    _check("psseinit", psspy.psseinit(buses=1000))
    psspy.progress_output(islct=6)
    number = {index: int(name) for index, name in net.bus["name"].items()}
    slack = set(net.ext_grid.bus)
    pv = set(net.gen.bus)
    for index, bus in net.bus.iterrows():
        ide = 3 if index in slack else 2 if index in pv else 1
        _check(f"bus {number[index]}", psspy.bus_data_4(
            ibus=number[index], inode=0, intgar1=ide, intgar2=1, intgar3=int(bus.zone), intgar4=1,
            realar1=float(bus.vn_kv), realar2=float(net.res_bus.vm_pu[index]),
            realar3=float(net.res_bus.va_degree[index]), realar4=float(bus.max_vm_pu), realar5=float(bus.min_vm_pu),
            realar6=float(bus.max_vm_pu), realar7=float(bus.min_vm_pu), name=f"BUS {number[index]}"))
    for _, load in net.load.iterrows():
        _check(f"load {number[load.bus]}", psspy.load_data_6(
            ibus=number[load.bus], id="1", intgar1=1, realar1=float(load.p_mw) * factor,
            realar2=float(load.q_mvar) * factor))
    for _, shunt in net.shunt.iterrows():
        # pandapower gives the power a shunt draws; the engine takes the reactive power
        # a shunt injects (capacitive positive).
        _check(f"shunt {number[shunt.bus]}", psspy.shunt_data(
            ibus=number[shunt.bus], id="1", intgar1=1, realar1=float(shunt.p_mw) * shunt.step,
            realar2=-float(shunt.q_mvar) * shunt.step))
    machines = [(row.bus, float(net.res_ext_grid.p_mw[i]) * factor, row.vm_pu, row.max_q_mvar, row.min_q_mvar,
                 row.max_p_mw, row.min_p_mw) for i, row in net.ext_grid.iterrows()]
    machines += [(row.bus, float(row.p_mw) * factor, row.vm_pu, row.max_q_mvar, row.min_q_mvar, row.max_p_mw,
                  row.min_p_mw) for _, row in net.gen.iterrows()]
    for bus, pg, vs, qt, qb, pt, pb in machines:
        _check(f"plant {number[bus]}", psspy.plant_data_4(ibus=number[bus], inode=0, intgar1=0, realar1=float(vs),
                                                          realar2=100.0))
        _check(f"machine {number[bus]}", psspy.machine_data_4(
            ibus=number[bus], id="1", intgar1=1, realar1=pg, realar2=0.0, realar3=float(qt), realar4=float(qb),
            realar5=float(pt), realar6=float(pb), realar7=100.0))
    _enter_branches(psspy, net, number)


def _enter_branches(psspy, net, number):
    """Branches from pandapower's internal branch table (per unit on 100 MVA, exact ratios)."""
    circuits = {}
    for row in net._ppc["branch"].real:
        i, j = number[int(row[0])], number[int(row[1])]
        r, x, b, ratio, shift = (float(v) for v in (row[2], row[3], row[4], row[8], row[9]))
        pair = (min(i, j), max(i, j))
        circuits[pair] = circuits.get(pair, 0) + 1
        ckt = str(circuits[pair])
        if ratio in (0.0, 1.0) and shift == 0.0:
            # A line; pandapower keeps lines between buses of different base voltage as
            # transformers with a negative charging term, which is the line's charging.
            _check(f"line {i}-{j}", psspy.branch_data_3(ibus=i, jbus=j, ckt=ckt, intgar1=1, realar1=r, realar2=x,
                                                        realar3=abs(b)))
        else:
            _check(f"transformer {i}-{j}", psspy.two_winding_data_6(
                ibus=i, jbus=j, ckt=ckt, intgar1=1, intgar14=1, intgar15=1, intgar16=1, realari1=r, realari2=x,
                realari3=100.0, realari4=ratio, realari6=shift, realari7=1.0))


def solve_and_save(psspy, path):
    psspy.fnsl([0, 0, 0, 1, 1, 0, 0, 0])
    if psspy.solved() != 0:
        raise SystemExit(f"make_main_cases: {path} does not solve (solved() = {psspy.solved()})")
    _check(f"save {path}", psspy.save(path))
    print("wrote", path)


def main():
    psspy = _psspy()
    net = _network()
    for name, factor in (("ieee118_peak.sav", 1.0), ("ieee118_light.sav", LIGHT_LOAD_FACTOR)):
        enter_case(psspy, net, factor)
        solve_and_save(psspy, os.path.join(HERE, name))
    total = net.load.p_mw.sum()
    print(f"peak load {total:.0f} MW, light load {total * LIGHT_LOAD_FACTOR:.0f} MW")
    return 0


if __name__ == "__main__":
    sys.exit(main())
