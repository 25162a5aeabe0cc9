"""The adders on the recording stand-in (sys.modules and sys.path isolated by the
`recording` fixture): exact engine calls per element kind and engine version, status
dictionaries, save paths, and the failures that must leave nothing saved.

The small-case tables are written by hand, shaped like caspy's (one tuple per column,
fixed-length entries as lists), with a distinct value in every field so that a value
passed under the wrong keyword shows. Powers are binary fractions so that ×100 is exact.
"""
import os
from types import SimpleNamespace

import pytest

from gridfold.gridfold_ps import NO_ENGINE_CALL_FOR_VERSION


def columns(*rows):
    """Column tables from rows given as dicts (all rows with the same keys)."""
    return {key: tuple(row[key] for row in rows) for key in rows[0]} if rows else {}


BUS = dict(NUM=1001, IDE=2, AREA=3, ZONE=4, OWNER=5, BASKV=138.0, VM=1.02, VA=-3.5, NMAXV=1.1, NMINV=0.9,
           EMAXV=1.2, EMINV=0.8, NAME="BUS A       ")

LINE = dict(FRMBUS=1001, TOBUS=1002, CKT="1 ", STAT=1, METBUS=1002, OWNER=[11, 12, 13, 14], RX=0.01 + 0.1j, B=0.05,
            GBI=0.001 + 0.002j, GBJ=0.003 + 0.004j, LINLEN=12.5, OWNPCT=[0.4, 0.3, 0.2, 0.1],
            RATINGS=[101.0 + k for k in range(12)], BRNAME="LINE A")

# Two-winding, its tap and control data on winding 2 (winding 1 zero).
TWO_WINDING = dict(
    BUSNUM=[1001, 1002, 0], CKT="T1", STAT=1, METBUS=1001, OWNER=[21, 22, 23, 24], OWNPCT=[0.5, 0.25, 0.15, 0.1],
    CW=1, CZ=2, CM=3, ZCOD=1, MAG1=0.001, MAG2=-0.002, RX=[0.002 + 0.08j, 0j, 0j], SBASE=[100.0, 0.0, 0.0],
    NTAPS=[0, 33, 0], TABLE=[3, 0, 0], CONBUS=[0, 1003, 0], NOD=[7, 0, 0], CNTL=[0, 1, 0], WIND=[1.05, 0.98, 0.0],
    NOMV=[138.0, 34.5, 0.0], ANG=[0.0, 30.0, 0.0], RMAX=[0.0, 1.1, 0.0], RMIN=[0.0, 0.9, 0.0], VMAX=[0.0, 1.05, 0.0],
    VMIN=[0.0, 0.95, 0.0], XFRCMP=[0.01 + 0.02j, 0j, 0j], CNXA=[5.0, 0.0, 0.0],
    RATINGS=[[201.0 + k for k in range(12)], [0.0] * 12, [0.0] * 12], TRNAME="XF A", VECGRP="YNd1")
# Two-winding with data on both windings: winding 1 wins.
TWO_WINDING_BOTH = dict(TWO_WINDING, CKT="T2", NTAPS=[17, 33, 0], CONBUS=[1004, 1003, 0], CNTL=[2, 1, 0],
                        ANG=[-30.0, 30.0, 0.0], RMAX=[1.2, 1.1, 0.0], RMIN=[0.8, 0.9, 0.0], VMAX=[1.04, 1.05, 0.0],
                        VMIN=[0.96, 0.95, 0.0])
THREE_WINDING = dict(
    BUSNUM=[1001, 1002, 1003], CKT="3W", STAT=1, METBUS=1002, OWNER=[31, 32, 33, 34], OWNPCT=[0.4, 0.3, 0.2, 0.1],
    CW=2, CZ=3, CM=4, ZCOD=1, MAG1=0.0005, MAG2=-0.001, RX=[0.001 + 0.05j, 0.002 + 0.06j, 0.003 + 0.07j],
    SBASE=[100.0, 50.0, 25.0], NTAPS=[33, 5, 7], TABLE=[1, 2, 3], CONBUS=[1001, 1002, 1003], NOD=[4, 5, 6],
    CNTL=[-1, 0, 2], WIND=[1.01, 1.02, 1.03], NOMV=[138.0, 34.5, 13.8], ANG=[0.0, -30.0, 30.0],
    RMAX=[1.1, 1.2, 1.3], RMIN=[0.9, 0.8, 0.7], VMAX=[1.05, 1.06, 1.07], VMIN=[0.95, 0.94, 0.93],
    XFRCMP=[0.01 + 0.02j, 0.03 + 0.04j, 0.05 + 0.06j], CNXA=[1.0, 2.0, 3.0],
    RATINGS=[[301.0 + k for k in range(12)], [401.0 + k for k in range(12)], [501.0 + k for k in range(12)]],
    TRNAME="XF 3W", VECGRP="YNyn0d1")

GEN = dict(NUM=1001, IDE="1 ", IREG=1005, NREG=2, VS=1.03, RMPCT=80.0, STAT=1, OWNER=[41, 42, 43, 44],
           OWNPCT=[0.4, 0.3, 0.2, 0.1], WMOD=2, BASLOD=3, PG=0.5, QG=0.25, QT=0.375, QB=-0.125, PT=0.75,
           PB=0.0625, MBASE=100.0, ZSORCE=0.003 + 0.25j, XTRAN=0.001 + 0.05j, GTAP=1.025, WPF=0.95, MCNAME="GEN A")

FIXED_SHUNT = dict(NUM=1001, ID="1 ", STATUS=1, SHUNT=0.0 + 0.25j)

SWITCHED_SHUNT = dict(NUM=1003, ID="S1", NI=[51, 52, 53, 54, 55, 56, 57, 58], SI=[61, 62, 63, 64, 65, 66, 67, 68],
                      BI=[0.5, 0.25, 0.125, -0.5, 0.0625, 0.75, -0.25, 1.5], MODSW=2, SWREM=1005, SWNOD=3, STAT=1,
                      ADJM=9, VSWHI=1.05, VSWLO=0.95, BINIT=0.1, RMPCT=50.0, SWNAME="SWS A")

LOAD = dict(NUM=1002, ID="L1", STATUS=1, AREA=2, ZONE=3, OWNER=4, LDSCALE=5, LDINT=6, DGENM=7,
            LOAD=[0.5 + 0.25j, 0.125 + 0.0625j, 0.75 - 0.5j], DGENPQ=0.375 + 0.1875j, LDNAME="LOAD A")

INDUCTION = dict(NUM=1002, ID="M1", STATUS=1, SCODE=2, DCODE=3, AREA=4, ZONE=5, OWNER=6, TCODE=7, BCODE=8, PCODE=9,
                 MBASE=10.0, RATEKV=13.8, PSET=5.0, H=0.5, A=1.1, B=2.0, D=0.1, E=1.5, RA=0.01, XA=0.11, XM=3.0,
                 R1=0.02, X1=0.12, R2=0.03, X2=0.13, X3=0.14, E1=1.0, SE1=0.05, E2=1.2, SE2=0.2, IA1=0.51,
                 IA2=0.62, IAM=0.73, IMNAME="MOTOR A")


def small_case(**tables):
    """A case data object holding the given tables, with the two count attributes caspy has."""
    empty = {"NUM": ()}
    case = SimpleNamespace(pssbus=empty, casbrn={}, castrn={}, pssgen=empty, pssfsh=empty, psswsh=empty, psslod=empty,
                           pssind=empty)
    for name, rows in tables.items():
        setattr(case, name, columns(*rows))
    case.cas_nbrn = len(tables.get("casbrn", ()))
    case.cas_ntrn = len(tables.get("castrn", ()))
    return case


def ratings(first):
    return {f"ratings{k}": first + k - 1 for k in range(1, 13)}


BUS_CALL = {"ibus": 1001, "inode": 0, "intgar1": 2, "intgar2": 3, "intgar3": 4, "intgar4": 5, "realar1": 138.0,
            "realar2": 1.02, "realar3": -3.5, "realar4": 1.1, "realar5": 0.9, "realar6": 1.2, "realar7": 0.8,
            "name": "BUS A       "}
LINE_CALL = {"ibus": 1001, "jbus": 1002, "ckt": "1 ", "intgar1": 1, "intgar2": 1002, "intgar3": 11, "intgar4": 12,
             "intgar5": 13, "intgar6": 14, "realar1": 0.01, "realar2": 0.1, "realar3": 0.05, "realar4": 0.001,
             "realar5": 0.002, "realar6": 0.003, "realar7": 0.004, "realar8": 12.5, "realar9": 0.4, "realar10": 0.3,
             "realar11": 0.2, "realar12": 0.1, **ratings(101.0), "namear": "LINE A"}
TWO_WINDING_CALL = {
    "ibus": 1001, "jbus": 1002, "ckt": "T1", "intgar1": 1, "intgar2": 1001, "intgar3": 21, "intgar4": 22,
    "intgar5": 23, "intgar6": 24, "intgar7": 33, "intgar8": 3, "intgar10": 1003, "intgar11": 7, "intgar13": 1,
    "intgar14": 1, "intgar15": 2, "intgar16": 3, "realari1": 0.002, "realari2": 0.08, "realari3": 100.0,
    "realari4": 1.05, "realari5": 138.0, "realari6": 30.0, "realari7": 0.98, "realari8": 34.5, "realari9": 0.5,
    "realari10": 0.25, "realari11": 0.15, "realari12": 0.1, "realari13": 0.001, "realari14": -0.002,
    "realari15": 1.1, "realari16": 0.9, "realari17": 1.05, "realari18": 0.95, "realari19": 0.01, "realari20": 0.02,
    "realari21": 5.0, **ratings(201.0), "namear": "XF A", "vgrpar": "YNd1"}
# Winding 1 nonzero: its values, not winding 2's.
TWO_WINDING_BOTH_CALL = dict(TWO_WINDING_CALL, ckt="T2", intgar7=17, intgar10=1004, intgar13=2, realari6=-30.0,
                             realari15=1.2, realari16=0.8, realari17=1.04, realari18=0.96)
THREE_WINDING_IMPEDANCE_CALL = {
    "ibus": 1001, "jbus": 1002, "kbus": 1003, "ckt": "3W", "intgar1": 31, "intgar2": 32, "intgar3": 33, "intgar4": 34,
    "intgar5": 2, "intgar6": 3, "intgar7": 4, "intgar8": 1, "intgar9": 1002, "intgar12": 1, "realari1": 0.001,
    "realari2": 0.05, "realari3": 0.002, "realari4": 0.06, "realari5": 0.003, "realari6": 0.07, "realari7": 100.0,
    "realari8": 50.0, "realari9": 25.0, "realari10": 0.0005, "realari11": -0.001, "realari12": 0.4,
    "realari13": 0.3, "realari14": 0.2, "realari15": 0.1, "namear": "XF 3W", "vgrpar": "YNyn0d1"}
WINDING_ON = {"ibus": 1001, "jbus": 1002, "kbus": 1003, "ckt": "3W"}
WINDING_CALLS = [
    {**WINDING_ON, "warg": 1, "intgar1": 33, "intgar2": 1, "intgar3": 1001, "intgar4": 4, "intgar6": -1,
     "realari1": 1.01, "realari2": 138.0, "realari3": 0.0, "realari4": 1.1, "realari5": 0.9, "realari6": 1.05,
     "realari7": 0.95, "realari8": 0.01, "realari9": 0.02, "realari10": 1.0, **ratings(301.0)},
    {**WINDING_ON, "warg": 2, "intgar1": 5, "intgar2": 2, "intgar3": 1002, "intgar4": 5, "intgar6": 0,
     "realari1": 1.02, "realari2": 34.5, "realari3": -30.0, "realari4": 1.2, "realari5": 0.8, "realari6": 1.06,
     "realari7": 0.94, "realari8": 0.03, "realari9": 0.04, "realari10": 2.0, **ratings(401.0)},
    {**WINDING_ON, "warg": 3, "intgar1": 7, "intgar2": 3, "intgar3": 1003, "intgar4": 6, "intgar6": 2,
     "realari1": 1.03, "realari2": 13.8, "realari3": 30.0, "realari4": 1.3, "realari5": 0.7, "realari6": 1.07,
     "realari7": 0.93, "realari8": 0.05, "realari9": 0.06, "realari10": 3.0, **ratings(501.0)},
]
PLANT_CALL = {"ibus": 1001, "inode": 0, "intgar1": 1005, "intgar2": 2, "realar1": 1.03, "realar2": 80.0}
MACHINE_CALL = {
    "ibus": 1001, "id": "1 ", "intgar1": 1, "intgar2": 41, "intgar3": 42, "intgar4": 43, "intgar5": 44, "intgar6": 2,
    "intgar7": 3, "realar1": 50.0, "realar2": 25.0, "realar3": 37.5, "realar4": -12.5, "realar5": 75.0,
    "realar6": 6.25, "realar7": 100.0, "realar8": 0.003, "realar9": 0.25, "realar10": 0.001, "realar11": 0.05,
    "realar12": 1.025, "realar13": 0.4, "realar14": 0.3, "realar15": 0.2, "realar16": 0.1, "realar17": 0.95,
    "namear2": "GEN A"}
MACHINE_CHANGE_CALL = {"ibus": 1001, "id": "1 ", "realar2": 25.0, "realar3": 37.5, "realar4": -12.5}
FIXED_SHUNT_CALL = {"ibus": 1001, "id": "1 ", "intgar1": 1, "realar1": 0.0, "realar2": 25.0}
SWITCHED_SHUNT_CALL = {
    "ibus": 1003, "id": "S1", **{f"intgar{k}": 50 + k for k in range(1, 9)}, "intgar9": 2, "intgar10": 1005,
    "intgar11": 3, "intgar12": 1, "intgar13": 9, **{f"intgar{k}": 47 + k for k in range(14, 22)},
    "realar1": 50.0, "realar2": 25.0, "realar3": 12.5, "realar4": -50.0, "realar5": 6.25, "realar6": 75.0,
    "realar7": -25.0, "realar8": 150.0, "realar9": 1.05, "realar10": 0.95, "realar11": 0.1, "realar12": 50.0,
    "swsnam": "SWS A"}
LOAD_CALL = {"ibus": 1002, "id": "L1", "intgar1": 1, "intgar2": 2, "intgar3": 3, "intgar4": 4, "intgar5": 5,
             "intgar6": 6, "intgar7": 7, "realar1": 50.0, "realar2": 25.0, "realar3": 12.5, "realar4": 6.25,
             "realar5": 75.0, "realar6": -50.0, "realar7": 37.5, "realar8": 18.75, "ldname": "LOAD A"}
INDUCTION_CALL = {
    "ibus": 1002, "id": "M1", "intgar1": 1, "intgar2": 2, "intgar3": 3, "intgar4": 4, "intgar5": 5, "intgar6": 6,
    "intgar7": 7, "intgar8": 8, "intgar9": 9, "realar1": 10.0, "realar2": 13.8, "realar3": 5.0, "realar4": 0.5,
    "realar5": 1.1, "realar6": 2.0, "realar7": 0.1, "realar8": 1.5, "realar9": 0.01, "realar10": 0.11,
    "realar11": 3.0, "realar12": 0.02, "realar13": 0.12, "realar14": 0.03, "realar15": 0.13, "realar16": 0.14,
    "realar17": 1.0, "realar18": 0.05, "realar19": 1.2, "realar20": 0.2, "realar21": 0.51, "realar22": 0.62,
    "realar23": 0.73, "indnamear": "MOTOR A"}


def without(call, *keywords):
    return {key: value for key, value in call.items() if key not in keywords}


SI_2_TO_8 = [f"intgar{k}" for k in range(15, 22)]

# adder, small case, version, expected engine calls (name, keywords) before the save
EXACT_CALLS = [
    ("add_buses", small_case(pssbus=[BUS]), 35.5, [("bus_data_4", BUS_CALL)]),
    ("add_line_branch", small_case(casbrn=[LINE]), 36.2, [("branch_data_4", LINE_CALL)]),
    ("add_line_branch", small_case(casbrn=[LINE]), 35.5, [("branch_data_3", LINE_CALL)]),
    ("add_trn_branch", small_case(castrn=[TWO_WINDING, THREE_WINDING, TWO_WINDING_BOTH]), 35.5,
     [("two_winding_data_6", TWO_WINDING_CALL), ("three_wnd_imped_data_4", THREE_WINDING_IMPEDANCE_CALL),
      *[("three_wnd_winding_data_5", call) for call in WINDING_CALLS],
      ("two_winding_data_6", TWO_WINDING_BOTH_CALL)]),
    # Up to version 34 the node and impedance-code slots are passed as 0.
    ("add_trn_branch", small_case(castrn=[TWO_WINDING, THREE_WINDING]), 34.0,
     [("two_winding_data_6", dict(TWO_WINDING_CALL, intgar11=0)),
      ("three_wnd_imped_data_4", dict(THREE_WINDING_IMPEDANCE_CALL, intgar12=0)),
      *[("three_wnd_winding_data_5", dict(call, intgar4=0)) for call in WINDING_CALLS]]),
    ("add_gen", small_case(pssgen=[GEN]), 36.2, [("plant_data_4", PLANT_CALL), ("machine_data_5", MACHINE_CALL)]),
    ("add_gen", small_case(pssgen=[GEN]), 35.3,
     [("plant_data_4", PLANT_CALL), ("machine_data_4", without(MACHINE_CALL, "intgar7", "namear2"))]),
    ("add_gen", small_case(pssgen=[GEN]), 34.0,
     [("plant_data_4", dict(PLANT_CALL, intgar2=0)), ("machine_data_2", without(MACHINE_CALL, "intgar7", "namear2"))]),
    ("add_fixed_shunt", small_case(pssfsh=[FIXED_SHUNT]), 36.0, [("shunt_data_2", FIXED_SHUNT_CALL)]),
    ("add_fixed_shunt", small_case(pssfsh=[FIXED_SHUNT]), 35.3, [("shunt_data", FIXED_SHUNT_CALL)]),
    ("add_switched_shunt", small_case(psswsh=[SWITCHED_SHUNT]), 36.0, [("switched_shunt_data_6", SWITCHED_SHUNT_CALL)]),
    ("add_switched_shunt", small_case(psswsh=[SWITCHED_SHUNT]), 35.0,
     [("switched_shunt_data_5", without(SWITCHED_SHUNT_CALL, "swsnam"))]),
    ("add_switched_shunt", small_case(psswsh=[SWITCHED_SHUNT]), 34.4,
     [("switched_shunt_data_4", without(SWITCHED_SHUNT_CALL, "swsnam", *SI_2_TO_8))]),
    ("add_switched_shunt", small_case(psswsh=[SWITCHED_SHUNT]), 34.0, []),
    ("add_load", small_case(psslod=[LOAD]), 36.0, [("load_data_7", LOAD_CALL)]),
    ("add_load", small_case(psslod=[LOAD]), 35.3, [("load_data_6", without(LOAD_CALL, "ldname"))]),
    ("add_load", small_case(psslod=[LOAD]), 34.4, [("load_data_5", without(LOAD_CALL, "ldname"))]),
    ("add_load", small_case(psslod=[LOAD]), 34.0, [("load_data_5", without(LOAD_CALL, "ldname"))]),
    ("add_induction_machine", small_case(pssind=[INDUCTION]), 36.0, [("induction_machine_data_2", INDUCTION_CALL)]),
    ("add_induction_machine", small_case(pssind=[INDUCTION]), 35.3,
     [("induction_machine_data", without(INDUCTION_CALL, "indnamear"))]),
]


@pytest.mark.parametrize("adder, case, version, expected", EXACT_CALLS,
                         ids=[f"{adder}-{version}" for adder, _, version, _ in EXACT_CALLS])
def test_exact_engine_calls(recording, adder, case, version, expected):
    engine = recording.engine(version)
    getattr(engine, adder)(case, "main", "small", "out")
    *calls, save = recording.log.calls
    assert [(name, kwargs) for name, args, kwargs in calls] == expected
    assert all(args == () for _, args, _ in calls)
    assert save[0] == "save"


@pytest.mark.parametrize(
    "version, call, expected",
    [(36.2, "machine_chng_5", MACHINE_CHANGE_CALL), (36.0, "machine_chng_5", MACHINE_CHANGE_CALL),
     (35.5, "machine_chng_4", MACHINE_CHANGE_CALL), (35.3, "machine_chng_4", MACHINE_CHANGE_CALL),
     (35.0, "machine_chng_3", MACHINE_CHANGE_CALL), (34.0, "machine_chng_2", MACHINE_CHANGE_CALL)],
)
def test_modify_gen_changes_reactive_power_and_saves_nothing(recording, version, call, expected):
    engine = recording.engine(version)
    second = dict(GEN, IDE="2 ", QG=0.5, QT=0.625, QB=-0.25)
    assert engine.modify_gen(small_case(pssgen=[GEN, second])) is None
    assert recording.log.calls == [
        (call, (), expected),
        (call, (), dict(expected, id="2 ", realar2=50.0, realar3=62.5, realar4=-25.0)),
    ]


# adder, infix, table, rows, scripted results per engine call, expected status items in order
STATUS = [
    ("add_buses", "_added_bus_", "pssbus", [BUS, dict(BUS, NUM=1002), BUS], {"bus_data_4": [0, 3, 5]},
     [("total_bus", 3), ("1001", 5), ("1002", 3)]),
    ("add_line_branch", "_added_line_", "casbrn", [LINE, LINE, dict(LINE, FRMBUS=1002, TOBUS=1003, CKT="2")],
     {"branch_data_3": [1, 0, 4]},
     [("total_line_branch", 3), ("1001 to 1002, Ckt:1 ", 0), ("1002 to 1003, Ckt:2", 4)]),
    ("add_trn_branch", "_added_trn_", "castrn", [TWO_WINDING, THREE_WINDING],
     {"two_winding_data_6": [(2, [])], "three_wnd_imped_data_4": [(8, [])],
      "three_wnd_winding_data_5": [(0, []), (6, []), (0, [])]},
     [("total_trn_branch", 2), ("1001 to 1002, Ckt:T1", 2), ("1001 to 1002 to 1003, Id:3W", 8),
      ("1001 to 1002 to 1003 WINDING 1, Ckt:3W", 0), ("1001 to 1002 to 1003 WINDING 2, Ckt:3W", 6),
      ("1001 to 1002 to 1003 WINDING 3, Ckt:3W", 0)]),
    ("add_gen", "_added_gen_", "pssgen", [dict(GEN, IDE="1"), dict(GEN, IDE="2")],
     {"plant_data_4": [1, 2], "machine_data_4": [0, 3]},
     [("total_gen", 2), ("Plant 1001", 2), ("Gen 1001, Id:1", 0), ("Gen 1001, Id:2", 3)]),
    ("add_fixed_shunt", "_added_fixed_shunt_", "pssfsh", [FIXED_SHUNT, dict(FIXED_SHUNT, ID="2")],
     {"shunt_data": [0, 9]}, [("total_fsh", 2), ("Fixed Shunt 1001, Id:1 ", 0), ("Fixed Shunt 1001, Id:2", 9)]),
    ("add_switched_shunt", "_added_switched_shunt_", "psswsh", [SWITCHED_SHUNT], {"switched_shunt_data_5": [4]},
     [("total_swsh", 1), ("Switched Shunt 1003, Id:S1", 4)]),
    ("add_load", "_added_load_", "psslod", [LOAD, dict(LOAD, ID="L2"), LOAD], {"load_data_6": [1, 2, 3]},
     [("total_lod", 3), ("Load 1002, Id:L1", 3), ("Load 1002, Id:L2", 2)]),
    ("add_induction_machine", "_added_ind_", "pssind", [INDUCTION], {"induction_machine_data": [5]},
     [("total_ind", 1), ("Induction Machine 1002, Id:M1", 5)]),
]


@pytest.mark.parametrize("adder, infix, table, rows, script, expected", STATUS, ids=[row[0] for row in STATUS])
def test_status_dictionary_and_save_name(recording, tmp_path, adder, infix, table, rows, script, expected):
    engine = recording.engine(35.5)
    recording.log.script.update(script)
    status = getattr(engine, adder)(small_case(**{table: rows}), "main_a", 7, str(tmp_path))
    assert type(status) is dict
    assert list(status.items()) == expected
    assert recording.log.calls[-1] == ("save", (os.path.join(str(tmp_path), "main_a" + infix + "7"),), {})
    assert recording.log.names().count("save") == 1


@pytest.mark.parametrize("adder, table, total_key", [(row[0], row[2], row[5][0][0]) for row in STATUS])
def test_empty_table_still_saves(recording, adder, table, total_key):
    engine = recording.engine(36.2)
    assert getattr(engine, adder)(small_case(), "m", "s", "dir") == {total_key: 0}
    assert recording.log.names() == ["save"]


def test_switched_shunts_below_34_4_are_recorded_as_not_added(recording):
    engine = recording.engine(34.2)
    status = engine.add_switched_shunt(small_case(psswsh=[SWITCHED_SHUNT, dict(SWITCHED_SHUNT, ID="S2")]), "m", "s", "d")
    assert status == {"total_swsh": 2, "Switched Shunt 1003, Id:S1": NO_ENGINE_CALL_FOR_VERSION,
                      "Switched Shunt 1003, Id:S2": NO_ENGINE_CALL_FOR_VERSION}
    assert NO_ENGINE_CALL_FOR_VERSION != 0
    assert recording.log.names() == ["save"]


def test_count_attributes_are_used_as_given(recording):
    engine = recording.engine(35.5)
    case = small_case(casbrn=[LINE, dict(LINE, CKT="2")], castrn=[TWO_WINDING, TWO_WINDING_BOTH])
    case.cas_nbrn, case.cas_ntrn = 1, 0
    assert engine.add_line_branch(case, "m", "s", "d") == {"total_line_branch": 1, "1001 to 1002, Ckt:1 ": 0}
    assert engine.add_trn_branch(case, "m", "s", "d") == {"total_trn_branch": 0}


def test_columns_of_newer_versions_are_not_read_by_older_ones(recording):
    engine = recording.engine(34.0)
    old_gen = without(GEN, "NREG", "BASLOD", "MCNAME")
    old_transformer = without(THREE_WINDING, "NOD", "ZCOD")
    assert engine.add_gen(small_case(pssgen=[old_gen]), "m", "s", "d")["Gen 1001, Id:1 "] == 0
    assert engine.add_trn_branch(small_case(castrn=[old_transformer]), "m", "s", "d")["total_trn_branch"] == 1
    assert engine.add_load(small_case(psslod=[without(LOAD, "LDNAME")]), "m", "s", "d")["Load 1002, Id:L1"] == 0


def without_column(table, column):
    return {key: values for key, values in table.items() if key != column}


# adder, table, columns with a fault, version, exception, message, engine calls made before the fault
FAULTS = [
    ("add_load", "psslod", without_column(columns(LOAD, LOAD), "LDNAME"), 36.0, KeyError,
     "add_load: table psslod has no column LDNAME", 0),
    ("add_load", "psslod", columns(LOAD, dict(LOAD, LOAD=[0.5j, 0.25j])), 35.5, IndexError,
     "add_load: table psslod, column LOAD, row 1: ", 1),
    ("add_trn_branch", "castrn", columns(TWO_WINDING, dict(THREE_WINDING, RATINGS=[[1.0] * 12, [1.0] * 11, [0.0]])),
     35.5, IndexError, "add_trn_branch: table castrn, column RATINGS, row 1", 3),
    ("add_gen", "pssgen", columns(GEN, dict(GEN, OWNER=[1, 2, 3])), 36.2, IndexError,
     "add_gen: table pssgen, column OWNER, row 1", 3),
    ("add_switched_shunt", "psswsh", columns(SWITCHED_SHUNT, dict(SWITCHED_SHUNT, BI=[0.5] * 7)), 35.0, IndexError,
     "add_switched_shunt: table psswsh, column BI, row 1", 1),
    ("add_fixed_shunt", "pssfsh", columns(FIXED_SHUNT, dict(FIXED_SHUNT, SHUNT=None)), 36.0, AttributeError,
     "add_fixed_shunt: table pssfsh, column SHUNT, row 1", 1),
]


@pytest.mark.parametrize("adder, table, faulty, version, error, message, sent", FAULTS, ids=[f[0] for f in FAULTS])
def test_a_fault_in_the_table_raises_naming_it_and_saves_nothing(recording, adder, table, faulty, version, error,
                                                                  message, sent):
    engine = recording.engine(version)
    case = small_case()
    setattr(case, table, faulty)
    case.cas_nbrn = case.cas_ntrn = 2
    with pytest.raises(error, match=message):
        getattr(engine, adder)(case, "m", "s", "d")
    assert len(recording.log.calls) == sent
    assert "save" not in recording.log.names()


def test_missing_table_and_short_columns_are_named(recording):
    engine = recording.engine(35.5)
    with pytest.raises(AttributeError, match="add_switched_shunt: the small case has no table psswsh"):
        engine.add_switched_shunt(SimpleNamespace(), "m", "s", "d")
    case = small_case(casbrn=[LINE])
    case.cas_nbrn = 2
    with pytest.raises(IndexError, match="add_line_branch: table casbrn, column FRMBUS, row 1"):
        engine.add_line_branch(case, "m", "s", "d")
    assert recording.log.names() == ["branch_data_3"]
