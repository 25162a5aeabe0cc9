"""Whether a plant's buses are joined to a swing bus: the walk over in-service lines and
transformer windings of a case data object (tables as caspy.Savecase gives them)."""
from types import SimpleNamespace

from gridfold import gridfold_misc as gm


def _case(buses, lines=(), transformers=()):
    """buses: (number, IDE); lines: (from, to, STAT); transformers: ((w1, w2, w3), STAT)."""
    return SimpleNamespace(
        pssbus={"NUM": tuple(b for b, _ in buses), "IDE": tuple(t for _, t in buses)},
        pssbrn={"FRMBUS": tuple(f for f, _, _ in lines), "TOBUS": tuple(t for _, t, _ in lines),
                "STAT": tuple(s for _, _, s in lines)},
        castrn={"BUSNUM": tuple(w for w, _ in transformers), "STAT": tuple(s for _, s in transformers)})


def test_buses_reached_through_in_service_lines_and_windings_only():
    buses = [(1, 3), (2, 1), (3, 1), (4, 1), (5, 1), (6, 1), (7, 2), (8, 1), (9, 1), (10, 1), (11, 1)]
    lines = [(1, 2, 1), (2, 3, 0),  # 3 only through an open line
             (2, 4, 1)]
    transformers = [((4, 5, 0), 1),           # two-winding, in service
                    ((4, 6, 0), 2),           # two-winding, status 2: out
                    ((5, 7, 8), 2),           # winding 2 out: 5 joins 8 only
                    ((5, 9, 10), 3),          # winding 3 out: 5 joins 9, 9 joins nothing more
                    ((11, 9, 10), 4)]         # winding 1 out: 9 joins 10, 11 stays apart
    case = _case(buses, lines, transformers)
    everything = [b for b, _ in buses]
    assert gm.buses_cut_off(case, everything) == [3, 6, 7, 11]
    assert gm.buses_cut_off(case, [11, 7, 2]) == [11, 7]  # in the order asked


def test_isolated_buses_stop_the_walk_and_missing_buses_are_not_cut_off():
    # 3 is isolated (type 4): 4 behind it is cut off although its line is in service. Bus 50
    # appears in a line but not in the bus table: the walk goes through it to 5. Bus 99 is
    # not in the case at all.
    case = _case([(1, 3), (2, 1), (3, 4), (4, 1), (5, 1), (6, 3), (7, 1)],
                 [(1, 2, 1), (2, 3, 1), (3, 4, 1), (2, 50, 1), (50, 5, 1), (6, 7, 1)])
    assert gm.buses_cut_off(case, [1, 2, 3, 4, 5, 7, 99, 50]) == [3, 4]
    # No swing bus at all: every bus of the table asked for is cut off.
    lone = _case([(1, 1), (2, 2)], [(1, 2, 1)])
    assert gm.buses_cut_off(lone, [2, 1]) == [2, 1]
