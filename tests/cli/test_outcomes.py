"""Study outcomes that tell the truth, on real workbooks, the IEEE 118-bus main cases and the
demo's plant models, solved by the embedded engine.

Each study runs `gridfold run` in this process (the engine is process-wide, like the
engine it stands in for); `psspy` is re-initialised by the fixture before each test. The
outcome, the exit status and the summary are checked against the run record and against
the saved cases themselves.
"""
import csv
import json
import os
import shutil

import openpyxl
import pytest

from gridfold import cli, demo
from gridfold.workbook import write_workbook

MAIN = "ieee118_peak"
PLANTS = {name.split(".")[0]: (bus, build) for name, bus, build in demo.SMALL_CASES}


class Study:
    """A study folder: main cases copied from the package, plants built with the demo's
    builders (optionally changed by `extra(builder)`), and a workbook."""

    def __init__(self, root, plants=("solar_a",), mains=(MAIN,), extra=None, rows=None, **workbook):
        self.root = str(root)
        self.main_dir = os.path.join(self.root, "main_cases")
        self.small_dir = os.path.join(self.root, "small_cases")
        self.results = os.path.join(self.root, "results")
        os.makedirs(self.main_dir)
        os.makedirs(self.small_dir)
        for main in mains:
            shutil.copyfile(os.path.join(demo.EXAMPLES_PATH, main + ".sav"), os.path.join(self.main_dir, main + ".sav"))
        psspy = demo.embedded_psspy()
        for plant in plants:
            file_name, build = (plant, PLANTS[plant][1]) if isinstance(plant, str) else plant
            builder = demo.SmallCaseBuilder(psspy, file_name)
            build(builder)
            if extra and file_name in extra:
                extra[file_name](builder)
            builder.save(os.path.join(self.small_dir, file_name + ".sav"))
        self.workbook = os.path.join(self.root, "study.xlsx")
        if rows is None:
            rows = [("yes", "small_cases", p if isinstance(p, str) else p[0],
                     PLANTS[p if isinstance(p, str) else p[2]][0]) for p in plants]
        write_workbook(self.workbook, main_rows=[("yes", "main_cases", m + ".sav") for m in mains], case_rows=rows,
                       results_folder="results", **workbook)
        self.originals = self.main_files()

    def main_files(self):
        contents = {}
        for name in sorted(os.listdir(self.main_dir)):
            with open(os.path.join(self.main_dir, name), "rb") as stream:
                contents[name] = stream.read()
        return contents

    def run(self, capsys):
        capsys.readouterr()
        code = cli.main(["run", self.workbook])
        out, err = capsys.readouterr()
        return code, out, err

    def record(self):
        with open(os.path.join(self.results, "run_record.json"), encoding="utf-8") as stream:
            return json.load(stream)

    def pair(self, small, main=MAIN):
        [pair] = [p for p in self.record()["pairs"] if p["small_case"] == small and p["main_case"] == main]
        return pair

    def summary(self):
        with open(os.path.join(self.root, "summary.csv"), newline="") as stream:
            return list(csv.DictReader(stream))

    def path(self, small, name, main=MAIN):
        return os.path.join(self.results, small, main, name)


def machines_at(caspy, path, bus):
    gen = caspy.Savecase(path).pssgen
    return {ident.strip(): (round(pg * 100, 6), round(qt * 100, 6), round(vs, 6))
            for num, ident, pg, qt, vs in zip(gen["NUM"], gen["IDE"], gen["PG"], gen["QT"], gen["VS"]) if num == bus}


def loads_at(caspy, path, bus):
    lod = caspy.Savecase(path).psslod
    return {ident.strip(): round(load[0].real * 100, 6) for num, ident, load in zip(lod["NUM"], lod["ID"], lod["LOAD"])
            if num == bus}


def grid_equivalent(ident):
    """What plant developers' models usually hold at the connecting bus: a system-equivalent
    machine with huge reactive limits and a load."""
    def add(builder):
        builder.machine(49, 0.0, 9999.0, -9999.0, 0.0, 1000.0, ident=ident, pg=0.0)
        builder.load(49, 1.0, 0.0, ident=ident)
    return add


@pytest.mark.parametrize("ident", ["1", "9"], ids=["same-identifier", "new-identifier"])
def test_equipment_at_the_connecting_bus_never_reaches_the_main_case(tmp_path, psspy, caspy, capsys, ident):
    study = Study(tmp_path, extra={"solar_a": grid_equivalent(ident)})
    main_case = os.path.join(study.main_dir, MAIN + ".sav")
    machines_before, loads_before = machines_at(caspy, main_case, 49), loads_at(caspy, main_case, 49)
    assert machines_before and loads_before  # the 118-bus case has a unit and a load at bus 49

    code, out, _ = study.run(capsys)
    assert code == 0
    final = study.path("solar_a", MAIN + "_solved_solar_a_final_solved.sav")
    assert {k: v[0] for k, v in machines_at(caspy, final, 49).items()} == {k: v[0] for k, v in machines_before.items()}
    assert {k: (v[1], v[2]) for k, v in machines_at(caspy, final, 49).items()} == {
        k: (v[1], v[2]) for k, v in machines_before.items()}
    assert loads_at(caspy, final, 49) == loads_before

    pair = study.pair("solar_a")
    assert pair["outcome"] == "fully solved"
    assert sorted(map(tuple, (e["ids"] for e in pair["elements"]["left_out_at_connecting_bus"]))) == [
        (49, ident), (49, ident)]
    assert {e["kind"] for e in pair["elements"]["left_out_at_connecting_bus"]} == {"generators", "loads"}
    with open(study.path("solar_a", f"{MAIN}_status_solar_a.txt")) as stream:
        report = stream.read()
    section = report.split("Left_Out_At_Connecting_Bus:\n")[1]
    assert f"    Gen 49, Id:{ident}: left out" in section and f"    Load 49, Id:{ident}: left out" in section
    assert "Gen 49" not in report.split("Generator_Status:\n")[1].split("\n\n")[0]
    assert "Left out 2 element(s) of solar_a at connecting bus 49 (they model the grid at that bus)" in out.splitlines()
    assert study.main_files() == study.originals


@pytest.mark.parametrize("workbook_bus, poi, missing_from", [
    (48, 49, "small case"),         # a typo in the workbook
    (49, 4949, "small case"),       # the plant numbers its point of interconnection differently
    (99999, 99999, "main case"),    # no such bus in the main network
], ids=["typo", "own-poi-number", "not-in-main"])
def test_a_connecting_bus_missing_from_either_case_stops_before_any_output(tmp_path, psspy, capsys, workbook_bus, poi,
                                                                             missing_from):
    def build(builder):
        demo.build_solar(_Renumbered(builder, {49: poi}))
    study = Study(tmp_path, plants=[("solar_a", build)], rows=[("yes", "small_cases", "solar_a", workbook_bus)])
    code, _, err = study.run(capsys)
    assert code == 2
    assert f"small_cases row 2: connecting bus {workbook_bus} is not a bus of {missing_from} file" in err
    assert ("solar_a.sav" if missing_from == "small case" else MAIN + ".sav") in err
    assert not os.path.exists(study.results)
    assert study.main_files() == study.originals


class _Renumbered:
    """A builder that gives some buses other numbers."""

    def __init__(self, builder, numbers):
        self._builder, self._numbers = builder, numbers

    def __getattr__(self, name):
        call = getattr(self._builder, name)

        def renumbered(*args, **kwargs):
            args = [self._numbers.get(a, a) if isinstance(a, int) else a for a in args]
            return call(*args, **kwargs)
        return renumbered


def test_a_plant_left_islanded_is_never_fully_solved(tmp_path, psspy, caspy, capsys):
    def add_stranded_bus(builder):
        builder.bus(2099, "SOLAR A AUX", 34.5)   # joined to nothing: stays cut off
        builder.load(2099, 0.2, 0.05)
    study = Study(tmp_path, extra={"solar_a": add_stranded_bus})
    code, out, _ = study.run(capsys)
    pair = study.pair("solar_a")
    assert (code, pair["outcome"], pair["exit_class"]) == (1, "islanded", 1)
    assert pair["islanded_buses"] == [2099]
    final = study.path("solar_a", MAIN + "_solved_solar_a_final_solved.sav")
    ide = dict(zip(caspy.Savecase(final).pssbus["NUM"], caspy.Savecase(final).pssbus["IDE"]))
    assert ide[2099] == 4 and ide[2001] != 4
    assert study.summary()[0]["solve"] == "islanded"
    assert "islanded: 1 bus(es) of solar_a are not joined to the swing bus of ieee118_peak: [2099]" in out


def test_refused_elements_make_the_outcome_partial_and_the_exit_status_1(tmp_path, psspy, capsys):
    study = Study(tmp_path, psse_init=120)  # room for 2 of the plant's buses only
    code, out, _ = study.run(capsys)
    pair = study.pair("solar_a")
    refused = pair["elements"]["refused"]
    assert refused and all(e["code"] != 0 for e in refused)
    assert pair["outcome"] == f"solved, {len(refused)} elements refused"
    assert code == 1
    # "elements added" counts what the engine accepted, and the summary says so
    [row] = study.summary()
    accepted = sum(pair["elements"]["accepted"].values())
    assert int(row["elements_added"]) == accepted and int(row["refused_calls"]) == len(refused)
    assert int(row["buses"]) == 2
    assert f"{accepted} ({len(refused)} refused)" in out


def test_two_rows_sharing_a_results_folder_are_refused(tmp_path, psspy, capsys):
    study = Study(tmp_path, plants=("solar_a",))
    os.makedirs(os.path.join(study.root, "other"))
    shutil.copyfile(os.path.join(study.small_dir, "solar_a.sav"), os.path.join(study.root, "other", "solar_a.sav"))
    write_workbook(study.workbook, main_rows=[("yes", "main_cases", MAIN + ".sav")],
                   case_rows=[("yes", "small_cases", "solar_a", 49), ("yes", "other", "solar_a.sav", 49)],
                   results_folder="results")
    code, _, err = study.run(capsys)
    assert code == 2
    assert "small_cases row 2 and small_cases row 3 would share the results folder" in err
    assert not os.path.exists(study.results)


@pytest.mark.parametrize("change, names", [
    ("all-disabled", ["main_cases", "small_cases"]),
    ("misspelt-sheet", ["small_casse"]),
], ids=["every-row-disabled", "control-names-a-missing-sheet"])
def test_a_run_with_nothing_to_do_says_why(tmp_path, psspy, capsys, change, names):
    study = Study(tmp_path)
    book = openpyxl.load_workbook(study.workbook)
    if change == "all-disabled":
        book["small_cases"]["A2"] = "y"  # neither yes nor no
    else:
        control = book["control"]
        for row in control.iter_rows(min_row=2):
            if row[0].value == "small_cases":
                row[0].value = "small_casse"
    book.save(study.workbook)
    code, out, err = study.run(capsys)
    assert code == 2
    assert "nothing to run" in err and "MAIN_INPUT" in err and "CASE_INPUT" in err
    assert "'small_cases'" in err and all(name in err for name in names)
    if change == "all-disabled":
        assert "'enabled' value 'y' is neither yes nor no" in out and "small_cases row 2" in out
    assert not os.path.exists(study.results)


def test_every_saved_case_ends_in_sav_for_a_name_with_a_dot(tmp_path, psspy, capsys):
    study = Study(tmp_path, plants=[("solar_v1.2", demo.build_solar)],
                  rows=[("yes", "small_cases", "solar_v1.2.sav", 49)])
    code, _, _ = study.run(capsys)
    assert code == 0
    folder = os.path.dirname(study.path("solar_v1.2", "x"))
    saved = [n for n in os.listdir(folder) if not n.endswith((".txt", ".json"))]
    assert len(saved) >= 12 and all(n.endswith(".sav") for n in saved), saved
    assert study.pair("solar_v1.2")["outcome"] == "fully solved"


def test_names_stored_as_numbers_are_taken_as_their_text(tmp_path, psspy, capsys):
    study = Study(tmp_path, plants=[("2030", demo.build_solar)], rows=[("yes", "small_cases", 2030, 49),
                                                                       # an empty name cell makes pandas read the
                                                                       # column as reals: 2030.0
                                                                       ("no", "small_cases", None, 49)])
    code, _, err = study.run(capsys)
    assert code == 0, err
    assert study.pair("2030")["outcome"] == "fully solved"
    assert os.path.isfile(study.path("2030", f"{MAIN}_solved_2030_final_solved.sav"))


@pytest.mark.parametrize("name", ["../escape/solar_a", "sub/solar_a.sav", ".."])
def test_a_name_cell_with_a_folder_in_it_is_refused(tmp_path, psspy, capsys, name):
    study = Study(tmp_path, rows=[("yes", "small_cases", name, 49)])
    code, _, err = study.run(capsys)
    assert code == 2
    assert "small_cases row 2" in err and "without folder separators" in err
    assert sorted(os.listdir(study.root)) == ["main_cases", "small_cases", "study.xlsx"]


def test_ctrl_c_prints_one_line_removes_the_working_copy_and_exits_130(tmp_path, psspy, capsys, monkeypatch):
    study = Study(tmp_path)

    def interrupted(**_):
        raise KeyboardInterrupt
    monkeypatch.setattr(psspy, "rsol", interrupted)
    code, _, err = study.run(capsys)
    assert code == 130
    assert err.splitlines() == [
        "gridfold: interrupted at main case ieee118_peak, small case solar_a (small_cases row 2); "
        "temporary copies removed"]
    assert study.main_files() == study.originals  # no working copy left
    pair = study.pair("solar_a")  # the record says where the run stopped
    assert pair["outcome"] == "error" and "KeyboardInterrupt" in study.record()["main_cases"][0]["error"]


def test_outputs_of_an_earlier_run_are_removed_and_nothing_else(tmp_path, psspy, capsys):
    study = Study(tmp_path, plants=("pumped_e",))  # does not solve
    folder = os.path.dirname(study.path("pumped_e", "x"))
    os.makedirs(folder)
    stale = [f"{MAIN}_solved_pumped_e_final_solved.sav", f"{MAIN}_solved_pumped_e_7.sav"]
    for name in stale + ["my_notes.txt"]:
        with open(os.path.join(folder, name), "w") as stream:
            stream.write("earlier")
    with open(os.path.join(study.results, MAIN + "_solved.sav"), "w") as stream:
        stream.write("earlier")
    leftover = os.path.join(study.main_dir, MAIN + "_copy.sav")
    shutil.copyfile(os.path.join(study.main_dir, MAIN + ".sav"), leftover)

    code, out, _ = study.run(capsys)
    assert code == 1
    assert not any(os.path.exists(os.path.join(folder, name)) for name in stale)
    assert not os.path.exists(os.path.join(study.results, MAIN + "_solved.sav"))
    assert os.path.isfile(os.path.join(folder, "my_notes.txt"))
    assert not os.path.exists(leftover)
    assert f"removed {leftover}, a working copy left by an earlier run that was stopped" in out
    assert f"file(s) an earlier run left in {folder}: " in out
    assert sorted(os.listdir(study.main_dir)) == [MAIN + ".sav"]


def test_the_run_record_drives_summary_and_exit_status(tmp_path, psspy, capsys):
    study = Study(tmp_path, plants=("solar_a", "pumped_e"), mains=(MAIN, "ieee118_light"))
    code, out, _ = study.run(capsys)
    record = study.record()
    assert list(record) == ["format", "gridfold_version", "workbook", "engine", "started", "finished", "seconds",
                            "main_cases", "pairs"]
    assert record["engine"] == "embedded" and record["workbook"] == study.workbook
    assert [m["name"] for m in record["main_cases"]] == [MAIN, "ieee118_light"]
    assert [m["row"] for m in record["main_cases"]] == ["main_cases row 2", "main_cases row 3"]
    assert [(p["main_case"], p["small_case"], p["row"]) for p in record["pairs"]] == [
        (m, s, r) for m in (MAIN, "ieee118_light") for s, r in (("solar_a", "small_cases row 2"),
                                                               ("pumped_e", "small_cases row 3"))]
    solar, pumped = record["pairs"][:2]
    assert solar["outcome"] == "fully solved" and solar["exit_class"] == 0
    assert solar["connections_solved"] == solar["connections_total"] == len(solar["connections"]) == 4
    assert all(os.path.isfile(c["saved_case"]) for c in solar["connections"])
    assert all(os.path.isfile(p) for p in solar["saved_cases"])
    assert solar["elements"]["accepted"] == {"buses": 4, "line_branches": 2, "transformers": 2, "generators": 1,
                                             "fixed_shunts": 0, "switched_shunts": 1, "loads": 1,
                                             "induction_machines": 0}
    failed = pumped["connections_solved"]
    assert pumped["outcome"] == f"solved up to connection {failed} (connection {failed + 1} failed)"
    assert pumped["exit_class"] == 1 and not pumped["connections"][failed]["solved"]
    assert os.path.isfile(pumped["unsolved_log"]) and os.path.isfile(pumped["last_solved_case"])
    assert code == 1
    rows = study.summary()
    assert [(r["small_case"], r["solve"], r["exit_class"]) for r in rows] == [
        (p["small_case"], p["outcome"], str(p["exit_class"])) for p in record["pairs"]]
    assert "run record written to " + os.path.join(study.results, "run_record.json") in out


def test_one_pair_alone_writes_its_record_where_asked(tmp_path, psspy, capsys):
    from gridfold.gridfold_main import run_integration
    study = Study(tmp_path, plants=("solar_a", "storage_c"), mains=(MAIN, "ieee118_light"))
    record_path = os.path.join(study.root, "parts", "pair.json")
    cwd = os.getcwd()
    os.chdir(study.root)
    try:
        run_integration(study.root, "study.xlsx", main_cases=[1], small_cases=[1], record_path=record_path)
    finally:
        os.chdir(cwd)
    with open(record_path, encoding="utf-8") as stream:
        record = json.load(stream)
    assert [m["name"] for m in record["main_cases"]] == ["ieee118_light"]
    assert [(p["main_case"], p["small_case"], p["row"], p["outcome"]) for p in record["pairs"]] == [
        ("ieee118_light", "storage_c", "small_cases row 3", "fully solved")]
    assert sorted(os.listdir(study.results)) == ["ieee118_light_solved.sav", "storage_c"]


def test_engine_34_0_adds_no_switched_shunt_and_says_so(tmp_path, psspy, capsys):
    study = Study(tmp_path, psse_version=34.0)
    code, out, _ = study.run(capsys)
    assert ("warning: engine version 34.0 cannot add switched shunts: the 1 switched shunt(s) of solar_a are not "
            "added (version 34.4 or later adds them)") in out
    pair = study.pair("solar_a")
    assert [(e["kind"], e["ids"]) for e in pair["elements"]["refused"]] == [("switched_shunts", [2002, "1"])]
    assert pair["outcome"] == "solved, 1 element refused" and code == 1


@pytest.mark.parametrize("init, expected", [
    (0, "psse_init 0 of "),
    (100, "main case '{main}' has 118 buses, more than psse_init 100 of "),
], ids=["zero", "smaller-than-the-main-case"])
def test_a_bus_capacity_the_engine_cannot_use_is_named(tmp_path, psspy, capsys, init, expected):
    study = Study(tmp_path, psse_init=init)
    code, _, err = study.run(capsys)
    assert code == 2
    assert expected.format(main=os.path.join("main_cases", MAIN + ".sav")) + study.workbook in err
    assert study.main_files() == study.originals


def test_a_main_case_folder_that_cannot_hold_the_working_copy_is_named(tmp_path, psspy, capsys, monkeypatch):
    from gridfold import gridfold_misc

    def read_only_folder(source_file):
        raise PermissionError(13, "Permission denied", source_file.replace(".sav", "_copy.sav"))
    monkeypatch.setattr(gridfold_misc, "copy_and_rename", read_only_folder)
    study = Study(tmp_path)
    code, _, err = study.run(capsys)
    assert code == 2
    assert (f"cannot write the working copy of main case '{os.path.join('main_cases', MAIN + '.sav')}' beside it: "
            "its folder is not writable (the main case itself is only read)") in err


def test_a_case_file_with_text_that_is_not_utf8_is_named(tmp_path, psspy, capsys):
    study = Study(tmp_path)
    path = os.path.join(study.small_dir, "solar_a.sav")
    with open(path, "rb") as stream:
        data = stream.read()
    with open(path, "wb") as stream:
        stream.write(data.replace(b"SOLAR A HV", b"SOLAR \xff HV"))
    code, _, err = study.run(capsys)
    assert code == 2
    assert f"case file '{path}' holds text that is not UTF-8" in err
    assert not os.path.exists(study.results)


def test_an_interrupt_while_the_workbook_is_read_stays_an_interrupt(tmp_path, monkeypatch):
    import pandas

    from gridfold.gridfold_rc import ReadConfigFile
    study_book = os.path.join(str(tmp_path), "study.xlsx")
    write_workbook(study_book, main_rows=[], case_rows=[])

    def interrupted(*args, **kwargs):
        raise KeyboardInterrupt
    monkeypatch.setattr(pandas, "read_excel", interrupted)
    with pytest.raises(KeyboardInterrupt):
        ReadConfigFile(str(tmp_path), "study.xlsx")


def test_a_workbook_without_control_sheet_says_so(tmp_path):
    from gridfold.gridfold_main import run_integration
    book = openpyxl.Workbook()
    book.active.append(["attribute description", "attribute value"])
    book.save(tmp_path / "plain.xlsx")
    with pytest.raises(UnboundLocalError, match="the workbook has no control sheet: a sheet with the labels SHEET NAME"):
        run_integration(str(tmp_path), "plain.xlsx")
