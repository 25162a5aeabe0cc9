"""The summary and the exit status computed from a run record.

Whole runs write their records in tests/cli/test_outcomes.py; here records of every outcome
are laid out the way the driver writes them, to check the rules that turn them into rows,
the table, summary.csv and the exit status.
"""
import csv
import json
import os
import re

import pytest

from gridfold import files, summary

KINDS = summary.ELEMENT_KINDS


def _pair(small, outcome, exit_class, accepted=None, refused=0, solved=0, total=4, last=None, left_out=0):
    counts = dict.fromkeys(KINDS, 0)
    counts.update(accepted or {})
    return {"main_case": "peak", "small_case": small, "small_case_file": f"/s/{small}.sav", "row": "Small Cases row 2",
            "connecting_bus": 12, "results_folder": f"/study/results/{small}/peak", "outcome": outcome,
            "exit_class": exit_class, "renumbered": {},
            "elements": {"accepted": counts,
                         "refused": [{"kind": "buses", "ids": [9001 + k], "code": 11} for k in range(refused)],
                         "left_out_at_connecting_bus": [{"kind": "loads", "ids": [12, str(k)]} for k in range(left_out)]},
            "connections": [], "connections_solved": solved, "connections_total": total, "last_solved_case": last,
            "saved_cases": [], "unsolved_log": None, "status_report": f"/study/results/{small}/peak/s.txt",
            "dispatch_check": None, "seconds": 0.1}


@pytest.fixture
def record():
    pairs = [
        _pair("solar", "fully solved", 0, {"buses": 3, "generators": 1}, solved=4,
              last="/study/results/solar/peak/peak_solved_solar_final_solved.sav", left_out=2),
        _pair("wind", "base case unsolved", 1, {"buses": 1}, refused=1),
        _pair("storage", "solved up to connection 2 (connection 3 failed)", 1, {"buses": 3}, solved=2,
              last="/study/results/storage/peak/peak_solved_storage_2.sav"),
        _pair("hydro", "solved, 2 elements refused", 1, {"buses": 2}, refused=2, solved=4),
        _pair("ghost", "not run", 1),
    ]
    pairs[-1]["status_report"] = None
    return {"format": 1, "main_cases": [{"name": "peak", "error": None}], "pairs": pairs}


def test_rows_follow_the_record(record):
    rows = summary.rows_from_record(record, base_folder="/study")
    assert [(r.small_case, r.solve) for r in rows] == [(p["small_case"], p["outcome"]) for p in record["pairs"]]
    solar, wind, storage, hydro, ghost = rows
    assert solar.elements_added == 4 and solar.left_out == 2 and solar.connections_solved is None
    assert solar.last_solved_case == os.path.join("results", "solar", "peak", "peak_solved_solar_final_solved.sav")
    assert (wind.refused_calls, wind.connections_solved, wind.last_solved_case) == (1, None, "")
    assert storage.connections_solved == 2 and storage.connections_total == 4
    assert hydro.refused_calls == 2 and not hydro.solved
    assert ghost.elements == {} and ghost.connections_total is None


@pytest.mark.parametrize("change, code", [
    (lambda r: r["pairs"][1:], 1),
    (lambda r: r["pairs"][:1], 0),
    (lambda r: r["pairs"][:1] + [_pair("x", "islanded", 1)], 1),
    (lambda r: r["pairs"][:1] + [_pair("x", "error", 2)], 2),
], ids=["unsolved", "all-solved", "islanded", "error"])
def test_exit_status_is_the_worst_class_of_any_pair(record, change, code):
    record["pairs"] = change(record)
    assert summary.exit_code(record) == code


def test_an_error_of_a_main_case_is_exit_status_2(record):
    record["pairs"] = record["pairs"][:1]
    record["main_cases"][0]["error"] = "OSError: disk full"
    assert summary.exit_code(record) == 2


def test_summary_table_and_csv_hold_the_same_rows(tmp_path, record):
    rows = summary.rows_from_record(record, base_folder="/study")
    table = summary.format_table(rows).splitlines()
    assert table[0].split()[:2] == ["main", "case"] and len(table) == 2 + len(rows)
    assert "1 (1 refused)" in table[3] and "base case unsolved" in table[3]
    assert "peak_solved_solar_final_solved.sav" in table[2] and table[6].split()[2] == "-"

    path = tmp_path / "summary.csv"
    summary.write_csv(rows, str(path))
    with open(path, newline="") as stream:
        reader = csv.DictReader(stream)
        assert tuple(reader.fieldnames[:14]) == ("main_case", "small_case", "connecting_bus", "elements_added",
                                                 "refused_calls") + KINDS + ("solve",)
        records = list(reader)
    assert [r["small_case"] for r in records] == [row.small_case for row in rows]
    assert records[0]["elements_added"] == "4" and records[0]["buses"] == "3" and records[0]["connections_solved"] == ""
    assert records[2]["connections_solved"] == "2" and records[1]["refused_calls"] == "1"
    assert [r["exit_class"] for r in records] == ["0", "1", "1", "1", "1"]


def test_a_record_of_another_format_is_refused(tmp_path, record):
    path = tmp_path / "run_record.json"
    path.write_text(json.dumps(dict(record, format=2)))
    with pytest.raises(ValueError, match="not a run record of format 1"):
        summary.read_record(str(path))


def test_files_are_written_whole_or_not_at_all(tmp_path):
    path = tmp_path / "summary.csv"
    path.write_text("earlier summary\n")
    with pytest.raises(OSError, match="disk full"):
        with files.written_whole(str(path)) as temporary:
            with open(temporary, "w") as stream:
                stream.write("half a summ")
            raise OSError("disk full")
    assert path.read_text() == "earlier summary\n"
    assert os.listdir(tmp_path) == ["summary.csv"]

    files.write_text_whole(str(path), "new summary\n")
    assert path.read_text() == "new summary\n" and os.listdir(tmp_path) == ["summary.csv"]


def test_temporaries_are_named_as_the_cpp_writer_names_them(tmp_path):
    """".<name>.<eight letters>.tmp<suffix>" beside the target, as common/files.cpp names them,
    so that one pattern finds what an interrupted writer of either kind left."""
    names = []
    for suffix in ("", ".xlsx"):
        with files.written_whole(str(tmp_path / "summary.csv"), suffix=suffix) as temporary:
            names.append(os.path.relpath(temporary, tmp_path))
            open(temporary, "w").close()
    assert re.fullmatch(r"\.summary\.csv\.[a-z0-9_]{8}\.tmp", names[0]), names
    assert re.fullmatch(r"\.summary\.csv\.[a-z0-9_]{8}\.tmp\.xlsx", names[1]), names


def test_partial_records_merge_in_workbook_order(tmp_path, record):
    """A run shared out pair by pair: each part holds its main case and one pair."""
    def part(main_row, pair, small_row, **main):
        entry = {"name": pair["main_case"], "file": f"/m/{pair['main_case']}.sav", "row": main_row,
                 "base_case_solved": None, "solved_case": None, "error": None, "seconds": 1.0, **main}
        return {"format": 1, "started": f"2026-01-01T00:00:0{len(small_row)}", "finished": "2026-01-01T00:01:00",
                "seconds": 2.0, "main_cases": [entry], "pairs": [dict(pair, row=small_row)]}
    solar, wind = record["pairs"][:2]
    light = dict(solar, main_case="light")
    parts = [part("main_cases row 3", light, "small_cases row 2"),
             part("main_cases row 2", wind, "small_cases row 10", solved_case="/r/peak_solved.sav"),
             part("main_cases row 2", solar, "small_cases row 2", base_case_solved=True)]
    merged = summary.merge_records(parts)
    assert [(p["main_case"], p["row"]) for p in merged["pairs"]] == [
        ("peak", "small_cases row 2"), ("peak", "small_cases row 10"), ("light", "small_cases row 2")]
    peak, light_main = merged["main_cases"]
    assert (peak["name"], peak["base_case_solved"], peak["solved_case"], peak["seconds"]) == (
        "peak", True, "/r/peak_solved.sav", 2.0)
    assert light_main["name"] == "light" and merged["seconds"] == 6.0
    assert summary.exit_code(merged) == 1
    path = tmp_path / "run_record.json"
    summary.write_record(merged, str(path))
    assert summary.read_record(str(path)) == merged
