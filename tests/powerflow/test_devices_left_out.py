"""Equipment a case holds but the solution does not model is named in the solution's progress,
never dropped silently: multi-terminal dc lines and GNE devices. Devices the solution models
(FACTS devices) and area schedules are not named as left out."""
from pathlib import Path

EVERY_SECTION_V33 = Path(__file__).resolve().parents[1] / "data" / "raw" / "every_section_v33.raw"


def test_solution_names_each_device_it_leaves_out_once(psspy, tmp_path):
    assert psspy.read(0, str(EVERY_SECTION_V33)) == 0
    log = tmp_path / "progress.txt"
    assert psspy.progress_output(islct=2, filarg=str(log), options1=1) == 0
    for solve, name in ((lambda: psspy.fnsl(options2=2), "fnsl"), (lambda: psspy.rsol(options2=1), "rsol")):
        log.write_text("")
        assert solve() == 0
        left_out = [line for line in log.read_text().splitlines() if line.endswith("left out of the solution")]
        assert left_out.count(f"{name} multi-terminal dc line 'MT1' not modelled, left out of the solution") == 1
        assert left_out.count(f"{name} GNE device 'GNE1' not modelled, left out of the solution") == 1
        assert not any("FACTS" in line or "area" in line for line in left_out)
