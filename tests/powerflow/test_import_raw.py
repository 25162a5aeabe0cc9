"""Reading RAW files of versions 32 to 34 into the embedded engine, and writing them back.

The RAW files shipped with the andes package are data nobody here wrote; andes also reads
and solves them, so its bus voltages are an independent check of both reading and
solving. Hand-written files below exercise the format's roughness that those files lack.
"""
import glob
import os
import random
import warnings

import pytest

from helpers.import_checks import (
    assert_case_unchanged,
    bus_voltages,
    element_counts,
    saved_text,
    solve_tight,
)


def _andes():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        andes = pytest.importorskip("andes", reason="andes (test extra) supplies the RAW files")
        andes.config_logger(stream_level=50)
    return andes


def _andes_raw_files():
    try:
        import andes  # noqa: F401  (only to locate its case folder)
    except ImportError:
        return []
    folder = os.path.join(os.path.dirname(andes.__file__), "cases")
    return sorted(glob.glob(os.path.join(folder, "*", "*.raw")))


ANDES_RAW = _andes_raw_files()
# Files andes ships to test its parser only: its solution of wscc9_3wxfr differs from ours by
# degrees even when the three-winding transformer is replaced by its star equivalent of
# two-winding transformers, which we solve to the same voltages as the original.
ANDES_PARSER_TESTS = {"wscc9_3wxfr.raw"}
needs_andes = pytest.mark.skipif(not ANDES_RAW, reason="andes (test extra) is not installed")


def _andes_case(andes, path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        system = andes.load(path, setup=True, no_output=True, default_config=True)
        system.PFlow.config.tol = 1e-10
        converged = system.PFlow.run()
    return system, converged


@needs_andes
@pytest.mark.parametrize("path", ANDES_RAW, ids=os.path.basename)
def test_andes_raw_file_reads_whole_and_solves_like_andes(psspy, caspy, tmp_path, path):
    andes = _andes()
    assert psspy.read(0, path) == 0
    counts = element_counts(psspy, caspy, tmp_path)
    system, converged = _andes_case(andes, path)

    # Every element andes holds is in the working case: andes keeps one Line per branch,
    # two-winding transformer and winding of a three-winding transformer, and one Shunt
    # per fixed or switched shunt.
    assert counts["buses"] == sum(1 for bus in system.Bus.idx.v if bus in counts["bus_numbers"])
    assert counts["loads"] == system.PQ.n
    assert counts["machines"] == system.PV.n + system.Slack.n
    assert counts["lines"] + counts["two_winding"] + 3 * counts["three_winding"] == system.Line.n
    assert counts["fixed_shunts"] + counts["switched_shunts"] == system.Shunt.n

    assert solve_tight(psspy) == 0
    if not converged or os.path.basename(path) in ANDES_PARSER_TESTS:
        return  # andes itself does not solve this case: nothing to compare with
    ours = bus_voltages(psspy, [int(b) for b in system.Bus.idx.v if int(b) in counts["bus_numbers"]])
    import numpy as np

    for bus, vm, va in zip(system.Bus.idx.v, system.Bus.v.v, np.degrees(system.Bus.a.v)):
        if int(bus) not in ours:
            continue  # andes's own star point of a three-winding transformer
        assert ours[int(bus)][0] == pytest.approx(vm, abs=1e-5), "bus %s magnitude" % bus
        assert ours[int(bus)][1] == pytest.approx(va, abs=1e-3), "bus %s angle" % bus


# A version 33 file as people write and edit them: annotations, comments, quoted text
# holding commas and slashes, blank- and comma-separated fields mixed, empty and missing
# trailing fields, Windows line ends on some lines only (and, when written so, a byte order
# mark).
ROUGH_V33_LINES = [
    "@! IC, SBASE, REV, XFRRAT, NXFRAT, BASFRQ",
    "0,   100.00, 33, 0, 1, 50.00     / edited by hand",
    "HEADING ONE, with a comma / and a slash",
    "",
    "@!   I,'NAME        ', BASKV, IDE,AREA,ZONE,OWNER, VM, VA",
    "101,'NORTH, 1/A  ', 138.0, 3, 1, 1, 1, 1.02, 0.0 / the swing bus",
    "102 'SOUTH 2'  138.0  1  2  3  4  1.0  -2.0",
    '103,"EAST, 3",138.0,2,,,,1.01',
    "0 / END OF BUS DATA, BEGIN LOAD DATA",
    "102,'1 ',1,2,3,50.0,20.0",
    "103,'L2',1,,, 10.0, 5.0 ,,,,,,,",
    "0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA",
    "102, 'S1', 1, 0.0, 12.5",
    "0",
    "101,'1',0,0,999,-999,1.02,0,100",
    "103,'G1', 40.0, 0.0, 50.0, -50.0, 1.01, 0, 100.0, 0, 0.2",
    "0 / END OF GENERATOR DATA",
    "101,102,'1',0.01,0.1,0.02,100,110,120",
    "102 103 '2' 0.02 0.2 0.0",
    "0 / END OF BRANCH DATA",
    "101,103,0,'T1',1,1,1,0,0,2,'XF, 1/2',1",
    "0.0,0.05,100",
    "1.025,0,0",
    "1.0,0",
    "0 / END OF TRANSFORMER DATA",
    "1, 101, 0.0, 10.0, 'AREA ONE'",
    "0 / END OF AREA DATA",
    "0", "0", "0", "0", "0",
    "1,'ZONE, A'",
    "2,'ZONE B'",
    "0 / END OF ZONE DATA",
    "0",
    "0",
    "0",
    "103,1,0,1,1.05,0.95,0,100,'',0.0, 2, 5.0",
    "0 / END OF SWITCHED SHUNT DATA",
    "0",
    "0",
    "Q",
]


def _write_lines(path, lines, mixed_line_ends=True, byte_order_mark=False):
    text = "".join(line + ("\r\n" if mixed_line_ends and i % 3 == 0 else "\n") for i, line in enumerate(lines))
    path.write_bytes(text.encode("utf-8-sig" if byte_order_mark else "utf-8"))
    return os.fspath(path)


def test_rough_version_33_file_reads_every_field(psspy, caspy, tmp_path, capsys):
    path = _write_lines(tmp_path / "rough.raw", ROUGH_V33_LINES, byte_order_mark=True)
    psspy.progress_output(islct=1)
    assert psspy.read(0, path) == 0
    out = capsys.readouterr().out
    # Every kind of record read is counted; zone 3, used by bus 102, gets a record of its own.
    assert "1 switched shunt, 2 areas, 3 zones, 2 owners" in out
    assert "zone data: 1 records created with default data for numbers in use without one (3)" in out

    assert psspy.save(os.fspath(tmp_path / "rough.sav")) == 0
    case = caspy.Savecase(os.fspath(tmp_path / "rough.sav"))
    buses = dict(zip(case.pssbus["NUM"], zip(case.pssbus["NAME"], case.pssbus["AREA"], case.pssbus["ZONE"],
                                            case.pssbus["OWNER"], case.pssbus["IDE"])))
    assert buses[101] == ("NORTH, 1/A", 1, 1, 1, 3)
    assert buses[102] == ("SOUTH 2", 2, 3, 4, 1)
    # Empty fields take the defaults.
    assert buses[103] == ("EAST, 3", 1, 1, 1, 2)

    loads = {(bus, lid.strip()): (area, zone, load) for bus, lid, area, zone, load in zip(
        case.psslod["NUM"], case.psslod["ID"], case.psslod["AREA"], case.psslod["ZONE"], case.psslod["LOAD"])}
    # A load's missing area and zone are its bus's; powers in per unit on 100 MVA.
    assert loads[(103, "L2")][:2] == (1, 1)
    assert loads[(103, "L2")][2][0] == pytest.approx(complex(0.10, 0.05))
    assert loads[(102, "1")][:2] == (2, 3)

    ierr, vm = psspy.busdat(102, "PU")
    assert ierr == 0 and vm == pytest.approx(1.0)
    assert solve_tight(psspy) == 0


# Version 34: the system-wide block, twelve ratings and names on branches and windings,
# NREG/NODE fields, load distributed generation and a system switching device.
V34_LINES = [
    "0, 100.0, 34, 0, 0, 60.0 / version 34",
    "CASE 34",
    "",
    "GENERAL, THRSHZ=0.0001, PQBRAK=0.7, BLOWUP=5.0",
    "NEWTON, TOLN=0.1, ITMXN=20",
    'RATING, 1, "RATE1 ", "RATING SET 1"',
    "0 / END OF SYSTEM-WIDE DATA, BEGIN BUS DATA",
    "1,'ONE',230.0,3,1,1,1,1.0,0.0,1.1,0.9,1.1,0.9",
    "2,'TWO',230.0,1,1,1,1,1.0,0.0,1.1,0.9,1.1,0.9",
    "3,'THREE',230.0,1,1,1,1,1.0,0.0,1.1,0.9,1.1,0.9",
    "4,'FOUR',115.0,2,1,1,1,1.0,0.0,1.1,0.9,1.1,0.9",
    "0 / END OF BUS DATA, BEGIN LOAD DATA",
    "2,'1',1,1,1,80.0,30.0,0,0,0,0,1,1,0,5.0,2.0,1",
    "0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA",
    "0 / END OF FIXED SHUNT DATA, BEGIN GENERATOR DATA",
    "1,'1',0,0,999,-999,1.0,0,0,100,0,1,0,0,1,1,100,999,-999,1,1,0,1,0,1,0,1,0,1",
    "4,'1',50,0,60,-60,1.02,0,100,0,1,0,0,1,1,100,999,-999,1,1,0,1,0,1,0,1,0,1",
    "0 / END OF GENERATOR DATA, BEGIN BRANCH DATA",
    "1,2,'1',0.01,0.1,0.02,'LINE A',100,110,120,130,0,0,0,0,0,0,0,150,0,0,0,0,1,1,10.0,1,1",
    "0 / END OF BRANCH DATA, BEGIN SYSTEM SWITCHING DEVICE DATA",
    "2,3,'1',0.0001,100,0,0,0,0,0,0,0,0,0,0,0,1,1,1,1,'BREAKER'",
    "0 / END OF SYSTEM SWITCHING DEVICE DATA, BEGIN TRANSFORMER DATA",
    "3,4,0,'1',1,1,1,0,0,2,'TX',1,1,1,0,1,0,1,0,1,''",
    "0.0,0.08,100",
    "1.0,0,0,100,0,0,0,0,0,0,0,0,0,0,200,0,0,0,1.1,0.9,1.1,0.9,33,0,0,0,0",
    "1.0,0",
    "0 / END OF TRANSFORMER DATA, BEGIN AREA DATA",
    "0", "0", "0", "0", "0", "0", "0", "0", "0", "0",
    "4,1,0,1,1.05,0.95,0,0,100,'',10.0,2,5.0",
    "0 / END OF SWITCHED SHUNT DATA, BEGIN GNE DATA",
    "0 / END OF GNE DATA, BEGIN INDUCTION MACHINE DATA",
    "0 / END OF INDUCTION MACHINE DATA, BEGIN SUBSTATION DATA",
    "0 / END OF SUBSTATION DATA",
    "Q",
]


def test_version_34_file_reads_its_own_records(psspy, caspy, tmp_path, capsys):
    path = _write_lines(tmp_path / "v34.raw", V34_LINES, mixed_line_ends=False)
    psspy.progress_output(islct=1)
    assert psspy.read(0, path) == 0
    out = capsys.readouterr().out
    assert "1 branch, 1 system switching device, 1 transformer" in out
    counts = element_counts(psspy, caspy, tmp_path)
    assert (counts["buses"], counts["loads"], counts["machines"]) == (4, 1, 2)
    assert (counts["lines"], counts["two_winding"]) == (2, 1)
    case = caspy.Savecase(os.fspath(tmp_path / "counted.sav"))
    ratings = dict(zip(zip(case.casbrn["FRMBUS"], case.casbrn["TOBUS"]), case.casbrn["RATINGS"]))
    assert ratings[(1, 2)] == [100.0, 110.0, 120.0, 130.0] + [0.0] * 7 + [150.0]
    assert ratings[(2, 3)][0] == 100.0
    # NREG (generator 1, switched shunt) and NODE (winding) are told apart by the field
    # count; a wrong guess would shift every later field.
    machines = dict(zip(case.pssgen["NUM"], zip(case.pssgen["PG"], case.pssgen["MBASE"], case.pssgen["WPF"])))
    assert machines[1] == (0.0, 100.0, 1.0)
    assert machines[4] == (pytest.approx(0.5), 100.0, 1.0)
    assert case.castrn["RATINGS"][0][0][11] == 200.0
    assert (case.castrn["RMAX"][0][0], case.castrn["NTAPS"][0][0]) == (1.1, 33)
    assert (case.psswsh["BINIT"][0], case.psswsh["NI"][0][0], case.psswsh["BI"][0][0]) == (10.0, 2, pytest.approx(0.05))
    # The same file read with the version 33 layouts is not a valid case.
    assert psspy.readrawversion(0, "33", path) != 0


@pytest.mark.parametrize("version", ["33", "32", "34"])
def test_readrawversion_overrides_the_header(psspy, caspy, tmp_path, version):
    lines = list(ROUGH_V33_LINES)
    lines[1] = "0, 100.00, 35, 0, 1, 50.00"  # the header claims 35; the layouts are 33's
    path = _write_lines(tmp_path / "claims35.raw", lines)
    ierr = psspy.readrawversion(0, version, path)
    if str(version) in ("32", "33"):
        assert ierr == 0
        assert element_counts(psspy, caspy, tmp_path)["buses"] == 3
    else:
        assert ierr != 0


def _andes_file(name):
    matches = [path for path in ANDES_RAW if os.path.basename(path) == name]
    if not matches:
        pytest.skip("andes (test extra) with %s is not installed" % name)
    return matches[0]


@needs_andes
@pytest.mark.parametrize("name", ["ieee39.raw", "wscc9_3wxfr.raw", "npcc.raw"])
def test_round_trip_through_raw_35_and_raw_33_keeps_every_element(psspy, caspy, tmp_path, name):
    assert psspy.read(0, _andes_file(name)) == 0
    original = saved_text(psspy, tmp_path / "original.sav")
    original_tables = caspy.Savecase(os.fspath(tmp_path / "original.sav"))

    # Opening the RAW file as a case, or reading it with caspy, gives the same network.
    assert psspy.case(_andes_file(name)) == 0
    assert saved_text(psspy, tmp_path / "opened.sav") == original
    direct = caspy.Savecase(_andes_file(name))
    assert direct.pssbus == original_tables.pssbus and direct.castrn == original_tables.castrn

    for version in ("35", "33"):
        raw = os.fspath(tmp_path / ("out%s.raw" % version))
        assert psspy.writerawversion(version, 0, raw) == 0
        assert psspy.psseinit(buses=150000) == 0
        assert psspy.read(0, raw) == 0
        again = saved_text(psspy, tmp_path / ("again%s.sav" % version))
        assert again == original, "RAW %s round trip changed the case" % version
        tables = caspy.Savecase(os.fspath(tmp_path / ("again%s.sav" % version)))
        for table in ("pssbus", "psslod", "pssfsh", "pssgen", "psswsh", "casbrn", "castrn"):
            assert getattr(tables, table) == getattr(original_tables, table), table


@needs_andes
def test_raw_33_written_by_the_engine_solves_the_same_in_andes(psspy, tmp_path):
    andes = _andes()
    source = _andes_file("ieee14.raw")
    assert psspy.read(0, source) == 0
    written = os.fspath(tmp_path / "ieee14_v33.raw")
    assert psspy.writerawversion("33", 0, written) == 0
    reference, converged = _andes_case(andes, source)
    assert converged
    theirs, converged = _andes_case(andes, written)
    assert converged
    assert list(theirs.Bus.idx.v) == list(reference.Bus.idx.v)
    assert theirs.Bus.v.v == pytest.approx(reference.Bus.v.v, abs=1e-9)
    assert theirs.Bus.a.v == pytest.approx(reference.Bus.a.v, abs=1e-9)


def test_rawd_2_writes_version_35_and_refuses_what_it_cannot_do(psspy, tmp_path):
    path = _write_lines(tmp_path / "rough.raw", ROUGH_V33_LINES)
    assert psspy.read(0, path) == 0
    out = os.fspath(tmp_path / "rawd.raw")
    assert psspy.rawd_2(0, 1, [0, 0, 0, 0, 0, 0, 0], 0, out) == 0
    with open(out, encoding="utf-8") as handle:
        assert handle.readline().split(",")[2].strip() == "35"
    assert psspy.read(0, out) == 0
    assert psspy.rawd_2(0, 0, [0] * 7, 0, os.fspath(tmp_path / "subsystem.raw")) != 0
    assert psspy.writerawversion("34", 0, os.fspath(tmp_path / "v34.raw")) != 0
    assert not os.path.exists(tmp_path / "subsystem.raw")
    assert not os.path.exists(tmp_path / "v34.raw")


def _guaranteed_faults(lines, rng):
    """(description, lines) pairs, each with one fault no reader may accept."""
    bus_start = next(i for i, line in enumerate(lines[3:], 3) if line.strip() and not line.startswith("@!"))
    bus_end = next(i for i in range(bus_start, len(lines)) if lines[i].strip().startswith("0 "))
    load_end = next(i for i in range(bus_end + 1, len(lines)) if lines[i].strip().startswith("0 "))
    faults = []

    def changed(index, new_line, why):
        copy = list(lines)
        copy[index] = new_line
        faults.append(("line %d: %s" % (index + 1, why), copy))

    for _ in range(8):
        i = rng.randrange(bus_start, bus_end)
        fields = lines[i].split(",")
        changed(i, ",".join([fields[0]] + fields[1:2] + ["x%d" % rng.randrange(99)] + fields[3:]), "BASKV not a number")
        changed(i, ",".join(fields[:3] + ["7"] + fields[4:]), "bus type 7")
        changed(i, lines[i].replace("'", "", 1), "unterminated quote")
        copy = list(lines)
        copy.insert(i, lines[i])
        faults.append(("line %d: bus given twice" % (i + 1), copy))
    for _ in range(6):
        i = rng.randrange(bus_end + 1, load_end)
        fields = lines[i].split(",")
        changed(i, ",".join(["99999%d" % rng.randrange(9)] + fields[1:]), "load at a bus that does not exist")
        changed(i, ",".join([fields[0], fields[1], "one"] + fields[3:]), "STATUS not a number")
    changed(0, "1" + lines[0].lstrip()[1:], "IC 1")
    changed(0, lines[0].replace("32", "31", 1), "version 31")
    return faults


@needs_andes
def test_truncated_and_mutated_files_give_an_error_and_leave_the_case(psspy, tmp_path):
    with open(_andes_file("ieee14.raw"), encoding="utf-8") as handle:
        text = handle.read()
    assert psspy.read(0, _andes_file("kundur.raw")) == 0
    reference = saved_text(psspy, tmp_path / "reference.sav")
    rng = random.Random(20240611)
    candidate = tmp_path / "fuzz.raw"

    # Cut anywhere before the transformer data ends: sections are then missing.
    limit = text.index("End of Transformer data")
    cuts = sorted(rng.sample(range(1, limit), 40)) + [0]
    for cut in cuts:
        candidate.write_text(text[:cut], encoding="utf-8")
        assert psspy.read(0, os.fspath(candidate)) != 0, "cut at %d was accepted" % cut
        assert_case_unchanged(psspy, reference, tmp_path / "after.sav")

    for why, lines in _guaranteed_faults(text.splitlines(), rng):
        candidate.write_text("\n".join(lines) + "\n", encoding="utf-8")
        assert psspy.read(0, os.fspath(candidate)) != 0, why
        assert_case_unchanged(psspy, reference, tmp_path / "after.sav")

    for size in (1, 17, 300):
        candidate.write_bytes(bytes(rng.randrange(256) for _ in range(size)))
        assert psspy.read(0, os.fspath(candidate)) != 0
        assert_case_unchanged(psspy, reference, tmp_path / "after.sav")


def test_malformed_file_names_the_line_and_what_was_expected(psspy, tmp_path, capsys):
    lines = list(ROUGH_V33_LINES)
    lines[18] = "102 103 '2' 0.02 zero 0.0"
    path = _write_lines(tmp_path / "bad.raw", lines)
    psspy.progress_output(islct=1)
    assert psspy.read(0, path) != 0
    out = capsys.readouterr().out
    assert "line 19" in out and "X: 'zero' is not a finite number" in out
    assert psspy.read(0, os.fspath(tmp_path / "missing.raw")) != 0
