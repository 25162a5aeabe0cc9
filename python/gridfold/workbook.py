"""Writing configuration workbooks: the blank one of `gridfold new-workbook` and the demo's.

A workbook has a control sheet that lists the configuration sheets, and one sheet of each
type: software settings (SOFT_INPUT), main cases (MAIN_INPUT) and small cases (CASE_INPUT).
"""
import openpyxl
from openpyxl.comments import Comment
from openpyxl.styles import Font

import gridfold
from gridfold.files import written_whole

CONTROL_SHEET = "control"
SOFTWARE_SHEET = "software"
MAIN_SHEET = "main_cases"
CASE_SHEET = "small_cases"
NOTES_SHEET = "notes"

DEFAULT_VERSION = 35.5
DEFAULT_INIT = 150000
DEFAULT_RESULTS = "results"

CONTROL_COLUMNS = ("SHEET NAME", "SHEET TYPE", "SHEET RUN ENABLED", "FOLDER PATH TO STORE RESULTS FOR SHEET")
SOFTWARE_COLUMNS = ("attribute description", "attribute value")
MAIN_COLUMNS = ("enabled", "snapshot filepath", "snapshot filename")
CASE_COLUMNS = ("enabled", "filepath of case to be added", "name of case to be added", "connecting bus number")

# Explanations shown as comments on the column labels.
_COLUMN_NOTES = {
    "SHEET NAME": "Name of a sheet of this workbook.",
    "SHEET TYPE": "SOFT_INPUT, MAIN_INPUT or CASE_INPUT (several may be joined with ';' or ',').",
    "SHEET RUN ENABLED": "1: the sheet takes part and its rows get the results folder. NOT APPLICABLE: it takes "
                         "part without one. 0 or empty: the sheet is left out.",
    "FOLDER PATH TO STORE RESULTS FOR SHEET": "Folder that receives the results of the sheet's small cases "
                                              "(used when SHEET RUN ENABLED is 1).",
    "attribute description": "psse_path, psse_version or psse_init.",
    "attribute value": "Value of the setting.",
    "enabled": "yes or 1 takes the row part; anything else leaves it out.",
    "snapshot filepath": "Folder of the main case file.",
    "snapshot filename": "File name of the main case (.sav may be left out).",
    "filepath of case to be added": "Folder of the small case file.",
    "name of case to be added": "File name of the small case (.sav may be left out).",
    "connecting bus number": "Number of the main-case bus that the small case joins.",
}

_NOTES = (
    ("topic", "explanation"),
    ("what this is", "A gridfold study: every enabled small case is added into every enabled main case and "
                     "solved connection by connection. Run it with: gridfold run <this workbook>"),
    ("sheet control", "Lists the configuration sheets with their type, whether they take part and the results "
                      "folder of the small cases."),
    ("sheet software", "Engine settings. psse_path: folder of the engine's Python packages (psspy, caspy); the "
                       "embedded engine's folder is filled in, `gridfold engine-path` prints it. psse_version: "
                       "engine version, 34 or later (35.5 picks the 35.5 packages). psse_init: bus capacity given "
                       "to the engine when a main case is opened."),
    ("sheet main_cases", "One row per main case: enabled, folder of its case file, file name."),
    ("sheet small_cases", "One row per small case (one plant): enabled, folder of its case file, file name, and "
                          "the main-case bus it joins. Each small case is studied against every main case."),
    ("text cells", "Labels and text are read without surrounding blanks and in lower case, file names and "
                   "folders too, so every output name is in lower case."),
    ("relative folders", "Folders written without a drive or leading slash are taken from the folder of this "
                         "workbook when it is run with `gridfold run`."),
    ("results", "For each small case S and main case M: <results folder>/S/M holds the renumber maps, the "
                "status report, the saved cases and, when it did not solve, the unsolved log. gridfold run "
                "writes summary.csv beside the workbook."),
    ("example rows", "The example rows are disabled (enabled = no); edit them or add your own."),
)


def _add_sheet(book, title, columns, rows, widths=None):
    sheet = book.create_sheet(title)
    sheet.append(list(columns))
    for cell in sheet[1]:
        cell.font = Font(bold=True)
        note = _COLUMN_NOTES.get(cell.value)
        if note:
            cell.comment = Comment(note, "gridfold")
    for row in rows:
        sheet.append(list(row))
    for index, column in enumerate(columns):
        width = (widths or {}).get(index) or max([len(str(column))] + [len(str(r[index])) for r in rows
                                                                       if index < len(r)]) + 2
        sheet.column_dimensions[openpyxl.utils.get_column_letter(index + 1)].width = min(width, 100)
    return sheet


def write_workbook(path, main_rows, case_rows, psse_path=None, psse_version=DEFAULT_VERSION,
                   psse_init=DEFAULT_INIT, results_folder=DEFAULT_RESULTS, notes=True):
    """Write a study workbook to `path` (whole or not at all).

    `main_rows` are (enabled, folder, file name); `case_rows` are (enabled, folder, file name,
    connecting bus). `psse_path` defaults to the embedded engine's folder.
    """
    book = openpyxl.Workbook()
    book.remove(book.active)
    control = [
        (SOFTWARE_SHEET, "SOFT_INPUT", "NOT APPLICABLE", None),
        (MAIN_SHEET, "MAIN_INPUT", "NOT APPLICABLE", None),
        (CASE_SHEET, "CASE_INPUT", 1, results_folder),
    ]
    _add_sheet(book, CONTROL_SHEET, CONTROL_COLUMNS, control)
    software = [
        ("psse_path", psse_path if psse_path is not None else gridfold.EMBEDDED_ENGINE_PATH),
        ("psse_version", psse_version),
        ("psse_init", psse_init),
    ]
    _add_sheet(book, SOFTWARE_SHEET, SOFTWARE_COLUMNS, software)
    _add_sheet(book, MAIN_SHEET, MAIN_COLUMNS, main_rows)
    _add_sheet(book, CASE_SHEET, CASE_COLUMNS, case_rows)
    if notes:
        _add_sheet(book, NOTES_SHEET, _NOTES[0], _NOTES[1:], widths={0: 20, 1: 110})
    with written_whole(path, suffix=".xlsx") as temporary:
        book.save(temporary)


def write_blank_workbook(path):
    """A workbook with every sheet laid out, the embedded engine filled in and disabled example rows."""
    write_workbook(
        path,
        main_rows=[("no", "main_cases", "summer_peak.sav")],
        case_rows=[("no", "small_cases", "solar_a.sav", 101)],
    )
