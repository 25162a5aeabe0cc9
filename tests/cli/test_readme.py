"""Every command of the README runs as written, in README order, in one fresh folder.

Commands are the "$ " lines of the README's console blocks, run through the installed
command line in a subprocess. `make demo` and `make test` (the two set-up commands) are
not console lines: `make demo` is `python -m gridfold demo`, run here as the README's own
`gridfold demo` line; `make test` is this test suite.
"""
import os
import re
import shlex
import subprocess
import sys

README = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "README.md")

#: Exit status each README command must give; a command missing here fails the test, so a
#: new command in the README cannot go untested.
EXPECTED_STATUS = {
    "gridfold demo gridfold-demo": 0,  # the demo ran; its pumped-storage plant is meant not to solve
    "gridfold run gridfold-demo/gridfold_demo.xlsx": 1,  # ... which `run` reports
    "gridfold run --jobs 2 gridfold-demo/gridfold_demo.xlsx": 1,  # ... and so does a run on two workers
    "gridfold new-workbook my_study.xlsx": 0,
    "gridfold engine-path": 0,
    "gridfold --version": 0,
}
#: README commands run after the demo; all must succeed (exit status 0).
CONVERT_PREFIX = "gridfold convert "


def readme_commands():
    with open(README, encoding="utf-8") as stream:
        text = stream.read()
    blocks = re.findall(r"```console\n(.*?)```", text, flags=re.S)
    return [line[2:].strip() for block in blocks for line in block.splitlines() if line.startswith("$ ")]


def test_readme_commands_are_all_known():
    commands = readme_commands()
    assert commands, "the README shows no commands"
    unknown = [c for c in commands if c not in EXPECTED_STATUS and not c.startswith(CONVERT_PREFIX)]
    assert unknown == []


def test_every_readme_command_runs(tmp_path):
    demo_output = None
    for command in readme_commands():
        words = shlex.split(command)
        assert words[0] == "gridfold"
        result = subprocess.run([sys.executable, "-m", "gridfold", *words[1:]], cwd=tmp_path, capture_output=True,
                                text=True)
        expected = EXPECTED_STATUS.get(command, 0)
        assert result.returncode == expected, f"{command}\n{result.stdout[-3000:]}\n{result.stderr}"
        if command.startswith(CONVERT_PREFIX):
            assert os.path.isfile(tmp_path / words[-1]), command
        if command.startswith("gridfold demo "):
            demo_output = result.stdout
    assert (tmp_path / "my_study.xlsx").is_file()
    assert demo_output is not None, "the README does not run the demo"
    _check_excerpts(demo_output, tmp_path / "gridfold-demo")


def _check_excerpts(demo_output, study):
    """The README's excerpts of the demo are what the demo prints and writes, line for line."""
    with open(README, encoding="utf-8") as stream:
        readme = {line.strip() for line in stream}
    table = demo_output[demo_output.index("main case "):]
    table = table[:table.index("\n\n")]
    pair = study / "results" / "solar_d" / "ieee118_peak"
    excerpts = [table,
                (pair / "ieee118_peak_renumber_map.txt").read_text(),
                (pair / "ieee118_peak_status_solar_d.txt").read_text(),
                (study / "results" / "pumped_e" / "ieee118_peak" / "ieee118_peak_unsolved_lf.txt").read_text()]
    for excerpt in excerpts:
        missing = [line for line in excerpt.splitlines() if line.strip() and line.strip() not in readme]
        assert missing == []
