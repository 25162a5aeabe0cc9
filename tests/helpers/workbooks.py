"""Builders of configuration workbooks (real .xlsx files written with openpyxl).

`write_workbook` writes any sheets; `study_workbook` writes a whole study: a control
sheet, a software sheet, a main-case sheet and a small-case sheet, with the labels in
the capitals a user would type (the reader compares them lower-cased).
"""
import os

import openpyxl

CONTROL_LABELS = ["SHEET NAME", "SHEET TYPE", "SHEET RUN ENABLED", "FOLDER PATH TO STORE RESULTS FOR SHEET"]
SOFT_LABELS = ["Attribute Description", "Attribute Value"]
MAIN_LABELS = ["Enabled", "Snapshot Filepath", "Snapshot Filename"]
CASE_LABELS = ["Enabled", "Filepath of Case to be Added", "Name of Case to be Added", "Connecting Bus Number"]


def write_workbook(path, sheets):
    """Write `sheets` (sheet name -> list of rows, the first row the labels) to `path`.

    A cell value of None leaves the cell empty; a row of Nones is an empty row. Sheets are
    written in the order given. Returns `path`.
    """
    book = openpyxl.Workbook()
    book.remove(book.active)
    for name, rows in sheets.items():
        sheet = book.create_sheet(title=name)
        for r, row in enumerate(rows, start=1):
            for c, value in enumerate(row, start=1):
                if value is not None:
                    sheet.cell(row=r, column=c, value=value)
    book.save(path)
    return path


def study_workbook(folder, *, psse_path, results_folder, main_cases, small_cases, version=35.5,
                   init=50000, file_name="config.xlsx", extra_soft_rows=()):
    """Write a whole study's workbook into `folder`; return its file name.

    main_cases: rows (enabled, folder, file name); small_cases: rows (enabled, folder, file
    name, connecting bus). Every small case shares `results_folder` (its "parent_path").
    A setting given as None is left out of the software sheet.
    """
    soft = [SOFT_LABELS]
    for description, value in (("PSSE_PATH", psse_path), ("PSSE_VERSION", version), ("PSSE_INIT", init)):
        if value is not None:
            soft.append([description, value])
    soft.extend(list(row) for row in extra_soft_rows)
    sheets = {
        "Control": [CONTROL_LABELS,
                    ["Software", "SOFT_INPUT", "NOT APPLICABLE", None],
                    ["Main Cases", "MAIN_INPUT", "NOT APPLICABLE", None],
                    ["Small Cases", "CASE_INPUT", 1, results_folder]],
        "Software": soft,
        "Main Cases": [MAIN_LABELS] + [list(row) for row in main_cases],
        "Small Cases": [CASE_LABELS] + [list(row) for row in small_cases],
    }
    write_workbook(os.path.join(folder, file_name), sheets)
    return file_name
