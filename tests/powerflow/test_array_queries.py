"""abusint, abrnint and atr3int: the buses, lines and transformers of the working case in one
call each. They must describe the network exactly as the case saved at that moment and read
back with caspy does, whatever is in or out of service."""
from collections import Counter

import pytest

from helpers import engine_cases
from helpers.solutions import andes_case

ENDS = ["FROMNUMBER", "TONUMBER", "STATUS"]
WINDINGS = ["WIND1NUMBER", "WIND2NUMBER", "WIND3NUMBER", "STATUS"]


def _ok(result):
    code, columns = result
    assert code == 0, result
    return columns


def _rows(columns):
    return Counter(zip(*columns))


@pytest.fixture(params=["npcc.raw", "plants"])
def varied(request, psspy):
    """A real case (140 buses, 27 transformers) or the test network with both plants (a
    three-winding transformer), with buses isolated and windings out so that every type and
    status occurs."""
    if request.param == "plants":
        engine_cases.build_main_network(psspy)
        engine_cases.build_solar_plant(psspy, poi_bus=104)
        engine_cases.build_wind_plant(psspy, poi_bus=103)
        hv, collector, tertiary = engine_cases.WIND_BUSES[:3]
        # Winding 3 out: a status only three-winding transformers have.
        assert psspy.three_wnd_imped_data_4(ibus=hv, jbus=collector, kbus=tertiary, ckt="1", intgar8=3)[0] == 0
        assert psspy.dscn(engine_cases.SOLAR_BUSES[1]) == 0
    else:
        assert psspy.read(0, andes_case("npcc.raw")) == 0
        assert psspy.dscn(1) == 0 and psspy.dscn(30) == 0
    return psspy


def test_queries_describe_the_case_as_its_saved_file_does(varied, caspy, tmp_path):
    psspy = varied
    assert psspy.save(str(tmp_path / "now.sav")) == 0
    saved = caspy.Savecase(str(tmp_path / "now.sav"))

    # Buses in number order, star points left out; flag 1 leaves out isolated buses.
    table = sorted((n, t) for n, t in zip(saved.pssbus["NUM"], saved.pssbus["IDE"]) if n <= 999999)
    assert 4 in {t for _, t in table}
    assert _ok(psspy.abusint(-1, 2, ["NUMBER", "TYPE"])) == [[n for n, _ in table], [t for _, t in table]]
    assert _ok(psspy.abusint(string="NUMBER")) == [[n for n, t in table if t != 4]]
    assert _ok(psspy.abusint(flag=2, string=("TYPE",))) == [[t for _, t in table]]

    lines = Counter(zip(saved.pssbrn["FRMBUS"], saved.pssbrn["TOBUS"], saved.pssbrn["STAT"]))
    two = Counter((w[0], w[1], s) for w, s in zip(saved.castrn["BUSNUM"], saved.castrn["STAT"]) if w[2] == 0)
    three = Counter((*w, s) for w, s in zip(saved.castrn["BUSNUM"], saved.castrn["STAT"]) if w[2] != 0)
    assert {s for *_, s in lines} == {0, 1} and {s for *_, s in two} == {0, 1}

    def in_service(rows):
        return Counter({row: k for row, k in rows.items() if row[-1] == 1})

    for flag, expected in ((1, in_service(lines)), (2, lines), (3, in_service(lines) + in_service(two)),
                           (4, lines + two), (5, in_service(two)), (6, two)):
        assert _rows(_ok(psspy.abrnint(-1, 1, 1, flag, 1, ENDS))) == expected, flag
    # Entry 2: each element once from either end.
    reversed_lines = Counter({(t, f, s): k for (f, t, s), k in lines.items()})
    assert _rows(_ok(psspy.abrnint(flag=2, entry=2, string=ENDS))) == lines + reversed_lines
    # Ties 2 asks for branches leaving the subsystem of every bus: there are none.
    assert _ok(psspy.abrnint(flag=4, ties=2, string=ENDS)) == [[], [], []]

    assert _rows(_ok(psspy.atr3int(flag=2, string=WINDINGS))) == three
    assert _rows(_ok(psspy.atr3int(string=WINDINGS))) == Counter(
        {row: k for row, k in three.items() if row[-1] != 0})
    if three:
        assert {s for *_, s in three} == {3}
        rotated = _rows(_ok(psspy.atr3int(flag=2, entry=2, string=WINDINGS)))
        (w1, w2, w3, s), = three
        assert rotated == Counter({(w1, w2, w3, s): 1, (w2, w3, w1, s): 1, (w3, w1, w2, s): 1})


def test_queries_answer_codes_for_what_they_cannot_answer(psspy):
    engine_cases.build_main_network(psspy)
    assert psspy.abusint(0, 2, "NUMBER") == (6, None)  # no subsystems but every bus
    assert psspy.abusint(-1, 3, "NUMBER") == (6, None)
    assert psspy.abusint(-1, 2, ["NUMBER", "KV"]) == (15, None)
    for call in (psspy.abrnint, psspy.atr3int):
        assert call(flag=9, string="STATUS") == (6, None)
        assert call(owner=3, string="STATUS") == (6, None)
        assert call(entry=0, string="STATUS") == (6, None)
        assert call(string="FROM") == (15, None)
    with pytest.raises(TypeError, match="abusint.*'string'"):
        psspy.abusint(-1, 2, ["NUMBER", 7])
    with pytest.raises(TypeError, match="missing required argument 'string'"):
        psspy.abrnint(flag=2)
    # Reading the network leaves its solution and saved state alone.
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    psspy.abusint(string="NUMBER")
    psspy.abrnint(string=ENDS)
    assert psspy.solved() == 0
