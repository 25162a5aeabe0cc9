"""Running a study workbook from the command line and summarising it.

`run_study` checks the workbook for the faults that would otherwise stop the run with an
unclear message, runs `run_integration` on it with the workbook's folder as working folder
(so that relative folders in the workbook are taken from there), then computes the summary
from the run record the driver wrote and writes summary.csv beside the workbook.
"""
import contextlib
import io
import os
from dataclasses import dataclass

from gridfold import summary as summary_module
from gridfold.files import resolve_ignoring_case

SUMMARY_FILE = "summary.csv"

_MAIN_COLUMNS = ("snapshot filepath", "snapshot filename")
_CASE_COLUMNS = ("filepath of case to be added", "name of case to be added", "connecting bus number")


class StudyError(Exception):
    """A fault in the study's input, with a message that names the file and what is wrong."""


RECORD_FILE = "run_record.json"


class RunOutcome:
    """What a finished run's summary rows and record say: whether every plant solved, and the
    exit status of the run. Mixed into the result classes, which hold `rows` and `record`."""

    @property
    def all_solved(self):
        return all(row.solved for row in self.rows)

    @property
    def exit_code(self):
        return summary_module.exit_code(self.record)


@dataclass
class StudyResult(RunOutcome):
    workbook: str
    rows: list
    summary_csv: str
    record: dict = None
    record_path: str = ""


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
    mains = _enabled_rows(workbook, reader, "MAIN_INPUT", _MAIN_COLUMNS)
    cases = _enabled_rows(workbook, reader, "CASE_INPUT", _CASE_COLUMNS)
    for row in cases:
        folder_given = isinstance(row.get("parent_path"), str) and row["parent_path"].strip() != ""
        if not folder_given:
            raise StudyError(f"{workbook}, {row.where}: small case {row['name of case to be added']} has no results "
                             "folder: give its sheet SHEET RUN ENABLED = 1 and a FOLDER PATH TO STORE RESULTS FOR "
                             "SHEET in the control sheet")
    # The driver's own reading of the rows refuses the cells it cannot use (names holding a
    # folder, empty name cells) and warns of odd "enabled" values; the run prints those
    # warnings itself, so they are shown here only when nothing will run.
    from gridfold.gridfold_main import _build_case_lists
    with working_folder(folder), contextlib.redirect_stdout(io.StringIO()) as warnings:
        _build_case_lists(folder, name)
    if not mains or not cases:
        print(warnings.getvalue(), end="")
        raise StudyError(_nothing_to_run(workbook, reader, mains, cases))
    with working_folder(folder):
        for kind, rows, path_column, name_column in (("main case", mains, *_MAIN_COLUMNS),
                                                     ("small case", cases, *_CASE_COLUMNS[:2])):
            for row in rows:
                if not all(isinstance(row[c], str) for c in (path_column, name_column)):
                    continue  # numeric and empty cells: the driver names them
                case_file = os.path.join(str(row[path_column]), summary_module.case_name(row[name_column]) + ".sav")
                if not os.path.isfile(resolve_ignoring_case(case_file)):
                    raise StudyError(f"{workbook}, {row.where}: {kind} file not found: {case_file}")
    return mains, cases


class _Row(dict):
    """A workbook row that knows where it stands ("Small Cases row 3")."""
    where = ""


def _row_names(reader, sheet_type):
    """Row key -> "<sheet> row <Excel row number>", the sheet as the workbook names it."""
    shown = {str(name).lower(): str(name) for name in getattr(reader, "_dfs", {}) or {}}
    origins = reader._indexed_row_origins(sheet_type) if hasattr(reader, "_indexed_row_origins") else {}
    return {key: f"{shown.get(sheet, sheet)} row {row}" for key, (sheet, row) in origins.items()}


def _enabled_rows(workbook, reader, sheet_type, columns):
    indexed = reader.get_main_config_indexed_dict() if sheet_type == "MAIN_INPUT" else \
        reader.get_case_config_indexed_dict()
    names = _row_names(reader, sheet_type)
    rows = []
    for key, values in indexed.items():
        row = _Row(values)
        row.where = names.get(key, f"{sheet_type} row {int(key) + 1}")
        if "enabled" not in row:
            raise StudyError(f"{workbook}, {row.where}: no column 'enabled'")
        if not takes_part(row["enabled"]):
            continue
        for column in columns:
            if column not in row:
                raise StudyError(f"{workbook}, {row.where}: no column '{column}'")
        rows.append(row)
    return rows


def _nothing_to_run(workbook, reader, mains, cases):
    """Why a workbook gives no pair to run: the sheet types looked for, what the control
    sheets registered and the sheets the workbook has."""
    missing = " and ".join(kind for kind, rows in (("main case", mains), ("small case", cases)) if not rows)
    registered = ", ".join(f"'{name}' as {kind}" for name, kind in dict(reader.sheet_dict).items()) or "none"
    present = ", ".join(f"'{name}'" for name in (getattr(reader, "_dfs", None) or {})) or "none"
    return (f"{workbook}: nothing to run, no enabled {missing} row. The run looks for sheets of type MAIN_INPUT and "
            f"CASE_INPUT named in a control sheet (labels SHEET NAME, SHEET TYPE, SHEET RUN ENABLED), with rows "
            f"whose 'enabled' is yes. Control sheets register: {registered}. The workbook has the sheets: {present}.")


def record_path_of(workbook, cases):
    """Where a study's run record goes: the results folder of its first small case."""
    parent = str(cases[0]["parent_path"])
    folder = os.path.dirname(workbook)
    return os.path.join(parent if os.path.isabs(parent) else os.path.join(folder, parent), RECORD_FILE)


def run_study(workbook, **run_options):
    """Run a study workbook and return its `StudyResult` (rows in run order).

    `run_options` go to `run_integration` (for example dispatch_check).
    """
    workbook = os.path.abspath(workbook)
    mains, cases = read_study(workbook)
    from gridfold.gridfold_main import run_integration

    folder, name = os.path.split(workbook)
    record_path = record_path_of(workbook, cases)
    with working_folder(folder):
        run_integration(folder, name, record_path=record_path, **run_options)
    record = summary_module.read_record(record_path)
    rows = summary_module.rows_from_record(record, base_folder=folder)
    summary_csv = os.path.join(folder, SUMMARY_FILE)
    summary_module.write_csv(rows, summary_csv)
    return StudyResult(workbook, rows, summary_csv, record, record_path)
