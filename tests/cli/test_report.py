"""The study report, the run log, --keep and the Python API, on the demo study.

The demo runs once per module in a subprocess (`gridfold demo`, the engine is process-wide);
the tests read the record, report, workbook and log it left. A second run of the same
workbook with --keep final and --no-dispatch-check checks what a rerun starts afresh.
The browser test loads the page in headless Chromium (skipped when it is not installed);
set GRIDFOLD_REPORT_SCREENSHOT to a path to keep its screenshot.
"""
import json
import os
import re
import shutil
import subprocess
import sys

import openpyxl
import pytest

from gridfold import report

MAINS = ["ieee118_peak", "ieee118_light"]
SMALLS = ["solar_a", "wind_b", "storage_c", "pumped_e", "solar_d"]
TOO_LARGE = "pumped_e"
TIME = r"\d\d:\d\d:\d\d\.\d{3}  "


def gridfold_command(*args):
    return subprocess.run([sys.executable, "-m", "gridfold", *args], capture_output=True, text=True)


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    folder = tmp_path_factory.mktemp("report") / "demo"
    result = gridfold_command("demo", str(folder))
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr
    with open(folder / "results" / "run_record.json", encoding="utf-8") as stream:
        record = json.load(stream)
    return folder, result, record


def _pairs(record, small=None):
    return [p for p in record["pairs"] if small is None or p["small_case"] == small]


def test_every_fully_solved_plant_has_dispatch_figures_and_pumped_e_shows_where_it_stopped(demo):
    folder, _, record = demo
    assert [(p["main_case"], p["small_case"]) for p in record["pairs"]] == [(m, s) for m in MAINS for s in SMALLS]
    for pair in record["pairs"]:
        figures = pair["dispatch_check"]
        if pair["small_case"] == TOO_LARGE:
            assert figures is None
            states = [c["solved"] for c in pair["connections"]]
            assert states[:2] == [True, False], states
            continue
        assert pair["outcome"] == "fully solved"
        assert figures["solved"] is True, (pair["small_case"], figures.get("error"))
        for key in ("connecting_bus_voltage_before_pu", "connecting_bus_voltage_after_pu",
                    "plant_mw_into_connecting_bus", "plant_mvar_into_connecting_bus", "max_loading_after_pct"):
            assert isinstance(figures[key], float), (pair["small_case"], key)
        # The demo's main cases carry no ratings, the plants' own branches do; before the plant
        # comes back its branches are out of service and count for nothing.
        assert 0 < figures["branches_without_rate1"] < len(figures["branches_near"])
        plant_buses = {str(b) for b in pair["connection_voltages"]["buses"][1:]}
        before = figures["max_loading_before_branch"]
        assert before is None or not plant_buses & set(before.split("-")[:-1]), before
        # Machines at full output, less losses and auxiliary load (wind_b adds an induction generator).
        assert 0.5 * figures["scheduled_mw"] < figures["plant_mw_into_connecting_bus"] < 1.5 * figures["scheduled_mw"]
        assert os.path.isfile(figures["dispatched_case"])

    page = (folder / "results" / "report.html").read_text(encoding="utf-8")
    section = page[page.index(f'id="{MAINS[0]}--{TOO_LARGE}"'):]
    section = section[:section.index("</section>")]
    assert "failed: the run stopped here" in section and "solved up to connection 1" in section


def test_the_page_is_self_contained_and_its_links_reach_the_files(demo):
    folder, _, record = demo
    results = folder / "results"
    page = (results / "report.html").read_text(encoding="utf-8")
    assert "<script" not in page and not re.search(r'(src|href)="(https?:)?//', page)
    # Two plots per fully solved plant, one (the connections) for the plant that stopped.
    assert page.count("<svg") == 2 * 8 + 2
    links = re.findall(r'href="([^"#][^"]*)"', page)
    assert links and all(os.path.exists(results / link) for link in links)
    for pair in record["pairs"]:
        assert f'id="{pair["main_case"]}--{pair["small_case"]}"' in page
    assert page.count('class="outcome good"') >= 16 and 'class="outcome partial"' in page


def test_summary_workbook_has_the_summary_and_one_sheet_per_main_case(demo):
    folder, _, record = demo
    book = openpyxl.load_workbook(folder / "results" / "summary.xlsx")
    assert book.sheetnames == ["summary"] + MAINS
    rows = list(book["summary"].iter_rows(values_only=True))
    assert rows[0] == report.SUMMARY_COLUMNS
    assert [(r[0], r[1], r[3]) for r in rows[1:]] == [
        (p["main_case"], p["small_case"], p["outcome"]) for p in record["pairs"]]
    for main in MAINS:
        assert [r[1] for r in list(book[main].iter_rows(values_only=True))[1:]] == SMALLS


def test_run_log_holds_the_console_with_times_and_plain_lines_off_a_terminal(demo):
    folder, result, _ = demo
    log = (folder / "results" / "run.log").read_text(encoding="utf-8").splitlines()
    assert all(re.match(TIME, line) for line in log)
    logged = [line[len("00:00:00.000  "):] for line in log]
    processing = [line for line in result.stdout.splitlines() if line.startswith("Processing ")]
    assert processing == [line for line in logged if line.startswith("Processing ")]
    assert len(processing) == len(MAINS) * len(SMALLS)
    assert "\r" not in result.stdout and "plants [" not in result.stdout  # no progress bar off a terminal


def test_outcomes_colour_and_sheet_names_from_a_record_alone(tmp_path):
    record = {"workbook": "w.xlsx", "main_cases": [{"name": "a/b:c" * 10}, {"name": "A/B:C" * 10}], "pairs": [
        {"main_case": "a/b:c" * 10, "small_case": "x", "outcome": "solved, 2 elements refused",
         "elements": {"accepted": {"buses": 2}, "refused": [{"kind": "loads", "ids": [5, "1"], "code": 3}] * 2}},
        {"main_case": "A/B:C" * 10, "small_case": "y", "outcome": "islanded"}]}
    html_path, xlsx_path = report.write_report(record, str(tmp_path))
    with open(html_path, encoding="utf-8") as stream:
        page = stream.read()
    assert 'class="outcome warn">solved, 2 elements refused' in page and 'class="outcome bad">islanded' in page
    assert "Refused elements" in page and "<svg" not in page  # no figures without a run
    book = openpyxl.load_workbook(xlsx_path)
    assert len(book.sheetnames) == 3 and all(len(n) <= 31 and not set(n) & set("[]:*?/\\") for n in book.sheetnames)
    assert book.sheetnames[1].lower() != book.sheetnames[2].lower()


def _chromium():
    return shutil.which("chromium") or shutil.which("chromium-browser")


@pytest.mark.skipif(_chromium() is None, reason="headless Chromium is not installed")
def test_the_page_loads_in_a_browser_without_console_errors(demo, tmp_path):
    folder, _, _ = demo
    page = (folder / "results" / "report.html").as_uri()
    screenshot = tmp_path / "report.png"
    common = [_chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              "--enable-logging=stderr", "--v=0", "--hide-scrollbars", f"--user-data-dir={tmp_path / 'profile'}"]
    shot = subprocess.run(common + ["--window-size=1280,2000", f"--screenshot={screenshot}", page],
                          capture_output=True, text=True, timeout=180)
    assert screenshot.is_file() and screenshot.stat().st_size > 20000, shot.stderr[-2000:]
    dom = subprocess.run(common + ["--dump-dom", page], capture_output=True, text=True, timeout=180)
    plots = (folder / "results" / "report.html").read_text(encoding="utf-8").count("<svg")
    assert "gridfold study: gridfold_demo.xlsx" in dom.stdout and dom.stdout.count("<svg") == plots > 0
    console = [line for line in shot.stderr.splitlines() + dom.stderr.splitlines() if "CONSOLE" in line]
    assert console == []
    keep = os.environ.get("GRIDFOLD_REPORT_SCREENSHOT")
    if keep:
        shutil.copyfile(screenshot, keep)


# Last: it runs the demo workbook again over the outputs the tests above read.
def test_a_rerun_starts_progress_afresh_and_keeps_only_final_cases_of_solved_plants(demo):
    folder, _, _ = demo
    results = folder / "results"
    progress = results / "solar_a" / MAINS[0] / "progress.txt"
    progress.write_text("LEFT FROM AN EARLIER RUN\n")
    rerun = gridfold_command("run", str(folder / "gridfold_demo.xlsx"), "--keep", "final", "--no-dispatch-check")
    assert rerun.returncode == 1, rerun.stderr  # pumped_e does not solve
    assert "LEFT FROM AN EARLIER RUN" not in progress.read_text()
    with open(results / "run_record.json", encoding="utf-8") as stream:
        record = json.load(stream)
    for pair in record["pairs"]:
        assert pair["dispatch_check"] is None
        names = set(os.listdir(results / pair["small_case"] / pair["main_case"]))
        main, small = pair["main_case"], pair["small_case"]
        if small == TOO_LARGE:  # kept whole for diagnosis, with the case its log names
            assert {f"{main}_solved_{small}_1.sav", f"{main}_oos_{small}.sav"} <= names
            continue
        assert f"{main}_solved_{small}_final_solved.sav" in names
        assert not [n for n in names if re.fullmatch(rf"{main}_(added|oos)_.*", n)
                    or re.fullmatch(rf"{main}_solved_{small}_\d+\.sav", n)], names
        assert all(os.path.isfile(path) for path in pair["saved_cases"])
