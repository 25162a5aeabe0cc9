"""Data and change calls of the embedded engine: keyword binding, changes of existing elements,
and the error codes of refused calls (which leave the working case unchanged)."""
import subprocess
import sys

import pytest

from helpers import engine_cases


def saved_bytes(psspy, tmp_path, name="snapshot.sav"):
    path = tmp_path / name
    assert psspy.save(str(path)) == 0
    return path.read_bytes()


def test_data_call_on_an_existing_element_changes_only_the_values_passed(psspy, caspy, tmp_path):
    engine_cases.build_main_network(psspy)
    assert psspy.bus_data_4(ibus=104, realar2=1.035) == 0
    assert psspy.load_data_7(ibus=103, id="1", realar2=44.0) == 0
    assert psspy.machine_chng_5(ibus=102, id="1", intgar1=0) == 0
    assert psspy.branch_data_4(ibus=104, jbus=103, ckt="1", ratings3=333.0) == 0  # named in reverse
    path = tmp_path / "changed.sav"
    psspy.save(str(path))
    case = caspy.Savecase(str(path))
    bus = case.pssbus["NUM"].index(104)
    assert case.pssbus["VM"][bus] == 1.035
    assert case.pssbus["NAME"][bus] == "WEST" and case.pssbus["BASKV"][bus] == 230.0
    load = case.psslod["NUM"].index(103)
    assert case.psslod["LOAD"][load][0] == pytest.approx(0.90 + 0.44j)
    gen = case.pssgen["NUM"].index(102)
    assert case.pssgen["STAT"][gen] == 0 and case.pssgen["PG"][gen] * 100 == 120.0
    line = [i for i, (f, t) in enumerate(zip(case.casbrn["FRMBUS"], case.casbrn["TOBUS"])) if (f, t) == (103, 104)]
    assert len(line) == 1
    assert case.casbrn["RATINGS"][line[0]][:3] == pytest.approx([300.0, 330.0, 333.0])
    assert case.casbrn["RX"][line[0]] == 0.004 + 0.045j


def test_line_named_in_reverse_keeps_its_ends_apart(psspy, caspy, tmp_path):
    for bus in (1, 2):
        psspy.bus_data_4(ibus=bus, realar1=66.0)
    assert psspy.branch_data_3(ibus=1, jbus=2, realar4=0.01, realar5=0.02, intgar2=2) == 0
    assert psspy.branch_data_3(ibus=2, jbus=1, realar6=0.5) == 0  # the far end seen from bus 2 is bus 1
    path = tmp_path / "line.sav"
    psspy.save(str(path))
    line = caspy.Savecase(str(path)).casbrn
    assert (line["FRMBUS"], line["TOBUS"], line["METBUS"]) == ((1,), (2,), (2,))
    assert line["GBI"] == (0.5 + 0.02j,) and line["GBJ"] == (0j,)


def test_positional_group_and_placeholder_arguments(psspy, caspy, tmp_path):
    assert psspy.bus_data_4(7, 0, [2, 5, 6, 7], [33.0, 1.01, -4.0], "SEVEN") == 0
    assert psspy.bus_data_4(8, intgar=[psspy._i, 5], realar=[11.0, None, 3.0]) == 0
    assert psspy.bus_data_4(ibus=8, intgar1=1.0, realar2=1) == 0  # integral float, int for a real
    path = tmp_path / "p.sav"
    psspy.save(str(path))
    buses = caspy.Savecase(str(path)).pssbus
    assert buses["IDE"] == (2, 1) and buses["AREA"] == (5, 5) and buses["ZONE"] == (6, 1)
    assert buses["OWNER"] == (7, 1) and buses["VA"] == (-4.0, 3.0) and buses["VM"] == (1.01, 1.0)
    assert buses["NAME"] == ("SEVEN", "")


@pytest.mark.parametrize("call, message", [
    (lambda p: p.bus_data_4(ibus=1, realar99=1.0), "unexpected keyword argument 'realar99'"),
    (lambda p: p.load_data_6(ibus=1, ldname="x"), "unexpected keyword argument 'ldname'"),
    (lambda p: p.machine_data_2(ibus=1, intgar7=1), "unexpected keyword argument 'intgar7'"),
    (lambda p: p.bus_data_4(ibus="1"), "'ibus': an integer is required"),
    (lambda p: p.bus_data_4(ibus=1, realar1="138"), "'realar1': a real number is required"),
    (lambda p: p.bus_data_4(ibus=1, intgar1=1.5), "'intgar1': an integer is required"),
    (lambda p: p.load_data_7(ibus=1, id=1), "'id': a str is required"),
    (lambda p: p.bus_data_4(1, ibus=1), "multiple values for argument 'ibus'"),
    (lambda p: p.bus_data_4(intgar1=1), "missing required argument 'ibus'"),
    (lambda p: p.bus_data_4(1, 0, [1, 1, 1, 1, 1]), "'intgar' takes at most 4 values"),
    (lambda p: p.busdat(1, "PU", 3), "takes at most 2 positional arguments"),
])
def test_wrong_arguments_raise_type_error_naming_them(psspy, call, message):
    with pytest.raises(TypeError, match=message):
        call(psspy)


def add_simple_network(psspy):
    for bus in (1, 2, 3, 4):
        assert psspy.bus_data_4(ibus=bus, realar1=110.0) == 0
    assert psspy.plant_data_4(ibus=1) == 0
    assert psspy.machine_data_4(ibus=1, id="G") == 0
    assert psspy.branch_data_4(ibus=1, jbus=2, ckt="1") == 0
    assert psspy.two_winding_data_6(ibus=2, jbus=3, ckt="T")[0] == 0
    assert psspy.three_wnd_imped_data_4(ibus=1, jbus=3, kbus=4, ckt="W")[0] == 0


REFUSED_CALLS = [
    ("bus number 0", 2, lambda p: p.bus_data_4(ibus=0)),
    ("bus number too large", 2, lambda p: p.bus_data_4(ibus=1000000)),
    ("bus number far too large", 2, lambda p: p.bus_data_4(ibus=2 ** 70)),
    ("bus type 5", 6, lambda p: p.bus_data_4(ibus=9, intgar1=5)),
    ("negative base voltage", 7, lambda p: p.bus_data_4(ibus=9, realar1=-1.0)),
    ("zero voltage", 7, lambda p: p.bus_chng_4(ibus=1, realar2=0.0)),
    ("bus name too long", 8, lambda p: p.bus_data_4(ibus=9, name="THIRTEEN CHRS")),
    ("quote in a name", 8, lambda p: p.bus_data_4(ibus=9, name="O'NEIL")),
    ("change of a missing bus", 3, lambda p: p.bus_chng_4(ibus=9, realar2=1.0)),
    ("load at a missing bus", 3, lambda p: p.load_data_7(ibus=9, realar1=1.0)),
    ("load identifier too long", 8, lambda p: p.load_data_7(ibus=1, id="ABC")),
    ("load status 2", 6, lambda p: p.load_data_5(ibus=1, intgar1=2)),
    ("infinite load", 7, lambda p: p.load_data_6(ibus=1, realar1=float("inf"))),
    ("shunt at a missing bus", 3, lambda p: p.shunt_data(ibus=9)),
    ("machine without plant", 16, lambda p: p.machine_data_5(ibus=2, id="1")),
    ("machine change of a missing machine", 4, lambda p: p.machine_chng_3(ibus=1, id="9", intgar1=0)),
    ("machine base 0", 7, lambda p: p.machine_data_2(ibus=1, id="G", realar7=0.0)),
    ("wind control mode 5", 6, lambda p: p.machine_data_3(ibus=1, id="G", intgar6=5)),
    ("plant regulating a missing bus", 3, lambda p: p.plant_data_4(ibus=1, intgar1=9)),
    ("line to itself", 2, lambda p: p.branch_data_3(ibus=1, jbus=1)),
    ("line to a missing bus", 3, lambda p: p.branch_data_3(ibus=1, jbus=9)),
    ("line without impedance", 7, lambda p: p.branch_data_3(ibus=1, jbus=3, realar1=0.0, realar2=0.0)),
    ("line metered at a third bus", 2, lambda p: p.branch_data_3(ibus=1, jbus=3, intgar2=4)),
    ("line where a transformer is", 5, lambda p: p.branch_data_4(ibus=3, jbus=2, ckt="T")),
    ("transformer where a line is", 5, lambda p: p.two_winding_data_6(ibus=2, jbus=1, ckt="1")[0]),
    ("transformer named in reverse", 5, lambda p: p.two_winding_data_6(ibus=3, jbus=2, ckt="T")[0]),
    ("impedance code 4", 6, lambda p: p.two_winding_data_6(ibus=2, jbus=4, intgar15=4)[0]),
    ("winding 1 on the other side", 6, lambda p: p.two_winding_data_6(ibus=2, jbus=4, intgar9=2)[0]),
    ("load loss above the impedance", 7,
     lambda p: p.two_winding_data_6(ibus=2, jbus=4, intgar15=3, realari1=5e6, realari2=0.01)[0]),
    ("two-winding status 2", 6, lambda p: p.two_winding_data_6(ibus=2, jbus=4, intgar1=2)[0]),
    ("three windings on two buses", 2, lambda p: p.three_wnd_imped_data_4(ibus=1, jbus=3, kbus=1)[0]),
    ("three-winding status 5", 6, lambda p: p.three_wnd_imped_data_4(ibus=1, jbus=2, kbus=4, intgar8=5)[0]),
    ("star point voltage 0", 7, lambda p: p.three_wnd_imped_data_4(ibus=1, jbus=3, kbus=4, ckt="W",
                                                                   realari16=0.0)[0]),
    ("winding 4", 17, lambda p: p.three_wnd_winding_data_5(ibus=1, jbus=3, kbus=4, ckt="W", warg=4)[0]),
    ("winding of a missing transformer", 4,
     lambda p: p.three_wnd_winding_data_5(ibus=1, jbus=3, kbus=4, ckt="X", warg=1)[0]),
    ("winding ratio 0", 7,
     lambda p: p.three_wnd_winding_data_5(ibus=1, jbus=3, kbus=4, ckt="W", warg=2, realari1=0.0)[0]),
    ("tap positions 1", 6,
     lambda p: p.three_wnd_winding_data_5(ibus=1, jbus=3, kbus=4, ckt="W", warg=3, intgar1=1)[0]),
    ("switched shunt mode 7", 6, lambda p: p.switched_shunt_data_5(ibus=1, intgar9=7)),
    ("switched shunt regulating a missing bus", 3, lambda p: p.switched_shunt_data_6(ibus=1, intgar10=9)),
    ("block status 3", 6, lambda p: p.switched_shunt_data_5(ibus=1, intgar21=3)),
    ("induction machine base 0", 7, lambda p: p.induction_machine_data(ibus=1, realar1=0.0)),
    ("induction machine code 3", 6, lambda p: p.induction_machine_data_2(ibus=1, intgar2=3)),
    # values outside their physical band: they would make a solution's arithmetic non-finite
    ("transformer ratio 1e-300", 7, lambda p: p.two_winding_data_6(ibus=2, jbus=4, realari4=1e-300)[0]),
    ("transformer ratio 5e-324", 7, lambda p: p.two_winding_data_6(ibus=2, jbus=4, realari7=5e-324)[0]),
    ("winding ratio 1e-320", 7,
     lambda p: p.three_wnd_winding_data_5(ibus=1, jbus=3, kbus=4, ckt="W", warg=2, realari1=1e-320)[0]),
    ("transformer ratio 11", 7, lambda p: p.two_winding_data_6(ibus=2, jbus=3, ckt="T", realari4=11.0)[0]),
    ("transformer ratio 5000 kV", 7,
     lambda p: p.two_winding_data_6(ibus=2, jbus=4, intgar14=2, realari4=5000.0)[0]),
    ("winding base 1e-300 MVA", 7,
     lambda p: p.two_winding_data_6(ibus=2, jbus=4, intgar15=2, realari3=1e-300)[0]),
    ("three-winding base 1e-300 MVA", 7,
     lambda p: p.three_wnd_imped_data_4(ibus=1, jbus=3, kbus=4, ckt="W", intgar6=2, realari8=1e-300)[0]),
    ("phase shift 1000 degrees", 7, lambda p: p.two_winding_data_6(ibus=2, jbus=3, ckt="T", realari6=1000.0)[0]),
    ("magnetising susceptance 1e300", 7,
     lambda p: p.two_winding_data_6(ibus=2, jbus=3, ckt="T", realari14=1e300)[0]),
    ("line reactance 1e300", 7, lambda p: p.branch_data_3(ibus=1, jbus=3, realar2=1e300)),
    ("line charging 1e7", 7, lambda p: p.branch_data_3(ibus=1, jbus=2, realar3=1e7)),
    ("base voltage 1e-300 kV", 7, lambda p: p.bus_data_4(ibus=9, realar1=1e-300)),
    ("base voltage 5000 kV", 7, lambda p: p.bus_chng_4(ibus=1, realar1=5000.0)),
    ("machine base 1e300", 7, lambda p: p.machine_data_2(ibus=1, id="G", realar7=1e300)),
    ("machine step-up ratio 1e-300", 7, lambda p: p.machine_data_2(ibus=1, id="G", realar12=1e-300)),
    ("scheduled voltage 1e-300", 7, lambda p: p.plant_data_4(ibus=1, realar1=1e-300)),
    ("load 1e300 MW", 7, lambda p: p.load_data_5(ibus=1, realar1=1e300)),
    ("load beyond a double", 7, lambda p: p.load_data_5(ibus=1, realar2=-(10 ** 400))),
    ("fixed shunt 1e300 Mvar", 7, lambda p: p.shunt_data(ibus=1, realar2=1e300)),
    ("switched shunt step 1e300 Mvar", 7, lambda p: p.switched_shunt_data_4(ibus=1, realar1=1e300)),
    ("induction machine XM 1e-300", 7, lambda p: p.induction_machine_data(ibus=1, realar11=1e-300)),
    ("induction machine rated 1e-300 kV", 7, lambda p: p.induction_machine_data(ibus=1, realar2=1e-300)),
    ("unknown bus quantity", 15, lambda p: p.busdat(1, "WHAT")[0]),
    ("progress to islct 3", 15, lambda p: p.progress_output(islct=3)),
    ("walk filter 3", 15, lambda p: p.inibrn_2(ibus=1, single=3)[0]),
]


@pytest.mark.parametrize("label, code, call", REFUSED_CALLS, ids=[c[0] for c in REFUSED_CALLS])
def test_refused_calls_return_their_code_and_change_nothing(psspy, tmp_path, label, code, call):
    add_simple_network(psspy)
    before = saved_bytes(psspy, tmp_path, "before.sav")
    assert call(psspy) == code
    assert saved_bytes(psspy, tmp_path, "after.sav") == before


def test_bus_limit_counts_star_points(psspy):
    assert psspy.psseinit(buses=3) == 0
    for bus in (1, 2, 3):
        assert psspy.bus_data_4(ibus=bus) == 0
    assert psspy.bus_data_4(ibus=4) == 11
    assert psspy.three_wnd_imped_data_4(ibus=1, jbus=2, kbus=3)[0] == 11
    assert psspy.psseinit(buses=0) == 15


def test_computed_values_of_transformer_calls(psspy):
    for bus, kv in ((1, 230.0), (2, 34.5), (3, 13.8)):
        psspy.bus_data_4(ibus=bus, realar1=kv)
    ierr, (r, x) = psspy.two_winding_data_6(ibus=1, jbus=2, intgar15=2, realari1=0.002, realari2=0.1,
                                            realari3=50.0)
    assert ierr == 0 and (r, x) == pytest.approx((0.004, 0.2))
    # a winding voltage of 220 kV on a 230 kV bus refers the impedance by (220/230)^2
    ierr, (r, x) = psspy.two_winding_data_6(ibus=1, jbus=2, realari5=220.0)
    assert ierr == 0 and (r, x) == pytest.approx((0.004 * (220 / 230) ** 2, 0.2 * (220 / 230) ** 2))
    # load loss 100 kW on 100 MVA gives R = 0.001 pu; |Z| 0.1 pu
    ierr, (r, x) = psspy.two_winding_data_6(ibus=1, jbus=3, intgar15=3, realari1=100000.0, realari2=0.1)
    assert ierr == 0 and r == pytest.approx(0.001) and x == pytest.approx((0.1 ** 2 - 0.001 ** 2) ** 0.5)
    ierr, values = psspy.three_wnd_imped_data_4(ibus=1, jbus=2, kbus=3, realari1=0.01, realari2=0.1,
                                                realari3=0.02, realari4=0.2, realari5=0.03, realari6=0.3)
    assert ierr == 0 and values == pytest.approx([0.01, 0.1, 0.02, 0.2, 0.03, 0.3])
    assert psspy.three_wnd_winding_data_5(ibus=1, jbus=2, kbus=3, warg=2, realari1=1.05,
                                          realari3=30.0) == (0, [1.05, 30.0])
    psspy.three_wnd_imped_data_4(ibus=1, jbus=2, kbus=3, intgar5=2)  # ratios in kV from now on
    assert psspy.three_wnd_winding_data_5(ibus=1, jbus=2, kbus=3, warg=1, realari1=241.5)[1] == \
        pytest.approx([1.05, 0.0])


def test_failed_data_calls_write_a_progress_line(psspy, tmp_path):
    progress = tmp_path / "progress.txt"
    assert psspy.progress_output(islct=2, filarg=str(progress), options1=1) == 0
    assert psspy.load_data_7(ibus=5) == 3
    assert psspy.bus_data_4(ibus=5) == 0
    assert progress.read_text() == "load_data_7: error 3, bus not found\n"
    psspy.progress_output(islct=6)


def test_every_call_before_psseinit_returns_code_1():
    """Needs an engine never initialised, hence a fresh interpreter."""
    code = """
import gridfold
psspy, _ = gridfold.embedded_engine()
results = [psspy.bus_data_4(ibus=1), psspy.case('x.sav'), psspy.save('x.sav'), psspy.dscn(1),
           psspy.busdat(1, 'PU')[0], psspy.inibrn_2(1)[0], psspy.nxtmac(1)[0],
           psspy.two_winding_data_6(ibus=1, jbus=2)[0], psspy.progress_output(islct=6)]
print(results)
"""
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    *progress, last = result.stdout.strip().splitlines()
    assert last == str([1] * 9)
    assert progress == ["bus_data_4: error 1, engine not initialised",
                        "two_winding_data_6: error 1, engine not initialised"]


def test_new_elements_take_the_documented_defaults(psspy, caspy, tmp_path):
    """Only the keys are passed: what other parts of gridfold see for values they leave out."""
    psspy.bus_data_4(ibus=1, intgar2=4, intgar3=5, intgar4=6, realar1=230.0)
    psspy.bus_data_4(ibus=2, realar1=115.0)
    psspy.bus_data_4(ibus=3, realar1=13.8)
    calls = [psspy.load_data_5(ibus=1), psspy.shunt_data(ibus=1), psspy.plant_data_4(ibus=1),
             psspy.machine_data_2(ibus=1), psspy.branch_data_3(ibus=1, jbus=2),
             psspy.two_winding_data_6(ibus=2, jbus=3)[0], psspy.three_wnd_imped_data_4(ibus=1, jbus=2, kbus=3)[0],
             psspy.switched_shunt_data_4(ibus=1), psspy.induction_machine_data(ibus=1)]
    assert calls == [0] * len(calls)
    path = tmp_path / "defaults.sav"
    psspy.save(str(path))
    case = caspy.Savecase(str(path))
    assert case.pssbus["IDE"][:3] == (1, 1, 1) and case.pssbus["VM"][0] == 1.0
    assert case.pssbus["NMAXV"][0] == 1.1 and case.pssbus["EMINV"][0] == 0.9
    lod = case.psslod
    assert (lod["ID"], lod["STATUS"], lod["AREA"], lod["ZONE"], lod["OWNER"], lod["LDSCALE"]) == \
        (("1",), (1,), (4,), (5,), (6,), (1,))
    gen = case.pssgen
    assert (gen["STAT"], gen["VS"], gen["RMPCT"], gen["IREG"], gen["MBASE"], gen["GTAP"]) == \
        ((1,), (1.0,), (100.0,), (0,), (100.0,), (1.0,))
    assert gen["OWNER"] == [[6, 0, 0, 0]] and gen["OWNPCT"] == [[1.0] * 4] and gen["ZSORCE"] == (1j,)
    assert [v * 100 for v in (gen["QT"][0], gen["QB"][0], gen["PT"][0], gen["PB"][0])] == \
        [9999.0, -9999.0, 9999.0, -9999.0]
    brn = case.casbrn
    assert (brn["CKT"], brn["STAT"], brn["METBUS"], brn["RX"], brn["OWNER"]) == \
        (("1",), (1,), (1,), (0.0001j,), [[6, 0, 0, 0]])
    trn = case.castrn
    assert trn["BUSNUM"] == [[1, 2, 3], [2, 3, 0]] and trn["METBUS"] == (2, 2)
    assert trn["NTAPS"][1] == [33, 0, 0] and trn["RMAX"][1] == [1.1, 0.0, 0.0] and trn["SBASE"][0] == [100.0] * 3
    assert (trn["CW"], trn["CZ"], trn["CM"], trn["STAT"]) == ((1, 1), (1, 1), (1, 1), (1, 1))
    wsh = case.psswsh
    assert (wsh["MODSW"], wsh["STAT"], wsh["SI"], wsh["NI"], wsh["RMPCT"]) == \
        ((1,), (1,), [[1] * 8], [[0] * 8], (100.0,))
    ind = case.pssind
    assert (ind["SCODE"], ind["DCODE"], ind["AREA"], ind["MBASE"], ind["R1"], ind["XM"]) == \
        ((1,), (2,), (4,), (100.0,), (999.0,), (2.5,))


def test_values_at_the_edges_of_their_bands_are_kept_and_read_back(psspy, caspy, tmp_path):
    add_simple_network(psspy)
    assert psspy.bus_data_4(ibus=5, realar1=0.001) == 0
    assert psspy.two_winding_data_6(ibus=2, jbus=5, ckt="E", realari4=0.1, realari7=10.0, realari3=0.001)[0] == 0
    assert psspy.two_winding_data_6(ibus=2, jbus=4, ckt="K", intgar14=2, realari4=2000.0, realari7=0.001)[0] == 0
    assert psspy.machine_data_2(ibus=1, id="G", realar7=1e6, realar12=10.0) == 0
    assert psspy.load_data_5(ibus=4, realar1=-1e8) == 0
    path = tmp_path / "edges.sav"
    assert psspy.save(str(path)) == 0
    assert psspy.case(str(path)) == 0
    trn = caspy.Savecase(str(path)).castrn
    ratios = {ckt: tuple(wind[:2]) for ckt, wind in zip(trn["CKT"], trn["WIND"])}
    assert ratios["E"] == (0.1, 10.0) and ratios["K"] == (2000.0, 0.001)


def test_case_file_with_a_ratio_out_of_band_is_refused_and_the_working_case_kept(psspy, tmp_path):
    add_simple_network(psspy)
    path = tmp_path / "good.sav"
    assert psspy.save(str(path)) == 0
    text = path.read_text()
    bad = tmp_path / "tiny_ratio.sav"
    # the two-winding transformer's winding 2 line is "WINDV2,NOMV2" = "1.0,0.0"
    assert "\n1.0,0.0\n" in text
    bad.write_text(text.replace("\n1.0,0.0\n", "\n1e-300,0.0\n", 1))
    before = saved_bytes(psspy, tmp_path, "before.sav")
    assert psspy.case(str(bad)) == 13
    assert saved_bytes(psspy, tmp_path, "after.sav") == before


def test_names_count_characters_not_bytes(psspy, caspy, tmp_path):
    assert psspy.bus_data_4(ibus=1, name="Ä" * 12) == 0
    assert psspy.bus_data_4(ibus=2, name="Ä" * 13) == 8
    assert psspy.load_data_5(ibus=1, id="ÄÖ") == 0
    assert psspy.load_data_5(ibus=1, id="ÄÖÜ") == 8
    path = tmp_path / "names.sav"
    assert psspy.save(str(path)) == 0
    case = caspy.Savecase(str(path))
    assert case.pssbus["NAME"] == ("Ä" * 12,) and case.psslod["ID"] == ("ÄÖ",)


@pytest.mark.parametrize("call", [
    lambda p: p.bus_data_4(ibus=1, name="\ud800"),
    lambda p: p.load_data_5(ibus=1, id="\udfff"),
    lambda p: p.save("\ud800.sav"),
])
def test_text_without_a_utf8_form_raises_type_error(psspy, call):
    assert psspy.bus_data_4(ibus=1) == 0
    with pytest.raises(TypeError, match="lone surrogate"):
        call(psspy)


def test_save_refuses_names_that_name_no_file(psspy, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "folder").mkdir()
    assert psspy.bus_data_4(ibus=1) == 0
    for name in ("", str(tmp_path / "folder"), str(tmp_path / "folder") + "/", ".", ".."):
        assert psspy.save(name) == 14, name
    assert sorted(p.name for p in tmp_path.iterdir()) == ["folder"]
    assert list((tmp_path / "folder").iterdir()) == []
    assert psspy.save("folder/case") == 0 and (tmp_path / "folder" / "case.sav").is_file()


def test_psseinit_refuses_bus_counts_beyond_its_limit_instead_of_cutting_them(psspy):
    for count in (2 ** 64, 2 ** 63, 2 ** 31, 2_000_001, -(2 ** 64)):
        assert psspy.psseinit(buses=count) == 15, count
    assert psspy.psseinit(buses=2_000_000) == 0
