"""Runs one fuzz input against the embedded engine, in a process of its own.

    python fuzz_worker.py case  FILE   WORKDIR   # a (mutated) case file
    python fuzz_worker.py calls FILE   WORKDIR   # a JSON list of [call, kwargs]

Exit status 0 when everything held; 3 with a line "FAIL: ..." when a check failed: a call
raised something other than TypeError, a saved file holds a non-finite number, a file that
save wrote does not open again with case and caspy, or the reopened case saves to other bytes. A crash or a hang shows in the
exit status (a signal) or in the caller's timeout.
"""
import json
import math
import os
import sys

import gridfold

psspy, caspy = gridfold.embedded_engine()


class CheckFailed(Exception):
    pass


def non_finite_fields(text):
    """(line number, field) of every unquoted field of a saved case that reads as a non-finite number."""
    found = []
    for number, line in enumerate(text.splitlines(), start=1):
        for field in _unquoted_fields(line):
            try:
                value = float(field)
            except ValueError:
                continue
            if not math.isfinite(value):
                found.append((number, field))
    return found


def _unquoted_fields(line):
    """Fields outside quotes, up to a "/" that starts a comment."""
    field, quote = [], None
    for char in line:
        if quote:
            if char == quote:
                quote = None
            continue
        if char in "'\"":
            quote = char
        elif char in ", ":
            if field:
                yield "".join(field)
            field = []
        elif char == "/":
            break
        else:
            field.append(char)
    if field:
        yield "".join(field)


def save_and_reopen(path):
    """Saves the working case; a file save wrote must hold finite numbers and open again."""
    code = psspy.save(path)
    if code != 0:
        return code
    with open(path, encoding="utf-8", errors="replace") as stream:
        text = stream.read()
    bad = non_finite_fields(text)
    if bad:
        raise CheckFailed(f"save wrote non-finite numbers: {bad[:3]}")
    reopened = psspy.case(path)
    if reopened != 0:
        raise CheckFailed(f"case refuses the file save wrote (code {reopened})")
    caspy.Savecase(path)
    again = path + ".again.sav"
    if psspy.save(again) != 0:
        raise CheckFailed("the reopened case cannot be saved again")
    with open(path, "rb") as first, open(again, "rb") as second:
        if first.read() != second.read():
            raise CheckFailed("the reopened case saves to different bytes: the file did not hold the case exactly")
    return 0


def run_case(path, workdir):
    for reader in ("case", "read"):
        psspy.psseinit(150000)
        psspy.progress_output(6)
        code = psspy.case(path) if reader == "case" else psspy.read(0, path)
        if code != 0:
            continue
        save_and_reopen(os.path.join(workdir, f"{reader}_as_read.sav"))
        psspy.fnsl()
        save_and_reopen(os.path.join(workdir, f"{reader}_fnsl.sav"))
        psspy.rsol(options7=2, options9=1)
        save_and_reopen(os.path.join(workdir, f"{reader}_rsol.sav"))


def run_calls(path, workdir):
    with open(path, encoding="utf-8") as stream:
        calls = json.load(stream)
    psspy.psseinit(1000)
    psspy.progress_output(6)
    saved = os.path.join(workdir, "step.sav")
    for step, (name, kwargs) in enumerate(calls, start=1):
        try:
            if name == "save_and_open":
                save_and_reopen(saved)
            else:
                getattr(psspy, name)(**kwargs)
        except TypeError:
            pass  # a value of the wrong kind: the documented answer
        except CheckFailed as failure:
            raise CheckFailed(f"step {step} ({name}): {failure}") from None
        except Exception as error:
            raise CheckFailed(f"step {step} {name}({kwargs!r}) raised {type(error).__name__}: {error}") from None


def main(argv):
    kind, path, workdir = argv[1:4]
    try:
        (run_case if kind == "case" else run_calls)(path, workdir)
    except CheckFailed as failure:
        print(f"FAIL: {failure}", flush=True)
        return 3
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
