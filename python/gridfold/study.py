"""Running a study workbook from the command line and summarising it.

`run_study` checks the workbook for the faults that would otherwise stop the run with an
unclear message, runs `run_integration` on it with the workbook's folder as working folder
(so that relative folders in the workbook are taken from there), then reads the summary
back from the results folders and writes summary.csv beside the workbook.
"""
import contextlib
import os
from dataclasses import dataclass

from gridfold import summary as summary_module
from gridfold.files import resolve_ignoring_case

SUMMARY_FILE = "summary.csv"

_MAIN_COLUMNS = ("snapshot filepath", "snapshot filename")
_CASE_COLUMNS = ("filepath of case to be added", "name of case to be added", "connecting bus number")


class StudyError(Exception):
    """A fault in the study's input, with a message that names the file and what is wrong."""


@dataclass
class StudyResult:
    workbook: str
    rows: list
    summary_csv: str

    @property
    def all_solved(self):
        return all(row.solved for row in self.rows)


def takes_part(value):
    """A main or small case row takes part when "enabled" reads yes or holds 1."""
    if isinstance(value, str):
        return value == "yes"
    try:
        return value == 1
    except (TypeError, ValueError):
        return False


@contextlib.contextmanager
def working_folder(folder):
    previous = os.getcwd()
    os.chdir(folder)
    try:
        yield
    finally:
        os.chdir(previous)


def _check_workbook_path(workbook):
    if not os.path.isfile(workbook):
        raise StudyError(f"workbook not found: {workbook}")
    if ".xlsx" not in os.path.basename(workbook):
        raise StudyError(f"{workbook}: not an .xlsx workbook")


def read_study(workbook):
    """The enabled main case and small case rows of a workbook, checked.

    Raises `StudyError` naming the workbook for a row that lacks a column, a small case
    without a results folder, or a case file that does not exist.
    """
    workbook = os.path.abspath(workbook)
    _check_workbook_path(workbook)
    from gridfold.gridfold_rc import ReadConfigFile

    folder, name = os.path.split(workbook)
    try:
        reader = ReadConfigFile(folder, name)
    except Exception as error:
        raise StudyError(f"{workbook}: cannot be read: {type(error).__name__}: {error}") from error
    mains = _enabled_rows(workbook, "main case", reader.get_main_config_indexed_dict(), _MAIN_COLUMNS)
    cases = _enabled_rows(workbook, "small case", reader.get_case_config_indexed_dict(), _CASE_COLUMNS)
    for number, row in enumerate(cases, start=1):
        folder_given = isinstance(row.get("parent_path"), str) and row["parent_path"].strip() != ""
        if not folder_given:
            raise StudyError(f"{workbook}: small case {number} ({row['name of case to be added']}) has no results "
                             "folder: give its sheet SHEET RUN ENABLED = 1 and a FOLDER PATH TO STORE RESULTS FOR "
                             "SHEET in the control sheet")
    with working_folder(folder):
        for kind, rows, path_column, name_column in (("main case", mains, *_MAIN_COLUMNS),
                                                     ("small case", cases, *_CASE_COLUMNS[:2])):
            for row in rows:
                case_file = os.path.join(str(row[path_column]), summary_module.case_name(row[name_column]) + ".sav")
                if not os.path.isfile(resolve_ignoring_case(case_file)):
                    raise StudyError(f"{workbook}: {kind} file not found: {case_file}")
    return mains, cases


def _enabled_rows(workbook, kind, indexed, columns):
    rows = []
    for key, row in indexed.items():
        if "enabled" not in row:
            raise StudyError(f"{workbook}: {kind} row {int(key) + 1} has no column 'enabled'")
        if not takes_part(row["enabled"]):
            continue
        for column in columns:
            if column not in row:
                raise StudyError(f"{workbook}: {kind} row {int(key) + 1} has no column '{column}'")
        rows.append(row)
    return rows


def run_study(workbook, **run_options):
    """Run a study workbook and return its `StudyResult` (rows in run order).

    `run_options` go to `run_integration` (dispatch_check, run_details).
    """
    workbook = os.path.abspath(workbook)
    mains, cases = read_study(workbook)
    from gridfold.gridfold_main import run_integration

    folder, name = os.path.split(workbook)
    pairs = summary_module.study_pairs(mains, cases, folder)
    snapshot = summary_module.OutputSnapshot(pairs)
    with working_folder(folder):
        run_integration(folder, name, **run_options)
    rows = summary_module.summarise(pairs, snapshot.is_fresh, base_folder=folder)
    summary_csv = os.path.join(folder, SUMMARY_FILE)
    summary_module.write_csv(rows, summary_csv)
    return StudyResult(workbook, rows, summary_csv)
