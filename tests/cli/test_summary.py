"""The run summary read back from results folders laid out as a run leaves them.

Status reports are written with the run's own `write_status_report`; saved cases and
unsolved logs are placed under the names the run gives them.
"""
import csv
import os

import pytest

from gridfold import files, summary
from gridfold.gridfold_misc import write_status_report


def _status(path, buses=3, refused=0, line_ckt="1 "):
    """A status report of `buses` buses, one line branch and one machine, `refused` buses refused."""
    bus_status = {"total_bus": buses}
    for k in range(buses):
        bus_status[str(9001 + k)] = -1 if k < refused else 0
    write_status_report(
        path,
        Bus_Status=bus_status,
        Line_Branch_Status={"total_line_branch": 1, f"12 to 9001, Ckt:{line_ckt}": 0},
        Transformer_Branch_Status={"total_trn_branch": 1, "9001 to 9002 to 9003, Id:1": 0,
                                   "9001 to 9002 to 9003 WINDING 1, Ckt:1": 0},
        Generator_Status={"total_gen": 1, "Plant 9003": 0, "Gen 9003, Id:1": 0},
        Fixed_Shunt_Status={"total_fsh": 0},
        Switched_Shunt_Status={"total_swsh": 0},
        Load_Status={"total_lod": 2, "Load 9002, Id:1": 0, "Load 9002, Id:2": 0},
        Induction_Machine_Status={"total_ind": 0},
    )


def _touch(path, text=""):
    with open(path, "w") as stream:
        stream.write(text)


def _pair(tmp_path, small, main="peak"):
    pair = summary.StudyPair(main, small, 12, str(tmp_path / "results"))
    os.makedirs(pair.results_folder, exist_ok=True)
    return pair


@pytest.fixture
def outcomes(tmp_path):
    """Five pairs, one of each outcome, laid out under tmp_path/results."""
    solved = _pair(tmp_path, "solar")
    _status(solved.status_file)
    _touch(solved.final_solved_case)

    base = _pair(tmp_path, "wind")
    _status(base.status_file, buses=2, refused=1)
    _touch(base.unsolved_log, "unsolved: wind -> last_solve_success:none, also check if the original peak was "
                              "solved.\n")

    partial = _pair(tmp_path, "storage")
    _status(partial.status_file)
    last = os.path.join("results", "storage", "peak", "peak_solved_storage_2.sav")
    _touch(partial.unsolved_log, f"unsolved generating system: storage -> last_solve_success:{last}\n")

    unfinished = _pair(tmp_path, "hydro")
    _status(unfinished.status_file)

    not_run = summary.StudyPair("peak", "ghost", 12, str(tmp_path / "results"))
    return [solved, base, partial, unfinished, not_run]


def test_each_outcome_is_read_from_its_results_folder(tmp_path, outcomes):
    rows = summary.summarise(outcomes, base_folder=str(tmp_path))
    by_case = {row.small_case: row for row in rows}

    solved = by_case["solar"]
    assert solved.solve == summary.FULLY_SOLVED and solved.solved
    assert solved.elements["buses"] == 3 and solved.elements["loads"] == 2
    assert solved.elements_added == 3 + 1 + 1 + 1 + 2 and solved.refused_calls == 0
    assert solved.last_solved_case == os.path.join("results", "solar", "peak", "peak_solved_solar_final_solved.sav")

    base = by_case["wind"]
    assert base.solve == summary.BASE_UNSOLVED and not base.solved
    assert base.refused_calls == 1 and base.elements["buses"] == 2
    assert base.last_solved_case == "" and base.connections_solved is None

    partial = by_case["storage"]
    assert partial.solve == "solved up to connection 2 (connection 3 failed)"
    assert partial.connections_solved == 2
    assert partial.last_solved_case == os.path.join("results", "storage", "peak", "peak_solved_storage_2.sav")

    assert by_case["hydro"].solve == summary.NOT_FINISHED
    assert by_case["ghost"].solve == summary.NOT_RUN and by_case["ghost"].elements_added == 0
    assert [row.small_case for row in rows] == ["solar", "wind", "storage", "hydro", "ghost"]


def test_files_left_by_an_earlier_run_do_not_count(tmp_path):
    """A rerun in the same folders: only files the new run wrote decide the outcome."""
    pair = _pair(tmp_path, "solar")
    _status(pair.status_file, buses=5)
    _touch(pair.unsolved_log, "unsolved: solar -> last_solve_success:none, also check if the original peak was "
                              "solved.\n")
    snapshot = summary.OutputSnapshot([pair])

    # The rerun solves: it rewrites the status report and saves the final solved case,
    # but leaves the old unsolved log where it was.
    os.remove(pair.status_file)
    _status(pair.status_file, buses=3)
    _touch(pair.final_solved_case)
    [row] = summary.summarise([pair], snapshot.is_fresh)
    assert row.solve == summary.FULLY_SOLVED and row.elements["buses"] == 3

    # A run that ended before this pair leaves everything stale.
    [row] = summary.summarise([pair], summary.OutputSnapshot([pair]).is_fresh)
    assert row.solve == summary.NOT_RUN


def test_outputs_are_found_under_a_folder_spelt_with_capitals(tmp_path):
    """The workbook delivers lower-cased folders; the results may lie under capitals."""
    real = tmp_path / "Study" / "Results"
    pair = summary.StudyPair("peak", "solar", 12, str(real))
    os.makedirs(pair.results_folder)
    _status(pair.status_file)
    _touch(pair.final_solved_case)
    lowered = summary.StudyPair("peak", "solar", 12, str(tmp_path / "study" / "results"))
    [row] = summary.summarise([lowered])
    assert row.solve == summary.FULLY_SOLVED and row.elements["buses"] == 3


def test_study_pairs_cover_every_main_case_and_small_case_in_run_order(tmp_path):
    mains = [{"snapshot filename": "peak.sav"}, {"snapshot filename": "light"}]
    cases = [{"name of case to be added": "solar.sav", "connecting bus number": 12, "parent_path": "results"},
             {"name of case to be added": "wind.sav.sav", "connecting bus number": 80, "parent_path": "/abs/out"}]
    pairs = summary.study_pairs(mains, cases, str(tmp_path))
    assert [(p.main_case, p.small_case) for p in pairs] == [("peak", "solar"), ("peak", "wind"),
                                                             ("light", "solar"), ("light", "wind")]
    assert pairs[0].results_folder == os.path.join(str(tmp_path), "results", "solar", "peak")
    assert pairs[1].results_folder == os.path.join("/abs/out", "wind", "peak")
    assert pairs[2].status_file.endswith(os.path.join("solar", "light", "light_status_solar.txt"))


def test_faulty_run_files_are_reported_with_their_name(tmp_path):
    pair = _pair(tmp_path, "solar")
    _touch(pair.status_file, "Bus_Status:\n    total_bus: 2\n    9001: refused\n\n")
    with pytest.raises(ValueError, match=r"peak_status_solar\.txt, line 3"):
        summary.summarise([pair])
    _status(pair.status_file)
    _touch(pair.unsolved_log, "something else\n")
    with pytest.raises(ValueError, match="peak_unsolved_lf.txt"):
        summary.summarise([pair])


def test_summary_table_and_csv_hold_the_same_rows(tmp_path, outcomes):
    rows = summary.summarise(outcomes, base_folder=str(tmp_path))
    table = summary.format_table(rows).splitlines()
    assert table[0].split()[:2] == ["main", "case"] and len(table) == 2 + len(rows)
    assert "7 (1 refused)" in table[3]
    assert "base case unsolved" in table[3] and "fully solved" in table[2]

    path = tmp_path / "summary.csv"
    summary.write_csv(rows, str(path))
    with open(path, newline="") as stream:
        records = list(csv.DictReader(stream))
    assert [r["small_case"] for r in records] == [row.small_case for row in rows]
    assert records[0]["elements_added"] == "8" and records[0]["buses"] == "3" and records[0]["connections_solved"] == ""
    assert records[2]["connections_solved"] == "2" and records[1]["refused_calls"] == "1"


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
