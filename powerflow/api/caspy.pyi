"""Type stub of the embedded engine's caspy: the element tables of a saved case file."""
import os
from typing import Any, Union

# A table maps column names ("NUM", "ID", ...) to one entry per element.
_Table = dict[str, Any]

class Savecase:
    """Savecase(path): reads the case file; raises OSError when it cannot be read and
    ValueError naming the line when it is not a case."""

    path: str
    pssbus: _Table
    pssgen: _Table
    psslod: _Table
    pssfsh: _Table
    psswsh: _Table
    pssind: _Table
    casbrn: _Table
    cas_nbrn: int
    castrn: _Table
    cas_ntrn: int
    pssbrn: _Table
    psstrn: _Table
    pss3wt: _Table
    pssabx: _Table
    pssald: _Table
    pssmsl: _Table
    psssub: _Table
    pssare: _Table
    psszon: _Table
    pssown: _Table
    pss2dc: _Table
    pssvsc: _Table
    pssmdc: _Table
    pssfac: _Table
    pssgne: _Table
    def __init__(self, path: Union[str, os.PathLike[str]]) -> None: ...
