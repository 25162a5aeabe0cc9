"""Merge speed: a whole study of five 100 MW solar plants on large main cases.

For each main case (MATPOWER's case9241pegase and case_ACTIVSg10k, converted once into
bench/.cache), five plants like the demo's solar_a are joined at five of its high-voltage
buses and the study runs through run_study, as `gridfold run` does. Each study runs in its
own process, so that its peak resident memory is its own. Printed per main case: the time per
plant and its split between solutions (rsol, fnsl), case writes (save), case reads (case,
caspy.Savecase) and the rest, with the part of the rest spent reading the workbook (once per run,
pandas imported with it); the number of calls of each kind; the ratio of the time per
plant to one lightsim2grid flat-start solution of the same main case; the plants' outcomes;
the peak resident memory against the main case file's size and a bare interpreter that
has imported the engine; and the resident memory the run holds as it begins to read a case.

    python bench/merge_speed.py [--plants N] [case ...]
"""
import argparse
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from merge_common import cached_case, interpreter_rss_kib, lightsim_flat_solve_seconds, study_in_child, write_study  # noqa: E402

CASES = ["case9241pegase", "case_ACTIVSg10k"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cases", nargs="*", default=CASES)
    parser.add_argument("--plants", type=int, default=5)
    args = parser.parse_args()
    interpreter_kib = interpreter_rss_kib()
    print(f"{args.plants} plants per main case; seconds per plant, as wall time and as the process's CPU time "
          f"(on a loaded machine the CPU time is the steadier); ls = one lightsim2grid flat solve (wall)")
    header = (f"{'main case':16} {'clock':5} {'per plant':>9} {'solutions':>9} {'saves':>6} {'reads':>6} {'rest':>6} "
              f"{'ls ms':>7} {'plant/ls':>8} {'peak MiB':>8} {'limit MiB':>9} {'held MiB':>8} {'workbook':>8}")
    print(header)
    print("-" * len(header))
    notes = []
    for name in args.cases:
        case_path = cached_case(name)
        with tempfile.TemporaryDirectory(prefix="gridfold-merge-") as tmp:
            workbook, _ = write_study(tmp, case_path, args.plants)
            result, peak_kib = study_in_child(workbook)
        ls_seconds, ls_start = lightsim_flat_solve_seconds(name)
        if ls_start != "flat":
            notes.append(f"  {name}: lightsim2grid does not solve it from a flat start; ls timed from the {ls_start}")
        limit_kib = 10 * case_path.stat().st_size / 1024 + interpreter_kib
        held = "-" if result.get("held_kib") is None else f"{result['held_kib'] / 1024:.0f}"
        for clock, total, shares, workbook in (("wall", result["total"], result["seconds"], result["workbook"]),
                                               ("cpu", result["total_cpu"], result["cpu"], result["workbook_cpu"])):
            per_plant = total / args.plants
            split = {k: v / args.plants for k, v in shares.items()}
            rest = per_plant - sum(split.values())
            print(f"{name:16} {clock:5} {per_plant:9.2f} {split['solutions']:9.2f} {split['saves']:6.2f} "
                  f"{split['reads']:6.2f} {rest:6.2f} {ls_seconds * 1e3:7.1f} {per_plant / ls_seconds:8.0f} "
                  f"{peak_kib / 1024:8.0f} {limit_kib / 1024:9.0f} {held:>8} {workbook / args.plants:8.2f}")
        notes.append(f"  {name}: calls {result['calls']}; plants: {', '.join(result['outcomes'])}")
    print(f"limit = 10 x the main case file + the interpreter with the engine imported "
          f"({interpreter_kib / 1024:.0f} MiB); held = the most resident memory as a case read began "
          f"(peak - held: what reading a case adds); workbook = the part of the rest spent reading the "
          f"workbook, once per run, per plant")
    print("\n".join(notes))


if __name__ == "__main__":
    main()
