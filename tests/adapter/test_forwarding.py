"""Forwarding methods on the recording stand-in (sys.modules isolated by the `recording`
fixture): which engine call each makes, with exactly which arguments, and what it returns."""
import pytest

# method, keywords given, engine call, scripted result (returned unchanged)
FORWARDED = [
    ("open_case", {"sfile": "/no/such/case.sav"}, "case", 3),
    ("save_case", {"sfile": "out.sav"}, "save", 2),
    ("get_bus_data", {"ibus": 1001, "string": "PU"}, "busdat", (1, None)),
    ("ini_branch_2", {"ibus": 1001, "inode": 0, "single": 2}, "inibrn_2", (0, 7)),
    ("get_next_branch_bus", {"ibus": 1001, "inode": 0}, "nxtbrn_2", (0, 1002, 0, "2 ")),
    ("get_next_tx3_bus", {"ibus": 1001, "inode": 0}, "nxtbrn3_2", (0, 1002, 0, 1003, 0, "T1")),
    ("ini_mac", {"ibus": 1001}, "inimac", 4),
    ("next_mac", {"ibus": 1001}, "nxtmac", (0, "G1")),
    ("change_bus_data", {"ibus": 1001, "inode": 0, "realar2": 1.02, "realar3": -4.5}, "bus_chng_4", 1),
    ("init_psse", {"buses": 5000}, "psseinit", 0),
]


@pytest.mark.parametrize("method, keywords, call, result", FORWARDED)
def test_keywords_pass_unchanged_and_the_result_comes_back(recording, method, keywords, call, result):
    engine = recording.engine(35.5)
    recording.log.script[call] = [result]
    assert getattr(engine, method)(**keywords) == result
    assert recording.log.calls == [(call, (), keywords)]


@pytest.mark.parametrize("method, call", [("close_power_flow", "close_powerflow"), ("del_tmp_files", "deltmpfiles"),
                                          ("check_solved", "solved")])
def test_calls_without_arguments_return_the_engine_value(recording, method, call):
    engine = recording.engine(36.2)
    recording.log.script[call] = [7]
    assert getattr(engine, method)() == 7
    assert recording.log.calls == [(call, (), {})]


@pytest.mark.parametrize("method, call", [("run_load_flow_rsol", "rsol"), ("run_load_flow_fnsl", "fnsl")])
def test_single_solutions_return_none_whatever_the_code(recording, method, call):
    engine = recording.engine(35.5)
    recording.log.script[call] = [9]
    assert getattr(engine, method)(options1=1, options6=0) is None
    assert recording.log.calls == [(call, (), {"options1": 1, "options6": 0})]


def test_run_load_flow_makes_the_ten_calls_even_when_they_fail(recording):
    engine = recording.engine(35.5)
    recording.log.script["rsol"] = [1] * 6
    recording.log.script["fnsl"] = [2] * 4
    assert engine.run_load_flow() is None
    rsol = [1, 2, 0, 0, 1, 1, 0, 99, 0, 0]
    rsol_4 = [1, 2, 0, 0, 1, 1, 4, 99, 0, 0]
    fnsl = [2, 0, 0, 1, 1, 0, 99, 0]
    fnsl_4 = [2, 0, 0, 1, 1, 4, 99, 0]
    reals = [500.0, 5.0]
    first = {"options1": 1, "options2": 2, "options6": 1, "options7": 0, "options8": 99, "options9": 0, "options10": 0}
    assert recording.log.calls == [
        ("rsol", (), first),
        ("rsol", (rsol, reals), {}),
        ("rsol", (rsol, reals), {}),
        ("fnsl", (fnsl,), {}),
        ("fnsl", (fnsl,), {}),
        ("rsol", (rsol, reals), {}),
        ("fnsl", (fnsl_4,), {}),
        ("fnsl", (fnsl_4,), {}),
        ("rsol", (rsol_4, reals), {}),
        ("rsol", (rsol, reals), {}),
    ]
    assert all(type(args[0]) is list for _, args, _ in recording.log.calls[1:])


class BusList(list):
    pass


@pytest.mark.parametrize(
    "bus_numbers, expected_arguments",
    [
        ([], []),
        ([1001], [1001]),
        ([1003, 1001, 1002], [1003, 1001, 1002]),
        (BusList([5, 6]), [5, 6]),
        (1001, [1001]),
        ((1001, 1002), [(1001, 1002)]),
        ({1001}, [{1001}]),
    ],
)
@pytest.mark.parametrize("method, call", [("disconnect_buses", "dscn"), ("reconnect_buses", "recn")])
def test_bus_lists_are_walked_anything_else_passes_whole(recording, method, call, bus_numbers, expected_arguments):
    engine = recording.engine(35.5)
    recording.log.script[call] = [1] * 3
    assert getattr(engine, method)(bus_numbers) is None
    assert recording.log.calls == [(call, (bus,), {}) for bus in expected_arguments]


@pytest.mark.parametrize(
    "version, call",
    [(36.2, "machine_chng_5"), (36.0, "machine_chng_5"), (35.9, "machine_chng_4"), (35.5, "machine_chng_4"),
     (35.3, "machine_chng_3"), (35.0, "machine_chng_3"), (34.9, "machine_chng_2"), (34.0, "machine_chng_2")],
)
def test_change_machine_data_by_version(recording, version, call):
    engine = recording.engine(version)
    recording.log.script[call] = [6]
    assert engine.change_machine_data(ibus=1001, id="1", intgar1=0) == 6
    assert recording.log.calls == [(call, (), {"ibus": 1001, "id": "1", "intgar1": 0})]


def test_case_paths_that_exist_only_with_capitals_are_resolved(recording, tmp_path):
    saved = tmp_path / "Cases" / "Main.sav"
    saved.parent.mkdir()
    saved.write_text("")
    engine = recording.engine(35.5)
    engine.open_case(sfile=str(tmp_path / "cases" / "main.sav"))
    engine.get_case_data(str(tmp_path / "cases" / "main.sav"))
    engine.get_case_data(str(tmp_path / "absent.sav"))
    assert recording.log.calls == [
        ("case", (), {"sfile": str(saved)}),
        ("Savecase", (str(saved),), {}),
        ("Savecase", (str(tmp_path / "absent.sav"),), {}),
    ]
