"""Case files of the embedded engine: exact round trips, whole-or-nothing writes, refusal of
files that are not cases (with the working case kept and the line at fault reported)."""
import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from helpers import engine_cases


@pytest.fixture
def cases(psspy, tmp_path):
    return {
        "main": engine_cases.save_main_case(psspy, tmp_path / "main.sav"),
        "solar": engine_cases.save_solar_case(psspy, tmp_path / "solar.sav"),
        "wind": engine_cases.save_wind_case(psspy, tmp_path / "wind.sav"),
    }


def read(path):
    with open(path, "rb") as f:
        return f.read()


@pytest.mark.parametrize("name", ["main", "solar", "wind"])
def test_save_open_save_gives_identical_bytes(psspy, cases, tmp_path, name):
    assert psspy.case(cases[name]) == 0
    again = str(tmp_path / "again.sav")
    assert psspy.save(again) == 0
    assert read(again) == read(cases[name])


def test_awkward_reals_survive_a_round_trip_exactly(psspy, tmp_path):
    values = [0.1 + 0.2, 1.0 / 3.0, 1e-300, 123456789.123456789, -2.5e-7, 5e-324, 1.7976931348623157e308]
    psspy.bus_data_4(ibus=1, realar1=138.0)
    for k, value in enumerate(values, start=2):
        assert psspy.bus_data_4(ibus=k, realar1=138.0, realar3=value) == 0
        # the line length, which no band limits (a resistance of 1e308 pu is refused)
        assert psspy.branch_data_3(ibus=1, jbus=k, realar8=value, realar2=1.0) == 0
    first, second = tmp_path / "first.sav", tmp_path / "second.sav"
    assert psspy.save(str(first)) == 0
    assert psspy.case(str(first)) == 0
    assert psspy.save(str(second)) == 0
    assert first.read_bytes() == second.read_bytes()
    assert [psspy.busdat(k, "ANGLED")[1] for k in range(2, 2 + len(values))] == values


def _significant_digits(text):
    mantissa = text.lstrip("-").lower().split("e")[0].replace(".", "")
    return mantissa.strip("0") or "0"


def _written_angles(psspy, tmp_path, values):
    """The texts the case file holds for bus angles set to `values` (buses 2, 3, ...)."""
    psspy.bus_data_4(ibus=1, realar1=138.0)
    for k, value in enumerate(values, start=2):
        assert psspy.bus_data_4(ibus=k, realar1=138.0, realar3=value) == 0
    path = tmp_path / "angles.sav"
    assert psspy.save(str(path)) == 0
    lines = path.read_text().splitlines()
    bus_lines = lines[lines.index("0 / END OF SYSTEM-WIDE DATA, BEGIN BUS DATA") + 1:]
    return [bus_lines[k].split(",")[8] for k in range(1, 1 + len(values))]


reals = st.one_of(
    st.floats(allow_nan=False, allow_infinity=False, min_value=-1e6, max_value=1e6),
    # short decimals, as most case data are
    st.builds(lambda m, k: m / 10.0 ** k, st.integers(-10**15, 10**15), st.integers(0, 12)),
    st.builds(lambda m, k: float(f"{m}e{k}"), st.integers(-999, 999), st.integers(-30, 30)))


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(st.lists(reals, min_size=1, max_size=25))
def test_every_real_is_written_with_its_fewest_digits_and_reads_back_exactly(psspy, tmp_path, values):
    """Python's repr holds the fewest significant digits that read back to the same double."""
    texts = _written_angles(psspy, tmp_path, values)
    for value, text in zip(values, texts):
        assert float(text) == value, (value, text)
        assert _significant_digits(text) == _significant_digits(repr(float(value))), (value, text)
        assert "." in text or "e" in text, text  # never read as an integer


def test_fixed_notation_unless_the_exponent_form_is_shorter(psspy, tmp_path):
    written = {0.0001: "1e-04", 0.001: "0.001", 0.000123: "0.000123", 1.5e-07: "1.5e-07", 100000.0: "1e+05",
               1e16: "1e+16", 123456.0: "123456.0", -0.05: "-0.05", 2.5e-300: "2.5e-300", 0.1 + 0.2: "0.30000000000000004",
               -0.0: "0.0", 1e22: "1e+22", 1234567890123456.0: "1234567890123456.0"}
    assert dict(zip(written, _written_angles(psspy, tmp_path, list(written)))) == written


def test_powers_times_100_give_back_what_the_data_call_stored(psspy, caspy, tmp_path):
    """No double p has p * 100 == 3.3: powers are kept to 15 digits, which closes the loop."""
    values = [3.3, 40.3, 1e-7, 0.07, 123456.789012345, -0.1 + -0.2, 2.0 / 3.0]
    psspy.bus_data_4(ibus=1, realar1=138.0)
    for k, value in enumerate(values, start=1):
        assert psspy.load_data_6(ibus=1, id=str(k), realar1=value, realar2=-value) == 0
    path = str(tmp_path / "powers.sav")
    assert psspy.save(path) == 0
    stored = [float("%.15g" % v) for v in values]
    loads = caspy.Savecase(path).psslod
    assert psspy.psseinit(buses=10) == 0
    psspy.bus_data_4(ibus=1, realar1=138.0)
    for k, load in enumerate(loads["LOAD"], start=1):
        assert psspy.load_data_6(ibus=1, id=str(k), realar1=load[0].real * 100, realar2=load[0].imag * 100) == 0
    assert psspy.save(str(tmp_path / "again.sav")) == 0
    assert (tmp_path / "again.sav").read_bytes() == read(path)
    assert caspy.Savecase(str(tmp_path / "again.sav")).psslod["LOAD"] == loads["LOAD"]
    text = read(path).decode()
    load_lines = text[text.index("BEGIN LOAD DATA\n") + 16: text.index("0 / END OF LOAD DATA")].splitlines()
    assert [float(line.split(",")[5]) for line in load_lines] == stored


def test_save_adds_extension_only_to_a_name_without_one(psspy, tmp_path):
    engine_cases.build_main_network(psspy)
    assert psspy.save(str(tmp_path / "plain")) == 0
    assert psspy.save(str(tmp_path / "named.case")) == 0
    assert sorted(os.listdir(tmp_path)) == ["named.case", "plain.sav"]
    # case() finds the ".sav" file from the bare name as well
    assert psspy.case(str(tmp_path / "plain")) == 0


def test_star_points_are_in_the_working_case_but_never_in_the_file(psspy, caspy, cases):
    text = read(cases["wind"]).decode()
    assert "1000000" not in text
    assert psspy.case(cases["wind"]) == 0
    assert psspy.busdat(1000000, "PU") == (2, None)  # not a bus number a caller may name
    numbers = caspy.Savecase(cases["wind"]).pssbus["NUM"]
    assert numbers[-1] == 1000000 and 1000001 not in numbers


def test_star_point_numbers_skip_numbers_in_use(psspy, caspy, tmp_path):
    for bus in (1, 2, 3, 4):
        psspy.bus_data_4(ibus=bus, realar1=100.0)
    for ckt in ("1", "2"):
        assert psspy.three_wnd_imped_data_4(ibus=1, jbus=2, kbus=3, ckt=ckt)[0] == 0
    assert psspy.three_wnd_imped_data_4(ibus=2, jbus=3, kbus=4, ckt="1", realari16=1.04, realari17=-3.5)[0] == 0
    path = str(tmp_path / "stars.sav")
    psspy.save(path)
    table = caspy.Savecase(path).pssbus
    stars = {n: (vm, va) for n, vm, va in zip(table["NUM"], table["VM"], table["VA"]) if n >= 1000000}
    assert sorted(stars) == [1000000, 1000001, 1000002]
    assert stars[1000002] == (1.04, -3.5)


def test_failed_save_leaves_the_existing_file_and_no_temporary_file(psspy, tmp_path):
    engine_cases.build_main_network(psspy)
    target = tmp_path / "kept.sav"
    target.mkdir()  # the rename over a folder fails after the temporary file was written
    (target / "inside.txt").write_text("old content")
    assert psspy.save(str(target)) == 14
    assert (target / "inside.txt").read_text() == "old content"
    assert os.listdir(tmp_path) == ["kept.sav"]
    assert psspy.save(str(tmp_path / "missing" / "x.sav")) == 14
    assert os.listdir(tmp_path) == ["kept.sav"]


def test_successful_save_replaces_the_file_whole(psspy, cases, tmp_path):
    target = tmp_path / "target.sav"
    target.write_bytes(b"x" * 100000)
    assert psspy.case(cases["solar"]) == 0
    assert psspy.save(str(target)) == 0
    assert read(target) == read(cases["solar"])
    assert sorted(os.listdir(tmp_path)) == sorted(["main.sav", "solar.sav", "wind.sav", "target.sav"])


def damaged_variants(text):
    """(label, content, line at fault) for damaged copies of a saved case."""
    lines = text.splitlines(keepends=True)
    bus_line = next(i for i, line in enumerate(lines) if line.startswith("101,"))
    generator_line = next(i for i, line in enumerate(lines) if line.startswith("102,'1',120.0,"))
    transformer_line = next(i for i, line in enumerate(lines) if line.startswith("103,201,0,"))
    end = len(lines)
    short_bus = lines[:bus_line] + ["101,'NORTH',230.0,3\n"] + lines[bus_line + 1:]
    bad_number = list(lines)
    bad_number[generator_line] = bad_number[generator_line].replace("120.0", "12O.0", 1)
    missing_winding = lines[:transformer_line + 3] + lines[transformer_line + 4:]
    duplicate_bus = lines[:bus_line + 1] + [lines[bus_line]] + lines[bus_line + 1:]
    unknown_bus = list(lines)
    unknown_bus[generator_line] = unknown_bus[generator_line].replace("102,", "777,", 1)
    # The same machine and the same transformer circuit twice.
    duplicate_machine = lines[:generator_line + 1] + [lines[generator_line]] + lines[generator_line + 1:]
    duplicate_circuit = lines[:transformer_line + 4] + lines[transformer_line:transformer_line + 4] + \
        lines[transformer_line + 4:]
    return [
        ("truncated inside a record", text[: text.index("\n", text.index("102,'1',120.0,")) - 20].encode(), generator_line + 1),
        ("truncated between sections", "".join(lines[: transformer_line]).encode(), transformer_line + 1),
        ("without the end record", "".join(lines[: end - 1]).encode(), end),
        ("binary", b"\x00\x01\x02binary case\xff\xfe", 1),
        ("binary in the middle", "".join(lines[:5]).encode() + b"\x00\x00\n" + "".join(lines[5:]).encode(), 6),
        ("too few bus fields", "".join(short_bus).encode(), bus_line + 1),
        ("a field that is not a number", "".join(bad_number).encode(), generator_line + 1),
        ("a transformer missing a winding line", "".join(missing_winding).encode(), transformer_line + 4),
        ("a duplicate bus", "".join(duplicate_bus).encode(), bus_line + 2),
        ("a machine at a missing bus", "".join(unknown_bus).encode(), generator_line + 1),
        ("a duplicate machine", "".join(duplicate_machine).encode(), generator_line + 2),
        ("a duplicate transformer circuit", "".join(duplicate_circuit).encode(), transformer_line + 5),
        ("another version", text.replace(",35,", ",12,", 1).encode(), 1),
    ]


def test_damaged_files_are_refused_naming_the_line_and_the_working_case_stays(psspy, caspy, cases, tmp_path):
    original = read(cases["main"]).decode()
    assert psspy.case(cases["solar"]) == 0
    progress = tmp_path / "progress.txt"
    assert psspy.progress_output(islct=2, filarg=str(progress)) == 0
    for label, content, line in damaged_variants(original):
        damaged = tmp_path / "damaged.sav"
        damaged.write_bytes(content)
        assert psspy.case(str(damaged)) == 13, label
        assert progress.read_text().splitlines()[-1].find(f"{damaged}: line {line}:") > 0, label
        with pytest.raises(ValueError, match=f"damaged.sav: line {line}:"):
            caspy.Savecase(str(damaged))
        # the working case is still the solar plant
        kept = tmp_path / "kept.sav"
        assert psspy.save(str(kept)) == 0
        assert read(kept) == read(cases["solar"]), label
    psspy.progress_output(islct=6)


def test_missing_file_is_an_error_code_and_an_os_error(psspy, caspy, cases, tmp_path):
    psspy.case(cases["wind"])
    missing = str(tmp_path / "nowhere.sav")
    assert psspy.case(missing) == 12
    with pytest.raises(OSError, match="nowhere.sav"):
        caspy.Savecase(missing)
    assert psspy.busdat(2004, "BASE") == (0, 0.69)


def test_a_failed_read_leaves_a_solved_case_solved(psspy, cases, tmp_path):
    # A read lets the solver's data go before it starts; the case it fails to replace keeps
    # its solution and solves again where it stands.
    assert psspy.case(cases["main"]) == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    voltages = [psspy.busdat(bus, "PU") for bus in (101, 102, 103, 104)]
    assert psspy.case(str(tmp_path / "nowhere.sav")) == 12
    assert psspy.solved() == 0
    assert psspy.fnsl() == 0 and psspy.solved() == 0
    assert [psspy.busdat(bus, "PU") for bus in (101, 102, 103, 104)] == voltages


def test_grouping_records_are_held_and_an_incomplete_dc_line_is_refused(psspy, cases, tmp_path, capsys):
    text = read(cases["main"]).decode()
    # a two-terminal dc line needs its rectifier and inverter records
    dc = text.replace("BEGIN TWO-TERMINAL DC DATA\n", "BEGIN TWO-TERMINAL DC DATA\n'DC1',1,10.0,500.0\n", 1)
    areas = [line for line in text.splitlines() if line.startswith("1,")]
    area = text.replace("BEGIN AREA DATA\n1,0,0.0,10.0,''\n", "BEGIN AREA DATA\n1,101,0.0,10.0,'NORTH'\n", 1)
    assert area != text, areas
    (tmp_path / "dc.sav").write_text(dc)
    (tmp_path / "area.sav").write_text(area)
    psspy.progress_output(islct=1)
    capsys.readouterr()
    assert psspy.case(str(tmp_path / "dc.sav")) == 13
    assert "line " in capsys.readouterr().out
    assert psspy.case(str(tmp_path / "area.sav")) == 0
    assert psspy.save(str(tmp_path / "again.sav")) == 0
    assert read(tmp_path / "again.sav") == area.encode()


def test_reader_accepts_the_layout_written_by_other_tools(psspy, caspy, tmp_path):
    """Blank separators, double quotes, comments, heading lines, integral reals, no names,
    a byte order mark and CRLF line ends."""
    text = "\n".join([
        "0, 100.00, 35, 0, 0, 60.00     / written elsewhere",
        "TITLE ONE",
        "TITLE TWO",
        "GENERAL, THRSHZ=0.0001, PQBRAK=0.7",
        "0 / END OF SYSTEM-WIDE DATA, BEGIN BUS DATA",
        "@!   I,'NAME        ', BASKV, IDE,AREA,ZONE,OWNER, VM,        VA,    NVHI,   NVLO,   EVHI,   EVLO",
        "   1 \"ALPHA\"   138.0 3 1 1 1 1.01 0.0 1.1 0.9 1.1 0.9",
        "   2,'BETA        ', 138.0, 1.0, 1, 1, 1, 0.99, -2.0, 1.1, 0.9, 1.1, 0.9 / trailing comment",
        "0 / END OF BUS DATA, BEGIN LOAD DATA",
        "2,'1 ',1,1,1,10.0,2.0,0,0,0,0,1,1,0,0,0,0",
        "0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA",
    ] + ["0 / END"] * 19 + ["Q", ""])
    path = tmp_path / "foreign.raw"
    path.write_bytes(b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode())  # byte order mark, CRLF
    assert psspy.case(str(path)) == 0
    assert psspy.busdat(2, "ANGLED") == (0, -2.0)
    table = caspy.Savecase(str(path))
    assert table.pssbus["NAME"] == ("ALPHA", "BETA")
    assert table.psslod["ID"] == ("1",) and table.psslod["LDNAME"] == ("",)


def test_close_powerflow_empties_the_case_and_case_resets_the_walks(psspy, cases, tmp_path):
    assert psspy.case(cases["main"]) == 0
    assert psspy.inimac(ibus=101) == 0
    assert psspy.case(cases["main"]) == 0
    assert psspy.nxtmac(ibus=101)[0] == 10  # the walk started before the case was read is gone
    assert psspy.close_powerflow() == 0
    assert psspy.busdat(101, "PU") == (3, None)
    assert psspy.deltmpfiles() == 0
    assert psspy.save(str(tmp_path / "empty.sav")) == 0
    assert psspy.case(str(tmp_path / "empty.sav")) == 0


def _marked_in_place(path):
    """Changes the file's first byte in place, keeping its size, inode and write time, so that
    only its content tells it from the file the engine wrote; returns the marked bytes."""
    stat = os.stat(path)
    with open(path, "r+b") as f:
        f.write(b"7" if f.read(1) != b"7" else b"8")
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
    return read(path)


def test_a_save_of_an_unchanged_case_copies_the_last_file_and_any_change_writes_it_anew(psspy, cases, tmp_path):
    """A save of a case unchanged since the last save copies that save's file; the file is marked
    behind the engine's back (same size, inode and write time) to show which saves copy it.
    Every operation that may change the case, even one that changes nothing in the end, makes
    the next save write the case out."""
    assert psspy.case(cases["main"]) == 0
    last = tmp_path / "last.sav"
    changes = [
        ("bus_chng_4", lambda: psspy.bus_chng_4(ibus=105, realar2=1.03)),
        ("same value again", lambda: psspy.bus_chng_4(ibus=105, realar2=1.03)),
        ("fnsl", lambda: psspy.fnsl()),
        ("dscn", lambda: psspy.dscn(105)),
        ("recn", lambda: psspy.recn(105)),
        ("machine_chng_4", lambda: psspy.machine_chng_4(ibus=102, id="1", realar1=110.0)),
        ("failed call", lambda: psspy.bus_chng_4(ibus=999, realar2=1.0)),
        ("case", lambda: psspy.case(cases["main"])),
    ]
    for name, change in changes:
        assert psspy.save(str(last)) == 0
        marked = _marked_in_place(last)
        # Calls that only read the case, walk it or report on it keep the copy valid.
        for read_only in (lambda: psspy.busdat(105, "PU"), psspy.solved, lambda: psspy.inibrn_2(101),
                          lambda: psspy.nxtbrn_2(101), lambda: psspy.brnmsc(101, 102, "1", "P")):
            read_only()
        copy = tmp_path / "copy.sav"
        assert psspy.save(str(copy)) == 0
        assert read(copy) == marked, name
        change()
        assert psspy.save(str(tmp_path / "after.sav")) == 0
        assert read(tmp_path / "after.sav") != marked, name
        written = read(tmp_path / "after.sav")
        assert psspy.case(str(tmp_path / "after.sav")) == 0
        assert psspy.save(str(tmp_path / "reread.sav")) == 0
        assert read(tmp_path / "reread.sav") == written, name


def test_a_last_file_changed_or_removed_since_it_was_saved_is_not_copied(psspy, cases, tmp_path):
    assert psspy.case(cases["solar"]) == 0
    first, second = tmp_path / "first.sav", tmp_path / "second.sav"
    for spoil in (lambda: first.write_bytes(b"x" * 10), first.unlink,
                  lambda: (first.unlink(), first.write_bytes(read(cases["solar"])[::-1]))):
        assert psspy.save(str(first)) == 0
        spoil()
        assert psspy.save(str(second)) == 0
        assert read(second) == read(cases["solar"])
    # A save over the last file itself, unchanged, leaves it whole.
    assert psspy.save(str(second)) == 0 and psspy.save(str(second)) == 0
    assert read(second) == read(cases["solar"])
    assert sorted(os.listdir(tmp_path)) == sorted(["main.sav", "solar.sav", "wind.sav", "first.sav", "second.sav"])
