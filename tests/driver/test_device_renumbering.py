"""A small case carrying dc lines, FACTS devices, a multi-section line and a substation, run
on the embedded engine: renumbering reaches every bus those records name.

run_integration runs in this process on the embedded engine; the test wraps the network
utilities' renumber_buses (the run looks it up when it calls it) to keep the renumbered case
data object it hands to the adders.
"""
import os

import gridfold
from gridfold.gridfold_main import run_integration
from helpers import engine_cases
from helpers.workbooks import study_workbook

HV, COLLECTOR, INVERTER, DUMMY = 201, 105, 1003, 102  # all but 1003 are main-case buses
POI = 104

MULTI_SECTION = f"{HV},{COLLECTOR},'&1',1,{DUMMY}\n"
SUBSTATION = "\n".join([
    "1,'PLANT SUB',45.5,-73.6,0.1",
    f"1,'NODE 1',{HV},1,1.0,0.0",
    f"2,'NODE 2',{COLLECTOR},1,1.0,0.0",
    "0 / END OF SUBSTATION NODE DATA, BEGIN SUBSTATION SWITCHING DEVICE DATA",
    "0 / END OF SUBSTATION SWITCHING DEVICE DATA, BEGIN SUBSTATION EQUIPMENT TERMINAL DATA",
    "0 / END OF SUBSTATION EQUIPMENT TERMINAL DATA", ""])


def _ok(result):
    assert result == 0, result


def save_plant_with_devices(psspy, path):
    """The solar plant on buses 201, 105 and 1003, a dummy bus 102 between 201 and 105, a
    two-terminal and a VSC dc line, a shunt and a series FACTS device, bus 201 as the area's
    slack bus, then a GNE device, a multi-section line grouping and a substation written into
    the file."""
    _ok(psspy.psseinit(buses=1000))
    engine_cases.build_solar_plant(psspy, poi_bus=POI, buses=(HV, COLLECTOR, INVERTER))
    _ok(psspy.bus_data_4(DUMMY, 0, [1, 1, 1, 1], [34.5, 1.0, 0.0, 1.1, 0.9, 1.1, 0.9], "DUMMY"))
    for i, j in ((HV, DUMMY), (DUMMY, COLLECTOR)):
        _ok(psspy.branch_data_3(i, j, "&1", realar1=0.001, realar2=0.01))
    _ok(psspy.two_terminal_dc_line_data("DC1", intgar1=1, intgar2=COLLECTOR, intgar3=1, intgar4=HV, intgar5=1,
                                        intgar6=INVERTER, realar1=20.0, realar2=100.0, realar4=5.0))
    _ok(psspy.vsc_dc_line_data("VSC1", realar1=1.0))
    _ok(psspy.vsc_dc_converter_data("VSC1", 1, ibus=HV, intgar1=1, intgar3=COLLECTOR, realar1=100.0))
    _ok(psspy.vsc_dc_converter_data("VSC1", 2, ibus=INVERTER, intgar1=2, realar1=-10.0))
    _ok(psspy.facts_data("SVC1", ibus=HV, jbus=0, intgar4=COLLECTOR))
    _ok(psspy.facts_data("UPFC1", ibus=COLLECTOR, jbus=HV, realar1=5.0))
    _ok(psspy.area_data(1, intgar1=HV, arname="PLANT"))
    _ok(psspy.save(path))
    with open(path) as stream:
        text = stream.read()
    for end, record in (("0 / END OF MULTI-SECTION LINE DATA", MULTI_SECTION), ("0 / END OF SUBSTATION DATA", SUBSTATION),
                        ("0 / END OF GNE DATA", f"'GNE1','MODEL1',2,{HV},{INVERTER},0,0,0\n1,1,1\n")):
        assert text.count(end) == 1
        text = text.replace(end, record + end)
    with open(path, "w") as stream:
        stream.write(text)
    return path


# Columns naming buses in the records beyond the element tables
DEVICE_COLUMNS = {("pssare", "ISW"), ("pss2dc", "RECBUS"), ("pss2dc", "INVBUS"), ("pss2dc", "CTLBUS"), ("pssvsc", "BUS1"),
                  ("pssvsc", "BUS2"), ("pssvsc", "VSREG"), ("pssfac", "FRMBUS"), ("pssfac", "TOBUS"),
                  ("pssfac", "FCREG"), ("pssmsl", "FRMBUS"), ("pssmsl", "TOBUS"), ("pssmsl", "DUMBUS"),
                  ("pssmsl", "METBUS"), ("pssgne", "BUSES"), ("psssub", "NUM")}


def _numbers(column):
    for value in column:
        yield from (value if isinstance(value, list) else [value])


def test_device_buses_follow_the_renumbering_through_a_run(tmp_path, psspy, caspy, monkeypatch):
    main_dir, small_dir, results = (os.fspath(tmp_path / name) for name in ("main", "small", "results"))
    os.makedirs(main_dir)
    os.makedirs(small_dir)
    engine_cases.save_main_case(psspy, os.path.join(main_dir, "Base.sav"))
    small_path = save_plant_with_devices(psspy, os.path.join(small_dir, "Plant.sav"))
    before = caspy.Savecase(small_path)
    assert before.pssmsl["DUMBUS"] == [[DUMMY] + [0] * 8] and before.psssub["NUM"] == (HV, COLLECTOR)

    # The driver renumbers the case data object it read, in place: keep the objects it makes.
    made = []

    class KeptSavecase(caspy.Savecase):
        def __init__(self, path):
            super().__init__(path)
            made.append(self)

    monkeypatch.setattr(caspy, "Savecase", KeptSavecase)
    workbook = study_workbook(os.fspath(tmp_path), psse_path=gridfold.EMBEDDED_ENGINE_PATH, results_folder=results,
                              main_cases=[("yes", main_dir, "Base.sav")],
                              small_cases=[(1, small_dir, "Plant", POI)])
    run_integration(os.fspath(tmp_path), workbook)

    # The small case is read more than once (checks before the run); one object is renumbered.
    [case] = [c for c in made if os.path.basename(c.path).lower() == "plant.sav" and c.pssbus["NUM"] != before.pssbus["NUM"]]
    # The renumber map, from the bus names (the bus table is in bus-number order).
    old_of = dict(zip(before.pssbus["NAME"], before.pssbus["NUM"]))
    assert len(old_of) == len(before.pssbus["NUM"])
    mapping = {old_of[name]: new for name, new in zip(case.pssbus["NAME"], case.pssbus["NUM"]) if old_of[name] != new}
    assert mapping == {DUMMY: 900000, COLLECTOR: 900001, HV: 900002}  # bus table order
    new_hv, new_collector, new_dummy = mapping[HV], mapping[COLLECTOR], mapping[DUMMY]
    assert (case.pss2dc["RECBUS"], case.pss2dc["INVBUS"]) == ((new_collector,), (new_hv,))
    assert case.pss2dc["CTLBUS"] == [[INVERTER, 0, 0, 0, 0, 0]]
    assert (case.pssvsc["BUS1"], case.pssvsc["BUS2"], case.pssvsc["VSREG"]) == ((new_hv,), (INVERTER,),
                                                                                [[new_collector, 0]])
    assert case.pssfac["FRMBUS"] == (new_hv, new_collector) and case.pssfac["TOBUS"] == (0, new_hv)
    assert case.pssfac["FCREG"] == (new_collector, 0)
    assert (case.pssmsl["FRMBUS"], case.pssmsl["TOBUS"], case.pssmsl["METBUS"]) == ((new_hv,), (new_collector,),
                                                                                    (new_hv,))
    assert case.pssmsl["DUMBUS"] == [[new_dummy] + [0] * 8]
    assert case.pssgne["BUSES"] == [[new_hv, INVERTER]]
    assert case.psssub["NUM"] == (new_hv, new_collector)
    assert case.pssare["ISW"] == (new_hv,)
    # Every bus a device names is a bus of the renumbered case; no old number is left.
    buses = set(case.pssbus["NUM"])
    for table, column in DEVICE_COLUMNS:
        named = {bus for bus in _numbers(getattr(case, table)[column]) if bus}
        assert named and named <= buses and not named & set(mapping), (table, column)
    # The tables read from the file stay as they were: renumbering replaces, never edits.
    assert before.pss2dc["RECBUS"] == (COLLECTOR,)
    assert os.path.isfile(os.path.join(results, "plant", "base", "base_added_plant.sav"))
