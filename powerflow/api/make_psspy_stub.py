"""Writes psspy.pyi, the type stub of the embedded engine's psspy, beside this file.

Every operation of psspy declares its parameters once (a Signature); the module lists them
in psspy._signatures, and the stub is made from that list: the positional slots in order
(a numbered run such as intgar1..intgar4 is one slot taking a sequence, "intgar"), then the
numbered parameters as keywords. Run it after changing an operation:

    python powerflow/api/make_psspy_stub.py
"""
import os
import sys

HEADER = '''"""Type stub of the embedded engine's psspy (made by make_psspy_stub.py; do not edit)."""
from collections.abc import Sequence
from typing import Any

_i: int
_f: float
_s: str
'''


def _slot_parameters(slots):
    positional, keywords = [], []
    optional_seen = False
    for name, kind, count, required in slots:
        if count:
            positional.append(f"{name}: Sequence[{kind}] | None = ...")
            keywords.extend(f"{name}{i}: {kind} | None = ..." for i in range(1, count + 1))
            optional_seen = True
        elif required and not optional_seen:
            positional.append(f"{name}: {kind}")
        else:
            positional.append(f"{name}: {kind} | None = ...")
            optional_seen = True
    return positional + (["*"] + keywords if keywords else [])


def stub_text(psspy):
    """The stub of `psspy` as text."""
    lines = [HEADER]
    for name in sorted(psspy._signatures):
        parameters = ", ".join(_slot_parameters(psspy._signatures[name]))
        lines.append(f"def {name}({parameters}) -> Any: ...")
    return "\n".join(lines) + "\n"


def main():
    import gridfold

    psspy, _ = gridfold.embedded_engine()
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "psspy.pyi")
    with open(target, "w", encoding="utf-8", newline="\n") as stream:
        stream.write(stub_text(psspy))
    print(f"{target}: {len(psspy._signatures)} operations")
    return 0


if __name__ == "__main__":
    sys.exit(main())
