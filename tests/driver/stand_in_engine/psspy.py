"""Recording stand-in psspy over a toy working case (see toy_case).

Every call is appended to the file named by GRIDFOLD_STAND_IN_LOG as one JSON line
[name, keyword arguments] (positional arguments under "args"). solved() reports 1 while
the buses of the latest disconnection include one named "nobase..." (the base case of that
small case will not solve) or while a bus named "nonet..." is in service (its connection
will not solve); otherwise 0.
"""
import json
import os

import toy_case

_case = toy_case.empty_case()
_walks = {}
_latest_disconnection = set()
_previous_call = [None, None]  # names of the call before the current one, and the current one


def _record(name, args, kwargs):
    _previous_call[:] = [_previous_call[1], name]
    entry = dict(kwargs)
    if args:
        entry["args"] = list(args)
    with open(os.environ["GRIDFOLD_STAND_IN_LOG"], "a") as log:
        log.write(json.dumps([name, entry], default=str) + "\n")


def _recorded(function):
    def call(*args, **kwargs):
        _record(function.__name__, args, kwargs)
        return function(*args, **kwargs)
    call.__name__ = function.__name__
    return call


def _bus(number):
    return next((b for b in _case["buses"] if b["NUM"] == number), None)


@_recorded
def psseinit(buses):
    global _case
    _case = toy_case.empty_case()
    return 0


@_recorded
def progress_output(islct, filarg="", options=None):
    if islct == 2:
        with open(filarg, "a"):
            pass
    return 0


@_recorded
def lines_per_page_one_device(device, lines):
    return 0


@_recorded
def case(sfile):
    global _case
    if not os.path.exists(sfile):
        return 3
    _case = toy_case.read_case(sfile)
    return 0


@_recorded
def save(sfile):
    if not os.path.splitext(sfile)[1]:
        sfile += ".sav"
    toy_case.write_case(sfile, _case)
    return 0


@_recorded
def close_powerflow():
    return 0


@_recorded
def deltmpfiles():
    return 0


@_recorded
def bus_data_4(ibus, inode=0, intgar1=1, intgar2=1, intgar3=1, intgar4=1, realar1=0.0, realar2=1.0, realar3=0.0,
               realar4=1.1, realar5=0.9, realar6=1.1, realar7=0.9, name=""):
    if _bus(ibus) is not None:
        return 1
    _case["buses"].append(toy_case.bus(ibus, name, realar1))
    return 0


def _add_branch(ibus, jbus, ckt):
    if _bus(ibus) is None or _bus(jbus) is None:
        return 1
    _case["branches"].append(toy_case.branch(ibus, jbus, ckt))
    return 0


def branch_data_3(ibus, jbus, ckt="1", **kwargs):
    _record("branch_data_3", (), dict(ibus=ibus, jbus=jbus, ckt=ckt, **kwargs))
    return _add_branch(ibus, jbus, ckt)


def branch_data_4(ibus, jbus, ckt="1", **kwargs):
    _record("branch_data_4", (), dict(ibus=ibus, jbus=jbus, ckt=ckt, **kwargs))
    return _add_branch(ibus, jbus, ckt)


def _add_machine(name, ibus, id="1", **kwargs):
    _record(name, (), dict(ibus=ibus, id=id, **kwargs))
    if _bus(ibus) is None:
        return 1
    _case["machines"].append(toy_case.machine(ibus, id))
    return 0


def machine_data_2(ibus, id="1", **kwargs):
    return _add_machine("machine_data_2", ibus, id, **kwargs)


def machine_data_3(ibus, id="1", **kwargs):
    return _add_machine("machine_data_3", ibus, id, **kwargs)


def machine_data_4(ibus, id="1", **kwargs):
    return _add_machine("machine_data_4", ibus, id, **kwargs)


@_recorded
def inibrn_2(ibus, inode=0, single=1):
    _walks[ibus] = [(b["TOBUS"] if b["FRMBUS"] == ibus else b["FRMBUS"], b["CKT"])
                    for b in _case["branches"] if ibus in (b["FRMBUS"], b["TOBUS"])]
    return 0, 0


@_recorded
def nxtbrn_2(ibus, inode=0):
    walk = _walks.get(ibus, [])
    if not walk:
        return 1, 0, 0, ""
    jbus, ckt = walk.pop(0)
    return 0, jbus, 0, ckt


@_recorded
def nxtbrn3_2(ibus, inode=0):
    return 1, 0, 0, 0, 0, ""


@_recorded
def dscn(ibus):
    if _previous_call[0] != "dscn":  # a new disconnection starts
        _latest_disconnection.clear()
    bus = _bus(ibus)
    if bus is None:
        return 1
    bus["IN_SERVICE"] = False
    _latest_disconnection.add(bus["NAME"])
    return 0


@_recorded
def recn(ibus):
    _latest_disconnection.clear()
    bus = _bus(ibus)
    if bus is None:
        return 1
    bus["IN_SERVICE"] = True
    return 0


@_recorded
def inimac(ibus):
    _walks[("mac", ibus)] = [m["ID"] for m in _case["machines"] if m["NUM"] == ibus]
    return 0


@_recorded
def nxtmac(ibus):
    walk = _walks.get(("mac", ibus), [])
    return (0, walk.pop(0)) if walk else (1, None)


@_recorded
def busdat(ibus, string):
    return (0, 1.0) if string == "PU" else (0, 0.0)


@_recorded
def rsol(*args, **kwargs):
    return 0


@_recorded
def fnsl(*args, **kwargs):
    return 0


@_recorded
def solved():
    if any(name.startswith("nobase") for name in _latest_disconnection):
        return 1
    if any(b["IN_SERVICE"] and b["NAME"].startswith("nonet") for b in _case["buses"]):
        return 1
    return 0


def __getattr__(name):
    """Every other engine call (plant data, machine changes, ...) is recorded and succeeds."""
    if name.startswith("__"):
        raise AttributeError(name)

    def call(*args, **kwargs):
        _record(name, args, kwargs)
        return 0
    call.__name__ = name
    return call


def machine_data_5(ibus, id="1", **kwargs):
    return _add_machine("machine_data_5", ibus, id, **kwargs)
