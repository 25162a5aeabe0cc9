"""Summary of a run, computed from its run record (run_record.json).

The driver writes one record per run: for every main case and small case pair its outcome,
the elements accepted and refused, the connections and how far they got. The summary table,
summary.csv and the exit status are all computed from that record, so that they cannot
disagree with what the run did.
"""
import csv
import io
import json
import os
from dataclasses import dataclass, field

from gridfold.files import write_text_whole

FULLY_SOLVED = "fully solved"
BASE_UNSOLVED = "base case unsolved"
NOT_RUN = "not run"
ISLANDED = "islanded"
ERROR = "error"

EXIT_SOLVED = 0
EXIT_UNSOLVED = 1
EXIT_ERROR = 2

#: Element kinds of the record, in the order of the adders.
ELEMENT_KINDS = ("buses", "line_branches", "transformers", "generators", "fixed_shunts", "switched_shunts", "loads",
                 "induction_machines")

CSV_COLUMNS = ("main_case", "small_case", "connecting_bus", "elements_added", "refused_calls") + ELEMENT_KINDS + (
    "solve", "connections_solved", "last_solved_case", "results_folder",
    # added after the first columns, so that readers of the earlier layout keep working
    "connections_total", "left_out_at_connecting_bus", "exit_class")


def case_name(file_name):
    """A case's name as the run uses it: the file name cut at its first ".sav"."""
    return str(file_name).split(".sav")[0]


def _bus_text(value):
    """A bus number as text: 49.0 is bus 49."""
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return "" if value is None else str(value)


@dataclass
class SummaryRow:
    main_case: str
    small_case: str
    connecting_bus: object
    elements: dict = field(default_factory=dict)
    refused_calls: int = 0
    solve: str = NOT_RUN
    connections_solved: object = None
    last_solved_case: str = ""
    results_folder: str = ""
    connections_total: object = None
    left_out: int = 0
    exit_class: int = EXIT_UNSOLVED

    @property
    def elements_added(self):
        """Elements the engine accepted."""
        return sum(self.elements.values())

    @property
    def solved(self):
        return self.solve == FULLY_SOLVED


def read_record(path):
    """The run record at `path`, as a dict."""
    with open(path, encoding="utf-8") as stream:
        record = json.load(stream)
    if record.get("format") != 1:
        raise ValueError(f"{path}: not a run record of format 1")
    return record


def _row_order(row_text):
    """Sort key of a row name "<sheet> row <n>": the sheet, then the row number."""
    sheet, _, number = str(row_text).rpartition(" row ")
    return (sheet, int(number)) if number.isdigit() else (str(row_text), 0)


def merge_records(records):
    """One record from the partial records of a run shared out by main case or by pair.

    Main cases and pairs come out in workbook order (main case rows, then small case rows).
    A main case met in several partial records is one entry: its first error, its solved case
    and base-case result where any part has them, and the seconds of all parts added up.
    """
    records = [r for r in records if r]
    if not records:
        raise ValueError("no run records to merge")
    merged = {key: value for key, value in records[0].items() if key not in ("main_cases", "pairs")}
    merged["started"] = min(r["started"] for r in records)
    merged["finished"] = max((r["finished"] for r in records if r.get("finished")), default=None)
    merged["seconds"] = sum(r.get("seconds") or 0.0 for r in records)
    mains = {}
    for record in records:
        for main in record["main_cases"]:
            key = (main["row"], main["file"])
            if key not in mains:
                mains[key] = dict(main)
                continue
            kept = mains[key]
            kept["error"] = kept["error"] or main["error"]
            kept["solved_case"] = kept["solved_case"] or main["solved_case"]
            if kept["base_case_solved"] is None:
                kept["base_case_solved"] = main["base_case_solved"]
            kept["seconds"] = (kept.get("seconds") or 0.0) + (main.get("seconds") or 0.0)
    main_order = {key: _row_order(key[0]) for key in mains}
    merged["main_cases"] = [mains[key] for key in sorted(mains, key=main_order.get)]
    row_of_main = {m["name"]: _row_order(m["row"]) for m in merged["main_cases"]}
    pairs = [pair for record in records for pair in record["pairs"]]
    merged["pairs"] = sorted(pairs, key=lambda p: (row_of_main.get(p["main_case"], ("", 0)), _row_order(p["row"])))
    return merged


def write_record(record, path):
    """Write a run record as the driver does (UTF-8 JSON, 2-space indent), whole or not at all."""
    write_text_whole(path, json.dumps(record, indent=2, ensure_ascii=False) + "\n")


def _shown(path, base_folder):
    if not path:
        return ""
    if base_folder:
        relative = os.path.relpath(os.path.abspath(path), os.path.abspath(base_folder))
        if not relative.startswith(os.pardir):
            return relative
    return path


def rows_from_record(record, base_folder=None):
    """One `SummaryRow` per pair of the record, in its order. Paths are shown relative to
    `base_folder` when they lie under it."""
    rows = []
    for pair in record["pairs"]:
        elements = pair["elements"]
        outcome = pair["outcome"]
        ran = outcome not in (NOT_RUN, ERROR) or pair.get("status_report")
        row = SummaryRow(pair["main_case"], pair["small_case"], pair["connecting_bus"],
                         elements=dict(elements["accepted"]) if ran else {},
                         refused_calls=len(elements["refused"]),
                         solve=outcome,
                         results_folder=_shown(pair["results_folder"], base_folder),
                         last_solved_case=_shown(pair.get("last_solved_case") or "", base_folder),
                         left_out=len(elements["left_out_at_connecting_bus"]),
                         exit_class=pair["exit_class"])
        if outcome != FULLY_SOLVED and outcome not in (NOT_RUN, ERROR, BASE_UNSOLVED):
            row.connections_solved = pair["connections_solved"]
        if ran and outcome not in (NOT_RUN, ERROR):
            row.connections_total = pair["connections_total"]
        rows.append(row)
    return rows


def exit_code(record):
    """0 when every pair solved fully, 1 when some did not (or had elements refused, or
    were islanded), 2 when an error stopped a main case."""
    code = EXIT_SOLVED
    for main_case in record["main_cases"]:
        if main_case.get("error"):
            code = EXIT_ERROR
    for pair in record["pairs"]:
        code = max(code, int(pair["exit_class"]))
    return code


def _elements_text(row):
    if row.solve in (NOT_RUN, ERROR) and not row.elements:
        return "-"
    text = str(row.elements_added)
    if row.refused_calls:
        text += f" ({row.refused_calls} refused)"
    return text


def format_table(rows):
    """The summary as an aligned text table, one line per row.

    The last solved case is shown by file name: it lies in the row's results folder, and
    the full path is in summary.csv.
    """
    header = ("main case", "small case", "elements added", "solve", "last solved case")
    lines = [header] + [(r.main_case, r.small_case, _elements_text(r), r.solve,
                         os.path.basename(r.last_solved_case) or "-") for r in rows]
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    rule = tuple("-" * width for width in widths)
    out = []
    for line in [lines[0], rule] + lines[1:]:
        out.append("  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip())
    return "\n".join(out)


def csv_text(rows):
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(CSV_COLUMNS)
    for row in rows:
        counts = [row.elements.get(kind, 0) for kind in ELEMENT_KINDS]
        writer.writerow([row.main_case, row.small_case, _bus_text(row.connecting_bus), row.elements_added, row.refused_calls,
                         *counts, row.solve, "" if row.connections_solved is None else row.connections_solved,
                         row.last_solved_case, row.results_folder,
                         "" if row.connections_total is None else row.connections_total, row.left_out, row.exit_class])
    return buffer.getvalue()


def write_csv(rows, path):
    """Write the summary to `path` as CSV, whole or not at all."""
    write_text_whole(path, csv_text(rows))
