"""Inputs of the engine's fuzz test, each one fully determined by a seed.

* ``mutate_case(text, seed)``: a case file with a few random edits of the kinds a damaged or
  hand-edited file shows: a number replaced by an extreme or malformed value, a field
  dropped or repeated, a record deleted, repeated or moved, a section terminator damaged,
  stray bytes, a file cut short.
* ``api_calls(seed)``: a sequence of psspy calls on a handful of buses, with arguments drawn
  from ordinary values and from the edges (zero, signs, 1e-300, subnormals, 1e300, NaN,
  infinities, integers beyond 64 bits, strings with multi-byte characters or lone
  surrogates), solutions, walks and case files in between.

Both are plain data (text, or a JSON-able list of ``[call, kwargs]``) so that an input the
test failed on can be kept as a file and replayed by ``fuzz_worker``.
"""
import math
import random
import re
from decimal import Decimal

#: Numbers that test the edges of a value's range and of double arithmetic.
EDGE_REALS = (0.0, -0.0, 1e-300, -1e-300, 5e-324, 1e-320, 1e-9, 1e300, -1e300, 1.7976931348623157e308,
              math.nan, math.inf, -math.inf, -1.0, 1e6, 1e12)
EDGE_INTS = (0, -1, 1, 2, 3, 4, 5, 99, 9999, 10000, 999999, 1000000, 2**31 - 1, 2**31, 2**32 + 2002,
             4294970296, 2**63 - 1, 2**63, 2**64, -(2**64), 10**30)
EDGE_TEXTS = ("", " ", "1", "A", "ÄÄ", "Ä" * 12, "Ä" * 13, "x" * 41, "'", '"', ",", "/", "\n", "\x00", "\ud800",
              "€1", "BUS'1", "a b")

# ---- case files ---------------------------------------------------------------------------

_NUMBER = re.compile(r"(?<![\w.'\"])[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?(?![\w.'\"])")


def _replacement_number(rng, original):
    choice = rng.randrange(9)
    if choice == 0:
        return repr(rng.choice(EDGE_REALS))
    if choice == 1:
        return str(rng.choice(EDGE_INTS))
    if choice == 2:
        return rng.choice(("nan", "NaN", "inf", "-inf", "1e999", "-1e999", "0x10", "1,5", "", "abc", "1e", "--1"))
    if choice == 3:
        try:
            value = float(original)
        except ValueError:
            value = 1.0
        # scaled by a power of ten, through Decimal so that overflow gives inf and not an error
        return repr(float(Decimal(repr(value)).scaleb(rng.randint(-320, 320))))
    if choice == 4:
        return "-" + original.lstrip("+-")
    if choice == 5:
        return original + rng.choice(("0", "00000", "9", "e5", "e-5"))
    if choice == 6:
        return original[: max(0, len(original) - rng.randint(1, 3))]
    if choice == 7:
        return str(rng.randint(-3, 7))
    return repr(rng.uniform(-2.0, 2.0))


def _mutate_number(rng, lines):
    candidates = [i for i, line in enumerate(lines) if _NUMBER.search(line)]
    if not candidates:
        return "no number to change"
    index = rng.choice(candidates)
    matches = list(_NUMBER.finditer(lines[index]))
    match = rng.choice(matches)
    new = _replacement_number(rng, match.group())
    lines[index] = lines[index][: match.start()] + new + lines[index][match.end():]
    return f"line {index + 1}: number {match.group()!r} -> {new!r}"


def _mutate_fields(rng, lines):
    index = rng.randrange(len(lines))
    fields = lines[index].split(",")
    if rng.random() < 0.5 and len(fields) > 1:
        del fields[rng.randrange(len(fields))]
        what = "field dropped"
    else:
        position = rng.randrange(len(fields))
        fields[position:position] = [fields[position]] * rng.choice((1, 2, 50))
        what = "field repeated"
    lines[index] = ",".join(fields)
    return f"line {index + 1}: {what}"


def _mutate_records(rng, lines):
    index = rng.randrange(len(lines))
    choice = rng.randrange(4)
    if choice == 0:
        del lines[index]
        return f"line {index + 1} deleted"
    if choice == 1:
        lines.insert(index, lines[index])
        return f"line {index + 1} repeated"
    if choice == 2:
        other = rng.randrange(len(lines))
        lines[index], lines[other] = lines[other], lines[index]
        return f"lines {index + 1} and {other + 1} swapped"
    terminators = [i for i, line in enumerate(lines) if line.startswith("0 /") or line.strip() == "0"]
    if not terminators:
        return "no terminator"
    index = rng.choice(terminators)
    new = rng.choice(("NaN", "1", "", "Q", "-0", "0.0", "00"))
    lines[index] = new + lines[index][1:]
    return f"line {index + 1}: terminator starts {new!r}"


def _mutate_text(rng, lines):
    index = rng.randrange(len(lines))
    line = lines[index]
    position = rng.randrange(len(line) + 1)
    stray = rng.choice(("'", '"', "/", "\t", "\x00", "\xff", "é", "\u2028", " ", "@!", "\r"))
    lines[index] = line[:position] + stray + line[position:]
    return f"line {index + 1}: {stray!r} inserted at column {position + 1}"


def mutate_case(text, seed):
    """(mutated text, list of what was changed) for one seed; 1 to 4 edits."""
    rng = random.Random(seed)
    lines = text.split("\n")
    changes = []
    for _ in range(rng.randint(1, 4)):
        kind = rng.random()
        if kind < 0.55:
            changes.append(_mutate_number(rng, lines))
        elif kind < 0.7:
            changes.append(_mutate_fields(rng, lines))
        elif kind < 0.85:
            changes.append(_mutate_records(rng, lines))
        elif kind < 0.97:
            changes.append(_mutate_text(rng, lines))
        else:
            cut = rng.randrange(len(lines))
            lines = lines[:cut]
            changes.append(f"file cut after line {cut}")
        if not lines:
            lines = [""]
    return "\n".join(lines), changes


# ---- API calls ----------------------------------------------------------------------------

_BUSES = (1, 2, 3, 4, 5)


def _real(rng, usual):
    if rng.random() < 0.75:
        return usual * rng.choice((1.0, 1.0, 0.5, 2.0, -1.0)) if usual else rng.uniform(-1.0, 1.0)
    if rng.random() < 0.1:
        return rng.choice(EDGE_INTS)  # an integer where a real goes, possibly beyond a double
    return rng.choice(EDGE_REALS)


def _int(rng, usual):
    return usual if rng.random() < 0.8 else rng.choice(EDGE_INTS)


def _bus(rng):
    return rng.choice(_BUSES) if rng.random() < 0.9 else rng.choice(EDGE_INTS)


def _text(rng, usual):
    return usual if rng.random() < 0.85 else rng.choice(EDGE_TEXTS)


def _some(rng, values):
    """Keyword arguments: each of `values` (name -> value maker) passed with probability 2/3."""
    return {name: make() for name, make in values.items() if rng.random() < 0.67}


def _call(rng):
    r = lambda usual: lambda: _real(rng, usual)  # noqa: E731
    i = lambda usual: lambda: _int(rng, usual)  # noqa: E731
    t = lambda usual: lambda: _text(rng, usual)  # noqa: E731
    bus = lambda: _bus(rng)  # noqa: E731
    kind = rng.choice((
        "bus", "bus", "bus", "line", "line", "transformer", "three_winding", "plant", "machine", "machine",
        "load", "shunt", "switched_shunt", "induction", "dscn", "recn", "solve", "solve", "walk", "busdat",
        "save_and_open", "params"))
    if kind == "bus":
        return "bus_data_4", {"ibus": bus(), "name": _text(rng, "B"),
                              **_some(rng, {"intgar1": i(rng.choice((1, 2, 3))), "intgar2": i(1),
                                            "realar1": r(rng.choice((138.0, 34.5, 0.69))), "realar2": r(1.0),
                                            "realar3": r(5.0)})}
    if kind == "line":
        return "branch_data_3", {"ibus": bus(), "jbus": bus(), "ckt": _text(rng, "1"),
                                 **_some(rng, {"intgar1": i(1), "realar1": r(0.01), "realar2": r(0.1),
                                               "realar3": r(0.02), "realar4": r(0.0), "namear": t("L")})}
    if kind == "transformer":
        return "two_winding_data_6", {"ibus": bus(), "jbus": bus(), "ckt": _text(rng, "T"),
                                      **_some(rng, {"intgar1": i(1), "intgar14": i(rng.choice((1, 2, 3))),
                                                    "intgar15": i(rng.choice((1, 2, 3))), "intgar16": i(1),
                                                    "realari1": r(0.002), "realari2": r(0.08), "realari3": r(100.0),
                                                    "realari4": r(1.0), "realari5": r(138.0), "realari6": r(0.0),
                                                    "realari7": r(1.0), "realari13": r(0.0), "realari14": r(0.0)})}
    if kind == "three_winding":
        return rng.choice((
            ("three_wnd_imped_data_4", {"ibus": bus(), "jbus": bus(), "kbus": bus(), "ckt": _text(rng, "1"),
                                        **_some(rng, {"intgar5": i(1), "intgar6": i(1), "intgar8": i(1),
                                                      "realari1": r(0.001), "realari2": r(0.1), "realari3": r(0.001),
                                                      "realari4": r(0.1), "realari5": r(0.001), "realari6": r(0.1),
                                                      "realari7": r(100.0), "realari16": r(1.0)})}),
            ("three_wnd_winding_data_5", {"ibus": bus(), "jbus": bus(), "kbus": bus(), "ckt": _text(rng, "1"),
                                          "warg": _int(rng, rng.choice((1, 2, 3))),
                                          **_some(rng, {"realari1": r(1.0), "realari2": r(0.0), "realari3": r(0.0)})}),
        ))
    if kind == "plant":
        return "plant_data_4", {"ibus": bus(), **_some(rng, {"intgar1": i(0), "realar1": r(1.0), "realar2": r(100.0)})}
    if kind == "machine":
        return "machine_data_2", {"ibus": bus(), "id": _text(rng, "1"),
                                  **_some(rng, {"intgar1": i(1), "realar1": r(50.0), "realar2": r(0.0),
                                                "realar3": r(100.0), "realar4": r(-100.0), "realar7": r(100.0),
                                                "realar9": r(0.2), "realar12": r(1.0)})}
    if kind == "load":
        return "load_data_5", {"ibus": bus(), "id": _text(rng, "1"),
                               **_some(rng, {"intgar1": i(1), "realar1": r(30.0), "realar2": r(10.0),
                                             "realar3": r(0.0), "realar5": r(0.0)})}
    if kind == "shunt":
        return "shunt_data", {"ibus": bus(), "id": _text(rng, "1"),
                              **_some(rng, {"intgar1": i(1), "realar1": r(0.0), "realar2": r(20.0)})}
    if kind == "switched_shunt":
        return "switched_shunt_data_4", {"ibus": bus(), "id": _text(rng, "1"),
                                         **_some(rng, {"intgar1": i(2), "intgar9": i(1), "realar1": r(10.0),
                                                       "realar9": r(1.05), "realar10": r(0.95), "realar11": r(0.0)})}
    if kind == "induction":
        return "induction_machine_data", {"ibus": bus(), "id": _text(rng, "1"),
                                          **_some(rng, {"intgar2": i(2), "realar1": r(10.0), "realar3": r(5.0),
                                                        "realar11": r(2.5), "realar2": r(0.0)})}
    if kind == "dscn":
        return "dscn", {"ibus": bus()}
    if kind == "recn":
        return "recn", {"ibus": bus()}
    if kind == "solve":
        if rng.random() < 0.5:
            return "fnsl", {"options6": _int(rng, rng.choice((0, 1))), "options8": _int(rng, 1)}
        return "rsol", {"options7": _int(rng, rng.choice((0, 2, 4))), "options10": _int(rng, rng.choice((0, 1)))}
    if kind == "walk":
        return "inibrn_2", {"ibus": bus(), "single": _int(rng, 2)}
    if kind == "busdat":
        return "busdat", {"ibus": bus(), "string": _text(rng, rng.choice(("PU", "ANGLED", "BASE")))}
    if kind == "params":
        return "solution_parameters_4", _some(rng, {"intgar1": i(20), "realar1": r(0.1), "realar3": r(5.0)})
    return "save_and_open", {}


def api_calls(seed, count=120):
    """A list of [call, kwargs] for one seed; starts from buses that make a connected case."""
    rng = random.Random(seed)
    calls = [["bus_data_4", {"ibus": b, "intgar1": 3 if b == 1 else 1, "realar1": 138.0}] for b in _BUSES]
    calls += [["branch_data_3", {"ibus": b, "jbus": b + 1, "realar2": 0.05}] for b in _BUSES[:-1]]
    calls += [["plant_data_4", {"ibus": 1}], ["machine_data_2", {"ibus": 1, "realar1": 50.0}]]
    for _ in range(count):
        name, kwargs = _call(rng)
        calls.append([name, kwargs])
    calls.append(["fnsl", {}])
    calls.append(["save_and_open", {}])
    return calls
