"""Integration driver."""
from collections import OrderedDict
from typing import Any, Callable, Optional, Sequence

# Re-exported: the driver module offers the functions and classes it runs with.
from .gridfold_misc import copy_and_rename as copy_and_rename
from .gridfold_misc import enforce_topological_order as enforce_topological_order
from .gridfold_misc import exclude_connecting_bus as exclude_connecting_bus
from .gridfold_misc import find_buses as find_buses
from .gridfold_misc import organize_connections as organize_connections
from .gridfold_misc import remove_internal_psse_buses as remove_internal_psse_buses
from .gridfold_misc import renumber_buses as renumber_buses
from .gridfold_misc import solve_the_network as solve_the_network
from .gridfold_misc import write_status_report as write_status_report
from .gridfold_ps import PSSE_ENGINE as PSSE_ENGINE
from .gridfold_rc import ReadConfigFile as ReadConfigFile

def run_integration(file_path: str, file_name: Optional[str], *,
                    main_cases: Optional[Sequence[int]] = None,
                    small_cases: Optional[Sequence[int]] = None,
                    record_path: Optional[str] = None,
                    remove_earlier_outputs: bool = True,
                    dispatch_check: bool = False,
                    connection_voltages: bool = False,
                    select_cases: Optional[Callable[[Any, Any], tuple[Any, Any]]] = None) -> None:
    """Run the study of the workbook `file_name` in the folder `file_path`.

    Before anything is written, every enabled row is checked (results folder of its own,
    case files present, connecting bus a bus of the small case and of every main case);
    a fault raises ValueError naming the sheet and row.

    Keywords (all optional) narrow the run, for a runner that shares a study out:
      main_cases   positions (from 0) among the enabled main-case rows to run; None: all.
      small_cases  positions (from 0) among the enabled small-case rows; None: all. One
                   main case and one small case run that pair alone, as the first and
                   last small case of its main case.
      record_path  where the run record (JSON) is written; by default run_record.json in
                   the results folder of the first enabled small case. A record is written
                   when the run ends, also when an error ends it (the pair in progress then
                   has the outcome "error").
      remove_earlier_outputs
                   remove working copies (<main>_copy.sav) and final solved cases and
                   unsolved logs that an earlier run left beside the main cases and in the
                   results folders. A runner whose workers share main cases removes them
                   once itself and passes False. The files a pair writes in its own
                   results folder are always replaced.
      select_cases select_cases(main_case_dict, small_case_dict) returns the two lists
                   with their rows rewritten, one for one (a main case's folder, a small
                   case's parent_path): how the parallel runner gives a pair run alone its
                   own copy of the main case and its own results folder.
      dispatch_check
                   after each main case, put every plant whose connections all solved at
                   full output in its final solved case, solve and save it as
                   <main>_dispatched_<small>.sav, and record the figures as the pair's
                   "dispatch_check" in the run record. No output of the merge run changes.
      connection_voltages
                   record in each pair's "connection_voltages" the voltage of the
                   connecting bus and of every plant bus in each solved case saved while
                   the plant's connections came back.
    An interrupt (Ctrl-C) removes the working copies, writes the record and raises
    KeyboardInterrupt naming the main case and small case where the run stopped.
    """

def _build_case_lists(
    file_path: str, file_name: Optional[str]
) -> tuple[dict[str, Any], "OrderedDict[str, dict[str, Any]]", "OrderedDict[str, dict[str, Any]]"]: ...
