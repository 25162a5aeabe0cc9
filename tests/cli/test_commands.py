"""The command line's own commands and its error path, through the real console entry.

Commands run as `python -m gridfold` in a subprocess, the way a user meets them.
"""
import os
import subprocess
import sys

import openpyxl
import pytest

import gridfold
from gridfold.gridfold_rc import ReadConfigFile


def gridfold_command(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "gridfold", *args], capture_output=True, text=True, cwd=cwd)


def test_new_workbook_reads_back_as_a_study_with_the_embedded_engine(tmp_path):
    result = gridfold_command("new-workbook", "study.xlsx", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    reader = ReadConfigFile(str(tmp_path), "study.xlsx")

    assert dict(reader.sheet_dict) == {"software": "soft_input", "main_cases": "main_input",
                                       "small_cases": "case_input"}
    software = {row["attribute description"]: row["attribute value"]
                for row in reader.get_soft_config_indexed_dict().values()}
    assert software["psse_path"] == gridfold.EMBEDDED_ENGINE_PATH.lower()
    assert float(software["psse_version"]) == 35.5 and int(software["psse_init"]) == 150000
    [main] = reader.get_main_config_indexed_dict().values()
    assert main["enabled"] == "no" and main["snapshot filename"] == "summer_peak.sav"
    [case] = reader.get_case_config_indexed_dict().values()
    assert case["enabled"] == "no" and case["connecting bus number"] == 101
    assert case["parent_path"] == "results"

    # The explanations travel with the workbook: a notes sheet and comments on the labels.
    book = openpyxl.load_workbook(tmp_path / "study.xlsx")
    assert "notes" in book.sheetnames
    assert "SHEET RUN ENABLED" in [c.value for c in book["control"][1]]
    assert all(cell.comment is not None for cell in book["small_cases"][1])


def test_a_blank_workbook_has_nothing_to_run_and_says_so(tmp_path):
    """Its example rows are disabled: an empty run must not pass for a successful one."""
    assert gridfold_command("new-workbook", "study.xlsx", cwd=tmp_path).returncode == 0
    result = gridfold_command("run", "study.xlsx", cwd=tmp_path)
    assert result.returncode == 2, result.stderr
    assert "nothing to run, no enabled main case and small case row" in result.stderr
    assert "'main_cases' as main_input" in result.stderr and "'notes'" in result.stderr
    assert sorted(os.listdir(tmp_path)) == ["study.xlsx"]


def test_new_workbook_keeps_an_existing_file_unless_forced(tmp_path):
    target = tmp_path / "study.xlsx"
    target.write_bytes(b"precious")
    refused = gridfold_command("new-workbook", str(target))
    assert refused.returncode == 2 and "exists" in refused.stderr and target.read_bytes() == b"precious"
    assert gridfold_command("new-workbook", "--force", str(target)).returncode == 0
    assert openpyxl.load_workbook(target).sheetnames[0] == "control"
    wrong = gridfold_command("new-workbook", str(tmp_path / "study.txt"))
    assert wrong.returncode == 2 and "study.txt" in wrong.stderr


@pytest.mark.parametrize("debug", [False, True])
def test_a_missing_workbook_gives_exit_2_and_one_line(tmp_path, debug):
    missing = str(tmp_path / "nowhere" / "study.xlsx")
    result = gridfold_command(*(["--debug"] if debug else []), "run", missing)
    assert result.returncode == 2 and result.stdout == ""
    if debug:
        assert "Traceback" in result.stderr and missing in result.stderr
    else:
        assert result.stderr == f"gridfold: error: workbook not found: {missing}\n"


def test_faults_in_a_workbook_are_named_before_the_run(tmp_path):
    assert gridfold_command("new-workbook", "study.xlsx", cwd=tmp_path).returncode == 0
    book = openpyxl.load_workbook(tmp_path / "study.xlsx")
    book["main_cases"]["A2"] = "yes"
    book["small_cases"]["A2"] = "YES"
    book.save(tmp_path / "study.xlsx")
    result = gridfold_command("run", "study.xlsx", cwd=tmp_path)
    assert result.returncode == 2
    assert result.stderr.count("\n") == 1
    assert "study.xlsx, main_cases row 2: main case file not found: " + os.path.join("main_cases", "summer_peak.sav") \
        in result.stderr

    book["control"]["C4"] = "NOT APPLICABLE"  # the small cases lose their results folder
    book.save(tmp_path / "study.xlsx")
    result = gridfold_command("run", "study.xlsx", cwd=tmp_path)
    assert result.returncode == 2
    assert "study.xlsx, small_cases row 2: small case solar_a.sav has no results folder" in result.stderr
    book["control"]["C4"] = 1
    book["control"]["D4"] = None  # enabled, but the folder cell left empty
    book.save(tmp_path / "study.xlsx")
    result = gridfold_command("run", "study.xlsx", cwd=tmp_path)
    assert result.returncode == 2 and "small_cases row 2: small case solar_a.sav has no results folder" in result.stderr

    (tmp_path / "notes.txt.xlsx").write_text("not a workbook")
    result = gridfold_command("run", "notes.txt.xlsx", cwd=tmp_path)
    assert result.returncode == 2 and "notes.txt.xlsx: cannot be read" in result.stderr


def test_version_and_engine_path():
    version = gridfold_command("--version")
    assert version.returncode == 0 and version.stdout == f"gridfold {gridfold.__version__}\n"
    engine = gridfold_command("engine-path")
    assert engine.returncode == 0 and engine.stdout == gridfold.EMBEDDED_ENGINE_PATH + "\n"
    assert os.path.isdir(engine.stdout.strip())
