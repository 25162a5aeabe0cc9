"""Python API: run a study from a script or a notebook.

    >>> import gridfold
    >>> study = gridfold.run_study("studies/2027_q3.xlsx", keep="solved")
    >>> study.summary                      # pandas DataFrame, one row per main case and plant
    >>> study.record["pairs"][0]["dispatch_check"]

`run_study` runs the workbook like `gridfold run` does, then, beyond the merge run itself:
puts every fully solved plant at full output (the dispatch check), writes
results/run_record.json, results/report.html, results/summary.xlsx and results/run.log
(the console with times), and removes intermediate cases as `keep` asks. The report files
and the log go to the folder of the run record: the results folder of the first small case.
"""
import contextlib
import datetime
import json
import os
import re
import sys
from dataclasses import dataclass

import gridfold
from gridfold import report as report_module
from gridfold import summary as summary_module
from gridfold.files import write_text_whole
from gridfold.study import RunOutcome, StudyError, read_study, record_path_of

RUN_LOG = "run.log"

#: What `keep` leaves of the saved cases of a fully solved plant.
KEEP_CHOICES = ("all", "solved", "final")


@dataclass
class Study(RunOutcome):
    """What `run_study` returns."""
    workbook: str
    record: dict          # the run record (results/run_record.json)
    summary: object       # pandas DataFrame, one row per (main case, plant)
    rows: list            # summary rows as summary.csv holds them
    summary_csv: str
    record_path: str
    report: str           # results/report.html
    summary_xlsx: str     # results/summary.xlsx
    run_log: str          # results/run.log


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
    record_path = record_path_of(workbook, cases)
    results = os.path.dirname(record_path)

    from gridfold.study import run_study as run_workbook

    run_log = os.path.join(results, RUN_LOG)
    with ConsoleLog(run_log, total=len(mains) * len(cases), bar=progress) as console:
        result = run_workbook(workbook, dispatch_check=dispatch_check, connection_voltages=True)
        record = result.record
        removed = prune_cases(record, keep)
        if removed:
            console.note(f"--keep {keep}: removed {removed} intermediate cases")
            write_text_whole(result.record_path, json.dumps(record, indent=2, ensure_ascii=False) + "\n")
        html_path, xlsx_path = report_module.write_report(record, results)
        console.note(f"report written to {html_path}")
    frame = report_module.summary_frame(record)
    return Study(workbook, record, frame, result.rows, result.summary_csv, result.record_path, html_path, xlsx_path,
                 run_log)


# --------------------------------------------------------------------------- console

class ConsoleLog:
    """Copies what the run prints to the console into a log file, each line with its time.

    The log is written whole when the run ends, into the log's folder when the run made it:
    a run stopped by a fault in its input leaves no results folder behind.

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
        self._log = []
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
        if os.path.isdir(os.path.dirname(self.path)):
            write_text_whole(self.path, "".join(self._log))
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
        self._log.append(datetime.datetime.now().strftime("%H:%M:%S.%f")[:-3] + "  " + line + "\n")


def _is_terminal(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


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


def _pair_cases(pair):
    """The saved cases of a pair: those its record lists, and the adders' cases of its
    results folder (the record lists the cases of the run steps only)."""
    cases = list(pair.get("saved_cases") or [])
    folder = pair.get("results_folder")
    with contextlib.suppress(OSError, TypeError):
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if path not in cases and _case_kind(name, pair["main_case"], pair["small_case"]) is not None:
                cases.append(path)
    return cases


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
        for path in _pair_cases(pair):
            kind = _case_kind(os.path.basename(path), pair["main_case"], pair["small_case"])
            if kind in _REMOVED_BY_KEEP[keep]:
                with contextlib.suppress(FileNotFoundError):
                    os.remove(path)
                removed += 1
            elif path in (pair.get("saved_cases") or []):
                kept.append(path)
        pair["saved_cases"] = kept
    return removed


__all__ = ["Study", "run_study", "KEEP_CHOICES", "ConsoleLog", "prune_cases"]
