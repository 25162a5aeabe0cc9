"""Python API: run a study from a script or a notebook.

    >>> import gridfold
    >>> study = gridfold.run_study("studies/2027_q3.xlsx", keep="solved")
    >>> study.summary                      # pandas DataFrame, one row per main case and plant
    >>> study.record["pairs"][0]["dispatch_check"]

`run_study` runs the workbook like `gridfold run` does, then, beyond the specified run:
puts every fully solved plant at full output (the dispatch check), writes
results/run_record.json, results/report.html, results/summary.xlsx and results/run.log
(the console with times), and removes intermediate cases as `keep` asks.
"""
import contextlib
import datetime
import json
import os
import re
import sys
import time
from dataclasses import dataclass

import gridfold
from gridfold import report as report_module
from gridfold import summary as summary_module
from gridfold.files import resolve_ignoring_case, write_text_whole
from gridfold.study import StudyError, read_study, working_folder

RESULTS_FOLDER = "results"
RECORD_FILE = "run_record.json"
RUN_LOG = "run.log"
PROGRESS_FILE = "progress.txt"

#: What `keep` leaves of the saved cases of a fully solved plant.
KEEP_CHOICES = ("all", "solved", "final")


@dataclass
class Study:
    """What `run_study` returns."""
    workbook: str
    record: dict          # the run record (results/run_record.json)
    summary: object       # pandas DataFrame, one row per (main case, plant)
    rows: list            # summary rows as summary.csv holds them
    summary_csv: str
    report: str           # results/report.html
    summary_xlsx: str     # results/summary.xlsx
    run_log: str          # results/run.log

    @property
    def all_solved(self):
        return all(row.solved for row in self.rows)


def results_folder(workbook):
    return os.path.join(os.path.dirname(os.path.abspath(workbook)), RESULTS_FOLDER)


def run_study(workbook, keep="all", dispatch_check=True, progress=None):
    """Run a study workbook and return a `Study`.

    keep: "all" leaves every saved case as the run writes it; "solved" removes the added and
    out-of-service cases and the adders' intermediate cases of each fully solved plant;
    "final" also removes its step-by-step solved cases, leaving the final solved and
    dispatched cases. Plants that did not fully solve keep everything, for diagnosis.
    dispatch_check: put each fully solved plant at full output and measure it.
    progress: show a progress bar (default: when the console is a terminal).
    """
    if keep not in KEEP_CHOICES:
        raise StudyError(f"keep must be one of {', '.join(KEEP_CHOICES)}, not {keep!r}")
    workbook = os.path.abspath(workbook)
    mains, cases = read_study(workbook)
    folder = os.path.dirname(workbook)
    pairs = summary_module.study_pairs(mains, cases, folder)
    results = results_folder(workbook)
    os.makedirs(results, exist_ok=True)
    _start_progress_files(pairs)

    from gridfold.study import run_study as run_workbook

    details = {}
    started = datetime.datetime.now().astimezone()
    clock = time.monotonic()
    run_log = os.path.join(results, RUN_LOG)
    with ConsoleLog(run_log, total=len(pairs), bar=progress) as console:
        result = run_workbook(workbook, dispatch_check=dispatch_check, run_details=details)
        seconds = time.monotonic() - clock
        record = _record_of_run(workbook, results, pairs, result.rows, details, started, seconds)
        removed = prune_cases(record, keep)
        if removed:
            console.note(f"--keep {keep}: removed {removed} intermediate cases")
        _write_record(record, os.path.join(results, RECORD_FILE))
        html_path, xlsx_path = report_module.write_report(record, results)
        console.note(f"report written to {html_path}")
    frame = report_module.summary_frame(record)
    return Study(workbook, record, frame, result.rows, result.summary_csv, html_path, xlsx_path, run_log)


# --------------------------------------------------------------------------- console

class ConsoleLog:
    """Copies what the run prints to the console into a log file, each line with its time.

    On a terminal (or with bar=True) a progress bar over the pairs of the run stays at the
    bottom and the run's lines scroll above it; otherwise the lines are printed as they are.
    A pair starts with the driver's line "Processing <main> with <small>".
    """

    _PAIR_START = re.compile(r"^Processing (\S+) with (\S+)$")

    def __init__(self, path, total, bar=None):
        self.path = path
        self.total = total
        self.bar_wanted = bar
        self._pending = ""
        self._bar = None
        self._seen = 0

    def __enter__(self):
        self._console = sys.stdout
        self._log = open(self.path, "w", encoding="utf-8")
        self._stamp(f"gridfold {gridfold.__version__}: run started")
        show_bar = self.bar_wanted if self.bar_wanted is not None else _is_terminal(self._console)
        if show_bar and self.total:
            from tqdm import tqdm

            self._bar = tqdm(total=self.total, unit="plant", file=self._console, dynamic_ncols=True,
                             bar_format="{l_bar}{bar}| {n_fmt}/{total_fmt} plants [{elapsed}<{remaining}]")
        sys.stdout = self
        return self

    def __exit__(self, kind, error, trace):
        sys.stdout = self._console
        if self._pending:
            self._line(self._pending)
            self._pending = ""
        if self._bar is not None:
            self._bar.update(self._seen - self._bar.n)
            self._bar.close()
        if error is not None:
            self._stamp(f"run ended with {kind.__name__}: {error}")
        self._stamp("run finished")
        self._log.close()
        return False

    # file interface of sys.stdout
    def write(self, text):
        text = self._pending + text
        *lines, self._pending = text.split("\n")
        for line in lines:
            self._line(line)
        return len(text)

    def flush(self):
        self._console.flush()
        self._log.flush()

    def isatty(self):
        return False

    @property
    def encoding(self):
        return getattr(self._console, "encoding", "utf-8")

    def note(self, line):
        """A line of gridfold's own, shown and logged."""
        self._line(line)

    def _line(self, line):
        if self._bar is not None:
            match = self._PAIR_START.match(line)
            if match:
                if self._seen:
                    self._bar.update(1)
                self._seen += 1
                self._bar.set_description(f"{match.group(1)} / {match.group(2)}", refresh=False)
            self._bar.write(line, file=self._console)
        else:
            self._console.write(line + "\n")
        self._stamp(line)

    def _stamp(self, line):
        self._log.write(datetime.datetime.now().strftime("%H:%M:%S.%f")[:-3] + "  " + line + "\n")


def _is_terminal(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


def _start_progress_files(pairs):
    """Each run starts the engine's progress files afresh: the engine appends to them."""
    for pair in pairs:
        path = resolve_ignoring_case(os.path.join(pair.results_folder, PROGRESS_FILE))
        with contextlib.suppress(FileNotFoundError):
            os.remove(path)


# --------------------------------------------------------------------------- record

def _write_record(record, path):
    write_text_whole(path, json.dumps(record, indent=2, ensure_ascii=False) + "\n")


def _record_of_run(workbook, results, pairs, rows, details, started, seconds):
    """The run record: the driver's own when it wrote one during this run, else one made
    from the run's outputs; either way with what the additions found for each pair."""
    path = os.path.join(results, RECORD_FILE)
    record = None
    if os.path.isfile(path) and os.path.getmtime(path) >= started.timestamp():
        with open(path, encoding="utf-8") as stream:
            record = json.load(stream)
    if record is None:
        record = _record_from_outputs(workbook, pairs, rows, started, seconds)
    base = os.path.dirname(workbook)
    for pair in record["pairs"]:
        found = _with_absolute_paths(details.get((pair["main_case"], pair["small_case"]), {}), base)
        if not pair.get("dispatch_check") and found.get("dispatch_check"):
            pair["dispatch_check"] = found["dispatch_check"]
        if found.get("connection_voltages"):
            pair.setdefault("connection_voltages", found["connection_voltages"])
        if not pair.get("connections") and found.get("connections") is not None:
            pair["connections"] = found["connections"]
            pair["connections_solved"] = sum(1 for c in found["connections"] if c["solved"])
            pair["connections_total"] = len(found["connections"])
    return record


def _with_absolute_paths(found, base):
    """The driver names cases as the workbook gave their folders (relative to its folder)."""
    for connection in found.get("connections") or []:
        connection["saved_case"] = _absolute(connection.get("saved_case"), base)
    for step in (found.get("connection_voltages") or {}).get("steps", []):
        step["case"] = _absolute(step.get("case"), base)
    if found.get("dispatch_check"):
        found["dispatch_check"]["dispatched_case"] = _absolute(found["dispatch_check"].get("dispatched_case"), base)
    return found


def _record_from_outputs(workbook, pairs, rows, started, seconds):
    finished = datetime.datetime.now().astimezone()
    main_cases = {}
    record_pairs = []
    for pair, row in zip(pairs, rows):
        folder = resolve_ignoring_case(pair.results_folder)
        final_main = resolve_ignoring_case(os.path.join(pair.parent_folder, pair.main_case + "_solved.sav"))
        main = main_cases.setdefault(pair.main_case, {"name": pair.main_case, "file": None, "row": None,
                                                      "base_case_solved": None, "solved_case": None,
                                                      "error": None, "seconds": None})
        if os.path.isfile(final_main):
            main["solved_case"] = final_main
        refused = _refused_elements(resolve_ignoring_case(pair.status_file))
        outcome = row.solve
        if outcome == summary_module.FULLY_SOLVED and refused:
            outcome = f"solved, {len(refused)} elements refused"
        unsolved_log = resolve_ignoring_case(pair.unsolved_log)
        record_pairs.append({
            "main_case": pair.main_case, "small_case": pair.small_case, "small_case_file": None, "row": None,
            "connecting_bus": _bus_number(pair.connecting_bus), "results_folder": folder,
            "outcome": outcome, "exit_class": 0 if outcome == summary_module.FULLY_SOLVED else 1,
            "renumbered": _renumber_map(os.path.join(folder, pair.main_case + "_renumber_map.json")),
            "elements": {"accepted": {kind: count for kind, count in row.elements.items()}, "refused": refused,
                         "left_out_at_connecting_bus": []},
            "connections": [], "connections_solved": row.connections_solved, "connections_total": None,
            "last_solved_case": _absolute(row.last_solved_case, os.path.dirname(workbook)),
            "saved_cases": saved_cases(folder, pair.main_case, pair.small_case),
            "unsolved_log": unsolved_log if os.path.isfile(unsolved_log) else None,
            "status_report": resolve_ignoring_case(pair.status_file),
            "dispatch_check": None, "seconds": None})
    return {"format": 1, "gridfold_version": gridfold.__version__, "workbook": workbook, "engine": _engine(workbook),
            "started": started.isoformat(timespec="seconds"), "finished": finished.isoformat(timespec="seconds"),
            "seconds": round(seconds, 3), "main_cases": list(main_cases.values()), "pairs": record_pairs}


def _engine(workbook):
    """"embedded", or the PSS/E folder the workbook names."""
    from gridfold.gridfold_main import _build_case_lists

    settings = _build_case_lists(*os.path.split(workbook))[0]
    path = str(settings.get("psse_path", ""))
    same = os.path.normcase(os.path.abspath(path)) == os.path.normcase(os.path.abspath(gridfold.EMBEDDED_ENGINE_PATH))
    return "embedded" if same else path


def _bus_number(value):
    if isinstance(value, float) and value.is_integer():
        return int(value)
    return value


def _absolute(path, base):
    if not path:
        return None
    return path if os.path.isabs(path) else os.path.join(base, path)


def _renumber_map(path):
    try:
        with open(resolve_ignoring_case(path), encoding="utf-8") as stream:
            return json.load(stream)
    except (OSError, ValueError):
        return {}


def _refused_elements(status_file):
    """Entries of a status report whose engine code is not 0: [{"kind", "ids", "code"}]."""
    kinds = {"Bus_Status": "buses", "Line_Branch_Status": "line_branches", "Transformer_Branch_Status": "transformers",
             "Generator_Status": "generators", "Fixed_Shunt_Status": "fixed_shunts",
             "Switched_Shunt_Status": "switched_shunts", "Load_Status": "loads",
             "Induction_Machine_Status": "induction_machines"}
    refused, kind = [], None
    try:
        stream = open(status_file, encoding="utf-8", errors="replace")
    except OSError:
        return refused
    with stream:
        for line in stream:
            if line.strip() and not line.startswith(" "):
                kind = kinds.get(line.strip().rstrip(":"), line.strip().rstrip(":"))
                continue
            key, separator, value = line.strip().rpartition(": ")
            if not separator or key.startswith("total_"):
                continue
            try:
                code = int(value)
            except ValueError:
                continue
            if code != 0:
                refused.append({"kind": kind, "ids": key.split(), "code": code})
    return refused


# --------------------------------------------------------------------------- keep

def _case_kind(name, main, small):
    """"dispatched", "final", "step", "intermediate" or None (not a case of this pair)."""
    if name == f"{main}_dispatched_{small}.sav":
        return "dispatched"
    if name == f"{main}_solved_{small}_final_solved.sav":
        return "final"
    if re.fullmatch(re.escape(f"{main}_solved_{small}_") + r"\d+\.sav", name):
        return "step"
    if name.startswith(main + "_") and (name.endswith("_" + small) or name.endswith("_" + small + ".sav")):
        if name.startswith((main + "_added", main + "_oos_")):
            return "intermediate"
    return None


def saved_cases(folder, main, small):
    """The saved cases of one pair in its results folder, in name order."""
    try:
        names = sorted(os.listdir(folder))
    except OSError:
        return []
    return [os.path.join(folder, n) for n in names if _case_kind(n, main, small) is not None]


_REMOVED_BY_KEEP = {"all": (), "solved": ("intermediate",), "final": ("intermediate", "step")}


def prune_cases(record, keep):
    """Remove the cases `keep` does not keep from every fully solved pair; returns how many.

    Runs after the whole run: the dispatch check reads the step-0 case of each plant after
    its main case. A pair that did not fully solve keeps every case, and the case its
    unsolved log names above all.
    """
    removed = 0
    for pair in record["pairs"]:
        if pair.get("outcome") != summary_module.FULLY_SOLVED and not str(pair.get("outcome", "")).startswith("solved, "):
            continue
        kept = []
        for path in pair.get("saved_cases") or []:
            kind = _case_kind(os.path.basename(path), pair["main_case"], pair["small_case"])
            if kind in _REMOVED_BY_KEEP[keep]:
                with contextlib.suppress(FileNotFoundError):
                    os.remove(path)
                removed += 1
            else:
                kept.append(path)
        pair["saved_cases"] = kept
    return removed


__all__ = ["Study", "run_study", "KEEP_CHOICES", "ConsoleLog", "prune_cases", "saved_cases"]
