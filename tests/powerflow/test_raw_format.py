"""The one RAW reader and writer: every section held and written back, byte-identical round
trips, the constant-admittance load sign, the new data calls, and refusals of damaged files.

All tests use the process-wide embedded engine through the `psspy` fixture; the FIFO test
runs the engine in a subprocess so that a hang cannot stop the suite.
"""
import os
import subprocess
import sys
import warnings
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from helpers.import_checks import bus_voltages, solve_tight

DATA = Path(__file__).resolve().parent.parent / "data" / "raw"
EVERY_SECTION_V33 = DATA / "every_section_v33.raw"
# Every section and every field version 35 holds: system-wide data, switching devices,
# substations, node numbers, names, twelve ratings, complex impedance correction factors.
EVERY_SECTION_V35 = DATA / "every_section_v35.raw"


def _andes_raw_files():
    try:
        import andes
    except ImportError:
        return []
    return sorted((Path(andes.__file__).parent / "cases").glob("*/*.raw"))


def _written(psspy, version, path):
    assert psspy.writerawversion(version, 0, os.fspath(path)) == 0
    return Path(path).read_bytes()


def _saved(psspy, path):
    assert psspy.save(os.fspath(path)) == 0
    return Path(path).read_bytes()


def _progress(psspy, capsys, action):
    psspy.progress_output(islct=1)
    capsys.readouterr()
    result = action()
    psspy.progress_output(islct=6)
    return result, capsys.readouterr().out


@pytest.mark.parametrize("path", _andes_raw_files() + [EVERY_SECTION_V33, EVERY_SECTION_V35], ids=lambda p: p.name)
def test_round_trips_are_byte_identical(psspy, tmp_path, path):
    """RAW -> RAW 33 and RAW 35 -> read -> write, and save -> case -> save, give the same bytes."""
    for version in ("33", "35"):
        assert psspy.read(0, os.fspath(path)) == 0
        first = _written(psspy, version, tmp_path / f"first{version}.raw")
        assert psspy.read(0, os.fspath(tmp_path / f"first{version}.raw")) == 0
        assert _written(psspy, version, tmp_path / f"second{version}.raw") == first
    assert psspy.read(0, os.fspath(path)) == 0
    saved = _saved(psspy, tmp_path / "first.sav")
    assert psspy.case(os.fspath(tmp_path / "first.sav")) == 0
    assert _saved(psspy, tmp_path / "second.sav") == saved


def test_every_section_is_held_and_reaches_the_tables(psspy, caspy, tmp_path, capsys):
    ierr, out = _progress(psspy, capsys, lambda: psspy.read(0, os.fspath(EVERY_SECTION_V33)))
    assert ierr == 0, out
    assert ("5 buses, 2 loads, 1 fixed shunt, 2 machines, 3 branches, 1 transformer, 1 switched shunt, "
            "1 induction machine, 2 areas, 2 zones, 2 owners, 1 inter-area transfer, 1 impedance correction table, "
            "1 multi-section line, 1 two-terminal dc line, 1 VSC dc line, 1 multi-terminal dc line, 2 FACTS devices, "
            "1 GNE device") in out
    assert "created" not in out  # every area, zone and owner in use has its record
    psspy.save(os.fspath(tmp_path / "every.sav"))
    case = caspy.Savecase(os.fspath(tmp_path / "every.sav"))
    assert case.pssare["NAME"] == ("NORTH", "SOUTH") and case.pssare["PDES"] == (50.0, -50.0)
    assert case.psszon["NAME"] == ("ZONE A", "ZONE B") and case.pssown["NAME"] == ("OWNER ONE", "OWNER TWO")
    assert (case.pss2dc["RECBUS"], case.pss2dc["INVBUS"]) == ((1,), (3,))
    assert (case.pssvsc["BUS1"], case.pssvsc["BUS2"]) == ((2,), (4,))
    assert case.pssfac["FRMBUS"] == (4, 2) and case.pssfac["TOBUS"] == (0, 3)
    assert case.pssmsl["DUMBUS"] == [[5, 0, 0, 0, 0, 0, 0, 0, 0]]
    # Columns of bus lists are lists of lists, the shape renumbering maps element by element.
    assert case.pssgne["BUSES"] == [[4]] and case.pssmdc["CNVBUS"] == [[1, 3]] and case.pssmdc["DCBUS"] == [[1, 3]]


def test_version_35_data_kept_in_35_and_reported_in_33(psspy, tmp_path, capsys):
    assert psspy.read(0, os.fspath(EVERY_SECTION_V33)) == 0
    text = _written(psspy, "35", tmp_path / "base35.raw").decode()
    text = text.replace("0 / END OF SYSTEM-WIDE DATA", "GENERAL,THRSHZ=0.0001,PQBRAK=0.7\n0 / END OF SYSTEM-WIDE DATA", 1)
    text = text.replace("0 / END OF IMPEDANCE CORRECTION DATA", "2,0.9,1.1,0.01,1.1,0.9,-0.02,0.0,0.0,0.0\n"
                        "0 / END OF IMPEDANCE CORRECTION DATA", 1)
    text = text.replace("0 / END OF SUBSTATION DATA", "\n".join([
        "1,'STATION A',45.5,-73.6,0.1",
        "1,'NODE 1',4,1,1.0,0.0",
        "0 / END OF SUBSTATION NODE DATA, BEGIN SUBSTATION SWITCHING DEVICE DATA",
        "1,2,'1','BREAKER',2,1,1,0.0001",
        "0 / END OF SUBSTATION SWITCHING DEVICE DATA, BEGIN SUBSTATION EQUIPMENT TERMINAL DATA",
        "4,1,'L','1'",
        "0 / END OF SUBSTATION EQUIPMENT TERMINAL DATA",
        "0 / END OF SUBSTATION DATA"]), 1)
    (tmp_path / "full35.raw").write_text(text)
    assert psspy.read(0, os.fspath(tmp_path / "full35.raw")) == 0
    assert _written(psspy, "35", tmp_path / "again35.raw").decode() == text
    _, out = _progress(psspy, capsys, lambda: _written(psspy, "33", tmp_path / "down33.raw"))
    for lost, count in (("complex impedance correction factors", 1), ("substation data", 1), ("system-wide data", 1)):
        assert f"version 33 cannot hold {lost}: left out for {count} elements" in out


def _two_bus_admittance_case(path, yq):
    path.write_text("\n".join([
        "0, 100.0, 33, 0, 0, 60.0", "ADMITTANCE LOAD", "",
        "1,'SOURCE',100.0,3,1,1,1,1.0,0.0", "2,'LOAD',100.0,1,1,1,1,1.0,0.0",
        "0 / END OF BUS DATA, BEGIN LOAD DATA",
        f"2,'1',1,1,1,0.0,0.0,0.0,0.0,20.0,{yq},1,1,0",
        "0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA", "0 / END OF FIXED SHUNT DATA, BEGIN GENERATOR DATA",
        "1,'1',0.0,0.0,999.0,-999.0,1.0,0,100.0,0.0,1.0,0.0,0.0,1.0,1,100.0,999.0,-999.0,1,1.0",
        "0 / END OF GENERATOR DATA, BEGIN BRANCH DATA",
        "1,2,'1',0.01,0.1,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,1,1,0.0,1,1.0",
        "0 / END OF BRANCH DATA, BEGIN TRANSFORMER DATA"] + ["0"] * 13 + ["Q", ""]))
    return os.fspath(path)


@pytest.mark.parametrize("yq", [-50.0, 30.0], ids=["inductive", "capacitive"])
def test_admittance_load_sign_agrees_with_andes(psspy, tmp_path, yq):
    andes = pytest.importorskip("andes")
    path = _two_bus_admittance_case(tmp_path / "two_bus.raw", yq)
    assert psspy.read(0, path) == 0
    assert solve_tight(psspy) == 0
    ours = psspy.busdat(2, "PU")[1]
    # andes reads the engine's own version 33 export of the case, so the sign is checked
    # through the writer as well as the reader.
    exported = tmp_path / "two_bus_export.raw"
    _written(psspy, "33", exported)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        andes.config_logger(stream_level=50)
        system = andes.load(os.fspath(exported), setup=True, no_output=True, default_config=True)
        system.PFlow.config.tol = 1e-10
        assert system.PFlow.run()
    theirs = float(system.Bus.v.v[list(system.Bus.idx.v).index(2)])
    # A flipped sign moves the voltage by about 0.1 pu.
    assert ours == pytest.approx(theirs, abs=1e-5)
    # An inductive admittance load pulls the voltage down, a capacitive one lifts it.
    assert (ours < 1.0) == (yq < 0)


def _damaged(tmp_path, old, new, count=1):
    text = EVERY_SECTION_V33.read_text()
    assert old in text
    path = tmp_path / "damaged.raw"
    path.write_text(text.replace(old, new, count))
    return os.fspath(path)


@pytest.mark.parametrize("old, new, expected", [
    ("2,'TWO',345.0", "4294970296,'TWO',345.0", "line 5: bus record: I: 4294970296 is out of range"),
    ("4,'1',1,2,2,50.0", "4294969298,'1',1,2,2,50.0", "line 11: load record: I: 4294969298 is out of range"),
    ("0 / END OF FACTS DEVICE DATA, BEGIN SWITCHED SHUNT DATA", "NaN / END OF FACTS DEVICE DATA", "line 59: FACTS device record: ends before field I"),
    ("0 / END OF ZONE DATA, BEGIN INTER-AREA TRANSFER DATA", "0 / END OF ZONE DATA, BEGIN OWNER DATA",
     "line 51: the terminator of the ZONE data announces OWNER data; INTER-AREA TRANSFER data comes next"),
    ("2,'1',1,0.0,25.0", "2,'1',1,0.0,25.0" + ",0.0" * 200, "line 13: fixed shunt record: has 205 fields, its layout 5"),
    ("2,3,-50.0,5.0,'SOUTH'", "1,3,-50.0,5.0,'SOUTH'", "line 28: area record: duplicate area 1"),
    ("2,'ZONE B'", "0,'ZONE B'", "line 50: zone record: zone number must be positive"),
    ("2,'OWNER TWO'", "1,'OWNER TWO'", "line 55: owner record: duplicate owner 1"),
], ids=["bus beyond 32 bits", "load bus beyond 32 bits", "corrupted terminator", "wrong next section",
        "far too many fields", "area twice", "zone zero", "owner twice"])
def test_damaged_file_is_refused_naming_its_line(psspy, tmp_path, capsys, old, new, expected):
    assert psspy.read(0, os.fspath(EVERY_SECTION_V33)) == 0
    before = _saved(psspy, tmp_path / "before.sav")
    ierr, out = _progress(psspy, capsys, lambda: psspy.read(0, _damaged(tmp_path, old, new)))
    assert ierr == 13 and expected in out, out
    assert _saved(psspy, tmp_path / "after.sav") == before


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="named pipes need a POSIX system")
def test_reading_a_fifo_returns_at_once(tmp_path):
    fifo = tmp_path / "pipe.raw"
    os.mkfifo(fifo)
    script = ("import gridfold; psspy, _ = gridfold.embedded_engine();"
              "psspy.psseinit(100); psspy.progress_output(6);"
              f"print(psspy.read(0, {os.fspath(fifo)!r}), psspy.readrawversion(0, '33', {os.fspath(fifo)!r}),"
              f"psspy.case({os.fspath(fifo)!r}))")
    # The timeout only guards against a hang; nothing here measures speed.
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert result.stdout.split()[-3:] == ["12", "12", "12"], result.stderr


def test_area_zone_owner_data_calls(psspy, tmp_path):
    assert psspy.read(0, os.fspath(EVERY_SECTION_V33)) == 0
    assert psspy.area_data(3, intgar1=4, realar1=25.0, realar2=2.0, arname="EAST") == 0
    assert psspy.zone_data(2, zoname="RENAMED") == 0
    assert psspy.owner_data(7, owname="NEW OWNER") == 0
    saved = _saved(psspy, tmp_path / "areas.sav")
    assert b"3,4,25.0,2.0,'EAST'" in saved and b"2,'RENAMED'" in saved and b"7,'NEW OWNER'" in saved
    # A refusal changes nothing: a slack bus that does not exist, a name too long.
    assert psspy.area_data(3, intgar1=99, realar1=-1.0) == 3
    assert psspy.zone_data(2, zoname="X" * 13) == 8
    assert _saved(psspy, tmp_path / "again.sav") == saved
    with pytest.raises(TypeError, match="isw"):
        psspy.area_data(3, isw=4)


def test_dc_line_and_facts_data_calls(psspy, tmp_path):
    assert psspy.read(0, os.fspath(EVERY_SECTION_V33)) == 0
    assert psspy.two_terminal_dc_line_data("DC2", intgar1=1, intgar2=2, intgar4=4, realar1=50.0, realar2=400.0,
                                           realar4=8.0, meter="R") == 0
    assert psspy.vsc_dc_line_data("VSC2", realar1=0.5) == 0
    assert psspy.vsc_dc_converter_data("VSC2", 1, ibus=3, realar1=200.0) == 0
    assert psspy.vsc_dc_converter_data("VSC2", 2, ibus=4, intgar1=2, realar1=-40.0) == 0
    assert psspy.facts_data("STAT2", ibus=3, realar3=1.01) == 0
    saved = _saved(psspy, tmp_path / "dc.sav")
    assert psspy.case(os.fspath(tmp_path / "dc.sav")) == 0
    assert _saved(psspy, tmp_path / "dc_again.sav") == saved
    assert b"'DC2',1,8.0,50.0,400.0" in saved and b"'STAT2',3,0,1," in saved
    # Refusals change nothing.
    assert psspy.two_terminal_dc_line_data("DC3", intgar2=2, intgar4=77) == 3  # no bus 77
    assert psspy.facts_data("STAT2", realar6=1.2, realar7=1.0) == 7  # VTMN above VTMX
    assert psspy.vsc_dc_converter_data("NONE", 1, ibus=3) == 4
    assert psspy.two_terminal_dc_line_data("DC2", meter="X") == 6
    assert _saved(psspy, tmp_path / "after.sav") == saved
    with pytest.raises(TypeError):
        psspy.facts_data("STAT2", colour=1)


def test_switching_device_data_call(psspy, tmp_path):
    assert psspy.read(0, os.fspath(EVERY_SECTION_V35)) == 0
    before = _saved(psspy, tmp_path / "before.sav")
    # Refusals change nothing: a key a line holds, a type out of range, no reactance.
    assert psspy.system_swd_data(2, 3, "1", intgar4=2) == 5
    assert psspy.system_swd_data(1, 6, "B2", intgar4=0) == 6
    assert psspy.system_swd_data(1, 6, "B2", realar1=0.0) == 7
    assert _saved(psspy, tmp_path / "refused.sav") == before
    with pytest.raises(TypeError):
        psspy.system_swd_data(1, 6, "B2", realar2=1.0)

    assert psspy.system_swd_data(6, 1, "B2", intgar2=0, intgar4=2, realar1=3e-4, ratings1=900.0,
                                 namear="BREAKER 1-6") == 0
    assert psspy.system_swd_data(5, 6, "D1", intgar1=0, intgar3=5) == 0  # the existing device, seen from J
    saved = _saved(psspy, tmp_path / "after.sav").decode()
    devices = saved[saved.index("BEGIN SYSTEM SWITCHING DEVICE DATA\n"):saved.index("0 / END OF SYSTEM SWITCHING")]
    assert devices.splitlines()[1:] == [
        "2,6,'B1',1e-04,1000.0,1100.0,1200.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,1,1,1,2,'BREAKER 2-6'",
        "6,5,'D1',2e-04,800.0,800.0,800.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0,0,2,3,'DISCONNECTOR 6-5'",
        "6,1,'B2',3e-04,900.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,1,0,1,2,'BREAKER 1-6'"]
    assert psspy.case(os.fspath(tmp_path / "after.sav")) == 0
    assert _saved(psspy, tmp_path / "again.sav").decode() == saved


BUSES = [1, 2, 3, 4, 5]
data_calls = st.one_of(
    st.builds(lambda bus, p, q, yq: ("load_data_6", (bus, "9"), {"realar1": p, "realar2": q, "realar6": yq}),
              st.sampled_from(BUSES), st.floats(-500, 500), st.floats(-500, 500), st.floats(-100, 100)),
    st.builds(lambda bus, b: ("shunt_data", (bus, "7"), {"realar2": b}), st.sampled_from(BUSES), st.floats(-200, 200)),
    st.builds(lambda n, isw, pdes: ("area_data", (n,), {"intgar1": isw, "realar1": pdes}),
              st.integers(-2, 10001), st.sampled_from([0] + BUSES + [42]), st.floats(-1e4, 1e4)),
    st.builds(lambda name, i, j, mode: ("facts_data", (name,), {"ibus": i, "jbus": j, "intgar1": mode}),
              st.sampled_from(["F1", "F2", "SVC1"]), st.sampled_from(BUSES), st.sampled_from([0] + BUSES),
              st.integers(-1, 9)),
    st.builds(lambda name, r, s: ("two_terminal_dc_line_data", (name,),
                                  {"intgar2": r, "intgar4": s, "realar1": 10.0}),
              st.sampled_from(["DC1", "DC9"]), st.sampled_from(BUSES), st.sampled_from(BUSES)),
)


@settings(max_examples=25, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(st.lists(data_calls, min_size=1, max_size=6))
def test_any_case_the_data_calls_accept_saves_and_reopens_unchanged(psspy, tmp_path, calls):
    assert psspy.read(0, os.fspath(EVERY_SECTION_V33)) == 0
    for name, args, keywords in calls:
        getattr(psspy, name)(*args, **keywords)
    saved = _saved(psspy, tmp_path / "property.sav")
    assert psspy.case(os.fspath(tmp_path / "property.sav")) == 0
    assert _saved(psspy, tmp_path / "property_again.sav") == saved


CHARGED_TRANSFORMERS = """function mpc = charged
mpc.version = '2';
mpc.baseMVA = 100;
mpc.bus = [
{buses}
];
mpc.gen = [
\t1\t0\t0\t300\t-300\t1.0\t100\t1\t250\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0;
];
mpc.branch = [
{branches}
];
if 1
    mpc.gen(:, 2) = 5;
end
"""


def test_matpower_charging_shunts_get_free_identifiers_and_trailing_code_is_skipped(psspy, tmp_path, capsys):
    buses = "\n".join(f"\t{n}\t{3 if n == 1 else 1}\t10\t2\t0\t{5 if n == 1 else 0}\t1\t1.0\t0\t230\t1\t1.1\t0.9;"
                      for n in range(1, 14))
    branches = "\n".join(f"\t1\t{n}\t0.01\t0.1\t0.02\t0\t0\t0\t1.01\t0\t1\t-360\t360;" for n in range(2, 14))
    path = tmp_path / "charged.m"
    path.write_text(CHARGED_TRANSFORMERS.format(buses=buses, branches=branches))
    ierr, out = _progress(psspy, capsys, lambda: psspy.read(0, os.fspath(path)))
    assert ierr == 0, out
    assert "MATLAB statements from line 36 on are not case data and were skipped" in out
    saved = _saved(psspy, tmp_path / "charged.sav")
    assert psspy.case(os.fspath(tmp_path / "charged.sav")) == 0
    assert _saved(psspy, tmp_path / "charged_again.sav") == saved


def _without(text, section):
    """The text with the records of one section left out."""
    start = text.index(f"BEGIN {section} DATA\n") + len(f"BEGIN {section} DATA\n")
    return text[:start] + text[text.index(f"0 / END OF {section} DATA"):]


@pytest.mark.parametrize("path", [EVERY_SECTION_V33, EVERY_SECTION_V35], ids=lambda p: p.name)
def test_pypowsybl_solves_the_exports_as_it_solves_the_original(psspy, tmp_path, path):
    """Cases with two-terminal and VSC dc lines, FACTS devices, a GNE device and (version 35)
    system-wide data, switching devices, a node-breaker substation, node numbers and complex
    impedance corrections: pypowsybl reads the engine's RAW 33 and 35 exports and its load
    flow on them agrees with its load flow on the original.

    pypowsybl reads GNE records with real and integer data but not all three kinds, so the
    copy's GNE device has no text data. It leaves version 35 switching devices outside a
    substation out of its network, where version 33 carries them as lines: the version 33
    export is compared with a copy without switching devices and substation."""
    pypowsybl = pytest.importorskip("pypowsybl")
    text = path.read_text().replace("'GNE1','MYMODEL',1,4,2,1,1\n1,1,1\n0.5,1.5\n7\n'X'\n",
                                    "'GNE1','MYMODEL',1,4,2,1,0\n1,1,1\n0.5,1.5\n7\n")
    assert "'GNE1','MYMODEL',1,4,2,1,0" in text
    originals = {"35": text, "33": text}
    if "BEGIN SUBSTATION DATA" in text:
        originals["33"] = _without(_without(text, "SUBSTATION"), "SYSTEM SWITCHING DEVICE")

    def solved_voltages(path):
        network = pypowsybl.network.load(os.fspath(path))
        assert len(network.get_lcc_converter_stations()) == 2 and len(network.get_vsc_converter_stations()) == 2
        assert len(network.get_static_var_compensators()) == 1
        result = pypowsybl.loadflow.run_ac(network)
        assert result[0].status == pypowsybl.loadflow.ComponentStatus.CONVERGED
        return len(network.get_switches()), network.get_buses()[["v_mag", "v_angle"]].sort_index()

    for version, original_text in originals.items():
        original = tmp_path / f"original{version}.raw"
        original.write_text(original_text)
        switches, reference = solved_voltages(original)
        assert switches == (1 if "BREAKER 1" in original_text else 0)  # the substation's breaker
        assert psspy.read(0, os.fspath(original)) == 0
        export = tmp_path / f"export{version}.raw"
        _written(psspy, version, export)
        switches_read, ours = solved_voltages(export)
        assert switches_read == switches and list(ours.index) == list(reference.index)
        assert ours["v_mag"].tolist() == pytest.approx(reference["v_mag"].tolist(), rel=1e-9)
        assert ours["v_angle"].tolist() == pytest.approx(reference["v_angle"].tolist(), abs=1e-7)


def test_switching_devices_are_held_written_back_and_become_lines_in_version_33(psspy, caspy, tmp_path, capsys):
    """Switching devices keep their own records in version 35 and in saved cases; version 33
    writes them as lines, reported, and a solution of that export equals the solution of the
    case itself. andes reads the export with the devices as lines."""
    ierr, out = _progress(psspy, capsys, lambda: psspy.read(0, os.fspath(EVERY_SECTION_V35)))
    assert ierr == 0, out
    assert ("6 buses, 2 loads, 1 fixed shunt, 2 machines, 3 branches, 2 system switching devices, 1 transformer, "
            "1 switched shunt, 1 induction machine, 2 areas, 2 zones, 2 owners, 1 inter-area transfer, "
            "2 impedance correction tables, 1 multi-section line, 1 two-terminal dc line, 1 VSC dc line, "
            "1 multi-terminal dc line, 2 FACTS devices, 1 GNE device, 1 substation, 8 system-wide data records\n") in out
    saved = _saved(psspy, tmp_path / "held.sav").decode()
    devices = saved[saved.index("BEGIN SYSTEM SWITCHING DEVICE DATA\n"):saved.index("0 / END OF SYSTEM SWITCHING")]
    assert devices.splitlines()[1:] == [
        "2,6,'B1',1e-04,1000.0,1100.0,1200.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,1,1,1,2,'BREAKER 2-6'",
        "6,5,'D1',2e-04,800.0,800.0,800.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,1,0,2,3,'DISCONNECTOR 6-5'"]
    branches = saved[saved.index("BEGIN BRANCH DATA\n"):saved.index("0 / END OF BRANCH DATA")]
    assert "'B1'" not in branches and "'D1'" not in branches
    # The renumbering reaches a switching device through the line tables, which tell its type.
    case = caspy.Savecase(os.fspath(tmp_path / "held.sav"))
    lines = zip(case.pssbrn["FRMBUS"], case.pssbrn["TOBUS"], case.pssbrn["CKT"], case.pssbrn["STYPE"])
    assert {line[:3]: line[3] for line in lines} == {(1, 5, "1"): 0, (2, 3, "1"): 0, (5, 2, "1"): 0, (2, 6, "B1"): 2,
                                                     (6, 5, "D1"): 3}
    assert case.psssub["NUM"] == (6, 6) and case.psssub["SUBNUM"] == (1, 1)

    # The version 33 case with a bus 6 joined to buses 2 and 5 by switching devices: version
    # 33 loses nothing else of it, so the solutions before and after must agree.
    assert psspy.read(0, os.fspath(EVERY_SECTION_V33)) == 0
    text = _written(psspy, "35", tmp_path / "plain35.raw").decode()
    assert text.count("0 / END OF BUS DATA") == text.count("0 / END OF SYSTEM SWITCHING DEVICE DATA") == 1
    text = text.replace("0 / END OF BUS DATA", "6,'SWYARD',345.0,1,1,1,2,1.0,-1.5,1.05,0.95,1.1,0.9\n0 / END OF BUS DATA")
    text = text.replace("0 / END OF SYSTEM SWITCHING DEVICE DATA", devices.split("\n", 1)[1] + "0 / END OF SYSTEM SWITCHING DEVICE DATA")
    (tmp_path / "switched35.raw").write_text(text)
    assert psspy.read(0, os.fspath(tmp_path / "switched35.raw")) == 0
    assert solve_tight(psspy) == 0
    held = [value for pair in bus_voltages(psspy, range(1, 7)).values() for value in pair]
    _, out = _progress(psspy, capsys, lambda: _written(psspy, "33", tmp_path / "down33.raw"))
    assert out.splitlines()[-1] == "version 33 cannot hold system switching devices: written as lines for 2 elements"
    text = (tmp_path / "down33.raw").read_text()
    assert "\n2,6,'B1',0.0,1e-04,0.0,1000.0,1100.0,1200.0,0.0,0.0,0.0,0.0,1,1,0.0," in text
    assert "\n6,5,'D1',0.0,2e-04,0.0,800.0,800.0,800.0,0.0,0.0,0.0,0.0,1,2,0.0," in text
    ierr, out = _progress(psspy, capsys, lambda: psspy.read(0, os.fspath(tmp_path / "down33.raw")))
    assert ierr == 0 and " 5 branches, 1 transformer" in out and "switching" not in out
    assert solve_tight(psspy) == 0
    again = [value for pair in bus_voltages(psspy, range(1, 7)).values() for value in pair]
    # The case's dc lines are solved in rounds between Newton solutions, each to the mismatch
    # tolerance, so two solutions of one network agree to about 1e-8.
    assert again == pytest.approx(held, abs=1e-7)

    andes = pytest.importorskip("andes")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        andes.config_logger(stream_level=50)
        system = andes.load(os.fspath(tmp_path / "down33.raw"), setup=True, no_output=True, default_config=True)
    assert system.Bus.n == 6 and system.Line.n == 6  # five lines and the transformer
    assert system.PFlow.run()


def test_numbers_in_use_without_a_record_get_one_on_save_and_on_read(psspy, tmp_path, capsys):
    """A bus moved to area 9, zone 8 and owner 7 by a data call: the saved file carries default
    records for them, so it reads back without completing anything; a foreign file that lacks
    them is completed on reading, with a progress line naming the numbers."""
    assert psspy.read(0, os.fspath(EVERY_SECTION_V33)) == 0
    assert psspy.bus_chng_4(4, intgar2=9, intgar3=8, intgar4=7) == 0
    saved = _saved(psspy, tmp_path / "moved.sav").decode()
    assert "\n9,0,0.0,10.0,''\n" in saved and "\n8,''\n" in saved and "\n7,''\n" in saved
    ierr, out = _progress(psspy, capsys, lambda: psspy.case(os.fspath(tmp_path / "moved.sav")))
    assert ierr == 0 and "created" not in out
    foreign = EVERY_SECTION_V33.read_text().replace("2,3,-50.0,5.0,'SOUTH'\n", "")
    (tmp_path / "no_area_2.raw").write_text(foreign)
    ierr, out = _progress(psspy, capsys, lambda: psspy.read(0, os.fspath(tmp_path / "no_area_2.raw")))
    assert ierr == 0
    assert "area data: 1 records created with default data for numbers in use without one (2)" in out
