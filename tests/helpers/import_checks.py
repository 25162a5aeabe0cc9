"""Checks shared by the import and export tests of the embedded engine."""
import os

STAR_POINT_FIRST = 1000000


def solve_tight(psspy):
    """Full Newton solution from a flat start, reactive limits ignored, to 1e-6 MVA; returns solved()."""
    assert psspy.solution_parameters_4(intgar1=50, realar1=1e-6) == 0
    assert psspy.fnsl([0, 0, 0, 0, 0, 1, -1, 0]) == 0
    return psspy.solved()


def bus_voltages(psspy, buses):
    """{bus: (magnitude pu, angle deg)} from the working case."""
    voltages = {}
    for bus in buses:
        ierr, vm = psspy.busdat(bus, "PU")
        assert ierr == 0, bus
        ierr, va = psspy.busdat(bus, "ANGLED")
        assert ierr == 0, bus
        voltages[bus] = (vm, va)
    return voltages


def _length(table):
    for key, column in table.items():
        if key != "IERR":
            return len(column)
    return 0


def element_counts(psspy, caspy, folder):
    """Counts of the working case's elements, taken from a saved copy read through caspy."""
    path = os.path.join(os.fspath(folder), "counted.sav")
    assert psspy.save(path) == 0
    case = caspy.Savecase(path)
    numbers = [bus for bus in case.pssbus["NUM"] if bus < STAR_POINT_FIRST]
    windings = case.castrn["BUSNUM"][: case.cas_ntrn]
    three = sum(1 for buses in windings if buses[2] != 0)
    return {
        "bus_numbers": set(numbers),
        "buses": len(numbers),
        "loads": _length(case.psslod),
        "machines": _length(case.pssgen),
        "fixed_shunts": _length(case.pssfsh),
        "switched_shunts": _length(case.psswsh),
        "induction_machines": _length(case.pssind),
        "lines": case.cas_nbrn,
        "two_winding": case.cas_ntrn - three,
        "three_winding": three,
    }


def saved_text(psspy, path):
    """The working case as the engine saves it (its own text format)."""
    assert psspy.save(os.fspath(path)) == 0
    with open(os.fspath(path), encoding="utf-8") as handle:
        return handle.read()


def assert_case_unchanged(psspy, reference_text, path):
    assert saved_text(psspy, path) == reference_text, "the working case changed"
