"""Where the engine's progress lines go: standard output (islct 1), a file (2), nowhere (6)."""
from helpers import engine_cases


def test_progress_to_stdout_file_and_nowhere(psspy, capsys, tmp_path):
    main = engine_cases.save_main_case(psspy, tmp_path / "main.sav")
    capsys.readouterr()

    assert psspy.progress_output(islct=1) == 0
    assert psspy.case(main) == 0
    assert capsys.readouterr().out == (f"Case {main} read: 6 buses, 4 loads, 1 fixed shunt, 2 machines, 7 branches, "
                                       "1 transformer, 1 area, 1 zone, 1 owner\n")

    log = tmp_path / "progress.txt"
    log.write_text("earlier run\n")
    assert psspy.progress_output(islct=2, filarg=str(log)) == 0  # appends by default
    assert psspy.save(str(tmp_path / "copy")) == 0
    assert psspy.case(str(tmp_path / "missing.sav")) == 12
    lines = log.read_text().splitlines()
    assert lines[0] == "earlier run"
    assert lines[1] == f"Case saved in {tmp_path / 'copy.sav'}"
    assert lines[2].startswith("Case not read, working case unchanged: ") and "missing.sav" in lines[2]
    assert capsys.readouterr().out == ""

    assert psspy.progress_output(islct=2, filarg=str(log), options1=1) == 0  # starts afresh
    assert log.read_text() == ""

    assert psspy.progress_output(islct=6) == 0
    assert psspy.case(main) == 0
    assert log.read_text() == "" and capsys.readouterr().out == ""


def test_progress_file_that_cannot_be_written_keeps_the_previous_output(psspy, capsys, tmp_path):
    assert psspy.progress_output(islct=1) == 0
    assert psspy.progress_output(islct=2, filarg=str(tmp_path / "no" / "such" / "progress.txt")) == 14
    assert psspy.progress_output(islct=2) == 15  # no file named
    assert psspy.progress_output(islct=2, filarg=str(tmp_path / "p.txt"), options1=2) == 15
    psspy.case(str(tmp_path / "absent.sav"))
    assert "absent.sav" in capsys.readouterr().out
    psspy.progress_output(islct=6)
    assert psspy.lines_per_page_one_device(1, 10000000) == 0
    assert psspy.lines_per_page_one_device(device=9, lines=10) == 15
