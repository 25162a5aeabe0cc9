"""Summary of a run: for every main case and small case, what was added and how far the solve came.

Everything is read back from the files the run leaves in each results folder
(parent folder / small case / main case): the status report gives the elements added and
the engine codes of every call, the saved solved cases and the unsolved log tell how far
the connection-by-connection solve came. Files left by an earlier run in the same folders
are told apart with an `OutputSnapshot` taken before the run.
"""
import csv
import io
import os
import re
from dataclasses import dataclass, field

from gridfold.files import resolve_ignoring_case, write_text_whole

FULLY_SOLVED = "fully solved"
BASE_UNSOLVED = "base case unsolved"
NOT_FINISHED = "not finished"
NOT_RUN = "not run"

#: Total key of each status-report section and the name of its element kind in the summary.
ELEMENT_KINDS = (
    ("total_bus", "buses"),
    ("total_line_branch", "line_branches"),
    ("total_trn_branch", "transformers"),
    ("total_gen", "generators"),
    ("total_fsh", "fixed_shunts"),
    ("total_swsh", "switched_shunts"),
    ("total_lod", "loads"),
    ("total_ind", "induction_machines"),
)

CSV_COLUMNS = ("main_case", "small_case", "connecting_bus", "elements_added", "refused_calls") + tuple(
    kind for _, kind in ELEMENT_KINDS) + ("solve", "connections_solved", "last_solved_case", "results_folder")

_BASE_FAILURE = "unsolved: "
_NETWORK_FAILURE = "unsolved generating system: "
_LAST_SUCCESS = "last_solve_success:"


def _bus_text(value):
    """A bus number from the workbook as text: 49.0 read from a cell is bus 49."""
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return "" if value is None else str(value)


def case_name(file_name):
    """A case's name as the run uses it: the file name cut at its first ".sav"."""
    return str(file_name).split(".sav")[0]


@dataclass
class StudyPair:
    """One main case and one small case of a study, as the run will meet them."""
    main_case: str
    small_case: str
    connecting_bus: object
    parent_folder: str

    @property
    def results_folder(self):
        return os.path.join(self.parent_folder, self.small_case, self.main_case)

    def output(self, suffix):
        """Path of a file of this pair's results folder, named main case + `suffix`."""
        return os.path.join(self.results_folder, self.main_case + suffix)

    @property
    def status_file(self):
        return self.output("_status_" + self.small_case + ".txt")

    @property
    def unsolved_log(self):
        return self.output("_unsolved_lf.txt")

    @property
    def final_solved_case(self):
        return self.output("_solved_" + self.small_case + "_final_solved.sav")

    def watched_files(self):
        return (self.status_file, self.unsolved_log, self.final_solved_case)


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

    @property
    def elements_added(self):
        return sum(self.elements.values())

    @property
    def solved(self):
        return self.solve == FULLY_SOLVED


def study_pairs(main_rows, case_rows, base_folder):
    """Every (main case, small case) pair in run order, from enabled workbook rows.

    `main_rows` hold "snapshot filename"; `case_rows` hold "name of case to be added",
    "connecting bus number" and "parent_path". Relative folders are taken from `base_folder`.
    """
    pairs = []
    for main in main_rows:
        for small in case_rows:
            parent = str(small.get("parent_path", ""))
            if not os.path.isabs(parent):
                parent = os.path.join(base_folder, parent)
            pairs.append(StudyPair(case_name(main["snapshot filename"]), case_name(small["name of case to be added"]),
                                   small.get("connecting bus number"), parent))
    return pairs


class OutputSnapshot:
    """What the run's watched output files looked like before a run.

    After the run a file counts only when it is new or was rewritten (another inode,
    modification time or size), so that results of an earlier run in the same folders are
    not reported as this run's.
    """

    def __init__(self, pairs):
        self._before = {}
        for pair in pairs:
            for path in pair.watched_files():
                self._before[path] = _identity(path)

    def is_fresh(self, path):
        now = _identity(path)
        return now is not None and now != self._before.get(path)


def _identity(path):
    try:
        stat = os.stat(resolve_ignoring_case(path))
    except OSError:
        return None
    return (stat.st_ino, stat.st_mtime_ns, stat.st_size)


def _always_fresh(path):
    return os.path.exists(resolve_ignoring_case(path))


def read_status_report(path):
    """Element counts by kind and the number of engine calls refused, from a status report.

    A section's total line gives the number of elements read from the small case; every
    other entry holds the engine's code for one call, 0 meaning accepted.
    """
    totals = dict.fromkeys((kind for _, kind in ELEMENT_KINDS), 0)
    kinds = dict(ELEMENT_KINDS)
    refused = 0
    with open(path, encoding="utf-8", errors="replace") as stream:
        for number, line in enumerate(stream, start=1):
            if not line.startswith(" ") or not line.strip():
                continue  # section header or the empty line after a section
            key, separator, value = line.strip().rpartition(": ")
            if not separator:
                continue  # header of a nested block
            key = key.strip()
            try:
                code = int(value)
            except ValueError:
                raise ValueError(f"{path}, line {number}: expected an integer after ': ', found {value!r}") from None
            if key in kinds:
                totals[kinds[key]] += code
            elif code != 0:
                refused += 1
    return totals, refused


def read_unsolved_log(path):
    """(solve text, connections solved, last solved case) from a results folder's unsolved log."""
    with open(path, encoding="utf-8", errors="replace") as stream:
        line = stream.readline().rstrip("\r\n")
    if line.startswith(_BASE_FAILURE):
        return BASE_UNSOLVED, None, ""
    if line.startswith(_NETWORK_FAILURE) and _LAST_SUCCESS in line:
        last = line.split(_LAST_SUCCESS, 1)[1].strip()
        match = re.search(r"_(\d+)\.sav$", last)
        if match:
            solved = int(match.group(1))
            return f"solved up to connection {solved} (connection {solved + 1} failed)", solved, last
        return NOT_FINISHED, None, last
    raise ValueError(f"{path}: not an unsolved log line: {line!r}")


def summarise(pairs, is_fresh=None, base_folder=None):
    """One `SummaryRow` per pair, read from the results folders.

    `is_fresh(path)` says whether a file belongs to the run being summarised (see
    `OutputSnapshot`); by default every existing file does. Paths in the rows are shown
    relative to `base_folder` when they lie under it.
    """
    is_fresh = is_fresh or _always_fresh
    rows = []
    for pair in pairs:
        row = SummaryRow(pair.main_case, pair.small_case, pair.connecting_bus,
                         results_folder=_shown(pair.results_folder, base_folder))
        if is_fresh(pair.status_file):
            row.elements, row.refused_calls = read_status_report(resolve_ignoring_case(pair.status_file))
            row.solve = NOT_FINISHED
        if is_fresh(pair.final_solved_case):
            row.solve, row.last_solved_case = FULLY_SOLVED, pair.final_solved_case
        elif is_fresh(pair.unsolved_log):
            row.solve, row.connections_solved, row.last_solved_case = read_unsolved_log(
                resolve_ignoring_case(pair.unsolved_log))
        if row.last_solved_case:
            row.last_solved_case = _shown(_from_base(row.last_solved_case, base_folder), base_folder)
        rows.append(row)
    return rows


def _from_base(path, base_folder):
    if base_folder and not os.path.isabs(path):
        return os.path.join(base_folder, path)
    return path


def _shown(path, base_folder):
    if base_folder:
        relative = os.path.relpath(os.path.abspath(path), os.path.abspath(base_folder))
        if not relative.startswith(os.pardir):
            return relative
    return path


def _elements_text(row):
    if row.solve == NOT_RUN:
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
        counts = [row.elements.get(kind, 0) for _, kind in ELEMENT_KINDS]
        writer.writerow([row.main_case, row.small_case, _bus_text(row.connecting_bus), row.elements_added, row.refused_calls,
                         *counts, row.solve, "" if row.connections_solved is None else row.connections_solved,
                         row.last_solved_case, row.results_folder])
    return buffer.getvalue()


def write_csv(rows, path):
    """Write the summary to `path` as CSV, whole or not at all."""
    write_text_whole(path, csv_text(rows))
