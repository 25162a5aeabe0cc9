"""Case-file speed: opening (psspy.case), saving (psspy.save) and reading with caspy.Savecase.

The main case is MATPOWER's case9241pegase converted once into bench/.cache (as
merge_speed.py does). Each operation's median wall time is printed with its ratio to reading
the same file's bytes and splitting them into lines in Python, the floor any text reader
pays; a saved file is checked to reload into a byte-identical save.

    python bench/case_file_speed.py [--repeats N] [case ...]
"""
import argparse
import contextlib
import filecmp
import io
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import merge_speed  # noqa: E402

import gridfold  # noqa: E402

if gridfold.EMBEDDED_ENGINE_PATH not in sys.path:
    sys.path.append(gridfold.EMBEDDED_ENGINE_PATH)
import caspy  # noqa: E402
import psspy  # noqa: E402


def median_time(action, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cases", nargs="*", default=["case9241pegase"])
    parser.add_argument("--repeats", type=int, default=7)
    args = parser.parse_args()
    with contextlib.redirect_stdout(io.StringIO()):
        psspy.psseinit(buses=150000)
    psspy.progress_output(islct=6)
    print(f"median wall time over {args.repeats} runs; floor = read the bytes and split lines in Python")
    header = f"{'case':16} {'MiB':>5} {'floor ms':>9} {'open ms':>8} {'save ms':>8} {'Savecase ms':>12} " \
             f"{'open/floor':>10} {'save/floor':>10} {'Savecase/floor':>14} {'round trip':>10}"
    print(header)
    print("-" * len(header))
    for name in args.cases:
        path = merge_speed.main_case(name)
        with tempfile.TemporaryDirectory(prefix="gridfold-files-") as tmp:
            first, second = Path(tmp) / "first.sav", Path(tmp) / "second.sav"
            floor = median_time(lambda: path.read_text().splitlines(), args.repeats)
            opened = median_time(lambda: psspy.case(str(path)) == 0 or sys.exit(f"case {path} refused"),
                                 args.repeats)
            saved = median_time(lambda: psspy.save(str(first)) == 0 or sys.exit("save refused"), args.repeats)
            read = median_time(lambda: caspy.Savecase(str(path)), args.repeats)
            psspy.case(str(first))
            psspy.save(str(second))
            identical = "identical" if filecmp.cmp(first, second, shallow=False) else "DIFFERS"
        size = path.stat().st_size / 2**20
        print(f"{name:16} {size:5.1f} {floor * 1e3:9.1f} {opened * 1e3:8.1f} {saved * 1e3:8.1f} {read * 1e3:12.1f} "
              f"{opened / floor:10.1f} {saved / floor:10.1f} {read / floor:14.1f} {identical:>10}")


if __name__ == "__main__":
    main()
