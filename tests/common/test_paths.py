"""Input paths arrive lower-cased from the workbook; the modules resolve them ignoring case.

Checked through `copy_and_rename`, which opens its source through the shared resolver.
"""
import os

import pytest

from gridfold import gridfold_misc


def _case(folder, name="Wind.sav", text="case\n"):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    with open(path, "w") as stream:
        stream.write(text)
    return path


def test_a_lower_cased_path_finds_the_file_written_with_capitals(tmp_path):
    real = _case(tmp_path / "Cases" / "Small")
    copy = gridfold_misc.copy_and_rename(str(tmp_path / "cases" / "small" / "wind.sav"))
    assert os.path.dirname(copy) == os.path.dirname(real)
    with open(copy) as stream:
        assert stream.read() == "case\n"


def test_an_exact_folder_that_leads_nowhere_gives_way_to_its_capitalised_sibling(tmp_path):
    """A results folder created lower-case beside the real input folder must not hide it."""
    real = _case(tmp_path / "Cases" / "Small")
    os.makedirs(tmp_path / "cases" / "main")  # what a run creates for its results
    copy = gridfold_misc.copy_and_rename(str(tmp_path / "cases" / "small" / "wind.sav"))
    assert os.path.dirname(copy) == os.path.dirname(real)


def test_the_exact_spelling_wins_when_both_exist(tmp_path):
    _case(tmp_path / "Cases", text="capitals\n")
    exact = _case(tmp_path / "cases", name="wind.sav", text="exact\n")
    copy = gridfold_misc.copy_and_rename(exact)
    with open(copy) as stream:
        assert stream.read() == "exact\n"


def test_a_path_that_matches_nothing_is_reported_as_given(tmp_path):
    _case(tmp_path / "Cases" / "Small")
    missing = str(tmp_path / "cases" / "small" / "solar.sav")
    with pytest.raises(FileNotFoundError, match="solar.sav"):
        gridfold_misc.copy_and_rename(missing)
