"""The solving strategy over a scripted engine double: the exact series of attempts, counts, saved
names, skipped and repeated links. The embedded engine runs it in test_real_cases.py."""
import pytest

from gridfold import gridfold_misc as gm

# The series after one link, written out by hand for two scripted engines.
NEVER_SOLVES = (["R0,0", "S", "R1,0", "R1,0", "S"] + ["F", "S"] + ["L", "F", "S"] * 6
                + ["R0,0", "S", "R1,1", "S", "R2,1", "S", "R4,1", "S", "R0,1", "F", "S", "F", "F", "S"])
ALWAYS_SOLVED = ["R0,0", "S", "R0,0", "S", "L", "F", "S", "R0,0", "S", "S", "S", "S", "F", "S", "F", "S"]


class EngineDouble:
    """Records every adapter call in short form; `solved` answers check_solved in order (0 = solved,
    the last answer repeats)."""

    def __init__(self, solved=(0,), machines=None):
        self.answers, self.machines, self.calls, self.saved = list(solved), machines or {}, [], []

    def run_load_flow_rsol(self, **kw):
        assert kw == {"options1": 1, "options2": 2, "options6": 1, "options7": kw["options7"],
                      "options8": 99, "options9": 0, "options10": kw["options10"]}
        self.calls.append(f"R{kw['options7']},{kw['options10']}")

    def run_load_flow_fnsl(self, **kw):
        assert kw == {"options1": 2, "options4": 1, "options5": 1, "options6": 0, "options7": 99, "options8": 0}
        self.calls.append("F")

    def run_load_flow(self):
        self.calls.append("L")

    def check_solved(self):
        self.calls.append("S")
        return self.answers.pop(0) if len(self.answers) > 1 else self.answers[0]

    def get_bus_data(self, *, ibus, string):
        self.calls.append(f"bus {ibus} {string}")
        return 0, {"PU": 1.02, "ANGLED": -3.5}[string]

    def reconnect_buses(self, bus):
        self.calls.append(f"recn {bus}")

    def ini_mac(self, *, ibus):
        self.walk = list(self.machines.get(ibus, []))

    def next_mac(self, *, ibus):
        return (0, self.walk.pop(0)) if self.walk else (1, None)

    def change_machine_data(self, **kw):
        self.calls.append(("mac", kw))

    def change_bus_data(self, **kw):
        self.calls.append(("bus", kw))

    def save_case(self, *, sfile):
        self.calls.append(f"save {sfile}")
        self.saved.append(sfile)

    def series(self):
        """The solution calls only, in order."""
        return [c for c in self.calls if isinstance(c, str) and c[0] in "RFSL"]


def test_solved_link_reconnects_buses_with_machines_off_and_the_first_bus_voltage(capsys):
    engine = EngineDouble(machines={20: ["1", "2 "]})
    result = gm.solve_the_network(engine, "out/base", [(10, 20, 30, "T1")])
    assert result == (0, None, 1)
    assert capsys.readouterr().out == "Reconnecting buses: (10, 20, 30, 'T1')\n"
    voltage = {"ibus": 20, "inode": 0, "realar2": 1.02, "realar3": -3.5}
    assert engine.calls[:7] == ["bus 10 PU", "bus 10 ANGLED", "recn 20",
                                ("mac", {"ibus": 20, "id": "1", "intgar1": 0}),
                                ("mac", {"ibus": 20, "id": "2 ", "intgar1": 0}), ("bus", voltage), "recn 30"]
    assert engine.series() == ALWAYS_SOLVED
    assert engine.saved == ["out/base_1.sav", "out/base_final_solved.sav"]


def test_a_case_that_never_solves_makes_the_whole_series_once(capsys):
    engine = EngineDouble(solved=(1,))
    result = gm.solve_the_network(engine, "b", [(1, 2, "1"), (2, 3, "1")])
    assert result == (1, "b_0.sav", 0)
    assert engine.series() == NEVER_SOLVES and engine.series().count("L") == 6
    assert engine.saved == [] and capsys.readouterr().out == "Reconnecting buses: (1, 2, '1')\n"


def test_status_read_after_each_flat_start_whether_or_not_it_was_tried():
    # Unsolved until the check after R(1,1): R(2,1), R(4,1), R(0,1) are skipped but still read.
    answers = [3, 3, 3] + [3] * 6 + [3, 0]
    engine = EngineDouble(solved=answers)
    assert gm.solve_the_network(engine, "b", [(1, 2, "1")]) == (0, None, 1)
    assert engine.series() == (["R0,0", "S", "R1,0", "R1,0", "S", "F", "S"] + ["L", "F", "S"] * 6
                               + ["R0,0", "S", "R1,1", "S", "S", "S", "F", "S", "F", "S"])


def test_solved_after_the_second_attempt_runs_the_confirmation_steps():
    engine = EngineDouble(solved=[1, 0])
    gm.solve_the_network(engine, "b", [(1, 2, "1")])
    assert engine.series()[:12] == ["R0,0", "S", "R1,0", "R1,0", "S", "F", "S", "R0,0", "S", "L", "F", "S"]


def test_second_of_three_links_fails():
    engine = EngineDouble(solved=[0] * ALWAYS_SOLVED.count("S") + [7])
    status, last, count = gm.solve_the_network(engine, "run/c", [(1, 2, "1"), (2, 3, "1"), (3, 4, "1")])
    assert (status, last, count) == (7, "run/c_1.sav", 1)
    assert engine.saved == ["run/c_1.sav"]
    assert "recn 4" not in engine.calls


def test_repeated_and_malformed_links_are_printed_but_not_worked(capsys):
    engine = EngineDouble()
    links = [(1, 2, "1"), (2, 1, " 1 "), (1, 2), (1, 2, 3, 4, "1"), (1, 2, "2")]
    assert gm.solve_the_network(engine, "x", links) == (0, None, 2)
    assert capsys.readouterr().out.splitlines() == [f"Reconnecting buses: {link}" for link in links]
    assert [c for c in engine.calls if isinstance(c, str) and c.startswith("recn")] == ["recn 2", "recn 2"]
    assert engine.saved == ["x_1.sav", "x_2.sav", "x_final_solved.sav"]


def test_empty_list_saves_the_final_case():
    engine = EngineDouble()
    assert gm.solve_the_network(engine, "x", iter([])) == (0, None, 0)
    assert engine.calls == ["save x_final_solved.sav"]


def test_a_link_that_is_not_bus_numbers_and_a_circuit_raises_after_earlier_saves():
    engine = EngineDouble()
    with pytest.raises(TypeError, match=r"link \(2, 3, 4\) does not end in a circuit identifier"):
        gm.solve_the_network(engine, "x", [(1, 2, "1"), (2, 3, 4)])
    assert engine.saved == ["x_1.sav"]
