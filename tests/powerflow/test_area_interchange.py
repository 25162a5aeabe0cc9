"""Area interchange control: each area with a slack bus holds its net export at its schedule
within its tolerance by moving its slack machine, counting tie lines (options2 1) or tie lines
and loads assigned to another area than their bus's (options2 2).

The interchange is measured independently of the control, from the engine's branch flows
(brnmsc) at the tie lines' metered ends."""

PDES_2, PTOL_2 = -60.0, 1.0


def _two_areas(psspy):
    """Area 1: bus 1 (swing) and bus 2 (100 MW load). Area 2: bus 3 (machine, 50 MW, the area's
    slack) and bus 4 (150 MW load). Ties 2-3 and 1-4, metered at their area 1 ends."""
    for bus, ide, area in ((1, 3, 1), (2, 1, 1), (3, 2, 2), (4, 1, 2)):
        assert psspy.bus_data_4(bus, 0, intgar1=ide, intgar2=area, realar1=230.0) == 0
    for bus in (1, 3):
        assert psspy.plant_data_4(bus, 0, realar1=1.02) == 0
    assert psspy.machine_data_4(1, "1", realar1=100.0) == 0
    assert psspy.machine_data_4(3, "1", realar1=50.0) == 0
    assert psspy.load_data_6(2, "1", realar1=100.0, realar2=30.0) == 0
    assert psspy.load_data_6(4, "1", realar1=150.0, realar2=40.0) == 0
    for i, j in ((1, 2), (3, 4), (2, 3), (1, 4)):
        assert psspy.branch_data_3(i, j, "1", realar1=0.01, realar2=0.08, realar3=0.02) == 0
    assert psspy.area_data(1, intgar1=1, realar1=0.0, realar2=5.0, arname="WEST") == 0
    assert psspy.area_data(2, intgar1=3, realar1=PDES_2, realar2=PTOL_2, arname="EAST") == 0
    assert psspy.solution_parameters_4(realar1=1e-4) == 0


def _tie_export_of_area_2(psspy):
    """Area 2's export on its ties: minus what enters them at their metered (area 1) ends."""
    return -(psspy.brnmsc(2, 3, "1", "P")[1] + psspy.brnmsc(1, 4, "1", "P")[1])


def _machine_pg(psspy, caspy, tmp_path, bus):
    path = str(tmp_path / "solved.sav")
    assert psspy.save(path) == 0
    gen = caspy.Savecase(path).pssgen
    return 100.0 * gen["PG"][list(gen["NUM"]).index(bus)]


def _progress(psspy, tmp_path):
    log = tmp_path / "progress.txt"
    assert psspy.progress_output(islct=2, filarg=str(log), options1=1) == 0
    return log


def test_tie_lines_held_at_the_schedule_by_the_slack_machine(psspy, caspy, tmp_path):
    _two_areas(psspy)
    assert psspy.fnsl(options2=0) == 0 and psspy.solved() == 0
    assert _tie_export_of_area_2(psspy) < PDES_2 - 30  # far from its schedule without the control
    assert _machine_pg(psspy, caspy, tmp_path, 3) == 50.0

    log = _progress(psspy, tmp_path)
    assert psspy.fnsl(options2=1) == 0 and psspy.solved() == 0
    assert abs(_tie_export_of_area_2(psspy) - PDES_2) <= PTOL_2
    pg = _machine_pg(psspy, caspy, tmp_path, 3)
    assert pg > 85.0
    lines = log.read_text().splitlines()
    moves = [line for line in lines if line.startswith("fnsl area 2 interchange")]
    assert moves and all("schedule -60.00 +- 1.00 MW: slack bus 3 moved by" in line for line in moves)
    assert "fnsl area 1: slack bus 1 is a swing bus, its interchange follows the other areas'" in lines

    # The moved output is in the case: solving again moves nothing and changes nothing.
    log.write_text("")
    assert psspy.fnsl(options2=1) == 0 and psspy.solved() == 0
    assert "interchange" not in log.read_text().replace("interchange follows", "")
    assert _machine_pg(psspy, caspy, tmp_path, 3) == pg


def test_loads_of_another_area_count_with_options2_2(psspy, tmp_path):
    """A 20 MW load at bus 4 (area 2) that belongs to area 1: area 2 supplies it, so with loads
    counted area 2's ties carry 20 MW less export than its schedule."""
    _two_areas(psspy)
    assert psspy.load_data_6(4, "2", intgar2=1, realar1=20.0) == 0
    assert psspy.fnsl(options2=1) == 0
    assert abs(_tie_export_of_area_2(psspy) - PDES_2) <= PTOL_2
    assert psspy.fnsl(options2=2) == 0 and psspy.solved() == 0
    assert abs(_tie_export_of_area_2(psspy) + 20.0 - PDES_2) <= PTOL_2


def test_rsol_holds_the_schedule_too_and_areas_without_slack_are_left_alone(psspy):
    _two_areas(psspy)
    assert psspy.rsol(options2=1, options7=2) == 0 and psspy.solved() == 0
    assert abs(_tie_export_of_area_2(psspy) - PDES_2) <= PTOL_2

    # Without a slack bus the area has no schedule to hold: options2 changes nothing.
    assert psspy.machine_chng_4(3, "1", realar1=50.0) == 0
    assert psspy.area_data(2, intgar1=0) == 0
    assert psspy.fnsl(options2=0) == 0
    free = [psspy.busdat(bus, "PU")[1] for bus in (1, 2, 3, 4)]
    assert psspy.fnsl(options2=2) == 0 and psspy.solved() == 0
    assert [psspy.busdat(bus, "PU")[1] for bus in (1, 2, 3, 4)] == free


def test_slack_bus_without_machine_is_named(psspy, tmp_path):
    _two_areas(psspy)
    assert psspy.area_data(2, intgar1=4) == 0  # a load bus
    log = _progress(psspy, tmp_path)
    assert psspy.fnsl(options2=1) == 0 and psspy.solved() == 0
    assert "fnsl area 2: slack bus 4 has no machine in service, interchange not held" in log.read_text()
    assert _tie_export_of_area_2(psspy) < PDES_2 - 30


def test_slack_bus_the_interchange_does_not_follow_is_named_and_left(psspy, caspy, tmp_path):
    """Area 2's slack bus 5 lies in an island of its own (with its own swing bus 6): moving it
    changes nothing on area 2's ties, so after one move the area is named and the move taken
    back."""
    _two_areas(psspy)
    for bus, ide in ((5, 2), (6, 3)):
        assert psspy.bus_data_4(bus, 0, intgar1=ide, intgar2=2, realar1=230.0) == 0
        assert psspy.plant_data_4(bus, 0, realar1=1.0) == 0
        assert psspy.machine_data_4(bus, "1", realar1=10.0) == 0
    assert psspy.branch_data_3(5, 6, "1", realar1=0.01, realar2=0.1) == 0
    assert psspy.load_data_6(6, "1", realar1=15.0) == 0
    assert psspy.area_data(2, intgar1=5) == 0
    log = _progress(psspy, tmp_path)
    assert psspy.fnsl(options2=1) == 0 and psspy.solved() == 0
    lines = log.read_text().splitlines()
    assert len([line for line in lines if line.startswith("fnsl area 2 interchange") and "moved by" in line]) == 1
    assert any(line.startswith("fnsl area 2 interchange") and "does not follow slack bus 5" in line for line in lines)
    assert _tie_export_of_area_2(psspy) < PDES_2 - 30
    assert _machine_pg(psspy, caspy, tmp_path, 5) == 10.0
