"""Equipment a case holds but the solution does not model is named in the solution's progress,
never dropped silently: a FACTS device, and an area interchange schedule under options2."""
from helpers import engine_cases

STATCOM = "'SVC1',104,0,1,0.0,0.0,1.0,50.0,0.0,0.9,1.1,1.0,0.0,0.05,100.0,1,0.0,0.0,0,0,0,''\n"


def test_solution_names_facts_devices_and_area_schedules_it_leaves_out(psspy, tmp_path):
    with open(engine_cases.save_main_case(psspy, tmp_path / "main.sav")) as stream:
        case = stream.read()
    case = case.replace("BEGIN FACTS DEVICE DATA\n", "BEGIN FACTS DEVICE DATA\n" + STATCOM, 1)
    case = case.replace("BEGIN AREA DATA\n1,0,0.0,10.0,''\n", "BEGIN AREA DATA\n1,101,50.0,10.0,'NORTH'\n", 1)
    assert "SVC1" in case and "'NORTH'" in case
    path = tmp_path / "held.sav"
    path.write_text(case)
    assert psspy.case(str(path)) == 0
    log = tmp_path / "progress.txt"
    assert psspy.progress_output(islct=2, filarg=str(log), options1=1) == 0

    assert psspy.fnsl(options2=0) == 0
    assert psspy.solved() == 0
    lines = log.read_text().splitlines()
    assert "fnsl FACTS device 'SVC1' not modelled, left out of the solution" in lines
    assert not any("interchange" in line for line in lines)  # not asked for

    log.write_text("")
    assert psspy.rsol(options2=2) == 0
    lines = log.read_text().splitlines()
    assert "rsol area 1 interchange schedule not held: its slack bus 101 is not moved" in lines
    assert "rsol FACTS device 'SVC1' not modelled, left out of the solution" in lines
