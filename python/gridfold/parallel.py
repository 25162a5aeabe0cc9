"""Running the main cases of a study at once: worker processes on this machine or a Dask cluster.

Main cases are independent: each runs the chain of its small cases on its own engine. A
study is cut into work units, one per main case (or one per main case and small case with
`each_alone`), and every unit runs `run_integration` on its part of the study in a process
of its own, started by a Dask worker (`--jobs N` starts a local cluster of N
single-threaded workers, `--scheduler ADDRESS` uses an existing one) or, without Dask, one
after the other.

A chain unit works exactly as the serial run does, temporary copy beside the main case
included, so it writes the same files. An each-alone unit copies its main case into a
folder of its own beside it ("."-named, removed afterwards), so that units of one main
case never share a temporary copy. Whatever ends a unit, its temporary copies are removed:
by the process that started it, and once more by the runner when the run ends.

Every unit writes its run record; the runner merges them in workbook order into the run's
record, from which the summary comes. A unit that fails or is killed marks its main case
with its error; the others finish.
"""
import contextlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from collections import OrderedDict
from dataclasses import dataclass, field

from gridfold import summary as summary_module
from gridfold.files import resolve_ignoring_case
from gridfold.study import RECORD_FILE, SUMMARY_FILE, StudyError, StudyResult, read_study, working_folder

#: Folder, inside a small case's results folder root, that receives the each-alone runs:
#: <root>/each_alone/<small case>/ is the parent folder of one pair. The chain run writes
#: <root>/<small case>/<main case>/ and <root>/<main case>_*, so the two never share a file
#: (a small case named each_alone is refused in each-alone runs).
EACH_ALONE_FOLDER = "each_alone"

INSTALL_HINT = "--jobs above 1 and --scheduler need Dask: pip install 'gridfold[cluster]'"

#: How long a stopped unit is given to end after SIGTERM before it is killed.
STOP_GRACE_SECONDS = 5.0

_UNIT_ERROR = "gridfold unit error: "


class ClusterUnavailable(StudyError):
    """Dask is not installed: the message says how to install it."""


def jobs_count(text):
    """The number of workers of `--jobs`: a positive whole number, or "auto" for the machine's cores."""
    if str(text).strip().lower() == "auto":
        return max(1, os.cpu_count() or 1)
    try:
        jobs = int(text)
    except ValueError:
        raise StudyError(f"--jobs {text}: give a whole number of workers or auto") from None
    if jobs < 1:
        raise StudyError(f"--jobs {text}: give at least one worker")
    return jobs


def each_alone_parent(parent_path, small_case_name):
    """Parent folder of the each-alone run of a small case, under its results folder root."""
    return os.path.join(str(parent_path), EACH_ALONE_FOLDER, small_case_name)


def each_alone_copy_folder(main_file, small_case_name):
    """Folder, beside a main case file, that holds its copy for the each-alone run of one small case."""
    main_case = summary_module.case_name(os.path.basename(main_file))
    return os.path.join(os.path.dirname(main_file), f".gridfold-{main_case}-alone-{small_case_name}")


@dataclass
class WorkUnit:
    """A part of a study that one process runs.

    `main_files` maps the unit's main case keys to their resolved files. Main cases (and in
    each-alone runs small cases) that share a name write the same files, so they stay in one
    unit, in workbook order, as a serial run has them. `small_keys` is None for the chain
    of every small case; otherwise each of them runs alone.
    """
    main_files: dict
    small_keys: object = None
    main_case: str = ""
    small_case: str = ""
    main_positions: tuple = ()   # positions of the main cases among the enabled rows
    small_positions: tuple = ()  # the same for `small_keys`
    run_options: dict = field(default_factory=dict)  # further keywords of run_integration

    @property
    def label(self):
        return self.main_case + ("" if self.small_keys is None else " + " + self.small_case)

    def private_folders(self):
        """The each-alone copy folders this unit creates (none for a chain)."""
        if self.small_keys is None:
            return []
        return sorted({each_alone_copy_folder(path, self.small_case) for path in self.main_files.values()})


@dataclass
class UnitResult:
    unit: WorkUnit
    error: object = None  # one line, when the unit did not end normally
    console: str = ""
    seconds: float = 0.0
    records: list = field(default_factory=list)  # the run records the unit's runs wrote


def plan_units(main_case_dict, small_case_dict, each_alone):
    """The work units of a study, in workbook order (run in the workbook's folder)."""
    mains, main_positions = OrderedDict(), {}
    for position, (key, row) in enumerate(main_case_dict.items()):
        name = summary_module.case_name(row["filename"])
        path = os.path.abspath(resolve_ignoring_case(os.path.join(str(row["filepath"]), name + ".sav")))
        mains.setdefault(name, {})[key] = path
        main_positions.setdefault(name, []).append(position)
    smalls, small_positions = OrderedDict(), {}
    for position, (key, row) in enumerate(small_case_dict.items()):
        name = summary_module.case_name(row["filename"])
        smalls.setdefault(name, []).append(key)
        small_positions.setdefault(name, []).append(position)
    units = []
    for main_case, files in mains.items():
        if not each_alone:
            units.append(WorkUnit(files, None, main_case, main_positions=tuple(main_positions[main_case])))
            continue
        for small_case, keys in smalls.items():
            units.append(WorkUnit(files, tuple(keys), main_case, small_case, tuple(main_positions[main_case]),
                                  tuple(small_positions[small_case])))
    return units


# ----------------------------------------------------------------------------------------
# Temporary copies of a unit.

def _copy_pattern(main_file):
    """Names the driver gives its temporary copies of a main case: M_copy.sav, M_copy_1.sav, ..."""
    stem, extension = os.path.splitext(os.path.basename(main_file))
    return re.compile(re.escape(stem) + r"_copy(_\d+)?" + re.escape(extension) + r"\Z")


def temporary_copies(unit):
    """The temporary copies of the unit's main cases that exist now, beside the main case files."""
    found = set()
    for main_file in unit.main_files.values():
        folder = os.path.dirname(main_file)
        pattern = _copy_pattern(main_file)
        with contextlib.suppress(OSError):
            found.update(os.path.join(folder, name) for name in os.listdir(folder) if pattern.match(name))
    return found


def remove_leftovers(unit, copies_before):
    """Remove the unit's each-alone folders and the temporary copies made since `copies_before`."""
    for folder in unit.private_folders():
        shutil.rmtree(folder, ignore_errors=True)
    for path in temporary_copies(unit) - set(copies_before):
        with contextlib.suppress(OSError):
            os.remove(path)


# ----------------------------------------------------------------------------------------
# One unit, in its own process (python -m gridfold.parallel JOB).

def _alone(job):
    """The driver's `select_cases` for a small case alone: each main case from its own copy, and
    the pair's own parent folder."""
    def select(main_case_dict, small_case_dict):
        mains = OrderedDict()
        for key, main_key in zip(main_case_dict, job["main_keys"]):
            row = dict(main_case_dict[key])
            source = job["main_files"][main_key]
            private = each_alone_copy_folder(source, job["small_case"])
            os.makedirs(private, exist_ok=True)
            shutil.copy2(source, os.path.join(private, os.path.basename(source)))
            # A relative folder keeps the paths the engine echoes free of this machine's layout.
            row["filepath"] = os.path.relpath(private) if not os.path.isabs(str(row["filepath"])) else private
            mains[key] = row
        smalls = OrderedDict()
        for key, row in small_case_dict.items():
            smalls[key] = dict(row, parent_path=each_alone_parent(row["parent_path"], job["small_case"]))
        return mains, smalls
    return select


def _die_with_parent(parent_pid):
    """Ask Linux to kill this process when the worker that started it dies."""
    with contextlib.suppress(Exception):
        import ctypes
        libc = ctypes.CDLL(None, use_errno=True)
        pr_set_pdeathsig = 1
        libc.prctl(pr_set_pdeathsig, signal.SIGKILL)
    if os.getppid() != parent_pid:  # the worker died before the request took effect
        os._exit(1)


def _unit_main(job_text):
    """Entry of a unit process: run its part of the study; exit 0, or 2 with the error last."""
    job = json.loads(job_text)
    # Ctrl-C and a stop end the unit at once, even inside the engine; the process that
    # started it removes its temporary copies.
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    _die_with_parent(job["parent_pid"])
    folder, name = os.path.split(job["workbook"])
    try:
        from gridfold.gridfold_main import run_integration
        records = iter(job["record_paths"])
        with working_folder(folder):
            if job["small_positions"] is None:
                run_integration(folder, name, main_cases=job["main_positions"], record_path=next(records),
                                **job["run_options"])
            for position in job["small_positions"] or ():
                run_integration(folder, name, main_cases=job["main_positions"], small_cases=[position],
                                record_path=next(records), select_cases=_alone(job), **job["run_options"])
    except Exception as error:  # reported to the runner as this unit's error
        import traceback
        sys.stdout.flush()
        traceback.print_exc()
        print(_UNIT_ERROR + " ".join(f"{type(error).__name__}: {error}".splitlines()), file=sys.stderr)
        return 2
    return 0


# ----------------------------------------------------------------------------------------
# Starting units; this runs in a Dask worker, or in the runner itself without Dask.

_running_units = {}  # pid -> Popen of the units this process started


def run_unit(workbook, unit):
    """Run one unit in a process of its own and return its `UnitResult`; never raises for the unit's faults."""
    started = time.monotonic()
    # The records are written on this worker and travel back with the result.
    record_folder = tempfile.mkdtemp(prefix="gridfold-records-")
    runs = 1 if unit.small_keys is None else len(unit.small_keys)
    record_paths = [os.path.join(record_folder, f"run_record_{index}.json") for index in range(runs)]
    job = {"workbook": workbook, "main_keys": list(unit.main_files), "main_files": unit.main_files,
            "main_positions": list(unit.main_positions),
            "small_positions": None if unit.small_keys is None else list(unit.small_positions),
            "small_case": unit.small_case, "record_paths": record_paths, "parent_pid": os.getpid(),
            "run_options": unit.run_options}
    result = UnitResult(unit)
    copies_before = temporary_copies(unit)
    try:
        process = subprocess.Popen([sys.executable, "-m", "gridfold.parallel", json.dumps(job)],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   text=True, errors="replace")
        _running_units[process.pid] = process
        try:
            console, _ = process.communicate()
        finally:
            _running_units.pop(process.pid, None)
            if process.poll() is None:
                process.kill()
                process.wait()
        result.console = console
        if process.returncode != 0:
            result.error = _unit_error(process.returncode, console)
    except Exception as error:  # the unit could not be started
        result.error = " ".join(f"{type(error).__name__}: {error}".splitlines())
    finally:
        remove_leftovers(unit, copies_before)
        for path in record_paths:
            with contextlib.suppress(OSError, ValueError):
                result.records.append(summary_module.read_record(path))
        shutil.rmtree(record_folder, ignore_errors=True)
        result.seconds = time.monotonic() - started
    return result


def _unit_error(returncode, console):
    if returncode < 0:
        try:
            name = signal.Signals(-returncode).name
        except ValueError:
            name = f"signal {-returncode}"
        return f"worker process killed by {name}"
    for line in reversed(console.splitlines()):
        if line.startswith(_UNIT_ERROR):
            return line[len(_UNIT_ERROR):]
    return f"worker process ended with exit status {returncode}"


def stop_units():
    """Stop every unit this process runs: SIGTERM, then SIGKILL after a grace period."""
    processes = list(_running_units.values())
    for process in processes:
        with contextlib.suppress(OSError):
            process.terminate()
    deadline = time.monotonic() + STOP_GRACE_SECONDS
    for process in processes:
        with contextlib.suppress(subprocess.TimeoutExpired):
            process.wait(max(0.0, deadline - time.monotonic()))
        if process.poll() is None:
            with contextlib.suppress(OSError):
                process.kill()
    return len(processes)


# ----------------------------------------------------------------------------------------
# The runner.

def _dask_distributed():
    try:
        import distributed
    except ImportError:
        raise ClusterUnavailable(INSTALL_HINT) from None
    return distributed


@contextlib.contextmanager
def _dask_client(jobs, scheduler):
    distributed = _dask_distributed()
    if scheduler:
        with distributed.Client(scheduler) as client:
            yield client
        return
    import logging
    # The worker processes start with Ctrl-C ignored: the terminal sends it to the whole process
    # group, and a worker that takes it dies printing tracebacks while this process is stopping the
    # units in order. The units themselves take Ctrl-C again (see _unit_main).
    with _sigint_ignored_in_children():
        cluster = distributed.LocalCluster(n_workers=jobs, threads_per_worker=1, processes=True,
                                           dashboard_address=":0", silence_logs=logging.ERROR)
    with cluster, distributed.Client(cluster) as client:
        yield client


@contextlib.contextmanager
def _sigint_ignored_in_children():
    """Ignore SIGINT while child processes are started, so that they inherit the ignoring."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


def _run_on_dask(workbook, units, jobs, scheduler, on_result):
    distributed = _dask_distributed()
    results = {}
    with _dask_client(min(jobs, len(units)), scheduler) as client:
        futures = {}
        for index, unit in enumerate(units):
            future = client.submit(run_unit, workbook, unit, pure=False,
                                   key=f"gridfold-unit-{index}-{os.getpid()}-{time.monotonic_ns()}")
            futures[future] = index
        try:
            for future in distributed.as_completed(futures):
                index = futures[future]
                try:
                    result = future.result()
                except Exception as error:  # the worker itself died, or the task was lost
                    result = UnitResult(units[index], " ".join(f"{type(error).__name__}: {error}".splitlines()))
                results[index] = result
                on_result(result)
        except BaseException:
            client.cancel(list(futures))
            with contextlib.suppress(Exception):
                client.run(stop_units)
            raise
    return [results[index] for index in range(len(units))]


def _print_result(result):
    outcome = f"failed: {result.error}" if result.error else "done"
    print(f"=== {result.unit.label}: {outcome} ({result.seconds:.1f} s)")
    if result.console:
        print(result.console, end="" if result.console.endswith("\n") else "\n")
    sys.stdout.flush()


def _check_each_alone_names(workbook, cases):
    for row in cases:
        if summary_module.case_name(row["name of case to be added"]) == EACH_ALONE_FOLDER:
            raise StudyError(f"{workbook}: a small case named {EACH_ALONE_FOLDER} would share its results folder with "
                             "the each-alone runs; rename it to run with --each-alone")


def _local_time_text():
    return time.strftime("%Y-%m-%dT%H:%M:%S")


def _failed_pair(main_case, small_row, folder, each_alone):
    """The record of a pair whose unit ended without writing one."""
    small_case = summary_module.case_name(small_row["filename"])
    parent = str(small_row.get("parent_path", ""))
    parent = parent if os.path.isabs(parent) else os.path.join(folder, parent)
    if each_alone:
        parent = each_alone_parent(parent, small_case)
    return {"main_case": main_case, "small_case": small_case, "small_case_file": None, "row": None,
            "connecting_bus": small_row.get("connecting_bus"),
            "results_folder": os.path.join(parent, small_case, main_case),
            "outcome": summary_module.ERROR, "exit_class": summary_module.EXIT_ERROR, "renumbered": {},
            "elements": {"accepted": {}, "refused": [], "left_out_at_connecting_bus": []},
            "connections": [], "connections_solved": 0, "connections_total": 0, "last_solved_case": None,
            "saved_cases": [], "unsolved_log": None, "status_report": None, "dispatch_check": None, "seconds": 0.0}


def merge_records(workbook, units, results, small_case_dict, each_alone, started, seconds):
    """The run record of the whole run: the units' records merged in workbook order.

    Units come in workbook order, so their main cases and pairs, taken one unit after the
    other, are in the order of a serial run. In each-alone runs a main case has one entry
    (the main case file given, no solved case of its own: each pair has one), with the first
    error of its pairs. A unit that ended without a record (its process was killed) gives
    its main case its error and its pairs the outcome "error".
    """
    folder = os.path.dirname(workbook)
    records = [record for result in results for record in result.records]
    merged = {"format": 1, "gridfold_version": records[0]["gridfold_version"] if records else None,
              "workbook": workbook, "engine": records[0]["engine"] if records else None,
              "started": started, "finished": _local_time_text(), "seconds": seconds,
              "main_cases": [], "pairs": []}
    main_entries = OrderedDict()
    unit_errors = OrderedDict()  # main case name -> the first error of its units
    for unit, result in zip(units, results):
        for record in result.records:
            for entry, main_file in zip(record["main_cases"], unit.main_files.values()):
                entry = dict(entry)
                if each_alone:  # the record names the pair's copy of the main case
                    entry["file"], entry["solved_case"] = main_file, None
                kept = main_entries.setdefault((main_file, entry["row"]), entry)
                kept["error"] = kept.get("error") or entry.get("error")
            merged["pairs"].extend(record["pairs"])
        if not result.error:
            continue
        unit_errors.setdefault(unit.main_case, result.error)
        if not result.records:
            # Stands for the main case until another unit of it (each-alone) gives its entry.
            for main_file in unit.main_files.values():
                main_entries.setdefault((main_file, None), {
                    "name": unit.main_case, "file": main_file, "row": None, "base_case_solved": False,
                    "solved_case": None, "error": None, "seconds": result.seconds})
            for key, row in small_case_dict.items():
                if unit.small_keys is None or key in unit.small_keys:
                    merged["pairs"].append(_failed_pair(unit.main_case, row, folder, each_alone))
    files_with_entries = {main_file for main_file, row in main_entries if row is not None}
    for (main_file, row) in list(main_entries):
        if row is None and main_file in files_with_entries:
            del main_entries[(main_file, row)]
    for entry in main_entries.values():
        entry["error"] = entry.get("error") or unit_errors.get(entry["name"])
    merged["main_cases"] = list(main_entries.values())
    return merged


@dataclass
class ParallelResult(StudyResult):
    errors: list = field(default_factory=list)  # (unit label, error) of the units that failed


def run_study_parallel(workbook, jobs=1, scheduler=None, each_alone=False, on_result=_print_result, run_options=None):
    """Run a study workbook in work units and return its `ParallelResult` (rows in workbook order).

    `jobs` workers on a local Dask cluster, or the cluster at `scheduler`; with one job and
    no scheduler the units run one after another without Dask. `each_alone` merges every
    small case into a fresh copy of its main case.
    """
    workbook = os.path.abspath(workbook)
    if jobs > 1 or scheduler:
        _dask_distributed()  # before anything runs, so that the message comes first
    mains, cases = read_study(workbook)
    if each_alone:
        _check_each_alone_names(workbook, cases)
    from gridfold.gridfold_main import _build_case_lists

    folder, name = os.path.split(workbook)
    with working_folder(folder):
        _, main_case_dict, small_case_dict = _build_case_lists(folder, name)
        units = plan_units(main_case_dict, small_case_dict, each_alone)
        for unit in units:
            unit.run_options = dict(run_options or {})
    started, clock = _local_time_text(), time.monotonic()
    copies_before = {index: temporary_copies(unit) for index, unit in enumerate(units)}
    try:
        if units and (jobs > 1 or scheduler):
            results = _run_on_dask(workbook, units, jobs, scheduler, on_result)
        else:
            results = []
            for unit in units:
                results.append(run_unit(workbook, unit))
                on_result(results[-1])
    finally:
        # Units that were stopped, or whose worker died, may have left their copies.
        for index, unit in enumerate(units):
            remove_leftovers(unit, copies_before[index])

    record = merge_records(workbook, units, results, small_case_dict, each_alone, started, time.monotonic() - clock)
    parent = str(cases[0]["parent_path"])
    parent = parent if os.path.isabs(parent) else os.path.join(folder, parent)
    record_path = os.path.join(os.path.join(parent, EACH_ALONE_FOLDER) if each_alone else parent, RECORD_FILE)
    os.makedirs(os.path.dirname(record_path), exist_ok=True)
    summary_module.write_record(record, record_path)
    rows = summary_module.rows_from_record(record, base_folder=folder)
    summary_csv = os.path.join(folder, SUMMARY_FILE)
    summary_module.write_csv(rows, summary_csv)
    return ParallelResult(workbook, rows, summary_csv, record, record_path,
                          errors=[(r.unit.label, r.error) for r in results if r.error])


# ----------------------------------------------------------------------------------------
# Command line: the options of `gridfold run`.

def add_arguments(parser):
    parser.add_argument("--jobs", metavar="N", default=None,
                        help="run the main cases in up to N worker processes (auto: one per core); "
                             "needs gridfold[cluster]")
    parser.add_argument("--scheduler", metavar="ADDRESS", default=None,
                        help="run the main cases on the Dask cluster at ADDRESS (e.g. tcp://host:8786); its "
                             "workers need gridfold and the study folder on a shared file system")
    parser.add_argument("--each-alone", action="store_true",
                        help="merge every small case into a fresh copy of its main case, each into "
                             f"<results folder>/{EACH_ALONE_FOLDER}/<small case>/")


def wanted(args):
    """Whether `gridfold run` was asked for a run in work units."""
    return bool(args.jobs not in (None, "1") or args.scheduler or args.each_alone)


def run_command(args, exit_solved, exit_unsolved):
    """`gridfold run` in work units: print each unit as it ends, then the summary; the exit status.

    Like a serial run it keeps results/run.log, applies --keep once every unit has ended and
    writes the report from the merged record.
    """
    from gridfold.api import RUN_LOG, ConsoleLog, prune_cases
    from gridfold.report import write_report
    from gridfold.study import record_path_of
    from gridfold.summary import format_table

    jobs = jobs_count(args.jobs) if args.jobs is not None else 1
    keep = getattr(args, "keep", "all")
    workbook = os.path.abspath(args.workbook)
    _, cases = read_study(workbook)
    results = os.path.dirname(record_path_of(workbook, cases))
    if args.each_alone:
        results = os.path.join(results, EACH_ALONE_FOLDER)
    try:
        with ConsoleLog(os.path.join(results, RUN_LOG), total=0, bar=False) as console:
            result = run_study_parallel(workbook, jobs=jobs, scheduler=args.scheduler, each_alone=args.each_alone,
                                        run_options={"dispatch_check": getattr(args, "dispatch_check", False),
                                                     "connection_voltages": True})
            removed = prune_cases(result.record, keep)
            if removed:
                console.note(f"--keep {keep}: removed {removed} intermediate cases")
                summary_module.write_record(result.record, result.record_path)
            console.note(f"report written to {write_report(result.record, os.path.dirname(result.record_path))[0]}")
    except KeyboardInterrupt:
        sys.stdout.flush()
        print("gridfold: interrupted: workers stopped, their temporary copies removed", file=sys.stderr)
        return 130
    print()
    print(format_table(result.rows))
    print()
    print("summary written to", result.summary_csv)
    for label, error in result.errors:
        print(f"gridfold: {label} failed: {error}", file=sys.stderr)
    # A failed main case does not stop the others: the run as a whole reports what did not solve.
    solved = not result.errors and summary_module.exit_code(result.record) == summary_module.EXIT_SOLVED
    return exit_solved if solved else exit_unsolved


if __name__ == "__main__":
    sys.exit(_unit_main(sys.argv[1]))
