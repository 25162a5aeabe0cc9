"""caspy's case data object: table shapes, and the round trip of every element kind from a
saved case through caspy's tables back into an engine by the data calls, with the scalings
the engine adapter applies (powers in per unit on 100 MVA multiplied by 100)."""
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from helpers import engine_cases

# Every (table, column) that holds bus numbers in a case data object.
BUS_NUMBER_FIELDS = [
    ("pssbus", "NUM"), ("psslod", "NUM"), ("pssfsh", "NUM"), ("pssgen", "NUM"), ("pssgen", "IREG"),
    ("psswsh", "NUM"), ("psswsh", "SWREM"), ("psssub", "NUM"), ("pssind", "NUM"), ("pssald", "NUM"),
    ("psstrn", "CONBUS"), ("pssabx", "FRMBUS"), ("pssabx", "TOBUS"), ("pssmsl", "FRMBUS"), ("pssmsl", "TOBUS"),
    ("pssmsl", "DUMBUS"), ("pssmsl", "METBUS"), ("pssbrn", "FRMBUS"), ("pssbrn", "TOBUS"), ("pssbrn", "METBUS"),
    ("pss3wt", "BUS1ST"), ("pss3wt", "BUS2ND"), ("pss3wt", "BUS3RD"), ("pss3wt", "NMETER"), ("casbrn", "FRMBUS"),
    ("casbrn", "TOBUS"), ("casbrn", "METBUS"), ("castrn", "BUSNUM"), ("castrn", "METBUS"), ("castrn", "CONBUS"),
]

TABLES = ["pssbus", "pssgen", "psslod", "pssfsh", "psswsh", "pssind", "casbrn", "castrn", "pssbrn", "psstrn",
          "pss3wt", "pssabx", "pssald", "pssmsl", "psssub"]

# Columns holding a fixed-length sequence per element, with that length.
SEQUENCE_COLUMNS = {
    ("pssgen", "OWNER"): 4, ("pssgen", "OWNPCT"): 4, ("casbrn", "OWNER"): 4, ("casbrn", "OWNPCT"): 4,
    ("casbrn", "RATINGS"): 12, ("psswsh", "NI"): 8, ("psswsh", "SI"): 8, ("psswsh", "BI"): 8,
    ("psslod", "LOAD"): 3, ("castrn", "BUSNUM"): 3, ("castrn", "OWNER"): 4, ("castrn", "OWNPCT"): 4,
    ("castrn", "RX"): 3, ("castrn", "SBASE"): 3, ("castrn", "NTAPS"): 3, ("castrn", "TABLE"): 3,
    ("castrn", "CONBUS"): 3, ("castrn", "NOD"): 3, ("castrn", "CNTL"): 3, ("castrn", "WIND"): 3,
    ("castrn", "NOMV"): 3, ("castrn", "ANG"): 3, ("castrn", "RMAX"): 3, ("castrn", "RMIN"): 3,
    ("castrn", "VMAX"): 3, ("castrn", "VMIN"): 3, ("castrn", "XFRCMP"): 3, ("castrn", "CNXA"): 3,
    ("castrn", "RATINGS"): 3, ("pssmsl", "DUMBUS"): 9,
}


def build_every_element_kind(psspy, named=True):
    """One or more of every element kind, with values away from the defaults.

    named=False leaves out what only the newest calls carry (names, BASLOD).
    """
    def ok(result):
        return (result[0] if isinstance(result, tuple) else result) == 0 or pytest.fail(str(result))

    buses = [(11, 2, 138.0), (12, 1, 138.0), (13, 1, 34.5), (14, 1, 13.8), (15, 2, 0.69), (16, 3, 138.0)]
    for number, ide, kv in buses:
        ok(psspy.bus_data_4(ibus=number, intgar1=ide, intgar2=3, intgar3=4 + number % 2, intgar4=7,
                            realar1=kv, realar2=1.0 + number / 1000.0, realar3=-number / 7.0, realar4=1.06,
                            realar5=0.94, realar6=1.1 + number / 1e4, realar7=0.89, name=f"B{number} x"))
    ok(psspy.load_data_7(ibus=12, id="L1", intgar1=1, intgar2=2, intgar3=5, intgar4=6, intgar5=0, intgar6=1,
                         intgar7=1, realar1=40.3, realar2=-12.7, realar3=3.3, realar4=1.1, realar5=0.7,
                         realar6=-0.07, realar7=2.9, realar8=0.3, ldname="LOAD ONE" if named else ""))
    ok(psspy.load_data_7(ibus=13, id="2", intgar1=0, realar1=0.1 + 0.2, realar2=1e-7))
    ok(psspy.shunt_data_2(ibus=12, id="F1", intgar1=1, realar1=0.33, realar2=-45.1))
    ok(psspy.shunt_data_2(ibus=14, id="F2", intgar1=0, realar1=0.0, realar2=7.7))
    ok(psspy.plant_data_4(ibus=11, intgar1=12, intgar2=3, realar1=1.025, realar2=60.0))
    ok(psspy.plant_data_4(ibus=16, realar1=1.01))
    ok(psspy.plant_data_4(ibus=15, intgar1=13, realar1=1.0, realar2=40.0))
    for bus, machine, pg in ((11, "1", 101.1), (11, "2", 33.3), (16, "S", 0.0), (15, "W", 55.55)):
        ok(psspy.machine_data_5(ibus=bus, id=machine, intgar1=1 if machine != "2" else 0, intgar2=7, intgar3=8,
                                intgar4=0, intgar5=9, intgar6=1 if bus == 15 else 0, intgar7=2 if bus == 11 and named else 0,
                                realar1=pg, realar2=-pg / 3.0, realar3=77.7, realar4=-66.6, realar5=pg * 1.2,
                                realar6=0.3, realar7=123.4, realar8=0.003, realar9=0.27, realar10=0.001,
                                realar11=0.08, realar12=1.025, realar13=0.5, realar14=0.25, realar15=0.0,
                                realar16=0.25, realar17=0.95, namear2=f"GEN {bus}{machine}" if named else ""))
    ok(psspy.branch_data_4(ibus=11, jbus=12, ckt="1", intgar1=1, intgar2=12, intgar3=7, intgar4=2, intgar5=0,
                           intgar6=0, realar1=0.0123, realar2=0.0987, realar3=0.0456, realar4=0.001,
                           realar5=-0.02, realar6=0.002, realar7=0.03, realar8=12.5, realar9=0.6,
                           realar10=0.4, **{f"ratings{k}": 100.0 + k for k in range(1, 13)}, namear="LINE 11-12"))
    ok(psspy.branch_data_4(ibus=12, jbus=16, ckt="Z9", intgar1=0, realar1=0.0, realar2=0.0001))
    ok(psspy.two_winding_data_6(ibus=12, jbus=13, ckt="T1", intgar1=1, intgar2=13, intgar3=7, intgar4=0,
                                intgar5=0, intgar6=0, intgar7=17, intgar8=0, intgar10=13, intgar11=0, intgar13=1,
                                intgar14=2, intgar15=2, intgar16=2, realari1=0.003, realari2=0.11, realari3=75.0,
                                realari4=140.3, realari5=138.0, realari6=-30.0, realari7=34.1, realari8=34.5,
                                realari9=1.0, realari10=1.0, realari11=1.0, realari12=1.0, realari13=1500.0,
                                realari14=0.004, realari15=151.8, realari16=124.2, realari17=1.04, realari18=1.0,
                                realari19=0.01, realari20=0.02, realari21=30.0,
                                **{f"ratings{k}": 75.0 + k for k in range(1, 13)}, namear="XF T1", vgrpar="Dyn1"))
    ok(psspy.three_wnd_imped_data_4(ibus=11, jbus=14, kbus=15, ckt="3W", intgar1=7, intgar2=8, intgar3=0,
                                    intgar4=0, intgar5=3, intgar6=3, intgar7=1, intgar8=2, intgar9=15,
                                    intgar12=1, realari1=30000.0, realari2=0.1, realari3=20000.0,
                                    realari4=0.08, realari5=25000.0, realari6=0.12, realari7=60.0, realari8=30.0,
                                    realari9=30.0, realari10=0.0001, realari11=-0.002, realari12=0.7,
                                    realari13=0.3, realari14=1.0, realari15=1.0, namear="XF 3W",
                                    vgrpar="YNyn0d1"))
    for winding, kv in ((1, 138.0), (2, 13.8), (3, 0.69)):
        ok(psspy.three_wnd_winding_data_5(ibus=11, jbus=14, kbus=15, ckt="3W", warg=winding,
                                          intgar1=9 + winding, intgar2=0, intgar3=14 if winding == 1 else 0,
                                          intgar4=0, intgar6=-1 if winding == 1 else 0, realari1=1.0 + winding / 100,
                                          realari2=kv, realari3=5.0 * winding, realari4=1.1 + winding / 100,
                                          realari5=0.9, realari6=1.03, realari7=0.97, realari8=0.001 * winding,
                                          realari9=-0.002, realari10=-30.0 * winding,
                                          **{f"ratings{k}": 10.0 * winding + k for k in range(1, 13)}))
    ok(psspy.switched_shunt_data_6(ibus=13, id="SW", intgar1=2, intgar2=3, intgar3=1, intgar9=2, intgar10=12,
                                   intgar11=0, intgar12=1, intgar13=1, intgar14=1, intgar15=0, intgar16=1,
                                   realar1=10.3, realar2=-5.2, realar3=2.1, realar9=1.04, realar10=0.98,
                                   realar11=7.77, realar12=55.0, swsnam="CAP BANK" if named else ""))
    ok(psspy.induction_machine_data_2(ibus=15, id="IM", intgar1=1, intgar2=2, intgar3=1, intgar4=3, intgar5=4,
                                      intgar6=7, intgar7=2, intgar8=2, intgar9=2,
                                      **{f"realar{k}": 0.5 + k / 8.0 for k in range(1, 24)},
                                      indnamear="INDUCTION" if named else ""))


def add_through_data_calls(psspy, case, version):
    """Add a case data object's elements with the adapter's keyword sets and scalings."""
    v36 = version >= 36.0
    bus = case.pssbus
    for i, number in enumerate(bus["NUM"]):
        if number > 999999:  # star points are made by the engine
            continue
        psspy.bus_data_4(ibus=number, inode=0, intgar1=bus["IDE"][i], intgar2=bus["AREA"][i],
                         intgar3=bus["ZONE"][i], intgar4=bus["OWNER"][i], realar1=bus["BASKV"][i],
                         realar2=bus["VM"][i], realar3=bus["VA"][i], realar4=bus["NMAXV"][i],
                         realar5=bus["NMINV"][i], realar6=bus["EMAXV"][i], realar7=bus["EMINV"][i],
                         name=bus["NAME"][i])
    br = case.casbrn
    branch_call = psspy.branch_data_4 if v36 else psspy.branch_data_3
    for i in range(case.cas_nbrn):
        assert branch_call(ibus=br["FRMBUS"][i], jbus=br["TOBUS"][i], ckt=br["CKT"][i], intgar1=br["STAT"][i],
                           intgar2=br["METBUS"][i], **{f"intgar{3 + k}": br["OWNER"][i][k] for k in range(4)},
                           realar1=br["RX"][i].real, realar2=br["RX"][i].imag, realar3=br["B"][i],
                           realar4=br["GBI"][i].real, realar5=br["GBI"][i].imag, realar6=br["GBJ"][i].real,
                           realar7=br["GBJ"][i].imag, realar8=br["LINLEN"][i],
                           **{f"realar{9 + k}": br["OWNPCT"][i][k] for k in range(4)},
                           **{f"ratings{k + 1}": br["RATINGS"][i][k] for k in range(12)},
                           namear=br["BRNAME"][i]) == 0
    tr = case.castrn

    def first_nonzero(key, i):
        return tr[key][i][0] or tr[key][i][1]

    for i in range(case.cas_ntrn):
        b = tr["BUSNUM"][i]
        if b[2] == 0:
            ierr, _ = psspy.two_winding_data_6(
                ibus=b[0], jbus=b[1], ckt=tr["CKT"][i], intgar1=tr["STAT"][i], intgar2=tr["METBUS"][i],
                **{f"intgar{3 + k}": tr["OWNER"][i][k] for k in range(4)}, intgar7=first_nonzero("NTAPS", i),
                intgar8=tr["TABLE"][i][0], intgar10=first_nonzero("CONBUS", i), intgar11=tr["NOD"][i][0],
                intgar13=first_nonzero("CNTL", i), intgar14=tr["CW"][i], intgar15=tr["CZ"][i], intgar16=tr["CM"][i],
                realari1=tr["RX"][i][0].real, realari2=tr["RX"][i][0].imag, realari3=tr["SBASE"][i][0],
                realari4=tr["WIND"][i][0], realari5=tr["NOMV"][i][0], realari6=first_nonzero("ANG", i),
                realari7=tr["WIND"][i][1], realari8=tr["NOMV"][i][1],
                **{f"realari{9 + k}": tr["OWNPCT"][i][k] for k in range(4)}, realari13=tr["MAG1"][i],
                realari14=tr["MAG2"][i], realari15=first_nonzero("RMAX", i), realari16=first_nonzero("RMIN", i),
                realari17=first_nonzero("VMAX", i), realari18=first_nonzero("VMIN", i),
                realari19=tr["XFRCMP"][i][0].real, realari20=tr["XFRCMP"][i][0].imag, realari21=tr["CNXA"][i][0],
                **{f"ratings{k + 1}": tr["RATINGS"][i][0][k] for k in range(12)}, namear=tr["TRNAME"][i],
                vgrpar=tr["VECGRP"][i])
            assert ierr == 0
            continue
        rx = tr["RX"][i]
        ierr, _ = psspy.three_wnd_imped_data_4(
            ibus=b[0], jbus=b[1], kbus=b[2], ckt=tr["CKT"][i], **{f"intgar{1 + k}": tr["OWNER"][i][k] for k in range(4)},
            intgar5=tr["CW"][i], intgar6=tr["CZ"][i], intgar7=tr["CM"][i], intgar8=tr["STAT"][i],
            intgar9=tr["METBUS"][i], intgar12=tr["ZCOD"][i], realari1=rx[0].real, realari2=rx[0].imag,
            realari3=rx[1].real, realari4=rx[1].imag, realari5=rx[2].real, realari6=rx[2].imag,
            realari7=tr["SBASE"][i][0], realari8=tr["SBASE"][i][1], realari9=tr["SBASE"][i][2],
            realari10=tr["MAG1"][i], realari11=tr["MAG2"][i],
            **{f"realari{12 + k}": tr["OWNPCT"][i][k] for k in range(4)}, namear=tr["TRNAME"][i],
            vgrpar=tr["VECGRP"][i])
        assert ierr == 0
        for w in range(3):
            ierr, _ = psspy.three_wnd_winding_data_5(
                ibus=b[0], jbus=b[1], kbus=b[2], ckt=tr["CKT"][i], warg=w + 1, intgar1=tr["NTAPS"][i][w],
                intgar2=tr["TABLE"][i][w], intgar3=tr["CONBUS"][i][w], intgar4=tr["NOD"][i][w],
                intgar6=tr["CNTL"][i][w], realari1=tr["WIND"][i][w], realari2=tr["NOMV"][i][w],
                realari3=tr["ANG"][i][w], realari4=tr["RMAX"][i][w], realari5=tr["RMIN"][i][w],
                realari6=tr["VMAX"][i][w], realari7=tr["VMIN"][i][w], realari8=tr["XFRCMP"][i][w].real,
                realari9=tr["XFRCMP"][i][w].imag, realari10=tr["CNXA"][i][w],
                **{f"ratings{k + 1}": tr["RATINGS"][i][w][k] for k in range(12)})
            assert ierr == 0
    gen = case.pssgen
    machine_call = psspy.machine_data_5 if v36 else psspy.machine_data_4
    for i, number in enumerate(gen["NUM"]):
        assert psspy.plant_data_4(ibus=number, inode=0, intgar1=gen["IREG"][i], intgar2=gen["NREG"][i],
                                  realar1=gen["VS"][i], realar2=gen["RMPCT"][i]) == 0
        extra = {"intgar7": gen["BASLOD"][i], "namear2": gen["MCNAME"][i]} if v36 else {}
        assert machine_call(ibus=number, id=gen["IDE"][i], intgar1=gen["STAT"][i],
                            **{f"intgar{2 + k}": gen["OWNER"][i][k] for k in range(4)}, intgar6=gen["WMOD"][i],
                            realar1=gen["PG"][i] * 100, realar2=gen["QG"][i] * 100, realar3=gen["QT"][i] * 100,
                            realar4=gen["QB"][i] * 100, realar5=gen["PT"][i] * 100, realar6=gen["PB"][i] * 100,
                            realar7=gen["MBASE"][i], realar8=gen["ZSORCE"][i].real, realar9=gen["ZSORCE"][i].imag,
                            realar10=gen["XTRAN"][i].real, realar11=gen["XTRAN"][i].imag, realar12=gen["GTAP"][i],
                            **{f"realar{13 + k}": gen["OWNPCT"][i][k] for k in range(4)}, realar17=gen["WPF"][i],
                            **extra) == 0
    fsh = case.pssfsh
    for i, number in enumerate(fsh["NUM"]):
        assert (psspy.shunt_data_2 if v36 else psspy.shunt_data)(
            ibus=number, id=fsh["ID"][i], intgar1=fsh["STATUS"][i], realar1=fsh["SHUNT"][i].real * 100,
            realar2=fsh["SHUNT"][i].imag * 100) == 0
    sw = case.psswsh
    for i, number in enumerate(sw["NUM"]):
        extra = {"swsnam": sw["SWNAME"][i]} if v36 else {}
        assert (psspy.switched_shunt_data_6 if v36 else psspy.switched_shunt_data_5)(
            ibus=number, id=sw["ID"][i], **{f"intgar{1 + k}": sw["NI"][i][k] for k in range(8)},
            intgar9=sw["MODSW"][i], intgar10=sw["SWREM"][i], intgar11=sw["SWNOD"][i], intgar12=sw["STAT"][i],
            intgar13=sw["ADJM"][i], **{f"intgar{14 + k}": sw["SI"][i][k] for k in range(8)},
            **{f"realar{1 + k}": sw["BI"][i][k] * 100 for k in range(8)}, realar9=sw["VSWHI"][i],
            realar10=sw["VSWLO"][i], realar11=sw["BINIT"][i], realar12=sw["RMPCT"][i], **extra) == 0
    lod = case.psslod
    for i, number in enumerate(lod["NUM"]):
        load = lod["LOAD"][i]
        extra = {"ldname": lod["LDNAME"][i]} if v36 else {}
        assert (psspy.load_data_7 if v36 else psspy.load_data_6)(
            ibus=number, id=lod["ID"][i], intgar1=lod["STATUS"][i], intgar2=lod["AREA"][i], intgar3=lod["ZONE"][i],
            intgar4=lod["OWNER"][i], intgar5=lod["LDSCALE"][i], intgar6=lod["LDINT"][i], intgar7=lod["DGENM"][i],
            realar1=load[0].real * 100, realar2=load[0].imag * 100, realar3=load[1].real * 100,
            realar4=load[1].imag * 100, realar5=load[2].real * 100, realar6=load[2].imag * 100,
            realar7=lod["DGENPQ"][i].real * 100, realar8=lod["DGENPQ"][i].imag * 100, **extra) == 0
    ind = case.pssind
    columns = ["STATUS", "SCODE", "DCODE", "AREA", "ZONE", "OWNER", "TCODE", "BCODE", "PCODE", "MBASE", "RATEKV",
               "PSET", "H", "A", "B", "D", "E", "RA", "XA", "XM", "R1", "X1", "R2", "X2", "X3", "E1", "SE1", "E2",
               "SE2", "IA1", "IA2", "IAM"]
    for i, number in enumerate(ind["NUM"]):
        values = {("intgar%d" % (k + 1) if k < 9 else "realar%d" % (k - 8)): ind[c][i] for k, c in enumerate(columns)}
        if v36:
            values["indnamear"] = ind["IMNAME"][i]
        assert (psspy.induction_machine_data_2 if v36 else psspy.induction_machine_data)(
            ibus=number, id=ind["ID"][i], **values) == 0


@pytest.mark.parametrize("version, named", [(36.2, True), (35.5, False)])
def test_every_element_kind_survives_caspy_and_the_data_calls(psspy, caspy, tmp_path, version, named):
    build_every_element_kind(psspy, named=named)
    original = tmp_path / "original.sav"
    assert psspy.save(str(original)) == 0
    case = caspy.Savecase(str(original))
    assert psspy.psseinit(buses=1000) == 0
    add_through_data_calls(psspy, case, version)
    copy = tmp_path / "copy.sav"
    assert psspy.save(str(copy)) == 0
    assert copy.read_text() == original.read_text()


@pytest.mark.parametrize("builder", [engine_cases.save_main_case, engine_cases.save_solar_case,
                                     engine_cases.save_wind_case])
def test_plant_cases_survive_caspy_and_the_data_calls(psspy, caspy, tmp_path, builder):
    original = builder(psspy, tmp_path / "original.sav")
    psspy.psseinit(buses=1000)
    add_through_data_calls(psspy, caspy.Savecase(original), 36.0)
    psspy.save(str(tmp_path / "copy.sav"))
    assert (tmp_path / "copy.sav").read_bytes() == Path(original).read_bytes()


def test_powers_are_per_unit_on_100_mva_and_the_rest_in_data_call_units(psspy, caspy, tmp_path):
    build_every_element_kind(psspy)
    path = tmp_path / "units.sav"
    psspy.save(str(path))
    case = caspy.Savecase(str(path))
    gen = case.pssgen
    row = gen["IDE"].index("W")
    assert gen["PG"][row] * 100 == 55.55 and gen["QT"][row] * 100 == 77.7 and gen["MBASE"][row] == 123.4
    assert gen["ZSORCE"][row] == 0.003 + 0.27j and gen["VS"][row] == 1.0 and gen["IREG"][row] == 13
    load = case.psslod["LOAD"][case.psslod["ID"].index("L1")]
    # within one unit in the last place: no double p has p * 100 == 3.3
    scaled = [value * 100 for part in load for value in (part.real, part.imag)]
    assert scaled == pytest.approx([40.3, -12.7, 3.3, 1.1, 0.7, -0.07], rel=3e-16, abs=0.0)
    assert case.psslod["DGENPQ"][0] * 100 == pytest.approx(2.9 + 0.3j)
    assert case.pssfsh["SHUNT"][0].imag * 100 == -45.1
    sw = case.psswsh
    assert [b * 100 for b in sw["BI"][0][:3]] == [10.3, -5.2, 2.1] and sw["BINIT"] == (7.77,)
    assert case.pssind["PSET"] == (0.5 + 3 / 8.0,)
    assert case.pssbus["VA"][case.pssbus["NUM"].index(16)] == -16 / 7.0


def test_table_shapes_and_bus_number_columns(psspy, caspy, tmp_path):
    build_every_element_kind(psspy)
    path = tmp_path / "shapes.sav"
    psspy.save(str(path))
    case = caspy.Savecase(str(path))
    assert (case.cas_nbrn, case.cas_ntrn) == (2, 2)
    rows = {"casbrn": 2, "castrn": 2, "pssbus": 7, "pssgen": 4, "psslod": 2, "pssfsh": 2, "psswsh": 1,
            "pssind": 1, "pssbrn": 2, "psstrn": 1, "pss3wt": 1, "pssabx": 3, "pssald": 2, "pssmsl": 0, "psssub": 0}
    for name in TABLES:
        table = getattr(case, name)
        assert type(table) is dict and table["IERR"] == 0, name
        for key, column in table.items():
            if key == "IERR":
                continue
            assert len(column) == rows[name], (name, key)
            width = SEQUENCE_COLUMNS.get((name, key))
            if width is None:
                assert type(column) is tuple, (name, key)
            else:
                assert type(column) is list and all(type(e) is list and len(e) == width for e in column), (name, key)
    assert all(len(per_winding) == 12 for per_winding in case.castrn["RATINGS"][0])
    for name, key in BUS_NUMBER_FIELDS:
        assert key in getattr(case, name), (name, key)
    assert case.castrn["BUSNUM"] == [[11, 14, 15], [12, 13, 0]]
    assert case.pss3wt["NMETER"] == (15,) and case.psstrn["CONBUS"] == (13,)
    assert case.pssbus["NUM"][-1] == 1000000
    assert isinstance(case, caspy.Savecase) and case.path == str(path)
    # a table is a plain attribute the caller may replace
    case.pssbus = {"NUM": (1,)}
    assert case.pssbus == {"NUM": (1,)}


def test_sequence_entries_are_lists_of_their_own_and_the_collector_is_left_as_found(psspy, caspy, tmp_path):
    """Equal values may share one object, but every element's sequence is a list of its own:
    renumbering one element's entry in place must not reach another element."""
    import gc

    build_every_element_kind(psspy)
    path = tmp_path / "shared.sav"
    psspy.save(str(path))
    case = caspy.Savecase(str(path))
    for name, key in SEQUENCE_COLUMNS:
        column = getattr(case, name)[key]
        assert len({id(entry) for entry in column}) == len(column), (name, key)
    owners = case.casbrn["OWNER"]
    before = [list(entry) for entry in owners]
    owners[0][0] = 4242
    assert [entry[0] for entry in owners[1:]] == [entry[0] for entry in before[1:]]
    assert caspy.Savecase(str(path)).casbrn["OWNER"] == before
    # Tables are made when first read, with the cyclic collector held off; it is left as the
    # caller had it.
    assert gc.isenabled()
    gc.disable()
    try:
        assert caspy.Savecase(str(path)).pssgen["NUM"]
        assert not gc.isenabled()
    finally:
        gc.enable()
    # A name that is not UTF-8 is reported when the file is read, before any table is made.
    latin = tmp_path / "latin.sav"
    latin.write_bytes(path.read_bytes().replace(b"'B11 x'", b"'B11 \xe9'"))
    with pytest.raises(UnicodeDecodeError):
        caspy.Savecase(str(latin))
    assert gc.isenabled()
    with pytest.raises(AttributeError, match="no attribute 'pssxyz'"):
        _ = caspy.Savecase(str(path)).pssxyz


def test_tables_without_elements_have_empty_columns(psspy, caspy, tmp_path):
    psspy.bus_data_4(ibus=1, realar1=10.0)
    path = tmp_path / "one_bus.sav"
    psspy.save(str(path))
    case = caspy.Savecase(str(path))
    assert (case.cas_nbrn, case.cas_ntrn) == (0, 0)
    for name in TABLES[1:]:
        table = getattr(case, name)
        assert table["IERR"] == 0 and len(table) > 1, name
        assert all(len(column) == 0 for key, column in table.items() if key != "IERR"), name
    assert case.pssgen["NUM"] == () and case.castrn["BUSNUM"] == []


finite = st.floats(min_value=-1e6, max_value=1e6, allow_nan=False, allow_infinity=False)
names = st.text(alphabet="ABCXYZ019 -_,/#.", max_size=12)


@st.composite
def random_networks(draw):
    """Buses, loads, shunts, plants with machines and lines with arbitrary finite values."""
    numbers = draw(st.lists(st.integers(1, 999999), min_size=2, max_size=6, unique=True))
    base_kv = st.one_of(st.just(0.0), st.floats(0.001, 1000))  # 0 or inside the band of base voltages
    buses = [(n, draw(st.integers(1, 4)), draw(base_kv), draw(st.floats(0.5, 1.5)), draw(finite),
              draw(names)) for n in numbers]
    loads = draw(st.lists(st.tuples(st.sampled_from(numbers), st.text("12AB", min_size=1, max_size=2),
                                    finite, finite, finite, finite), max_size=4, unique_by=lambda load: load[:2]))
    machines = draw(st.lists(st.tuples(st.sampled_from(numbers), st.sampled_from(["1", "2", "G"]), finite, finite,
                                       st.floats(0.1, 1e4), names), max_size=3, unique_by=lambda m: m[:2]))
    pairs = [(a, b) for a in numbers for b in numbers if a < b]
    lines = draw(st.lists(st.tuples(st.sampled_from(pairs), st.sampled_from(["1", "2"]), finite,
                                    st.floats(1e-6, 10), finite, names), max_size=4,
                          unique_by=lambda line: (line[0], line[1])))
    return buses, loads, machines, lines


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(network=random_networks())
def test_random_cases_survive_files_and_caspy(psspy, caspy, tmp_path_factory, network):
    buses, loads, machines, lines = network
    folder = tmp_path_factory.mktemp("random")
    assert psspy.psseinit(buses=100) == 0
    for number, ide, kv, vm, va, name in buses:
        assert psspy.bus_data_4(ibus=number, intgar1=ide, realar1=kv, realar2=vm, realar3=va, name=name) == 0
    for bus, load_id, p, q, ip, yq in loads:
        assert psspy.load_data_7(ibus=bus, id=load_id, realar1=p, realar2=q, realar3=ip, realar6=yq,
                                 ldname=load_id) == 0
    for bus, machine_id, pg, qg, mbase, name in machines:
        assert psspy.plant_data_4(ibus=bus, realar1=1.01) == 0
        assert psspy.machine_data_5(ibus=bus, id=machine_id, realar1=pg, realar2=qg, realar7=mbase,
                                    namear2=name) == 0
    for (i, j), ckt, r, x, b, name in lines:
        assert psspy.branch_data_4(ibus=i, jbus=j, ckt=ckt, realar1=r, realar2=x, realar3=b, namear=name) == 0
    first, second, third = (folder / f"{k}.sav" for k in ("first", "second", "third"))
    assert psspy.save(str(first)) == 0
    assert psspy.case(str(first)) == 0
    assert psspy.save(str(second)) == 0
    assert second.read_bytes() == first.read_bytes()
    case = caspy.Savecase(str(first))
    assert psspy.psseinit(buses=100) == 0
    add_through_data_calls(psspy, case, 36.0)
    assert psspy.save(str(third)) == 0
    assert third.read_bytes() == first.read_bytes()
