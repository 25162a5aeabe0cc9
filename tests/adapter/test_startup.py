"""Engine start-up on the recording stand-in (sys.modules and sys.path isolated by the
`recording` fixture): version package choice, search path, progress output."""
import shutil
import sys

import pytest


@pytest.mark.parametrize(
    "version, package",
    [
        (37.0, "psse3602"),
        (36.2, "psse3602"),
        (36.1, "psse3601"),
        (36.0, "psse3505"),
        (35.5, "psse3505"),
        ("35.5", "psse3505"),
        (35.4, "psse34"),
        (35.0, "psse34"),
        (34.0, "psse34"),
        (34, "psse34"),
    ],
)
def test_version_package_is_imported_before_caspy_and_psspy(recording, version, package):
    engine = recording.engine(version)
    assert recording.log.imported == [package]
    assert engine.version == float(version) and isinstance(engine.version, float)
    assert engine.psse_path == recording.path
    assert engine.get_psspy() is sys.modules["psspy"] is engine.psspy
    assert engine.get_caspy() is sys.modules["caspy"] is engine.caspy
    assert engine.psspy.__file__.startswith(recording.path)


@pytest.mark.parametrize("version", [33.9, 0, -1.0])
def test_version_below_34_constructs_nothing(recording, version):
    with pytest.raises(ValueError, match="below 34.0"):
        recording.engine(version)
    assert "psspy" not in sys.modules and "recording_log" not in sys.modules


def test_version_that_is_not_a_number_is_named(recording):
    with pytest.raises(ValueError, match="version 'thirty-five'"):
        recording.engine("thirty-five")


def test_missing_packages_name_the_module_and_the_path(recording, tmp_path):
    with pytest.raises(ImportError, match=r"psse3505 with psse_path '.*empty'"):
        recording.engine(35.5, str(tmp_path / "empty"))


def test_every_construction_appends_psse_path(recording):
    before = list(sys.path)
    recording.engine(35.5)
    recording.engine(36.2)
    assert sys.path == before + [recording.path, recording.path]
    recording.engine(36.2).get_modules()
    assert sys.path[len(before):] == [recording.path] * 4


def test_lower_cased_psse_path_is_resolved_before_it_is_appended(recording, tmp_path):
    installed = tmp_path / "Engine" / "PSSPY_Folder"
    shutil.copytree(recording.path, installed)
    given = str(tmp_path / "engine" / "psspy_folder")
    engine = recording.engine(36.1, given)
    assert engine.psse_path == given
    assert sys.path[-1] == str(installed)
    assert engine.psspy.__file__.startswith(str(installed))


@pytest.mark.parametrize("code, result, page_length_set", [(0, 0, True), (3, None, False), (1, None, False)])
def test_create_progress_output(recording, code, result, page_length_set):
    engine = recording.engine(35.5)
    recording.log.script["progress_output"] = [code]
    returned = engine.create_progress_output(islct=2, filarg="progress.txt")
    assert returned == result and type(returned) is type(result)
    assert recording.log.calls_to("progress_output") == [((), {"islct": 2, "filarg": "progress.txt"})]
    expected_page_call = [((1, 10000000), {})] if page_length_set else []
    assert recording.log.calls_to("lines_per_page_one_device") == expected_page_call


def test_init_psse_forwards_and_returns_the_code(recording):
    engine = recording.engine(35.5)
    recording.log.script["psseinit"] = [5]
    assert engine.init_psse(buses=150000) == 5
    assert recording.log.calls == [("psseinit", (), {"buses": 150000})]
